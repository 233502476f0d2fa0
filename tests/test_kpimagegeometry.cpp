#include "kpimage.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "testsupport.h"

#include <climits>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

using Converter = KpBitsPerPixelConverter;
using testsupport::binaryFromPicture;
using testsupport::capturedLog;
using testsupport::expectFailure;
using testsupport::grayFromPicture;
using testsupport::pictureOf;
using testsupport::randomImage;
using testsupport::sixteenBitImage;

const double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
const double INFINITE = std::numeric_limits<double>::infinity();


// A random image with a stated format, reserved1 and resolution.
KpImage describedImage(int width, int height, int depth, uint32_t seed)
{
    KpImage image = randomImage(width, height, depth, seed);
    image.kpSetHeader(width, height, depth, 72.0f, 150.0f, false);
    image.kpSetFormat(depth == 24 ? 3 : depth == 1 ? 1 : 2);
    image.kpSetReserved1(1);
    return image;
}

std::vector<uint8_t> bytesOf(const KpImage& image)
{
    return std::vector<uint8_t>(image.kpGetData(), image.kpGetData() + image.kpGetImageSize());
}

// One pixel as the bytes of its channels (a 1-bit pixel as 0 or 255).
std::vector<uint8_t> pixelAt(const KpImage& image, int x, int y)
{
    if (image.kpGetDepth() == 24) {
        uint8_t r, g, b;
        image.kpGetPixel(x, y, &r, &g, &b);
        return {r, g, b};
    }
    return {image.kpGetPixelScale(x, y)};
}

// Equal size and depth and equal pixels (padding bits aside).
void expectSamePixels(const KpImage& actual, const KpImage& expected, const std::string& what)
{
    ASSERT_EQ(actual.kpGetWidth(), expected.kpGetWidth()) << what;
    ASSERT_EQ(actual.kpGetHeight(), expected.kpGetHeight()) << what;
    ASSERT_EQ(actual.kpGetDepth(), expected.kpGetDepth()) << what;
    for (int y = 0; y < actual.kpGetHeight(); ++y) {
        for (int x = 0; x < actual.kpGetWidth(); ++x) {
            ASSERT_EQ(pixelAt(actual, x, y), pixelAt(expected, x, y)) << what << " at (" << x << ", " << y << ")";
        }
    }
}

struct HeaderFields {
    int format, reserved1;
    float xResolution, yResolution;
    bool dpi;
};

HeaderFields fieldsOf(const KpImage& image)
{
    return {image.kpGetFormat(), image.kpGetReserved1(), image.kpGetXResolution(), image.kpGetYResolution(),
            image.kpIsResolutionInDpi()};
}

void expectFields(const KpImage& image, const HeaderFields& expected, const std::string& what)
{
    const HeaderFields actual = fieldsOf(image);
    EXPECT_EQ(actual.format, expected.format) << what;
    EXPECT_EQ(actual.reserved1, expected.reserved1) << what;
    EXPECT_EQ(actual.xResolution, expected.xResolution) << what;
    EXPECT_EQ(actual.yResolution, expected.yResolution) << what;
    EXPECT_EQ(actual.dpi, expected.dpi) << what;
}

const HeaderFields FRESH = {0, 0, 0.0f, 0.0f, true};

// ---- Cutting out

TEST(KpImageSubImage, WholeImageEqualsTheSource)
{
    for (int depth : {1, 8, 24}) {
        const KpImage image = describedImage(13, 5, depth, depth);
        const KpImage whole = image.SubImage(0, 0, 13, 5);
        EXPECT_EQ(bytesOf(whole), bytesOf(image)) << depth;
    }
}

TEST(KpImageSubImage, AgreesPixelByPixelAtEveryDepth)
{
    const struct {
        int x, y, width, height;
    } rectangles[] = {{3, 1, 9, 4}, {8, 0, 16, 2}, {0, 2, 1, 1}, {5, 0, 31, 5}, {17, 3, 19, 2}, {35, 4, 1, 1}};
    for (int depth : {1, 8, 24}) {
        const KpImage image = randomImage(36, 5, depth, 11 + depth);
        for (const auto& r : rectangles) {
            const KpImage cut = image.SubImage(r.x, r.y, r.width, r.height);
            ASSERT_EQ(cut.kpGetWidth(), r.width);
            ASSERT_EQ(cut.kpGetHeight(), r.height);
            for (int y = 0; y < r.height; ++y) {
                for (int x = 0; x < r.width; ++x) {
                    ASSERT_EQ(pixelAt(cut, x, y), pixelAt(image, r.x + x, r.y + y))
                        << depth << " bits, cut at (" << r.x << ", " << r.y << "), pixel (" << x << ", " << y << ")";
                }
            }
        }
    }
}

