// KpBitsPerPixelConverter::kpReduceColors: the colour reduction for
// palette formats.

#include "kpbitsperpixelconverter.h"

#include "kpcolortable.h"
#include "kpexception.h"
#include "kplogger.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

const int MAX_COLORS = 256;
// The counting table: 338 slots for at most 256 colours.
const int COUNTING_SLOTS = 338;
const int CUBE_LEVELS = 6;
const int CUBE_STEP = 51;
const int CUBE_SIZE = CUBE_LEVELS * CUBE_LEVELS * CUBE_LEVELS;
const int LOG_LEVEL = 2;

// True when the pixels, in buffer order, hold more than MAX_COLORS
// colours; the count stops at the first colour past them.
bool hasMoreColorsThan256(const KpImage& image)
{
    KpColorTable table(COUNTING_SLOTS, MAX_COLORS);
    const std::size_t rowBytes = static_cast<std::size_t>(image.kpGetBytesPerRow());
    const std::size_t width = static_cast<std::size_t>(image.kpGetWidth());
    for (int32_t y = 0; y < image.kpGetHeight(); ++y) {
        const uint8_t* pixel = image.kpGetData() + std::size_t(y) * rowBytes;
        for (std::size_t x = 0; x < width; ++x, pixel += 3) {
            if (table.kpIndexOf(pixel[0], pixel[1], pixel[2]) < 0) {
                return true;
            }
        }
    }
    return false;
}

// The cube of CUBE_LEVELS levels per channel, byte0's level outermost:
// the entry of levels (a, b, c) holds the bytes (51a, 51b, 51c).
std::array<std::array<uint8_t, 3>, CUBE_SIZE> colorCube()
{
    std::array<std::array<uint8_t, 3>, CUBE_SIZE> cube{};
    for (int index = 0; index < CUBE_SIZE; ++index) {
        cube[std::size_t(index)] = {uint8_t(CUBE_STEP * (index / 36)), uint8_t(CUBE_STEP * (index / 6 % 6)),
                                    uint8_t(CUBE_STEP * (index % 6))};
    }
    return cube;
}

// A channel value's level, v * 6 / 256 (0-42 -> 0, 43-85 -> 1, ...,
// 214-255 -> 5), already multiplied by the channel's weight in the cube
// index 36 a + 6 b + c.
std::array<uint8_t, 256> weightedLevels(int weight)
{
    std::array<uint8_t, 256> levels{};
    for (int v = 0; v < 256; ++v) {
        levels[std::size_t(v)] = static_cast<uint8_t>(weight * (v * CUBE_LEVELS / 256));
    }
    return levels;
}

KpImage mapOntoColorCube(const KpImage& image)
{
    static const std::array<std::array<uint8_t, 3>, CUBE_SIZE> cube = colorCube();
    static const std::array<uint8_t, 256> level0 = weightedLevels(36);
    static const std::array<uint8_t, 256> level1 = weightedLevels(6);
    static const std::array<uint8_t, 256> level2 = weightedLevels(1);
    KpImage result = image.kpCopyImage();
    uint8_t* pixel = result.kpGetData();
    const std::size_t pixels = result.kpGetImageSize() / 3;
    for (std::size_t i = 0; i < pixels; ++i, pixel += 3) {
        const std::array<uint8_t, 3>& entry = cube[std::size_t(level0[pixel[0]] + level1[pixel[1]] + level2[pixel[2]])];
        pixel[0] = entry[0];
        pixel[1] = entry[1];
        pixel[2] = entry[2];
    }
    return result;
}

} // namespace

KpImage KpBitsPerPixelConverter::kpReduceColors(const KpImage& image, bool& reduced)
{
    reduced = false;
    if (image.kpGetDepth() == 1) {
        return kpBinary2Color(image);
    }
    if (image.kpGetDepth() == 8) {
        return kpGray2Color(image);
    }
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpBitsPerPixelConverter::kpReduceColors()> Image Data is NULL!");
    }
    if (!hasMoreColorsThan256(image)) {
        return image.kpCopyImage();
    }
    reduced = true;
    kpLogPrintf(KpLogger::kpGetInstance(), LOG_LEVEL, "Color reduction in high color image.\n");
    return mapOntoColorCube(image);
}
