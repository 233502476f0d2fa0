#include "kpimage.h"

#include "kpexception.h"
#include "kplogger.h"
#include "testsupport.h"

#include <climits>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using testsupport::binaryFromPicture;
using testsupport::capturedLog;
using testsupport::colourPixels;
using testsupport::expectBareFailure;
using testsupport::expectFailure;
using testsupport::grayFromPicture;
using testsupport::pictureOf;
using testsupport::pixelsOf;
using testsupport::randomImage;
using testsupport::sixteenBitImage;
using testsupport::uniformColour;

KpImage emptyWithHeader(int width, int height, int depth)
{
    KpImage image;
    image.kpInitImage(width, height, depth, false);
    return image;
}

// Pixel (x, y) of a 1-bit image read straight from its bits.
bool bitAt(const KpImage& image, int x, int y)
{
    return (image.kpGetData()[y * image.kpGetBytesPerRow() + x / 8] & (0x80 >> (x % 8))) != 0;
}

// ---- Contour ----

TEST(KpImageContour, FilledSquareBecomesItsOutline)
{
    const std::vector<std::string> square = {".......", ".#####.", ".#####.", ".#####.", ".#####.", ".#####.", "......."};
    const std::vector<std::string> outline = {".......", ".#####.", ".#...#.", ".#...#.", ".#...#.", ".#####.", "......."};
    const KpImage gray = grayFromPicture(square);
    EXPECT_EQ(pictureOf(gray.kpContourImage()), outline);
    EXPECT_EQ(capturedLog([&] { gray.kpContourImage(); }), "");

    KpImage result;
    EXPECT_EQ(capturedLog([&] { result = binaryFromPicture(square).kpContourImage(); }),
              "Warning....returning grayscale image\n ");
    EXPECT_EQ(result.kpGetDepth(), 8);
    EXPECT_EQ(pictureOf(result), outline);
}

TEST(KpImageContour, TheOuterBorderComesOutWhite)
{
    EXPECT_EQ(pictureOf(grayFromPicture({"####", "####", "#..#", "####"}).kpContourImage()),
              (std::vector<std::string>{"....", ".##.", "....", "...."}));
    EXPECT_EQ(pictureOf(grayFromPicture({"##", "##"}).kpContourImage()), (std::vector<std::string>{"..", ".."}));
}

TEST(KpImageContour, Refusals)
{
    expectFailure([] { KpImage().kpContourImage(); }, 5, ",<KpImage::kpContourImage()> Image Data is NULL!",
                  "kpimagearithmetic.cpp");
    expectFailure([] { uniformColour(3, 3, 0, 0, 0).kpContourImage(); }, 3,
                  ">KpImage::kpContourImage()> Not Yet Implemented - 24 bit images!", "kpimagearithmetic.cpp");
    expectFailure([] { grayFromPicture({"#.", ".5"}).kpContourImage(); }, 3,
                  "<KpImage::kpContourImage()> Not Yet Implemented - non black/white images!", "kpimagearithmetic.cpp");
}

// ---- Add and subtract ----

TEST(KpImageArithmetic, ColourSumsWrapInsideTheRegionOnly)
{
    const KpImage image = uniformColour(4, 3, 100, 7, 250);
    const KpImage other = uniformColour(2, 2, 200, 0, 10);
    const KpImage sum = image.kpAddImage(other, 1, 1);
    const KpImage difference = image.kpSubtractImage(other, 2, 0);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            uint8_t r, g, b;
            sum.kpGetPixel(x, y, &r, &g, &b);
            const bool added = x >= 1 && x < 3 && y >= 1;
            EXPECT_EQ(r, added ? 44 : 100) << x << "," << y;
            EXPECT_EQ(b, added ? 4 : 250) << x << "," << y;
            difference.kpGetPixel(x, y, &r, &g, &b);
            const bool subtracted = x >= 2 && y < 2;
            EXPECT_EQ(r, subtracted ? 156 : 100) << x << "," << y;
            EXPECT_EQ(b, subtracted ? 240 : 250) << x << "," << y;
            EXPECT_EQ(g, 7);
        }
    }
}