TEST(KpImageSubImage, BinaryCutsShiftOrCopyWholeBytes)
{
    const KpImage image = binaryFromPicture({"...#.##.#..#.###", "#..##...##...#.."});
    EXPECT_EQ(pictureOf(image.SubImage(3, 0, 9, 2)), (std::vector<std::string>{"#.##.#..#", "##...##.."}));
    const KpImage whole = image.SubImage(8, 0, 8, 2);
    EXPECT_EQ(whole.kpGetData()[0], image.kpGetData()[1]);
    EXPECT_EQ(whole.kpGetData()[1], image.kpGetData()[3]);
}

TEST(KpImageSubImage, HeaderFieldsOfEachDepth)
{
    for (int depth : {1, 8, 24}) {
        const KpImage image = describedImage(8, 4, depth, 3);
        const KpImage cut = image.SubImage(1, 1, 3, 2);
        // An 8-bit cut-out takes the resolutions only.
        const HeaderFields expected =
            depth == 8 ? HeaderFields{0, 0, 72.0f, 150.0f, true} : fieldsOf(image);
        expectFields(cut, expected, std::to_string(depth) + " bits");
    }
}

TEST(KpImageSubImage, Failures)
{
    const std::string outside = "Out Of Bounds!! Sub-image must have coordinates within the larger image";
    const KpImage image(10, 6, 8);
    const struct {
        const char* name;
        int x, y, width, height;
    } cases[] = {
        {"one column too far", 1, 0, 10, 6}, {"one row too far", 0, 1, 10, 6}, {"negative x", -1, 0, 2, 2},
        {"negative y", 0, -1, 2, 2},         {"no width", 0, 0, 0, 2},        {"no height", 0, 0, 2, 0},
        {"x + width wraps", INT_MAX, 0, 2, 1}, {"y + height wraps", 0, 2, 1, INT_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectFailure([&] { image.SubImage(c.x, c.y, c.width, c.height); }, 7, outside);
        expectFailure([&] { image.kpSubByteImage(c.x, c.y, c.width, c.height); }, 7, outside);
    }
    expectFailure([] { KpImage().SubImage(0, 0, 1, 1); }, 5, "Image Data is NULL!");
    expectFailure([] { KpImage().kpSubByteImage(0, 0, 1, 1); }, 5, "Image Data is NULL!");
    expectFailure([] { sixteenBitImage().SubImage(0, 0, 1, 1); }, 11, "KpImage::SubImage() only supports 1, 8, and 24 bits");
    expectFailure([] { KpImage(4, 4, 24).kpSubByteImage(0, 0, 1, 1); }, 11, "KpImage::kpSubByteImage() only supports 8 bits");
}

// ---- Scaling

// The bilinear scaling as its definition reads, with a source of one
// pixel along an axis taking that pixel with weight 1.
KpImage literalResize(const KpImage& source, int newWidth, int newHeight)
{
    const int width = source.kpGetWidth(), height = source.kpGetHeight();
    const double sx = static_cast<double>(newWidth) / width, sy = static_cast<double>(newHeight) / height;
    KpImage result(newWidth, newHeight, 8);
    for (int i = 0; i < newHeight; ++i) {
        double fy = i / sy;
        int y0 = static_cast<int>(std::floor(fy)), y1 = y0 + 1;
        if (y1 >= height) {
            y0 = height - 2;
            fy = y1 = height - 1;
        }
        for (int j = 0; j < newWidth; ++j) {
            double fx = j / sx;
            int x0 = static_cast<int>(std::floor(fx)), x1 = x0 + 1;
            if (x1 >= width) {
                x0 = width - 2;
                fx = x1 = width - 1;
            }
            auto p = [&source](int x, int y) { return source.kpGetPixelScale(x < 0 ? 0 : x, y < 0 ? 0 : y); };
            const double v = p(x0, y0) * (x1 - fx) * (y1 - fy) + p(x1, y0) * (fx - x0) * (y1 - fy) +
                             p(x0, y1) * (x1 - fx) * (fy - y0) + p(x1, y1) * (fx - x0) * (fy - y0);
            const double rounded = std::floor(v + 0.5);
            result.kpSetPixel(j, i, static_cast<uint8_t>(rounded > 255 ? 255 : rounded));
        }
    }
    return result;
}

KpImage perChannel(const KpImage& colour, const std::function<KpImage(const KpImage&)>& operation)
{
    return KpImage::kpMergeChannelImage(operation(colour.kpGetChannelImage(0)), operation(colour.kpGetChannelImage(1)),
                                        operation(colour.kpGetChannelImage(2)));
}

TEST(KpImageResize, AgreesWithTheBilinearFormula)
{
    const struct {
        int width, height, newWidth, newHeight;
    } cases[] = {
        {17, 11, 17, 11}, {17, 11, 34, 22}, {17, 11, 8, 5},  {17, 11, 40, 7}, {9, 9, 13, 3},
        {1, 1, 4, 3},     {1, 7, 5, 11},    {7, 1, 11, 5},  {1, 7, 1, 3},    {2, 2, 1, 1},
        // Weights exact in 1/256 steps, and in whole pixels.
        {16, 12, 8, 6},   {16, 12, 64, 48}, {12, 16, 3, 4}, {20, 8, 15, 32}, {256, 3, 257, 3},
    };
    for (const auto& c : cases) {
        const std::string what = std::to_string(c.width) + " x " + std::to_string(c.height) + " to " +
                                  std::to_string(c.newWidth) + " x " + std::to_string(c.newHeight);
        const KpImage gray = randomImage(c.width, c.height, 8, c.width * 31 + c.height);
        const KpImage expected = literalResize(gray, c.newWidth, c.newHeight);
        EXPECT_EQ(bytesOf(gray.kpResizeByteImage(c.newWidth, c.newHeight)), bytesOf(expected)) << what;
        EXPECT_EQ(bytesOf(gray.ResizeImage(c.newWidth, c.newHeight)), bytesOf(expected)) << what;
        const KpImage colour = randomImage(c.width, c.height, 24, c.width + c.height);
        expectSamePixels(colour.ResizeImage(c.newWidth, c.newHeight),
                         perChannel(colour, [&c](const KpImage& plane) { return literalResize(plane, c.newWidth, c.newHeight); }),
                         what + " colour");
    }
}

TEST(KpImageResize, SameSizeReproducesTheSourceAndHalvesRoundUp)
{
    const KpImage image = randomImage(23, 9, 8, 4);
    EXPECT_EQ(bytesOf(image.kpResizeByteImage(23, 9)), bytesOf(image));
    // Between 10 and 11 the weights are one half each: 10.5 rounds to 11.
    KpImage pair(2, 1, 8);
    pair.kpGetData()[0] = 10;
    pair.kpGetData()[1] = 11;
    EXPECT_EQ(bytesOf(pair.kpResizeByteImage(4, 1)), (std::vector<uint8_t>{10, 11, 11, 11}));
}

TEST(KpImageResize, BinaryGoesThroughGray)
{
    const KpImage image = describedImage(21, 13, 1, 8);
    for (const auto& size : {std::pair<int, int>{21, 13}, {40, 30}, {10, 6}, {7, 20}}) {
        const KpImage gray = Converter::kpBinary2Gray(image).kpResizeByteImage(size.first, size.second);
        const KpImage expected = Converter::kpDownscaleGray2Binary_global(gray, 128);
        const KpImage resized = image.ResizeImage(size.first, size.second);
        expectSamePixels(resized, expected, std::to_string(size.first));
        expectFields(resized, {0, 0, 72.0f, 150.0f, true}, "binary");
    }
}

TEST(KpImageResize, ByFactor)
{
    const KpImage image = randomImage(10, 7, 24, 2);
    const KpImage twice = image.kpResizeImage(2.0);
    EXPECT_EQ(twice.kpGetWidth(), 20);
    EXPECT_EQ(twice.kpGetHeight(), 14);
    const KpImage third = image.kpResizeImage(0.35);
    EXPECT_EQ(third.kpGetWidth(), 3);
    EXPECT_EQ(third.kpGetHeight(), 2);
    expectFields(twice, FRESH, "colour");
}

TEST(KpImageResize, Failures)
{
    const KpImage gray(4, 3, 8);
    const std::string noSize = "not supported Size <= 0";
    expectFailure([] { KpImage(1, 1, 8).kpResizeImage(0.5); }, 11, noSize);
    expectFailure([&gray] { gray.ResizeImage(0, 3); }, 11, noSize);
    expectFailure([&gray] { gray.ResizeImage(3, -1); }, 11, noSize);
    expectFailure([&gray] { gray.kpResizeByteImage(0, 3); }, 11, noSize);
    expectFailure([] { KpImage().ResizeImage(2, 2); }, 5, "Image Data is NULL!");
    expectFailure([] { KpImage().kpResizeByteImage(2, 2); }, 5, "Image Data is NULL!");
    expectFailure([] { KpImage(2, 2, 24).kpResizeByteImage(2, 2); }, 11, "not supported format in KpImage::kpResizeByteImage");
    expectFailure([] { sixteenBitImage().ResizeImage(2, 2); }, 11, "KpImage::ResizeImage() only supports 1, 8, and 24 bits");
    for (double factor : {0.0, -2.0, -INFINITE}) {
        expectFailure([&gray, factor] { gray.kpResizeImage(factor); }, 11, "<KpImage::kpResizeImage()> not supported factor <= 0");
    }
    for (double factor : {NOT_A_NUMBER, INFINITE}) {
        expectFailure([&gray, factor] { gray.kpResizeImage(factor); }, 7, "<KpImage::kpResizeImage()> The factor must be a finite number");
    }
    expectFailure([&gray] { gray.kpResizeImage(1e12); }, 7, "<KpImage::kpResizeImage()> The resized image would not fit 32-bit sizes");
}

// ---- Rotation

// The rotation as its definition reads, over the whole canvas.
KpImage literalRotate(const KpImage& source, double degrees)
{
    const double a = degrees * 3.14159265359 / 180;
    const int width = source.kpGetWidth(), height = source.kpGetHeight();
    const int ox = width / 2, oy = height / 2;
    int minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (const KpPoint& corner : {KpPoint(-ox, -oy), KpPoint(-ox, height - oy), KpPoint(width - ox, -oy), KpPoint(width - ox, height - oy)}) {
        const int x = static_cast<int>(std::floor(std::cos(a) * corner.x - std::sin(a) * corner.y + 0.5));
        const int y = static_cast<int>(std::floor(std::sin(a) * corner.x + std::cos(a) * corner.y + 0.5));
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }
    KpImage result(maxX - minX + 1, maxY - minY + 1, 8);
    const int nx = result.kpGetWidth() / 2, ny = result.kpGetHeight() / 2;
    for (int y = 0; y < result.kpGetHeight(); ++y) {
        for (int x = 0; x < result.kpGetWidth(); ++x) {
            const double dx = x - nx, dy = y - ny;
            const double sx = dx * std::cos(a) + dy * std::sin(a) + ox;
            const double sy = -dx * std::sin(a) + dy * std::cos(a) + oy;
            if (sx >= 0 && sx < width && sy >= 0 && sy < height) {
                const long k = static_cast<long>(std::floor(std::floor(sy) * width + sx + 0.5));
                if (k >= 0 && k < static_cast<long>(width) * height) {
                    result.kpSetPixel(x, y, source.kpGetData()[k]);
                }
            }
        }
    }
    return result;
}

TEST(KpImageRotate, AgreesWithItsDefinition)
{
    for (double degrees : {0.0, 30.0, 45.0, 90.0, 180.0, -73.5, 370.0, 1.0e-3}) {
        for (const auto& size : {std::pair<int, int>{10, 10}, {31, 17}, {1, 9}, {40, 1}}) {
            const std::string what = std::to_string(degrees) + " degrees, " + std::to_string(size.first) + " x " + std::to_string(size.second);
            const KpImage gray = randomImage(size.first, size.second, 8, size.first + size.second);
            const KpImage expected = literalRotate(gray, degrees);
            expectSamePixels(gray.kpRotateByteImage(degrees), expected, what);
            expectSamePixels(gray.kpRotateImage(degrees), expected, what);
            const KpImage colour = randomImage(size.first, size.second, 24, size.first);
            expectSamePixels(colour.kpRotateImage(degrees),
                             perChannel(colour, [degrees](const KpImage& plane) { return literalRotate(plane, degrees); }),
                             what + " colour");
        }
    }
}

TEST(KpImageRotate, ZeroDegreesGrowsTheCanvasByOne)
{
    const KpImage image = randomImage(10, 10, 8, 6);
    const KpImage rotated = image.kpRotateByteImage(0);
    ASSERT_EQ(rotated.kpGetWidth(), 11);
    ASSERT_EQ(rotated.kpGetHeight(), 11);
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(rotated.kpGetPixelScale(10, i), 255);
        EXPECT_EQ(rotated.kpGetPixelScale(i, 10), 255);
    }
    EXPECT_EQ(rotated.SubImage(0, 0, 10, 10).kpGetData()[37], image.kpGetData()[37]);
}

