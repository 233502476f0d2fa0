#ifndef DOVODA_OVERLAY_H
#define DOVODA_OVERLAY_H

#include "kpimage.h"
#include "point.h"

#include <vector>

// A colour copy of an image with polylines drawn over it.
class Overlay {
public:
    // The colour of the lines: pure red, seen on photographs and drawings.
    static const uint8_t LINE_RED = 255;
    static const uint8_t LINE_GREEN = 0;
    static const uint8_t LINE_BLUE = 0;

    // A 24-bit copy of image (gray and binary images made colour) with
    // every polyline drawn as 8-connected one-pixel segments.
    static KpImage draw(const KpImage& image, const std::vector<PointList>& polylines);
};

#endif
