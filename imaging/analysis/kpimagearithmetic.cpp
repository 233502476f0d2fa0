// The pixel arithmetic of the image record that converts between depths:
// the contour of a black and white image, adding and subtracting an image
// placed at an offset, and the pastes that match the depths of the two
// images first. They are declared with the record and live here, beside
// the conversions they use.
#include "kpimage.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "kplogger.h"

#include <cstring>
#include <string>

using Converter = KpBitsPerPixelConverter;

namespace {

constexpr uint8_t BLACK = 0;
constexpr uint8_t WHITE = 255;
constexpr int BINARY_THRESHOLD = 127;
constexpr int WARNING_LEVEL = 2;

// The texts of one of the two arithmetic operations.
struct ArithmeticTexts {
    const char* noData;
    const char* tooBig;
    const char* depths;
    const char* noOtherData;
    const char* depth;
};

const ArithmeticTexts ADD_TEXTS = {
    "<KpImage::kpAddImage()> Image Data is NULL!",
    "<KpImage::kpAddImage()> Add image is too big!",
    "<KpImage::kpAddImage()> Both colors must have same color depth",
    "<KpImage::kpAddImage()> Image to add has no data!",
    "<KpImage::kpAddImage()> Only 1, 8 and 24 bit images can be added!",
};

const ArithmeticTexts SUBTRACT_TEXTS = {
    "<KpImage::kpSubtractImage()> Image Data is NULL!",
    "<KpImage::kpSubtractImage()>Add image is too big!",
    "<KpImage::kpSubtractImage()>Both colors must have same color depth",
    "<KpImage::kpSubtractImage()> Image to subtract has no data!",
    "<KpImage::kpSubtractImage()> Only 1, 8 and 24 bit images can be subtracted!",
};

void checkArithmetic(const KpImage& image, bool holdsOther, const KpImage& other, const ArithmeticTexts& texts)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, texts.noData);
    }
    if (!holdsOther) {
        KP_THROW(KP_TOO_BIG, texts.tooBig);
    }
    if (other.kpGetDepth() != image.kpGetDepth()) {
        KP_THROW(KP_NOT_IMPLEMENTED, texts.depths);
    }
    if (other.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, texts.noOtherData);
    }
    const int32_t depth = image.kpGetDepth();
    if (depth != 1 && depth != 8 && depth != 24) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, texts.depth);
    }
}

uint8_t* rowOf(const KpImage& image, int32_t y)
{
    return image.kpGetData() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.kpGetBytesPerRow());
}

// Writes source into target (the same image, or one of its size) with
// rule(byte, other's byte) applied over the region of other placed at
// (x, y). Images of one byte or three bytes per pixel.
template <typename Rule>
void combineRegion(const KpImage& source, const KpImage& other, int32_t x, int32_t y, KpImage& target, Rule rule)
{
    const std::size_t pixelBytes = source.kpGetDepth() == 24 ? 3 : 1;
    const std::size_t begin = pixelBytes * static_cast<std::size_t>(x);
    const std::size_t count = pixelBytes * static_cast<std::size_t>(other.kpGetWidth());
    for (int32_t row = 0; row < source.kpGetHeight(); ++row) {
        const uint8_t* in = rowOf(source, row);
        uint8_t* out = rowOf(target, row);
        if (in != out) {
            std::memcpy(out, in, static_cast<std::size_t>(source.kpGetBytesPerRow()));
        }
        if (row < y || row - y >= other.kpGetHeight()) {
            continue;
        }
        const uint8_t* with = rowOf(other, row - y);
        for (std::size_t i = 0; i < count; ++i) {
            out[begin + i] = rule(in[begin + i], with[i]);
        }
    }
}

// 1-bit images work on their gray expansions: inside the region, the
// pixels where other is black become value.
KpImage markBlackOf(const KpImage& image, const KpImage& other, int32_t x, int32_t y, uint8_t value)
{
    KpImage gray = Converter::kpBinary2Gray(image);
    const KpImage otherGray = Converter::kpBinary2Gray(other);
    combineRegion(gray, otherGray, x, y, gray,
                  [value](uint8_t pixel, uint8_t mark) { return mark == BLACK ? value : pixel; });
    return Converter::kpDownscaleGray2Binary_global(gray, BINARY_THRESHOLD);
}

// The image converted up to depth 8 or 24, with the operation's warning
// logged; false for another depth.
bool deepened(const KpImage& image, int32_t depth, const std::string& operation, KpImage* result)
{
    if (depth != 8 && depth != 24) {
        return false;
    }
    *result = Converter::kpConvertImage(image, depth == 8 ? 2 : 3);
    const std::string warning =
        "Warning...." + operation + (depth == 8 ? " returning grayscale image\n" : " returning color image\n");
    kpLogPrintf(KpLogger::kpGetInstance(), WARNING_LEVEL, "%s", warning.c_str());
    return true;
}

