#ifndef DOVODA_KPBITSPERPIXELCONVERTER_H
#define DOVODA_KPBITSPERPIXELCONVERTER_H

#include "kpimage.h"

// Moves images between the three pixel depths: binary (1), gray (8) and
// colour (24). Going up is lossless; going down takes a rule (a global
// threshold, per-channel thresholds, a threshold from each channel's
// range, an average or a weighted mean of the channels). Every operation
// leaves the source alone and returns a new image of the source's size
// and resolution fields with a buffer of its own.
class KpBitsPerPixelConverter {
public:
    KpBitsPerPixelConverter() = delete;
    virtual ~KpBitsPerPixelConverter();

    // A set bit becomes 255, a clear bit 0.
    static KpImage kpBinary2Gray(const KpImage& image);
    // Each gray byte becomes R = G = B.
    static KpImage kpGray2Color(const KpImage& image);
    // A set bit becomes white (255, 255, 255), a clear bit black.
    static KpImage kpBinary2Color(const KpImage& image);
    // Converts upward to targetFormat (1 binary, 2 gray, 3 colour); the
    // same depth gives a deep copy.
    static KpImage kpConvertImage(const KpImage& image, int targetFormat);

    // A gray pixel at or above threshold (0..255) becomes white (bit 1);
    // the bits past the width in each row's last byte are 0.
    static KpImage kpDownscaleGray2Binary_global(const KpImage& image, int threshold);
    // (c0 + c1 + c2) / 3, truncated.
    static KpImage kpDownscaleColor2Gray_average(const KpImage& image);
    // (c0 w0 + c1 w1 + c2 w2) / (w0 + w1 + w2) in single precision,
    // truncated; every weight must be positive.
    static KpImage kpDownscaleColor2Gray_weighted(const KpImage& image, float weight0, float weight1,
                                                  float weight2);
    // A pixel is white exactly when every channel is at or above its own
    // threshold (each 0..255).
    static KpImage kpDownscaleColor2Binary_threshold(const KpImage& image, int threshold0, int threshold1,
                                                     int threshold2);
    // Thresholds each channel at fraction (0..1) of the sum of its
    // minimum and maximum.
    static KpImage kpDownscaleColor2Binary_percentThreshold(const KpImage& image, double fraction);
    // The same with the fraction given in percent (0..100).
    static KpImage kpDownscalePercentThresholdBinarization(const KpImage& image, int percent);
    // Smooths a 24-bit image once with the 5 x 5 smoothing mask and keeps
    // white the pixels whose luminance Y is at least 195.
    static KpImage kpDownscaleColor2Binary_ycrcb(const KpImage& image);

    // A colour image of at most 256 distinct colours, as palette formats
    // need: a binary or gray image becomes colour; a colour image of 256
    // colours or fewer is copied; one with more is mapped onto the 6 x 6 x
    // 6 colour cube of the channel values 0, 51, 102, 153, 204 and 255, and
    // only then is reduced set (it is cleared on entry).
    static KpImage kpReduceColors(const KpImage& image, bool& reduced);

    // Adaptive thresholding of a gray image over square tiles, each with
    // the threshold of a window around it: method 0 Niblack, 1 Sauvola,
    // 2 Wolf/Jolion, 3 modified Niblack (any other value thresholds at
    // 128). useStatistics classifies the tiles as dark on light or light
    // on dark and thresholds each in its own polarity. Logs every figure
    // at level 2.
    static KpImage kpDownscaleGray2Binary_niblack(const KpImage& image, int method, double k, bool useStatistics);
};

#endif
