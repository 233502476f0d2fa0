// The geometric operations of KpImage that need nothing beyond the record:
// cutting out, scaling and rotating 8-bit images, and mirroring. Scaling
// and rotating at any depth go through the bit-depth conversion and are
// defined with it in the analysis layer.

#include "kpimage.h"

#include "kpexception.h"
#include "kppixelbuffer.h"
#include "kppixelgeometry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

const char* const DATA_IS_NULL = "Image Data is NULL!";
const char* const OUT_OF_BOUNDS = "Out Of Bounds!! Sub-image must have coordinates within the larger image";
const char* const FLIP_NOT_IMPLEMENTED = "<KpImage::kpFlipByteImage()> Not Yet Implemented!";

const uint8_t* rowOf(const KpImage& image, int64_t y)
{
    return image.kpGetData() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.kpGetBytesPerRow());
}

uint8_t* rowOf(KpImage& image, int64_t y)
{
    return image.kpGetData() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.kpGetBytesPerRow());
}

void checkCutOut(const KpImage& image, int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, DATA_IS_NULL);
    }
    if (x < 0 || y < 0 || width < 1 || height < 1 || static_cast<int64_t>(x) + width > image.kpGetWidth() ||
        static_cast<int64_t>(y) + height > image.kpGetHeight()) {
        KP_THROW(KP_INVALID_ARGUMENT, OUT_OF_BOUNDS);
    }
}

// A new image of the given size and depth that takes the source's
// resolutions, format and reserved1.
KpImage cutOutLike(const KpImage& source, int32_t width, int32_t height, int32_t depth)
{
    KpImage result = KpPixelGeometry::kpUnfilledImage(width, height, depth);
    result.kpSetHeader(width, height, depth, source.kpGetXResolution(), source.kpGetYResolution(),
                       source.kpIsResolutionInDpi());
    result.kpSetFormat(source.kpGetFormat());
    result.kpSetReserved1(source.kpGetReserved1());
    return result;
}

// Byte n of a result row is source byte b shifted left by x mod 8 and
// filled from byte b + 1 (no bits when b + 1 lies past the row).
KpImage cutOutBits(const KpImage& source, int32_t x, int32_t y, int32_t width, int32_t height)
{
    KpImage result = cutOutLike(source, width, height, 1);
    const int32_t shift = x % 8;
    const std::size_t sourceBytes = static_cast<std::size_t>(source.kpGetBytesPerRow());
    const std::size_t resultBytes = static_cast<std::size_t>(result.kpGetBytesPerRow());
    const std::size_t start = static_cast<std::size_t>(x / 8);
    for (int32_t r = 0; r < height; ++r) {
        const uint8_t* in = rowOf(source, static_cast<int64_t>(y) + r) + start;
        uint8_t* out = rowOf(result, r);
        if (shift == 0) {
            std::memcpy(out, in, resultBytes);
            continue;
        }
        for (std::size_t n = 0; n < resultBytes; ++n) {
            const unsigned next = start + n + 1 < sourceBytes ? in[n + 1] : 0;
            out[n] = static_cast<uint8_t>((in[n] << shift) | (next >> (8 - shift)));
        }
    }
    return result;
}

KpImage cutOutColour(const KpImage& source, int32_t x, int32_t y, int32_t width, int32_t height)
{
    KpImage result = cutOutLike(source, width, height, 24);
    for (int32_t r = 0; r < height; ++r) {
        std::memcpy(rowOf(result, r), rowOf(source, static_cast<int64_t>(y) + r) + 3 * static_cast<std::size_t>(x),
                    static_cast<std::size_t>(result.kpGetBytesPerRow()));
    }
    return result;
}


// An image with the header an assignment from source gives it and a
// buffer of its own, not filled.
KpImage blankCopyOf(const KpImage& source)
{
    KpImageHead head = source.kpGetHead();
    head.reserved2 = 0;
    KpImage result(KpPixelBuffer::kpAllocate(source.kpGetBytesPerRow(), source.kpGetHeight()).release(), head);
    result.kpSetHasWarnings(source.kpGetHasWarnings());
    return result;
}

