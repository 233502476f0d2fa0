#include "kpedgedetector.h"

#include "kpexception.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

const float SIGMA = 1.5f;
const float LOW_RATIO = 0.35f;
const float HIGH_FRACTION = 0.75f;
const int MAX_TAPS = 20;
const int GROWTH_QUEUE_LIMIT = 200;

// Marks of the suppression map and the edge map.
const uint8_t EDGE = 0;
const uint8_t CANDIDATE = 128;
const uint8_t NON_EDGE = 255;

// One call's image geometry.
struct Grid {
    int rows;
    int cols;
    std::size_t size() const { return static_cast<std::size_t>(rows) * cols; }
};

template <typename T> std::unique_ptr<T[]> makeArray(std::size_t size)
{
    return std::unique_ptr<T[]>(new T[size]);
}

// Sum of the taps k = first .. last, added one by one in single precision.
float tapSum(const float* kernel, int first, int last)
{
    float sum = 0.0f;
    for (int k = first; k <= last; ++k) {
        sum += kernel[k];
    }
    return sum;
}

// A fixed number of rows of a working array; row i lives in slot
// i mod count, so a pass keeps only the rows its window needs.
template <typename T> class RowRing {
public:
    RowRing(int count, int cols) : count(count), cols(cols), storage(static_cast<std::size_t>(count) * cols) {}
    T* row(int i) { return storage.data() + static_cast<std::size_t>(i % count) * cols; }

private:
    int count;
    int cols;
    std::vector<T> storage;
};

// Horizontal pass of one row: each pixel becomes the weighted mean of its
// row neighbours, taps outside the row dropped and the rest renormalised.
// Each pixel's dot product is accumulated tap by tap in window order; the
// interior loop runs that order for many pixels side by side.
void smoothRow(const uint8_t* source, int cols, const std::vector<float>& kernel, float* values, float* target)
{
    const int h = static_cast<int>(kernel.size()) / 2;
    const float* tap = kernel.data();
    for (int c = 0; c < cols; ++c) {
        values[c] = source[c];
    }
    const int interiorEnd = cols - h;
    if (interiorEnd > h) {
        const float fullSum = tapSum(tap, 0, 2 * h);
        std::fill(target + h, target + interiorEnd, 0.0f);
        for (int k = 0; k <= 2 * h; ++k) {
            const float weight = tap[k];
            const float* shifted = values + k - h;
            for (int c = h; c < interiorEnd; ++c) {
                target[c] += shifted[c] * weight;
            }
        }
        for (int c = h; c < interiorEnd; ++c) {
            target[c] /= fullSum;
        }
    }
    for (int c = 0; c < cols; ++c) {
        if (c >= h && c < interiorEnd) {
            c = interiorEnd - 1;
            continue;
        }
        const int first = std::max(-h, -c);
        const int last = std::min(h, cols - 1 - c);
        float dot = 0.0f;
        for (int k = first; k <= last; ++k) {
            dot += values[c + k] * tap[h + k];
        }
        target[c] = dot / tapSum(tap, h + first, h + last);
    }
}

// Vertical pass of row r over the horizontal results: the smoothed value
// is truncate(dot * 90.0 / sum + 0.5), scaling gray levels to 0 .. 22950.
void smoothColumn(int r, RowRing<float>& horizontal, const Grid& grid, const std::vector<float>& kernel, float* dot,
                  int16_t* target)
{
    const int h = static_cast<int>(kernel.size()) / 2;
    const float* tap = kernel.data();
    const int first = std::max(-h, -r);
    const int last = std::min(h, grid.rows - 1 - r);
    const double sum = tapSum(tap, h + first, h + last);
    std::fill(dot, dot + grid.cols, 0.0f);
    for (int k = first; k <= last; ++k) {
        const float* source = horizontal.row(r + k);
        const float weight = tap[h + k];
        for (int c = 0; c < grid.cols; ++c) {
            dot[c] += source[c] * weight;
        }
    }
    for (int c = 0; c < grid.cols; ++c) {
        target[c] = static_cast<int16_t>(static_cast<double>(dot[c]) * 90.0 / sum + 0.5);
    }
}

