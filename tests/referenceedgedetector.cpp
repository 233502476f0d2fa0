#include "referenceedgedetector.h"

#include <algorithm>
#include <cmath>

namespace referenceedges {

namespace {

const uint8_t EDGE = 0;
const uint8_t CANDIDATE = 128;
const uint8_t NON_EDGE = 255;

struct Gradients {
    int rows, cols;
    std::vector<int16_t> gx, gy, mag;
};

Gradients gradientsOf(const KpImage& input, float sigma)
{
    const int rows = input.kpGetHeight();
    const int cols = input.kpGetWidth();
    std::vector<float> kernel = gaussianKernel(sigma);
    const int h = static_cast<int>(kernel.size()) / 2;
    std::vector<float> tempim(rows * cols);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            float dot = 0.0f, sum = 0.0f;
            for (int cc = -h; cc <= h; ++cc) {
                if (c + cc >= 0 && c + cc < cols) {
                    dot += static_cast<float>(input.kpGetPixelScale(c + cc, r)) * kernel[h + cc];
                    sum += kernel[h + cc];
                }
            }
            tempim[r * cols + c] = dot / sum;
        }
    }
    std::vector<int16_t> smoothed(rows * cols);
    for (int c = 0; c < cols; ++c) {
        for (int r = 0; r < rows; ++r) {
            float dot = 0.0f, sum = 0.0f;
            for (int rr = -h; rr <= h; ++rr) {
                if (r + rr >= 0 && r + rr < rows) {
                    dot += tempim[(r + rr) * cols + c] * kernel[h + rr];
                    sum += kernel[h + rr];
                }
            }
            smoothed[r * cols + c] = static_cast<int16_t>(dot * 90.0 / sum + 0.5);
        }
    }
    Gradients g{rows, cols, std::vector<int16_t>(rows * cols), std::vector<int16_t>(rows * cols),
                std::vector<int16_t>(rows * cols)};
    for (int r = 0; r < rows; ++r) {
        int pos = r * cols;
        g.gx[pos] = smoothed[pos + 1] - smoothed[pos];
        for (int c = 1; c < cols - 1; ++c) {
            g.gx[pos + c] = smoothed[pos + c + 1] - smoothed[pos + c - 1];
        }
        g.gx[pos + cols - 1] = smoothed[pos + cols - 1] - smoothed[pos + cols - 2];
    }
    for (int c = 0; c < cols; ++c) {
        g.gy[c] = smoothed[cols + c] - smoothed[c];
        for (int r = 1; r < rows - 1; ++r) {
            g.gy[r * cols + c] = smoothed[(r + 1) * cols + c] - smoothed[(r - 1) * cols + c];
        }
        g.gy[(rows - 1) * cols + c] = smoothed[(rows - 1) * cols + c] - smoothed[(rows - 2) * cols + c];
    }
    for (int i = 0; i < rows * cols; ++i) {
        int sq = g.gx[i] * g.gx[i] + g.gy[i] * g.gy[i];
        float q = static_cast<float>(std::sqrt(static_cast<double>(static_cast<float>(sq))));
        g.mag[i] = static_cast<int16_t>(q + 0.5);
    }
    return g;
}

std::vector<uint8_t> suppressNonMaxima(const Gradients& g)
{
    const int rows = g.rows, cols = g.cols;
    std::vector<uint8_t> n(rows * cols, 0);
    for (int r = 1; r < rows - 2; ++r) {
        for (int c = 1; c < cols - 2; ++c) {
            const int pos = r * cols + c;
            const int16_t m00 = g.mag[pos];
            if (m00 == 0) {
                n[pos] = NON_EDGE;
                continue;
            }
            auto z = [&](int dr, int dc) { return g.mag[pos + dr * cols + dc]; };
            const int gx = g.gx[pos], gy = g.gy[pos];
            const float xperp = -gx / static_cast<float>(m00);
            const float yperp = gy / static_cast<float>(m00);
            float mag1, mag2;
            if (gx >= 0) {
                if (gy >= 0) {
                    if (gx >= gy) {
                        mag1 = (m00 - z(0, -1)) * xperp + (z(-1, -1) - z(0, -1)) * yperp;
                        mag2 = (m00 - z(0, 1)) * xperp + (z(1, 1) - z(0, 1)) * yperp;
                    } else {
                        mag1 = (z(-1, 0) - z(-1, -1)) * xperp + (z(-1, 0) - m00) * yperp;
                        mag2 = (z(1, 0) - z(1, 1)) * xperp + (z(1, 0) - m00) * yperp;
                    }
                } else {
                    if (gx >= -gy) {
                        mag1 = (m00 - z(0, -1)) * xperp + (z(0, -1) - z(1, -1)) * yperp;
                        mag2 = (m00 - z(0, 1)) * xperp + (z(0, 1) - z(-1, 1)) * yperp;
                    } else {
                        mag1 = (z(1, 0) - z(1, -1)) * xperp + (m00 - z(1, 0)) * yperp;
                        mag2 = (z(-1, 0) - z(-1, 1)) * xperp + (m00 - z(-1, 0)) * yperp;
                    }
                }
            } else {
                if (gy >= 0) {
                    if (-gx >= gy) {
                        mag1 = (z(0, 1) - m00) * xperp + (z(-1, 1) - z(0, 1)) * yperp;
                        mag2 = (z(0, -1) - m00) * xperp + (z(1, -1) - z(0, -1)) * yperp;
                    } else {
                        mag1 = (z(-1, 1) - z(-1, 0)) * xperp + (z(-1, 0) - m00) * yperp;
                        mag2 = (z(1, -1) - z(1, 0)) * xperp + (z(1, 0) - m00) * yperp;
                    }
                } else {
                    if (-gx > -gy) {
                        mag1 = (z(0, 1) - m00) * xperp + (z(0, 1) - z(1, 1)) * yperp;
                        mag2 = (z(0, -1) - m00) * xperp + (z(0, -1) - z(-1, -1)) * yperp;
                    } else {
                        mag1 = (z(1, 1) - z(1, 0)) * xperp + (m00 - z(1, 0)) * yperp;
                        mag2 = (z(-1, -1) - z(-1, 0)) * xperp + (m00 - z(-1, 0)) * yperp;
                    }
                }
            }
            n[pos] = (mag1 > 0.0 || mag2 > 0.0 || mag2 == 0.0) ? NON_EDGE : CANDIDATE;
        }
    }
    return n;
}