void checkFlipDirection(int32_t direction)
{
    if (direction != 1 && direction != 2) {
        KP_THROW(KP_NOT_IMPLEMENTED, FLIP_NOT_IMPLEMENTED);
    }
}

// Row y of the result is row height - 1 - y of the source.
void flipRowOrder(const KpImage& source, KpImage& result)
{
    const int32_t height = source.kpGetHeight();
    for (int32_t y = 0; y < height; ++y) {
        std::memcpy(rowOf(result, y), rowOf(source, height - 1 - y), static_cast<std::size_t>(source.kpGetBytesPerRow()));
    }
}

// Pixel x of each result row is pixel width - 1 - x of the source row,
// pixels being pixelBytes bytes.
template <std::size_t PIXEL_BYTES>
void mirrorByteRows(const KpImage& source, KpImage& result)
{
    const std::size_t width = static_cast<std::size_t>(source.kpGetWidth());
    for (int32_t y = 0; y < source.kpGetHeight(); ++y) {
        const uint8_t* in = rowOf(source, y) + (width - 1) * PIXEL_BYTES;
        uint8_t* out = rowOf(result, y);
        for (std::size_t x = 0; x < width; ++x) {
            for (std::size_t c = 0; c < PIXEL_BYTES; ++c) {
                out[x * PIXEL_BYTES + c] = in[c - x * PIXEL_BYTES];
            }
        }
    }
}

const std::array<uint8_t, 256>& reversedBits()
{
    static const std::array<uint8_t, 256> table = [] {
        std::array<uint8_t, 256> reversed{};
        for (int value = 0; value < 256; ++value) {
            int mirrored = 0;
            for (int bit = 0; bit < 8; ++bit) {
                mirrored |= ((value >> bit) & 1) << (7 - bit);
            }
            reversed[static_cast<std::size_t>(value)] = static_cast<uint8_t>(mirrored);
        }
        return reversed;
    }();
    return table;
}

// Pixel x of each 1-bit result row is pixel width - 1 - x of the source
// row: the row's bytes in reverse order, each bit-reversed, then shifted
// left past the padding. The padding bits stay those of the source.
void mirrorBitRows(const KpImage& source, KpImage& result)
{
    const std::array<uint8_t, 256>& reversed = reversedBits();
    const std::size_t rowBytes = static_cast<std::size_t>(source.kpGetBytesPerRow());
    const int32_t padding = static_cast<int32_t>(8 * rowBytes) - source.kpGetWidth();
    const uint8_t paddingMask = static_cast<uint8_t>((1u << padding) - 1);
    for (int32_t y = 0; y < source.kpGetHeight(); ++y) {
        const uint8_t* in = rowOf(source, y);
        uint8_t* out = rowOf(result, y);
        for (std::size_t j = 0; j < rowBytes; ++j) {
            const unsigned current = reversed[in[rowBytes - 1 - j]];
            const unsigned next = j + 1 < rowBytes ? reversed[in[rowBytes - 2 - j]] : 0;
            out[j] = static_cast<uint8_t>((current << padding) | (next >> (8 - padding)));
        }
        out[rowBytes - 1] = static_cast<uint8_t>((out[rowBytes - 1] & ~paddingMask) | (in[rowBytes - 1] & paddingMask));
    }
}

// Mirrors into result, which has the source's size and store.
void mirror(const KpImage& source, int32_t direction, KpImage& result)
{
    if (direction == 2) {
        flipRowOrder(source, result);
    } else if (source.kpGetDepth() == 1) {
        mirrorBitRows(source, result);
    } else if (source.kpGetDepth() == 8) {
        mirrorByteRows<1>(source, result);
    } else {
        mirrorByteRows<3>(source, result);
    }
}

} // namespace

