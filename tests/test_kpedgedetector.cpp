#include "kpedgedetector.h"

#include "photolikeimage.h"
#include "kpexception.h"
#include "referenceedgedetector.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <random>
#include <unistd.h>

namespace {

std::vector<uint8_t> pixelsOf(const KpImage& image)
{
    const uint8_t* data = image.kpGetData();
    return std::vector<uint8_t>(data, data + image.kpGetImageSize());
}

KpImage grayImage(int width, int height, const std::vector<uint8_t>& pixels)
{
    KpImage image(width, height, 8);
    std::copy(pixels.begin(), pixels.end(), image.kpGetData());
    return image;
}

KpImage squareOnBlack()
{
    KpImage image(24, 24, 8);
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            image.kpSetPixel(x, y, (x >= 6 && x <= 17 && y >= 6 && y <= 17) ? 200 : 0);
        }
    }
    return image;
}

TEST(KpEdgeDetector, KernelTaps)
{
    const std::vector<float> taps = KpEdgeDetector::gaussianKernel(1.5f);
    const double expected[9] = {0.007614, 0.036075, 0.109586, 0.213445, 0.266560,
                                0.213445, 0.109586, 0.036075, 0.007614};
    ASSERT_EQ(taps.size(), 9u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(taps[i], expected[i], 5e-7) << i;
    }
}

TEST(KpEdgeDetector, LowThresholdUsesSinglePrecisionRatio)
{
    struct Case { int high, low; };
    const Case cases[] = {{10, 3}, {20, 7}, {1, 0}, {2, 1}, {100, 35}};
    for (const Case& c : cases) {
        EXPECT_EQ(KpEdgeDetector::lowThreshold(c.high, 0.35f), c.low) << c.high;
    }
}

TEST(KpEdgeDetector, HighThresholdLeavesOutZeroAndTheMaximum)
{
    struct Case { const char* name; std::vector<uint32_t> histogram; int high; };
    const Case cases[] = {
        // total 31 (the 100 at M = 9 and the 7 at 0 are left out), highCount 23:
        // the walk stops at 3; counting M would carry it on to 7
        {"maximumLeftOut", {7, 10, 10, 10, 0, 0, 0, 0, 1, 100}, 3},
        // the walk stops at top - 1 even when the count is not reached
        {"stopsBelowTop", {0, 1, 1, 1, 1, 1, 0, 50, 1}, 6},
        {"noCandidates", {0}, 1},
        {"onlyMaximum", {0, 0, 9}, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KpEdgeDetector::highThreshold(c.histogram, 0.75f), c.high) << c.name;
    }
}

TEST(KpEdgeDetector, SquareOutline)
{
    KpImage edges = KpEdgeDetector().detectEdges(squareOnBlack());
    ASSERT_EQ(edges.kpGetDepth(), 8);
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            bool onSquare = x >= 6 && x <= 17 && y >= 6 && y <= 17;
            bool onBorder = x == 6 || x == 17 || y == 6 || y == 17;
            EXPECT_EQ(edges.kpGetPixelScale(x, y), onSquare && onBorder ? 0 : 255) << x << "," << y;
        }
    }
}

TEST(KpEdgeDetector, ImagesWithoutEdgesComeOutWhite)
{
    struct Case { const char* name; int width, height; };
    const Case cases[] = {{"uniform", 30, 20, }, {"twoByTwo", 2, 2}, {"threeByThree", 3, 3},
                          {"oneColumn", 1, 9}, {"oneRow", 9, 1}};
    std::mt19937 random(7);
    for (const Case& c : cases) {
        KpImage input(c.width, c.height, 8);
        for (std::size_t i = 0; i < input.kpGetImageSize(); ++i) {
            input.kpGetData()[i] = std::string(c.name) == "uniform" ? 90 : static_cast<uint8_t>(random());
        }
        KpImage edges = KpEdgeDetector().detectEdges(input);
        EXPECT_EQ(edges.kpGetWidth(), c.width) << c.name;
        EXPECT_EQ(edges.kpGetHeight(), c.height) << c.name;
        for (uint8_t v : pixelsOf(edges)) {
            ASSERT_EQ(v, 255) << c.name;
        }
    }
}

TEST(KpEdgeDetector, ResultCarriesNothingOfTheInputHeader)
{
    KpImage input = squareOnBlack();
    input.kpSetFormat(2);
    input.kpSetXResolution(300.0f);
    const std::vector<uint8_t> before = pixelsOf(input);
    KpImage edges = KpEdgeDetector().detectEdges(input);
    EXPECT_EQ(edges.kpGetXResolution(), 0.0f);
    EXPECT_EQ(edges.kpGetFormat(), 0);
    EXPECT_EQ(pixelsOf(input), before);
}

TEST(KpEdgeDetector, RefusesImagesWithoutDataOrOfOtherDepths)
{
    KpImage empty;
    empty.kpSetHeader(5, 5, 8, 0, 0, true);
    struct Case { const char* name; KpImage image; int code; };
    Case cases[] = {{"noData", empty, 5}, {"binary", KpImage(8, 8, 1), 7}, {"colour", KpImage(8, 8, 24), 7}};
    for (Case& c : cases) {
        try {
            KpEdgeDetector().detectEdges(c.image);
            ADD_FAILURE() << c.name << ": nothing thrown";
        } catch (const KpException& e) {
            EXPECT_EQ(e.kpGetCode(), c.code) << c.name;
            EXPECT_NE(e.kpGetMessage().find("<KpEdgeDetector::detectEdges()>"), std::string::npos) << c.name;
        }
    }
}