// The contour of an 8-bit black and white plane into out: black where a
// black pixel off the outer border has a white 4-neighbour.
void traceContour(const KpImage& plane, uint8_t* out)
{
    const int32_t width = plane.kpGetWidth();
    const int32_t height = plane.kpGetHeight();
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = rowOf(plane, y);
        uint8_t* target = out + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        std::memset(target, WHITE, static_cast<std::size_t>(width));
        if (y == 0 || y == height - 1) {
            continue;
        }
        const uint8_t* above = row - width;
        const uint8_t* below = row + width;
        for (int32_t x = 1; x < width - 1; ++x) {
            const bool touchesWhite = above[x] == WHITE || below[x] == WHITE || row[x - 1] == WHITE || row[x + 1] == WHITE;
            if (row[x] == BLACK && touchesWhite) {
                target[x] = BLACK;
            }
        }
    }
}

} // namespace

KpImage KpImage::kpContourImage() const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, ",<KpImage::kpContourImage()> Image Data is NULL!");
    }
    if (head.depth == 24) {
        KP_THROW(KP_NOT_IMPLEMENTED, ">KpImage::kpContourImage()> Not Yet Implemented - 24 bit images!");
    }
    if (!kpIsGrayScaleBW()) {
        KP_THROW(KP_NOT_IMPLEMENTED, "<KpImage::kpContourImage()> Not Yet Implemented - non black/white images!");
    }
    const bool binary = head.depth == 1;
    const KpImage expanded = binary ? Converter::kpBinary2Gray(*this) : KpImage();
    const KpImage& plane = binary ? expanded : *this;
    KpImage contour = plane.unfilledCopy("<KpImage::kpContourImage()> Memory Allocation Error!");
    traceContour(plane, contour.data.get());
    if (binary) {
        kpLogPrintf(KpLogger::kpGetInstance(), WARNING_LEVEL, "%s", "Warning....returning grayscale image\n ");
    }
    return contour;
}

KpImage KpImage::combinedWith(const KpImage& other, int32_t x, int32_t y, bool subtract) const
{
    checkArithmetic(*this, holdsAt(other, x, y), other, subtract ? SUBTRACT_TEXTS : ADD_TEXTS);
    if (head.depth == 1) {
        return markBlackOf(*this, other, x, y, subtract ? WHITE : BLACK);
    }
    KpImage result = unfilledCopy();
    if (subtract) {
        combineRegion(*this, other, x, y, result,
                      [](uint8_t pixel, uint8_t taken) { return static_cast<uint8_t>(pixel - taken); });
    } else {
        combineRegion(*this, other, x, y, result,
                      [](uint8_t pixel, uint8_t added) { return static_cast<uint8_t>(pixel + added); });
    }
    return result;
}

KpImage KpImage::kpAddImage(const KpImage& other, int32_t x, int32_t y) const
{
    return combinedWith(other, x, y, false);
}

KpImage KpImage::kpSubtractImage(const KpImage& other, int32_t x, int32_t y) const
{
    return combinedWith(other, x, y, true);
}

void KpImage::kpPasteInImage(const KpImage& other, int32_t x, int32_t y)
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpPasteInImage()> Image Data is NULL!");
    }
    if (!holdsAt(other, x, y)) {
        KP_THROW(KP_TOO_BIG, "Paste image is too big!");
    }
    if (other.head.depth > head.depth) {
        throw KpException(KP_UNSUPPORTED_DEPTH, "<KpImage::kpPastInImage()> Invalid Depth Value", nullptr, 0);
    }
    if (other.head.depth == head.depth) {
        kpPasteInByteImage(other, x, y);
        return;
    }
    KpImage matched;
    if (!deepened(other, head.depth, "kpPasteInImage()", &matched)) {
        throw KpException(KP_UNSUPPORTED_DEPTH, "<Kpimage::kpPasteIncompitable file format", nullptr, 0);
    }
    kpPasteInByteImage(matched, x, y);
}

KpImage KpImage::kpPasteImage(const KpImage& other, int32_t x, int32_t y) const
{
    if (head.depth >= other.head.depth) {
        KpImage result(*this);
        result.kpPasteInImage(other, x, y);
        return result;
    }
    KpImage deeper;
    if (!deepened(*this, other.head.depth, "kpPasteImage()", &deeper)) {
        throw KpException(KP_UNSUPPORTED_DEPTH, "<Kpimage::kpPasteImage> Incompitable file format", nullptr, 0);
    }
    deeper.kpPasteInImage(other, x, y);
    return deeper;
}