TEST(KpImageRotate, BinaryGoesThroughGrayAndSaysSo)
{
    const KpImage image = describedImage(19, 12, 1, 5);
    KpImage rotated;
    const std::string log = capturedLog([&] { rotated = image.kpRotateImage(30); });
    EXPECT_EQ(log, "Warning....the input is a binary image\nProcessing....returning binary output image\n\n");
    expectSamePixels(rotated, Converter::kpDownscaleGray2Binary_global(Converter::kpBinary2Gray(image).kpRotateByteImage(30), 127), "binary");
    expectFields(rotated, FRESH, "binary");
}

TEST(KpImageRotate, RotatePoint)
{
    const double quarter = 3.14159265359 / 2;
    const struct {
        KpPoint point;
        double radians;
        int x, y;
    } cases[] = {
        {KpPoint(3, 1), 0.0, 3, 1},
        {KpPoint(4, 0), quarter, 0, 4},
        {KpPoint(2, -5), 2 * quarter, -2, 5},
        {KpPoint(10, 0), quarter / 3, 9, 5},
    };
    for (const auto& c : cases) {
        KpPoint rotated;
        KpImage::kpRotatePoint(c.point, rotated, c.radians);
        EXPECT_EQ(rotated.x, c.x);
        EXPECT_EQ(rotated.y, c.y);
    }
    KpPoint out;
    expectFailure([&out] { KpImage::kpRotatePoint(KpPoint(1, 1), out, NOT_A_NUMBER); }, 7,
                  "<KpImage::kpRotatePoint()> The angle must be a finite number");
    expectFailure([&out, quarter] { KpImage::kpRotatePoint(KpPoint(INT_MAX, INT_MAX), out, quarter / 2); }, 7,
                  "<KpImage::kpRotatePoint()> The rotated point would not fit 32-bit coordinates");
}

