#include "kpbitsperpixelconverter.h"

#include "documentlikeimage.h"
#include "kpexception.h"
#include "referenceniblack.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Converter = KpBitsPerPixelConverter;
using testsupport::capturedLog;
using testsupport::expectFailure;

constexpr int MODIFIED_NIBLACK = 3;

KpImage uniformImage(int width, int height, uint8_t value)
{
    KpImage image(width, height, 8);
    std::fill_n(image.kpGetData(), image.kpGetImageSize(), value);
    return image;
}

std::vector<uint8_t> bytesOf(const KpImage& image)
{
    return std::vector<uint8_t>(image.kpGetData(), image.kpGetData() + image.kpGetImageSize());
}

bool isWhite(const KpImage& binary, int x, int y)
{
    return binary.kpGetPixelScale(x, y) == 255;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The numbers that follow each occurrence of key in a log.
std::vector<int> loggedValues(const std::string& log, const std::string& key)
{
    std::vector<int> values;
    for (std::string::size_type at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
        values.push_back(std::stoi(log.substr(at + key.size())));
    }
    return values;
}

// ---- Layout and logging

TEST(KpNiblack, TileAndWindowSizes)
{
    const struct {
        int width, height;
        const char* line;
    } cases[] = {
        {16, 16, "Thresh window: 10 x 10. Stats window: 14 x 14."},
        {1, 1, "Thresh window: 1 x 1. Stats window: 1 x 1."},
        {2, 1, "Thresh window: 1 x 1. Stats window: 1 x 1."},
        {3, 1, "Thresh window: 2 x 2. Stats window: 2 x 2."},
        {1024, 768, "Thresh window: 26 x 26. Stats window: 38 x 38."},
    };
    for (const auto& c : cases) {
        const KpImage image = uniformImage(c.width, c.height, 90);
        const std::vector<std::string> lines = linesOf(capturedLog([&image] { Converter::kpDownscaleGray2Binary_niblack(image, 0, -0.2, false); }));
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], "Running Niblack's method with parameter k=-0.20.");
        EXPECT_EQ(lines[1], c.line);
    }
}

TEST(KpNiblack, ModifiedRuleLogsEveryFigureOfEveryTile)
{
    // A uniform 16 x 16 page: four tiles of 10 pixels, windows of 14 cut at
    // the edges, every window a single level 200.
    const std::string tileLines[4][2] = {
        {"(000,000)", "28\tnumpixels = 196\n\t\tthreshold = 200 (cutoff = 9)"},
        {"(000,010)", "16\tnumpixels = 112\n\t\tthreshold = 200 (cutoff = 5)"},
        {"(010,000)", "16\tnumpixels = 112\n\t\tthreshold = 200 (cutoff = 5)"},
        {"(010,010)", "9\tnumpixels = 64\n\t\tthreshold = 200 (cutoff = 3)"},
    };
    const int pixels[4] = {196, 112, 112, 64};
    std::string expected = "Running modified Niblack's method with parameter k =\t-0.50.\n"
                           "Thresh window: 10 x 10. Stats window: 14 x 14.\n"
                           "Image dimensions: width = 16\theight = 16\ttotal pixels = 256\n"
                           "Normal sum = 51200.0\ttotal pixels = 256\n"
                           "Inverted sum =  0.0\ttotal pixels = 0\n"
                           "Number of pixels in image: 256\n"
                           "Normal text average = 200.00000000\tsdev = 0.00000000\n"
                           "nrmtotal = 256\tnrmtotal_adj = 0\tinvtotal = 0\tinvtotal_adj = 0\n"
                           "Normal text average (adjusted) = 200.00000000\tsdev = 0.00000000\n";
    for (int tile = 0; tile < 4; ++tile) {
        expected += tileLines[tile][0] + ": mean = 200.00000000\tsdev = 0.00000000\tgbackground = 200\n"
                    "\t\tmode = 200\tmodecount = " + tileLines[tile][1] + "\tclimbindex = 197\n"
                    "\t\tpixeltotal[192] = 0\tavgcount = 0.00000000\tbincount = 0\n"
                    "\t\tpixeltotal[200] = " + std::to_string(pixels[tile]) + "\tpixeltotal[199] = 0\n";
    }
    const KpImage image = uniformImage(16, 16, 200);
    EXPECT_EQ(capturedLog([&image] { Converter::kpDownscaleGray2Binary_niblack(image, MODIFIED_NIBLACK, -0.5, false); }), expected);
}

