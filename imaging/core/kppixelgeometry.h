#ifndef DOVODA_KPPIXELGEOMETRY_H
#define DOVODA_KPPIXELGEOMETRY_H

#include "kpimage.h"

// The resampling behind the geometric operations of KpImage, for 8-bit
// and 24-bit images. A colour image is resampled in place, each channel
// exactly as its own 8-bit plane would be, so the result equals splitting
// the channels, processing each and merging them. Results have a default
// header apart from their size and depth. The callers check the source.
class KpPixelGeometry {
public:
    KpPixelGeometry() = delete;
    virtual ~KpPixelGeometry();

    // An image of the given size and depth with a default header and a
    // buffer of its own, not filled: for results that write every byte.
    static KpImage kpUnfilledImage(int32_t width, int32_t height, int32_t depth);
    // Bilinear scaling to width x height (both at least 1).
    static KpImage kpResize(const KpImage& source, int32_t width, int32_t height);
    // Rotation by radians about the centre onto a white canvas grown to
    // hold the rotated corners, each pixel taken from its nearest source
    // pixel.
    static KpImage kpRotate(const KpImage& source, double radians);
    // degrees x 3.14159265359 / 180; code 7 with notFiniteText when the
    // angle is not a finite number.
    static double kpRadians(double degrees, const char* notFiniteText);
    // Whether value lies within the int32 range (so that converting it is
    // defined).
    static bool kpFitsInt32(double value);
};

#endif
