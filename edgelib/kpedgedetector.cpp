#include "kpedgedetector.h"

KpImage KpEdgeDetector::detectEdges(const KpImage& input) const
{
    return KpImage(input.kpGetWidth(), input.kpGetHeight(), 8);
}