TEST(KpImageArithmetic, SubtractingWhatWasAddedRestoresByteImages)
{
    uint32_t seed = 14;
    struct Case {
        int depth, width, height, otherWidth, otherHeight, x, y;
    };
    const Case cases[] = {
        {8, 9, 7, 9, 7, 0, 0}, {8, 9, 7, 3, 2, 6, 5}, {24, 5, 4, 2, 3, 1, 1}, {24, 6, 3, 6, 1, 0, 2},
    };
    for (const Case& c : cases) {
        KpImage image = randomImage(c.width, c.height, c.depth, seed++);
        image.kpSetXResolution(300.0f);
        const KpImage other = randomImage(c.otherWidth, c.otherHeight, c.depth, seed++);
        const std::vector<uint8_t> otherBefore = pixelsOf(other);
        const KpImage sum = image.kpAddImage(other, c.x, c.y);
        EXPECT_NE(pixelsOf(sum), pixelsOf(image)) << "depth " << c.depth;
        const KpImage restored = sum.kpSubtractImage(other, c.x, c.y);
        EXPECT_EQ(pixelsOf(restored), pixelsOf(image)) << "depth " << c.depth;
        EXPECT_EQ(restored.kpGetXResolution(), 300.0f);
        EXPECT_EQ(pixelsOf(other), otherBefore);
    }
}

TEST(KpImageArithmetic, BinaryAddBlackensAndSubtractWhitensUnderOthersBlack)
{
    const KpImage image = binaryFromPicture({"#.#.#.#.#", ".........", "#########"});
    const KpImage other = binaryFromPicture({"#.#", "##."});
    const std::vector<uint8_t> otherBefore = pixelsOf(other);
    EXPECT_EQ(pictureOf(image.kpAddImage(other, 5, 1)),
              (std::vector<std::string>{"#.#.#.#.#", ".....#.#.", "#########"}));
    EXPECT_EQ(pictureOf(image.kpSubtractImage(other, 5, 1)),
              (std::vector<std::string>{"#.#.#.#.#", ".........", "#####..##"}));
    EXPECT_EQ(other.kpGetDepth(), 1);
    EXPECT_EQ(pixelsOf(other), otherBefore);
}

TEST(KpImageArithmetic, RefusalsLeaveBothImagesUnchanged)
{
    const KpImage image = grayFromPicture({"1234", "5678", "9#.1"});
    const KpImage other = grayFromPicture({"##", "##"});
    const KpImage empty;
    const KpImage otherWithoutData = emptyWithHeader(2, 2, 8);
    const KpImage colour = uniformColour(2, 2, 1, 2, 3);
    const KpImage odd = sixteenBitImage();
    struct Case {
        const KpImage* image;
        const KpImage* other;
        int x, y, code;
        const char* add;
        const char* subtract;
    };
    const Case cases[] = {
        {&empty, &other, 0, 0, 5, "<KpImage::kpAddImage()> Image Data is NULL!", "<KpImage::kpSubtractImage()> Image Data is NULL!"},
        {&image, &other, -1, 0, 9, "<KpImage::kpAddImage()> Add image is too big!", "<KpImage::kpSubtractImage()>Add image is too big!"},
        {&image, &other, 0, -1, 9, "<KpImage::kpAddImage()> Add image is too big!", "<KpImage::kpSubtractImage()>Add image is too big!"},
        {&image, &other, 3, 0, 9, "<KpImage::kpAddImage()> Add image is too big!", "<KpImage::kpSubtractImage()>Add image is too big!"},
        {&image, &other, 0, 2, 9, "<KpImage::kpAddImage()> Add image is too big!", "<KpImage::kpSubtractImage()>Add image is too big!"},
        {&image, &other, INT_MAX, INT_MAX, 9, "<KpImage::kpAddImage()> Add image is too big!", "<KpImage::kpSubtractImage()>Add image is too big!"},
        {&image, &colour, 0, 0, 3, "<KpImage::kpAddImage()> Both colors must have same color depth", "<KpImage::kpSubtractImage()>Both colors must have same color depth"},
        {&image, &otherWithoutData, 0, 0, 5, "<KpImage::kpAddImage()> Image to add has no data!", "<KpImage::kpSubtractImage()> Image to subtract has no data!"},
        {&odd, &odd, 0, 0, 11, "<KpImage::kpAddImage()> Only 1, 8 and 24 bit images can be added!", "<KpImage::kpSubtractImage()> Only 1, 8 and 24 bit images can be subtracted!"},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> before = pixelsOf(image);
        expectFailure([&] { c.image->kpAddImage(*c.other, c.x, c.y); }, c.code, c.add, "kpimagearithmetic.cpp");
        expectFailure([&] { c.image->kpSubtractImage(*c.other, c.x, c.y); }, c.code, c.subtract, "kpimagearithmetic.cpp");
        EXPECT_EQ(pixelsOf(image), before);
    }
}

