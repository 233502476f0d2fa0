#ifndef DOVODA_IMAGELINES_H
#define DOVODA_IMAGELINES_H

#include "kpimage.h"
#include "linessettings.h"
#include "point.h"

#include <vector>

// The polylines found in one image, in its pixel coordinates.
struct ImageLines {
    int width = 0;
    int height = 0;
    std::vector<PointList> polylines;

    // Detects the edges of image, fits polylines within the tolerance and
    // drops those shorter than the minimum length. Writes no file, so
    // several images can be worked on side by side.
    static ImageLines find(const KpImage& image, const LinesSettings& settings);
};

#endif
