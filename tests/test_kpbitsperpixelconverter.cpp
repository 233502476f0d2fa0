#include "kpbitsperpixelconverter.h"

#include "kpexception.h"
#include "testsupport.h"

#include <array>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

using Converter = KpBitsPerPixelConverter;
using testsupport::colourPixels;
using testsupport::pixelsOf;

namespace {

void expectFailure(const std::function<void()>& action, int code, const std::string& text)
{
    testsupport::expectFailure(action, code, text, "kpbitsperpixelconverter.cpp");
}

// Random bytes with resolution fields that every conversion must carry.
KpImage randomImage(int width, int height, int depth, std::mt19937& random)
{
    KpImage image = testsupport::randomImage(width, height, depth, static_cast<uint32_t>(random()));
    image.kpSetXResolution(72.5f);
    image.kpSetYResolution(96.0f);
    return image;
}

KpImage headerOnly(int depth)
{
    KpImage image;
    image.kpInitImage(4, 3, depth, false);
    return image;
}

void expectShapeOf(const KpImage& result, const KpImage& source, int depth)
{
    EXPECT_EQ(result.kpGetWidth(), source.kpGetWidth());
    EXPECT_EQ(result.kpGetHeight(), source.kpGetHeight());
    EXPECT_EQ(result.kpGetDepth(), depth);
    EXPECT_EQ(result.kpGetXResolution(), source.kpGetXResolution());
    EXPECT_EQ(result.kpGetYResolution(), source.kpGetYResolution());
    EXPECT_EQ(result.kpIsResolutionInDpi(), source.kpIsResolutionInDpi());
    EXPECT_NE(result.kpGetData(), source.kpGetData());
}

// Literal forms of the rules, pixel by pixel through the accessors.
uint8_t bitOf(const KpImage& image, int x, int y)
{
    const uint8_t byte = image.kpGetData()[y * ((image.kpGetWidth() + 7) / 8) + x / 8];
    return (byte & (0x80 >> (x % 8))) != 0 ? 255 : 0;
}

KpImage literalBinary2Gray(const KpImage& image)
{
    KpImage result(image.kpGetWidth(), image.kpGetHeight(), 8);
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            result.kpSetPixel(x, y, bitOf(image, x, y));
        }
    }
    return result;
}

KpImage literalGlobal(const KpImage& image, int threshold)
{
    KpImage result(image.kpGetWidth(), image.kpGetHeight(), 1);
    std::fill_n(result.kpGetData(), result.kpGetImageSize(), 0);
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            if (image.kpGetPixelScale(x, y) >= threshold) {
                result.kpSetPixel(x, y, 1);
            }
        }
    }
    return result;
}

KpImage literalAverage(const KpImage& image)
{
    const KpImage c0 = image.kpGetChannelImage(0), c1 = image.kpGetChannelImage(1), c2 = image.kpGetChannelImage(2);
    KpImage result(image.kpGetWidth(), image.kpGetHeight(), 8);
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            result.kpSetPixel(x, y, static_cast<uint8_t>((c0.kpGetPixelScale(x, y) + c1.kpGetPixelScale(x, y) + c2.kpGetPixelScale(x, y)) / 3));
        }
    }
    return result;
}

// The per-channel thresholding as a chain of the other operations.
KpImage chainedThreshold(const KpImage& image, int t0, int t1, int t2)
{
    const int thresholds[3] = {t0, t1, t2};
    KpImage channels[3];
    for (int c = 0; c < 3; ++c) {
        channels[c] = Converter::kpBinary2Gray(Converter::kpDownscaleGray2Binary_global(image.kpGetChannelImage(c), thresholds[c]));
    }
    const KpImage merged = KpImage::kpMergeChannelImage(channels[0], channels[1], channels[2]);
    return Converter::kpDownscaleGray2Binary_global(Converter::kpDownscaleColor2Gray_average(merged), 240);
}

