// Adaptive thresholding of KpBitsPerPixelConverter: the Niblack family.
//
// The image is cut into square tiles of t = 2 floor(ln(width height))
// pixels; each tile gets one threshold from the mean m and deviation s of
// a window of t + 2 (t / 4) pixels around it, by one of four rules:
//   0 Niblack            T = m + k s
//   1 Sauvola            T = m (1 + k (s / 128 - 1))
//   2 Wolf/Jolion        T = (1 + k) m - k M - k (s / R) (m - M), M the
//                        darkest pixel and R the largest tile deviation
//   3 modified Niblack   T = m + k s, then corrected from the shape of
//                        the window's histogram
// With statistics, tiles that look like light text on a dark ground
// (dark, and skewed towards light or much flatter than the page) are
// thresholded in the opposite polarity. The grid of thresholds is
// smoothed along the rows and then down the columns, and a pixel is
// white when it is at or above the threshold of its tile. Every
// intermediate figure is logged at level 2.
//
// Windows are measured in place from their level counts, which give the
// very mean and deviation that the statistics of a cut-out of the window
// give (see KpLevelHistogram); only the modified rule looks further into
// the counts.

#include "kpbitsperpixelconverter.h"

#include "kpexception.h"
#include "kplevelhistogram.h"
#include "kplogger.h"
#include "kppixelbuffer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int NIBLACK = 0;
constexpr int SAUVOLA = 1;
constexpr int WOLF_JOLION = 2;
constexpr int MODIFIED_NIBLACK = 3;
constexpr int DEFAULT_THRESHOLD = 128;
constexpr int LEVELS = KpLevelHistogram::KP_LEVELS;
constexpr int WHITE = LEVELS - 1;

constexpr double SAUVOLA_RANGE = 128.0;
// A dark tile (mean below the middle gray) is inverted when its third
// moment exceeds this many deviations, or its deviation is below this
// share of the page's.
constexpr double MIDDLE_GRAY = 127.5;
constexpr double INVERTED_SKEW = 200.0;
constexpr double INVERTED_FLATNESS = 0.555;
// A tile spreads widely when its squared deviations from the class mean
// exceed this many per pixel (a deviation of 60).
constexpr double WIDE_SPREAD = 3600.0;

// The modified rule: the factors derived from k, and the constants of its
// histogram corrections.
constexpr double BIMODAL_GAIN = 4.0;
constexpr double CONTRAST_GAIN = -2.2;
constexpr double BACKGROUND_GAIN = 4.0;
constexpr int LARGEST_BIMODAL_GRID = 75;
constexpr double SMALLEST_WIDE_SHARE = 0.02;
constexpr double BIMODAL_DEVIATIONS = 2.0;
constexpr double BIMODAL_PRODUCT = 9.6;
constexpr double BACKGROUND_DEVIATIONS = 2.0;
constexpr int SMOOTHING_REACH = 3;
constexpr double MODE_SHARE = 0.3;
constexpr int LOWEST_CLIMB = 96;
constexpr int CLIMB_MARGIN = 5;
constexpr double CONTRAST_LEVEL_SHARE = 0.00167;
constexpr double CONTRAST_BIN_SHARE = 0.0714;
constexpr double CONTRAST_DEVIATIONS = 0.75;
constexpr double CONTRAST_DARK_SHARE = 0.25;
constexpr double BACKGROUND_FLATNESS = 0.555;

// (int) of a double, truncated toward zero, for values the thresholds can
// reach with any k: NaN gives 0 and values beyond the int range the
// nearest int. Thresholds are clamped to 0..255 in the end.
int truncated(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 2147483647.0) {
        return 2147483647;
    }
    if (value <= -2147483648.0) {
        return -2147483647 - 1;
    }
    return static_cast<int>(value);
}

struct Rectangle {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;

    int64_t pixels() const { return static_cast<int64_t>(width) * height; }
};

// How many tiles cover a side, the last one cut at the edge.
int32_t tilesAlong(int32_t side, int32_t tile)
{
    return side / tile + (side % tile != 0 ? 1 : 0);
}

// The tiles and their statistics windows.
struct Layout {
    int32_t width;
    int32_t height;
    int32_t tile;
    int32_t offset;
    int32_t window;
    int32_t tilesX;
    int32_t tilesY;

