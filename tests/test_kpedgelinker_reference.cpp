// The edge linker against a literal reference of tracing and fitting:
// junctions looked up by a linear search of the junction lists,
// duplicates removed by comparing each list with every list kept before
// it (point for point), deviations collected into an array and searched
// for their maximum. The linker's indexed version must give the same
// lists and polylines on generated stroke pictures and on real photos.
// The photos also check invariants of the result.
#include "kpedgedetector.h"
#include "kpedgelinker.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <random>
#include <string>
#include <vector>

namespace {

const int NEIGHBOUR_ROW[8] = {-1, 0, 1, 0, -1, -1, 1, 1};
const int NEIGHBOUR_COL[8] = {0, 1, 0, -1, -1, 1, 1, -1};

// Tracing and fitting as the rules read, on a copy of the 0/1 matrix.
class ReferenceLinker {
public:
    explicit ReferenceLinker(const IntMat& labels) : rows(labels.rows()), cols(labels.cols())
    {
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                cells.push_back(labels.get(r, c));
            }
        }
    }

    void trace()
    {
        markJunctions();
        int label = 1;
        for (int r = 0; r < rows; ++r) {
            for (int c = 0; c < cols; ++c) {
                if (at(r, c) == 1) {
                    PointList list = traceFrom(r, c, label);
                    if (list.size() > 2) {
                        ++label;
                        lists.push_back(list);
                    }
                }
            }
        }
        for (PointList& list : lists) {
            const point p = list.front(), q = list.back();
            if ((p.row - 1) * cols + p.col > (q.row - 1) * cols + q.col) {
                std::reverse(list.begin(), list.end());
            }
        }
        lists = withoutDuplicates(lists);
    }

    void fit(double tolerance)
    {
        for (const PointList& list : lists) {
            std::vector<int> xs, ys;
            for (const point& p : list) {
                xs.push_back(p.col);
                ys.push_back(p.row);
            }
            const int n = static_cast<int>(list.size());
            int first = 0, last = n - 1;
            PointList polyline{{ys[0], xs[0]}};
            while (first < last) {
                int index = 0;
                double deviation = maxDeviation(xs, ys, first, last, index);
                while (deviation > tolerance) {
                    last = first + index;
                    deviation = maxDeviation(xs, ys, first, last, index);
                }
                polyline.push_back({ys[last], xs[last]});
                first = last;
                last = n - 1;
            }
            polylines.push_back(polyline);
        }
        polylines = withoutDuplicates(polylines);
    }

    std::vector<int> junctionRows, junctionCols;
    std::vector<PointList> lists, polylines;

