#include "kpbitsperpixelconverter.h"

#include "kpexception.h"
#include "kppixelbuffer.h"

#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t BLACK = 0;
constexpr uint8_t WHITE = 255;

// The eight gray bytes of each binary byte, most significant bit first,
// packed in memory order so that one 8-byte copy places them.
using BytePatterns = std::array<uint64_t, 256>;

const BytePatterns& grayPatterns()
{
    static const BytePatterns patterns = [] {
        BytePatterns table{};
        for (int value = 0; value < 256; ++value) {
            uint8_t bytes[8];
            for (int bit = 0; bit < 8; ++bit) {
                bytes[bit] = (value & (0x80 >> bit)) != 0 ? WHITE : BLACK;
            }
            std::memcpy(&table[static_cast<std::size_t>(value)], bytes, 8);
        }
        return table;
    }();
    return patterns;
}

// A new image of the source's size and resolution fields at depth, with
// a buffer of its own (its size checked by the record) left unfilled:
// every conversion writes each byte of every row.
KpImage resultLike(const KpImage& source, int32_t depth)
{
    KpImageHead head;
    head.width = source.kpGetWidth();
    head.height = source.kpGetHeight();
    head.depth = depth;
    head.xResolution = source.kpGetXResolution();
    head.yResolution = source.kpGetYResolution();
    head.resolutionInDpi = source.kpIsResolutionInDpi() ? 1 : 0;
    return KpImage(KpPixelBuffer::kpAllocate(KpImageHead::kpRowBytes(head.width, depth), head.height).release(), head);
}

const uint8_t* rowOf(const KpImage& image, int32_t y)
{
    return image.kpGetData() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.kpGetBytesPerRow());
}

uint8_t* rowOf(KpImage& image, int32_t y)
{
    return image.kpGetData() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.kpGetBytesPerRow());
}

// Applies convertRow(sourceRow, resultRow, width) to every row.
template <typename RowConversion>
KpImage convertRows(const KpImage& source, int32_t depth, RowConversion convertRow)
{
    KpImage result = resultLike(source, depth);
    for (int32_t y = 0; y < source.kpGetHeight(); ++y) {
        convertRow(rowOf(source, y), rowOf(result, y), source.kpGetWidth());
    }
    return result;
}

// Expands a packed row of width pixels to one gray byte per pixel.
void expandBinaryRow(const uint8_t* bits, uint8_t* gray, int32_t width)
{
    const BytePatterns& patterns = grayPatterns();
    const int32_t wholeBytes = width / 8;
    for (int32_t i = 0; i < wholeBytes; ++i) {
        std::memcpy(gray + 8 * i, &patterns[bits[i]], 8);
    }
    const int32_t rest = width % 8;
    if (rest != 0) {
        std::memcpy(gray + 8 * wholeBytes, &patterns[bits[wholeBytes]], static_cast<std::size_t>(rest));
    }
}

// Writes each gray byte of a row three times.
void expandGrayRow(const uint8_t* gray, uint8_t* colour, int32_t width)
{
    for (int32_t x = 0; x < width; ++x) {
        colour[3 * x] = gray[x];
        colour[3 * x + 1] = gray[x];
        colour[3 * x + 2] = gray[x];
    }
}

// Packs the first count (at most 8) flags of white, most significant bit
// first; the bits past count stay 0.
template <typename IsWhite>
uint8_t packByte(int32_t first, int32_t count, IsWhite isWhite)
{
    unsigned bits = 0;
    for (int32_t b = 0; b < count; ++b) {
        bits |= static_cast<unsigned>(isWhite(first + b)) << (7 - b);
    }
    return static_cast<uint8_t>(bits);
}

// Packs a row of width pixels into bits, isWhite(x) deciding each pixel.
template <typename IsWhite>
void packRow(uint8_t* bits, int32_t width, IsWhite isWhite)
{
    const int32_t wholeBytes = width / 8;
    for (int32_t i = 0; i < wholeBytes; ++i) {
        bits[i] = packByte(8 * i, 8, isWhite);
    }
    if (width % 8 != 0) {
        bits[wholeBytes] = packByte(8 * wholeBytes, width % 8, isWhite);
    }
}

void checkThreshold(int threshold)
{
    if (threshold < 0 || threshold > 255) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_global()> threshold must between 0 and 255");
    }
}

void checkBinary(const KpImage& image, const char* depthMessage, const char* dataMessage)
{
    if (image.kpGetDepth() != 1) {
        KP_THROW(KP_INVALID_ARGUMENT, depthMessage);
    }
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, dataMessage);
    }
}

void checkData(const KpImage& image, const char* dataMessage)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, dataMessage);
    }
}