    static Layout of(const KpImage& image)
    {
        Layout layout;
        layout.width = image.kpGetWidth();
        layout.height = image.kpGetHeight();
        const double pixels = static_cast<double>(layout.width) * layout.height;
        layout.tile = std::max(1, 2 * static_cast<int32_t>(std::log(pixels)));
        layout.offset = layout.tile / 4;
        layout.window = layout.tile + 2 * layout.offset;
        layout.tilesX = tilesAlong(layout.width, layout.tile);
        layout.tilesY = tilesAlong(layout.height, layout.tile);
        return layout;
    }

    std::size_t tiles() const { return static_cast<std::size_t>(tilesX) * static_cast<std::size_t>(tilesY); }

    Rectangle tileAt(int32_t tx, int32_t ty) const
    {
        const int32_t x0 = tx * tile;
        const int32_t y0 = ty * tile;
        return {x0, y0, std::min(tile, width - x0), std::min(tile, height - y0)};
    }

    // The window starts offset pixels up and left of the tile (not before
    // the image) and is cut at the right and bottom edges.
    Rectangle windowAt(int32_t tx, int32_t ty) const
    {
        const int32_t x0 = std::max(0, tx * tile - offset);
        const int32_t y0 = std::max(0, ty * tile - offset);
        return {x0, y0, std::min(window, width - x0), std::min(window, height - y0)};
    }
};

KpLevelHistogram countsOf(const KpImage& image, const Rectangle& r)
{
    const std::size_t stride = static_cast<std::size_t>(image.kpGetBytesPerRow());
    return KpLevelHistogram::kpOfRectangle(image.kpGetData() + static_cast<std::size_t>(r.y) * stride + static_cast<std::size_t>(r.x),
                                           stride, r.width, r.height);
}

// The figures of one class of tiles (normal or inverted).
struct PixelClass {
    double sum = 0.0;
    int64_t count = 0;
    double mean = 0.0;
    double squares = 0.0;
    int64_t wideCount = 0;
    double wideSquares = 0.0;
    double deviation = 0.0;
    double adjustedDeviation = 0.0;
};

// The occupied levels of every tile, ascending, with their counts, kept
// from the first pass for the second. A tile has at most 42 x 42 pixels
// (t = 2 ln(2^31) at most), so its counts fit 16 bits.
struct TileLevels {
    std::vector<uint8_t> levels;
    std::vector<uint16_t> counts;
    std::vector<std::size_t> starts{0};

    void add(const uint8_t* tileLevels, const uint64_t* tileCounts, std::size_t n)
    {
        levels.insert(levels.end(), tileLevels, tileLevels + n);
        for (std::size_t i = 0; i < n; ++i) {
            counts.push_back(static_cast<uint16_t>(tileCounts[i]));
        }
        starts.push_back(levels.size());
    }

    double squaredDeviations(std::size_t tile, double centre) const
    {
        const std::size_t start = starts[tile];
        return KpLevelHistogram::kpPowerSums<2>(levels.data() + start, counts.data() + start, starts[tile + 1] - start, centre)
            .squares;
    }
};

// The figures of a tile that its classification needs.
struct TileFigures {
    uint64_t sum = 0;
    double mean = 0.0;
    double deviation = 0.0;
    double thirdMoment = 0.0;
};

// What the first two tile passes learn of the page.
struct Page {
    TileLevels tileLevels;
    std::vector<TileFigures> tiles;
    KpLevelHistogram all;            // the whole page, with statistics
    std::vector<uint8_t> inverted;   // per tile
    PixelClass normal;
    PixelClass reverse;
    double darkest = WHITE;          // M, for Wolf/Jolion
    double largestDeviation = 0.0;   // R, for Wolf/Jolion

    PixelClass& classOf(std::size_t tile) { return inverted[tile] != 0 ? reverse : normal; }
    const PixelClass& classOf(std::size_t tile) const { return inverted[tile] != 0 ? reverse : normal; }
};