void hysteresis(const Gradients& g, const std::vector<uint8_t>& n, float highFraction, float lowRatio,
                std::vector<uint8_t>& e)
{
    const int rows = g.rows, cols = g.cols;
    for (int i = 0; i < rows * cols; ++i) {
        e[i] = n[i] == CANDIDATE ? CANDIDATE : NON_EDGE;
    }
    for (int c = 0; c < cols; ++c) {
        e[c] = NON_EDGE;
        e[(rows - 1) * cols + c] = NON_EDGE;
    }
    for (int r = 0; r < rows; ++r) {
        e[r * cols] = NON_EDGE;
        e[r * cols + cols - 1] = NON_EDGE;
    }
    int maxMag = 0;
    for (int i = 0; i < rows * cols; ++i) {
        maxMag = std::max<int>(maxMag, g.mag[i]);
    }
    std::vector<uint32_t> hist(maxMag + 1, 0);
    for (int i = 0; i < rows * cols; ++i) {
        if (e[i] == CANDIDATE) {
            ++hist[g.mag[i]];
        }
    }
    const int high = highThreshold(hist, highFraction);
    const int16_t low = lowThreshold(high, lowRatio);
    const int dx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
    const int dy[8] = {0, -1, -1, -1, 0, 1, 1, 1};
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const int seed = r * cols + c;
            if (e[seed] != CANDIDATE || g.mag[seed] < high) {
                continue;
            }
            e[seed] = EDGE;
            std::vector<int> queue;
            std::size_t expanded = 0;
            int current = seed;
            while (true) {
                for (int i = 0; i < 8; ++i) {
                    const int p = current + dy[i] * cols + dx[i];
                    if (e[p] == CANDIDATE && g.mag[p] > low) {
                        e[p] = EDGE;
                        if (queue.size() < 200) {
                            queue.push_back(p);
                        }
                    }
                }
                if (expanded == queue.size()) {
                    break;
                }
                current = queue[expanded++];
            }
        }
    }
    for (uint8_t& v : e) {
        if (v != EDGE) {
            v = NON_EDGE;
        }
    }
}

} // namespace

std::vector<float> gaussianKernel(float sigma)
{
    const int windowSize = static_cast<int>(1 + 2 * std::ceil(2.5 * sigma));
    const int center = windowSize / 2;
    std::vector<float> kernel(windowSize);
    float sum = 0.0f;
    for (int i = 0; i < windowSize; ++i) {
        const float x = static_cast<float>(i - center);
        kernel[i] = static_cast<float>(std::pow(2.71828, (x * (-0.5) * x) / (sigma * sigma)) /
                                       (std::sqrt(6.2831853) * sigma));
        sum += kernel[i];
    }
    for (float& tap : kernel) {
        tap /= sum;
    }
    return kernel;
}

int highThreshold(const std::vector<uint32_t>& hist, float highFraction)
{
    const int maxMag = static_cast<int>(hist.size()) - 1;
    long total = 0;
    for (int v = 1; v <= maxMag - 1; ++v) {
        total += hist[v];
    }
    int top = 0;
    for (int v = maxMag - 1; v >= 1; --v) {
        if (hist[v] > 0) {
            top = v;
            break;
        }
    }
    const long highCount = static_cast<long>(total * highFraction + 0.5);
    int v = 1;
    long cum = maxMag == 0 ? 0 : hist[1];
    while (v < top - 1 && cum < highCount) {
        ++v;
        cum += hist[v];
    }
    return v;
}

int16_t lowThreshold(int high, float lowRatio)
{
    const double ratio = lowRatio;
    return static_cast<int16_t>(high * ratio + 0.5);
}

std::vector<int16_t> magnitudes(const KpImage& input)
{
    return gradientsOf(input, 1.5f).mag;
}

KpImage detectEdges(const KpImage& input, float sigma, float highFraction, float lowRatio)
{
    const Gradients g = gradientsOf(input, sigma);
    std::vector<uint8_t> e(g.rows * g.cols);
    hysteresis(g, suppressNonMaxima(g), highFraction, lowRatio, e);
    KpImage result(g.cols, g.rows, 8);
    for (int y = 0; y < g.rows; ++y) {
        for (int x = 0; x < g.cols; ++x) {
            result.kpSetPixel(x, y, e[y * g.cols + x]);
        }
    }
    return result;
}

} // namespace referenceedges
