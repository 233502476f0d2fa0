#include "kpedgedetector.h"

#include "photolikeimage.h"
#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "referenceedgedetector.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> pixelsOf(const KpImage& image)
{
    const uint8_t* data = image.kpGetData();
    return std::vector<uint8_t>(data, data + image.kpGetImageSize());
}

KpImage uniformImage(int width, int height, uint8_t value)
{
    KpImage image(width, height, 8);
    std::memset(image.kpGetData(), value, image.kpGetImageSize());
    return image;
}

KpImage randomImage(int width, int height, uint32_t seed)
{
    std::mt19937 random(seed);
    KpImage image(width, height, 8);
    for (std::size_t i = 0; i < image.kpGetImageSize(); ++i) {
        image.kpGetData()[i] = static_cast<uint8_t>(random() & 0xFF);
    }
    return image;
}

using InstructionSet = KpEdgeDetector::InstructionSet;

// Every instruction set the detector can run with on this processor.
std::vector<InstructionSet> availableInstructionSets()
{
    std::vector<InstructionSet> sets;
    for (InstructionSet set : {InstructionSet::BASELINE, InstructionSet::AVX2, InstructionSet::AVX512}) {
        if (KpEdgeDetector::isAvailable(set)) {
            sets.push_back(set);
        }
    }
    return sets;
}

const char* nameOf(InstructionSet set)
{
    switch (set) {
    case InstructionSet::AVX2:
        return "AVX2";
    case InstructionSet::AVX512:
        return "AVX-512";
    case InstructionSet::BASELINE:
        break;
    }
    return "baseline";
}

// Runs the detector with every available instruction set and checks it
// against the literal version: same bytes, a fresh 8-bit header and an
// untouched input.
void expectSameAsReference(const KpImage& input)
{
    const std::vector<uint8_t> before = pixelsOf(input);
    const KpImage slow = referenceedges::detectEdges(input);
    for (InstructionSet set : availableInstructionSets()) {
        SCOPED_TRACE(nameOf(set));
        const KpImage fast = KpEdgeDetector().detectEdges(input, KpEdgeDetector::Parameters(), set);
        ASSERT_EQ(fast.kpGetWidth(), input.kpGetWidth());
        ASSERT_EQ(fast.kpGetHeight(), input.kpGetHeight());
        ASSERT_EQ(fast.kpGetDepth(), 8);
        EXPECT_EQ(fast.kpGetXResolution(), 0.0f);
        EXPECT_TRUE(fast.kpGetTags().kpIsEmpty());
        EXPECT_TRUE(pixelsOf(fast) == pixelsOf(slow)) << "differs from the literal detector";
        EXPECT_TRUE(pixelsOf(input) == before) << "input changed";
    }
}

// The outermost rows and columns and the second-to-last ones are white.
void expectWhiteFrame(const KpImage& edges)
{
    const int w = edges.kpGetWidth(), h = edges.kpGetHeight();
    for (int x = 0; x < w; ++x) {
        for (int y : {0, h - 2, h - 1}) {
            ASSERT_EQ(edges.kpGetPixelScale(x, y), 255) << x << "," << y;
        }
    }
    for (int y = 0; y < h; ++y) {
        for (int x : {0, w - 2, w - 1}) {
            ASSERT_EQ(edges.kpGetPixelScale(x, y), 255) << x << "," << y;
        }
    }
}

TEST(KpEdgeDetectorKernel, GaussianTapsForSigmaOneAndAHalf)
{
    const KpEdgeDetector::Kernel kernel = KpEdgeDetector::gaussianKernel(1.5f);
    const double expected[] = {0.007614, 0.036075, 0.109586, 0.213445, 0.266560,
                               0.213445, 0.109586, 0.036075, 0.007614};
    ASSERT_EQ(kernel.size, 9);
    const std::vector<float> literal = referenceedges::gaussianKernel(1.5f);
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(kernel.taps[i], expected[i], 5e-7) << i;
        EXPECT_EQ(kernel.taps[i], literal[i]) << i;
    }
}