// The fast detector against the literal one, on noise, on shapes and on
// photo-like scenes of odd sizes; also checks the frame that is never an edge.
TEST(KpEdgeDetector, MatchesLiteralReferenceBitForBit)
{
    struct Case { const char* name; KpImage image; };
    std::mt19937 random(99);
    std::vector<uint8_t> noise(57 * 31);
    for (uint8_t& v : noise) {
        v = static_cast<uint8_t>(random());
    }
    std::vector<uint8_t> blocks(64 * 40);
    for (int i = 0; i < 64 * 40; ++i) {
        blocks[i] = static_cast<uint8_t>(((i % 64) / 8 + (i / 64) / 5) % 2 ? 220 : 30 + random() % 20);
    }
    Case cases[] = {
        {"noise", grayImage(57, 31, noise)},
        {"blocks", grayImage(64, 40, blocks)},
        {"square", squareOnBlack()},
        {"narrow", benchsupport::makePhotoLikeImage(5, 70, 8, 3)},
        {"photoLike", benchsupport::makePhotoLikeImage(321, 241, 8, 11)},
        {"photoLikeWide", benchsupport::makePhotoLikeImage(640, 97, 8, 12)},
    };
    for (Case& c : cases) {
        const int rows = c.image.kpGetHeight();
        const int cols = c.image.kpGetWidth();
        reference::EdgeSteps expected = reference::detectEdges(pixelsOf(c.image), rows, cols);
        std::vector<uint8_t> actual = pixelsOf(KpEdgeDetector().detectEdges(c.image));
        EXPECT_EQ(actual, expected.edges) << c.name;
        for (int r = 0; r < rows; ++r) {
            for (int col = 0; col < cols; ++col) {
                if (r == 0 || r >= rows - 2 || col == 0 || col >= cols - 2) {
                    ASSERT_EQ(actual[r * cols + col], 255) << c.name << " " << r << "," << col;
                }
            }
        }
    }
}

// Strong vertical stripes above set a high threshold; below them a
// horizontal step edge fades from strong (left) to faint but above the low
// threshold (right). Growth from the seed in column 1 queues 200 positions
// (columns 2 .. 201), marks column 202 without expanding it, and stops.
TEST(KpEdgeDetector, GrowthQueuesAtMost200PositionsPerSeed)
{
    const int width = 800, height = 120, stepRow = 90;
    std::vector<uint8_t> pixels(width * height, 0);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            int v = 0;
            if (r < 60) {
                v = (c / 4) % 2 ? 235 + (c * 7 + r * 3) % 21 : 0;
            } else if (r >= stepRow) {
                const int full = c < 60 ? 255 - (155 * c) / 60 : 100;
                v = r == stepRow ? full * 6 / 10 : full;
            }
            pixels[r * width + c] = static_cast<uint8_t>(v);
        }
    }
    const std::vector<uint8_t> edges = pixelsOf(KpEdgeDetector().detectEdges(grayImage(width, height, pixels)));
    EXPECT_EQ(edges, reference::detectEdges(pixels, height, width).edges);
    for (int r = 62; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const bool onGrownStretch = r == stepRow && c >= 1 && c <= 202;
            ASSERT_EQ(edges[r * width + c], onGrownStretch ? 0 : 255) << r << "," << c;
        }
    }
}

// Real photographs, decoded to gray by ImageMagick.
TEST(KpEdgeDetector, MatchesLiteralReferenceOnCorpusPhotos)
{
    const std::string corpus = testsupport::corpusDir();
    if (corpus.empty() || access("/usr/bin/convert", X_OK) != 0) {
        GTEST_SKIP() << "corpus folder or /usr/bin/convert absent: no real photographs to compare on";
    }
    const char* photos[] = {"3096", "42049", "101085"};
    for (const char* name : photos) {
        const std::string path = corpus + "/photos/" + name + ".jpg";
        if (access(path.c_str(), R_OK) != 0) {
            continue;
        }
        const std::vector<uint8_t> sizeText = testsupport::runCommand("/usr/bin/identify -format '%w %h' " + path);
        const std::string size(sizeText.begin(), sizeText.end());
        int width = 0, height = 0;
        ASSERT_EQ(std::sscanf(size.c_str(), "%d %d", &width, &height), 2) << size;
        const std::vector<uint8_t> gray = testsupport::runCommand("/usr/bin/convert " + path + " -colorspace Gray -depth 8 gray:-");
        ASSERT_EQ(gray.size(), static_cast<std::size_t>(width) * height) << name;
        KpImage photo = grayImage(width, height, gray);
        reference::EdgeSteps expected = reference::detectEdges(pixelsOf(photo), height, width);
        EXPECT_EQ(pixelsOf(KpEdgeDetector().detectEdges(photo)), expected.edges) << name;
    }
}

} // namespace
