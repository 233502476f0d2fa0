// The line file on its own: the padded text written for a set of
// polylines, and the polylines read back without the padding.
#include "kpexception.h"
#include "kplinefile.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::textOf;

class LineFileTest : public ::testing::Test {
protected:
    std::string folder = testsupport::makeTempDir();
    std::string file = folder + "/lines.txt";
};

TEST_F(LineFileTest, WritesPaddedLinesAndReadsThemBackWithoutPadding)
{
    struct Case {
        const char* name;
        std::vector<PointList> polylines;
        std::string text;
    };
    const Case cases[] = {
        {"shorter line padded", {{{0, 0}, {0, 3}, {3, 3}}, {{5, 1}, {9, 1}}}, "0,0,0,3,3,3,\n5,1,9,1,-2,-2,\n"},
        {"single line unpadded", {{{7, 8}, {1234567, 0}}}, "7,8,1234567,0,\n"},
        {"no polyline", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(KpLineFile::write(file, c.polylines));
        EXPECT_EQ(testsupport::readFile(file), c.text);
        EXPECT_EQ(textOf(KpLineFile::read(file)), textOf(c.polylines));
    }
    EXPECT_FALSE(KpLineFile::write(folder + "/missing/lines.txt", {{{0, 0}}}));
    EXPECT_FALSE(KpLineFile::write("/dev/full", {{{0, 0}}})) << "a failed write is a failure";
}

TEST_F(LineFileTest, ReadsWhatOtherWritersMayLeave)
{
    struct Case {
        const char* name;
        std::string text;
        std::vector<PointList> polylines;
    };
    const Case cases[] = {
        {"vertices after the padding are ignored", "1,2,-2,-2,3,4,\n", {{{1, 2}}}},
        {"a -2 that is not a padding pair is a vertex", "-2,5,6,-2,\n", {{{-2, 5}, {6, -2}}}},
        {"CR LF line ends", "1,2,3,4,\r\n5,6,-2,-2,\r\n", {{{1, 2}, {3, 4}}, {{5, 6}}}},
        {"empty line is an empty polyline", "\n1,1,\n", {{}, {{1, 1}}}},
        {"last line without its line end", "1,2,3,4,", {{{1, 2}, {3, 4}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::writeFileBytes(file, std::vector<uint8_t>(c.text.begin(), c.text.end()));
        EXPECT_EQ(textOf(KpLineFile::read(file)), textOf(c.polylines));
    }
}

TEST_F(LineFileTest, RefusesWhatIsNotALineFile)
{
    struct Case { const char* name; std::string text; const char* line; };
    const Case cases[] = {
        {"no comma after the last number", "1,2,\n3,4\n", "line 2 "},
        {"odd count", "1,2,3,\n", "line 1 "},
        {"words", "row,col,\n", "line 1 "},
        {"blank inside", "1, 2,\n", "line 1 "},
        {"beyond 32 bits", "1,99999999999,\n", "line 1 "},
        {"binary", std::string("\x89PNG\r\n\x1a\n", 8), "line 1 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::writeFileBytes(file, std::vector<uint8_t>(c.text.begin(), c.text.end()));
        testsupport::expectFailure([&] { KpLineFile::read(file); }, KP_BAD_FILE,
                                   std::string(c.line) + "is not a list of comma-terminated row,col pairs.");
    }
    testsupport::expectFailure([&] { KpLineFile::read(folder + "/absent.txt"); }, KP_CANNOT_OPEN,
                               "Cannot open " + folder + "/absent.txt");
}

} // namespace
