#include "edgestrength.h"

#include "kppointlists.h"

#include <algorithm>
#include <cmath>

namespace {

// The Sobel kernels sum to 8 on each side: dividing by it gives gray
// levels per pixel.
const double SOBEL_SCALE = 8.0;

} // namespace

EdgeStrength::EdgeStrength(const KpImage& gray) : gray(gray) {}

int EdgeStrength::pixel(int32_t row, int32_t col) const
{
    row = std::clamp(row, 0, gray.kpGetHeight() - 1);
    col = std::clamp(col, 0, gray.kpGetWidth() - 1);
    return gray.kpGetData()[static_cast<std::size_t>(row) * gray.kpGetBytesPerRow() + col];
}

double EdgeStrength::gradientAt(int32_t row, int32_t col) const
{
    auto p = [this, row, col](int dr, int dc) { return pixel(row + dr, col + dc); };
    const int gx = (p(-1, 1) + 2 * p(0, 1) + p(1, 1)) - (p(-1, -1) + 2 * p(0, -1) + p(1, -1));
    const int gy = (p(1, -1) + 2 * p(1, 0) + p(1, 1)) - (p(-1, -1) + 2 * p(-1, 0) + p(-1, 1));
    return std::hypot(gx / SOBEL_SCALE, gy / SOBEL_SCALE);
}

double EdgeStrength::of(const PointList& polyline) const
{
    // Each pixel counts once, as on a drawing of the line.
    PointList pixels;
    for (std::size_t i = 0; i + 1 < polyline.size(); ++i) {
        const PointList segment = kppointlists::segmentPixels(polyline[i], polyline[i + 1]);
        pixels.insert(pixels.end(), segment.begin(), segment.end());
    }
    std::sort(pixels.begin(), pixels.end(),
              [](const point& a, const point& b) { return a.row != b.row ? a.row < b.row : a.col < b.col; });
    pixels.erase(std::unique(pixels.begin(), pixels.end()), pixels.end());
    if (pixels.empty()) {
        return 0.0;
    }
    double sum = 0.0;
    for (const point& p : pixels) {
        sum += gradientAt(p.row, p.col);
    }
    return sum / pixels.size() * kppointlists::pathLength(polyline);
}
