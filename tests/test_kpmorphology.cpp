#include "kpmorphology.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "testsupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

using testsupport::binaryFromPicture;
using testsupport::expectFailure;
using testsupport::pictureOf;
using testsupport::pixelsOf;
using testsupport::randomImage;
using testsupport::uniformColour;
using Picture = std::vector<std::string>;
using Weights = std::vector<std::vector<double>>;

// ---- Erosion and dilation ----

// The literal rule on the gray expansion: a pixel of value from with a
// 4-neighbour of value to (inside the image) becomes to.
KpImage literalSteps(const KpImage& binary, int iterations, uint8_t from, uint8_t to)
{
    KpImage gray = KpBitsPerPixelConverter::kpBinary2Gray(binary);
    const int w = gray.kpGetWidth(), h = gray.kpGetHeight();
    for (int step = 0; step < iterations; ++step) {
        const KpImage source(gray);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int neighbours[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
                bool touches = false;
                for (const auto& n : neighbours) {
                    touches = touches || (source.kpIsInside(n[0], n[1]) && source.kpGetPixelScale(n[0], n[1]) == to);
                }
                if (source.kpGetPixelScale(x, y) == from && touches) {
                    gray.kpSetPixel(x, y, to);
                }
            }
        }
    }
    return KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(gray, 127);
}

TEST(KpMorphology, ErodeAndDilateOnPictures)
{
    struct Case {
        const char* name;
        bool erode;
        int iterations;
        Picture in, out;
    };
    const Case cases[] = {
        {"no step", true, 0, {"#.#", "..#"}, {"#.#", "..#"}},
        {"square erodes to its centre", true, 1,
         {".....", ".###.", ".###.", ".###.", "....."}, {".....", ".....", "..#..", ".....", "....."}},
        {"pixel dilates to a plus", false, 1,
         {".....", ".....", "..#..", ".....", "....."}, {".....", "..#..", ".###.", "..#..", "....."}},
        {"two steps make a diamond", false, 2,
         {".....", ".....", "..#..", ".....", "....."}, {"..#..", ".###.", "#####", ".###.", "..#.."}},
        {"all black stays black", true, 5, {"###", "###"}, {"###", "###"}},
        {"all white stays white", false, 5, {"...", "..."}, {"...", "..."}},
        {"black at the edge keeps its outside side", true, 1, {"##.", "##.", "##."}, {"#..", "#..", "#.."}},
    };
    for (const Case& c : cases) {
        const KpImage source = binaryFromPicture(c.in);
        const KpImage result = c.erode ? KpMorphology::kpErode(source, c.iterations)
                                       : KpMorphology::kpDilate(source, c.iterations);
        EXPECT_EQ(result.kpGetDepth(), 1) << c.name;
        EXPECT_EQ(pictureOf(result), c.out) << c.name;
    }
}

TEST(KpMorphology, StepsMatchTheLiteralRuleAndClearPadding)
{
    for (int width : {1, 7, 8, 9, 17, 64, 70}) {
        // Random bytes, padding bits included: they must neither act as
        // neighbours nor survive into the result.
        KpImage source = randomImage(width, 6, 1, static_cast<uint32_t>(width));
        source.kpSetXResolution(72.5f);
        source.kpSetYResolution(96.0f);
        for (int iterations : {0, 1, 3}) {
            const KpImage eroded = KpMorphology::kpErode(source, iterations);
            const KpImage dilated = KpMorphology::kpDilate(source, iterations);
            EXPECT_EQ(pixelsOf(eroded), pixelsOf(literalSteps(source, iterations, 0, 255))) << width << " " << iterations;
            EXPECT_EQ(pixelsOf(dilated), pixelsOf(literalSteps(source, iterations, 255, 0))) << width << " " << iterations;
            EXPECT_EQ(eroded.kpGetXResolution(), 72.5f);
            EXPECT_EQ(dilated.kpGetYResolution(), 96.0f);
        }
    }
}

