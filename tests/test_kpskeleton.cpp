#include "kpskeleton.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "testsupport.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

using testsupport::binaryFromPicture;
using testsupport::pictureOf;

namespace {

// The thinning passes as literally as they read: a full copy per pass,
// every pixel visited, three neighbourhoods per black pixel off the
// border. Pixels outside the image count as white when the north or east
// neighbour's neighbourhood reaches past it.
class LiteralThinning {
public:
    LiteralThinning(std::vector<uint8_t>& buffer, int height, int width)
        : buffer(buffer), height(height), width(width)
    {
    }

    int run()
    {
        int passes = 1;
        while (pass() != 0) {
            ++passes;
        }
        return passes;
    }

private:
    int isBlack(int row, int col) const
    {
        return row >= 0 && row < height && col >= 0 && col < width && buffer[row * width + col] == 0;
    }

    // The eight entries east, north-east, ..., south-east.
    std::vector<int> neighbourhood(int row, int col) const
    {
        return {isBlack(row, col + 1), isBlack(row - 1, col + 1), isBlack(row - 1, col), isBlack(row - 1, col - 1),
                isBlack(row, col - 1), isBlack(row + 1, col - 1), isBlack(row + 1, col), isBlack(row + 1, col + 1)};
    }

    static int crossings(const std::vector<int>& n)
    {
        int t = 0;
        for (int i = 0; i < 8; ++i) {
            t += std::abs(n[i] - n[(i + 1) % 8]);
        }
        return t;
    }

    int pass()
    {
        std::vector<uint8_t> copy = buffer;
        int deleted = 0;
        for (int p = 0; p < width * height; ++p) {
            const int row = p / width, col = p % width;
            if (buffer[p] != 0 || row < 1 || row > height - 2 || col < 1 || col > width - 2) {
                continue;
            }
            const std::vector<int> n = neighbourhood(row, col);
            int b = 0;
            for (int v : n) {
                b += v;
            }
            const int tn = crossings(neighbourhood(row - 1, col));
            const int te = crossings(neighbourhood(row, col + 1));
            const int e = n[0], north = n[2], w = n[4], s = n[6];
            if (b >= 2 && b <= 6 && crossings(n) == 2 && (e * north * w == 0 || tn != 2) && (s * e * north == 0 || te != 2)) {
                copy[p] = 255;
                ++deleted;
            }
        }
        buffer = copy;
        return deleted;
    }

    std::vector<uint8_t>& buffer;
    int height, width;
};

std::vector<std::string> thinned(const std::vector<std::string>& picture)
{
    return pictureOf(KpSkeleton::kpSkeletonize(binaryFromPicture(picture)));
}

struct PictureCase {
    const char* name;
    std::vector<std::string> before, after;
};

TEST(KpSkeleton, ThinsPictures)
{
    const PictureCase cases[] = {
        {"all white stays", {".....", ".....", "....."}, {".....", ".....", "....."}},
        {"an isolated pixel stays", {".....", "..#..", "....."}, {".....", "..#..", "....."}},
        {"a thin line keeps its end points", {"......", ".####.", "......"}, {"......", ".####.", "......"}},
        {"a 2x2 square vanishes", {"......", ".##...", ".##...", "......"}, {"......", "......", "......", "......"}},
        {"a thick bar thins to a line",
         {".........", ".#######.", ".#######.", ".#######.", "........."},
         {".........", ".........", "..#####..", ".........", "........."}},
        {"a block in the corner keeps its border pixels",
         {"####...", "####...", "####...", "####...", "####...", "......."},
         {"####...", "#......", "#......", "#......", "#......", "......."}},
        {"a black image stays: no pixel has a white neighbour", {"####", "####", "####", "####"},
         {"####", "####", "####", "####"}},
    };
    for (const PictureCase& c : cases) {
        EXPECT_EQ(thinned(c.before), c.after) << c.name;
    }
}

TEST(KpSkeleton, SquareVanishesInOnePass)
{
    std::vector<uint8_t> buffer(6 * 6, 255);
    for (int p : {14, 15, 20, 21}) {
        buffer[p] = 0;
    }
    EXPECT_EQ(KpSkeleton::kpThinningLoop(buffer.data(), 6, 6), 2);
    EXPECT_EQ(buffer, std::vector<uint8_t>(36, 255));
}

// Strokes from wall to wall along row 0 and along the last column: the
// north neighbour of a row-1 pixel lies in row 0 and the east neighbour
// of a pixel in the second-to-last column lies in the last column, so
// their neighbourhoods reach past the image, whose pixels count as white.
// T(N) (or T(E)) is then 2 and the pixel is kept; were the outside black,
// it would be 0 and rows 1 and the second-to-last column would go.
TEST(KpSkeleton, NeighbourhoodsPastTheBorderCountAsWhite)
{
    const PictureCase cases[] = {
        {"stroke in rows 0 to 2", {"#######", "#######", "#######", "......."},
         {"#######", "#######", "#.....#", "......."}},
        {"stroke in the last two columns", {"....##", "....##", "....##", "....##", "....##", "....##"},
         {"....##", "....##", "....##", "....##", "....##", "....##"}},
    };
    for (const PictureCase& c : cases) {
        EXPECT_EQ(thinned(c.before), c.after) << c.name;
    }
}

TEST(KpSkeleton, ResultIsBinaryOfTheSourceShape)
{
    KpImage source = binaryFromPicture({"..........", ".########.", ".########.", ".........."});
    source.kpSetXResolution(300.0f);
    source.kpSetYResolution(150.0f);
    const KpImage result = KpSkeleton::kpSkeletonize(source);
    EXPECT_EQ(result.kpGetDepth(), 1);
    EXPECT_EQ(result.kpGetWidth(), 10);
    EXPECT_EQ(result.kpGetHeight(), 4);
    EXPECT_EQ(result.kpGetXResolution(), 300.0f);
    EXPECT_EQ(result.kpGetYResolution(), 150.0f);
    for (int depth : {8, 24}) {
        try {
            KpSkeleton::kpSkeletonize(KpImage(3, 3, depth));
            ADD_FAILURE() << "nothing thrown for depth " << depth;
        } catch (const KpException& e) {
            EXPECT_EQ(e.kpGetCode(), 7);
            EXPECT_NE(e.kpGetMessage().find("Binary image expected"), std::string::npos);
        }
    }
}

// Test images as gray buffers, 0 black and 255 white.
using Drawing = std::vector<uint8_t>;

Drawing noise(int width, int height, double blackShare, std::mt19937& random)
{
    std::bernoulli_distribution isBlack(blackShare);
    Drawing d(static_cast<std::size_t>(width) * height);
    for (uint8_t& v : d) {
        v = isBlack(random) ? 0 : 255;
    }
    return d;
}

Drawing discs(int width, int height, int count, double maxRadius, std::mt19937& random)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Drawing d(static_cast<std::size_t>(width) * height, 255);
    for (int i = 0; i < count; ++i) {
        const double cx = unit(random) * width, cy = unit(random) * height, r = 1.0 + unit(random) * maxRadius;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r) {
                    d[static_cast<std::size_t>(y) * width + x] = 0;
                }
            }
        }
    }
    return d;
}

