// Connected components of binary images ('#' black, '.' white): creation,
// the component map, the filters, drawing and the renderings of one
// component, and a plain flood fill as the reference on random images.
#include "kpconnectedcomponents.h"
#include "kpexception.h"
#include "kplogger.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using testsupport::binaryFromPicture;
using testsupport::expectFailure;
using testsupport::pictureOf;

namespace {

const char* const SOURCE = "kpconnectedcomponents.cpp";

KpConnectedComponents componentsOf(const std::vector<std::string>& picture)
{
    KpConnectedComponents components;
    components.kpCreateConnectedComponents(binaryFromPicture(picture));
    return components;
}

// The left columns of the selected components, which tell the components
// of the filter fixture apart.
std::vector<int32_t> selectedLefts(const KpConnectedComponents& components)
{
    std::vector<int32_t> lefts;
    for (const KpComponent& c : components.kpGetFilteredComponents()) {
        lefts.push_back(c.kpGetLeft());
    }
    return lefts;
}

// --- Creation ------------------------------------------------------------------

TEST(ConnectedComponentsTest, AllWhiteImageHasNoComponentsNoMapAndNothingToDraw)
{
    KpConnectedComponents components = componentsOf({"....", "...."});
    EXPECT_EQ(components.kpGetComponentCount(), 0);
    EXPECT_TRUE(components.kpGetFilteredComponents().empty());
    expectFailure([&components] { components.kpGetConnectedCCMap(); }, KP_NO_DATA,
                  "<KpConnectedComponents::kpGetConnectedCCMap()> Need to calculate connected components first!", SOURCE);
    EXPECT_EQ(components.kpDrawComponents().kpGetData(), nullptr);
    EXPECT_EQ(components.kpDrawColorComponents().kpGetData(), nullptr);
    EXPECT_EQ(components.kpDrawFilteredComponents().kpGetData(), nullptr);
}

TEST(ConnectedComponentsTest, WrongDepthThenMissingDataAreRefused)
{
    KpConnectedComponents components;
    const std::string depthText =
        "<KpConnectedComponents::kpCreateConnectedComponents()> Only supports Two Bit images (Black and White)";
    expectFailure([&] { components.kpCreateConnectedComponents(KpImage(4, 4, 8)); }, KP_UNSUPPORTED_CONTENT, depthText,
                  SOURCE);
    expectFailure([&] { components.kpCreateConnectedComponents(KpImage()); }, KP_UNSUPPORTED_CONTENT, depthText, SOURCE);
    KpImage noData;
    noData.kpInitImage(4, 4, 1, false);
    expectFailure([&] { components.kpCreateConnectedComponents(noData); }, KP_NO_DATA,
                  "<KpConnectedComponents::kpCreateConnectedComponents()> Image Data is NULL!", SOURCE);
}

TEST(ConnectedComponentsTest, SourceImageIsNotChanged)
{
    // Width 10: the padding bits of each row are part of what must stay.
    const KpImage source = binaryFromPicture({"##..#....#", ".#......##"});
    const KpImage before = source;
    KpConnectedComponents components;
    components.kpCreateConnectedComponents(source);
    EXPECT_EQ(components.kpGetComponentCount(), 3);
    EXPECT_EQ(std::memcmp(source.kpGetData(), before.kpGetData(), source.kpGetImageSize()), 0);
}

TEST(ConnectedComponentsTest, CornerPairIsOneComponentAndRingHasOneLoop)
{
    const KpConnectedComponents pair = componentsOf({"#.", ".#"});
    ASSERT_EQ(pair.kpGetComponentCount(), 1);
    EXPECT_EQ(pair.kpGetComponent(0).kpGetArea(), 2);
    expectFailure([&pair] { pair.kpGetComponent(1); }, KP_INVALID_ARGUMENT,
                  "<KpConnectedComponents::kpGetComponent()> Index out of range", SOURCE);

    const KpConnectedComponents ring = componentsOf({".....", ".###.", ".#.#.", ".###.", "....."});
    ASSERT_EQ(ring.kpGetComponentCount(), 1);
    const KpComponent c = ring.kpGetComponents()[0];
    EXPECT_EQ(c.kpGetLoopCount(), 1);
    EXPECT_EQ(c.kpGetSeedRow(), c.kpGetBottom());
    EXPECT_EQ(c.kpGetSeedRow(), 3);
    EXPECT_EQ(c.kpGetSeedColumn(), 1);
    EXPECT_EQ(c.kpGetBoundaryLength(), 16);
    EXPECT_FLOAT_EQ(c.kpGetMeanRow(), 2.0f);
    EXPECT_FLOAT_EQ(c.kpGetMeanColumn(), 2.0f);
    EXPECT_EQ(c.kpGetPointCount(), 0);
}

TEST(ConnectedComponentsTest, MomentsOfASquareAreSymmetricAndOnlyOnRequest)
{
    const std::vector<std::string> square = {"......", ".####.", ".####.", ".####.", ".####.", "......"};
    EXPECT_EQ(componentsOf(square).kpGetComponents()[0].kpGetMoments(), KpComponent::Moments{});

    KpConnectedComponents components;
    components.kpSetComputeMoments(true);
    EXPECT_TRUE(components.kpGetComputeMoments());
    components.kpCreateConnectedComponents(binaryFromPicture(square));
    const KpComponent::Moments m = components.kpGetComponents()[0].kpGetMoments();
    EXPECT_EQ(m[0], 16.0f);
    for (int i : {1, 2, 4, 6, 7, 8, 9}) {
        EXPECT_NEAR(m[i], 0.0f, 1e-6f) << i;
    }
    EXPECT_FLOAT_EQ(m[3], 1.25f);
    EXPECT_EQ(m[3], m[5]);
    for (int i = 10; i < KpComponent::MOMENT_COUNT; ++i) {
        EXPECT_EQ(m[i], 0.0f) << i;
    }
}

// --- The component map -----------------------------------------------------------

TEST(ConnectedComponentsTest, MapMarksTheRunPixelsAndIsBuiltOnce)
{
    KpConnectedComponents components = componentsOf({"#..#", "#.#.", "...."});
    KpLogger* logger = KpLogger::kpGetInstance();
    logger->kpSetLevel(1);
    testing::internal::CaptureStdout();
    const std::vector<int32_t> first = components.kpGetConnectedCCMap();
    const std::vector<int32_t> second = components.kpGetConnectedCCMap();
    const std::string log = testing::internal::GetCapturedStdout();
    logger->kpSetLevel(3);
    // Both end in row 1; the bar on the left comes first.
    EXPECT_EQ(first, (std::vector<int32_t>{0, -1, -1, 1, 0, -1, 1, -1, -1, -1, -1, -1}));
    EXPECT_EQ(second, first);
    EXPECT_EQ(log, "Calculating CCMap\nCCMap is up to date.  Just returning vector!\n");

    components.kpCreateConnectedComponents(binaryFromPicture({"..", ".#"}));
    EXPECT_EQ(components.kpGetConnectedCCMap(), (std::vector<int32_t>{-1, -1, -1, 0})) << "rebuilt after a creation";
}

// --- Filters -------------------------------------------------------------------------

// Four components, listed in this order: A, 1 x 1 at column 0; B, 2 x 2 at
// column 4; C, 3 x 3 at column 8; D, a diagonal 3 high and 4 wide from
// column 13 (area 4, density 1/3).
const std::vector<std::string> FILTER_FIXTURE = {
    "#...##..###..#...",
    "....##..###...#..",
    "........###....##",
};

using Filter = std::function<int32_t(KpConnectedComponents&)>;

struct FilterCase {
    const char* name;
    Filter filter;
    std::vector<int32_t> lefts;
};

void PrintTo(const FilterCase& c, std::ostream* out)
{
    *out << c.name;
}

class FilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterTest, KeepsTheComponentsWithinItsInclusiveBounds)
{
    KpConnectedComponents components = componentsOf(FILTER_FIXTURE);
    ASSERT_EQ(selectedLefts(components), (std::vector<int32_t>{0, 4, 8, 13}));
    EXPECT_EQ(GetParam().filter(components), static_cast<int32_t>(GetParam().lefts.size()));
    EXPECT_EQ(selectedLefts(components), GetParam().lefts);
    EXPECT_EQ(components.kpGetComponentCount(), 4) << "filters never touch the components";
}