TEST(KpMorphology, Refusals)
{
    const KpImage gray(3, 3, 8);
    KpImage binaryWithoutData;
    binaryWithoutData.kpInitImage(3, 3, 1, false);
    const std::string source = "kpmorphology.cpp";
    for (auto operation : {&KpMorphology::kpErode, &KpMorphology::kpDilate}) {
        expectFailure([&] { operation(gray, 1); }, 7,
                      "<KpBitsPerPixelConverter::kpBinary2Gray> Binary image expected in KpImage::kpBinary2Gray!", source);
        expectFailure([&] { operation(binaryWithoutData, 1); }, 5,
                      "<KpBitsPerPixelConverter::kpBinary2Gray> Image Data is NULL!", source);
    }
    const KpImage binary = binaryFromPicture({"#."});
    expectFailure([&] { KpMorphology::kpOpen(binary, 1); }, 3, "<KpMorphology::kpOpen()> Not Yet Implemented!", source);
    expectFailure([&] { KpMorphology::kpClose(binary, 1); }, 3, "<KpMorphology::kpClose()> Not Yet Implemented!", source);
}

// ---- Mask filters ----

// Calls kpApplyMask with a caller's array of row pointers.
KpImage applyMask(const KpImage& image, Weights weights)
{
    std::vector<double*> rows;
    for (auto& row : weights) {
        rows.push_back(row.data());
    }
    return KpMorphology::kpApplyMask(image, rows.data(), static_cast<int>(rows.size()));
}

// The literal rule: per channel the window sum in double precision, rows
// top to bottom, divided by the weights' sum (at least 1), truncated and
// clamped; a black frame of size / 2 pixels.
KpImage literalMask(const KpImage& image, const Weights& weights)
{
    const int size = static_cast<int>(weights.size()), lo = size / 2;
    double maskSum = 0.0;
    for (const auto& row : weights) {
        for (double w : row) {
            maskSum += w;
        }
    }
    maskSum = maskSum < 1.0 ? 1.0 : maskSum;
    const int width = image.kpGetWidth(), height = image.kpGetHeight();
    KpImage result(width, height, 24);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                uint8_t value = 0;
                if (y >= lo && y < height - lo && x >= lo && x < width - lo) {
                    double sum = 0.0;
                    for (int r = 0; r < size; ++r) {
                        for (int k = 0; k < size; ++k) {
                            sum += weights[r][k] * image.kpGetData()[(y - lo + r) * 3 * width + 3 * (x - lo + k) + c];
                        }
                    }
                    const double q = std::trunc(sum / maskSum);
                    value = static_cast<uint8_t>(q < 0 ? 0 : q > 255 ? 255 : q);
                }
                result.kpGetData()[y * 3 * width + 3 * x + c] = value;
            }
        }
    }
    return result;
}

const Weights BLUR = {{0, 0, 1, 0, 0}, {0, 8, 21, 8, 0}, {1, 21, 59, 21, 1}, {0, 8, 21, 8, 0}, {0, 0, 1, 0, 0}};
const Weights SHARPEN = {{0, 0, -1, 0, 0}, {0, -8, -21, -8, 0}, {-1, -21, 299, -21, -1}, {0, -8, -21, -8, 0}, {0, 0, -1, 0, 0}};

TEST(KpMorphology, MasksMatchTheLiteralRule)
{
    std::mt19937 random(11);
    std::uniform_int_distribution<int> integer(-40, 60);
    std::uniform_real_distribution<double> real(-1.0, 3.0);
    auto randomWeights = [&](int size, bool whole) {
        Weights weights(static_cast<std::size_t>(size), std::vector<double>(static_cast<std::size_t>(size)));
        for (auto& row : weights) {
            for (double& w : row) {
                w = whole ? integer(random) : real(random);
            }
        }
        return weights;
    };
    struct Case {
        const char* name;
        Weights weights;
    };
    const Case cases[] = {
        {"smoothing", BLUR},
        {"sharpening", SHARPEN},
        {"single weight whose reciprocal rounds down", {{41.0}}},
        {"whole 3 x 3", randomWeights(3, true)},
        {"whole 7 x 7", randomWeights(7, true)},
        {"fractional 3 x 3", randomWeights(3, false)},
        {"fractional 5 x 5", randomWeights(5, false)},
        {"sum below one", {{-1, 0, 0}, {0, 1, 0}, {0, 0, -1}}},
        {"weights too large for single precision", {{0, 0, 0}, {-9000, 9001, 1}, {0, 0, 0}}},
        {"huge weights", {{1e300, 0, 0}, {0, 1, 0}, {0, 0, -1e300}}},
        {"larger than the image", randomWeights(11, true)},
    };
    // Wide enough for whole blocks of lanes and a remainder.
    const KpImage image = randomImage(15, 8, 24, 11);
    testsupport::forEachBuild([&](const std::string& build) {
        for (const Case& c : cases) {
            EXPECT_EQ(pixelsOf(applyMask(image, c.weights)), pixelsOf(literalMask(image, c.weights))) << c.name << " " << build;
        }
    });
}

