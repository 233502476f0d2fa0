#ifndef DOVODA_KPEDGEDETECTOR_H
#define DOVODA_KPEDGEDETECTOR_H

#include "kpimage.h"

// Canny edge detector with fixed parameters (sigma 1.5, high threshold at
// the 0.75 point of the magnitude histogram, low threshold 0.35 of it).
class KpEdgeDetector {
public:
    // A new 8-bit image of the input's size: 0 on edges, 255 elsewhere.
    KpImage detectEdges(const KpImage& input) const;
};

#endif