// Derivatives of row r: central differences inside, one-sided differences
// on the first and last row and column; gy grows downwards. Then the
// magnitude m = truncate(sqrtf((float)(gx*gx + gy*gy)) + 0.5). Returns
// the row's largest magnitude.
int differentiateRow(int r, RowRing<int16_t>& smoothed, const Grid& grid, int16_t* gx, int16_t* gy, int16_t* mag)
{
    const int cols = grid.cols;
    const int16_t* row = smoothed.row(r);
    gx[0] = static_cast<int16_t>(row[1] - row[0]);
    for (int c = 1; c < cols - 1; ++c) {
        gx[c] = static_cast<int16_t>(row[c + 1] - row[c - 1]);
    }
    gx[cols - 1] = static_cast<int16_t>(row[cols - 1] - row[cols - 2]);
    const int16_t* above = smoothed.row(r == 0 ? 0 : r - 1);
    const int16_t* below = smoothed.row(r == grid.rows - 1 ? r : r + 1);
    for (int c = 0; c < cols; ++c) {
        gy[c] = static_cast<int16_t>(below[c] - above[c]);
    }
    int largest = 0;
    for (int c = 0; c < cols; ++c) {
        const int squares = gx[c] * gx[c] + gy[c] * gy[c];
        const float q = std::sqrt(static_cast<float>(squares));
        mag[c] = static_cast<int16_t>(static_cast<double>(q) + 0.5);
        largest = std::max<int>(largest, mag[c]);
    }
    return largest;
}

// The two interpolated differences along the gradient at one pixel;
// the pixel is a candidate only when both are negative.
uint8_t suppressPixel(const int16_t* m, int cols, int gx, int gy)
{
    const int m0 = m[0];
    if (m0 == 0) {
        return NON_EDGE;
    }
    const float xp = -gx / static_cast<float>(m0);
    const float yp = gy / static_cast<float>(m0);
    auto z = [m, cols](int dr, int dc) { return static_cast<int>(m[dr * cols + dc]); };
    float mag1;
    float mag2;
    if (gx >= 0) {
        if (gy >= 0) {
            if (gx >= gy) {
                mag1 = (m0 - z(0, -1)) * xp + (z(-1, -1) - z(0, -1)) * yp;
                mag2 = (m0 - z(0, 1)) * xp + (z(1, 1) - z(0, 1)) * yp;
            } else {
                mag1 = (z(-1, 0) - z(-1, -1)) * xp + (z(-1, 0) - m0) * yp;
                mag2 = (z(1, 0) - z(1, 1)) * xp + (z(1, 0) - m0) * yp;
            }
        } else {
            if (gx >= -gy) {
                mag1 = (m0 - z(0, -1)) * xp + (z(0, -1) - z(1, -1)) * yp;
                mag2 = (m0 - z(0, 1)) * xp + (z(0, 1) - z(-1, 1)) * yp;
            } else {
                mag1 = (z(1, 0) - z(1, -1)) * xp + (m0 - z(1, 0)) * yp;
                mag2 = (z(-1, 0) - z(-1, 1)) * xp + (m0 - z(-1, 0)) * yp;
            }
        }
    } else {
        if (gy >= 0) {
            if (-gx >= gy) {
                mag1 = (z(0, 1) - m0) * xp + (z(-1, 1) - z(0, 1)) * yp;
                mag2 = (z(0, -1) - m0) * xp + (z(1, -1) - z(0, -1)) * yp;
            } else {
                mag1 = (z(-1, 1) - z(-1, 0)) * xp + (z(-1, 0) - m0) * yp;
                mag2 = (z(1, -1) - z(1, 0)) * xp + (z(1, 0) - m0) * yp;
            }
        } else {
            if (-gx > -gy) {
                mag1 = (z(0, 1) - m0) * xp + (z(0, 1) - z(1, 1)) * yp;
                mag2 = (z(0, -1) - m0) * xp + (z(0, -1) - z(-1, -1)) * yp;
            } else {
                mag1 = (z(1, 1) - z(1, 0)) * xp + (m0 - z(1, 0)) * yp;
                mag2 = (z(-1, -1) - z(-1, 0)) * xp + (m0 - z(-1, 0)) * yp;
            }
        }
    }
    if (mag1 > 0.0f || mag2 > 0.0f || mag2 == 0.0f) {
        return NON_EDGE;
    }
    return CANDIDATE;
}