// Refuses a one-channel image, then a missing buffer, then a store that
// is not 24-bit.
void checkColourImage(const KpImage& image, const char* colourMessage, const char* dataMessage)
{
    if (image.kpGetChannels() == 1) {
        KP_THROW(KP_INVALID_ARGUMENT, colourMessage);
    }
    checkData(image, dataMessage);
    if (image.kpGetDepth() != 24) {
        KP_THROW(KP_INVALID_ARGUMENT, colourMessage);
    }
}

} // namespace

KpBitsPerPixelConverter::~KpBitsPerPixelConverter() = default;

KpImage KpBitsPerPixelConverter::kpBinary2Gray(const KpImage& image)
{
    checkBinary(image, "<KpBitsPerPixelConverter::kpBinary2Gray> Binary image expected in KpImage::kpBinary2Gray!",
                "<KpBitsPerPixelConverter::kpBinary2Gray> Image Data is NULL!");
    return convertRows(image, 8, expandBinaryRow);
}

KpImage KpBitsPerPixelConverter::kpGray2Color(const KpImage& image)
{
    if (image.kpGetDepth() != 8) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpBitsPerPixelConverter::kpGray2Color()> Gray image expected in KpImage::kpGray2Color!");
    }
    checkData(image, "<KpBitsPerPixelConverter::kpGray2Color()> Image Data is NULL!");
    return convertRows(image, 24, expandGrayRow);
}

KpImage KpBitsPerPixelConverter::kpBinary2Color(const KpImage& image)
{
    checkBinary(image,
                "<KpBitsPerPixelConverter::kpBinary2Color()> Binary image expected in KpImage::kpBinary2Color!",
                "<KpBitsPerPixelConverter::kpBinary2Color()> Image Data is NULL!");
    std::vector<uint8_t> gray(static_cast<std::size_t>(image.kpGetWidth()));
    return convertRows(image, 24, [&gray](const uint8_t* bits, uint8_t* colour, int32_t width) {
        expandBinaryRow(bits, gray.data(), width);
        expandGrayRow(gray.data(), colour, width);
    });
}

KpImage KpBitsPerPixelConverter::kpConvertImage(const KpImage& image, int targetFormat)
{
    const int32_t depth = image.kpGetDepth();
    switch (targetFormat) {
    case 1:
        if (depth == 1) {
            return image.kpCopyImage();
        }
        if (depth == 8) {
            KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpBitsPerPixelConverter::kpConvertImage()> User must downscale from Grayscale to Binary before performing this function");
        }
        if (depth == 24) {
            KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpBitsPerPixelConverter::kpConvertImage()> User must downscale from Color to Binary before performing this function");
        }
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpBitsPerPixelConverter::kpConvertImage()> KpBitsPerPixelConverter::kpConvertImage() Only supports Upscaling of images.!");
    case 2:
        if (depth == 1) {
            return kpBinary2Gray(image);
        }
        if (depth == 8) {
            return image.kpCopyImage();
        }
        if (depth == 24) {
            KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpBitsPerPixelConverter::kpConvertImage()> User must downscale from Color to Grayscale before performing this function");
        }
        break;
    case 3:
        if (depth == 1) {
            return kpBinary2Color(image);
        }
        if (depth == 8) {
            return kpGray2Color(image);
        }
        if (depth == 24) {
            return image.kpCopyImage();
        }
        break;
    default:
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpBitsPerPixelConverter::kpConvertImage()> KpBitsPerPixelConverter::kpConvertImage() Only Supports 1, 8 and 24 bit images!");
    }
    KP_THROW(KP_NOT_IMPLEMENTED, "<KpBitsPerPixelConverter::kpConvertImage()> Not Yet Implemented!");
}

KpImage KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(const KpImage& image, int threshold)
{
    if (image.kpGetDepth() != 8) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_global()> A KP_BYTE image expected in KpImage::kpDownscaleGray2Binary_global!");
    }
    checkThreshold(threshold);
    checkData(image, "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_global()> Image Data is NULL!");
    const uint8_t level = static_cast<uint8_t>(threshold);
    return convertRows(image, 1, [level](const uint8_t* gray, uint8_t* bits, int32_t width) {
        packRow(bits, width, [gray, level](int32_t x) { return gray[x] >= level; });
    });
}

KpImage KpBitsPerPixelConverter::kpDownscaleColor2Gray_average(const KpImage& image)
{
    if (image.kpGetDepth() != 24) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_average()> 24-bit color image required in kpDownscaleColor2Gray_average.");
    }
    checkData(image, "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_average()> Image Data is NULL!");
    return convertRows(image, 8, [](const uint8_t* colour, uint8_t* gray, int32_t width) {
        for (int32_t x = 0; x < width; ++x) {
            const unsigned sum = static_cast<unsigned>(colour[3 * x]) + colour[3 * x + 1] + colour[3 * x + 2];
            gray[x] = static_cast<uint8_t>(sum / 3);
        }
    });
}

