#ifndef DOVODA_KPMORPHOLOGY_H
#define DOVODA_KPMORPHOLOGY_H

#include "kpimage.h"

// Erosion and dilation of binary images with the 4-neighbourhood, and
// mask filters (square convolutions) of colour images. Black (bit 0) is
// the foreground of the binary operations; a neighbour outside the image
// counts as neither black nor white. Every operation leaves the source
// alone and returns a new image.
class KpMorphology {
public:
    KpMorphology() = delete;
    virtual ~KpMorphology();

    // Each step turns white every black pixel with a white 4-neighbour;
    // iterations <= 0 gives the source's bits. The source must be binary
    // (code 7); the result is binary with the source's resolution fields.
    static KpImage kpErode(const KpImage& image, int iterations);
    // Each step turns black every white pixel with a black 4-neighbour.
    static KpImage kpDilate(const KpImage& image, int iterations);
    // Not implemented: they raise code 3.
    static KpImage kpOpen(const KpImage& image, int iterations);
    static KpImage kpClose(const KpImage& image, int iterations);

    // The 5 x 5 sharpening and smoothing masks applied iterations times to
    // a 24-bit image; iterations <= 0 gives a copy of any image.
    static KpImage kpSharpen(const KpImage& image, int iterations);
    static KpImage kpBlur(const KpImage& image, int iterations);
    // Convolves each channel of a 24-bit image with a mask of size rows
    // (mask[0] applies to the top row of the window, mask[r][0] to its
    // left column), divides by the sum of the weights (at least 1),
    // truncates and clamps to 0..255. size must be odd and at least 1.
    // Pixels closer than size / 2 to an edge become black.
    static KpImage kpApplyMask(const KpImage& image, double** mask, int size);
};

#endif