private:
    static std::vector<PointList> withoutDuplicates(const std::vector<PointList>& all)
    {
        std::vector<PointList> kept;
        for (const PointList& list : all) {
            bool duplicate = false;
            for (const PointList& earlier : kept) {
                duplicate = duplicate || earlier == list;
            }
            if (!duplicate) {
                kept.push_back(list);
            }
        }
        return kept;
    }

    static double maxDeviation(const std::vector<int>& x, const std::vector<int>& y, int first, int last, int& index)
    {
        std::vector<double> deviations;
        double chord = std::sqrt(double((x[first] - x[last]) * (x[first] - x[last]) +
                                        (y[first] - y[last]) * (y[first] - y[last])));
        for (int i = first; i <= last; ++i) {
            if (chord > 2.2204e-16) {
                int a = y[first] - y[last], b = x[last] - x[first], c = y[last] * x[first] - y[first] * x[last];
                deviations.push_back(std::abs(x[i] * a + y[i] * b + c) / chord);
            } else {
                deviations.push_back(std::sqrt(double((x[i] - x[first]) * (x[i] - x[first]) +
                                                      (y[i] - y[first]) * (y[i] - y[first]))));
            }
        }
        double maximum = 0;
        index = 0;
        for (std::size_t i = 0; i < deviations.size(); ++i) {
            if (deviations[i] > maximum) {
                maximum = deviations[i];
                index = static_cast<int>(i);
            }
        }
        return maximum;
    }

    int& at(int r, int c) { return cells[std::size_t(r) * cols + c]; }
    bool inside(int r, int c) const { return r >= 0 && r < rows && c >= 0 && c < cols; }

    void markJunctions()
    {
        for (int r = 1; r < rows - 1; ++r) {
            for (int c = 1; c < cols - 1; ++c) {
                if (at(r, c) != 1) {
                    continue;
                }
                int a[8];
                for (int k = 0; k < 8; ++k) {
                    a[k] = at(r + NEIGHBOUR_ROW[k], c + NEIGHBOUR_COL[k]);
                }
                int count = std::abs(a[4] - a[0]) + std::abs(a[3] - a[4]) + std::abs(a[7] - a[3]) +
                            std::abs(a[2] - a[7]) + std::abs(a[6] - a[2]) + std::abs(a[1] - a[6]) +
                            std::abs(a[5] - a[1]) + std::abs(a[0] - a[5]);
                if (count > 5) {
                    junctionRows.push_back(r);
                    junctionCols.push_back(c);
                }
            }
        }
    }

    bool isJunction(int r, int c) const
    {
        for (std::size_t i = 0; i < junctionRows.size(); ++i) {
            if (junctionRows[i] == r && junctionCols[i] == c) {
                return true;
            }
        }
        return false;
    }

    std::vector<int> neighbourValues(int r, int c)
    {
        std::vector<int> values;
        for (int k = 0; k < 8; ++k) {
            if (inside(r + NEIGHBOUR_ROW[k], c + NEIGHBOUR_COL[k])) {
                values.push_back(at(r + NEIGHBOUR_ROW[k], c + NEIGHBOUR_COL[k]));
            }
        }
        return values;
    }

    int nextPoint(int r, int c, int label, int& nr, int& nc)
    {
        for (int k = 0; k < 8; ++k) {
            int rr = r + NEIGHBOUR_ROW[k], cc = c + NEIGHBOUR_COL[k];
            if (inside(rr, cc) && isJunction(rr, cc) && at(rr, cc) != -label) {
                nr = rr;
                nc = cc;
                return 2;
            }
        }
        bool remembered = false;
        for (int k = 0; k < 8; ++k) {
            int rr = r + NEIGHBOUR_ROW[k], cc = c + NEIGHBOUR_COL[k];
            if (inside(rr, cc) && at(rr, cc) == 1) {
                std::vector<int> values = neighbourValues(rr, cc);
                nr = rr;
                nc = cc;
                if (std::count(values.begin(), values.end(), -label) < 2) {
                    return 1;
                }
                remembered = true;
            }
        }
        if (remembered) {
            return 1;
        }
        nr = nc = 0;
        return 0;
    }

    void walk(PointList& list, int r, int c, int label)
    {
        int nr = 0, nc = 0;
        int status = nextPoint(r, c, label, nr, nc);
        while (status != 0) {
            list.push_back({nr, nc});
            at(nr, nc) = -label;
            if (status == 2) {
                break;
            }
            status = nextPoint(nr, nc, label, nr, nc);
        }
    }

    PointList traceFrom(int r, int c, int label)
    {
        PointList list{{r, c}};
        at(r, c) = -label;
        walk(list, r, c, label);
        if (!isJunction(r, c)) {
            std::reverse(list.begin(), list.end());
            walk(list, r, c, label);
        }
        if (list.size() >= 4 && std::abs(list.front().row - list.back().row) <= 1 &&
            std::abs(list.front().col - list.back().col) <= 1) {
            list.push_back(list.front());
        }
        return list;
    }

    int rows, cols;
    std::vector<int> cells;
};

// A 1-bit picture of random strokes: straight and wiggly walks, crossings
// and a few thick blobs (1-bit input is traced without thinning, so the
// blobs exercise crowded neighbourhoods).
KpImage randomStrokes(int width, int height, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::string> picture(height, std::string(width, '.'));
    std::uniform_int_distribution<int> column(0, width - 1), row(0, height - 1), step(-1, 1), length(5, 120);
    for (int stroke = 0; stroke < 40; ++stroke) {
        int r = row(random), c = column(random);
        const int dr = step(random), dc = step(random);
        const bool wiggly = stroke % 3 == 0;
        for (int i = length(random); i > 0; --i) {
            picture[r][c] = '#';
            r = std::clamp(r + (wiggly ? step(random) : dr), 0, height - 1);
            c = std::clamp(c + (wiggly ? step(random) : dc), 0, width - 1);
        }
    }
    for (int blob = 0; blob < 5; ++blob) {
        int r = row(random), c = column(random);
        for (int y = r; y < std::min(height, r + 4); ++y) {
            for (int x = c; x < std::min(width, c + 3); ++x) {
                picture[y][x] = '#';
            }
        }
    }
    return testsupport::binaryFromPicture(picture);
}

void expectSameAsReference(const KpImage& image, double tolerance)
{
    KpEdgeLinker linker(image);
    ReferenceLinker reference(linker.getPixelLabels());
    reference.trace();
    reference.fit(tolerance);
    const std::vector<PointList> polylines = linker.extractLines(tolerance);
    EXPECT_EQ(linker.getJunctionRows(), reference.junctionRows);
    EXPECT_EQ(linker.getJunctionCols(), reference.junctionCols);
    for (int r = 0; r < linker.getRows(); ++r) {
        for (int c = 0; c < linker.getCols(); ++c) {
            bool listed = false;
            for (std::size_t i = 0; i < reference.junctionRows.size(); ++i) {
                listed = listed || (reference.junctionRows[i] == r && reference.junctionCols[i] == c);
            }
            ASSERT_EQ(linker.isJunction(r, c), listed) << r << "," << c;
        }
    }
    EXPECT_TRUE(linker.getEdgeLists() == reference.lists);
    EXPECT_TRUE(polylines == reference.polylines);
}

class ReferenceTest : public ::testing::Test {
protected:
    testsupport::ScopedWorkingDir folder;
};

