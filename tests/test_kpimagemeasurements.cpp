#include "kpimage.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "testsupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using testsupport::capturedLog;
using testsupport::expectBareFailure;
using testsupport::expectFailure;
using testsupport::grayFromPicture;
using testsupport::randomImage;
using testsupport::sixteenBitImage;

KpImage grayWithBlack(int width, int height, const std::vector<KpPoint>& black)
{
    KpImage image(width, height, 8);
    for (const KpPoint& p : black) {
        image.kpSetPixel(p.x, p.y, 0);
    }
    return image;
}

// Random images whose pixels are mostly white, so that the darkness has a
// shape: each byte is 255 unless a random draw keeps it.
KpImage sparseImage(int width, int height, int depth, uint32_t seed)
{
    KpImage image = randomImage(width, height, depth, seed);
    const KpImage mask = randomImage(width, height, depth, seed + 1);
    for (std::size_t i = 0; i < image.kpGetImageSize(); ++i) {
        if (mask.kpGetData()[i] < 200) {
            image.kpGetData()[i] = 255;
        }
    }
    return image;
}

// The weight of each pixel as its definition reads: 255 minus the gray
// value (after the gray expansion of a 1-bit image), or the truncated
// mean of 255 minus each colour byte.
std::vector<std::vector<int>> literalWeights(const KpImage& image)
{
    const KpImage gray = image.kpGetDepth() == 1 ? KpBitsPerPixelConverter::kpBinary2Gray(image) : image;
    std::vector<std::vector<int>> weights(image.kpGetHeight(), std::vector<int>(image.kpGetWidth()));
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            if (image.kpGetDepth() == 24) {
                uint8_t r, g, b;
                image.kpGetPixel(x, y, &r, &g, &b);
                weights[y][x] = ((255 - r) + (255 - g) + (255 - b)) / 3;
            } else {
                weights[y][x] = 255 - gray.kpGetPixelScale(x, y);
            }
        }
    }
    return weights;
}

KpPoint literalCentroid(const KpImage& image)
{
    const std::vector<std::vector<int>> weights = literalWeights(image);
    uint64_t sx = 0, sy = 0, w = 0;
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            sx += static_cast<uint64_t>(x) * weights[y][x];
            sy += static_cast<uint64_t>(y) * weights[y][x];
            w += weights[y][x];
        }
    }
    return w == 0 ? KpPoint(0, 0) : KpPoint(static_cast<int>(sx / w), static_cast<int>(sy / w));
}

// The largest distance to a pixel below 255, channel by channel for
// colour, around the centroid of the whole image.
double literalRmax(const KpImage& image)
{
    const KpPoint c = image.kpCentroid();
    std::vector<KpImage> planes;
    if (image.kpGetDepth() == 24) {
        for (int channel = 0; channel < 3; ++channel) {
            planes.push_back(image.kpGetChannelImage(channel));
        }
    } else {
        planes.push_back(image.kpGetDepth() == 1 ? KpBitsPerPixelConverter::kpBinary2Gray(image) : image);
    }
    int64_t largest = 0;
    for (const KpImage& plane : planes) {
        for (int y = 0; y < image.kpGetHeight(); ++y) {
            for (int x = 0; x < image.kpGetWidth(); ++x) {
                if (plane.kpGetPixelScale(x, y) < 255) {
                    const int64_t dx = x - c.x, dy = y - c.y;
                    largest = std::max(largest, dx * dx + dy * dy);
                }
            }
        }
    }
    return std::sqrt(static_cast<double>(largest));
}

// The values of one channel, pixel by pixel (a 1-bit pixel is 0 or 255).
std::vector<double> channelValues(const KpImage& image, int channel)
{
    const KpImage plane = image.kpGetDepth() == 24   ? image.kpGetChannelImage(channel)
                          : image.kpGetDepth() == 1 ? KpBitsPerPixelConverter::kpBinary2Gray(image)
                                                    : image;
    std::vector<double> values;
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            values.push_back(plane.kpGetPixelScale(x, y));
        }
    }
    return values;
}

