#ifndef DOVODA_EDGESTRENGTH_H
#define DOVODA_EDGESTRENGTH_H

#include "kpimage.h"
#include "point.h"

// How strongly a polyline stands out in its gray image: its length in
// pixels times the mean gradient along it. Long lines of clear contrast
// score high; short, faint lines on texture score low.
class EdgeStrength {
public:
    // gray: the 8-bit image the lines were found in; it must outlive this.
    explicit EdgeStrength(const KpImage& gray);

    // The gradient is the 3x3 Sobel operator over 8 (gray levels per pixel)
    // at each pixel of the polyline's 8-connected segments, the image's
    // border repeated outwards; the length is the polyline's path length.
    double of(const PointList& polyline) const;

private:
    double gradientAt(int32_t row, int32_t col) const;
    int pixel(int32_t row, int32_t col) const;

    const KpImage& gray;
};

#endif
