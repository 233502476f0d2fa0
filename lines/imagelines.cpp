#include "imagelines.h"

#include "kpedgelinker.h"
#include "kppointlists.h"

ImageLines ImageLines::find(const KpImage& image, const LinesSettings& settings)
{
    ImageLines lines;
    lines.width = image.kpGetWidth();
    lines.height = image.kpGetHeight();
    KpEdgeLinker linker(KpEdgeDetector().detectEdges(image, settings.detector), KpEdgeLinker::Diagnostics::Skip);
    lines.polylines = linker.extractLines(settings.tolerance);
    kppointlists::removeShorterThan(lines.polylines, settings.minLength);
    return lines;
}
