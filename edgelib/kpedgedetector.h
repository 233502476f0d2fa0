#ifndef DOVODA_KPEDGEDETECTOR_H
#define DOVODA_KPEDGEDETECTOR_H

#include "kpimage.h"

#include <cstdint>
#include <vector>

// Canny edge detector with fixed parameters: Gaussian smoothing with
// sigma 1.5, a high threshold at the 0.75 point of the histogram of the
// candidate magnitudes and a low threshold of 0.35 times the high one.
// Every step is rounded as single-precision C arithmetic written out
// literally would round it, so results are the same on every processor.
class KpEdgeDetector {
public:
    // A new 8-bit image of the input's size: 0 on edges, 255 elsewhere.
    // Needs an 8-bit input with pixel data.
    KpImage detectEdges(const KpImage& input) const;

    // The normalised Gaussian taps of the smoothing window for sigma
    // (9 taps for sigma 1.5).
    static std::vector<float> gaussianKernel(float sigma);
    // The high threshold from the histogram of candidate magnitudes
    // (histogram[v] counts candidates of magnitude v, v = 0 .. M with M
    // the largest magnitude of the image; magnitudes 0 and M are left out).
    static int highThreshold(const std::vector<uint32_t>& histogram, float highFraction);
    // truncate(high * lowRatio + 0.5), the product formed in double.
    static int lowThreshold(int high, float lowRatio);
};

#endif