// ---- Pastes ----

// The literal rule of a 1-bit paste: pixel (i, j) of other becomes pixel
// (x + i, y + j); every other pixel and every padding bit stays.
KpImage literalBitPaste(const KpImage& image, const KpImage& other, int x, int y)
{
    KpImage result(image);
    for (int j = 0; j < other.kpGetHeight(); ++j) {
        for (int i = 0; i < other.kpGetWidth(); ++i) {
            uint8_t& byte = result.kpGetData()[(y + j) * result.kpGetBytesPerRow() + (x + i) / 8];
            const uint8_t bit = static_cast<uint8_t>(0x80 >> ((x + i) % 8));
            byte = bitAt(other, i, j) ? (byte | bit) : (byte & ~bit);
        }
    }
    return result;
}

TEST(KpImagePaste, BinaryPastesAtAnyPixelMatchTheLiteralRule)
{
    uint32_t seed = 3;
    struct Case {
        int width, otherWidth, x;
    };
    const Case cases[] = {
        {64, 8, 56}, {20, 5, 3}, {20, 13, 3}, {17, 9, 8}, {17, 1, 16}, {30, 17, 7}, {9, 9, 0},
    };
    for (const Case& c : cases) {
        // Random bytes: the padding bits of both images are set at random.
        const KpImage image = randomImage(c.width, 4, 1, seed++);
        const KpImage other = randomImage(c.otherWidth, 3, 1, seed++);
        const KpImage expected = literalBitPaste(image, other, c.x, 1);
        KpImage inPlace(image);
        inPlace.kpPasteInByteImage(other, c.x, 1);
        EXPECT_EQ(pixelsOf(inPlace), pixelsOf(expected)) << c.width << " " << c.otherWidth << " at " << c.x;
        EXPECT_EQ(pixelsOf(image.kpPasteByteImage(other, c.x, 1)), pixelsOf(expected)) << c.x;
        EXPECT_EQ(pixelsOf(image.kpPasteImage(other, c.x, 1)), pixelsOf(expected)) << c.x;
    }
}

TEST(KpImagePaste, BytePastesPlacePixelsAtColumnX)
{
    const KpImage gray = grayFromPicture({"....", "....", "...."});
    const KpImage grayPatch = grayFromPicture({"12", "34"});
    EXPECT_EQ(pixelsOf(gray.kpPasteByteImage(grayPatch, 2, 1)),
              (std::vector<uint8_t>{255, 255, 255, 255, 255, 255, 25, 50, 255, 255, 75, 100}));

    KpImage colour = uniformColour(3, 2, 9, 9, 9);
    colour.kpPasteInByteImage(colourPixels({{1, 2, 3}, {4, 5, 6}}), 1, 1);
    EXPECT_EQ(pixelsOf(colour), (std::vector<uint8_t>{9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 1, 2, 3, 4, 5, 6}));
}