void logMethod(KpLogger* logger, int method, double k, const Layout& layout)
{
    switch (method) {
    case NIBLACK:
        kpLogPrintf(logger, 2, "Running Niblack's method with parameter k=%4.2f.\n", k);
        break;
    case SAUVOLA:
        kpLogPrintf(logger, 2, "Running Sauvola's method with parameter k=%4.2f.\n", k);
        break;
    case WOLF_JOLION:
        kpLogPrintf(logger, 2, "Running method of Wolf/Jolion with gain =\t%4.2f.\n", k);
        break;
    case MODIFIED_NIBLACK:
        kpLogPrintf(logger, 2, "Running modified Niblack's method with parameter k =\t%4.2f.\n", k);
        break;
    default:
        break;
    }
    kpLogPrintf(logger, 2, "Thresh window: %d x %d. Stats window: %d x %d.\n", layout.tile, layout.tile, layout.window,
                layout.window);
}

// First pass: the counts, sum and (with statistics) the deviation and
// third moment of each tile, and the counts of the whole page.
Page measureTiles(const KpImage& image, const Layout& layout, bool useStatistics)
{
    Page page;
    page.tiles.resize(layout.tiles());
    uint8_t levels[LEVELS];
    uint64_t counts[LEVELS];
    std::array<uint64_t, LEVELS> all{};
    std::size_t index = 0;
    for (int32_t ty = 0; ty < layout.tilesY; ++ty) {
        for (int32_t tx = 0; tx < layout.tilesX; ++tx, ++index) {
            const Rectangle tile = layout.tileAt(tx, ty);
            const KpLevelHistogram histogram = countsOf(image, tile);
            const std::size_t n = histogram.kpOccupiedLevels(0, levels, counts);
            page.tileLevels.add(levels, counts, n);
            page.darkest = std::min<double>(page.darkest, levels[0]);
            TileFigures& figures = page.tiles[index];
            for (std::size_t i = 0; i < n; ++i) {
                figures.sum += levels[i] * counts[i];
                all[levels[i]] += counts[i];
            }
            if (useStatistics) {
                const double pixels = static_cast<double>(tile.pixels());
                figures.mean = static_cast<double>(figures.sum) / pixels;
                const KpLevelHistogram::KpDeviationSums sums = KpLevelHistogram::kpPowerSums<3>(levels, counts, n, figures.mean);
                figures.deviation = sums.squares == 0.0 ? 0.0 : std::sqrt(sums.squares / (pixels - 1));
                figures.thirdMoment = sums.cubes == 0.0 ? 0.0 : sums.cubes / (pixels - 1);
                page.largestDeviation = std::max(page.largestDeviation, figures.deviation);
            }
        }
    }
    for (int level = 0; level < LEVELS; ++level) {
        page.all.kpSet(level, all[static_cast<std::size_t>(level)]);
    }
    return page;
}

// The deviation of the whole page, logged with its mean.
double pageDeviation(KpLogger* logger, const Page& page)
{
    const double mean = page.all.kpMean();
    const double deviation = page.all.kpSampleDeviation(mean);
    kpLogPrintf(logger, 2, "Global graylevel mean: %6.4f\n", mean);
    kpLogPrintf(logger, 2, "Global graylevel standard deviation: %6.4f\n", deviation);
    return deviation;
}

// Each tile's sum goes to its class; with statistics a dark tile that is
// skewed towards light or flat is inverted.
void classifyTiles(const Layout& layout, bool useStatistics, double pageDeviation, Page& page)
{
    page.inverted.assign(layout.tiles(), 0);
    std::size_t index = 0;
    for (int32_t ty = 0; ty < layout.tilesY; ++ty) {
        for (int32_t tx = 0; tx < layout.tilesX; ++tx, ++index) {
            const TileFigures& figures = page.tiles[index];
            if (useStatistics) {
                page.inverted[index] = figures.mean < MIDDLE_GRAY && (figures.thirdMoment > INVERTED_SKEW * figures.deviation ||
                                                                      figures.deviation < INVERTED_FLATNESS * pageDeviation);
            }
            PixelClass& pixels = page.classOf(index);
            pixels.sum += static_cast<double>(figures.sum);
            pixels.count += layout.tileAt(tx, ty).pixels();
        }
    }
}

