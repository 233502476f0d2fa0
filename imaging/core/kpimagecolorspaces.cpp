// Colour spaces of 24-bit images: Y, Cr, Cb of ITU-R BT.601 (luma 16 to
// 235) and hue, saturation, value. Every component is computed in the
// precision of its rule, truncated to an integer and stored as its low 8
// bits, except the components back in R, G, B from Y, Cr, Cb, which are
// clamped to 0..255.
#include "kpimage.h"

#include "kppixelbuffer.h"
#include "kpprocessor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace {

constexpr int HUE_SECTORS = 3;       // the maximum is red, green or blue
constexpr int DIFFERENCES = 256 * 256; // (d, n) for 0 < d < 256, -d <= n <= d, at d * d + d + n
constexpr float DEGREES_PER_SECTOR = 60.0f;

uint8_t lowByte(int value)
{
    return static_cast<uint8_t>(value & 0xFF);
}

// Rounded half up; every Y, Cr, Cb component of a byte triple is at
// least 16, so truncation rounds down.
uint8_t roundedHalfUp(double value)
{
    return lowByte(static_cast<int>(value + 0.5));
}

uint8_t clampedByte(double value)
{
    const int whole = static_cast<int>(value);
    return static_cast<uint8_t>(whole < 0 ? 0 : whole > 255 ? 255 : whole);
}

// The hue in degrees of a colour whose maximum lies in sector (0 red,
// 1 green, 2 blue), from the difference n of the two other components
// (green - blue, blue - red, red - green) and the spread d = max - min > 0.
float hueDegrees(int sector, float n, float d)
{
    float h = n / d;
    if (sector != 0) {
        h += static_cast<float>(2 * sector);
    }
    h *= DEGREES_PER_SECTOR;
    return h < 0.0f ? h + 360.0f : h;
}

// The hue byte of every sector, spread and difference of byte components
// (0 for spread 0).
const std::array<uint8_t, HUE_SECTORS * DIFFERENCES>& hueBytes()
{
    static const auto table = [] {
        auto bytes = std::make_unique<std::array<uint8_t, HUE_SECTORS * DIFFERENCES>>();
        for (int sector = 0; sector < HUE_SECTORS; ++sector) {
            for (int d = 1; d < 256; ++d) {
                for (int n = -d; n <= d; ++n) {
                    (*bytes)[static_cast<std::size_t>(sector * DIFFERENCES + d * d + d + n)] =
                        lowByte(static_cast<int>(hueDegrees(sector, static_cast<float>(n), static_cast<float>(d))));
                }
            }
        }
        return bytes;
    }();
    return *table;
}

// H, S, V bytes of R, G, B pixels, as kpRGBToHSV computes them and the
// bytes keep them: black has hue byte 255, a gray pixel 0 (the table's
// entries of spread 0), and S is 1 exactly when the minimum is 0 (d / v
// < 1 otherwise). Written without branches on the pixel values.
void hsvPixels(const uint8_t* __restrict in, uint8_t* __restrict out, std::size_t pixels)
{
    const uint8_t* hues = hueBytes().data();
    for (std::size_t i = 0; i < 3 * pixels; i += 3) {
        const int r = in[i], g = in[i + 1], b = in[i + 2];
        const int v = std::max(r, std::max(g, b));
        const int d = v - std::min(r, std::min(g, b));
        const int sector = r == v ? 0 : g == v ? 1 : 2;
        const int n = sector == 0 ? g - b : sector == 1 ? b - r : r - g;
        const uint8_t hue = hues[sector * DIFFERENCES + d * d + d + n];
        out[i] = v == 0 ? 255 : hue;
        out[i + 1] = d == v && v != 0 ? 1 : 0;
        out[i + 2] = static_cast<uint8_t>(v);
    }
}

KP_AVX2_CLONE void hsvPixelsAvx2(const uint8_t* in, uint8_t* out, std::size_t pixels)
{
    hsvPixels(in, out, pixels);
}

void toYcrCbPixels(const uint8_t* __restrict in, uint8_t* __restrict out, std::size_t pixels)
{
    for (std::size_t i = 0; i < 3 * pixels; i += 3) {
        const double r = in[i], g = in[i + 1], b = in[i + 2];
        out[i] = roundedHalfUp(0.257 * r + 0.504 * g + 0.098 * b + 16);
        out[i + 1] = roundedHalfUp(0.439 * r - 0.368 * g - 0.071 * b + 128);
        out[i + 2] = roundedHalfUp(-0.148 * r - 0.291 * g + 0.439 * b + 128);
    }
}

KP_AVX2_CLONE void toYcrCbPixelsAvx2(const uint8_t* in, uint8_t* out, std::size_t pixels)
{
    toYcrCbPixels(in, out, pixels);
}

void fromYcrCbPixels(const uint8_t* __restrict in, uint8_t* __restrict out, std::size_t pixels)
{
    for (std::size_t i = 0; i < 3 * pixels; i += 3) {
        const double luma = 1.164 * (in[i] - 16);
        const double cr = in[i + 1] - 128;
        const double cb = in[i + 2] - 128;
        out[i] = clampedByte(luma + 1.596 * cr);
        out[i + 1] = clampedByte(luma - 0.813 * cr - 0.392 * cb);
        out[i + 2] = clampedByte(luma + 2.017 * cb);
    }
}

KP_AVX2_CLONE void fromYcrCbPixelsAvx2(const uint8_t* in, uint8_t* out, std::size_t pixels)
{
    fromYcrCbPixels(in, out, pixels);
}