TEST(KpImageRotate, Failures)
{
    expectFailure([] { KpImage().kpRotateByteImage(10); }, 5, "<KpImage::kpRotateByteImage()> Image Data is NULL!");
    expectFailure([] { KpImage().kpRotateImage(10); }, 5, "<KpImage::kpRotateImage()> Image Data is NULL!");
    expectFailure([] { KpImage(3, 3, 24).kpRotateByteImage(10); }, 11,
                  "<KpImage::kpRotateByteImage()> Not a supported format in KpImage::kpResizeByteImage");
    expectFailure([] { sixteenBitImage().kpRotateImage(10); }, 11, "<KpImage::kpRotateImage()> only supports 1, 8, and 24 bits");
    for (double degrees : {NOT_A_NUMBER, INFINITE, 1e308}) {
        expectFailure([degrees] { KpImage(3, 3, 8).kpRotateImage(degrees); }, 7,
                      "<KpImage::kpRotateByteImage()> The angle must be a finite number of degrees");
        expectFailure([degrees] { KpImage(3, 3, 24).kpRotateImage(degrees); }, 7,
                      "<KpImage::kpRotateImage()> The angle must be a finite number of degrees");
        expectFailure([degrees] { KpImage(3, 3, 1).kpRotateImage(degrees); }, 7,
                      "<KpImage::kpRotateByteImage()> The angle must be a finite number of degrees");
    }
}

