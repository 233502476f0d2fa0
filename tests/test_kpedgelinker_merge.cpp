// The linker's edge-list graph: joining chains, pruning short lists and
// spurs, the link fields left behind (checked against a literal dense
// reading on random and traced lists), and the small-component pass.
#include "kpedgedetector.h"
#include "kpedgelinker.h"
#include "kpexception.h"
#include "referenceedgemerge.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using testsupport::binaryFromPicture;
using testsupport::pictureOf;

namespace {

// "r,c r,c ..." as a point list.
PointList pointsOf(const std::string& text)
{
    PointList list;
    std::istringstream in(text);
    std::string pair;
    while (in >> pair) {
        const std::size_t comma = pair.find(',');
        list.push_back(point{std::stoi(pair.substr(0, comma)), std::stoi(pair.substr(comma + 1))});
    }
    return list;
}

std::string textOf(const std::vector<PointList>& lists)
{
    std::string text;
    for (const PointList& list : lists) {
        std::string line;
        for (const point& p : list) {
            line += (line.empty() ? "" : " ") + std::to_string(p.row) + "," + std::to_string(p.col);
        }
        text += line + "\n";
    }
    return text;
}

class MergeTest : public ::testing::Test {
protected:
    // Merges lists and returns them as text; what was printed goes to
    // messages.
    std::string merge(const std::vector<PointList>& lists, double minLength)
    {
        linker.setEdgeLists(lists);
        testing::internal::CaptureStdout();
        EXPECT_EQ(linker.mergeEdgeLists(minLength), 1);
        messages = testing::internal::GetCapturedStdout();
        return textOf(linker.getEdgeLists());
    }

