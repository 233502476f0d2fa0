#ifndef DOVODA_PHOTOMOSAIC_H
#define DOVODA_PHOTOMOSAIC_H

#include "kpimage.h"

namespace benchsupport {

// A mosaic of real photographs: the first 16 JPEG photographs of the
// corpus (by name), each scaled up with ImageMagick's convert to fill
// one of 4 x 4 tiles of an image of the given size and depth (8 gray, 24
// colour). An empty image when the corpus or the converter is absent.
KpImage makePhotoMosaic(int width, int height, int depth);

} // namespace benchsupport

#endif