// Mean and median of a list of values by sorting, and the moments by
// summing pixel by pixel.
struct Figures {
    double mean, median, deviation, skewness, kurtosis;
};

Figures literalFigures(std::vector<double> values)
{
    const double n = static_cast<double>(values.size());
    double sum = 0;
    for (double v : values) {
        sum += v;
    }
    const double mean = sum / n;
    double s2 = 0, s3 = 0, s4 = 0;
    for (double v : values) {
        s2 += (v - mean) * (v - mean);
        s3 += (v - mean) * (v - mean) * (v - mean);
        s4 += (v - mean) * (v - mean) * (v - mean) * (v - mean);
    }
    std::sort(values.begin(), values.end());
    const std::size_t half = values.size() / 2;
    const double median = values.size() % 2 == 1 ? values[half] : (values[half - 1] + values[half]) / 2;
    const double variance = n > 1 ? s2 / (n - 1) : 0;
    const double deviation = std::sqrt(variance);
    return {mean, median, deviation, (s3 / n) / (deviation * variance), (s4 / n) / (variance * variance)};
}

void expectChannel(const KpImageStatistics& statistics, int channel, const Figures& expected, const std::string& what)
{
    EXPECT_EQ(statistics.mean[channel], expected.mean) << what;
    EXPECT_EQ(statistics.median[channel], expected.median) << what;
    EXPECT_NEAR(statistics.standardDeviation[channel], expected.deviation, 1e-9 * expected.deviation) << what;
    EXPECT_NEAR(statistics.skewness[channel], expected.skewness, 1e-9) << what;
    EXPECT_NEAR(statistics.kurtosis[channel], expected.kurtosis, 1e-9 * expected.kurtosis) << what;
}

TEST(KpImageStatistics, UniformImageHasNoDeviation)
{
    KpImage image(5, 3, 8);
    std::fill_n(image.kpGetData(), image.kpGetImageSize(), 77);
    const KpImageStatistics statistics = image.kpImageStatistics();
    for (int channel = 0; channel < 3; ++channel) {
        EXPECT_EQ(statistics.mean[channel], 77.0);
        EXPECT_EQ(statistics.median[channel], 77.0);
        EXPECT_EQ(statistics.standardDeviation[channel], 0.0);
        EXPECT_FALSE(std::isfinite(statistics.skewness[channel]));
        EXPECT_FALSE(std::isfinite(statistics.kurtosis[channel]));
    }
}

TEST(KpImageStatistics, TwoBlackAndTwoWhitePixels)
{
    const KpImageStatistics statistics = grayFromPicture({"#.", "#."}).kpImageStatistics();
    EXPECT_EQ(statistics.mean[0], 127.5);
    EXPECT_EQ(statistics.median[0], 127.5);
    EXPECT_DOUBLE_EQ(statistics.standardDeviation[0], std::sqrt(4 * 127.5 * 127.5 / 3));
    EXPECT_EQ(statistics.skewness[0], 0.0);
    EXPECT_DOUBLE_EQ(statistics.kurtosis[0], 9.0 / 16.0);
    EXPECT_EQ(statistics.median[2], 127.5);
}

TEST(KpImageStatistics, BinaryMedianFollowsThePixels)
{
    // '#' is black (0), '.' white (255); the rows are 3 pixels wide, so
    // five padding bits of each byte are set and must not count.
    const struct {
        const char* name;
        std::vector<std::string> picture;
        double mean, median;
    } cases[] = {
        {"mostly white", {"#..", "..."}, 255.0 * 5 / 6, 255.0},
        {"half white", {"#.#", ".#."}, 127.5, 127.5},
        {"mostly black", {"###", "#.#"}, 255.0 / 6, 0.0},
    };
    for (const auto& c : cases) {
        KpImage image = testsupport::binaryFromPicture(c.picture);
        for (int y = 0; y < image.kpGetHeight(); ++y) {
            image.kpGetData()[y] |= 0x1F;
        }
        const KpImageStatistics statistics = image.kpImageStatistics();
        EXPECT_DOUBLE_EQ(statistics.mean[0], c.mean) << c.name;
        EXPECT_EQ(statistics.median[0], c.median) << c.name;
        EXPECT_EQ(statistics.median[1], c.median) << c.name;
    }
}