const float THIRD = 1.0f / 3.0f;

INSTANTIATE_TEST_SUITE_P(
    Bounds, FilterTest,
    ::testing::Values(
        FilterCase{"Height", [](KpConnectedComponents& c) { return c.kpFilterByHeight(1, 2); }, {0, 4}},
        FilterCase{"Width", [](KpConnectedComponents& c) { return c.kpFilterByWidth(2, 3); }, {4, 8}},
        FilterCase{"MinDensity", [](KpConnectedComponents& c) { return c.kpFilterByMinDensity(1.0f); }, {0, 4, 8}},
        FilterCase{"MaxDensity", [](KpConnectedComponents& c) { return c.kpFilterByMaxDensity(THIRD); }, {13}},
        FilterCase{"Density", [](KpConnectedComponents& c) { return c.kpFilterByDensity(THIRD, 1.0f); }, {0, 4, 8, 13}},
        FilterCase{"MinArea", [](KpConnectedComponents& c) { return c.kpFilterByMinArea(4.0f); }, {4, 8, 13}},
        FilterCase{"MaxArea", [](KpConnectedComponents& c) { return c.kpFilterByMaxArea(4.0f); }, {0, 4, 13}},
        FilterCase{"Area", [](KpConnectedComponents& c) { return c.kpFilterByArea(4.0f, 4.0f); }, {4, 13}},
        FilterCase{"RowRange", [](KpConnectedComponents& c) { return c.kpFilterByRowRange(0, 1); }, {0, 4}},
        FilterCase{"RowRangeBelowEveryTop", [](KpConnectedComponents& c) { return c.kpFilterByRowRange(1, 2); }, {}},
        FilterCase{"ColumnRange", [](KpConnectedComponents& c) { return c.kpFilterByColumnRange(4, 10); }, {4, 8}},
        FilterCase{"MaxSizeIsWidthThenHeight", [](KpConnectedComponents& c) { return c.kpFilterByMaxSize(4.0f, 2.0f); },
                   {0, 4}},
        FilterCase{"MinSizeIsWidthThenHeight", [](KpConnectedComponents& c) { return c.kpFilterByMinSize(4.0f, 1.0f); },
                   {13}},
        FilterCase{"HeightThenWidthKeepsThe3x3", [](KpConnectedComponents& c) {
                       c.kpFilterByHeight(3, 3);
                       return c.kpFilterByWidth(3, 3);
                   },
                   {8}},
        FilterCase{"EmptySelectionStaysEmpty", [](KpConnectedComponents& c) {
                       c.kpFilterByArea(100.0f, 200.0f);
                       return c.kpFilterByMinArea(0.0f);
                   },
                   {}}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

TEST(ConnectedComponentsTest, ResetSelectsEverythingAgain)
{
    KpConnectedComponents components = componentsOf(FILTER_FIXTURE);
    components.kpFilterByHeight(3, 3);
    components.kpFilterByWidth(3, 3);
    components.kpResetFilter();
    EXPECT_EQ(selectedLefts(components), (std::vector<int32_t>{0, 4, 8, 13}));
}

TEST(ConnectedComponentsTest, EveryFilterOfAnEmptyImageReturnsZero)
{
    const std::vector<Filter> filters = {
        [](KpConnectedComponents& c) { return c.kpFilterByHeight(0, 100); },
        [](KpConnectedComponents& c) { return c.kpFilterByWidth(0, 100); },
        [](KpConnectedComponents& c) { return c.kpFilterByMinDensity(0.0f); },
        [](KpConnectedComponents& c) { return c.kpFilterByMaxDensity(1.0f); },
        [](KpConnectedComponents& c) { return c.kpFilterByDensity(0.0f, 1.0f); },
        [](KpConnectedComponents& c) { return c.kpFilterByMinArea(0.0f); },
        [](KpConnectedComponents& c) { return c.kpFilterByMaxArea(100.0f); },
        [](KpConnectedComponents& c) { return c.kpFilterByArea(0.0f, 100.0f); },
        [](KpConnectedComponents& c) { return c.kpFilterByRowRange(0, 100); },
        [](KpConnectedComponents& c) { return c.kpFilterByColumnRange(0, 100); },
        [](KpConnectedComponents& c) { return c.kpFilterByMaxSize(100.0f, 100.0f); },
        [](KpConnectedComponents& c) { return c.kpFilterByMinSize(0.0f, 0.0f); },
    };
    KpConnectedComponents components = componentsOf({"...", "..."});
    for (std::size_t i = 0; i < filters.size(); ++i) {
        EXPECT_EQ(filters[i](components), 0) << "filter " << i;
    }
}

// --- Drawing ---------------------------------------------------------------------------

TEST(ConnectedComponentsTest, CanvasReachesTheLargestRightAndBottom)
{
    std::vector<std::string> picture(14, std::string(25, '.'));
    picture[10][20] = picture[10][21] = picture[11][21] = '#';
    const KpImage canvas = componentsOf(picture).kpDrawComponents();
    ASSERT_EQ(canvas.kpGetWidth(), 22);
    ASSERT_EQ(canvas.kpGetHeight(), 12);
    ASSERT_EQ(canvas.kpGetDepth(), 8);
    std::vector<std::string> expected(12, std::string(22, '.'));
    expected[10][20] = expected[10][21] = expected[11][21] = '#';
    EXPECT_EQ(pictureOf(canvas), expected);
}

TEST(ConnectedComponentsTest, FilteredAndColourDrawingsShowTheirComponents)
{
    KpConnectedComponents components = componentsOf(FILTER_FIXTURE);
    components.kpFilterByArea(4.0f, 4.0f); // B and D
    EXPECT_EQ(pictureOf(components.kpDrawFilteredComponents()),
              (std::vector<std::string>{"....##.......#...", "....##........#..", "...............##"}));

    components.kpResetFilter();
    components.kpFilterByHeight(3, 3);
    components.kpFilterByWidth(3, 3); // C
    components.kpSetFilteredColor(KpColorValue{200, 100, 50, 0, 0, 3});
    const KpImage colour = components.kpDrawColorComponents();
    ASSERT_EQ(colour.kpGetDepth(), 24);
    ASSERT_EQ(colour.kpGetWidth(), 17);
    ASSERT_EQ(colour.kpGetHeight(), 3);
    const auto pixelAt = [&colour](int32_t x, int32_t y) {
        uint8_t r = 0, g = 0, b = 0;
        colour.kpGetPixel(x, y, &r, &g, &b);
        return std::make_tuple(int(r), int(g), int(b));
    };
    EXPECT_EQ(pixelAt(9, 1), std::make_tuple(200, 100, 50)) << "C in its colour";
    EXPECT_EQ(pixelAt(0, 0), std::make_tuple(0, 0, 0)) << "A in the default colour";
    EXPECT_EQ(pixelAt(1, 0), std::make_tuple(255, 255, 255)) << "background";

    components.kpFilterByMinArea(100.0f);
    EXPECT_EQ(components.kpDrawFilteredComponents().kpGetData(), nullptr) << "an empty selection draws nothing";
}

TEST(ComponentTest, RenderingsShowTheComponentInItsBox)
{
    KpConnectedComponents components = componentsOf({"......", "..###.", "..#.#.", "..###."});
    components.kpSetFilteredColor(KpColorValue{1, 2, 3, 0, 0, 3});
    const KpComponent ring = components.kpGetComponents()[0];
    const std::vector<std::string> box = {"###", "#.#", "###"};
    const KpImage gray = ring.kpGetGrayImage();
    EXPECT_EQ(gray.kpGetDepth(), 8);
    EXPECT_EQ(pictureOf(gray), box);
    const KpImage binary = ring.kpGetBinaryImage();
    EXPECT_EQ(binary.kpGetDepth(), 1);
    EXPECT_EQ(pictureOf(binary), box);
    const KpImage colour = ring.kpGetColorImage();
    ASSERT_EQ(colour.kpGetDepth(), 24);
    const uint8_t* data = colour.kpGetData();
    EXPECT_EQ(std::vector<uint8_t>(data, data + 9), (std::vector<uint8_t>{1, 2, 3, 1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(std::vector<uint8_t>(data + 9, data + 18), (std::vector<uint8_t>{1, 2, 3, 255, 255, 255, 1, 2, 3}));
    EXPECT_EQ(ring.kpGetComponentHeight(), 3);
    EXPECT_EQ(ring.kpGetComponentWidth(), 3);
    EXPECT_FLOAT_EQ(ring.kpGetDensity(), 8.0f / 9.0f);
}

TEST(ComponentTest, PaintingOutsideTheImageOrIntoTheWrongDepthIsRefused)
{
    const KpComponent ring = componentsOf({"......", "..###.", "..#.#.", "..###."}).kpGetComponents()[0];
    KpImage small(4, 4, 8);
    EXPECT_THROW(ring.kpPaintRuns(small, 0, 0), KpException);
    KpImage binary(8, 8, 1);
    EXPECT_THROW(ring.kpPaintRuns(binary, 0, 0), KpException);
}

// --- Against a flood fill ---------------------------------------------------------------

using Span = std::tuple<int32_t, int32_t, int32_t>; // row, start, end

struct ReferenceComponent {
    int32_t area = 0, top = 0, bottom = 0, left = 0, right = 0, seedRow = 0, seedColumn = 0;
    int32_t boundary = 0, loops = 0;
    std::vector<Span> runs, closedGaps, openedGaps; // sorted
};

bool touches(const Span& above, const Span& below)
{
    return !(std::get<2>(above) < std::get<1>(below)) && !(std::get<2>(below) < std::get<1>(above));
}

// The 8-connected components of the '#' pixels by flood fill, described
// from their pixels alone and ordered as the labelling emits them.
std::vector<ReferenceComponent> floodFill(const std::vector<std::string>& picture, std::vector<int32_t>& map)
{
    const int32_t height = static_cast<int32_t>(picture.size());
    const int32_t width = static_cast<int32_t>(picture[0].size());
    std::vector<int32_t> label(static_cast<std::size_t>(width) * height, -1);
    int32_t count = 0;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (picture[y][x] != '#' || label[y * width + x] >= 0) {
                continue;
            }
            std::vector<std::pair<int32_t, int32_t>> stack{{y, x}};
            label[y * width + x] = count;
            while (!stack.empty()) {
                const auto [py, px] = stack.back();
                stack.pop_back();
                for (int32_t ny = py - 1; ny <= py + 1; ++ny) {
                    for (int32_t nx = px - 1; nx <= px + 1; ++nx) {
                        if (ny >= 0 && ny < height && nx >= 0 && nx < width && picture[ny][nx] == '#' &&
                            label[ny * width + nx] < 0) {
                            label[ny * width + nx] = count;
                            stack.emplace_back(ny, nx);
                        }
                    }
                }
            }
            ++count;
        }
    }
    // Runs per component, row by row.
    std::vector<std::vector<std::vector<Span>>> runsByRow(count, std::vector<std::vector<Span>>(height));
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width;) {
            const int32_t id = label[y * width + x];
            int32_t end = x + 1;
            while (id >= 0 && end < width && label[y * width + end] == id) {
                ++end;
            }
            if (id >= 0) {
                runsByRow[id][y].emplace_back(y, x, end);
            }
            x = end;
        }
    }
    std::vector<ReferenceComponent> components(count);
    for (int32_t id = 0; id < count; ++id) {
        ReferenceComponent& c = components[id];
        c.top = height;
        c.left = width;
        int32_t runs = 0, touching = 0;
        for (int32_t y = 0; y < height; ++y) {
            const std::vector<Span>& row = runsByRow[id][y];
            for (const Span& run : row) {
                const int32_t length = std::get<2>(run) - std::get<1>(run);
                c.area += length;
                c.boundary += 2 * length + 2;
                c.top = std::min(c.top, y);
                c.bottom = std::max(c.bottom, y);
                c.left = std::min(c.left, std::get<1>(run));
                c.right = std::max(c.right, std::get<2>(run) - 1);
                c.runs.push_back(run);
                ++runs;
            }
            if (y == 0) {
                continue;
            }
            const std::vector<Span>& above = runsByRow[id][y - 1];
            // The first run above that each run of this row touches.
            std::vector<int> first(row.size(), -1);
            for (std::size_t i = 0; i < row.size(); ++i) {
                int previous = -1;
                for (std::size_t j = 0; j < above.size(); ++j) {
                    if (!touches(above[j], row[i])) {
                        continue;
                    }
                    ++touching;
                    const int32_t shared = std::min(std::get<2>(row[i]), std::get<2>(above[j])) -
                                           std::max(std::get<1>(row[i]), std::get<1>(above[j]));
                    c.boundary -= 2 * std::max(0, shared);
                    if (previous >= 0) {
                        c.closedGaps.emplace_back(y - 1, std::get<2>(above[previous]), std::get<1>(above[j]));
                    } else {
                        first[i] = static_cast<int>(j);
                    }
                    previous = static_cast<int>(j);
                }
                if (i > 0 && first[i] >= 0 && first[i] == first[i - 1]) {
                    c.openedGaps.emplace_back(y, std::get<2>(row[i - 1]), std::get<1>(row[i]));
                }
            }
        }
        c.loops = touching - runs + 1;
        c.seedRow = c.bottom;
        c.seedColumn = std::get<1>(runsByRow[id][c.bottom].front());
        std::sort(c.runs.begin(), c.runs.end());
        std::sort(c.closedGaps.begin(), c.closedGaps.end());
        std::sort(c.openedGaps.begin(), c.openedGaps.end());
    }
    std::vector<int32_t> order(count);
    for (int32_t i = 0; i < count; ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&components](int32_t a, int32_t b) {
        return std::make_pair(components[a].bottom, components[a].seedColumn) <
               std::make_pair(components[b].bottom, components[b].seedColumn);
    });
    std::vector<int32_t> rank(count);
    std::vector<ReferenceComponent> ordered;
    for (int32_t i = 0; i < count; ++i) {
        rank[order[i]] = i;
        ordered.push_back(components[order[i]]);
    }
    map.assign(label.size(), -1);
    for (std::size_t i = 0; i < label.size(); ++i) {
        map[i] = label[i] < 0 ? -1 : rank[label[i]];
    }
    return ordered;
}

