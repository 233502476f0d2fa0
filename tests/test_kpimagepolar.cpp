#include "kpimage.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "kppoint.h"
#include "testsupport.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using testsupport::expectBareFailure;
using testsupport::expectFailure;
using testsupport::grayFromPicture;
using testsupport::pixelsOf;
using testsupport::randomImage;
using testsupport::sixteenBitImage;
using testsupport::uniformColour;
using Converter = KpBitsPerPixelConverter;

constexpr double FULL_TURN = 6.28318530718;

// ---- Literal forms of the rules, one pixel at a time ----

uint8_t literalChannel(const KpImage& image, int x, int y, int channel)
{
    if (x < 0 || y < 0 || x >= image.kpGetWidth() || y >= image.kpGetHeight()) {
        return 255;
    }
    return image.kpGetData()[y * image.kpGetBytesPerRow() + x * image.kpGetChannels() + channel];
}

uint8_t literalSample(const KpImage& image, double u, double v, int channel)
{
    const double a = std::floor(u), b = std::floor(v);
    if (!(std::fabs(a) < 1e9 && std::fabs(b) < 1e9)) {
        return 255;
    }
    const double fu = u - a, fv = v - b;
    const int x = static_cast<int>(a), y = static_cast<int>(b);
    const double s = (1 - fu) * (1 - fv) * literalChannel(image, x, y, channel) +
                     fu * (1 - fv) * literalChannel(image, x + 1, y, channel) +
                     fu * fv * literalChannel(image, x + 1, y + 1, channel) +
                     (1 - fu) * fv * literalChannel(image, x, y + 1, channel);
    return static_cast<uint8_t>(std::min(255.0, std::max(0.0, std::floor(s + 0.5))));
}

KpImage literalPolar(const KpImage& image, bool fromCorners)
{
    const KpPoint centre = image.kpCentroid();
    const double rmax = image.kpRmax(fromCorners);
    const int w = image.kpGetWidth(), h = image.kpGetHeight(), channels = image.kpGetChannels();
    KpImage result(w, h, image.kpGetDepth());
    for (int i = 0; i < h; ++i) {
        for (int j = 0; j < w; ++j) {
            const double r = i * rmax / h, theta = j * FULL_TURN / w;
            for (int c = 0; c < channels; ++c) {
                result.kpGetData()[i * result.kpGetBytesPerRow() + j * channels + c] =
                    literalSample(image, std::cos(theta) * r + centre.x, std::sin(theta) * r + centre.y, c);
            }
        }
    }
    return result;
}

KpImage literalCartesian(const KpImage& image, KpPoint centre, double rmax)
{
    const int w = image.kpGetWidth(), h = image.kpGetHeight(), channels = image.kpGetChannels();
    KpImage result(w, h, image.kpGetDepth());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double dx = static_cast<double>(x) - centre.x, dy = static_cast<double>(y) - centre.y;
            double theta = std::atan2(dy, dx);
            theta = theta < 0 ? theta + FULL_TURN : theta;
            for (int c = 0; c < channels; ++c) {
                result.kpGetData()[y * result.kpGetBytesPerRow() + x * channels + c] =
                    dx == 0 && dy == 0 ? literalChannel(image, x, y, c)
                                       : literalSample(image, w * theta / FULL_TURN, h * std::hypot(dx, dy) / rmax, c);
            }
        }
    }
    return result;
}

// ---- Tests ----

TEST(KpImagePolar, RowZeroRepeatsTheCentre)
{
    KpImage image = grayFromPicture({".........", ".........", "........."});
    image.kpSetPixel(4, 1, 50); // the only dark pixel: the centroid
    const KpImage polar = image.kpPolarImage(true);
    EXPECT_EQ(polar.kpGetDepth(), 8);
    for (int j = 0; j < 9; ++j) {
        EXPECT_EQ(polar.kpGetPixelScale(j, 0), 50) << j;
    }
}

TEST(KpImagePolar, SamplesPastTheLeftAndTopEdgesBlendWithWhite)
{
    // An 8 x 8 black image: centroid (3, 3), corner radius sqrt(50). Row 4
    // reaches u = -0.536 in column 4 (angle pi) and v = -0.536 in column 6
    // (angle 3 pi / 2): 0.536 of white outside and 0.464 of black, 137.
    const KpImage black = grayFromPicture(std::vector<std::string>(8, "########"));
    const KpImage polar = black.kpPolarImage(true);
    EXPECT_EQ(polar.kpGetPixelScale(4, 4), 137);
    EXPECT_EQ(polar.kpGetPixelScale(6, 4), 137);
    EXPECT_EQ(pixelsOf(polar), pixelsOf(literalPolar(black, true)));
}