TEST(KpImageStatistics, AgreesWithSortingAndSummingAtEveryDepth)
{
    for (int depth : {1, 8, 24}) {
        for (int width : {1, 6, 13, 301}) {
            for (int height : {1, 4}) {
                const KpImage image = randomImage(width, height, depth, 7 * width + height);
                const KpImageStatistics statistics = image.kpImageStatistics();
                for (int channel = 0; channel < 3; ++channel) {
                    const int source = depth == 24 ? channel : 0;
                    if (width * height > 2) {
                        expectChannel(statistics, channel, literalFigures(channelValues(image, source)),
                                      std::to_string(depth) + " bits " + std::to_string(width) + " x " + std::to_string(height));
                    }
                }
            }
        }
    }
}

TEST(KpImageStatistics, Failures)
{
    expectFailure([] { KpImage().kpImageStatistics(); }, 5, "<KpImage::kpImageStatistics()> Image Data is NULL!");
    expectFailure([] { sixteenBitImage().kpImageStatistics(); }, 11, "<KpImage::kpImageStatistics()> only supports 1, 8, and 24 bits");
}

TEST(KpImageProjectProfile, RowsAndColumns)
{
    const KpImage image = grayFromPicture({"#.1", "..#", "2#4"});
    EXPECT_EQ(image.kpProjectProfile(1), (std::vector<int32_t>{255 + 25, 510, 50 + 100}));
    EXPECT_EQ(image.kpProjectProfile(2), (std::vector<int32_t>{50 + 255, 510, 25 + 100}));
}

TEST(KpImageProjectProfile, SumsBeyond32BitsAreRefused)
{
    // 8,421,504 white pixels sum to 2,147,483,520, one more passes 2^31 - 1.
    for (int width : {8421504, 8421505}) {
        const KpImage row(width, 1, 8);
        if (width == 8421504) {
            EXPECT_EQ(row.kpProjectProfile(1), std::vector<int32_t>{2147483520});
        } else {
            expectFailure([&row] { row.kpProjectProfile(1); }, 11,
                          "<KpImage::kpProjectProfile()> A profile sum does not fit in 32 bits");
        }
        EXPECT_EQ(row.kpProjectProfile(2)[static_cast<std::size_t>(width - 1)], 255);
    }
}

TEST(KpImageProjectProfile, ColumnsTallerThanOneBlockOfRows)
{
    // Column sums gather 2^24 rows at a time in 32-bit counters.
    const int height = (1 << 24) + 3;
    KpImage column(1, height, 8);
    std::fill_n(column.kpGetData(), column.kpGetImageSize(), 1);
    column.kpGetData()[height - 1] = 200;
    EXPECT_EQ(column.kpProjectProfile(2), std::vector<int32_t>{height - 1 + 200});
}

TEST(KpImageProjectProfile, Failures)
{
    const std::string prefix = "<KpImage::kpProjectProfile()> ";
    expectFailure([] { KpImage().kpProjectProfile(1); }, 5, prefix + "Image Data is NULL!");
    expectFailure([] { KpImage(2, 2, 24).kpProjectProfile(1); }, 3, prefix + "Only byte image is supported in kpProjectProfile");
    expectFailure([] { KpImage(2, 2, 1).kpProjectProfile(2); }, 3, prefix + "Only byte image is supported in kpProjectProfile");
    expectFailure([] { KpImage(2, 2, 8).kpProjectProfile(3); }, 11, prefix + "Only supports Vertical and Horizontal flips");
}