// ---- Mirroring

KpImage literalFlip(const KpImage& source, int direction)
{
    KpImage result = source;
    for (int y = 0; y < source.kpGetHeight(); ++y) {
        for (int x = 0; x < source.kpGetWidth(); ++x) {
            const int fromX = direction == 1 ? source.kpGetWidth() - 1 - x : x;
            const int fromY = direction == 2 ? source.kpGetHeight() - 1 - y : y;
            const std::vector<uint8_t> pixel = pixelAt(source, fromX, fromY);
            if (pixel.size() == 3) {
                result.kpSetPixel(x, y, pixel[0], pixel[1], pixel[2]);
            } else {
                result.kpSetPixel(x, y, pixel[0]);
            }
        }
    }
    return result;
}

TEST(KpImageFlip, AgreesWithItsDefinitionAndUndoesItself)
{
    for (int depth : {1, 8, 24}) {
        for (int width : {1, 7, 8, 12, 13, 70}) {
            const KpImage image = randomImage(width, 5, depth, width + depth);
            for (int direction : {1, 2}) {
                const std::string what = std::to_string(depth) + " bits, width " + std::to_string(width) + ", direction " + std::to_string(direction);
                const KpImage flipped = image.kpFlipImage(direction);
                expectSamePixels(flipped, literalFlip(image, direction), what);
                EXPECT_EQ(bytesOf(flipped.kpFlipImage(direction)), bytesOf(image)) << what;
                if (depth == 8) {
                    EXPECT_EQ(bytesOf(image.kpFlipByteImage(direction)), bytesOf(flipped)) << what;
                }
            }
        }
    }
}

