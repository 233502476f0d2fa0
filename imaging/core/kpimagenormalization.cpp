// Contrast stretching: the bytes of a set (all bytes of the buffer, or
// one channel of a 24-bit image) are mapped from [min, max] onto [0, 255].
#include "kpimage.h"

#include "kpexception.h"
#include "kpprocessor.h"

#include <array>
#include <string>

namespace {

using StretchTable = std::array<uint8_t, 256>;

struct ByteRange {
    uint8_t low = 255;
    uint8_t high = 0;
};

// v -> (v - low) * 255 / (high - low), truncated, for low <= v <= high.
// In single precision as ((v - low) * 255 + 0.5) / (high - low): the
// quotient lies at least 0.5 / 255 away from every integer, far more than
// the rounding of a product below 256 by the reciprocal, so truncating it
// gives the exact integer quotient.
struct Stretch {
    float low;
    float reciprocal;

    explicit Stretch(ByteRange range)
        : low(range.low), reciprocal(1.0f / static_cast<float>(range.high - range.low))
    {
    }
    uint8_t operator()(uint8_t v) const
    {
        return static_cast<uint8_t>(static_cast<int>(((v - low) * 255.0f + 0.5f) * reciprocal));
    }
};

// The stretch of every value of the range; the identity when the range
// holds one value.
StretchTable stretchTable(ByteRange range)
{
    StretchTable table{};
    for (int v = 0; v < 256; ++v) {
        table[static_cast<std::size_t>(v)] = static_cast<uint8_t>(v);
    }
    if (range.low < range.high) {
        const Stretch stretch(range);
        for (int v = range.low; v <= range.high; ++v) {
            table[static_cast<std::size_t>(v)] = stretch(static_cast<uint8_t>(v));
        }
    }
    return table;
}

ByteRange rangeOf(const uint8_t* bytes, std::size_t count)
{
    uint8_t low = 255;
    uint8_t high = 0;
    for (std::size_t i = 0; i < count; ++i) {
        low = bytes[i] < low ? bytes[i] : low;
        high = bytes[i] > high ? bytes[i] : high;
    }
    return {low, high};
}

void stretchBytes(const uint8_t* __restrict from, uint8_t* __restrict to, std::size_t count, Stretch stretch)
{
    for (std::size_t i = 0; i < count; ++i) {
        to[i] = stretch(from[i]);
    }
}

KP_AVX2_CLONE void stretchBytesAvx2(const uint8_t* from, uint8_t* to, std::size_t count, Stretch stretch)
{
    stretchBytes(from, to, count, stretch);
}

void checkData(const KpImage& image, const char* name)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, std::string("<KpImage::") + name + "()> Image Data is NULL!");
    }
}

} // namespace

KpImage KpImage::kpNormalizeGlobalImage() const
{
    checkData(*this, "kpNormalizeGlobalImage");
    if (head.depth == 1) {
        return kpCopyImage(); // stretching packed bits would scramble them
    }
    const std::size_t size = kpGetImageSize();
    const ByteRange range = rangeOf(data.get(), size);
    if (range.low == range.high) {
        return kpCopyImage();
    }
    KpImage result = unfilledCopy();
    if (KpProcessor::kpUseAvx2()) {
        stretchBytesAvx2(data.get(), result.data.get(), size, Stretch(range));
    } else {
        stretchBytes(data.get(), result.data.get(), size, Stretch(range));
    }
    return result;
}

KpImage KpImage::kpNormalizeGrayscaleImage() const
{
    checkData(*this, "kpNormalizeGrayscaleImage");
    return kpNormalizeGlobalImage();
}

KpImage KpImage::kpNormalizeColorImage() const
{
    checkColourSource("kpNormalizeColorImage");
    const std::size_t pixels = static_cast<std::size_t>(head.width) * static_cast<std::size_t>(head.height);
    const uint8_t* source = data.get();
    ByteRange ranges[3];
    for (std::size_t i = 0; i < pixels; ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            const uint8_t v = source[3 * i + c];
            ranges[c].low = v < ranges[c].low ? v : ranges[c].low;
            ranges[c].high = v > ranges[c].high ? v : ranges[c].high;
        }
    }
    const StretchTable tables[3] = {stretchTable(ranges[0]), stretchTable(ranges[1]), stretchTable(ranges[2])};
    KpImage result = unfilledCopy();
    uint8_t* target = result.data.get();
    for (std::size_t i = 0; i < pixels; ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            target[3 * i + c] = tables[c][source[3 * i + c]];
        }
    }
    return result;
}

KpImage KpImage::kpNormalizeImage() const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpNormalizeImage()> KpImage::kpNormalizeImage() Image Data is NULL!");
    }
    if (head.depth == 1) {
        return kpCopyImage();
    }
    if (head.depth != 8 && head.depth != 24) {
        KP_THROW(KP_NOT_IMPLEMENTED, "<KpImage::kpNormalizeImage()> Invalid depth type, method not implemented!");
    }
    return kpNormalizeGlobalImage();
}
