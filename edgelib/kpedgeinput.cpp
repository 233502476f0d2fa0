#include "kpedgeinput.h"

#include "kpbitsperpixelconverter.h"

KpImage kpGrayForEdgeDetection(const KpImage& image)
{
    switch (image.kpGetDepth()) {
    case 24:
        return KpBitsPerPixelConverter::kpDownscaleColor2Gray_average(image);
    case 1:
        return KpBitsPerPixelConverter::kpBinary2Gray(image);
    default:
        return image;
    }
}
