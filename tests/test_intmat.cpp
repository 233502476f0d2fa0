#include "intmat.h"

#include "kpexception.h"
#include "testsupport.h"

#include <climits>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using testsupport::readFile;

IntMat matrixOf(const std::vector<std::vector<int32_t>>& rows)
{
    IntMat matrix(static_cast<int32_t>(rows.size()), rows.empty() ? 0 : static_cast<int32_t>(rows[0].size()));
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            matrix.set(static_cast<int32_t>(r), static_cast<int32_t>(c), rows[r][c]);
        }
    }
    return matrix;
}

// The dump as the printf rule gives it, cell by cell.
std::string referenceText(const IntMat& matrix)
{
    std::string text;
    char cell[16];
    for (int32_t r = 0; r < matrix.rows(); ++r) {
        for (int32_t c = 0; c < matrix.cols(); ++c) {
            std::snprintf(cell, sizeof cell, "%3d", matrix.get(r, c));
            text += cell;
        }
        text += ";\n";
    }
    return text;
}

std::string dumpOf(const IntMat& matrix)
{
    const std::string path = testsupport::makeTempDir() + "/dump.txt";
    EXPECT_EQ(matrix.writeText(path), 1);
    return readFile(path);
}

struct LayoutCase {
    const char* name;
    std::vector<std::vector<int32_t>> cells;
    const char* text;
};

TEST(IntMatText, Layout)
{
    const LayoutCase cases[] = {
        {"small values and a negative one", {{0, 1, -2}}, "  0  1 -2;\n"},
        {"three-character cells touch", {{100, -12}}, "100-12;\n"},
        {"a four-digit value widens its row", {{1234, 5}, {6, 7}}, "1234  5;\n  6  7;\n"},
        {"extremes", {{INT_MIN, INT_MAX, -1000}}, "-21474836482147483647-1000;\n"},
    };
    for (const LayoutCase& c : cases) {
        EXPECT_EQ(dumpOf(matrixOf(c.cells)), c.text) << c.name;
    }
}

TEST(IntMatText, EmptyMatrixGivesEmptyFile)
{
    EXPECT_EQ(dumpOf(IntMat()), "");
    EXPECT_EQ(dumpOf(IntMat(0, 5)), "");
}

TEST(IntMatText, MatchesPrintfOnEveryWidth)
{
    // Every boundary between text widths, signs included.
    std::vector<int32_t> values = {INT_MIN, INT_MIN + 1, INT_MAX, INT_MAX - 1, 0};
    for (int64_t p = 1; p <= 1000000000; p *= 10) {
        for (int64_t v : {p - 1, p, p + 1}) {
            values.push_back(static_cast<int32_t>(v));
            values.push_back(static_cast<int32_t>(-v));
        }
    }
    IntMat row(1, static_cast<int32_t>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        row.set(0, static_cast<int32_t>(i), values[i]);
    }
    EXPECT_EQ(dumpOf(row), referenceText(row));
}

TEST(IntMatText, MatchesPrintfOnRandomMatricesAcrossBlocks)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> any(INT_MIN, INT_MAX);
    std::uniform_int_distribution<int32_t> small(-150, 1100);
    std::uniform_int_distribution<int32_t> shift(0, 31);
    struct Shape {
        int32_t rows, cols;
    };
    // The last shape gives some 2.5 MB of text, more than one block, with
    // rows longer than one formatting step.
    for (Shape shape : {Shape{1, 1}, Shape{7, 13}, Shape{40, 9000}}) {
        IntMat matrix(shape.rows, shape.cols);
        for (int32_t r = 0; r < shape.rows; ++r) {
            for (int32_t c = 0; c < shape.cols; ++c) {
                matrix.set(r, c, c % 2 == 0 ? small(random) : any(random) >> shift(random));
            }
        }
        EXPECT_EQ(dumpOf(matrix), referenceText(matrix)) << shape.rows << "x" << shape.cols;
    }
}

// The matrices the edge linker dumps: mostly runs of single digits, and
// list numbers repeated along a row.
TEST(IntMatText, MatchesPrintfOnLabelMaps)
{
    std::mt19937 random(3);
    IntMat matrix(30, 203);
    int32_t label = 7;
    for (int32_t r = 0; r < matrix.rows(); ++r) {
        for (int32_t c = 0; c < matrix.cols(); ++c) {
            const uint32_t draw = random() % 100;
            if (draw < 3) {
                label = static_cast<int32_t>(random() % 400000) - (draw == 0 ? 400000 : 0);
            }
            matrix.set(r, c, draw < 70 ? 0 : draw < 80 ? static_cast<int32_t>(random() % 10) : label);
        }
    }
    EXPECT_EQ(dumpOf(matrix), referenceText(matrix));
}