KpImage KpBitsPerPixelConverter::kpDownscaleColor2Gray_weighted(const KpImage& image, float weight0, float weight1,
                                                                float weight2)
{
    if (image.kpGetDepth() != 24) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_weighted()> 24-bit color image required in kpDownscaleColor2Gray_weighted.");
    }
    if (!(weight0 > 0.0f) || !(weight1 > 0.0f) || !(weight2 > 0.0f)) {
        KP_THROW(KP_BAD_WEIGHT, "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_weighted()> All weights must be positive in kpDownscaleColor2Gray_weighted.");
    }
    checkData(image, "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_weighted()> Image Data is NULL!");
    const float divisor = weight0 + weight1 + weight2;
    return convertRows(image, 8, [=](const uint8_t* colour, uint8_t* gray, int32_t width) {
        for (int32_t x = 0; x < width; ++x) {
            const float mean = (colour[3 * x] * weight0 + colour[3 * x + 1] * weight1 + colour[3 * x + 2] * weight2) / divisor;
            gray[x] = static_cast<uint8_t>(static_cast<int>(mean));
        }
    });
}

KpImage KpBitsPerPixelConverter::kpDownscaleColor2Binary_threshold(const KpImage& image, int threshold0,
                                                                   int threshold1, int threshold2)
{
    checkColourImage(image, "<KpBitsPerPixelConverter::kpDownscaleColor2Binary_threshold()> A Color image is expected in percentThresholdBinarization!!",
                     "<KpBitsPerPixelConverter::kpDownscaleColor2Binary_threshold()> Image Data is NULL!");
    for (int threshold : {threshold0, threshold1, threshold2}) {
        checkThreshold(threshold);
    }
    // Thresholding each channel, expanding it to 0 or 255, averaging the
    // three and thresholding the average at 240 keeps a pixel white
    // exactly when every channel passes (two white channels average 170),
    // so the test is made on the pixel directly.
    const int t0 = threshold0, t1 = threshold1, t2 = threshold2;
    return convertRows(image, 1, [=](const uint8_t* colour, uint8_t* bits, int32_t width) {
        packRow(bits, width, [=](int32_t x) {
            const uint8_t* pixel = colour + 3 * x;
            return pixel[0] >= t0 && pixel[1] >= t1 && pixel[2] >= t2;
        });
    });
}

KpImage KpBitsPerPixelConverter::kpDownscaleColor2Binary_percentThreshold(const KpImage& image, double fraction)
{
    if (fraction < 0.0 || fraction > 1.0) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpBitsPerPixelConverter::kpDownscaleColor2Binary_percentThreshold()> Percentage must be from 0.0 to 1.0 !!");
    }
    checkColourImage(image, "<KpBitsPerPixelConverter::kpDownscaleColor2Binary_percentThreshold()> A Color image is expected in percentThresholdBinarization!!",
                     "<KpBitsPerPixelConverter::kpDownscaleColor2Binary_percentThreshold()> Image Data is NULL!");
    const std::size_t channels = static_cast<std::size_t>(image.kpGetChannels());
    const std::size_t pixels = static_cast<std::size_t>(image.kpGetWidth()) * static_cast<std::size_t>(image.kpGetHeight());
    const uint8_t* data = image.kpGetData();
    uint8_t minimum[3] = {WHITE, WHITE, WHITE};
    uint8_t maximum[3] = {BLACK, BLACK, BLACK};
    for (std::size_t i = 0; i < pixels; ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            const uint8_t value = data[i * channels + c];
            minimum[c] = value < minimum[c] ? value : minimum[c];
            maximum[c] = value > maximum[c] ? value : maximum[c];
        }
    }
    int thresholds[3];
    for (std::size_t c = 0; c < 3; ++c) {
        thresholds[c] = static_cast<int>(fraction * (minimum[c] + maximum[c]));
    }
    return kpDownscaleColor2Binary_threshold(image, thresholds[0], thresholds[1], thresholds[2]);
}

KpImage KpBitsPerPixelConverter::kpDownscalePercentThresholdBinarization(const KpImage& image, int percent)
{
    if (percent < 0 || percent > 100) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpBitsPerPixelConverter::kpDownscalePercentThresholdBinarization()> Percentage must be from 0 to 100 !!");
    }
    return kpDownscaleColor2Binary_percentThreshold(image, percent / 100.0);
}