TEST(KpImagePaste, ShallowerImagesAreDeepenedWithAWarning)
{
    const KpImage colour = uniformColour(3, 2, 9, 9, 9);
    const KpImage gray = grayFromPicture({"#.", ".#"});
    const KpImage binary = binaryFromPicture({"#."});

    KpImage result;
    EXPECT_EQ(capturedLog([&] { result = gray.kpPasteImage(colourPixels({{1, 2, 3}}), 1, 1); }),
              "Warning....kpPasteImage() returning color image\n");
    EXPECT_EQ(result.kpGetDepth(), 24);
    EXPECT_EQ(pixelsOf(result), (std::vector<uint8_t>{0, 0, 0, 255, 255, 255, 255, 255, 255, 1, 2, 3}));

    EXPECT_EQ(capturedLog([&] { result = binaryFromPicture({"..", ".."}).kpPasteImage(gray, 0, 0); }),
              "Warning....kpPasteImage() returning grayscale image\n");
    EXPECT_EQ(result.kpGetDepth(), 8);
    EXPECT_EQ(pictureOf(result), pictureOf(gray));

    KpImage target(colour);
    EXPECT_EQ(capturedLog([&] { target.kpPasteInImage(gray, 1, 0); }),
              "Warning....kpPasteInImage() returning color image\n");
    EXPECT_EQ(pixelsOf(target), (std::vector<uint8_t>{9, 9, 9, 0, 0, 0, 255, 255, 255, 9, 9, 9, 255, 255, 255, 0, 0, 0}));

    KpImage grayTarget(gray);
    EXPECT_EQ(capturedLog([&] { grayTarget.kpPasteInImage(binary, 0, 1); }),
              "Warning....kpPasteInImage() returning grayscale image\n");
    EXPECT_EQ(pictureOf(grayTarget), (std::vector<std::string>{"#.", "#."}));
}

TEST(KpImagePaste, RefusalsLeaveTheImageUnchanged)
{
    const KpImage gray = grayFromPicture({"123", "456"});
    const KpImage colour = uniformColour(2, 1, 1, 2, 3);
    const KpImage binary = binaryFromPicture({"#."});
    const KpImage empty;
    const KpImage patchWithoutData = emptyWithHeader(1, 1, 8);
    const KpImage odd = sixteenBitImage();
    const std::string source = "kpimagebytepaste.cpp";
    const std::vector<uint8_t> before = pixelsOf(gray);
    KpImage target(gray);

    expectFailure([&] { empty.kpPasteByteImage(gray, 0, 0); }, 5, "<KpImage::kpPasteByteImage()> Image Data is NULL!", source);
    expectFailure([&] { gray.kpPasteByteImage(gray, 1, 0); }, 9, "<KpImage::kpPasteByteImage()> Paste image is too big!", source);
    expectFailure([&] { gray.kpPasteByteImage(colour, 0, 0); }, 11,
                  "<KpImage::kpPasteByteImage()> Both images must have the same depth of 1, 8 or 24 bits!", source);
    expectFailure([&] { target.kpPasteInByteImage(colour, 0, 0); }, 11,
                  "<KpImage::kpPasteInByteImage()> Both images must have the same depth of 1, 8 or 24 bits!", source);
    expectFailure([&] { target.kpPasteInByteImage(binary, 1, 0); }, 11,
                  "<KpImage::kpPasteInByteImage()> Both images must have the same depth of 1, 8 or 24 bits!", source);
    expectFailure([&] { target.kpPasteInByteImage(gray, 0, INT_MAX); }, 9,
                  "<KpImage::kpPasteInByteImage()> Paste image is too big!", source);
    expectFailure([&] { target.kpPasteInByteImage(patchWithoutData, 0, 0); }, 5,
                  "<KpImage::kpPasteInByteImage()> Paste image data is NULL!", source);
    expectFailure([&] { target.kpPasteInImage(gray, -1, 0); }, 9, "Paste image is too big!", "kpimagearithmetic.cpp");
    expectFailure([] { KpImage none; none.kpPasteInImage(KpImage(1, 1, 8), 0, 0); }, 5,
                  "<KpImage::kpPasteInImage()> Image Data is NULL!");
    expectBareFailure([&] { target.kpPasteInImage(colour, 0, 0); }, 11, "<KpImage::kpPastInImage()> Invalid Depth Value");
    expectBareFailure([&] { KpImage(odd).kpPasteInImage(binary, 0, 0); }, 11, "<Kpimage::kpPasteIncompitable file format");
    expectBareFailure([&] { binary.kpPasteImage(odd, 0, 0); }, 11, "<Kpimage::kpPasteImage> Incompitable file format");
    EXPECT_EQ(pixelsOf(target), before);
}

// ---- Normalisation ----

