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

// Horizontal pass: each pixel becomes the weighted mean of its row
// neighbours, taps outside the row dropped and the rest renormalised.
// Interior pixels use the whole window and so share one tap sum.
void smoothRows(const uint8_t* pixels, int stride, const Grid& grid, const std::vector<float>& kernel, float* out)
{
    const int h = static_cast<int>(kernel.size()) / 2;
    const float* tap = kernel.data();
    const float fullSum = tapSum(tap, 0, 2 * h);
    std::unique_ptr<float[]> row = makeArray<float>(grid.cols);
    for (int r = 0; r < grid.rows; ++r) {
        const uint8_t* source = pixels + static_cast<std::size_t>(r) * stride;
        float* target = out + static_cast<std::size_t>(r) * grid.cols;
        for (int c = 0; c < grid.cols; ++c) {
            row[c] = source[c];
        }
        for (int c = 0; c < grid.cols; ++c) {
            if (c >= h && c + h < grid.cols) {
                const float* p = row.get() + c - h;
                float dot = 0.0f;
                for (int k = 0; k <= 2 * h; ++k) {
                    dot += p[k] * tap[k];
                }
                target[c] = dot / fullSum;
            } else {
                const int first = std::max(-h, -c);
                const int last = std::min(h, grid.cols - 1 - c);
                float dot = 0.0f;
                for (int k = first; k <= last; ++k) {
                    dot += row[c + k] * tap[h + k];
                }
                target[c] = dot / tapSum(tap, h + first, h + last);
            }
        }
    }
}

// Vertical pass over the horizontal result: the smoothed value is
// truncate(dot * 90.0 / sum + 0.5), scaling gray levels to 0 .. 22950.
void smoothColumns(const float* in, const Grid& grid, const std::vector<float>& kernel, int16_t* out)
{
    const int h = static_cast<int>(kernel.size()) / 2;
    const float* tap = kernel.data();
    std::unique_ptr<float[]> dot = makeArray<float>(grid.cols);
    for (int r = 0; r < grid.rows; ++r) {
        const int first = std::max(-h, -r);
        const int last = std::min(h, grid.rows - 1 - r);
        const double sum = tapSum(tap, h + first, h + last);
        std::fill(dot.get(), dot.get() + grid.cols, 0.0f);
        for (int k = first; k <= last; ++k) {
            const float* source = in + static_cast<std::size_t>(r + k) * grid.cols;
            const float weight = tap[h + k];
            for (int c = 0; c < grid.cols; ++c) {
                dot[c] += source[c] * weight;
            }
        }
        int16_t* target = out + static_cast<std::size_t>(r) * grid.cols;
        for (int c = 0; c < grid.cols; ++c) {
            target[c] = static_cast<int16_t>(static_cast<double>(dot[c]) * 90.0 / sum + 0.5);
        }
    }
}

// Central differences inside, one-sided differences on the first and
// last row and column; gy grows downwards.
void differentiate(const int16_t* s, const Grid& grid, int16_t* gx, int16_t* gy)
{
    const int cols = grid.cols;
    for (int r = 0; r < grid.rows; ++r) {
        const int16_t* row = s + static_cast<std::size_t>(r) * cols;
        int16_t* dx = gx + static_cast<std::size_t>(r) * cols;
        dx[0] = static_cast<int16_t>(row[1] - row[0]);
        for (int c = 1; c < cols - 1; ++c) {
            dx[c] = static_cast<int16_t>(row[c + 1] - row[c - 1]);
        }
        dx[cols - 1] = static_cast<int16_t>(row[cols - 1] - row[cols - 2]);

        const int16_t* above = s + static_cast<std::size_t>(r == 0 ? 0 : r - 1) * cols;
        const int16_t* below = s + static_cast<std::size_t>(r == grid.rows - 1 ? r : r + 1) * cols;
        int16_t* dy = gy + static_cast<std::size_t>(r) * cols;
        for (int c = 0; c < cols; ++c) {
            dy[c] = static_cast<int16_t>(below[c] - above[c]);
        }
    }
}

// m = truncate(sqrtf((float)(gx*gx + gy*gy)) + 0.5); returns the largest.
int magnitude(const int16_t* gx, const int16_t* gy, std::size_t size, int16_t* mag)
{
    int largest = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const int squares = gx[i] * gx[i] + gy[i] * gy[i];
        const float q = std::sqrt(static_cast<float>(squares));
        mag[i] = static_cast<int16_t>(static_cast<double>(q) + 0.5);
        largest = std::max<int>(largest, mag[i]);
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

// Non-maximum suppression straight into the edge map: rows and columns
// 1 .. n-3 are evaluated, the outer frame (which the suppression leaves
// at 0) is set to non-edge at once, as hysteresis does first.
void suppressNonMaxima(const int16_t* mag, const int16_t* gx, const int16_t* gy, const Grid& grid, uint8_t* edges)
{
    std::memset(edges, NON_EDGE, grid.size());
    for (int r = 1; r <= grid.rows - 3; ++r) {
        const std::size_t base = static_cast<std::size_t>(r) * grid.cols;
        for (int c = 1; c <= grid.cols - 3; ++c) {
            const std::size_t i = base + c;
            edges[i] = suppressPixel(mag + i, grid.cols, gx[i], gy[i]);
        }
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

// The detector core on rows x cols bytes, rows stride bytes apart.
void detect(const uint8_t* pixels, int stride, const Grid& grid, uint8_t* edges)
{
    const std::vector<float> kernel = KpEdgeDetector::gaussianKernel(SIGMA);
    const std::size_t size = grid.size();
    std::unique_ptr<int16_t[]> smoothed = makeArray<int16_t>(size);
    {
        std::unique_ptr<float[]> rowsPass = makeArray<float>(size);
        smoothRows(pixels, stride, grid, kernel, rowsPass.get());
        smoothColumns(rowsPass.get(), grid, kernel, smoothed.get());
    }
    std::unique_ptr<int16_t[]> gx = makeArray<int16_t>(size);
    std::unique_ptr<int16_t[]> gy = makeArray<int16_t>(size);
    differentiate(smoothed.get(), grid, gx.get(), gy.get());
    int16_t* mag = smoothed.get(); // the smoothed values are not needed any more
    const int largest = magnitude(gx.get(), gy.get(), size, mag);
    suppressNonMaxima(mag, gx.get(), gy.get(), grid, edges);
    gx.reset();
    gy.reset();
    applyHysteresis(mag, grid, largest, edges);
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
