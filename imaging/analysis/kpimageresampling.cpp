// The resampling members of KpImage that take images of any depth:
// scaling (to a size or by a factor) and rotation. A 1-bit image is expanded to gray, resampled and
// thresholded back, so these members live beside the bit-depth
// conversion.

#include "kpimage.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "kplogger.h"
#include "kppixelgeometry.h"

#include <cmath>

namespace {

// Binary threshold of a resampled 1-bit image: every byte at or above 128
// becomes 255 and every other 0, and the result is thresholded at 127,
// which keeps exactly the bytes at or above 128 white.
constexpr int BINARY_RESIZE_THRESHOLD = 128;
constexpr int BINARY_THRESHOLD = 127;

} // namespace

KpImage KpImage::ResizeImage(int32_t width, int32_t height) const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "Image Data is NULL!");
    }
    if (width <= 0 || height <= 0) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "not supported Size <= 0");
    }
    switch (head.depth) {
    case 8:
        return kpResizeByteImage(width, height);
    case 24:
        return KpPixelGeometry::kpResize(*this, width, height);
    case 1: {
        const KpImage gray = KpBitsPerPixelConverter::kpBinary2Gray(*this).kpResizeByteImage(width, height);
        KpImage result = KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(gray, BINARY_RESIZE_THRESHOLD);
        result.kpSetXResolution(head.xResolution);
        result.kpSetYResolution(head.yResolution);
        return result;
    }
    default:
        KP_THROW(KP_UNSUPPORTED_DEPTH, "KpImage::ResizeImage() only supports 1, 8, and 24 bits");
    }
}

KpImage KpImage::kpResizeImage(double factor) const
{
    if (factor <= 0) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpResizeImage()> not supported factor <= 0");
    }
    if (!std::isfinite(factor)) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpImage::kpResizeImage()> The factor must be a finite number");
    }
    const double width = factor * head.width;
    const double height = factor * head.height;
    if (!KpPixelGeometry::kpFitsInt32(width) || !KpPixelGeometry::kpFitsInt32(height)) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpImage::kpResizeImage()> The resized image would not fit 32-bit sizes");
    }
    return ResizeImage(static_cast<int32_t>(width), static_cast<int32_t>(height));
}

KpImage KpImage::kpRotateImage(double degrees) const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpRotateImage()> Image Data is NULL!");
    }
    switch (head.depth) {
    case 8:
        return kpRotateByteImage(degrees);
    case 24:
        return KpPixelGeometry::kpRotate(
            *this, KpPixelGeometry::kpRadians(degrees, "<KpImage::kpRotateImage()> The angle must be a finite number of degrees"));
    case 1: {
        const KpImage rotated = KpBitsPerPixelConverter::kpBinary2Gray(*this).kpRotateByteImage(degrees);
        KpLogger* logger = KpLogger::kpGetInstance();
        kpLogPrintf(logger, 2, "Warning....the input is a binary image\n");
        kpLogPrintf(logger, 2, "Processing....returning binary output image\n\n");
        return KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(rotated, BINARY_THRESHOLD);
    }
    default:
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpRotateImage()> only supports 1, 8, and 24 bits");
    }
}