using Normalisation = KpImage (KpImage::*)() const;

TEST(KpImageNormalization, StretchesTheRangeOntoFullScale)
{
    KpImage image(3, 1, 8);
    image.kpSetXResolution(300.0f);
    const uint8_t values[] = {50, 75, 100};
    std::copy(values, values + 3, image.kpGetData());
    for (Normalisation normalise : {&KpImage::kpNormalizeImage, &KpImage::kpNormalizeGlobalImage,
                                    &KpImage::kpNormalizeGrayscaleImage}) {
        const KpImage result = (image.*normalise)();
        EXPECT_EQ(pixelsOf(result), (std::vector<uint8_t>{0, 127, 255}));
        EXPECT_EQ(result.kpGetXResolution(), 300.0f);
    }
    const KpImage uniform = grayFromPicture({"444", "444"});
    EXPECT_EQ(pixelsOf(uniform.kpNormalizeImage()), pixelsOf(uniform));
}

TEST(KpImageNormalization, EveryRangeMatchesTheLiteralRule)
{
    // Every range low..high of a 256-byte image holding low, high and
    // every value between.
    testsupport::forEachBuild([](const std::string& build) {
        for (int low = 0; low < 256; low += 5) {
            for (int high = low + 1; high < 256; high += 3) {
                KpImage image(256, 1, 8);
                for (int i = 0; i < 256; ++i) {
                    image.kpGetData()[i] = static_cast<uint8_t>(low + i % (high - low + 1));
                }
                const KpImage result = image.kpNormalizeImage();
                for (int i = 0; i < 256; ++i) {
                    const int v = image.kpGetData()[i];
                    ASSERT_EQ(result.kpGetData()[i], (v - low) * 255 / (high - low)) << low << ".." << high << " " << build;
                }
            }
        }
    });
}

TEST(KpImageNormalization, ColourStretchesPerChannelOrOverAllBytes)
{
    const KpImage image = colourPixels({{10, 0, 7}, {20, 100, 7}, {30, 200, 7}});
    EXPECT_EQ(pixelsOf(image.kpNormalizeColorImage()), (std::vector<uint8_t>{0, 0, 7, 127, 127, 7, 255, 255, 7}));
    // One range 0..200 over all nine bytes.
    EXPECT_EQ(pixelsOf(image.kpNormalizeImage()), (std::vector<uint8_t>{12, 0, 8, 25, 127, 8, 38, 255, 8}));
}

TEST(KpImageNormalization, BinaryImagesComeBackUnchanged)
{
    const KpImage binary = randomImage(13, 4, 1, 5);
    for (Normalisation normalise : {&KpImage::kpNormalizeImage, &KpImage::kpNormalizeGlobalImage,
                                    &KpImage::kpNormalizeGrayscaleImage}) {
        EXPECT_EQ(pixelsOf((binary.*normalise)()), pixelsOf(binary));
    }
}

TEST(KpImageNormalization, Refusals)
{
    const KpImage empty;
    const std::string source = "kpimagenormalization.cpp";
    expectFailure([&] { empty.kpNormalizeImage(); }, 5,
                  "<KpImage::kpNormalizeImage()> KpImage::kpNormalizeImage() Image Data is NULL!", source);
    expectFailure([&] { empty.kpNormalizeGlobalImage(); }, 5, "<KpImage::kpNormalizeGlobalImage()> Image Data is NULL!", source);
    expectFailure([&] { empty.kpNormalizeGrayscaleImage(); }, 5,
                  "<KpImage::kpNormalizeGrayscaleImage()> Image Data is NULL!", source);
    expectFailure([&] { empty.kpNormalizeColorImage(); }, 5, "<KpImage::kpNormalizeColorImage()> Image Data is NULL!");
    expectFailure([] { KpImage(2, 2, 8).kpNormalizeColorImage(); }, 7,
                  "<KpImage::kpNormalizeColorImage()> Color image expected in KpImage::kpNormalizeColorImage!");
    expectFailure([] { sixteenBitImage().kpNormalizeImage(); }, 3,
                  "<KpImage::kpNormalizeImage()> Invalid depth type, method not implemented!", source);
}

} // namespace
