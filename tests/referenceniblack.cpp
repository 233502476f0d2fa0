#include "referenceniblack.h"

#include "kplevelhistogram.h"
#include "kplogger.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace referenceniblack {

namespace {

// (int) of a double, truncated toward zero; NaN gives 0 and values out of
// range the nearest int (where the plain conversion has no meaning).
int toInt(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 2147483647.0) {
        return std::numeric_limits<int>::max();
    }
    if (value <= -2147483648.0) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);
}

int pixel(const KpImage& image, int x, int y)
{
    return image.kpGetData()[static_cast<std::size_t>(y) * image.kpGetWidth() + x];
}

// The counts of a rectangle of the image, pixel by pixel.
KpLevelHistogram countsOf(const KpImage& image, int x0, int y0, int w, int h)
{
    std::vector<uint64_t> counts(256, 0);
    for (int y = y0; y < y0 + h; ++y) {
        for (int x = x0; x < x0 + w; ++x) {
            ++counts[pixel(image, x, y)];
        }
    }
    KpLevelHistogram histogram;
    for (int v = 0; v < 256; ++v) {
        histogram.kpSet(v, counts[v]);
    }
    return histogram;
}

struct Tile {
    int x0, y0, w, h;
};

struct ClassTotals {
    double sum = 0;
    long count = 0;
    double mean = 0;
    double squares = 0;
    long adjustedCount = 0;
    double adjustedSquares = 0;
    double deviation = 0;
    double adjustedDeviation = 0;
};

} // namespace