// Non-maximum suppression of row r (1 .. rows-3) straight into the edge
// map, evaluating columns 1 .. cols-3.
void suppressRow(int r, const int16_t* mag, const int16_t* gx, const int16_t* gy, const Grid& grid, uint8_t* edges)
{
    const std::size_t base = static_cast<std::size_t>(r) * grid.cols;
    for (int c = 1; c <= grid.cols - 3; ++c) {
        edges[base + c] = suppressPixel(mag + base + c, grid.cols, gx[c], gy[c]);
    }
}

std::vector<uint32_t> candidateHistogram(const int16_t* mag, const uint8_t* edges, std::size_t size, int largest)
{
    std::vector<uint32_t> histogram(static_cast<std::size_t>(largest) + 1, 0);
    for (std::size_t i = 0; i < size; ++i) {
        if (edges[i] == CANDIDATE) {
            ++histogram[mag[i]];
        }
    }
    return histogram;
}

// Marks every candidate reachable from the seed through candidates above
// the low threshold. At most GROWTH_QUEUE_LIMIT positions are queued per
// seed; a pixel marked after that stays an edge but is not expanded.
void growFromSeed(int seed, const int16_t* mag, const Grid& grid, int low, uint8_t* edges, std::vector<int>& queue)
{
    const int cols = grid.cols;
    const int offsets[8] = {1, 1 - cols, -cols, -1 - cols, -1, -1 + cols, cols, 1 + cols};
    queue.clear();
    int current = seed;
    std::size_t next = 0;
    for (;;) {
        for (int offset : offsets) {
            const int neighbour = current + offset;
            if (edges[neighbour] == CANDIDATE && mag[neighbour] > low) {
                edges[neighbour] = EDGE;
                if (queue.size() < static_cast<std::size_t>(GROWTH_QUEUE_LIMIT)) {
                    queue.push_back(neighbour);
                }
            }
        }
        if (next == queue.size()) {
            return;
        }
        current = queue[next++];
    }
}

void applyHysteresis(const int16_t* mag, const Grid& grid, int largest, uint8_t* edges)
{
    const std::size_t size = grid.size();
    const int high = KpEdgeDetector::highThreshold(candidateHistogram(mag, edges, size, largest), HIGH_FRACTION);
    const int low = KpEdgeDetector::lowThreshold(high, LOW_RATIO);
    std::vector<int> queue;
    queue.reserve(GROWTH_QUEUE_LIMIT);
    for (std::size_t i = 0; i < size; ++i) {
        if (edges[i] == CANDIDATE && mag[i] >= high) {
            edges[i] = EDGE;
            growFromSeed(static_cast<int>(i), mag, grid, low, edges, queue);
        }
    }
    for (std::size_t i = 0; i < size; ++i) {
        if (edges[i] != EDGE) {
            edges[i] = NON_EDGE;
        }
    }
}

