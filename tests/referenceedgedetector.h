#ifndef DOVODA_REFERENCEEDGEDETECTOR_H
#define DOVODA_REFERENCEEDGEDETECTOR_H

#include "kpimage.h"

#include <cstdint>
#include <vector>

// A slow, literal version of the edge detector, step by step over whole
// images, kept to check the fast one bit for bit.
namespace referenceedges {

std::vector<float> gaussianKernel(float sigma);
// histogram holds M + 1 counts, M the largest magnitude.
int highThreshold(const std::vector<uint32_t>& histogram, float highFraction);
int16_t lowThreshold(int high, float lowRatio);

// The magnitude image of an 8-bit image (row-major, width x height).
std::vector<int16_t> magnitudes(const KpImage& input);
// The edge image of an 8-bit image with at least two rows and columns.
KpImage detectEdges(const KpImage& input, float sigma = 1.5f, float highFraction = 0.75f, float lowRatio = 0.35f);

} // namespace referenceedges

#endif
