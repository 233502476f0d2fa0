// The run-based labelling: the run stream of packed rows, and the
// component records of one sweep, on small pictures ('#' is a set bit,
// the foreground).
#include "kpconnectedcomponentsutils.h"
#include "kpexception.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testsupport::binaryFromPicture;
using testsupport::expectFailure;

namespace {

const char* const SOURCE = "kpconnectedcomponentsutils.cpp";

// The picture with '#' as set bits. The bits past the width come out set,
// so the stream must overwrite them with each row's last pixel.
KpImage foregroundOf(const std::vector<std::string>& picture)
{
    return binaryFromPicture(picture).kpReverseImage();
}

std::vector<int32_t> streamOf(const std::vector<std::string>& picture)
{
    KpImage image = foregroundOf(picture);
    std::vector<int32_t> stream;
    const int64_t length = KpConnectedComponentsUtils::kpExtractRuns(
        image.kpGetData(), image.kpGetWidth(), image.kpGetBytesPerRow(), image.kpGetHeight(), stream);
    EXPECT_EQ(length, static_cast<int64_t>(stream.size()));
    return stream;
}

KpLabellingDescriptor labelled(const KpImage& source)
{
    KpImage image = source;
    return KpConnectedComponentsUtils::kpLabelImage(image);
}

std::string spansOf(const std::vector<KpDatarun>& spans)
{
    std::string text;
    for (const KpDatarun& s : spans) {
        text += "(" + std::to_string(s.row) + "," + std::to_string(s.start) + "," + std::to_string(s.end) + ")";
    }
    return text;
}

// One line per record, in emission order.
std::vector<std::string> summariesOf(const KpLabellingDescriptor& D)
{
    std::vector<std::string> lines;
    for (std::size_t i = 1; i < D.ComponentList.size(); ++i) {
        const KpComponentRecord& r = D.ComponentList[i];
        EXPECT_EQ(r.runCount, static_cast<int32_t>(r.runs.size()));
        EXPECT_EQ(r.closedGapCount, static_cast<int32_t>(r.closedGaps.size()));
        EXPECT_EQ(r.openedGapCount, static_cast<int32_t>(r.openedGaps.size()));
        lines.push_back("area " + std::to_string(r.area) + " rows " + std::to_string(r.top) + "-" +
                        std::to_string(r.bottom) + " cols " + std::to_string(r.left) + "-" + std::to_string(r.right) +
                        " seed " + std::to_string(r.seedRow) + "," + std::to_string(r.seedColumn) + " loops " +
                        std::to_string(r.loopCount) + " boundary " + std::to_string(r.boundaryLength) + " closed " +
                        spansOf(r.closedGaps) + " opened " + spansOf(r.openedGaps));
    }
    return lines;
}

// --- Run stream -------------------------------------------------------------

struct StreamCase {
    const char* name;
    std::vector<std::string> picture;
    std::vector<int32_t> stream;
};

void PrintTo(const StreamCase& c, std::ostream* out)
{
    *out << c.name;
}

class StreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamTest, EncodesTheRowsAsTransitions)
{
    EXPECT_EQ(streamOf(GetParam().picture), GetParam().stream);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StreamTest,
    ::testing::Values(
        StreamCase{"EmptyRow", {"....."}, {0, 5, 6, -1, -2}},
        StreamCase{"FirstPixelSet", {"#...."}, {0, 0, 1, 5, 6, -1, -2}},
        StreamCase{"LastPixelSetClosesAtWidth", {"....#"}, {0, 4, 5, 6, -1, -2}},
        StreamCase{"FullByte", {"########"}, {0, 0, 8, 9, -1, -2}},
        StreamCase{"Width10LastPixelSetFillsThePadding", {"........##"}, {0, 8, 10, 11, -1, -2}},
        StreamCase{"Width10LastPixelClearClearsThePadding", {"#........."}, {0, 0, 1, 10, 11, -1, -2}},
        StreamCase{"TwoRows", {"#.##.", ".#..#"}, {0, 0, 1, 2, 4, 5, 6, -1, 0, 1, 2, 4, 5, 6, -1, -2}},
        // Whole words of background or foreground are skipped at once.
        StreamCase{"LongUniformStretches",
                   {std::string(150, '.') + "#" + std::string(49, '.'), std::string(70, '#') + "." + std::string(129, '#')},
                   {0, 150, 151, 200, 201, -1, 0, 0, 70, 71, 200, 201, -1, -2}}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

// --- Labelling ----------------------------------------------------------------

struct LabelCase {
    const char* name;
    std::vector<std::string> picture;
    std::vector<std::string> components;
};

void PrintTo(const LabelCase& c, std::ostream* out)
{
    *out << c.name;
}

class LabelTest : public ::testing::TestWithParam<LabelCase> {};

TEST_P(LabelTest, EmitsTheseRecords)
{
    EXPECT_EQ(summariesOf(labelled(foregroundOf(GetParam().picture))), GetParam().components);
}

// The boundary counts the pixel edges between a component and the rest:
// 2 x length + 2 per run, less twice the columns shared by runs of
// consecutive rows.
INSTANTIATE_TEST_SUITE_P(
    Pictures, LabelTest,
    ::testing::Values(
        LabelCase{"NothingSet", {"...", "..."}, {}},
        LabelCase{"OnePixel", {"#"}, {"area 1 rows 0-0 cols 0-0 seed 0,0 loops 0 boundary 4 closed  opened "}},
        LabelCase{"Square", {"###", "###", "###"},
                  {"area 9 rows 0-2 cols 0-2 seed 2,0 loops 0 boundary 12 closed  opened "}},
        LabelCase{"DiagonalContactsJoin", {"#..", ".#.", "..#"},
                  {"area 3 rows 0-2 cols 0-2 seed 2,2 loops 0 boundary 12 closed  opened "}},
        LabelCase{"UClosesOneGapWithoutALoop", {"#.#", "#.#", "###"},
                  {"area 7 rows 0-2 cols 0-2 seed 2,0 loops 0 boundary 16 closed (1,1,2) opened "}},
        LabelCase{"RingClosesOneLoop", {"###", "#.#", "###"},
                  {"area 8 rows 0-2 cols 0-2 seed 2,0 loops 1 boundary 16 closed (1,1,2) opened (1,1,2)"}},
        LabelCase{"TwoRunsUnderOneOpenAGap", {"#####", "#.#.#"},
                  {"area 8 rows 0-1 cols 0-4 seed 1,0 loops 0 boundary 18 closed  opened (1,3,4)(1,1,2)"}},
        // Emitted by the row after the bottom row, then by the seed.
        LabelCase{"OrderAndSeeds", {"#..#.", "#....", "...##"},
                  {"area 1 rows 0-0 cols 3-3 seed 0,3 loops 0 boundary 4 closed  opened ",
                   "area 2 rows 0-1 cols 0-0 seed 1,0 loops 0 boundary 6 closed  opened ",
                   "area 2 rows 2-2 cols 3-4 seed 2,3 loops 0 boundary 6 closed  opened "}},
        // A run ending at the width must not touch the end of a row above
        // that ended in background.
        LabelCase{"RunAtTheWidthBelowBackground", {"#...", "...#"},
                  {"area 1 rows 0-0 cols 0-0 seed 0,0 loops 0 boundary 4 closed  opened ",
                   "area 1 rows 1-1 cols 3-3 seed 1,3 loops 0 boundary 4 closed  opened "}}),
    [](const ::testing::TestParamInfo<LabelCase>& info) { return std::string(info.param.name); });

TEST(LabellingTest, RunsAreListedFromTheLastAddedAndCoverTheComponent)
{
    const KpLabellingDescriptor D = labelled(foregroundOf({"##.", ".##", "..#"}));
    ASSERT_EQ(D.ComponentList.size(), 2u);
    const KpComponentRecord& r = D.ComponentList[1];
    EXPECT_EQ(spansOf(r.runs), "(2,2,3)(1,1,3)(0,0,2)");
    EXPECT_FLOAT_EQ(r.meanRow, 4.0f / 5.0f);
    EXPECT_FLOAT_EQ(r.meanColumn, 6.0f / 5.0f);
}

// Wider than a 16-bit stream can describe.
TEST(LabellingTest, Width40000IsLabelled)
{
    const int32_t width = 40000;
    KpImage image(width, 3, 1);
    std::fill_n(image.kpGetData(), image.kpGetImageSize(), 0);
    const auto setBit = [&image](int32_t x, int32_t y) { image.kpSetPixel(x, y, 1); };
    for (int32_t x = 39990; x < width; ++x) {
        setBit(x, 0);
    }
    setBit(35000, 0);
    setBit(39995, 1);
    setBit(100, 1);
    const KpLabellingDescriptor D = labelled(image);
    EXPECT_EQ(summariesOf(D), (std::vector<std::string>{
                                  "area 1 rows 0-0 cols 35000-35000 seed 0,35000 loops 0 boundary 4 closed  opened ",
                                  "area 1 rows 1-1 cols 100-100 seed 1,100 loops 0 boundary 4 closed  opened ",
                                  "area 11 rows 0-1 cols 39990-39999 seed 1,39995 loops 0 boundary 24 closed  opened ",
                              }));
}

TEST(LabellingTest, DescriptorWithoutImageDataIsRefused)
{
    KpLabellingDescriptor D;
    D.width = D.height = D.bytesPerRow = 1;
    D.stream = {0, 1, 2, -1, -2};
    expectFailure([&D] { KpConnectedComponentsUtils::KpCalcConnectedComponents(D); }, KP_NO_DATA,
                  "<KpConnectedComponentsUtils::KpCalcConnectedComponents()> Image Data is NULL!", SOURCE);
}

TEST(LabellingTest, MalformedStreamsAreRefused)
{
    const uint8_t pixels[1] = {0};
    const std::vector<std::vector<int32_t>> streams = {
        {},                           // no row
        {0, 3, 1, 4, 5, -1, -2},      // transitions out of order
        {0, 1, 2, -1, -2},            // no width, width + 1 pair
        {0, 1, 4, 5, -1, -2},         // only one of the two rows
        {0, 1, 2, 3, 4, 5, 6, 7, 8}}; // no terminator, longer than a row can be
    for (const std::vector<int32_t>& stream : streams) {
        KpLabellingDescriptor D;
        D.width = 4;
        D.height = 2;
        D.bytesPerRow = 1;
        D.imageData = pixels;
        D.stream = stream;
        expectFailure([&D] { KpConnectedComponentsUtils::KpCalcConnectedComponents(D); }, KP_INVALID_ARGUMENT,
                      "<KpConnectedComponentsUtils::READ_ROW()> Malformed run stream", SOURCE);
    }
}

TEST(LabellingTest, OnlyBinaryImagesAreLabelled)
{
    KpImage gray(4, 4, 8);
    expectFailure([&gray] { KpConnectedComponentsUtils::kpLabelImage(gray); }, KP_UNSUPPORTED_CONTENT,
                  "<KpConnectedComponentsUtils::kpLabelImage()> Only supports Two Bit images (Black and White)", SOURCE);
}

TEST(LabellingTest, ExtractionRefusesMissingDataAndShortRows)
{
    std::vector<int32_t> stream;
    uint8_t pixels[2] = {0, 0};
    expectFailure([&stream] { KpConnectedComponentsUtils::kpExtractRuns(nullptr, 8, 1, 1, stream); }, KP_NO_DATA,
                  "<KpConnectedComponentsUtils::kpExtractRuns()> Image Data is NULL!", SOURCE);
    expectFailure([&] { KpConnectedComponentsUtils::kpExtractRuns(pixels, 9, 1, 1, stream); }, KP_INVALID_ARGUMENT,
                  "<KpConnectedComponentsUtils::kpExtractRuns()> Invalid image size", SOURCE);
    expectFailure([&] { KpConnectedComponentsUtils::kpExtractRuns(pixels, 8, 1, 0, stream); }, KP_INVALID_ARGUMENT,
                  "<KpConnectedComponentsUtils::kpExtractRuns()> Invalid image size", SOURCE);
}

} // namespace