void setClassMeans(KpLogger* logger, const Layout& layout, Page& page)
{
    for (PixelClass* pixels : {&page.normal, &page.reverse}) {
        pixels->mean = pixels->count > 0 ? pixels->sum / static_cast<double>(pixels->count) : 0.0;
    }
    kpLogPrintf(logger, 2, "Image dimensions: width = %d\theight = %d\ttotal pixels = %d\n", layout.width, layout.height,
                static_cast<int>(static_cast<int64_t>(layout.width) * layout.height));
    kpLogPrintf(logger, 2, "Normal sum = %4.1f\ttotal pixels = %d\n", page.normal.sum, static_cast<int>(page.normal.count));
    kpLogPrintf(logger, 2, "Inverted sum = %4.1f\ttotal pixels = %d\n", page.reverse.sum, static_cast<int>(page.reverse.count));
    kpLogPrintf(logger, 2, "Number of pixels in image: %d\n", static_cast<int>(page.normal.count + page.reverse.count));
}

// Second pass: each tile's squared deviations from its class mean, and
// those of the tiles that spread widely.
void measureSpread(const Layout& layout, Page& page)
{
    std::size_t index = 0;
    for (int32_t ty = 0; ty < layout.tilesY; ++ty) {
        for (int32_t tx = 0; tx < layout.tilesX; ++tx, ++index) {
            const Rectangle tile = layout.tileAt(tx, ty);
            PixelClass& pixels = page.classOf(index);
            const double squares = page.tileLevels.squaredDeviations(index, pixels.mean);
            pixels.squares += squares;
            if (squares > WIDE_SPREAD * static_cast<double>(tile.pixels())) {
                pixels.wideCount += tile.pixels();
                pixels.wideSquares += squares;
            }
        }
    }
}

void setDeviation(KpLogger* logger, PixelClass& pixels, const char* format)
{
    if (pixels.count > 1) {
        pixels.deviation = std::sqrt(pixels.squares / static_cast<double>(pixels.count - 1));
        kpLogPrintf(logger, 2, format, pixels.mean, pixels.deviation);
    }
}

// The deviation without the widely spread tiles, when enough is left.
void setAdjustedDeviation(KpLogger* logger, PixelClass& pixels, const char* format)
{
    pixels.adjustedDeviation = pixels.deviation;
    const int64_t narrow = pixels.count - pixels.wideCount;
    if (narrow > 1) {
        pixels.adjustedDeviation = std::sqrt((pixels.squares - pixels.wideSquares) / static_cast<double>(narrow - 1));
        kpLogPrintf(logger, 2, format, pixels.mean, pixels.adjustedDeviation);
    }
}

void setClassDeviations(KpLogger* logger, Page& page)
{
    setDeviation(logger, page.normal, "Normal text average = %4.8f\tsdev = %4.8f\n");
    setDeviation(logger, page.reverse, "Inverted text average = %4.8f\tsdev = %4.8f\n");
    kpLogPrintf(logger, 2, "nrmtotal = %d\tnrmtotal_adj = %d\tinvtotal = %d\tinvtotal_adj = %d\n",
                static_cast<int>(page.normal.count), static_cast<int>(page.normal.wideCount),
                static_cast<int>(page.reverse.count), static_cast<int>(page.reverse.wideCount));
    setAdjustedDeviation(logger, page.normal, "Normal text average (adjusted) = %4.8f\tsdev = %4.8f\n");
    setAdjustedDeviation(logger, page.reverse, "Inverted text average (adjusted) = %4.8f\tsdev = %4.8f\n");
    // Inverted tiles are measured in the opposite polarity from here on.
    page.reverse.mean = WHITE - page.reverse.mean;
}

bool hasWideShare(const PixelClass& pixels)
{
    return !(static_cast<double>(pixels.wideCount) / static_cast<double>(pixels.count + 1) < SMALLEST_WIDE_SHARE);
}

bool bimodalEnabled(int method, const Layout& layout, const Page& page)
{
    return method == MODIFIED_NIBLACK && layout.tilesX <= LARGEST_BIMODAL_GRID && layout.tilesY <= LARGEST_BIMODAL_GRID &&
           hasWideShare(page.reverse) && hasWideShare(page.normal);
}