KpImage threshold(const KpImage& image, int method, double k, bool useStatistics)
{
    KpLogger* log = KpLogger::kpGetInstance();
    const int width = image.kpGetWidth(), height = image.kpGetHeight();
    const long total = static_cast<long>(width) * height;

    // 1. Tiles and windows.
    int t = 2 * static_cast<int>(std::log(static_cast<double>(total)));
    if (t == 0) {
        t = 1;
    }
    const int o = t / 4;
    const int S = t + 2 * o;
    const int tilesX = (width + t - 1) / t, tilesY = (height + t - 1) / t;
    std::vector<Tile> tiles;
    for (int ty = 0; ty < tilesY; ++ty) {
        for (int tx = 0; tx < tilesX; ++tx) {
            const int x0 = tx * t, y0 = ty * t;
            tiles.push_back({x0, y0, std::min(t, width - x0), std::min(t, height - y0)});
        }
    }

    // 2. The method and the windows.
    if (method == 0) {
        kpLogPrintf(log, 2, "Running Niblack's method with parameter k=%4.2f.\n", k);
    } else if (method == 1) {
        kpLogPrintf(log, 2, "Running Sauvola's method with parameter k=%4.2f.\n", k);
    } else if (method == 2) {
        kpLogPrintf(log, 2, "Running method of Wolf/Jolion with gain =\t%4.2f.\n", k);
    } else if (method == 3) {
        kpLogPrintf(log, 2, "Running modified Niblack's method with parameter k =\t%4.2f.\n", k);
    }
    kpLogPrintf(log, 2, "Thresh window: %d x %d. Stats window: %d x %d.\n", t, t, S, S);

    // 3. Global figures.
    double globalDeviation = 0;
    if (useStatistics) {
        const KpLevelHistogram all = countsOf(image, 0, 0, width, height);
        const double mean = static_cast<double>(all.kpSum()) / total;
        globalDeviation = all.kpSampleDeviation(mean);
        kpLogPrintf(log, 2, "Global graylevel mean: %6.4f\n", mean);
        kpLogPrintf(log, 2, "Global graylevel standard deviation: %6.4f\n", globalDeviation);
    }

    // 4. First tile pass: classes.
    std::vector<bool> inverted;
    ClassTotals normal, reverse;
    double M = 255, R = 0;
    for (const Tile& tile : tiles) {
        double sum = 0;
        for (int y = tile.y0; y < tile.y0 + tile.h; ++y) {
            for (int x = tile.x0; x < tile.x0 + tile.w; ++x) {
                sum += pixel(image, x, y);
                if (method == 2) {
                    M = std::min<double>(M, pixel(image, x, y));
                }
            }
        }
        const long n = static_cast<long>(tile.w) * tile.h;
        bool isInverted = false;
        if (useStatistics) {
            const KpLevelHistogram counts = countsOf(image, tile.x0, tile.y0, tile.w, tile.h);
            const double mean = sum / n;
            const KpLevelHistogram::KpDeviationSums sums = counts.kpDeviationSums(mean);
            const double sd = sums.squares == 0 ? 0 : std::sqrt(sums.squares / (n - 1));
            const double m3 = sums.cubes == 0 ? 0 : sums.cubes / (n - 1);
            R = std::max(R, sd);
            isInverted = mean < 127.5 && (m3 > 200 * sd || sd < 0.555 * globalDeviation);
        }
        inverted.push_back(isInverted);
        ClassTotals& totals = isInverted ? reverse : normal;
        totals.sum += sum;
        totals.count += n;
    }

    // 5. Class means.
    normal.mean = normal.count > 0 ? normal.sum / normal.count : 0;
    reverse.mean = reverse.count > 0 ? reverse.sum / reverse.count : 0;
    kpLogPrintf(log, 2, "Image dimensions: width = %d\theight = %d\ttotal pixels = %d\n", width, height, static_cast<int>(total));
    kpLogPrintf(log, 2, "Normal sum = %4.1f\ttotal pixels = %d\n", normal.sum, static_cast<int>(normal.count));
    kpLogPrintf(log, 2, "Inverted sum = %4.1f\ttotal pixels = %d\n", reverse.sum, static_cast<int>(reverse.count));
    kpLogPrintf(log, 2, "Number of pixels in image: %d\n", static_cast<int>(normal.count + reverse.count));

    // 6. Second tile pass: spread about the class means.
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const Tile& tile = tiles[i];
        ClassTotals& totals = inverted[i] ? reverse : normal;
        const double squares = countsOf(image, tile.x0, tile.y0, tile.w, tile.h).kpSquaredDeviations(totals.mean);
        const long n = static_cast<long>(tile.w) * tile.h;
        totals.squares += squares;
        if (squares > 3600.0 * n) {
            totals.adjustedCount += n;
            totals.adjustedSquares += squares;
        }
    }

    // 7. Class deviations.
    if (normal.count > 1) {
        normal.deviation = std::sqrt(normal.squares / (normal.count - 1));
        kpLogPrintf(log, 2, "Normal text average = %4.8f\tsdev = %4.8f\n", normal.mean, normal.deviation);
    }
    if (reverse.count > 1) {
        reverse.deviation = std::sqrt(reverse.squares / (reverse.count - 1));
        kpLogPrintf(log, 2, "Inverted text average = %4.8f\tsdev = %4.8f\n", reverse.mean, reverse.deviation);
    }
    kpLogPrintf(log, 2, "nrmtotal = %d\tnrmtotal_adj = %d\tinvtotal = %d\tinvtotal_adj = %d\n", static_cast<int>(normal.count),
                static_cast<int>(normal.adjustedCount), static_cast<int>(reverse.count), static_cast<int>(reverse.adjustedCount));
    normal.adjustedDeviation = normal.deviation;
    if (normal.count - normal.adjustedCount > 1) {
        normal.adjustedDeviation = std::sqrt((normal.squares - normal.adjustedSquares) / (normal.count - normal.adjustedCount - 1));
        kpLogPrintf(log, 2, "Normal text average (adjusted) = %4.8f\tsdev = %4.8f\n", normal.mean, normal.adjustedDeviation);
    }
    reverse.adjustedDeviation = reverse.deviation;
    if (reverse.count - reverse.adjustedCount > 1) {
        reverse.adjustedDeviation = std::sqrt((reverse.squares - reverse.adjustedSquares) / (reverse.count - reverse.adjustedCount - 1));
        kpLogPrintf(log, 2, "Inverted text average (adjusted) = %4.8f\tsdev = %4.8f\n", reverse.mean, reverse.adjustedDeviation);
    }
    reverse.mean = 255 - reverse.mean;

    // 8. The bimodal correction.
    const bool bimodal = method == 3 && !(tilesX > 75 || tilesY > 75) &&
                         !(static_cast<double>(reverse.adjustedCount) / (reverse.count + 1) < 0.02) &&
                         !(static_cast<double>(normal.adjustedCount) / (normal.count + 1) < 0.02);

    // 9. Third tile pass: thresholds.
    std::vector<int> thresholds;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const Tile& tile = tiles[i];
        const int xs = std::max(0, tile.x0 - o), ys = std::max(0, tile.y0 - o);
        const KpImage window = image.SubImage(xs, ys, std::min(S, width - xs), std::min(S, height - ys));
        const KpImageStatistics statistics = window.kpImageStatistics();
        double m = std::floor(statistics.mean[0]);
        double s = statistics.standardDeviation[0];
        const int n = window.kpGetWidth() * window.kpGetHeight();
        const ClassTotals& totals = inverted[i] ? reverse : normal;
        std::vector<int> hist(256, 0);
        for (int y = 0; y < window.kpGetHeight(); ++y) {
            for (int x = 0; x < window.kpGetWidth(); ++x) {
                const int v = window.kpGetPixelScale(x, y);
                ++hist[inverted[i] ? 255 - v : v];
            }
        }
        if (inverted[i]) {
            m = 255 - m;
        }
        const int gbackground = toInt(totals.mean - 2.0 * totals.adjustedDeviation);
        int T;
        if (method == 0 || method == 3) {
            T = toInt(m + k * s);
        } else if (method == 1) {
            T = toInt(m * (1 + k * (s / 128 - 1)));
        } else if (method == 2) {
            const double spread = R == 0 ? 0 : k * (s / R) * (m - M);
            T = toInt((1 + k) * m - k * M - spread);
        } else {
            T = 128;
        }
        long threshold = T;
        if (method == 3) {
            std::vector<int> smoothed(256), cum(256);
            for (int v = 0; v < 256; ++v) {
                int sum = 0, bins = 0;
                for (int u = v - 3; u <= v + 3; ++u) {
                    if (u >= 0 && u < 256) {
                        sum += hist[u];
                        ++bins;
                    }
                }
                smoothed[v] = sum / bins;
                cum[v] = (v > 0 ? cum[v - 1] : 0) + hist[v];
            }
            int mode = static_cast<int>(m), modecount = 0;
            for (int v = static_cast<int>(m); v < 256; ++v) {
                if (smoothed[v] > modecount) {
                    mode = v;
                    modecount = smoothed[v];
                }
            }
            const int cutoff = static_cast<int>(0.3 * modecount) + 1;
            int climbindex = mode;
            for (int v = 96; v <= mode; ++v) {
                if (smoothed[v] >= cutoff) {
                    climbindex = v;
                    break;
                }
            }
            const int base = std::max(0, climbindex - 5);
            double avgcount = 0;
            int bincount = 0;
            for (int v = 0; v < climbindex - 5; ++v) {
                if (hist[v] != 0) {
                    avgcount += hist[v];
                    ++bincount;
                }
            }
            if (bincount > 0) {
                avgcount /= bincount;
            }
            if (bimodal && s > 2.0 * totals.deviation) {
                kpLogPrintf(log, 2, "ADJUSTING FOR BIMODAL DISTRIBUTION:\n");
                kpLogPrintf(log, 2, "mean = %4.8f\tsdev = %4.8f\tsdev_factor = %4.8f\tgsdev = %4.8f\nproduct = %4.8f\n", m, s, 2.0,
                            totals.deviation, 9.6 * totals.deviation);
                double count = 0, sum = 0;
                for (int v = base; v < 256; ++v) {
                    count += hist[v];
                    sum += static_cast<double>(v) * hist[v];
                }
                m = sum / count;
                KpLevelHistogram upper;
                for (int v = base; v < 256; ++v) {
                    upper.kpSet(v, static_cast<uint64_t>(hist[v]));
                }
                s = upper.kpSampleDeviation(m);
                threshold = toInt(m + 4.0 * k * s);
            } else if (0.00167 * n <= avgcount && 0.0714 * totals.mean < bincount &&
                       totals.mean - 0.75 * totals.adjustedDeviation > climbindex && 0.25 * n > cum[base]) {
                kpLogPrintf(log, 2, "ADJUSTING FOR DROP IN CONTRAST:\n");
                threshold = 255;
                for (int v = 0; v < 256; ++v) {
                    if (-2.2 * k * cum[v] >= cum[base]) {
                        threshold = v;
                        break;
                    }
                }
            } else if (0.555 * totals.adjustedDeviation > s) {
                kpLogPrintf(log, 2, "ADJUSTING FOR PROBABLE BACKGROUND:\n");
                const long t2 = toInt(m + 4.0 * k * s);
                threshold = (gbackground + t2) / 2 - std::labs(gbackground - t2) / 2;
            }
            if (inverted[i]) {
                threshold = 255 - threshold;
            }
            threshold = std::clamp(threshold, 0L, 255L);
            kpLogPrintf(log, 2, "(%03d,%03d): mean = %4.8f\tsdev = %4.8f\tgbackground = %d\n", tile.y0, tile.x0, m, s, gbackground);
            kpLogPrintf(log, 2, "\t\tmode = %d\tmodecount = %d\tnumpixels = %d\n", mode, modecount, n);
            kpLogPrintf(log, 2, "\t\tthreshold = %d (cutoff = %d)\tclimbindex = %d\n", static_cast<int>(threshold), cutoff, climbindex);
            kpLogPrintf(log, 2, "\t\tpixeltotal[%d] = %d\tavgcount = %4.8f\tbincount = %d\n", climbindex - 5,
                        climbindex - 5 >= 0 ? cum[climbindex - 5] : 0, avgcount, bincount);
            kpLogPrintf(log, 2, "\t\tpixeltotal[%d] = %d\tpixeltotal[%d] = %d\n", static_cast<int>(threshold), cum[threshold],
                        static_cast<int>(threshold - 1), threshold >= 1 ? cum[threshold - 1] : 0);
        } else {
            if (inverted[i]) {
                threshold = 255 - threshold;
            }
            threshold = std::clamp(threshold, 0L, 255L);
        }
        thresholds.push_back(static_cast<int>(threshold));
    }

    // 10. Smoothing, along the rows of tiles, then down the columns.
    std::vector<int> second(thresholds);
    if (tilesX >= 3) {
        for (int ty = 0; ty < tilesY; ++ty) {
            for (int tx = 1; tx <= tilesX - 2; ++tx) {
                const int at = ty * tilesX + tx;
                second[at] = (thresholds[at - 1] + thresholds[at] + thresholds[at + 1]) / 3;
            }
        }
        thresholds = second;
    }
    if (tilesY >= 3) {
        for (int ty = 1; ty <= tilesY - 2; ++ty) {
            for (int tx = 0; tx < tilesX; ++tx) {
                const int at = ty * tilesX + tx;
                second[at] = (thresholds[at - tilesX] + thresholds[at] + thresholds[at + tilesX]) / 3;
            }
        }
    }
    thresholds = second;

    // 11. The comparison.
    KpImage result(width, height, 1);
    std::fill_n(result.kpGetData(), result.kpGetImageSize(), 0);
    result.kpSetHeader(width, height, 1, image.kpGetXResolution(), image.kpGetYResolution(), image.kpIsResolutionInDpi());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (pixel(image, x, y) >= thresholds[(y / t) * tilesX + x / t]) {
                result.kpSetPixel(x, y, 1);
            }
        }
    }
    return result;
}

} // namespace referenceniblack