TEST(KpImagePolar, ResamplingMatchesTheLiteralRules)
{
    uint32_t seed = 20;
    for (int depth : {8, 24}) {
        for (bool fromCorners : {false, true}) {
            const KpImage image = randomImage(13, 10, depth, seed++);
            EXPECT_EQ(pixelsOf(image.kpPolarImage(fromCorners)), pixelsOf(literalPolar(image, fromCorners)))
                << depth << " " << fromCorners;
        }
        const KpImage polar = randomImage(12, 9, depth, seed++);
        EXPECT_EQ(pixelsOf(polar.kpCartesianImage()), pixelsOf(literalCartesian(polar, KpPoint(6, 4), std::hypot(6, 4))));
        struct Case {
            KpPoint centre;
            double rmax;
        };
        for (const Case& c : {Case{{3, 7}, 5.5}, Case{{-4, 20}, 30.0}, Case{{INT32_MIN, INT32_MAX}, 1e-300}}) {
            EXPECT_EQ(pixelsOf(polar.kpCartesianImage(c.centre, c.rmax)), pixelsOf(literalCartesian(polar, c.centre, c.rmax)))
                << depth << " centre " << c.centre.x << "," << c.centre.y;
        }
    }
}

TEST(KpImagePolar, EveryDepthIsKept)
{
    const KpImage gray = randomImage(11, 7, 8, 3);
    const KpImage binary = Converter::kpDownscaleGray2Binary_global(gray, 127);
    const KpImage colour = randomImage(11, 7, 24, 4);
    for (const KpImage* image : {&binary, &gray, &colour}) {
        EXPECT_EQ(image->kpPolarImage(true).kpGetDepth(), image->kpGetDepth());
        EXPECT_EQ(image->kpCartesianImage().kpGetDepth(), image->kpGetDepth());
    }
    // A 1-bit image goes through its gray expansion and back at 127.
    const KpImage expanded = Converter::kpBinary2Gray(binary);
    EXPECT_EQ(pixelsOf(binary.kpPolarImage(false)),
              pixelsOf(Converter::kpDownscaleGray2Binary_global(expanded.kpPolarImage(false), 127)));
    EXPECT_EQ(pixelsOf(binary.kpCartesianImage(KpPoint(2, 2), 4.0)),
              pixelsOf(Converter::kpDownscaleGray2Binary_global(expanded.kpCartesianImage(KpPoint(2, 2), 4.0), 127)));
}

TEST(KpImagePolar, WhiteStaysWhiteAndABlackCentreStaysBlack)
{
    const KpImage white = uniformColour(10, 6, 255, 255, 255);
    const KpImage back = white.kpPolarImage(true).kpCartesianImage();
    EXPECT_EQ(pixelsOf(back), pixelsOf(white));

    KpImage image = grayFromPicture({".....", ".....", ".....", "....."});
    image.kpSetPixel(2, 2, 0);
    EXPECT_EQ(image.kpCartesianImage().kpGetPixelScale(2, 2), 0);

    // The only pixel of a 1 x 1 image is its centre (radius 0).
    EXPECT_EQ(pixelsOf(grayFromPicture({"3"}).kpCartesianImage()), std::vector<uint8_t>{75});
}

TEST(KpImagePolar, Refusals)
{
    const KpImage empty;
    const std::string source = "kpimagepolar.cpp";
    expectFailure([&] { empty.kpPolarImage(true); }, 5, "<KpImage::kpNormalizeGlobalImage()> Image Data is NULL!", source);
    expectFailure([&] { empty.kpCartesianImage(); }, 5, "<KpImage::kpCartesianImage()> Image Data is NULL!", source);
    expectFailure([&] { empty.kpCartesianImage(KpPoint(), 1.0); }, 5, "<KpImage::kpCartesianImage()> Image Data is NULL!", source);
    expectBareFailure([] { sixteenBitImage().kpPolarImage(false); }, 11, "<KpImage::kpPolarImage()> Invalid Depth Value");
    expectBareFailure([] { sixteenBitImage().kpCartesianImage(); }, 11, "<KpImage::kpCartesianImage> Invalid DepthValue");
    expectBareFailure([] { sixteenBitImage().kpCartesianImage(KpPoint(1, 1), 1.0); }, 11,
                      "<KpImage::kpCartesianImage> Invalid DepthValue");
    const KpImage gray(4, 4, 8);
    for (double rmax : {0.0, -1.0, std::nan("")}) {
        expectFailure([&] { gray.kpCartesianImage(KpPoint(2, 2), rmax); }, 7,
                      "<KpImage::kpCartesianImage()> The largest radius must be greater than 0!", source);
    }
}

} // namespace