// The threshold of a window of mean m and deviation s by the plain rules.
int plainThreshold(int method, double k, double m, double s, const Page& page)
{
    switch (method) {
    case NIBLACK:
    case MODIFIED_NIBLACK:
        return truncated(m + k * s);
    case SAUVOLA:
        return truncated(m * (1 + k * (s / SAUVOLA_RANGE - 1)));
    case WOLF_JOLION: {
        // Without tile statistics R is 0 and the contrast term drops out.
        const double M = page.darkest;
        const double R = page.largestDeviation;
        const double contrast = R == 0.0 ? 0.0 : k * (s / R) * (m - M);
        return truncated((1 + k) * m - k * M - contrast);
    }
    default:
        return DEFAULT_THRESHOLD;
    }
}

// The shape of a window's histogram that the modified rule looks at.
struct HistogramShape {
    std::array<int64_t, LEVELS> cumulative{};
    int mode = 0;
    int64_t modeCount = 0;
    int cutoff = 0;
    int climbIndex = 0;
    int base = 0;
    double averageCount = 0.0;
    int binCount = 0;
};

// smoothed[v]: the mean (integer division) of the counts of the levels
// v - 3 .. v + 3 that exist.
std::array<int64_t, LEVELS> smoothedCounts(const KpLevelHistogram& counts)
{
    std::array<int64_t, LEVELS> smoothed{};
    int64_t sum = 0;
    for (int v = 0; v < SMOOTHING_REACH; ++v) {
        sum += static_cast<int64_t>(counts.kpAt(v));
    }
    for (int v = 0; v < LEVELS; ++v) {
        if (v + SMOOTHING_REACH < LEVELS) {
            sum += static_cast<int64_t>(counts.kpAt(v + SMOOTHING_REACH));
        }
        if (v - SMOOTHING_REACH - 1 >= 0) {
            sum -= static_cast<int64_t>(counts.kpAt(v - SMOOTHING_REACH - 1));
        }
        const int bins = std::min(WHITE, v + SMOOTHING_REACH) - std::max(0, v - SMOOTHING_REACH) + 1;
        smoothed[static_cast<std::size_t>(v)] = sum / bins;
    }
    return smoothed;
}

HistogramShape shapeOf(const KpLevelHistogram& counts, double m)
{
    HistogramShape shape;
    const std::array<int64_t, LEVELS> smoothed = smoothedCounts(counts);
    int64_t running = 0;
    for (int v = 0; v < LEVELS; ++v) {
        running += static_cast<int64_t>(counts.kpAt(v));
        shape.cumulative[static_cast<std::size_t>(v)] = running;
    }
    // The highest smoothed count at or above the mean, first of equals.
    shape.mode = static_cast<int>(m);
    for (int v = static_cast<int>(m); v < LEVELS; ++v) {
        if (smoothed[static_cast<std::size_t>(v)] > shape.modeCount) {
            shape.mode = v;
            shape.modeCount = smoothed[static_cast<std::size_t>(v)];
        }
    }
    shape.cutoff = static_cast<int>(MODE_SHARE * static_cast<double>(shape.modeCount)) + 1;
    // Where the climb to the mode begins.
    shape.climbIndex = shape.mode;
    for (int v = LOWEST_CLIMB; v <= shape.mode; ++v) {
        if (smoothed[static_cast<std::size_t>(v)] >= shape.cutoff) {
            shape.climbIndex = v;
            break;
        }
    }
    shape.base = std::max(0, shape.climbIndex - CLIMB_MARGIN);
    // The average of the occupied levels well below the climb.
    int64_t occupied = 0;
    for (int v = 0; v < shape.climbIndex - CLIMB_MARGIN; ++v) {
        if (counts.kpAt(v) != 0) {
            occupied += static_cast<int64_t>(counts.kpAt(v));
            ++shape.binCount;
        }
    }
    shape.averageCount = shape.binCount > 0 ? static_cast<double>(occupied) / shape.binCount : 0.0;
    return shape;
}

int64_t cumulativeAt(const HistogramShape& shape, int64_t level)
{
    return level >= 0 && level < LEVELS ? shape.cumulative[static_cast<std::size_t>(level)] : 0;
}