    testsupport::ScopedWorkingDir folder; // the linker writes its diagnostic files here
    KpEdgeLinker linker{binaryFromPicture({"#"})};
    std::string messages;
};

struct MergeCase {
    const char* name;
    std::vector<std::string> lists;
    double minLength;
    const char* merged;
};

void PrintTo(const MergeCase& c, std::ostream* out)
{
    *out << c.name;
}

class MergeCaseTest : public MergeTest, public ::testing::WithParamInterface<MergeCase> {};

TEST_P(MergeCaseTest, GivesTheseLists)
{
    std::vector<PointList> lists;
    for (const std::string& text : GetParam().lists) {
        lists.push_back(pointsOf(text));
    }
    EXPECT_EQ(merge(lists, GetParam().minLength), GetParam().merged);
    EXPECT_EQ(messages, "");
}

INSTANTIATE_TEST_SUITE_P(
    Lists, MergeCaseTest,
    ::testing::Values(
        // The end node of L0 is merged into the start of L1: L1 survives,
        // walked backwards, and the shared pixel appears twice.
        MergeCase{"TwoListsMeetingEndToStart", {"0,0 0,1 0,2", "0,2 1,3 2,4"}, 0.0, "2,4 1,3 0,2 0,2 0,1 0,0\n"},
        MergeCase{"ChainOfThree",
                  {"0,0 0,1 0,2", "0,2 0,3 0,4", "0,4 0,5 0,6"},
                  0.0,
                  "0,6 0,5 0,4 0,4 0,3 0,2 0,2 0,1 0,0\n"},
        MergeCase{"ClosedLoopIsLeftAlone", {"0,0 0,1 1,1 1,0 0,0", "5,5 5,6"}, 0.0, "0,0 0,1 1,1 1,0 0,0\n5,5 5,6\n"},
        MergeCase{"ZeroMinLengthRemovesNothing", {"0,0 0,1", "3,3 1,1 2,2 3,3"}, 0.0, "0,0 0,1\n3,3 1,1 2,2 3,3\n"},
        MergeCase{"NegativeMinLengthRemovesNothing", {"0,0 0,1"}, -1.0, "0,0 0,1\n"},
        MergeCase{"ShortIsolatedListIsRemoved", {"0,0 0,1", "0,5 0,6 0,7 0,8 0,9"}, 1.5, "0,5 0,6 0,7 0,8 0,9\n"},
        MergeCase{"ListOfExactlyMinLengthStays", {"0,0 0,1"}, 1.0, "0,0 0,1\n"},
        MergeCase{"ShortClosedLoopIsRemoved", {"0,0 0,1 1,1 1,0 0,0"}, 5.0, ""},
        // The spur is the shortest at its three-way junction: it goes and
        // the two lists left there are joined.
        MergeCase{"ThreeWaySpur",
                  {"0,0 0,1 0,2 0,3 0,4 0,5", "0,5 0,6 0,7 0,8 0,9 0,10", "0,5 1,5"},
                  2.0,
                  "0,0 0,1 0,2 0,3 0,4 0,5 0,5 0,6 0,7 0,8 0,9 0,10\n"},
        // A free-ended neighbour shorter than the short list goes instead.
        MergeCase{"ShorterNeighbourOfASpurGoes",
                  {"5,3 5,4 5,5", "5,5 6,5", "5,5 4,5 3,5 2,5 1,5 0,5"},
                  3.0,
                  "5,3 5,4 5,5 5,5 4,5 3,5 2,5 1,5 0,5\n"},
        MergeCase{"SpurOnALoopWithOneNeighbourGoes",
                  {"0,5 1,6 2,5 1,4 0,5", "0,5 0,6"},
                  2.0,
                  "0,5 1,6 2,5 1,4 0,5\n"},
        MergeCase{"SpurAtAFourWayJunctionGoes",
                  {"5,5 5,6 5,7 5,8", "5,5 6,5 7,5 8,5", "5,5 4,5 3,5 2,5", "5,5 5,4"},
                  2.0,
                  "5,5 5,6 5,7 5,8\n5,5 6,5 7,5 8,5\n5,5 4,5 3,5 2,5\n"},
        MergeCase{"EmptyListsAndSinglePoints", {"", "3,3", "3,3 3,4 3,5", ""}, 0.0, "3,3\n3,3 3,4 3,5\n"},
        MergeCase{"NoListAtAll", {}, 10.0, ""}),
    [](const ::testing::TestParamInfo<MergeCase>& info) { return std::string(info.param.name); });

// Removing a list leaves the link counts as the removal computes them:
// its own start node keeps its count although its row is now empty.
TEST_F(MergeTest, LinkFieldsStayAsTheLastStepLeftThem)
{
    merge({pointsOf("5,5 5,6 5,7 5,8"), pointsOf("5,5 6,5 7,5 8,5"), pointsOf("5,5 4,5 3,5 2,5"), pointsOf("5,5 5,4")},
          2.0);
    EXPECT_EQ(linker.getNodeDegrees(), (std::vector<int32_t>{2, 0, 2, 0, 2, 0, 3, 0}));
    EXPECT_EQ(linker.getListDegrees(), (std::vector<int32_t>{2, 2, 2, 0}));
    EXPECT_EQ(linker.getNodeLinks().row(0).toVector(), (std::vector<int32_t>{2, 4}));
    EXPECT_EQ(linker.getNodeLinks().rowCount(6), 0);
    EXPECT_TRUE(linker.getListLinks().get(1, 2));
    EXPECT_FALSE(linker.getListLinks().get(1, 3));
}

TEST_F(MergeTest, MergingNodesThatDoNotMeetIsReportedAndDone)
{
    merge({pointsOf("0,0 0,1"), pointsOf("5,5 5,6")}, 0.0);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(linker.mergeNodes(0, 1)) << "both nodes on one list";
    EXPECT_TRUE(linker.mergeNodes(1, 2));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Attempt to merge nodes that are not connected\n");
    EXPECT_EQ(textOf(linker.getEdgeLists()), "0,0 0,1 5,5 5,6\n\n");
}

TEST_F(MergeTest, HelpersFollowTheirRules)
{
    EXPECT_DOUBLE_EQ(linker.polylineLength(pointsOf("0,0 3,4 3,5")), 6.0);
    EXPECT_EQ(linker.polylineLength(pointsOf("7,7")), 0.0);
    EXPECT_EQ(linker.countTrueRows({{true, false, true}, {}, {false}}), (std::vector<int32_t>{2, 0, 0}));
    double minimum = 0.0;
    int32_t index = -1;
    EXPECT_EQ(linker.minValue({3.0, 1.0, 1.0, 2.0}, minimum, index), 1.0);
    EXPECT_EQ(index, 1) << "the first of equal minima";
    EXPECT_EQ(linker.minValue({200000.0}, minimum, index), 100000.0) << "the search starts at 100000";
    EXPECT_EQ(index, 0);
}

// --- Against the dense reading ---------------------------------------------------

// Lists, messages, links and link counts of the linker's merge equal those
// of the dense reading.
void expectSameAsReference(KpEdgeLinker& linker, const std::vector<PointList>& lists, double minLength)
{
    const referencemerge::MergeResult expected = referencemerge::mergeEdgeLists(lists, minLength);
    linker.setEdgeLists(lists);
    testing::internal::CaptureStdout();
    linker.mergeEdgeLists(minLength);
    const std::string messages = testing::internal::GetCapturedStdout();
    ASSERT_EQ(linker.getEdgeLists(), expected.lists);
    EXPECT_EQ(messages, expected.messages);
    EXPECT_EQ(linker.getNodeDegrees(), expected.nodeDegrees);
    EXPECT_EQ(linker.getListDegrees(), expected.listDegrees);
    ASSERT_EQ(linker.getNodeLinks().size(), expected.nodeLinks.size());
    for (int32_t u = 0; u < expected.nodeLinks.size(); ++u) {
        ASSERT_EQ(linker.getNodeLinks().row(u).toVector(), expected.nodeLinks.rowEntries(u)) << "node " << u;
    }
    ASSERT_EQ(linker.getListLinks().size(), expected.listLinks.size());
    for (int32_t i = 0; i < expected.listLinks.size(); ++i) {
        ASSERT_EQ(linker.getListLinks().row(i).toVector(), expected.listLinks.rowEntries(i)) << "list " << i;
    }
}

// Lists whose ends are drawn from a handful of pixels, so that many ends
// meet; some are empty or single points.
std::vector<PointList> randomLists(std::mt19937& random)
{
    std::uniform_int_distribution<int> listCount(1, 12), length(0, 6), endPixel(0, 4), inner(0, 5);
    std::vector<PointList> lists(static_cast<std::size_t>(listCount(random)));
    for (PointList& list : lists) {
        const int points = length(random);
        for (int k = 0; k < points; ++k) {
            const bool end = k == 0 || k == points - 1;
            list.push_back(end ? point{endPixel(random), 0} : point{10 + inner(random), inner(random)});
        }
    }
    return lists;
}

TEST_F(MergeTest, RandomListsMergeAsTheDenseReadingDoes)
{
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        const std::vector<PointList> lists = randomLists(random);
        const double minLength = (round % 4) * 3.5;
        SCOPED_TRACE("round " + std::to_string(round) + "\n" + textOf(lists));
        expectSameAsReference(linker, lists, minLength);
        if (HasFatalFailure()) {
            return;
        }
    }
}