// The window holds 20 taps: a sigma needing more, or one that is not a
// positive number, is refused instead of written past the window.
TEST(KpEdgeDetectorKernel, SigmaOutsideTheWindowIsRefused)
{
    for (float sigma : {4.0f, 3.7f, 0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(),
                        std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()}) {
        SCOPED_TRACE(sigma);
        testsupport::expectFailure([&] { KpEdgeDetector::gaussianKernel(sigma); }, KP_INVALID_ARGUMENT,
                                   "(sigma at most 3.6).");
    }
    EXPECT_EQ(KpEdgeDetector::gaussianKernel(3.6f).size, 19);
    EXPECT_EQ(KpEdgeDetector::gaussianKernel(0.01f).size, 3);
}

TEST(KpEdgeDetectorThresholds, LowThresholdUsesSinglePrecisionRatio)
{
    struct Case { int high; int16_t low; };
    for (const Case& c : {Case{10, 3}, Case{20, 7}, Case{1, 0}, Case{100, 35}, Case{3, 1}}) {
        EXPECT_EQ(KpEdgeDetector::lowThreshold(c.high, 0.35f), c.low) << c.high;
        EXPECT_EQ(referenceedges::lowThreshold(c.high, 0.35f), c.low) << c.high;
    }
}

TEST(KpEdgeDetectorThresholds, HighThresholdFromHistogram)
{
    struct Case {
        const char* name;
        std::vector<uint32_t> histogram; // M + 1 entries
        int high;
    };
    const Case cases[] = {
        // The 50 pixels at M = 6 are left out: 6 of the other 8 reach v = 3.
        {"maximum left out", {0, 2, 2, 2, 2, 0, 50}, 3},
        // 31 of 41 counts are reached at v = 4.
        {"three quarters point", {0, 10, 10, 10, 10, 0, 0, 0, 0, 1, 1}, 4},
        // The count is never reached: v stops one below the top magnitude 10.
        {"stops below top", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 3}, 9},
        {"only the maximum", {0, 0, 0, 7}, 1},
        {"all zero magnitudes", {0}, 1},
    };
    for (const Case& c : cases) {
        const int maxMagnitude = static_cast<int>(c.histogram.size()) - 1;
        EXPECT_EQ(KpEdgeDetector::highThreshold(c.histogram.data(), maxMagnitude, 0.75f), c.high) << c.name;
        EXPECT_EQ(referenceedges::highThreshold(c.histogram, 0.75f), c.high) << c.name;
    }
}

TEST(KpEdgeDetectorImages, SquareGivesClosedOutlineOnItsBorder)
{
    KpImage input = uniformImage(24, 24, 0);
    for (int y = 6; y <= 17; ++y) {
        std::memset(input.kpGetData() + y * 24 + 6, 200, 12);
    }
    const std::vector<std::string> expected = {
        "........................", "........................", "........................",
        "........................", "........................", "........................",
        "......############......", "......#..........#......", "......#..........#......",
        "......#..........#......", "......#..........#......", "......#..........#......",
        "......#..........#......", "......#..........#......", "......#..........#......",
        "......#..........#......", "......#..........#......", "......############......",
        "........................", "........................", "........................",
        "........................", "........................", "........................",
    };
    EXPECT_EQ(testsupport::pictureOf(KpEdgeDetector().detectEdges(input)), expected);
    expectSameAsReference(input);
}

TEST(KpEdgeDetectorImages, FlatAndTinyImagesComeOutWhite)
{
    struct Case { const char* name; KpImage image; };
    const Case cases[] = {
        {"uniform", uniformImage(40, 30, 77)},
        {"2x2", testsupport::grayFromPicture({"#.", ".#"})},
        {"3x3", testsupport::grayFromPicture({"#.#", ".#.", "#.#"})},
        {"one column", testsupport::grayFromPicture({"#", ".", "#", ".", "#", "."})},
        {"one row", testsupport::grayFromPicture({"#.#.#.#."})},
        {"one pixel", testsupport::grayFromPicture({"#"})},
    };
    for (const Case& c : cases) {
        const KpImage edges = KpEdgeDetector().detectEdges(c.image);
        ASSERT_EQ(edges.kpGetWidth(), c.image.kpGetWidth()) << c.name;
        ASSERT_EQ(edges.kpGetHeight(), c.image.kpGetHeight()) << c.name;
        const std::vector<uint8_t> pixels = pixelsOf(edges);
        EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint8_t v) { return v == 255; })) << c.name;
    }
}