// One window of the third pass.
struct Window {
    KpLevelHistogram counts; // in the tile's polarity
    double m;                // floor of the mean, in the tile's polarity
    double s;
    int64_t n;
};

Window measureWindow(const KpImage& image, const Rectangle& area, bool inverted)
{
    Window window{countsOf(image, area), 0.0, 0.0, area.pixels()};
    uint8_t levels[LEVELS];
    uint64_t counts[LEVELS];
    const std::size_t occupied = window.counts.kpOccupiedLevels(0, levels, counts);
    uint64_t sum = 0;
    for (std::size_t i = 0; i < occupied; ++i) {
        sum += levels[i] * counts[i];
    }
    const double pixels = static_cast<double>(window.n);
    const double mean = static_cast<double>(sum) / pixels;
    const double squares = KpLevelHistogram::kpPowerSums<2>(levels, counts, occupied, mean).squares;
    window.m = std::floor(mean);
    window.s = squares == 0.0 ? 0.0 : std::sqrt(squares / (pixels - 1));
    if (inverted) {
        KpLevelHistogram flipped;
        for (int v = 0; v < LEVELS; ++v) {
            flipped.kpSet(WHITE - v, window.counts.kpAt(v));
        }
        window.counts = flipped;
        window.m = WHITE - window.m;
    }
    return window;
}

// The corrections of the modified rule, the first that applies; returns
// the threshold unchanged when none does. The window's m and s are those
// of the levels above the base after the bimodal correction.
int64_t correctedThreshold(KpLogger* logger, int64_t threshold, double k, bool bimodal, const PixelClass& pixels,
                           int64_t background, const HistogramShape& shape, Window& window)
{
    if (bimodal && window.s > BIMODAL_DEVIATIONS * pixels.deviation) {
        kpLogPrintf(logger, 2, "ADJUSTING FOR BIMODAL DISTRIBUTION:\n");
        kpLogPrintf(logger, 2, "mean = %4.8f\tsdev = %4.8f\tsdev_factor = %4.8f\tgsdev = %4.8f\nproduct = %4.8f\n", window.m,
                    window.s, BIMODAL_DEVIATIONS, pixels.deviation, BIMODAL_PRODUCT * pixels.deviation);
        window.m = window.counts.kpMean(shape.base);
        window.s = window.counts.kpSampleDeviation(window.m, shape.base);
        return truncated(window.m + BIMODAL_GAIN * k * window.s);
    }
    const double n = static_cast<double>(window.n);
    const int64_t dark = cumulativeAt(shape, shape.base);
    if (CONTRAST_LEVEL_SHARE * n <= shape.averageCount && CONTRAST_BIN_SHARE * pixels.mean < shape.binCount &&
        pixels.mean - CONTRAST_DEVIATIONS * pixels.adjustedDeviation > shape.climbIndex && CONTRAST_DARK_SHARE * n > static_cast<double>(dark)) {
        kpLogPrintf(logger, 2, "ADJUSTING FOR DROP IN CONTRAST:\n");
        const double gain = CONTRAST_GAIN * k;
        for (int v = 0; v < LEVELS; ++v) {
            if (gain * static_cast<double>(shape.cumulative[static_cast<std::size_t>(v)]) >= static_cast<double>(dark)) {
                return v;
            }
        }
        return WHITE;
    }
    if (BACKGROUND_FLATNESS * pixels.adjustedDeviation > window.s) {
        kpLogPrintf(logger, 2, "ADJUSTING FOR PROBABLE BACKGROUND:\n");
        const int64_t t2 = truncated(window.m + BACKGROUND_GAIN * k * window.s);
        return (background + t2) / 2 - std::llabs(background - t2) / 2;
    }
    return threshold;
}

