#include "kpimage.h"

#include "kpexception.h"
#include "testsupport.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using testsupport::colourPixels;
using testsupport::expectFailure;
using testsupport::pixelsOf;
using Pixel = std::array<uint8_t, 3>;
using Conversion = KpImage (KpImage::*)() const;

Pixel firstPixel(const KpImage& image)
{
    return {image.kpGetData()[0], image.kpGetData()[1], image.kpGetData()[2]};
}

Pixel converted(Pixel pixel, Conversion conversion)
{
    return firstPixel((colourPixels({pixel}).*conversion)());
}

// Every colour once: 4096 x 4096 pixels, R, G, B = the bytes of the index.
const KpImage& everyColour()
{
    static const KpImage image = [] {
        KpImage all(4096, 4096, 24);
        uint8_t* p = all.kpGetData();
        for (uint32_t i = 0; i < (1u << 24); ++i) {
            p[3 * i] = static_cast<uint8_t>(i >> 16);
            p[3 * i + 1] = static_cast<uint8_t>(i >> 8);
            p[3 * i + 2] = static_cast<uint8_t>(i);
        }
        return all;
    }();
    return image;
}

// ---- Literal forms of the rules, one pixel at a time ----

uint8_t lowByteOf(double value)
{
    return static_cast<uint8_t>(static_cast<int>(value) & 0xFF);
}

uint8_t clamped(double value)
{
    const int whole = static_cast<int>(value);
    return static_cast<uint8_t>(std::min(255, std::max(0, whole)));
}

Pixel literalToYcrCb(const uint8_t* p)
{
    const double r = p[0], g = p[1], b = p[2];
    return {lowByteOf(std::floor(0.257 * r + 0.504 * g + 0.098 * b + 16 + 0.5)),
            lowByteOf(std::floor(0.439 * r - 0.368 * g - 0.071 * b + 128 + 0.5)),
            lowByteOf(std::floor(-0.148 * r - 0.291 * g + 0.439 * b + 128 + 0.5))};
}

Pixel literalFromYcrCb(const uint8_t* p)
{
    const double y = p[0], cr = p[1], cb = p[2];
    return {clamped(1.164 * (y - 16) + 1.596 * (cr - 128)),
            clamped(1.164 * (y - 16) - 0.813 * (cr - 128) - 0.392 * (cb - 128)),
            clamped(1.164 * (y - 16) + 2.017 * (cb - 128))};
}

Pixel literalToHsv(const uint8_t* p)
{
    const float r = p[0], g = p[1], b = p[2];
    const float v = std::max(r, std::max(g, b));
    const float m = std::min(r, std::min(g, b));
    float h = 0.0f, s = 0.0f;
    if (v == 0.0f) {
        h = -1.0f;
    } else {
        const float d = v - m;
        s = d / v;
        if (d > 0.0f) {
            h = r == v ? (g - b) / d : g == v ? (b - r) / d + 2.0f : (r - g) / d + 4.0f;
            h *= 60.0f;
            if (h < 0.0f) {
                h += 360.0f;
            }
        }
    }
    return {lowByteOf(h), lowByteOf(s), lowByteOf(v)};
}

Pixel literalFromHsv(const uint8_t* p)
{
    const float h = p[0], s = p[1], v = p[2];
    if (s == 0.0f) {
        return {lowByteOf(v), lowByteOf(v), lowByteOf(v)};
    }
    const float scaled = h / 60.0f;
    const float i = std::floor(scaled);
    const float f = scaled - i;
    const float pp = v * (1.0f - s), q = v * (1.0f - s * f), t = v * (1.0f - s * (1.0f - f));
    const float rgb[6][3] = {{v, t, pp}, {q, v, pp}, {pp, v, t}, {pp, q, v}, {t, pp, v}, {v, pp, q}};
    const float* c = rgb[static_cast<int>(i)];
    return {lowByteOf(c[0]), lowByteOf(c[1]), lowByteOf(c[2])};
}

// ---- Tests ----