const int WIDTHS[] = {1, 7, 8, 9, 10, 16, 17, 63};

TEST(KpBitsPerPixelConverter, GlobalThresholdKeepsPaddingBitsClear)
{
    // Ten pixels: two bytes per row, the six low bits of the second byte
    // lie past the width.
    const std::vector<uint8_t> row = {0, 1, 126, 127, 128, 200, 254, 255, 255, 127};
    KpImage gray(10, 2, 8);
    for (int y = 0; y < 2; ++y) {
        std::copy(row.begin(), row.end(), gray.kpGetData() + 10 * y);
    }
    struct Case {
        int threshold;
        uint8_t first, second;
    };
    const Case cases[] = {
        {0, 0xFF, 0xC0},
        {1, 0x7F, 0xC0},
        {127, 0x1F, 0xC0},
        {128, 0x0F, 0x80},
        {255, 0x01, 0x80},
    };
    for (const Case& c : cases) {
        const KpImage binary = Converter::kpDownscaleGray2Binary_global(gray, c.threshold);
        EXPECT_EQ(binary.kpGetBytesPerRow(), 2);
        EXPECT_EQ(pixelsOf(binary), (std::vector<uint8_t>{c.first, c.second, c.first, c.second})) << c.threshold;
    }
}

TEST(KpBitsPerPixelConverter, FastPathsMatchTheLiteralRules)
{
    std::mt19937 random(11);
    for (int width : WIDTHS) {
        const int height = 1 + width % 5;
        const KpImage binary = randomImage(width, height, 1, random);
        const KpImage gray = randomImage(width, height, 8, random);
        const KpImage colour = randomImage(width, height, 24, random);

        const KpImage expanded = Converter::kpBinary2Gray(binary);
        expectShapeOf(expanded, binary, 8);
        EXPECT_EQ(pixelsOf(expanded), pixelsOf(literalBinary2Gray(binary))) << width;

        for (int threshold : {0, 1, 77, 127, 128, 255}) {
            const KpImage packed = Converter::kpDownscaleGray2Binary_global(gray, threshold);
            expectShapeOf(packed, gray, 1);
            EXPECT_EQ(pixelsOf(packed), pixelsOf(literalGlobal(gray, threshold))) << width << " at " << threshold;
        }

        const KpImage average = Converter::kpDownscaleColor2Gray_average(colour);
        expectShapeOf(average, colour, 8);
        EXPECT_EQ(pixelsOf(average), pixelsOf(literalAverage(colour))) << width;
        EXPECT_EQ(pixelsOf(Converter::kpDownscaleColor2Gray_weighted(colour, 1.0f, 1.0f, 1.0f)), pixelsOf(average));

        const KpImage tripled = Converter::kpGray2Color(gray);
        expectShapeOf(tripled, gray, 24);
        const KpImage whiteOrBlack = Converter::kpBinary2Color(binary);
        expectShapeOf(whiteOrBlack, binary, 24);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(pixelsOf(tripled.kpGetChannelImage(c)), pixelsOf(gray));
            EXPECT_EQ(pixelsOf(whiteOrBlack.kpGetChannelImage(c)), pixelsOf(expanded));
        }

        for (const std::array<int, 3>& t : {std::array<int, 3>{0, 0, 0}, {100, 150, 200}, {255, 1, 128}}) {
            const KpImage direct = Converter::kpDownscaleColor2Binary_threshold(colour, t[0], t[1], t[2]);
            expectShapeOf(direct, colour, 1);
            EXPECT_EQ(pixelsOf(direct), pixelsOf(chainedThreshold(colour, t[0], t[1], t[2]))) << width;
        }
    }
}