void logModifiedTile(KpLogger* logger, const Rectangle& tile, const Window& window, int64_t background,
                     const HistogramShape& shape, int64_t threshold)
{
    const int64_t climbBase = shape.climbIndex - CLIMB_MARGIN;
    kpLogPrintf(logger, 2, "(%03d,%03d): mean = %4.8f\tsdev = %4.8f\tgbackground = %d\n", tile.y, tile.x, window.m, window.s,
                static_cast<int>(background));
    kpLogPrintf(logger, 2, "\t\tmode = %d\tmodecount = %d\tnumpixels = %d\n", shape.mode, static_cast<int>(shape.modeCount),
                static_cast<int>(window.n));
    kpLogPrintf(logger, 2, "\t\tthreshold = %d (cutoff = %d)\tclimbindex = %d\n", static_cast<int>(threshold), shape.cutoff,
                shape.climbIndex);
    kpLogPrintf(logger, 2, "\t\tpixeltotal[%d] = %d\tavgcount = %4.8f\tbincount = %d\n", static_cast<int>(climbBase),
                static_cast<int>(cumulativeAt(shape, climbBase)), shape.averageCount, shape.binCount);
    kpLogPrintf(logger, 2, "\t\tpixeltotal[%d] = %d\tpixeltotal[%d] = %d\n", static_cast<int>(threshold),
                static_cast<int>(cumulativeAt(shape, threshold)), static_cast<int>(threshold - 1),
                static_cast<int>(cumulativeAt(shape, threshold - 1)));
}

// Back to the image's polarity for an inverted tile, and into 0..255.
int64_t finishedThreshold(int64_t threshold, bool inverted)
{
    return std::clamp<int64_t>(inverted ? WHITE - threshold : threshold, 0, WHITE);
}

// Third pass: the threshold of every tile.
std::vector<int32_t> tileThresholds(KpLogger* logger, const KpImage& image, const Layout& layout, int method, double k,
                                    const Page& page, bool bimodal)
{
    std::vector<int32_t> thresholds(layout.tiles());
    std::size_t index = 0;
    for (int32_t ty = 0; ty < layout.tilesY; ++ty) {
        for (int32_t tx = 0; tx < layout.tilesX; ++tx, ++index) {
            const bool inverted = page.inverted[index] != 0;
            const PixelClass& pixels = page.classOf(index);
            Window window = measureWindow(image, layout.windowAt(tx, ty), inverted);
            const int64_t background = truncated(pixels.mean - BACKGROUND_DEVIATIONS * pixels.adjustedDeviation);
            int64_t threshold = plainThreshold(method, k, window.m, window.s, page);
            if (method == MODIFIED_NIBLACK) {
                const HistogramShape shape = shapeOf(window.counts, window.m);
                threshold = finishedThreshold(
                    correctedThreshold(logger, threshold, k, bimodal, pixels, background, shape, window), inverted);
                logModifiedTile(logger, layout.tileAt(tx, ty), window, background, shape, threshold);
            } else {
                threshold = finishedThreshold(threshold, inverted);
            }
            thresholds[index] = static_cast<int32_t>(threshold);
        }
    }
    return thresholds;
}

// The integer mean of each interior threshold and its two neighbours
// step apart, along lines of count thresholds; the ends stay.
void smoothLines(const std::vector<int32_t>& in, std::vector<int32_t>& out, int32_t lines, int32_t count,
                 std::size_t lineStep, std::size_t step)
{
    for (int32_t line = 0; line < lines; ++line) {
        const std::size_t first = static_cast<std::size_t>(line) * lineStep;
        for (int32_t i = 1; i + 1 < count; ++i) {
            const std::size_t at = first + static_cast<std::size_t>(i) * step;
            out[at] = (in[at - step] + in[at] + in[at + step]) / 3;
        }
    }
}

// Along each row of tiles, then down each column.
std::vector<int32_t> smoothedThresholds(std::vector<int32_t> thresholds, const Layout& layout)
{
    const std::size_t columns = static_cast<std::size_t>(layout.tilesX);
    std::vector<int32_t> second(thresholds);
    smoothLines(thresholds, second, layout.tilesY, layout.tilesX, columns, 1);
    thresholds = second;
    smoothLines(thresholds, second, layout.tilesX, layout.tilesY, 1, columns);
    return second;
}