KpImage sixteenBitImage()
{
    KpImageHead head;
    head.width = 4;
    head.height = 4;
    head.depth = 16;
    return KpImage(new uint8_t[32](), head);
}

// Binary input is expanded to gray, colour input averaged over its
// channels, before detection.
TEST(KpEdgeDetectorImages, ConvertsBinaryAndColourInputFirst)
{
    const KpImage gray = benchsupport::makePhotoLikeImage(120, 90, 8, 5);
    KpImage colour(120, 90, 24);
    KpImage binary(120, 90, 1);
    for (int y = 0; y < 90; ++y) {
        for (int x = 0; x < 120; ++x) {
            const uint8_t v = gray.kpGetPixelScale(x, y);
            colour.kpSetPixel(x, y, v, static_cast<uint8_t>(v / 2), static_cast<uint8_t>(255 - v));
            binary.kpSetPixel(x, y, v >= 128 ? 1 : 0);
        }
    }
    const KpEdgeDetector detector;
    EXPECT_EQ(pixelsOf(detector.detectEdges(colour)),
              pixelsOf(detector.detectEdges(KpBitsPerPixelConverter::kpDownscaleColor2Gray_average(colour))));
    EXPECT_EQ(pixelsOf(detector.detectEdges(binary)),
              pixelsOf(detector.detectEdges(KpBitsPerPixelConverter::kpBinary2Gray(binary))));
    const std::vector<uint8_t> binaryEdges = pixelsOf(detector.detectEdges(binary));
    EXPECT_TRUE(std::count(binaryEdges.begin(), binaryEdges.end(), 0) > 0);
}

TEST(KpEdgeDetectorImages, RejectsImagesItCannotRead)
{
    struct Case { const char* name; KpImage image; int code; };
    const Case cases[] = {
        {"no pixel data", KpImage(), 5},
        {"16-bit", sixteenBitImage(), 7},
    };
    for (const Case& c : cases) {
        try {
            KpEdgeDetector().detectEdges(c.image);
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const KpException& e) {
            EXPECT_EQ(e.kpGetCode(), c.code) << c.name;
            EXPECT_NE(std::string(e.what()).find("<KpEdgeDetector::detectEdges()>"), std::string::npos) << e.what();
        }
    }
    try {
        KpEdgeDetector().detectEdges(KpImage());
    } catch (const KpException& e) {
        EXPECT_NE(std::string(e.what()).find("<KpEdgeDetector::detectEdges()> Image Data is NULL!"),
                  std::string::npos);
    }
}

// A strong short edge continues as a long faint one (above the low, below
// the high threshold) down column 70; two full-height edges elsewhere set
// the high threshold. Growth from the strong part stops after 200 queued
// pixels, so the far end of the faint edge stays white.
TEST(KpEdgeDetectorImages, GrowthFromOneSeedIsBoundedBy200QueuedPixels)
{
    const int width = 100, height = 700;
    KpImage input(width, height, 8);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t v = x < 30 ? 0 : x < 60 ? 255 : 25;
            if (x >= 70 && y >= 90 && y <= 110) {
                v = 255;
            } else if (x >= 70 && y > 110 && y <= 690) {
                v = 165;
            }
            input.kpGetData()[y * width + x] = v;
        }
    }
    const KpImage edges = KpEdgeDetector().detectEdges(input);
    auto edgeRowsOfFaintPart = [&](int firstRow, int lastRow) {
        int count = 0;
        for (int y = firstRow; y <= lastRow; ++y) {
            count += edges.kpGetPixelScale(69, y) == 0 || edges.kpGetPixelScale(70, y) == 0;
        }
        return count;
    };
    EXPECT_EQ(edgeRowsOfFaintPart(115, 250), 136) << "faint edge grown next to the seed";
    EXPECT_EQ(edgeRowsOfFaintPart(400, 680), 0) << "faint edge grown beyond the queue limit";
    expectSameAsReference(input);
}