TEST(KpNiblack, LevelsBelowZeroAreLoggedWithCountZero)
{
    // A black page: the climb starts at level 0 and the threshold is 0, so
    // the lines name levels -5 and -1.
    const KpImage image = uniformImage(16, 16, 0);
    const std::string log = capturedLog([&image] { Converter::kpDownscaleGray2Binary_niblack(image, MODIFIED_NIBLACK, -0.5, false); });
    EXPECT_NE(log.find("\t\tpixeltotal[-5] = 0\tavgcount = 0.00000000\tbincount = 0\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\t\tpixeltotal[0] = 196\tpixeltotal[-1] = 0\n"), std::string::npos) << log;
}

TEST(KpNiblack, NothingIsWrittenAtTheDefaultLevel)
{
    const KpImage image = benchsupport::makeDocumentLikeImage(60, 40);
    testing::internal::CaptureStdout();
    Converter::kpDownscaleGray2Binary_niblack(image, MODIFIED_NIBLACK, -0.5, true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// ---- Thresholds

TEST(KpNiblack, UniformPageIsWhite)
{
    for (uint8_t value : {0, 77, 255}) {
        for (int method : {0, 1, 2, 3}) {
            for (bool statistics : {false, true}) {
                const KpImage result = Converter::kpDownscaleGray2Binary_niblack(uniformImage(23, 17, value), method, 0.5, statistics);
                const KpImage white = Converter::kpDownscaleGray2Binary_global(uniformImage(23, 17, 255), 0);
                EXPECT_EQ(bytesOf(result), bytesOf(white)) << "value " << int(value) << ", method " << method << ", statistics " << statistics;
            }
        }
    }
}

TEST(KpNiblack, UnknownMethodThresholdsAt128)
{
    KpImage image = testsupport::randomImage(45, 31, 8, 9);
    image.kpSetHeader(45, 31, 8, 300.0f, 200.0f, false);
    const KpImage result = Converter::kpDownscaleGray2Binary_niblack(image, 7, 0.3, false);
    EXPECT_EQ(bytesOf(result), bytesOf(Converter::kpDownscaleGray2Binary_global(image, 128)));
    EXPECT_EQ(result.kpGetXResolution(), 300.0f);
    EXPECT_EQ(result.kpGetYResolution(), 200.0f);
    EXPECT_FALSE(result.kpIsResolutionInDpi());
}

TEST(KpNiblack, GridsOfThreeOrMoreAreSmoothedAlongRowsThenColumns)
{
    // The modified rule logs each tile's threshold before smoothing; every
    // pixel is compared with the smoothed threshold of its tile.
    const struct {
        int width, height, tilesX, tilesY;
    } grids[] = {{5, 5, 1, 1}, {20, 20, 2, 2}, {30, 10, 3, 1}, {10, 30, 1, 3}, {30, 30, 3, 3}, {47, 58, 4, 5}};
    for (const auto& g : grids) {
        const KpImage image = testsupport::randomImage(g.width, g.height, 8, g.width * g.height);
        KpImage result;
        const std::string log = capturedLog([&] { result = Converter::kpDownscaleGray2Binary_niblack(image, MODIFIED_NIBLACK, -0.5, false); });
        std::vector<int> t = loggedValues(log, "threshold = ");
        ASSERT_EQ(t.size(), static_cast<std::size_t>(g.tilesX * g.tilesY)) << log;
        std::vector<int> smoothed(t);
        for (int ty = 0; ty < g.tilesY; ++ty) {
            for (int tx = 1; tx + 1 < g.tilesX; ++tx) {
                smoothed[ty * g.tilesX + tx] = (t[ty * g.tilesX + tx - 1] + t[ty * g.tilesX + tx] + t[ty * g.tilesX + tx + 1]) / 3;
            }
        }
        t = smoothed;
        for (int ty = 1; ty + 1 < g.tilesY; ++ty) {
            for (int tx = 0; tx < g.tilesX; ++tx) {
                smoothed[ty * g.tilesX + tx] = (t[(ty - 1) * g.tilesX + tx] + t[ty * g.tilesX + tx] + t[(ty + 1) * g.tilesX + tx]) / 3;
            }
        }
        const int tile = loggedValues(log, "Thresh window: ").at(0);
        for (int y = 0; y < g.height; ++y) {
            for (int x = 0; x < g.width; ++x) {
                const int threshold = smoothed[(y / tile) * g.tilesX + x / tile];
                ASSERT_EQ(isWhite(result, x, y), image.kpGetPixelScale(x, y) >= threshold)
                    << g.width << " x " << g.height << " at (" << x << ", " << y << ")";
            }
        }
    }
}

// A light page with dark strokes on the left and a dark block with light
// strokes on the right, three tiles of 12 pixels in each direction.
KpImage twoPolarityPage()
{
    KpImage image = uniformImage(36, 36, 210);
    uint8_t* pixels = image.kpGetData();
    for (int y = 0; y < 36; ++y) {
        for (int x = 0; x < 36; ++x) {
            const bool stroke = x % 6 == 2 && y % 9 < 6;
            uint8_t& p = pixels[y * 36 + x];
            if (x >= 24) {
                p = stroke ? 225 : 35 + (x + y) % 7;
            } else if (stroke) {
                p = 40;
            }
        }
    }
    return image;
}

// A light left half and a dark right half, each with three busy tiles of
// black and white stripes (half white on the left, three tenths on the
// right): both classes then hold widely spread tiles, which lets the
// modified rule correct for bimodal windows. Tiles are 20 pixels.
KpImage busyTilesPage()
{
    KpImage image(200, 200, 8);
    const int busy[6][2] = {{1, 1}, {2, 5}, {3, 8}, {6, 2}, {8, 6}, {7, 8}};
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x) {
            int value = (x < 100 ? 220 : 40) + (x * 7 + y * 13) % 7 - 3;
            for (const auto& tile : busy) {
                if (x / 20 == tile[0] && y / 20 == tile[1]) {
                    value = x < 100 ? (x % 4 < 2 ? 0 : 255) : (x % 10 < 3 ? 255 : 0);
                }
            }
            image.kpGetData()[y * 200 + x] = static_cast<uint8_t>(value);
        }
    }
    return image;
}

