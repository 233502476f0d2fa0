// The pastes of an image of the same depth into this one: rows of bytes
// for 8-bit and 24-bit images, bits at any pixel position for 1-bit ones.
#include "kpimage.h"

#include "kpexception.h"

#include <cstring>
#include <string>

namespace {

// The top count (1..8) bits of a byte.
unsigned topBits(int count)
{
    return (0xFF00u >> count) & 0xFFu;
}

// Copies the first count pixels of a packed row into a packed row from
// pixel x on. The row's other bits are kept and the source's bits past
// count are never copied.
void pasteBits(const uint8_t* source, int32_t count, uint8_t* row, int32_t x)
{
    uint8_t* target = row + x / 8;
    const int shift = x % 8;
    for (int32_t i = 0; 8 * i < count; ++i) {
        const int valid = count - 8 * i < 8 ? count - 8 * i : 8;
        // The source byte's bits moved into a 16-bit window over the two
        // target bytes it straddles.
        const unsigned mask = topBits(valid) << (8 - shift);
        const unsigned bits = (source[i] & topBits(valid)) << (8 - shift);
        target[i] = static_cast<uint8_t>((target[i] & ~(mask >> 8)) | (bits >> 8));
        if ((mask & 0xFFu) != 0) {
            target[i + 1] = static_cast<uint8_t>((target[i + 1] & ~mask) | (bits & 0xFFu));
        }
    }
}

// Pastes source into target at (x, y); both have the same depth (1, 8 or
// 24) and source fits.
void pasteRows(const KpImage& source, KpImage& target, int32_t x, int32_t y)
{
    const int32_t width = source.kpGetWidth();
    const int32_t depth = source.kpGetDepth();
    const std::size_t pixelBytes = depth == 24 ? 3 : 1;
    for (int32_t i = 0; i < source.kpGetHeight(); ++i) {
        const uint8_t* from = source.kpGetData() + static_cast<std::size_t>(i) * source.kpGetBytesPerRow();
        uint8_t* row = target.kpGetData() + static_cast<std::size_t>(y + i) * target.kpGetBytesPerRow();
        if (depth == 1) {
            pasteBits(from, width, row, x);
        } else {
            std::memmove(row + pixelBytes * x, from, pixelBytes * width); // other may be this image
        }
    }
}

// The checks of a byte paste into target, in order: its data, the place,
// the depths, other's data.
void checkBytePaste(const KpImage& target, bool holdsOther, const KpImage& other, const std::string& name)
{
    const std::string prefix = "<KpImage::" + name + "()> ";
    if (target.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, prefix + "Image Data is NULL!");
    }
    if (!holdsOther) {
        KP_THROW(KP_TOO_BIG, prefix + "Paste image is too big!");
    }
    const int32_t depth = target.kpGetDepth();
    if (other.kpGetDepth() != depth || (depth != 1 && depth != 8 && depth != 24)) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, prefix + "Both images must have the same depth of 1, 8 or 24 bits!");
    }
    if (other.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, prefix + "Paste image data is NULL!");
    }
}

} // namespace

KpImage KpImage::kpPasteByteImage(const KpImage& other, int32_t x, int32_t y) const
{
    checkBytePaste(*this, holdsAt(other, x, y), other, "kpPasteByteImage");
    KpImage result(*this);
    pasteRows(other, result, x, y);
    return result;
}

void KpImage::kpPasteInByteImage(const KpImage& other, int32_t x, int32_t y)
{
    checkBytePaste(*this, holdsAt(other, x, y), other, "kpPasteInByteImage");
    pasteRows(other, *this, x, y);
}
