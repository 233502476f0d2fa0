// The edge linker on small pictures: preparation of the pixel-state
// matrix, tracing into edge lists, segment fitting and the line file.
// Every test runs in a fresh working folder, where the linker writes its
// diagnostic files.
#include "kpedgelinker.h"
#include "kpexception.h"
#include "kppointlists.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <sys/stat.h>
#include <vector>

using testsupport::binaryFromPicture;
using testsupport::fileExists;
using testsupport::grayFromPicture;
using testsupport::readFile;
using testsupport::textOf;

namespace {

class EdgeLinkerTest : public ::testing::Test {
protected:
    testsupport::ScopedWorkingDir folder;
};

// The matrix as rows of digits, one character per cell (values 0..9).
std::vector<std::string> labelsOf(const KpEdgeLinker& linker)
{
    std::vector<std::string> rows;
    for (int r = 0; r < linker.getRows(); ++r) {
        std::string row;
        for (int c = 0; c < linker.getCols(); ++c) {
            row += static_cast<char>('0' + linker.getPixelLabels().get(r, c));
        }
        rows.push_back(row);
    }
    return rows;
}

// The traced edge lists of a picture ('#' strokes) given as a 1-bit
// image, which the linker uses without thinning.
std::string tracedLists(const std::vector<std::string>& picture)
{
    KpEdgeLinker linker(binaryFromPicture(picture));
    linker.traceEdges();
    return textOf(linker.getEdgeLists());
}

std::string linesOf(const std::vector<std::string>& picture, double tolerance = 2.0)
{
    KpEdgeLinker linker(binaryFromPicture(picture));
    linker.extractLines(tolerance);
    EXPECT_EQ(linker.writeLines("lines.txt"), 1);
    return readFile("lines.txt");
}

// --- Construction ---------------------------------------------------------

TEST_F(EdgeLinkerTest, GrayInputIsThresholdedAt127ThinnedAndDumped)
{
    KpImage input = grayFromPicture({".....", ".....", ".....", ".....", "....."});
    input.kpSetPixel(1, 1, 126);
    input.kpSetPixel(3, 3, 127);
    KpEdgeLinker linker(input);
    EXPECT_EQ(labelsOf(linker), (std::vector<std::string>{"00000", "01000", "00000", "00000", "00000"}));
    EXPECT_EQ(linker.getImage().kpGetDepth(), 1);
    for (const char* name : {"ori.png", "bin.png", "tmp.bmp", "test.txt"}) {
        EXPECT_TRUE(fileExists(name)) << name;
    }
    EXPECT_EQ(readFile("test.txt"), "  0  0  0  0  0;\n  0  1  0  0  0;\n  0  0  0  0  0;\n"
                                    "  0  0  0  0  0;\n  0  0  0  0  0;\n");
    EXPECT_EQ(input.kpGetPixelScale(1, 1), 126) << "the caller's image is not changed";
}

TEST_F(EdgeLinkerTest, ColourInputIsAveragedBeforeThresholding)
{
    KpImage input(3, 1, 24);
    input.kpSetPixel(0, 0, 126, 126, 127); // average 126: stroke
    input.kpSetPixel(1, 0, 127, 127, 128); // average 127: background
    input.kpSetPixel(2, 0, 255, 255, 255);
    KpEdgeLinker linker(input);
    EXPECT_EQ(labelsOf(linker), (std::vector<std::string>{"100"}));
}

TEST_F(EdgeLinkerTest, BinaryInputIsNeitherThresholdedNorThinned)
{
    KpEdgeLinker linker(binaryFromPicture({".....", ".###.", ".###.", ".###.", "....."}));
    EXPECT_EQ(labelsOf(linker), (std::vector<std::string>{"00000", "01110", "01110", "01110", "00000"}));
    EXPECT_FALSE(fileExists("bin.png"));
    EXPECT_TRUE(fileExists("tmp.bmp"));
}

TEST_F(EdgeLinkerTest, ThickStrokeIsThinnedToOnePixel)
{
    KpEdgeLinker linker(grayFromPicture({".......", ".#####.", ".#####.", ".#####.", "......."}));
    int strokePixels = 0;
    for (const std::string& row : labelsOf(linker)) {
        strokePixels += static_cast<int>(std::count(row.begin(), row.end(), '1'));
    }
    EXPECT_GT(strokePixels, 0);
    EXPECT_LT(strokePixels, 15);
}

TEST_F(EdgeLinkerTest, EmptyImageIsRefused)
{
    EXPECT_THROW(KpEdgeLinker linker{KpImage()}, KpException);
}

// Without diagnostic files the linker does the same work: same matrix,
// edge lists and polylines, and nothing in the working folder.
TEST_F(EdgeLinkerTest, SkippingDiagnosticsWritesNothingAndChangesNothing)
{
    struct Case { const char* name; KpImage image; };
    KpImage plus = grayFromPicture({"...#...", "...#...", "...#...", "#######", "...#...", "...#...", "...#..."});
    const Case cases[] = {
        {"gray plus", plus},
        {"binary ring", binaryFromPicture({"......", ".####.", ".#..#.", ".#..#.", ".####.", "......"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScopedWorkingDir quiet;
        KpEdgeLinker skipping(c.image, KpEdgeLinker::Diagnostics::Skip);
        const std::vector<std::string> prepared = labelsOf(skipping);
        const std::vector<PointList> lines = skipping.extractLines(2.0);
        EXPECT_TRUE(testsupport::runCommand("ls -A '" + quiet.path() + "'").empty()) << "files were written";

        testsupport::ScopedWorkingDir dumps;
        KpEdgeLinker writing(c.image);
        EXPECT_EQ(labelsOf(writing), prepared);
        EXPECT_EQ(textOf(writing.extractLines(2.0)), textOf(lines));
        EXPECT_EQ(textOf(writing.getEdgeLists()), textOf(skipping.getEdgeLists()));
        EXPECT_FALSE(lines.empty());
        EXPECT_TRUE(fileExists("ne.txt"));
    }
    EXPECT_THROW(KpEdgeLinker(KpImage(), KpEdgeLinker::Diagnostics::Skip), KpException) << "empty image";
}

TEST_F(EdgeLinkerTest, DumpThatCannotBeWrittenIsReportedAndWorkGoesOn)
{
    ASSERT_EQ(mkdir("test.txt", 0755), 0); // a folder in the dump's place
    testing::internal::CaptureStderr();
    KpEdgeLinker linker(binaryFromPicture({"###"}));
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("test.txt"), std::string::npos) << errors;
    EXPECT_EQ(linker.getRows(), 1);
    linker.extractLines(2.0);
    EXPECT_EQ(linker.getSegmentLists().size(), 1u);
}

// --- Tracing -----------------------------------------------------------------

struct TraceCase {
    const char* name;
    std::vector<std::string> picture;
    const char* lists;
};

void PrintTo(const TraceCase& c, std::ostream* out)
{
    *out << c.name;
}

class TraceTest : public EdgeLinkerTest, public ::testing::WithParamInterface<TraceCase> {};

TEST_P(TraceTest, GivesTheseEdgeLists)
{
    EXPECT_EQ(tracedLists(GetParam().picture), GetParam().lists);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, TraceTest,
    ::testing::Values(
        TraceCase{"IsolatedPixelIsDropped", {".....", "..#..", "....."}, ""},
        TraceCase{"TwoPixelRunIsDropped", {".....", ".##..", "....."}, ""},
        TraceCase{"ThreePixelRunIsKept", {".....", ".###.", "....."}, "(1,1)(1,2)(1,3)\n"},
        TraceCase{"DroppedRunsDoNotHideLaterStrokes", {"#....", ".....", "##...", ".....", "..###"},
                  "(4,2)(4,3)(4,4)\n"},
        TraceCase{"RingIsClosedByItsFirstPoint", {".....", ".###.", ".#.#.", ".###.", "....."},
                  "(2,1)(3,1)(3,2)(3,3)(2,3)(1,3)(1,2)(1,1)(2,1)\n"},
        TraceCase{"SeedInsideAnArcIsWalkedBothWays", {"..#..", ".#.#.", "#...#"},
                  "(2,0)(1,1)(0,2)(1,3)(2,4)\n"},
        // Each arm ends on the junction; arms with equal coordinate totals
        // are different lists and are all kept.
        TraceCase{"PlusGivesFourArms", {"..#..", "..#..", "#####", "..#..", "..#.."},
                  "(0,2)(1,2)(2,2)\n(2,0)(2,1)(2,2)\n(2,2)(2,3)(2,4)\n(2,2)(3,2)(4,2)\n"},
        TraceCase{"LShapeIsOneList",
                  {"........", ".####...", "....#...", "....#...", "....#...", "........", "........",
                   "........"},
                  "(1,1)(1,2)(1,3)(1,4)(2,4)(3,4)(4,4)\n"}),
    [](const ::testing::TestParamInfo<TraceCase>& info) { return std::string(info.param.name); });

TEST_F(EdgeLinkerTest, PlusHasItsCentreAsOnlyJunction)
{
    KpEdgeLinker linker(binaryFromPicture({"..#..", "..#..", "#####", "..#..", "..#.."}));
    linker.markJunctions();
    EXPECT_EQ(linker.getJunctionRows(), std::vector<int32_t>{2});
    EXPECT_EQ(linker.getJunctionCols(), std::vector<int32_t>{2});
    EXPECT_TRUE(linker.isJunction(2, 2));
    EXPECT_FALSE(linker.isJunction(2, 3));
    EXPECT_FALSE(linker.isJunction(-1, 2));
    EXPECT_FALSE(linker.isJunction(2, 5));
}

TEST_F(EdgeLinkerTest, TracingDumpsTheListNumbers)
{
    KpEdgeLinker linker(binaryFromPicture({"..#..", "..#..", "#####", "..#..", "..#.."}));
    EXPECT_EQ(linker.traceEdges(), 1);
    EXPECT_EQ(readFile("reset.txt"), "  0  0  0  0  0;\n  0  0  0  0  0;\n  0  0  0  0  0;\n"
                                     "  0  0  0  0  0;\n  0  0  0  0  0;\n");
    // The centre lies on all four lists and keeps the highest number.
    const std::string numbered = "  0  0  1  0  0;\n  0  0  1  0  0;\n  2  2  4  3  3;\n"
                                 "  0  0  4  0  0;\n  0  0  4  0  0;\n";
    EXPECT_EQ(readFile("updated.txt"), numbered);
    EXPECT_EQ(readFile("ne.txt"), numbered);
}

TEST_F(EdgeLinkerTest, NothingTracedWritesNoTracingDump)
{
    KpEdgeLinker linker(binaryFromPicture({".....", "..#..", "....."}));
    EXPECT_EQ(linker.traceEdges(), -1);
    for (const char* name : {"reset.txt", "updated.txt", "ne.txt"}) {
        EXPECT_FALSE(fileExists(name)) << name;
    }
}

TEST_F(EdgeLinkerTest, NextPointWithoutCandidateStopsAtTheOrigin)
{
    KpEdgeLinker linker(binaryFromPicture({"...", ".#.", "..."}));
    linker.markJunctions();
    int32_t row = -1, col = -1;
    EXPECT_EQ(linker.nextPoint(1, 1, 1, row, col), 0);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(col, 0);
}

TEST_F(EdgeLinkerTest, ContourDifferenceIsTheSignedCoordinateTotal)
{
    KpEdgeLinker linker(binaryFromPicture({"."}));
    const PointList up{{0, 2}, {1, 2}, {2, 2}};
    const PointList left{{2, 0}, {2, 1}, {2, 2}};
    EXPECT_EQ(linker.contourDifference(up, left), 0.0);
    EXPECT_EQ(linker.contourDifference(up, PointList{{0, 0}, {0, 0}, {0, 0}}), 9.0);
    EXPECT_EQ(textOf({linker.reversePoints(up)}), "(2,2)(1,2)(0,2)\n");
}

struct DuplicateCase {
    const char* name;
    std::vector<PointList> lists;
    std::vector<PointList> kept;
};

void PrintTo(const DuplicateCase& c, std::ostream* out)
{
    *out << c.name;
}

class DuplicateTest : public ::testing::TestWithParam<DuplicateCase> {};

TEST_P(DuplicateTest, KeepsTheFirstOfEqualLists)
{
    std::vector<PointList> lists = GetParam().lists;
    kppointlists::removeDuplicates(lists);
    EXPECT_EQ(textOf(lists), textOf(GetParam().kept));
}

const PointList A{{0, 2}, {1, 2}, {2, 2}};
const PointList B{{2, 0}, {2, 1}, {2, 2}};
const PointList REVERSED_A{{2, 2}, {1, 2}, {0, 2}};

INSTANTIATE_TEST_SUITE_P(Lists, DuplicateTest,
                         ::testing::Values(DuplicateCase{"EqualListIsDropped", {A, B, A, A}, {A, B}},
                                           DuplicateCase{"OrderOfTheOthersIsKept", {B, A, B, REVERSED_A, A}, {B, A, REVERSED_A}},
                                           DuplicateCase{"EqualTotalsAreNotEqualLists", {A, B}, {A, B}},
                                           DuplicateCase{"ReversedListIsAnotherList", {A, REVERSED_A}, {A, REVERSED_A}},
                                           DuplicateCase{"PrefixIsAnotherList", {A, {{0, 2}, {1, 2}}}, {A, {{0, 2}, {1, 2}}}},
                                           DuplicateCase{"EmptyListsCollapse", {{}, {}, A}, {{}, A}},
                                           DuplicateCase{"NoList", {}, {}}),
                         [](const ::testing::TestParamInfo<DuplicateCase>& info) { return std::string(info.param.name); });

// Lengths along the path: a diagonal step counts sqrt(2), a closed list
// its whole ring; a list exactly at the minimum is kept.
TEST(LengthFilter, DropsListsShorterThanTheMinimumAndKeepsTheOrder)
{
    const PointList diagonal{{0, 0}, {3, 4}};                  // 5
    const PointList bent{{0, 0}, {0, 3}, {4, 3}};              // 7
    const PointList ring{{0, 0}, {0, 2}, {2, 2}, {0, 0}};      // 4 + sqrt(8)
    const PointList dot{{5, 5}};                               // 0
    EXPECT_DOUBLE_EQ(kppointlists::pathLength(ring), 4.0 + std::sqrt(8.0));
    struct Case { double minLength; std::vector<PointList> kept; };
    const Case cases[] = {
        {0.0, {diagonal, bent, ring, dot}},
        {5.0, {diagonal, bent, ring}},
        {6.9, {bent}},
        {7.0, {bent}},
        {7.5, {}},
    };
    for (const Case& c : cases) {
        std::vector<PointList> lists{diagonal, bent, ring, dot};
        kppointlists::removeShorterThan(lists, c.minLength);
        EXPECT_EQ(textOf(lists), textOf(c.kept)) << c.minLength;
    }
}

// Segments walk 8-connected from end to end, in either direction; the
// steps along the minor axis are spread evenly.
TEST(SegmentPixels, WalkEightConnectedFromEndToEnd)
{
    struct Case { const char* name; point a, b; std::string pixels; };
    const Case cases[] = {
        {"single point", {3, 4}, {3, 4}, "(3,4)\n"},
        {"row", {2, 1}, {2, 4}, "(2,1)(2,2)(2,3)(2,4)\n"},
        {"column upwards", {3, 0}, {0, 0}, "(3,0)(2,0)(1,0)(0,0)\n"},
        {"diagonal", {0, 0}, {2, 2}, "(0,0)(1,1)(2,2)\n"},
        {"shallow", {0, 0}, {1, 4}, "(0,0)(0,1)(1,2)(1,3)(1,4)\n"},
        {"steep backwards", {4, 1}, {0, 0}, "(4,1)(3,1)(2,0)(1,0)(0,0)\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(textOf({kppointlists::segmentPixels(c.a, c.b)}), c.pixels) << c.name;
    }
}

// --- Fitting -------------------------------------------------------------------

struct FitCase {
    const char* name;
    std::vector<std::string> picture;
    double tolerance;
    const char* lines;
};

void PrintTo(const FitCase& c, std::ostream* out)
{
    *out << c.name;
}

class FitTest : public EdgeLinkerTest, public ::testing::WithParamInterface<FitCase> {};

TEST_P(FitTest, WritesTheseLines)
{
    EXPECT_EQ(linesOf(GetParam().picture, GetParam().tolerance), GetParam().lines);
}

const std::vector<std::string> CORNER{"####.", "...#.", "...#.", "...#.", "....."};
// The middle point lies exactly 2 pixels from the chord (0,0)-(0,4).
const std::vector<std::string> VEE{"#...#", ".#.#.", "..#.."};
const std::vector<std::string> PLUS{"..#..", "..#..", "#####", "..#..", "..#.."};

INSTANTIATE_TEST_SUITE_P(
    Pictures, FitTest,
    ::testing::Values(
        FitCase{"StraightRunHasItsEndsAsVertices", {"......", ".####.", "......"}, 2.0, "1,1,1,4,\n"},
        FitCase{"CornerBeyondToleranceIsCut", CORNER, 2.0, "0,0,0,3,3,3,\n"},
        FitCase{"CornerWithinToleranceIsKept", CORNER, 2.2, "0,0,3,3,\n"},
        FitCase{"DeviationEqualToToleranceDoesNotSplit", VEE, 2.0, "0,0,0,4,\n"},
        FitCase{"DeviationAboveToleranceSplits", VEE, 1.999, "0,0,2,2,0,4,\n"},
        FitCase{"NegativeToleranceCountsAsZero", VEE, -1.0, "0,0,2,2,0,4,\n"},
        FitCase{"NanToleranceCountsAsZero", VEE, std::numeric_limits<double>::quiet_NaN(), "0,0,2,2,0,4,\n"},
        FitCase{"PlusGivesFourLines", PLUS, 2.0, "0,2,2,2,\n2,0,2,2,\n2,2,2,4,\n2,2,4,2,\n"},
        FitCase{"LShapeInEightByEight",
                {"........", ".####...", "....#...", "....#...", "....#...", "........", "........",
                 "........"},
                2.0, "1,1,1,4,4,4,\n"},
        // The closed list is measured from its first point (2,1): the
        // first of the two farthest points, (3,3), becomes a vertex, and
        // the way back lies within the tolerance.
        FitCase{"RingIsSplitAtThePointFarthestFromItsStart", {".....", ".###.", ".#.#.", ".###.", "....."}, 2.0,
                "2,1,3,3,2,1,\n"},
        FitCase{"TwoPolylinesArePadded", {"####.", "...#.", "...#.", "...#.", ".....", ".#...", ".#...", ".#...", ".#...", ".#..."},
                2.0, "0,0,0,3,3,3,\n5,1,9,1,-2,-2,\n"},
        FitCase{"NoEdgeGivesAnEmptyFile", {".....", "..#..", "....."}, 2.0, ""}),
    [](const ::testing::TestParamInfo<FitCase>& info) { return std::string(info.param.name); });

TEST_F(EdgeLinkerTest, CornerDeviationIsMeasuredFromTheChord)
{
    KpEdgeLinker linker(binaryFromPicture({"."}));
    const std::vector<int32_t> xs{0, 1, 2, 3, 3, 3, 3};
    const std::vector<int32_t> ys{0, 0, 0, 0, 1, 2, 3};
    double deviation = -1, chord = -1, squares = -1;
    int32_t index = -1;
    EXPECT_TRUE(linker.maxLineDeviation(xs, ys, 0, 6, deviation, index, chord, squares));
    EXPECT_NEAR(deviation, 9.0 / std::sqrt(18.0), 1e-12);
    EXPECT_NEAR(deviation, 2.121, 1e-3);
    EXPECT_EQ(index, 3);
    EXPECT_DOUBLE_EQ(chord, std::sqrt(18.0));
    // Deviations 0, 3, 6, 9, 6, 3, 0 over sqrt(18).
    EXPECT_NEAR(squares, (9 + 36 + 81 + 36 + 9) / 18.0, 1e-12);
    // The sub-range 2..4 is counted from its first point.
    EXPECT_TRUE(linker.maxLineDeviation(xs, ys, 2, 4, deviation, index, chord, squares));
    EXPECT_EQ(index, 1);
}

TEST_F(EdgeLinkerTest, ClosedRangeIsMeasuredFromItsFirstPoint)
{
    KpEdgeLinker linker(binaryFromPicture({"."}));
    const std::vector<int32_t> xs{2, 1, 1, 1, 2, 3, 3, 3, 2};
    const std::vector<int32_t> ys{1, 1, 2, 3, 3, 3, 2, 1, 1};
    double deviation = -1, chord = -1, squares = -1;
    int32_t index = -1;
    EXPECT_TRUE(linker.maxLineDeviation(xs, ys, 0, 8, deviation, index, chord, squares));
    EXPECT_DOUBLE_EQ(deviation, std::sqrt(5.0)); // (3,1), the first of the two farthest
    EXPECT_EQ(index, 3);
    EXPECT_EQ(chord, 1.0);
}

TEST_F(EdgeLinkerTest, RangesOfFewerThanTwoPointsAreReported)
{
    KpEdgeLinker linker(binaryFromPicture({"."}));
    const std::vector<int32_t> xs{4, 5};
    const std::vector<int32_t> ys{1, 1};
    double deviation = -1, chord = -1, squares = -1;
    int32_t index = -1;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(linker.maxLineDeviation(xs, ys, 1, 1, deviation, index, chord, squares));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Contour of length 1\n");
    EXPECT_EQ(deviation, 0.0);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(chord, 1.0);
    EXPECT_EQ(squares, 0.0);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(linker.maxLineDeviation(xs, ys, 1, 0, deviation, index, chord, squares));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Contour of length 0\n");
    EXPECT_EQ(index, 0);
    EXPECT_EQ(chord, 0.0);
}

struct MaxCase {
    const char* name;
    std::vector<double> values;
    double maximum;
    int32_t index;
};

void PrintTo(const MaxCase& c, std::ostream* out)
{
    *out << c.name;
}

class MaxValueTest : public EdgeLinkerTest, public ::testing::WithParamInterface<MaxCase> {};

TEST_P(MaxValueTest, FindsTheFirstLargestValue)
{
    KpEdgeLinker linker(binaryFromPicture({"."}));
    double maximum = -1;
    int32_t index = -1;
    EXPECT_EQ(linker.maxValue(GetParam().values, maximum, index), GetParam().maximum);
    EXPECT_EQ(maximum, GetParam().maximum);
    EXPECT_EQ(index, GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Values, MaxValueTest,
                         ::testing::Values(MaxCase{"FirstOfEqualMaximaWins", {1, 3, 2, 3}, 3, 1},
                                           MaxCase{"AllZero", {0, 0, 0}, 0, 0},
                                           MaxCase{"NegativesGiveZero", {-1, -5}, 0, 0},
                                           MaxCase{"Empty", {}, 0, 0}),
                         [](const ::testing::TestParamInfo<MaxCase>& info) { return std::string(info.param.name); });

TEST_F(EdgeLinkerTest, NoEdgeListGivesNoPolyline)
{
    KpEdgeLinker linker(binaryFromPicture({"...", "...", "..."}));
    EXPECT_TRUE(linker.extractLines(2.0).empty());
    EXPECT_EQ(linker.writeLines("empty.txt"), 1);
    EXPECT_TRUE(fileExists("empty.txt"));
    EXPECT_EQ(readFile("empty.txt"), "");
}

TEST_F(EdgeLinkerTest, ExtractLinesReturnsTheFittedPolylines)
{
    KpEdgeLinker linker(binaryFromPicture(CORNER));
    const std::vector<PointList> lines = linker.extractLines(2.0);
    EXPECT_EQ(textOf(lines), "(0,0)(0,3)(3,3)\n");
    EXPECT_EQ(textOf(lines), textOf(linker.getSegmentLists()));
}

// --- Line file -------------------------------------------------------------------

TEST_F(EdgeLinkerTest, LineFileThatCannotBeWrittenFails)
{
    KpEdgeLinker linker(binaryFromPicture(CORNER));
    linker.extractLines(2.0);
    EXPECT_EQ(linker.writeLines("missing-folder/lines.txt"), 0);
    ASSERT_EQ(mkdir("taken", 0755), 0);
    EXPECT_EQ(linker.writeLines("taken"), 0);
    EXPECT_EQ(linker.writeLines("/dev/full"), 0) << "a write that fails at the close is a failure";
}

// The line file of polylines as the rule gives it: "row,col," pairs
// padded with "-2,-2," to the longest polyline.
std::string lineFileOf(const std::vector<PointList>& polylines)
{
    std::size_t width = 0;
    for (const PointList& polyline : polylines) {
        width = std::max(width, polyline.size());
    }
    std::string text;
    for (const PointList& polyline : polylines) {
        for (const point& p : polyline) {
            text += std::to_string(p.row) + "," + std::to_string(p.col) + ",";
        }
        for (std::size_t i = polyline.size(); i < width; ++i) {
            text += "-2,-2,";
        }
        text += "\n";
    }
    return text;
}

TEST_F(EdgeLinkerTest, ShortPolylinesArePaddedToTheLongest)
{
    // A zigzag over two rows keeps every corner as a vertex at a small
    // tolerance: over a thousand vertices, against three for the bar.
    std::vector<std::string> picture(5, std::string(1101, '.'));
    for (std::size_t c = 0; c < picture[0].size(); ++c) {
        picture[c % 2][c] = '#';
    }
    picture[3].replace(0, 3, "###");
    KpEdgeLinker linker(binaryFromPicture(picture));
    linker.extractLines(0.1);
    ASSERT_EQ(linker.getSegmentLists().size(), 2u);
    EXPECT_GT(linker.getSegmentLists()[0].size(), 1000u);
    ASSERT_EQ(linker.writeLines("padded.txt"), 1);
    EXPECT_EQ(readFile("padded.txt"), lineFileOf(linker.getSegmentLists()));
}

TEST_F(EdgeLinkerTest, LongLineFileIsWrittenWhole)
{
    // Short runs in a grid give a line file of over a megabyte, written in
    // several blocks.
    std::vector<std::string> picture(600, std::string(1200, '.'));
    for (std::size_t r = 0; r < picture.size(); r += 2) {
        for (std::size_t c = 0; c + 3 <= picture[r].size(); c += 4) {
            picture[r].replace(c, 3, "###");
        }
    }
    KpEdgeLinker linker(binaryFromPicture(picture));
    linker.extractLines(2.0);
    ASSERT_EQ(linker.writeLines("long.txt"), 1);
    std::string expected;
    for (const PointList& polyline : linker.getSegmentLists()) {
        for (const point& p : polyline) {
            expected += std::to_string(p.row) + "," + std::to_string(p.col) + ",";
        }
        expected += "\n";
    }
    EXPECT_EQ(linker.getSegmentLists().size(), 300u * 300u);
    EXPECT_GT(expected.size(), std::size_t(1) << 20);
    EXPECT_TRUE(readFile("long.txt") == expected);
}

} // namespace