TEST(KpBitsPerPixelConverter, BinaryRoundTripKeepsBitsAndClearsPadding)
{
    std::mt19937 random(5);
    const KpImage binary = randomImage(10, 4, 1, random);
    const KpImage back = Converter::kpDownscaleGray2Binary_global(Converter::kpBinary2Gray(binary), 127);
    for (std::size_t i = 0; i < binary.kpGetImageSize(); ++i) {
        const uint8_t mask = i % 2 == 0 ? 0xFF : 0xC0;
        EXPECT_EQ(back.kpGetData()[i], binary.kpGetData()[i] & mask) << i;
    }
}

TEST(KpBitsPerPixelConverter, ColourReductionValues)
{
    const KpImage pixels = colourPixels({{10, 20, 31}, {100, 200, 150}, {99, 255, 255}, {255, 255, 255}});
    EXPECT_EQ(pixelsOf(Converter::kpDownscaleColor2Gray_average(pixels)), (std::vector<uint8_t>{20, 150, 203, 255}));
    // (10*1 + 20*2 + 31*0.5) / 3.5 = 18.71 and so on, truncated.
    EXPECT_EQ(pixelsOf(Converter::kpDownscaleColor2Gray_weighted(pixels, 1.0f, 2.0f, 0.5f)),
              (std::vector<uint8_t>{18, 164, 210, 255}));
    EXPECT_EQ(testsupport::pictureOf(Converter::kpDownscaleColor2Binary_threshold(pixels, 100, 100, 100)),
              (std::vector<std::string>{"#.#."}));
}

TEST(KpBitsPerPixelConverter, PercentThresholdUsesEachChannelsRange)
{
    // Channel ranges 10..50, 0..200 and 100..101: at one half the
    // thresholds are 30, 100 and 100.
    const KpImage pixels = colourPixels({{10, 0, 100}, {50, 200, 101}, {30, 100, 100}, {29, 150, 101}, {40, 99, 101}});
    EXPECT_EQ(testsupport::pictureOf(Converter::kpDownscaleColor2Binary_percentThreshold(pixels, 0.5)),
              (std::vector<std::string>{"#..##"}));
    EXPECT_EQ(pixelsOf(Converter::kpDownscalePercentThresholdBinarization(pixels, 50)),
              pixelsOf(Converter::kpDownscaleColor2Binary_percentThreshold(pixels, 0.5)));
    // At 1.0 the thresholds are 60, 200 and 201: no pixel passes.
    EXPECT_EQ(testsupport::pictureOf(Converter::kpDownscalePercentThresholdBinarization(pixels, 100)),
              (std::vector<std::string>{"#####"}));
    // A bright channel pushes the threshold past 255.
    expectFailure([] { Converter::kpDownscaleColor2Binary_percentThreshold(colourPixels({{200, 0, 0}, {255, 0, 0}}), 0.9); },
                  7, "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_global()> threshold must between 0 and 255");
}

TEST(KpBitsPerPixelConverter, ConvertImageGoesUpOnly)
{
    std::mt19937 random(3);
    const KpImage binary = randomImage(9, 3, 1, random);
    const KpImage gray = randomImage(9, 3, 8, random);
    const KpImage colour = randomImage(9, 3, 24, random);
    struct Case {
        const KpImage* source;
        int target;
        KpImage expected;
    };
    const Case cases[] = {
        {&binary, 1, binary},
        {&binary, 2, Converter::kpBinary2Gray(binary)},
        {&binary, 3, Converter::kpBinary2Color(binary)},
        {&gray, 2, gray},
        {&gray, 3, Converter::kpGray2Color(gray)},
        {&colour, 3, colour},
    };
    for (const Case& c : cases) {
        const KpImage result = Converter::kpConvertImage(*c.source, c.target);
        EXPECT_EQ(result.kpGetDepth(), c.expected.kpGetDepth());
        EXPECT_EQ(pixelsOf(result), pixelsOf(c.expected)) << c.source->kpGetDepth() << " to " << c.target;
        EXPECT_NE(result.kpGetData(), c.source->kpGetData());
    }
}