TEST(KpNiblack, InvertedTilesKeepTheirPolarity)
{
    const KpImage image = twoPolarityPage();
    KpImage result;
    const std::string log = capturedLog([&] { result = Converter::kpDownscaleGray2Binary_niblack(image, 0, -0.2, true); });
    EXPECT_NE(log.find("Inverted sum = "), std::string::npos);
    EXPECT_EQ(log.find("Inverted sum =  0.0\t"), std::string::npos) << "no tile was inverted:\n" << log;
    // Light strokes in the dark block stay white, its ground black.
    EXPECT_TRUE(isWhite(result, 26, 2));
    EXPECT_FALSE(isWhite(result, 27, 2));
    EXPECT_FALSE(isWhite(result, 2, 2));
    EXPECT_TRUE(isWhite(result, 3, 2));
}

TEST(KpNiblack, WithoutStatisticsNoTileIsInverted)
{
    const KpImage image = twoPolarityPage();
    for (int method : {0, 1, 2, 3}) {
        const std::string log = capturedLog([&] { Converter::kpDownscaleGray2Binary_niblack(image, method, -0.2, false); });
        EXPECT_NE(log.find("Inverted sum =  0.0\ttotal pixels = 0\n"), std::string::npos) << log;
        EXPECT_EQ(log.find("Global graylevel"), std::string::npos) << log;
        EXPECT_EQ(log.find("ADJUSTING FOR BIMODAL"), std::string::npos) << log;
    }
}