std::vector<Span> sortedSpans(const std::vector<KpDatarun>& spans)
{
    std::vector<Span> result;
    for (const KpDatarun& s : spans) {
        result.emplace_back(s.row, s.start, s.end);
    }
    std::sort(result.begin(), result.end());
    return result;
}

std::vector<std::string> randomPicture(int32_t width, int32_t height, double density, std::mt19937& random)
{
    std::bernoulli_distribution black(density);
    std::vector<std::string> picture(height, std::string(width, '.'));
    for (std::string& row : picture) {
        for (char& pixel : row) {
            pixel = black(random) ? '#' : '.';
        }
    }
    return picture;
}

TEST(ConnectedComponentsTest, RandomImagesAgreeWithAFloodFill)
{
    std::mt19937 random(20240607);
    for (int32_t width : {1, 7, 8, 9, 10, 64, 333}) {
        for (int32_t height : {1, 3, 24}) {
            for (double density : {0.1, 0.35, 0.5, 0.65, 0.9}) {
                SCOPED_TRACE("width " + std::to_string(width) + " height " + std::to_string(height) + " density " +
                             std::to_string(density));
                const std::vector<std::string> picture = randomPicture(width, height, density, random);
                std::vector<int32_t> expectedMap;
                const std::vector<ReferenceComponent> expected = floodFill(picture, expectedMap);
                KpConnectedComponents components = componentsOf(picture);
                const std::vector<KpComponent> found = components.kpGetComponents();
                ASSERT_EQ(found.size(), expected.size());
                for (std::size_t i = 0; i < found.size(); ++i) {
                    const KpComponent& f = found[i];
                    const ReferenceComponent& e = expected[i];
                    ASSERT_EQ(std::make_tuple(f.kpGetArea(), f.kpGetTop(), f.kpGetBottom(), f.kpGetLeft(), f.kpGetRight()),
                              std::make_tuple(e.area, e.top, e.bottom, e.left, e.right))
                        << "component " << i;
                    EXPECT_EQ(std::make_tuple(f.kpGetSeedRow(), f.kpGetSeedColumn(), f.kpGetBoundaryLength(),
                                              f.kpGetLoopCount()),
                              std::make_tuple(e.seedRow, e.seedColumn, e.boundary, e.loops))
                        << "component " << i;
                    EXPECT_EQ(sortedSpans(f.kpGetRuns()), e.runs) << "component " << i;
                    EXPECT_EQ(sortedSpans(f.kpGetClosedGaps()), e.closedGaps) << "component " << i;
                    EXPECT_EQ(sortedSpans(f.kpGetOpenedGaps()), e.openedGaps) << "component " << i;
                }
                if (!expected.empty()) {
                    EXPECT_EQ(components.kpGetConnectedCCMap(), expectedMap);
                }
            }
        }
    }
}

} // namespace
