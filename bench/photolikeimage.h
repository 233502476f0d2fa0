#ifndef DOVODA_PHOTOLIKEIMAGE_H
#define DOVODA_PHOTOLIKEIMAGE_H

#include "kpimage.h"

#include <cstdint>

namespace benchsupport {

// A photo-like image of the given depth (8 or 24): smooth gradients,
// shaded discs and bars with sharp edges, and pixel noise, all drawn
// from a fixed seed so that every run measures the same pixels.
KpImage makePhotoLikeImage(int width, int height, int depth, uint32_t seed = 12345);

// The 12-megapixel photo-like image of depth 8 or 24 that the benchmarks
// share, drawn on first use.
constexpr int PHOTO_WIDTH = 4096;
constexpr int PHOTO_HEIGHT = 3072;
const KpImage& sharedPhoto(int depth);

} // namespace benchsupport

#endif