// Sizes around the vector widths of the passes (8 or 16 floats, 16 or 32
// shorts, 32 or 64 bytes), narrower than one vector, and below the
// smoothing window.
TEST(KpEdgeDetectorImages, RandomImagesMatchLiteralDetector)
{
    struct Case { int width, height; };
    uint32_t seed = 1;
    for (const Case& c : {Case{2, 2}, Case{2, 9}, Case{9, 2}, Case{4, 4}, Case{5, 7}, Case{8, 8}, Case{10, 10},
                          Case{17, 9}, Case{3, 40}, Case{7, 23}, Case{15, 12}, Case{31, 19}, Case{33, 40},
                          Case{47, 5}, Case{64, 48}, Case{65, 33}, Case{101, 77}, Case{130, 11}, Case{129, 70}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const KpImage input = randomImage(c.width, c.height, seed++);
        expectSameAsReference(input);
        if (c.width >= 2 && c.height >= 2) {
            expectWhiteFrame(KpEdgeDetector().detectEdges(input));
        }
    }
}

TEST(KpEdgeDetectorImages, PhotoLikeImagesMatchLiteralDetector)
{
    struct Case { int width, height; uint32_t seed; };
    for (const Case& c : {Case{320, 240, 1}, Case{241, 319, 2}, Case{500, 300, 3}, Case{37, 61, 4}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const KpImage input = benchsupport::makePhotoLikeImage(c.width, c.height, 8, c.seed);
        const KpImage edges = KpEdgeDetector().detectEdges(input);
        const std::vector<uint8_t> pixels = pixelsOf(edges);
        EXPECT_GT(std::count(pixels.begin(), pixels.end(), 0), c.width) << "edges found";
        expectWhiteFrame(edges);
        expectSameAsReference(input);
    }
}

// Other parameters take the same path: each set matches the literal
// detector with the same numbers, on gray input and on colour input made
// gray first; the default set is the plain call.
TEST(KpEdgeDetectorParameters, EverySetMatchesLiteralDetector)
{
    struct Case { const char* name; KpEdgeDetector::Parameters parameters; };
    const Case cases[] = {
        {"default", KpEdgeDetector::Parameters()},
        {"narrowest kernel", {0.3f, 0.75f, 0.35f}},
        {"narrow kernel", {0.8f, 0.75f, 0.35f}},
        {"widest kernel, few seeds", {3.6f, 0.95f, 0.5f}},
        {"every candidate a seed", {2.0f, 0.0f, 0.0f}},
        {"only the top as seed", {1.5f, 1.0f, 1.0f}},
    };
    const KpImage gray = benchsupport::makePhotoLikeImage(160, 120, 8, 7);
    KpImage colour(160, 120, 24);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) {
            const uint8_t v = gray.kpGetPixelScale(x, y);
            colour.kpSetPixel(x, y, v, v, v);
        }
    }
    const KpEdgeDetector detector;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KpEdgeDetector::Parameters& p = c.parameters;
        const std::vector<uint8_t> edges = pixelsOf(detector.detectEdges(gray, p));
        EXPECT_TRUE(edges == pixelsOf(referenceedges::detectEdges(gray, p.sigma, p.highFraction, p.lowRatio)));
        EXPECT_TRUE(edges == pixelsOf(detector.detectEdges(colour, p)));
        for (InstructionSet set : availableInstructionSets()) {
            SCOPED_TRACE(nameOf(set));
            EXPECT_TRUE(edges == pixelsOf(detector.detectEdges(gray, p, set)));
        }
    }
    // Images narrower or lower than the window.
    for (const KpEdgeDetector::Parameters& p : {KpEdgeDetector::Parameters{3.6f, 0.75f, 0.35f},
                                                KpEdgeDetector::Parameters{2.0f, 0.5f, 0.35f}}) {
        for (const KpImage& small : {benchsupport::makePhotoLikeImage(7, 23, 8, 3),
                                     benchsupport::makePhotoLikeImage(31, 5, 8, 4)}) {
            SCOPED_TRACE(std::to_string(small.kpGetWidth()) + "x" + std::to_string(small.kpGetHeight()));
            const KpImage slow = referenceedges::detectEdges(small, p.sigma, p.highFraction, p.lowRatio);
            for (InstructionSet set : availableInstructionSets()) {
                SCOPED_TRACE(nameOf(set));
                EXPECT_TRUE(pixelsOf(detector.detectEdges(small, p, set)) == pixelsOf(slow));
            }
        }
    }
    EXPECT_TRUE(pixelsOf(detector.detectEdges(gray)) == pixelsOf(detector.detectEdges(gray, {})));
    EXPECT_FALSE(pixelsOf(detector.detectEdges(gray)) == pixelsOf(detector.detectEdges(gray, {3.0f, 0.9f, 0.35f})))
        << "the parameters change the result";
}