TEST(KpImageFlip, BinaryRowOfTwelvePixels)
{
    const KpImage image = binaryFromPicture({"#..##.#.....", "...........#"});
    EXPECT_EQ(pictureOf(image.kpFlipImage(1)), (std::vector<std::string>{".....#.##..#", "#..........."}));
    EXPECT_EQ(pictureOf(image.kpFlipImage(2)), (std::vector<std::string>{"...........#", "#..##.#....."}));
}

TEST(KpImageFlip, HeaderFields)
{
    for (int depth : {1, 8, 24}) {
        const KpImage image = describedImage(6, 3, depth, 9);
        // Colour is mirrored channel by channel and merged into a fresh image.
        expectFields(image.kpFlipImage(1), depth == 24 ? FRESH : fieldsOf(image), std::to_string(depth) + " bits");
    }
}

TEST(KpImageFlip, Failures)
{
    for (int depth : {1, 8, 24}) {
        expectFailure([depth] { KpImage(4, 2, depth).kpFlipImage(3); }, 3, "<KpImage::kpFlipByteImage()> Not Yet Implemented!");
        expectFailure([depth] { KpImage(4, 2, depth).kpFlipImage(0); }, 3, "<KpImage::kpFlipByteImage()> Not Yet Implemented!");
    }
    expectFailure([] { KpImage(4, 2, 8).kpFlipByteImage(3); }, 3, "<KpImage::kpFlipByteImage()> Not Yet Implemented!");
    expectFailure([] { KpImage().kpFlipByteImage(1); }, 5, "<KpImage::kpFlipByteImage()> Image Data is NULL!");
    expectFailure([] { KpImage().kpFlipImage(1); }, 5, "<KpImage::kpFlipImage()> Image Data is NULL!");
    expectFailure([] { KpImage(4, 2, 1).kpFlipByteImage(1); }, 11,
                  "<KpImage::kpFlipByteImage()> not supported format in KpImage::kpFLIPByteImage");
    expectFailure([] { sixteenBitImage().kpFlipImage(1); }, 11,
                  "<KpImage::kpFlipImage()> KpImage::kpFlipImage() Unknow Image format. Only supports 1, 8 and 24 bit images");
}

} // namespace