// A new 24-bit image of the size, default header otherwise, whose buffer
// the caller fills.
KpImage unfilledColourImage(int32_t width, int32_t height)
{
    KpImageHead head;
    head.width = width;
    head.height = height;
    head.depth = 24;
    return KpImage(KpPixelBuffer::kpAllocate(KpImageHead::kpRowBytes(width, 24), height).release(), head);
}

// Sector i and fraction f of each hue byte, h / 60 = i + f.
struct HueSector {
    int index;
    float fraction;
};

const std::array<HueSector, 256>& hueSectors()
{
    static const std::array<HueSector, 256> table = [] {
        std::array<HueSector, 256> sectors{};
        for (int h = 0; h < 256; ++h) {
            const float scaled = static_cast<float>(h) / DEGREES_PER_SECTOR;
            const float index = std::floor(scaled);
            sectors[static_cast<std::size_t>(h)] = {static_cast<int>(index), scaled - index};
        }
        return sectors;
    }();
    return table;
}

// (r, g, b) from the sector and the three levels p (lowest), q (falling)
// and t (rising) of the sector's colour wheel.
void sectorColour(int index, float v, float p, float q, float t, float* r, float* g, float* b)
{
    switch (index) {
    case 0: *r = v; *g = t; *b = p; break;
    case 1: *r = q; *g = v; *b = p; break;
    case 2: *r = p; *g = v; *b = t; break;
    case 3: *r = p; *g = q; *b = v; break;
    case 4: *r = t; *g = p; *b = v; break;
    default: *r = v; *g = p; *b = q; break;
    }
}

// R, G, B bytes of H, S, V pixels through the rule of kpHSVToRGB, each
// component truncated to int and kept as its low byte.
void rgbPixels(const uint8_t* __restrict in, uint8_t* __restrict out, std::size_t pixels)
{
    const std::array<HueSector, 256>& sectors = hueSectors();
    for (std::size_t i = 0; i < 3 * pixels; i += 3) {
        const float v = in[i + 2];
        const float s = in[i + 1];
        if (in[i + 1] == 0) {
            out[i] = out[i + 1] = out[i + 2] = in[i + 2];
            continue;
        }
        const HueSector sector = sectors[in[i]];
        float r, g, b;
        sectorColour(sector.index, v, v * (1.0f - s), v * (1.0f - s * sector.fraction),
                     v * (1.0f - s * (1.0f - sector.fraction)), &r, &g, &b);
        out[i] = lowByte(static_cast<int>(r));
        out[i + 1] = lowByte(static_cast<int>(g));
        out[i + 2] = lowByte(static_cast<int>(b));
    }
}

KP_AVX2_CLONE void rgbPixelsAvx2(const uint8_t* in, uint8_t* out, std::size_t pixels)
{
    rgbPixels(in, out, pixels);
}

using PixelLoop = void (*)(const uint8_t*, uint8_t*, std::size_t);

// Runs the AVX2 build of a conversion loop when allowed, else its
// baseline build, over every pixel of source into result.
void convertPixels(const KpImage& source, KpImage& result, PixelLoop baseline, PixelLoop avx2)
{
    const PixelLoop loop = KpProcessor::kpUseAvx2() ? avx2 : baseline;
    loop(source.kpGetData(), result.kpGetData(), source.kpGetImageSize() / 3);
}

} // namespace

void KpImage::kpRGBToHSV(float r, float g, float b, float* h, float* s, float* v)
{
    const float maximum = std::max(r, std::max(g, b));
    const float minimum = std::min(r, std::min(g, b));
    *v = maximum;
    if (maximum == 0.0f) {
        *s = 0.0f;
        *h = -1.0f;
        return;
    }
    const float d = maximum - minimum;
    *s = d / maximum;
    if (d == 0.0f) {
        *h = 0.0f; // a gray has no hue
    } else if (r == maximum) {
        *h = hueDegrees(0, g - b, d);
    } else if (g == maximum) {
        *h = hueDegrees(1, b - r, d);
    } else {
        *h = hueDegrees(2, r - g, d);
    }
}

void KpImage::kpHSVToRGB(float h, float s, float v, float* r, float* g, float* b)
{
    if (s == 0.0f) {
        *r = *g = *b = v;
        return;
    }
    const float scaled = h / DEGREES_PER_SECTOR;
    const float index = std::floor(scaled);
    const float f = scaled - index;
    // Sectors past 5, below 0 or not a number all take the last formula.
    const int sector = index >= 0.0f && index <= 5.0f ? static_cast<int>(index) : 5;
    sectorColour(sector, v, v * (1.0f - s), v * (1.0f - s * f), v * (1.0f - s * (1.0f - f)), r,
                 g, b);
}

KpImage KpImage::kpConvertToYcrCb() const
{
    checkColourSource("kpConvertToYcrCb");
    KpImage result = unfilledCopy();
    convertPixels(*this, result, toYcrCbPixels, toYcrCbPixelsAvx2);
    return result;
}

KpImage KpImage::kpConvertFromYcrCb() const
{
    checkColourSource("kpConvertFromYcrCb");
    KpImage result = unfilledCopy();
    convertPixels(*this, result, fromYcrCbPixels, fromYcrCbPixelsAvx2);
    return result;
}

KpImage KpImage::kpConverRGBToHSV() const
{
    checkColourSource("kpConverRGBToHSV");
    KpImage result = unfilledColourImage(head.width, head.height);
    convertPixels(*this, result, hsvPixels, hsvPixelsAvx2);
    return result;
}

KpImage KpImage::kpConverHSVToRGB() const
{
    checkColourSource("kpConverHSVToRGB");
    KpImage result = unfilledColourImage(head.width, head.height);
    convertPixels(*this, result, rgbPixels, rgbPixelsAvx2);
    return result;
}