KpImage KpImage::SubImage(int32_t x, int32_t y, int32_t width, int32_t height) const
{
    checkCutOut(*this, x, y, width, height);
    switch (head.depth) {
    case 1:
        return cutOutBits(*this, x, y, width, height);
    case 8: {
        KpImage result = kpSubByteImage(x, y, width, height);
        result.kpSetXResolution(head.xResolution);
        result.kpSetYResolution(head.yResolution);
        return result;
    }
    case 24:
        return cutOutColour(*this, x, y, width, height);
    default:
        KP_THROW(KP_UNSUPPORTED_DEPTH, "KpImage::SubImage() only supports 1, 8, and 24 bits");
    }
}

KpImage KpImage::kpSubByteImage(int32_t x, int32_t y, int32_t width, int32_t height) const
{
    checkCutOut(*this, x, y, width, height);
    if (head.depth != 8) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "KpImage::kpSubByteImage() only supports 8 bits");
    }
    KpImage result = KpPixelGeometry::kpUnfilledImage(width, height, 8);
    for (int32_t r = 0; r < height; ++r) {
        std::memcpy(rowOf(result, r), rowOf(*this, static_cast<int64_t>(y) + r) + x, static_cast<std::size_t>(width));
    }
    return result;
}

KpImage KpImage::kpResizeByteImage(int32_t width, int32_t height) const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, DATA_IS_NULL);
    }
    if (width < 1 || height < 1) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "not supported Size <= 0");
    }
    if (head.depth != 8) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "not supported format in KpImage::kpResizeByteImage");
    }
    return KpPixelGeometry::kpResize(*this, width, height);
}

void KpImage::kpRotatePoint(const KpPoint& point, KpPoint& rotated, double radians)
{
    if (!std::isfinite(radians)) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpImage::kpRotatePoint()> The angle must be a finite number");
    }
    const double x = std::floor(std::cos(radians) * point.x - std::sin(radians) * point.y + 0.5);
    const double y = std::floor(std::sin(radians) * point.x + std::cos(radians) * point.y + 0.5);
    if (!KpPixelGeometry::kpFitsInt32(x) || !KpPixelGeometry::kpFitsInt32(y)) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpImage::kpRotatePoint()> The rotated point would not fit 32-bit coordinates");
    }
    rotated.x = static_cast<int32_t>(x);
    rotated.y = static_cast<int32_t>(y);
}

KpImage KpImage::kpRotateByteImage(double degrees) const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpRotateByteImage()> Image Data is NULL!");
    }
    if (head.depth != 8) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpRotateByteImage()> Not a supported format in KpImage::kpResizeByteImage");
    }
    const double radians =
        KpPixelGeometry::kpRadians(degrees, "<KpImage::kpRotateByteImage()> The angle must be a finite number of degrees");
    return KpPixelGeometry::kpRotate(*this, radians);
}

KpImage KpImage::kpFlipByteImage(int32_t direction) const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpFlipByteImage()> Image Data is NULL!");
    }
    if (head.depth != 8) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpFlipByteImage()> not supported format in KpImage::kpFLIPByteImage");
    }
    checkFlipDirection(direction);
    KpImage result = blankCopyOf(*this);
    mirror(*this, direction, result);
    return result;
}

KpImage KpImage::kpFlipImage(int32_t direction) const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpFlipImage()> Image Data is NULL!");
    }
    if (head.depth == 8) {
        return kpFlipByteImage(direction);
    }
    if (head.depth != 1 && head.depth != 24) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpFlipImage()> KpImage::kpFlipImage() Unknow Image format. Only supports 1, 8 and 24 bit images");
    }
    checkFlipDirection(direction);
    // A 1-bit image is mirrored on a copy of itself; a colour image is
    // mirrored channel by channel and merged, which gives a fresh header.
    KpImage result = head.depth == 1 ? blankCopyOf(*this) : KpPixelGeometry::kpUnfilledImage(head.width, head.height, 24);
    mirror(*this, direction, result);
    return result;
}