// The traced lists of a corpus photograph, converted to PNG by a peer.
TEST_F(MergeTest, PhotographListsMergeAsTheDenseReadingDoes)
{
    const char* const convert = "/usr/bin/convert";
    const std::string photos = testsupport::corpusDir() + "/photos";
    if (testsupport::corpusDir().empty() || !testsupport::isExecutable(convert)) {
        GTEST_SKIP() << "the corpus folder or " << convert << " is absent";
    }
    std::vector<std::string> names;
    if (DIR* dir = opendir(photos.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0) {
                names.push_back(name);
            }
        }
        closedir(dir);
    }
    if (names.empty()) {
        GTEST_SKIP() << "no photograph in " << photos;
    }
    std::sort(names.begin(), names.end());
    const std::string png = folder.path() + "/photo.png";
    int status = -1;
    testsupport::runCommand(std::string(convert) + " '" + photos + "/" + names.front() + "' '" + png + "'", &status);
    ASSERT_EQ(status, 0);
    KpImage photo;
    photo.kpLoadImage(png.c_str());
    KpEdgeLinker traced(KpEdgeDetector().detectEdges(photo));
    traced.traceEdges();
    const std::vector<PointList> lists = traced.getEdgeLists();
    ASSERT_GT(lists.size(), 100u);
    for (double minLength : {0.0, 10.0}) {
        SCOPED_TRACE("minLength " + std::to_string(minLength));
        expectSameAsReference(traced, lists, minLength);
    }
    EXPECT_LT(traced.getEdgeLists().size(), lists.size()) << "short lists were pruned";
}

// --- Small components --------------------------------------------------------------

struct SmallCase {
    const char* name;
    std::vector<std::string> picture;
    int32_t minArea;
    std::vector<std::string> result;
};

void PrintTo(const SmallCase& c, std::ostream* out)
{
    *out << c.name;
}

class SmallComponentTest : public ::testing::TestWithParam<SmallCase> {};

TEST_P(SmallComponentTest, ErasesTheComponentsBelowTheArea)
{
    const KpImage source = binaryFromPicture(GetParam().picture);
    const KpImage result = KpEdgeLinker::removeSmallComponents(source, GetParam().minArea);
    EXPECT_EQ(result.kpGetDepth(), 1);
    EXPECT_EQ(pictureOf(result), GetParam().result);
    EXPECT_EQ(pictureOf(source), GetParam().picture) << "the input is not changed";
}

const std::vector<std::string> SMALL_FIXTURE = {"#.....###.", "...#..###.", "..#...###.", "..........", "#.#......#"};

INSTANTIATE_TEST_SUITE_P(
    Pictures, SmallComponentTest,
    ::testing::Values(
        SmallCase{"ZeroAreaKeepsEverything", SMALL_FIXTURE, 0, SMALL_FIXTURE},
        SmallCase{"NoComponentBelowTheArea", SMALL_FIXTURE, 1, SMALL_FIXTURE},
        SmallCase{"AllWhiteStaysWhite", {"....", "...."}, 5, {"....", "...."}},
        // The diagonal pair has 2 pixels, the square 9, the others 1 each.
        SmallCase{"SmallOnesAreErased",
                  SMALL_FIXTURE,
                  2,
                  {"......###.", "...#..###.", "..#...###.", "..........", ".........."}},
        SmallCase{"AreaIsAStrictBound",
                  SMALL_FIXTURE,
                  9,
                  {"......###.", "......###.", "......###.", "..........", ".........."}}),
    [](const ::testing::TestParamInfo<SmallCase>& info) { return std::string(info.param.name); });

TEST(SmallComponentsTest, NonBinaryImageIsRefused)
{
    testsupport::expectFailure([] { KpEdgeLinker::removeSmallComponents(KpImage(3, 3, 8), 2); },
                               KP_UNSUPPORTED_CONTENT,
                               "<KpConnectedComponents::kpCreateConnectedComponents()> Only supports Two Bit images (Black and White)");
}

} // namespace