TEST(KpImageHistogram, GrayCountsEachValue)
{
    const std::vector<int32_t> histogram = grayFromPicture({"#.1", "..#", "2#4"}).kpHistogramImage();
    ASSERT_EQ(histogram.size(), 256u);
    std::vector<int32_t> expected(256, 0);
    expected[0] = 3;
    expected[255] = 3;
    expected[25] = expected[50] = expected[100] = 1;
    EXPECT_EQ(histogram, expected);
}

TEST(KpImageHistogram, BinaryCountsPixelsNotPadding)
{
    for (int width : {1, 8, 11}) {
        const KpImage image = randomImage(width, 5, 1, width);
        int white = 0;
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < width; ++x) {
                white += image.kpGetPixelScale(x, y) == 255;
            }
        }
        EXPECT_EQ(image.kpHistogramImage(), (std::vector<int32_t>{5 * width - white, white})) << width;
    }
}

TEST(KpImageHistogram, Failures)
{
    expectFailure([] { KpImage().kpHistogramImage(); }, 5, "<KpImage::kpHistogramImage()> Image Data is NULL!");
    expectFailure([] { KpImage(2, 2, 24).kpHistogramImage(); }, 11,
                  "<KpImage::kpHistogramImage()>  Histgram Only supports Binary and Gray Image");
}

TEST(KpImageIsGrayScaleBW, Cases)
{
    KpImage withGray = grayFromPicture({"#.", ".#"});
    withGray.kpSetPixel(1, 1, 128);
    const struct {
        const char* name;
        KpImage image;
        bool expected;
    } cases[] = {
        {"black and white", grayFromPicture({"#.#", "..#"}), true},
        {"a single 128", withGray, false},
        {"all black", grayFromPicture({"##", "##"}), true},
        {"binary", testsupport::binaryFromPicture({"#.#.#.#.#"}), true},
        {"random bytes", randomImage(300, 3, 8, 5), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.image.kpIsGrayScaleBW(), c.expected) << c.name;
    }
    // One stray value late in a large image.
    KpImage large(5000, 3, 8);
    large.kpSetPixel(4999, 2, 1);
    EXPECT_FALSE(large.kpIsGrayScaleBW());
}

TEST(KpImageIsGrayScaleBW, Failures)
{
    expectFailure([] { KpImage().kpIsGrayScaleBW(); }, 5, "<KpImage::kpIsGrayScaleBW()> Image Data is NULL!");
    expectFailure([] { KpImage(2, 2, 24).kpIsGrayScaleBW(); }, 3,
                  "<KpImage::kpIsGrayBW()> Not Implemented for Color Image in KpImage::kpIsGrayScaleBW !");
    expectFailure([] { sixteenBitImage().kpIsGrayScaleBW(); }, 11, "<KpImage::kpIsGrayScaleBW()>  only support 1 and 8 bits");
}

TEST(KpImageCentroid, Cases)
{
    const struct {
        const char* name;
        KpImage image;
        int x, y;
    } cases[] = {
        {"white", KpImage(6, 4, 8), 0, 0},
        {"one black pixel", grayWithBlack(10, 10, {KpPoint(5, 7)}), 5, 7},
        {"sums divided as integers", grayWithBlack(3, 2, {KpPoint(0, 0), KpPoint(2, 1)}), 1, 0},
        {"binary", testsupport::binaryFromPicture({"..........", ".........#", "........##"}), 8, 1},
    };
    for (const auto& c : cases) {
        const KpPoint centre = c.image.kpCentroid();
        EXPECT_EQ(centre.x, c.x) << c.name;
        EXPECT_EQ(centre.y, c.y) << c.name;
    }
}