// Sets bit x of a row when value x is at or above threshold x.
void packAtLeast(const uint8_t* values, const uint8_t* thresholds, int32_t width, uint8_t* bits)
{
    const int32_t whole = width / 8;
    for (int32_t j = 0; j < whole; ++j) {
        unsigned byte = 0;
        for (int32_t b = 0; b < 8; ++b) {
            byte |= static_cast<unsigned>(values[8 * j + b] >= thresholds[8 * j + b]) << (7 - b);
        }
        bits[j] = static_cast<uint8_t>(byte);
    }
    if (width % 8 != 0) {
        unsigned byte = 0;
        for (int32_t b = 0; b < width % 8; ++b) {
            byte |= static_cast<unsigned>(values[8 * whole + b] >= thresholds[8 * whole + b]) << (7 - b);
        }
        bits[whole] = static_cast<uint8_t>(byte);
    }
}

// The threshold of every pixel of a row of tiles.
void spreadThresholds(const std::vector<int32_t>& thresholds, const Layout& layout, int32_t ty, std::vector<uint8_t>& row)
{
    int32_t column = 0;
    for (int32_t x0 = 0; x0 < layout.width; x0 += std::min(layout.tile, layout.width - x0), ++column) {
        if (column >= layout.tilesX) {
            KP_THROW(KP_TOO_BIG, "kpDownscaleGray2Binary_niblack(): Shouldn't be here; col: " + std::to_string(column) +
                                     " width: " + std::to_string(layout.tilesX));
        }
        const int32_t end = x0 + std::min(layout.tile, layout.width - x0);
        const int32_t threshold = thresholds[static_cast<std::size_t>(ty) * static_cast<std::size_t>(layout.tilesX) +
                                             static_cast<std::size_t>(column)];
        std::fill(row.begin() + x0, row.begin() + end, static_cast<uint8_t>(threshold));
    }
}

KpImage binarized(const KpImage& image, const Layout& layout, const std::vector<int32_t>& thresholds)
{
    KpImageHead head;
    head.width = layout.width;
    head.height = layout.height;
    head.depth = 1;
    head.xResolution = image.kpGetXResolution();
    head.yResolution = image.kpGetYResolution();
    head.resolutionInDpi = image.kpIsResolutionInDpi() ? 1 : 0;
    const int32_t rowBytes = KpImageHead::kpRowBytes(layout.width, 1);
    KpImage result(KpPixelBuffer::kpAllocate(rowBytes, layout.height).release(), head);
    std::vector<uint8_t> rowThresholds(static_cast<std::size_t>(layout.width));
    const std::size_t stride = static_cast<std::size_t>(image.kpGetBytesPerRow());
    for (int32_t ty = 0; ty < layout.tilesY; ++ty) {
        spreadThresholds(thresholds, layout, ty, rowThresholds);
        const Rectangle tiles = layout.tileAt(0, ty);
        for (int32_t y = tiles.y; y < tiles.y + tiles.height; ++y) {
            packAtLeast(image.kpGetData() + static_cast<std::size_t>(y) * stride, rowThresholds.data(), layout.width,
                        result.kpGetData() + static_cast<std::size_t>(y) * static_cast<std::size_t>(rowBytes));
        }
    }
    return result;
}

} // namespace

KpImage KpBitsPerPixelConverter::kpDownscaleGray2Binary_niblack(const KpImage& image, int method, double k,
                                                                bool useStatistics)
{
    if (image.kpGetDepth() != 8) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_niblack()> A KP_BYTE image expected in KpImage::kpDownscaleGray2Binary_niblack!");
    }
    if (image.kpGetData() == nullptr || image.kpGetWidth() <= 0 || image.kpGetHeight() <= 0) {
        KP_THROW(KP_NO_DATA, "<KpBitsPerPixelConverter::kpDownscaleGray2Binary_niblack()> Image Data is NULL!");
    }
    KpLogger* logger = KpLogger::kpGetInstance();
    const Layout layout = Layout::of(image);
    logMethod(logger, method, k, layout);
    Page page = measureTiles(image, layout, useStatistics);
    const double deviation = useStatistics ? pageDeviation(logger, page) : 0.0;
    classifyTiles(layout, useStatistics, deviation, page);
    setClassMeans(logger, layout, page);
    measureSpread(layout, page);
    setClassDeviations(logger, page);
    const bool bimodal = bimodalEnabled(method, layout, page);
    const std::vector<int32_t> thresholds = tileThresholds(logger, image, layout, method, k, page, bimodal);
    return binarized(image, layout, smoothedThresholds(thresholds, layout));
}