TEST(IntMatText, OneTextIntoSeveralFiles)
{
    const IntMat matrix = matrixOf({{0, 1, 123456}, {-5, 9, 123456}});
    const std::string dir = testsupport::makeTempDir();
    const std::vector<bool> written =
        matrix.writeTextFiles({dir + "/a.txt", dir + "/missing/b.txt", dir + "/c.txt"});
    EXPECT_EQ(written, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(readFile(dir + "/a.txt"), referenceText(matrix));
    EXPECT_EQ(readFile(dir + "/c.txt"), referenceText(matrix));
}

TEST(IntMatText, UnwritableFileIsReported)
{
    IntMat matrix(3, 3);
    EXPECT_EQ(matrix.writeText(testsupport::makeTempDir() + "/missing/dump.txt"), 0);
    // A device that accepts the file but no data: the failure shows at a
    // block write or at the close.
    EXPECT_EQ(matrix.writeText("/dev/full"), 0);
    EXPECT_EQ(IntMat(2000, 2000).writeText("/dev/full"), 0);
}

TEST(IntMat, CellsAreAddressedRowThenColumn)
{
    IntMat matrix(2, 3);
    EXPECT_EQ(matrix.rows(), 2);
    EXPECT_EQ(matrix.cols(), 3);
    EXPECT_EQ(matrix.set(1, 2, 7), 1);
    matrix.set(0, 1, -4);
    EXPECT_EQ(matrix.get(1, 2), 7);
    EXPECT_EQ(dumpOf(matrix), "  0 -4  0;\n  0  0  7;\n");
    EXPECT_EQ(matrix.clear(), 1);
    EXPECT_EQ(matrix.rows(), 2);
    EXPECT_EQ(matrix.cols(), 3);
    EXPECT_EQ(dumpOf(matrix), "  0  0  0;\n  0  0  0;\n");
}

TEST(IntMat, MoveHandsOverTheCells)
{
    IntMat source = matrixOf({{1, 2}, {3, 4}});
    IntMat target(5, 5);
    target = std::move(source);
    EXPECT_EQ(target.rows(), 2);
    EXPECT_EQ(target.get(1, 0), 3);
    EXPECT_EQ(source.rows(), 0);
    EXPECT_EQ(source.cols(), 0);
    IntMat built(std::move(target));
    EXPECT_EQ(built.get(1, 1), 4);
    EXPECT_EQ(target.rows(), 0);
}

TEST(IntMat, LoadFromImage)
{
    // Three columns, two rows: the matrix takes (row, column) while the
    // image's pixel scale takes (column, row).
    const std::vector<std::string> picture = {"#.5", "..#"};
    IntMat gray;
    EXPECT_EQ(gray.loadFromImage(testsupport::grayFromPicture(picture), 255), 1);
    EXPECT_EQ(dumpOf(gray), "  0  1  0;\n  1  1  0;\n");
    gray.loadFromImage(testsupport::grayFromPicture(picture), 25);
    EXPECT_EQ(dumpOf(gray), "  0 10  5;\n 10 10  0;\n");

    IntMat binary(9, 9);
    binary.loadFromImage(testsupport::binaryFromPicture({"#.#.#.#.##", ".########."}), 255);
    EXPECT_EQ(binary.rows(), 2);
    EXPECT_EQ(binary.cols(), 10);
    EXPECT_EQ(dumpOf(binary), "  0  1  0  1  0  1  0  1  0  0;\n  1  0  0  0  0  0  0  0  0  1;\n");
    // Inverted, the padding bits after the tenth pixel are set; they are
    // not pixels.
    binary.loadFromImage(testsupport::binaryFromPicture({"#.#.#.#.##", ".########."}).kpReverseImage(), 255);
    EXPECT_EQ(dumpOf(binary), "  1  0  1  0  1  0  1  0  1  1;\n  0  1  1  1  1  1  1  1  1  0;\n");
}

TEST(IntMat, LoadFromColourImageIsRefusedByThePixelScale)
{
    IntMat matrix;
    try {
        matrix.loadFromImage(KpImage(2, 2, 24), 255);
        ADD_FAILURE() << "nothing thrown";
    } catch (const KpException& e) {
        EXPECT_EQ(e.kpGetCode(), 7);
    }
}

#ifndef NDEBUG
TEST(IntMatDeathTest, IndicesOutsideAreCaughtInOrder)
{
    struct IndexCase {
        int32_t r, c;
        const char* assertion;
    };
    const IndexCase cases[] = {
        {2, 0, "r < m_row"}, {-1, 0, "r >= 0"}, {0, 3, "c < m_col"}, {0, -1, "c >= 0"}, {5, -1, "r < m_row"},
    };
    IntMat matrix(2, 3);
    for (const IndexCase& c : cases) {
        EXPECT_DEATH(matrix.get(c.r, c.c), std::string("intmat.*") + c.assertion) << c.r << "," << c.c;
        EXPECT_DEATH(matrix.set(c.r, c.c, 1), c.assertion);
    }
}
#endif

} // namespace