TEST(KpMorphology, BlurKeepsUniformColourInsideABlackFrame)
{
    const KpImage result = KpMorphology::kpBlur(uniformColour(7, 6, 10, 200, 255), 1);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 7; ++x) {
            uint8_t r, g, b;
            result.kpGetPixel(x, y, &r, &g, &b);
            const bool inside = x >= 2 && x < 5 && y >= 2 && y < 4;
            EXPECT_EQ(r, inside ? 10 : 0) << x << "," << y;
            EXPECT_EQ(g, inside ? 200 : 0) << x << "," << y;
            EXPECT_EQ(b, inside ? 255 : 0) << x << "," << y;
        }
    }
    // Each step widens the frame by reading the last one.
    EXPECT_EQ(pixelsOf(KpMorphology::kpBlur(uniformColour(7, 6, 10, 200, 255), 2)),
              pixelsOf(KpMorphology::kpBlur(result, 1)));
}

TEST(KpMorphology, SharpenClampsBothSidesOfAStep)
{
    // Black columns 0..3, white columns 4..7. Left of the step the window
    // sum is -38 * 255 (-54 after division, 202 if it wrapped); right of
    // it 217 * 255 (309, 53 if it wrapped).
    KpImage step(8, 5, 24);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 8; ++x) {
            const uint8_t v = x < 4 ? 0 : 255;
            step.kpSetPixel(x, y, v, v, v);
        }
    }
    const KpImage result = KpMorphology::kpSharpen(step, 1);
    uint8_t r, g, b;
    result.kpGetPixel(3, 2, &r, &g, &b);
    EXPECT_EQ(r, 0);
    result.kpGetPixel(4, 2, &r, &g, &b);
    EXPECT_EQ(r, 255);
}

TEST(KpMorphology, NoIterationsCopyAnyImage)
{
    const KpImage binary = binaryFromPicture({"#.", ".#"});
    EXPECT_EQ(pixelsOf(KpMorphology::kpSharpen(binary, 0)), pixelsOf(binary));
    EXPECT_EQ(pixelsOf(KpMorphology::kpBlur(binary, -1)), pixelsOf(binary));
}

TEST(KpMorphology, MaskRefusals)
{
    const KpImage colour = uniformColour(6, 6, 1, 2, 3);
    const std::string source = "kpmorphology.cpp";
    double row[5] = {1, 1, 1, 1, 1};
    double* rows[5] = {row, row, row, row, row};
    for (int size : {4, 0, -1}) {
        expectFailure([&] { KpMorphology::kpApplyMask(colour, rows, size); }, 7,
                      "<KpMorphology::kpApplyMask()> The mask size must be odd and at least 1!", source);
    }
    expectFailure([&] { KpMorphology::kpApplyMask(colour, nullptr, 3); }, 7,
                  "<KpMorphology::kpApplyMask()> A mask of size rows of size weights is required!", source);
    rows[1] = nullptr;
    expectFailure([&] { KpMorphology::kpApplyMask(colour, rows, 3); }, 7,
                  "<KpMorphology::kpApplyMask()> A mask of size rows of size weights is required!", source);
    expectFailure([] { KpMorphology::kpBlur(KpImage(6, 6, 8), 1); }, 7,
                  "<KpImage::kpGetChannelImage()> Color image expected in KpImage::kpGetChannel!", source);
    expectFailure([] { KpMorphology::kpSharpen(KpImage(), 1); }, 5,
                  "<KpImage::kpGetChannelImage()> Image Data is NULL!", source);
}

TEST(KpMorphology, LuminanceBinarisationThresholdsYAt195)
{
    // Gray 208 has Y = 195, gray 207 has Y = 194; the blurred frame is black.
    struct Case {
        uint8_t gray;
        char inside;
    };
    for (const Case& c : {Case{208, '.'}, Case{207, '#'}}) {
        const KpImage result = KpBitsPerPixelConverter::kpDownscaleColor2Binary_ycrcb(uniformColour(6, 5, c.gray, c.gray, c.gray));
        EXPECT_EQ(result.kpGetDepth(), 1);
        const std::string row(1, c.inside);
        EXPECT_EQ(pictureOf(result), (Picture{"######", "######", "##" + row + row + "##", "######", "######"}))
            << int(c.gray);
    }
}

} // namespace