// Random walks one or two pixels wide.
Drawing strokes(int width, int height, int count, std::mt19937& random)
{
    std::uniform_int_distribution<int> step(-1, 1);
    std::uniform_int_distribution<int> column(0, width - 1), row(0, height - 1), length(5, 200);
    Drawing d(static_cast<std::size_t>(width) * height, 255);
    for (int i = 0; i < count; ++i) {
        int x = column(random), y = row(random);
        const bool wide = i % 3 == 0;
        for (int n = length(random); n > 0; --n) {
            x = std::min(width - 1, std::max(0, x + step(random)));
            y = std::min(height - 1, std::max(0, y + step(random)));
            d[static_cast<std::size_t>(y) * width + x] = 0;
            if (wide && x + 1 < width) {
                d[static_cast<std::size_t>(y) * width + x + 1] = 0;
            }
        }
    }
    return d;
}

TEST(KpSkeleton, MatchesLiteralPassesBitForBit)
{
    std::mt19937 random(2024);
    struct Case {
        const char* name;
        int width, height;
        Drawing drawing;
    };
    std::vector<Case> cases = {
        {"sparse noise", 40, 30, noise(40, 30, 0.2, random)},
        {"dense noise", 33, 27, noise(33, 27, 0.6, random)},
        {"nearly black noise", 20, 20, noise(20, 20, 0.95, random)},
        {"thick discs", 90, 70, discs(90, 70, 6, 25.0, random)},
        {"discs over the border", 50, 40, discs(50, 40, 12, 12.0, random)},
        {"small blobs", 64, 48, discs(64, 48, 40, 4.0, random)},
        {"thin and double strokes", 80, 60, strokes(80, 60, 25, random)},
        {"one row", 12, 1, noise(12, 1, 0.5, random)},
        {"two columns", 2, 9, noise(2, 9, 0.5, random)},
        {"three by three", 3, 3, Drawing(9, 0)},
        {"all black", 7, 5, Drawing(35, 0)},
    };
    for (int seed = 0; seed < 20; ++seed) {
        cases.push_back({"random blobs", 30 + seed, 25, discs(30 + seed, 25, 3 + seed % 5, 2.0 + seed, random)});
    }
    // Many small noisy patches: they reach the rarer ways in which one
    // deletion makes a pixel two rows below or two columns to the left
    // deletable.
    for (int seed = 0; seed < 3000; ++seed) {
        cases.push_back({"small patch", 8, 8, noise(8, 8, 0.45 + 0.1 * (seed % 4), random)});
    }
    for (Case& c : cases) {
        Drawing expected = c.drawing;
        const int expectedPasses = LiteralThinning(expected, c.height, c.width).run();
        Drawing actual = c.drawing;
        EXPECT_EQ(KpSkeleton::kpThinningLoop(actual.data(), c.height, c.width), expectedPasses) << c.name;
        EXPECT_EQ(actual, expected) << c.name;
    }
}

TEST(KpSkeleton, PassesLeaveOtherGrayValuesAlone)
{
    // Only bytes of value 0 are black; others are never touched.
    std::vector<uint8_t> buffer = {7, 7, 7, 7, 7, 0, 0, 7, 7, 0, 0, 7, 7, 7, 7, 7};
    std::vector<uint8_t> expected = buffer;
    LiteralThinning(expected, 4, 4).run();
    KpSkeleton::kpThinningLoop(buffer.data(), 4, 4);
    EXPECT_EQ(buffer, expected);
}

} // namespace