TEST(KpImageCentroid, AgreesWithItsDefinitionAtEveryDepth)
{
    for (int depth : {1, 8, 24}) {
        for (int width : {1, 7, 13, 300, 611}) {
            for (const KpImage& image : {randomImage(width, 9, depth, width), sparseImage(width, 9, depth, width)}) {
                const KpPoint expected = literalCentroid(image);
                const KpPoint centre = image.kpCentroid();
                EXPECT_EQ(centre.x, expected.x) << depth << " bits, width " << width;
                EXPECT_EQ(centre.y, expected.y) << depth << " bits, width " << width;
            }
        }
    }
}

TEST(KpImageCentroid, BlankImageIsLoggedForOneAndEightBits)
{
    const std::string blank = "<KpImage::kpCentroid> Image is blank, no centroid\n";
    EXPECT_EQ(capturedLog([] { KpImage(3, 3, 8).kpCentroid(); }), blank);
    EXPECT_EQ(capturedLog([] { KpImage(3, 3, 1).kpCentroid(); }), blank);
    EXPECT_EQ(capturedLog([] { KpImage(3, 3, 24).kpCentroid(); }), "");
}

TEST(KpImageCentroid, FailuresCarryNoSourceLocation)
{
    expectBareFailure([] { KpImage().kpCentroid(); }, 5, "KpCentroid: Image Data is NULL!");
    expectBareFailure([] { sixteenBitImage().kpCentroid(); }, 11, "KpCentroid: Invalid Depth Value");
}

TEST(KpImageRmax, FromCornersOfAnImageCentredAtFiveFive)
{
    const KpImage image = grayWithBlack(10, 10, {KpPoint(5, 5)});
    EXPECT_DOUBLE_EQ(image.kpRmax(true), std::sqrt(50.0));
    // The far corner of an off-centre mass.
    EXPECT_DOUBLE_EQ(grayWithBlack(10, 10, {KpPoint(2, 1)}).kpRmax(true), std::hypot(8.0, 9.0));
}

TEST(KpImageRmax, FromDarkPixels)
{
    const struct {
        const char* name;
        KpImage image;
        double expected;
    } cases[] = {
        {"blank", KpImage(5, 5, 8), 0.0},
        {"one pixel at the centroid", grayWithBlack(5, 5, {KpPoint(3, 1)}), 0.0},
        {"two pixels", grayWithBlack(9, 9, {KpPoint(0, 0), KpPoint(8, 6)}), 5.0},
        {"binary", testsupport::binaryFromPicture({"#.........", "..........", ".........#"}), std::hypot(5.0, 1.0)},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(c.image.kpRmax(false), c.expected) << c.name;
    }
}

TEST(KpImageRmax, AgreesWithItsDefinitionAtEveryDepth)
{
    for (int depth : {1, 8, 24}) {
        for (int width : {1, 7, 13, 300}) {
            const KpImage image = sparseImage(width, 11, depth, 3 * width);
            EXPECT_DOUBLE_EQ(image.kpRmax(false), literalRmax(image)) << depth << " bits, width " << width;
        }
    }
    // A colour pixel counts when any one channel is below 255.
    KpImage colour(9, 9, 24);
    colour.kpSetPixel(4, 4, 0, 0, 0);
    colour.kpSetPixel(8, 4, 255, 254, 255);
    EXPECT_DOUBLE_EQ(colour.kpRmax(false), 4.0);
}

TEST(KpImageRmax, SquaresBeyond32BitsOnAWideRow)
{
    // x - cx = 50000 squares beyond 2^31.
    const KpImage image = grayWithBlack(100001, 1, {KpPoint(0, 0), KpPoint(100000, 0)});
    EXPECT_EQ(image.kpCentroid().x, 50000);
    EXPECT_DOUBLE_EQ(image.kpRmax(false), 50000.0);
}

TEST(KpImageRmax, CentroidFailuresComeFirst)
{
    expectBareFailure([] { KpImage().kpRmax(true); }, 5, "KpCentroid: Image Data is NULL!");
    expectBareFailure([] { sixteenBitImage().kpRmax(false); }, 11, "KpCentroid: Invalid Depth Value");
}

} // namespace
