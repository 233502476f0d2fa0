#include "kpbitsperpixelconverter.h"

#include "kpexception.h"
#include "kplogger.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace {

using Rgb = std::array<uint8_t, 3>;

// A one-row colour image of these pixels.
KpImage rowOf(const std::vector<Rgb>& pixels)
{
    KpImage image(static_cast<int>(pixels.size()), 1, 24);
    image.kpSetXResolution(72.0f);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        image.kpSetPixel(static_cast<int>(i), 0, pixels[i][0], pixels[i][1], pixels[i][2]);
    }
    return image;
}

std::vector<Rgb> pixelsOf(const KpImage& image)
{
    std::vector<Rgb> pixels;
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            Rgb rgb;
            image.kpGetPixel(x, y, &rgb[0], &rgb[1], &rgb[2]);
            pixels.push_back(rgb);
        }
    }
    return pixels;
}

// n distinct colours whose bytes XOR to the same home slot, so that
// every new colour probes past all earlier ones and wraps around the table.
std::vector<Rgb> collidingColours(int n)
{
    std::vector<Rgb> colours;
    for (int i = 0; i < n; ++i) {
        const uint8_t a = uint8_t(i % 256);
        const uint8_t b = uint8_t(i / 256);
        colours.push_back({a, b, uint8_t(200 ^ a ^ b)});
    }
    return colours;
}

// The cube value of a channel: its level v * 6 / 256, times 51.
uint8_t cubeValue(uint8_t v)
{
    return static_cast<uint8_t>(51 * (v * 6 / 256));
}

TEST(KpReduceColors, UpTo256ColoursAreKeptAndOneMoreReducesEveryPixel)
{
    std::vector<Rgb> colours = collidingColours(256);
    // Repeats do not count.
    colours.insert(colours.end(), colours.begin(), colours.begin() + 10);
    bool reduced = true;
    const KpImage kept = KpBitsPerPixelConverter::kpReduceColors(rowOf(colours), reduced);
    EXPECT_FALSE(reduced);
    EXPECT_EQ(pixelsOf(kept), colours);
    EXPECT_FLOAT_EQ(kept.kpGetXResolution(), 72.0f);

    // One more colour anywhere, here in the middle.
    colours.insert(colours.begin() + 100, Rgb{1, 2, 3});
    const KpImage reducedImage = KpBitsPerPixelConverter::kpReduceColors(rowOf(colours), reduced);
    EXPECT_TRUE(reduced);
    ASSERT_EQ(reducedImage.kpGetWidth(), static_cast<int>(colours.size()));
    const std::vector<Rgb> pixels = pixelsOf(reducedImage);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        const Rgb expected = {cubeValue(colours[i][0]), cubeValue(colours[i][1]), cubeValue(colours[i][2])};
        EXPECT_EQ(pixels[i], expected) << i;
    }
}

TEST(KpReduceColors, ChannelLevelsFollowTheCubeBoundaries)
{
    struct Case {
        uint8_t value;
        uint8_t mapped;
    };
    const Case cases[] = {{0, 0},     {42, 0},    {43, 51},   {85, 51},   {86, 102},  {127, 102},
                          {128, 153}, {170, 153}, {171, 204}, {213, 204}, {214, 255}, {255, 255}};
    // Enough other colours to force the reduction, then every case in
    // every channel.
    std::vector<Rgb> pixels = collidingColours(257);
    const std::size_t first = pixels.size();
    for (const Case& c : cases) {
        pixels.push_back({c.value, c.value, c.value});
        pixels.push_back({c.value, 0, 255});
    }
    pixels.push_back({42, 43, 255});
    bool reduced = false;
    const std::vector<Rgb> result = pixelsOf(KpBitsPerPixelConverter::kpReduceColors(rowOf(pixels), reduced));
    ASSERT_TRUE(reduced);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(result[first + 2 * i], (Rgb{cases[i].mapped, cases[i].mapped, cases[i].mapped})) << int(cases[i].value);
        EXPECT_EQ(result[first + 2 * i + 1], (Rgb{cases[i].mapped, 0, 255})) << int(cases[i].value);
    }
    EXPECT_EQ(result.back(), (Rgb{0, 51, 255}));
}

TEST(KpReduceColors, ReductionIsLoggedAtLevel2)
{
    KpLogger* logger = KpLogger::kpGetInstance();
    logger->kpSetLevel(2);
    bool reduced = false;
    testing::internal::CaptureStdout();
    KpBitsPerPixelConverter::kpReduceColors(rowOf(collidingColours(256)), reduced);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    testing::internal::CaptureStdout();
    KpBitsPerPixelConverter::kpReduceColors(rowOf(collidingColours(257)), reduced);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Color reduction in high color image.\n");
    logger->kpSetLevel(3);
}

TEST(KpReduceColors, BinaryAndGrayImagesBecomeColourUnreduced)
{
    const KpImage gray = testsupport::grayFromPicture({"#.5", "1.#"});
    const KpImage binary = testsupport::binaryFromPicture({"#..#"});
    bool reduced = true;
    const KpImage fromGray = KpBitsPerPixelConverter::kpReduceColors(gray, reduced);
    EXPECT_FALSE(reduced);
    EXPECT_EQ(pixelsOf(fromGray), (std::vector<Rgb>{{0, 0, 0}, {255, 255, 255}, {125, 125, 125},
                                                     {25, 25, 25}, {255, 255, 255}, {0, 0, 0}}));
    reduced = true;
    const KpImage fromBinary = KpBitsPerPixelConverter::kpReduceColors(binary, reduced);
    EXPECT_FALSE(reduced);
    EXPECT_EQ(pixelsOf(fromBinary),
              (std::vector<Rgb>{{0, 0, 0}, {255, 255, 255}, {255, 255, 255}, {0, 0, 0}}));
}

TEST(KpReduceColors, ColourImageWithoutPixelsIsRefused)
{
    KpImage empty;
    empty.kpInitImage(4, 3, 24, false);
    bool reduced = true;
    testsupport::expectFailure([&] { KpBitsPerPixelConverter::kpReduceColors(empty, reduced); }, KP_NO_DATA,
                               "<KpBitsPerPixelConverter::kpReduceColors()> Image Data is NULL!",
                               "kpcolorreduction.cpp");
    EXPECT_FALSE(reduced);
}

} // namespace