struct FailureCase {
    const char* name;
    std::function<void()> action;
    int code;
    const char* text;
};

TEST(KpBitsPerPixelConverter, RefusalsRaiseTheirCodeAndText)
{
    std::mt19937 random(1);
    const KpImage binary = randomImage(4, 3, 1, random);
    const KpImage gray = randomImage(4, 3, 8, random);
    const KpImage colour = randomImage(4, 3, 24, random);
    KpImage odd = gray;
    odd.kpSetHeader(4, 3, 16, 0.0f, 0.0f, false);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const FailureCase cases[] = {
        {"binary2gray of gray", [&] { Converter::kpBinary2Gray(gray); }, 7,
         "<KpBitsPerPixelConverter::kpBinary2Gray> Binary image expected in KpImage::kpBinary2Gray!"},
        {"binary2gray without data", [] { Converter::kpBinary2Gray(headerOnly(1)); }, 5,
         "<KpBitsPerPixelConverter::kpBinary2Gray> Image Data is NULL!"},
        {"gray2color of colour", [&] { Converter::kpGray2Color(colour); }, 7,
         "<KpBitsPerPixelConverter::kpGray2Color()> Gray image expected in KpImage::kpGray2Color!"},
        {"gray2color without data", [] { Converter::kpGray2Color(headerOnly(8)); }, 5,
         "<KpBitsPerPixelConverter::kpGray2Color()> Image Data is NULL!"},
        {"binary2color of gray", [&] { Converter::kpBinary2Color(gray); }, 7,
         "<KpBitsPerPixelConverter::kpBinary2Color()> Binary image expected in KpImage::kpBinary2Color!"},
        {"binary2color without data", [] { Converter::kpBinary2Color(headerOnly(1)); }, 5,
         "<KpBitsPerPixelConverter::kpBinary2Color()> Image Data is NULL!"},
        {"convert gray to binary", [&] { Converter::kpConvertImage(gray, 1); }, 11,
         "<KpBitsPerPixelConverter::kpConvertImage()> User must downscale from Grayscale to Binary before performing this function"},
        {"convert colour to binary", [&] { Converter::kpConvertImage(colour, 1); }, 11,
         "<KpBitsPerPixelConverter::kpConvertImage()> User must downscale from Color to Binary before performing this function"},
        {"convert 16-bit to binary", [&] { Converter::kpConvertImage(odd, 1); }, 11,
         "<KpBitsPerPixelConverter::kpConvertImage()> KpBitsPerPixelConverter::kpConvertImage() Only supports Upscaling of images.!"},
        {"convert colour to gray", [&] { Converter::kpConvertImage(colour, 2); }, 11,
         "<KpBitsPerPixelConverter::kpConvertImage()> User must downscale from Color to Grayscale before performing this function"},
        {"convert 16-bit to gray", [&] { Converter::kpConvertImage(odd, 2); }, 3,
         "<KpBitsPerPixelConverter::kpConvertImage()> Not Yet Implemented!"},
        {"convert 16-bit to colour", [&] { Converter::kpConvertImage(odd, 3); }, 3,
         "<KpBitsPerPixelConverter::kpConvertImage()> Not Yet Implemented!"},
        {"convert to format 4", [&] { Converter::kpConvertImage(gray, 4); }, 11,
         "<KpBitsPerPixelConverter::kpConvertImage()> KpBitsPerPixelConverter::kpConvertImage() Only Supports 1, 8 and 24 bit images!"},
        {"global of binary", [&] { Converter::kpDownscaleGray2Binary_global(binary, 127); }, 7,
         "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_global()> A KP_BYTE image expected in KpImage::kpDownscaleGray2Binary_global!"},
        {"global at 256", [&] { Converter::kpDownscaleGray2Binary_global(gray, 256); }, 7,
         "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_global()> threshold must between 0 and 255"},
        {"global at -1", [&] { Converter::kpDownscaleGray2Binary_global(gray, -1); }, 7,
         "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_global()> threshold must between 0 and 255"},
        {"global without data", [] { Converter::kpDownscaleGray2Binary_global(headerOnly(8), 127); }, 5,
         "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_global()> Image Data is NULL!"},
        {"average of gray", [&] { Converter::kpDownscaleColor2Gray_average(gray); }, 7,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_average()> 24-bit color image required in kpDownscaleColor2Gray_average."},
        {"average without data", [] { Converter::kpDownscaleColor2Gray_average(headerOnly(24)); }, 5,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_average()> Image Data is NULL!"},
        {"weighted of gray", [&] { Converter::kpDownscaleColor2Gray_weighted(gray, 1, 1, 1); }, 7,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_weighted()> 24-bit color image required in kpDownscaleColor2Gray_weighted."},
        {"weighted with a zero weight", [&] { Converter::kpDownscaleColor2Gray_weighted(colour, 1, 0, 1); }, 14,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_weighted()> All weights must be positive in kpDownscaleColor2Gray_weighted."},
        {"weighted with a negative weight", [&] { Converter::kpDownscaleColor2Gray_weighted(colour, 1, 1, -2); }, 14,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_weighted()> All weights must be positive in kpDownscaleColor2Gray_weighted."},
        {"weighted with a NaN weight", [&] { Converter::kpDownscaleColor2Gray_weighted(colour, nan, 1, 1); }, 14,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_weighted()> All weights must be positive in kpDownscaleColor2Gray_weighted."},
        {"weighted without data", [] { Converter::kpDownscaleColor2Gray_weighted(headerOnly(24), 1, 1, 1); }, 5,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Gray_weighted()> Image Data is NULL!"},
        {"threshold of gray", [&] { Converter::kpDownscaleColor2Binary_threshold(gray, 1, 1, 1); }, 7,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Binary_threshold()> A Color image is expected in percentThresholdBinarization!!"},
        {"threshold without data", [] { Converter::kpDownscaleColor2Binary_threshold(headerOnly(24), 1, 1, 1); }, 5,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Binary_threshold()> Image Data is NULL!"},
        {"threshold above 255 in the last channel", [&] { Converter::kpDownscaleColor2Binary_threshold(colour, 1, 1, 256); }, 7,
         "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_global()> threshold must between 0 and 255"},
        {"fraction 1.5 before the channel test", [&] { Converter::kpDownscaleColor2Binary_percentThreshold(gray, 1.5); }, 7,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Binary_percentThreshold()> Percentage must be from 0.0 to 1.0 !!"},
        {"fraction below 0", [&] { Converter::kpDownscaleColor2Binary_percentThreshold(colour, -0.01); }, 7,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Binary_percentThreshold()> Percentage must be from 0.0 to 1.0 !!"},
        {"fraction of gray", [&] { Converter::kpDownscaleColor2Binary_percentThreshold(gray, 0.5); }, 7,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Binary_percentThreshold()> A Color image is expected in percentThresholdBinarization!!"},
        {"fraction without data", [] { Converter::kpDownscaleColor2Binary_percentThreshold(headerOnly(24), 0.5); }, 5,
         "<KpBitsPerPixelConverter::kpDownscaleColor2Binary_percentThreshold()> Image Data is NULL!"},
        {"percent 101", [&] { Converter::kpDownscalePercentThresholdBinarization(colour, 101); }, 7,
         "<KpBitsPerPixelConverter::kpDownscalePercentThresholdBinarization()> Percentage must be from 0 to 100 !!"},
        {"percent -1", [&] { Converter::kpDownscalePercentThresholdBinarization(colour, -1); }, 7,
         "<KpBitsPerPixelConverter::kpDownscalePercentThresholdBinarization()> Percentage must be from 0 to 100 !!"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        expectFailure(c.action, c.code, c.text);
    }
}

} // namespace