// The detector core on rows x cols bytes, rows stride bytes apart. The
// passes run row by row, each a few rows behind the one before it, so that
// only the magnitudes and the edge map are kept whole. The outer frame,
// which suppression leaves at 0, is non-edge from the start, as hysteresis
// makes it first.
void detect(const uint8_t* pixels, int stride, const Grid& grid, uint8_t* edges)
{
    const std::vector<float> kernel = KpEdgeDetector::gaussianKernel(SIGMA);
    const int h = static_cast<int>(kernel.size()) / 2;
    RowRing<float> horizontal(2 * h + 1, grid.cols);
    RowRing<int16_t> smoothed(3, grid.cols);
    RowRing<int16_t> gx(3, grid.cols);
    RowRing<int16_t> gy(3, grid.cols);
    std::vector<float> scratch(grid.cols);
    std::unique_ptr<int16_t[]> mag = makeArray<int16_t>(grid.size());
    std::memset(edges, NON_EDGE, grid.size());

    int largest = 0;
    auto derive = [&](int r) {
        int16_t* magRow = mag.get() + static_cast<std::size_t>(r) * grid.cols;
        largest = std::max(largest, differentiateRow(r, smoothed, grid, gx.row(r), gy.row(r), magRow));
    };
    int nextHorizontal = 0;
    for (int r = 0; r < grid.rows; ++r) {
        for (; nextHorizontal <= std::min(grid.rows - 1, r + h); ++nextHorizontal) {
            smoothRow(pixels + static_cast<std::size_t>(nextHorizontal) * stride, grid.cols, kernel, scratch.data(),
                      horizontal.row(nextHorizontal));
        }
        smoothColumn(r, horizontal, grid, kernel, scratch.data(), smoothed.row(r));
        if (r >= 1) {
            derive(r - 1);
        }
        const int ready = r - 2; // rows up to r - 1 have magnitudes
        if (ready >= 1 && ready <= grid.rows - 3) {
            suppressRow(ready, mag.get(), gx.row(ready), gy.row(ready), grid, edges);
        }
    }
    derive(grid.rows - 1);
    applyHysteresis(mag.get(), grid, largest, edges);
}

void checkInput(const KpImage& input)
{
    if (input.kpGetData() == nullptr) {
        KP_THROW(5, "<KpEdgeDetector::detectEdges()> Image Data is NULL!");
    }
    if (input.kpGetDepth() != 8) {
        KP_THROW(7, "<KpEdgeDetector::detectEdges()> An 8-bit gray image is expected in KpEdgeDetector::detectEdges!");
    }
}

} // namespace

std::vector<float> KpEdgeDetector::gaussianKernel(float sigma)
{
    const int window = 1 + 2 * static_cast<int>(std::ceil(2.5 * sigma));
    const int centre = window / 2;
    std::vector<float> kernel(std::min(window, MAX_TAPS));
    float sum = 0.0f;
    for (int i = 0; i < static_cast<int>(kernel.size()); ++i) {
        const float x = static_cast<float>(i - centre);
        kernel[i] = static_cast<float>(std::pow(2.71828, (x * (-0.5) * x) / (sigma * sigma)) /
                                       (std::sqrt(6.2831853) * sigma));
        sum += kernel[i];
    }
    for (float& tap : kernel) {
        tap /= sum;
    }
    return kernel;
}

int KpEdgeDetector::highThreshold(const std::vector<uint32_t>& histogram, float highFraction)
{
    const int largest = static_cast<int>(histogram.size()) - 1;
    uint32_t total = 0;
    int top = 0;
    for (int v = 1; v < largest; ++v) {
        total += histogram[v];
        if (histogram[v] > 0) {
            top = v;
        }
    }
    const uint32_t highCount = static_cast<uint32_t>(static_cast<double>(static_cast<float>(total) * highFraction) + 0.5);
    int v = 1;
    uint32_t count = largest >= 1 ? histogram[1] : 0;
    while (v < top - 1 && count < highCount) {
        ++v;
        count += histogram[v];
    }
    return v;
}

int KpEdgeDetector::lowThreshold(int high, float lowRatio)
{
    return static_cast<int16_t>(high * static_cast<double>(lowRatio) + 0.5);
}

KpImage KpEdgeDetector::detectEdges(const KpImage& input) const
{
    checkInput(input);
    const Grid grid{input.kpGetHeight(), input.kpGetWidth()};
    KpImage result(grid.cols, grid.rows, 8);
    if (grid.rows >= 2 && grid.cols >= 2) {
        detect(input.kpGetData(), input.kpGetBytesPerRow(), grid, result.kpGetData());
    }
    return result;
}