TEST_F(ReferenceTest, RandomStrokesAreTracedAndFittedAsTheReferenceDoes)
{
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        expectSameAsReference(randomStrokes(160 + int(seed) * 7, 120, seed), seed % 4 == 0 ? 0.5 : 2.0);
    }
}

// --- Real photographs ----------------------------------------------------------

const char* const CONVERT = "/usr/bin/convert";
const int PHOTO_COUNT = 5;

// A handful of the corpus photos converted to PNG in folder.
std::vector<std::string> photosAsPng(const std::string& folder)
{
    std::vector<std::string> names;
    const std::string photos = testsupport::corpusDir() + "/photos";
    DIR* dir = opendir(photos.c_str());
    if (dir == nullptr) {
        return names;
    }
    std::vector<std::string> jpegs;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0) {
            jpegs.push_back(name);
        }
    }
    closedir(dir);
    std::sort(jpegs.begin(), jpegs.end());
    for (std::size_t i = 0; i < jpegs.size() && names.size() < PHOTO_COUNT; i += jpegs.size() / PHOTO_COUNT + 1) {
        const std::string png = folder + "/" + jpegs[i] + ".png";
        const std::string command = std::string(CONVERT) + " '" + photos + "/" + jpegs[i] + "' '" + png + "'";
        if (std::system(command.c_str()) == 0) {
            names.push_back(png);
        }
    }
    return names;
}

class PhotoTest : public ReferenceTest {
protected:
    void SetUp() override
    {
        if (testsupport::corpusDir().empty()) {
            GTEST_SKIP() << "the corpus folder is absent";
        }
        if (!testsupport::fileExists(CONVERT)) {
            GTEST_SKIP() << CONVERT << " is absent";
        }
        photos = photosAsPng(folder.path());
        if (photos.empty()) {
            GTEST_SKIP() << "no photo could be converted";
        }
    }

    static KpImage edgesOf(const std::string& photo)
    {
        KpImage input;
        input.kpLoadImage(photo.c_str());
        return KpEdgeDetector().detectEdges(input);
    }

    std::vector<std::string> photos;
};

TEST_F(PhotoTest, PhotosAreTracedAndFittedAsTheReferenceDoes)
{
    for (const std::string& photo : photos) {
        SCOPED_TRACE(photo);
        expectSameAsReference(edgesOf(photo), 2.0);
    }
}

// The index in list of vertex, searched from position start on.
std::size_t positionOf(const PointList& list, const point& vertex, std::size_t start)
{
    while (start < list.size() && list[start] != vertex) {
        ++start;
    }
    return start;
}

bool pointsBefore(const PointList& a, const PointList& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](const point& p, const point& q) {
        return p.row != q.row ? p.row < q.row : p.col < q.col;
    });
}

// Distance of p from the line through a and b, or from a when they meet.
double distanceFrom(const point& p, const point& a, const point& b)
{
    const double dx = b.col - a.col, dy = b.row - a.row;
    const double chord = std::hypot(dx, dy);
    if (chord == 0.0) {
        return std::hypot(p.col - a.col, p.row - a.row);
    }
    return std::abs((p.col - a.col) * dy - (p.row - a.row) * dx) / chord;
}

TEST_F(PhotoTest, PolylinesFollowTheirEdgeListsWithinTheTolerance)
{
    const double tolerance = 2.0;
    for (const std::string& photo : photos) {
        SCOPED_TRACE(photo);
        KpEdgeLinker linker(edgesOf(photo));
        linker.traceEdges();
        linker.fitSegments(tolerance);
        const std::vector<PointList>& lists = linker.getEdgeLists();
        const std::vector<PointList>& polylines = linker.getSegmentLists();
        ASSERT_EQ(lists.size(), polylines.size());
        ASSERT_FALSE(lists.empty());
        std::vector<PointList> sorted = lists;
        std::sort(sorted.begin(), sorted.end(), pointsBefore);
        EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "no two kept lists are equal";
        for (std::size_t i = 0; i < lists.size(); ++i) {
            const PointList& list = lists[i];
            const PointList& polyline = polylines[i];
            ASSERT_GE(polyline.size(), 2u);
            EXPECT_EQ(polyline.front(), list.front());
            EXPECT_EQ(polyline.back(), list.back());
            std::size_t start = 0;
            for (std::size_t v = 0; v < polyline.size(); ++v) {
                const point& vertex = polyline[v];
                EXPECT_EQ(linker.getImage().kpGetPixelScale(vertex.col, vertex.row), 0) << "vertex on a stroke";
                const std::size_t end = v == 0 ? 0 : positionOf(list, vertex, start + 1);
                ASSERT_LT(end, list.size()) << "vertex " << v << " of list " << i << " follows the list";
                for (std::size_t k = start; k <= end; ++k) {
                    EXPECT_LE(distanceFrom(list[k], list[start], list[end]), tolerance + 1e-9)
                        << "list " << i << " point " << k;
                }
                start = end;
            }
            EXPECT_EQ(start, list.size() - 1);
        }
    }
}

} // namespace