TEST(KpImageColorSpaces, KnownColours)
{
    struct Case {
        const char* name;
        Conversion conversion;
        Pixel in, out;
    };
    const Case cases[] = {
        {"white to YCrCb", &KpImage::kpConvertToYcrCb, {255, 255, 255}, {235, 128, 128}},
        {"black to YCrCb", &KpImage::kpConvertToYcrCb, {0, 0, 0}, {16, 128, 128}},
        {"red to YCrCb", &KpImage::kpConvertToYcrCb, {255, 0, 0}, {82, 240, 90}},
        {"luma white back", &KpImage::kpConvertFromYcrCb, {235, 128, 128}, {254, 254, 254}},
        {"R 433 clamped", &KpImage::kpConvertFromYcrCb, {235, 240, 128}, {255, 163, 254}},
        {"R -1 and G -0.28 clamped", &KpImage::kpConvertFromYcrCb, {26, 120, 175}, {0, 0, 106}},
        {"red to HSV", &KpImage::kpConverRGBToHSV, {255, 0, 0}, {0, 1, 255}},
        {"green to HSV", &KpImage::kpConverRGBToHSV, {0, 255, 0}, {120, 1, 255}},
        {"blue to HSV", &KpImage::kpConverRGBToHSV, {0, 0, 255}, {240, 1, 255}},
        {"magenta hue 300 wraps", &KpImage::kpConverRGBToHSV, {255, 0, 255}, {44, 1, 255}},
        {"black to HSV", &KpImage::kpConverRGBToHSV, {0, 0, 0}, {255, 0, 0}},
        {"gray to HSV", &KpImage::kpConverRGBToHSV, {128, 128, 128}, {0, 0, 128}},
        {"red back", &KpImage::kpConverHSVToRGB, {0, 1, 255}, {255, 0, 0}},
        {"blue back", &KpImage::kpConverHSVToRGB, {240, 1, 255}, {0, 0, 255}},
        {"gray back", &KpImage::kpConverHSVToRGB, {77, 0, 128}, {128, 128, 128}},
        {"saturation 2 wraps", &KpImage::kpConverHSVToRGB, {0, 2, 100}, {100, 156, 156}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(converted(c.in, c.conversion), c.out) << c.name;
    }
}

TEST(KpImageColorSpaces, EveryColourMatchesTheLiteralRules)
{
    struct Case {
        const char* name;
        Conversion conversion;
        Pixel (*literal)(const uint8_t*);
    };
    const Case cases[] = {
        {"to YCrCb", &KpImage::kpConvertToYcrCb, literalToYcrCb},
        {"from YCrCb", &KpImage::kpConvertFromYcrCb, literalFromYcrCb},
        {"to HSV", &KpImage::kpConverRGBToHSV, literalToHsv},
        {"from HSV", &KpImage::kpConverHSVToRGB, literalFromHsv},
    };
    const KpImage& source = everyColour();
    const uint8_t* in = source.kpGetData();
    for (const Case& c : cases) {
        std::vector<uint8_t> expected(source.kpGetImageSize());
        for (std::size_t i = 0; i < expected.size(); i += 3) {
            const Pixel pixel = c.literal(in + i);
            std::copy(pixel.begin(), pixel.end(), expected.begin() + static_cast<std::ptrdiff_t>(i));
        }
        testsupport::forEachBuild([&](const std::string& build) {
            const KpImage result = (source.*c.conversion)();
            ASSERT_EQ(result.kpGetDepth(), 24);
            const auto mismatch = std::mismatch(expected.begin(), expected.end(), result.kpGetData());
            if (mismatch.first != expected.end()) {
                const std::size_t i = static_cast<std::size_t>(mismatch.first - expected.begin()) / 3 * 3;
                ADD_FAILURE() << c.name << " (" << build << ") of " << int(in[i]) << "," << int(in[i + 1]) << ","
                              << int(in[i + 2]);
            }
        });
    }
}

TEST(KpImageColorSpaces, YcrCbKeepsTheHeaderAndHsvStartsAFreshOne)
{
    KpImage image = colourPixels({{1, 2, 3}});
    image.kpSetXResolution(150.0f);
    image.kpSetFormat(3);
    EXPECT_EQ(image.kpConvertToYcrCb().kpGetXResolution(), 150.0f);
    EXPECT_EQ(image.kpConvertFromYcrCb().kpGetFormat(), 3);
    EXPECT_EQ(image.kpConverRGBToHSV().kpGetXResolution(), 0.0f);
    EXPECT_EQ(image.kpConverHSVToRGB().kpGetFormat(), 0);
}

TEST(KpImageColorSpaces, FloatConversionsDefineEveryHue)
{
    float h, s, v;
    KpImage::kpRGBToHSV(90.0f, 90.0f, 90.0f, &h, &s, &v);
    EXPECT_EQ(h, 0.0f);
    EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(v, 90.0f);
    KpImage::kpRGBToHSV(0.0f, 0.0f, 0.0f, &h, &s, &v);
    EXPECT_EQ(h, -1.0f);
    KpImage::kpRGBToHSV(0.0f, 128.0f, 255.0f, &h, &s, &v);
    EXPECT_FLOAT_EQ(h, 209.88235f);

    // Hues outside 0..360 fall in the last sector rather than past a table.
    float r, g, b;
    for (float hue : {-30.0f, 420.0f, 1e30f, NAN}) {
        KpImage::kpHSVToRGB(hue, 0.5f, 200.0f, &r, &g, &b);
        EXPECT_EQ(r, 200.0f) << hue;
        EXPECT_EQ(g, 100.0f) << hue;
    }
}

TEST(KpImageColorSpaces, RefusedImages)
{
    struct Case {
        Conversion conversion;
        const char* name;
    };
    const Case cases[] = {
        {&KpImage::kpConvertToYcrCb, "kpConvertToYcrCb"},
        {&KpImage::kpConvertFromYcrCb, "kpConvertFromYcrCb"},
        {&KpImage::kpConverRGBToHSV, "kpConverRGBToHSV"},
        {&KpImage::kpConverHSVToRGB, "kpConverHSVToRGB"},
    };
    for (const Case& c : cases) {
        const std::string prefix = std::string("<KpImage::") + c.name + "()> ";
        expectFailure([&] { (KpImage().*c.conversion)(); }, 5, prefix + "Image Data is NULL!", "kpimage.cpp");
        for (int depth : {1, 8}) {
            expectFailure([&] { (KpImage(4, 2, depth).*c.conversion)(); }, 7,
                          prefix + "Color image expected in KpImage::" + c.name + "!", "kpimage.cpp");
        }
    }
}

} // namespace