TEST(KpEdgeDetectorParameters, ValuesOutOfRangeAreRefused)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case { const char* name; KpEdgeDetector::Parameters parameters; const char* text; };
    const Case cases[] = {
        {"sigma too wide", {3.7f, 0.75f, 0.35f}, "(sigma at most 3.6)."},
        {"sigma zero", {0.0f, 0.75f, 0.35f}, "(sigma at most 3.6)."},
        {"high fraction above 1", {1.5f, 1.5f, 0.35f}, "must lie between 0 and 1."},
        {"high fraction negative", {1.5f, -0.1f, 0.35f}, "must lie between 0 and 1."},
        {"high fraction NaN", {1.5f, nan, 0.35f}, "must lie between 0 and 1."},
        {"low ratio above 1", {1.5f, 0.75f, 2.0f}, "must lie between 0 and 1."},
        {"low ratio NaN", {1.5f, 0.75f, nan}, "must lie between 0 and 1."},
    };
    const KpImage input = benchsupport::makePhotoLikeImage(40, 30, 8, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::expectFailure([&] { KpEdgeDetector().detectEdges(input, c.parameters); }, KP_INVALID_ARGUMENT,
                                   c.text);
    }
}

// Reads a binary 8-bit PGM as written by the converter.
KpImage readPgm(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maxValue = 0;
    file >> magic >> width >> height >> maxValue;
    file.get();
    if (magic != "P5" || maxValue != 255 || width <= 0 || height <= 0) {
        return KpImage();
    }
    KpImage image(width, height, 8);
    file.read(reinterpret_cast<char*>(image.kpGetData()), static_cast<std::streamsize>(image.kpGetImageSize()));
    return file ? image : KpImage();
}

TEST(KpEdgeDetectorImages, CorpusPhotosMatchLiteralDetector)
{
    const std::string corpus = testsupport::corpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "corpus folder absent";
    }
    if (std::system("/usr/bin/convert -version > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no image converter to read the JPEG photos";
    }
    const std::string dir = testsupport::makeTempDir();
    int compared = 0;
    for (const char* name : {"101085", "12084", "145086"}) {
        const std::string photo = corpus + "/photos/" + name + ".jpg";
        const std::string pgm = dir + "/" + name + ".pgm";
        const std::string command = "/usr/bin/convert '" + photo + "' -colorspace Gray -depth 8 '" + pgm + "'";
        if (std::system(command.c_str()) != 0) {
            continue;
        }
        const KpImage input = readPgm(pgm);
        std::remove(pgm.c_str());
        ASSERT_NE(input.kpGetData(), nullptr) << name;
        SCOPED_TRACE(name);
        expectSameAsReference(input);
        ++compared;
    }
    std::remove(dir.c_str());
    if (compared == 0) {
        GTEST_SKIP() << "no corpus photo could be converted";
    }
}

} // namespace