TEST(KpNiblack, WolfJolionWithoutStatisticsDropsTheContrastTerm)
{
    // R stays 0: T = (1 + k) m - k M.
    const KpImage image = testsupport::randomImage(40, 30, 8, 21);
    const KpImage result = Converter::kpDownscaleGray2Binary_niblack(image, 2, 0.5, false);
    EXPECT_EQ(bytesOf(result), bytesOf(referenceniblack::threshold(image, 2, 0.5, false)));
}

// ---- The fast path against the literal reading

struct Page {
    std::string name;
    KpImage image;
};

std::vector<Page> testPages()
{
    std::vector<Page> pages;
    pages.push_back({"document 300 x 200", benchsupport::makeDocumentLikeImage(300, 200)});
    pages.push_back({"document 97 x 61", benchsupport::makeDocumentLikeImage(97, 61, 5)});
    pages.push_back({"inverted document", benchsupport::makeDocumentLikeImage(210, 150, 6).kpReverseImage()});
    pages.push_back({"two polarities", twoPolarityPage()});
    pages.push_back({"busy tiles", busyTilesPage()});
    pages.push_back({"noise", testsupport::randomImage(77, 45, 8, 3)});
    KpImage gradient(130, 90, 8);
    for (int y = 0; y < 90; ++y) {
        for (int x = 0; x < 130; ++x) {
            gradient.kpGetData()[y * 130 + x] = static_cast<uint8_t>((x * 255) / 129 ^ (y % 11 == 0 ? 0x40 : 0));
        }
    }
    pages.push_back({"gradient", gradient});
    pages.push_back({"one pixel", uniformImage(1, 1, 9)});
    pages.push_back({"one row", testsupport::randomImage(50, 1, 8, 4)});
    pages.push_back({"one column", testsupport::randomImage(1, 50, 8, 5)});
    return pages;
}

TEST(KpNiblack, EqualsTheLiteralReadingBitForBitWithTheSameLog)
{
    const struct {
        int method;
        double k;
    } rules[] = {{0, -0.2}, {1, 0.5}, {2, 0.5}, {3, -0.5}, {3, 0.2}, {9, 0.1}};
    for (const Page& page : testPages()) {
        for (const auto& rule : rules) {
            for (bool statistics : {false, true}) {
                const std::string what = page.name + ", method " + std::to_string(rule.method) + ", k " +
                                         std::to_string(rule.k) + (statistics ? ", statistics" : "");
                KpImage fast, literal;
                const std::string fastLog = capturedLog([&] { fast = Converter::kpDownscaleGray2Binary_niblack(page.image, rule.method, rule.k, statistics); });
                const std::string literalLog = capturedLog([&] { literal = referenceniblack::threshold(page.image, rule.method, rule.k, statistics); });
                EXPECT_EQ(bytesOf(fast), bytesOf(literal)) << what;
                EXPECT_EQ(fastLog, literalLog) << what;
            }
        }
    }
}

TEST(KpNiblack, ModifiedRuleCorrectionsAreExercised)
{
    // The pages above reach each correction of the modified rule.
    std::string logs;
    for (const Page& page : testPages()) {
        logs += capturedLog([&page] { Converter::kpDownscaleGray2Binary_niblack(page.image, MODIFIED_NIBLACK, -0.5, true); });
    }
    for (const char* correction : {"ADJUSTING FOR BIMODAL DISTRIBUTION", "ADJUSTING FOR DROP IN CONTRAST", "ADJUSTING FOR PROBABLE BACKGROUND"}) {
        EXPECT_NE(logs.find(correction), std::string::npos) << correction;
    }
}

TEST(KpNiblack, Failures)
{
    for (int depth : {1, 24}) {
        expectFailure([depth] { Converter::kpDownscaleGray2Binary_niblack(KpImage(4, 4, depth), 0, 0.2, false); }, 7,
                      "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_niblack()> A KP_BYTE image expected in KpImage::kpDownscaleGray2Binary_niblack!");
    }
    KpImage empty;
    empty.kpInitImage(4, 4, 8, false);
    expectFailure([&empty] { Converter::kpDownscaleGray2Binary_niblack(empty, 0, 0.2, false); }, 5,
                  "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_niblack()> Image Data is NULL!");
}

} // namespace
