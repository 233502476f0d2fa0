#include "referenceedgedetector.h"

#include <cmath>
#include <deque>

namespace reference {

namespace {

std::vector<float> kernel(float sigma)
{
    int w = 1 + 2 * (int)std::ceil(2.5 * sigma);
    int h = w / 2;
    std::vector<float> taps(w);
    float sum = 0.0f;
    for (int i = 0; i < w; i++) {
        float x = (float)(i - h);
        taps[i] = (float)(std::pow(2.71828, (x * (-0.5) * x) / (sigma * sigma)) / (std::sqrt(6.2831853) * sigma));
        sum += taps[i];
    }
    for (int i = 0; i < w; i++) {
        taps[i] /= sum;
    }
    return taps;
}

} // namespace

EdgeSteps detectEdges(const std::vector<uint8_t>& image, int rows, int cols)
{
    EdgeSteps out;
    const int n = rows * cols;
    std::vector<float> k = kernel(1.5f);
    const int h = (int)k.size() / 2;

    std::vector<float> temp(n);
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < cols; c++) {
            float dot = 0.0f, sum = 0.0f;
            for (int cc = -h; cc <= h; cc++) {
                if (c + cc >= 0 && c + cc < cols) {
                    dot += (float)image[r * cols + c + cc] * k[h + cc];
                    sum += k[h + cc];
                }
            }
            temp[r * cols + c] = dot / sum;
        }
    }
    std::vector<int16_t> s(n);
    for (int c = 0; c < cols; c++) {
        for (int r = 0; r < rows; r++) {
            float dot = 0.0f, sum = 0.0f;
            for (int rr = -h; rr <= h; rr++) {
                if (r + rr >= 0 && r + rr < rows) {
                    dot += temp[(r + rr) * cols + c] * k[h + rr];
                    sum += k[h + rr];
                }
            }
            s[r * cols + c] = (int16_t)(dot * 90.0 / sum + 0.5);
        }
    }
    out.smoothed = s;

    std::vector<int16_t> gx(n), gy(n);
    for (int r = 0; r < rows; r++) {
        for (int c = 1; c < cols - 1; c++) gx[r * cols + c] = s[r * cols + c + 1] - s[r * cols + c - 1];
        gx[r * cols] = s[r * cols + 1] - s[r * cols];
        gx[r * cols + cols - 1] = s[r * cols + cols - 1] - s[r * cols + cols - 2];
    }
    for (int c = 0; c < cols; c++) {
        for (int r = 1; r < rows - 1; r++) gy[r * cols + c] = s[(r + 1) * cols + c] - s[(r - 1) * cols + c];
        gy[c] = s[cols + c] - s[c];
        gy[(rows - 1) * cols + c] = s[(rows - 1) * cols + c] - s[(rows - 2) * cols + c];
    }
    std::vector<int16_t> m(n);
    for (int i = 0; i < n; i++) {
        int sq = gx[i] * gx[i] + gy[i] * gy[i];
        float q = std::sqrt((float)sq);
        m[i] = (int16_t)(q + 0.5);
    }
    out.magnitude = m;

    std::vector<uint8_t> N(n, 0);
    for (int r = 1; r < rows - 2; r++) {
        for (int c = 1; c < cols - 2; c++) {
            int p = r * cols + c;
            int m0 = m[p];
            if (m0 == 0) {
                N[p] = 255;
                continue;
            }
            int x = gx[p], y = gy[p];
            float xp = -x / (float)m0, yp = y / (float)m0;
            auto z = [&](int dr, int dc) { return (int)m[(r + dr) * cols + c + dc]; };
            float mag1, mag2;
            int z1, z2;
            // Each case: the first pair, then the second pair with the same formula.
            if (x >= 0 && y >= 0 && x >= y) {
                z1 = z(0, -1); z2 = z(-1, -1); mag1 = (m0 - z1) * xp + (z2 - z1) * yp;
                z1 = z(0, 1); z2 = z(1, 1); mag2 = (m0 - z1) * xp + (z2 - z1) * yp;
            } else if (x >= 0 && y >= 0) {
                z1 = z(-1, 0); z2 = z(-1, -1); mag1 = (z1 - z2) * xp + (z1 - m0) * yp;
                z1 = z(1, 0); z2 = z(1, 1); mag2 = (z1 - z2) * xp + (z1 - m0) * yp;
            } else if (x >= 0 && x >= -y) {
                z1 = z(0, -1); z2 = z(1, -1); mag1 = (m0 - z1) * xp + (z1 - z2) * yp;
                z1 = z(0, 1); z2 = z(-1, 1); mag2 = (m0 - z1) * xp + (z1 - z2) * yp;
            } else if (x >= 0) {
                z1 = z(1, 0); z2 = z(1, -1); mag1 = (z1 - z2) * xp + (m0 - z1) * yp;
                z1 = z(-1, 0); z2 = z(-1, 1); mag2 = (z1 - z2) * xp + (m0 - z1) * yp;
            } else if (y >= 0 && -x >= y) {
                z1 = z(0, 1); z2 = z(-1, 1); mag1 = (z1 - m0) * xp + (z2 - z1) * yp;
                z1 = z(0, -1); z2 = z(1, -1); mag2 = (z1 - m0) * xp + (z2 - z1) * yp;
            } else if (y >= 0) {
                z1 = z(-1, 0); z2 = z(-1, 1); mag1 = (z2 - z1) * xp + (z1 - m0) * yp;
                z1 = z(1, 0); z2 = z(1, -1); mag2 = (z2 - z1) * xp + (z1 - m0) * yp;
            } else if (-x > -y) {
                z1 = z(0, 1); z2 = z(1, 1); mag1 = (z1 - m0) * xp + (z1 - z2) * yp;
                z1 = z(0, -1); z2 = z(-1, -1); mag2 = (z1 - m0) * xp + (z1 - z2) * yp;
            } else {
                z1 = z(1, 0); z2 = z(1, 1); mag1 = (z2 - z1) * xp + (m0 - z1) * yp;
                z1 = z(-1, 0); z2 = z(-1, -1); mag2 = (z2 - z1) * xp + (m0 - z1) * yp;
            }
            N[p] = (mag1 > 0 || mag2 > 0 || mag2 == 0) ? 255 : 128;
        }
    }

    std::vector<uint8_t> E(n);
    for (int i = 0; i < n; i++) E[i] = N[i] == 128 ? 128 : 255;
    for (int c = 0; c < cols; c++) { E[c] = 255; E[(rows - 1) * cols + c] = 255; }
    for (int r = 0; r < rows; r++) { E[r * cols] = 255; E[r * cols + cols - 1] = 255; }
    out.suppressed = E;

    int M = 0;
    for (int i = 0; i < n; i++) if (m[i] > M) M = m[i];
    std::vector<unsigned> hist(M + 1, 0);
    for (int i = 0; i < n; i++) if (E[i] == 128) hist[m[i]]++;
    unsigned total = 0;
    int top = 0;
    for (int v = 1; v <= M - 1; v++) { total += hist[v]; if (hist[v] > 0) top = v; }
    int highCount = (int)(total * 0.75f + 0.5);
    int v = 1;
    unsigned cum = M >= 1 ? hist[1] : 0;
    while (v < top - 1 && cum < (unsigned)highCount) { v++; cum += hist[v]; }
    int high = v;
    int low = (int16_t)(high * (double)0.35f + 0.5);
    out.high = high;
    out.low = low;

    const int dc[8] = {1, 1, 0, -1, -1, -1, 0, 1};
    const int dr[8] = {0, -1, -1, -1, 0, 1, 1, 1};
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < cols; c++) {
            int p = r * cols + c;
            if (E[p] == 128 && m[p] >= high) {
                E[p] = 0;
                std::deque<int> queue;
                int queued = 0;
                int current = p;
                for (;;) {
                    int cr = current / cols, cc = current % cols;
                    for (int k = 0; k < 8; k++) {
                        int q = (cr + dr[k]) * cols + cc + dc[k];
                        if (E[q] == 128 && m[q] > low) {
                            E[q] = 0;
                            if (queued < 200) { queue.push_back(q); queued++; }
                        }
                    }
                    if (queue.empty()) break;
                    current = queue.front();
                    queue.pop_front();
                }
            }
        }
    }
    for (int i = 0; i < n; i++) if (E[i] != 0) E[i] = 255;
    out.edges = E;
    return out;
}

} // namespace reference
