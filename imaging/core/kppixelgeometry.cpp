#include "kppixelgeometry.h"

#include "kpexception.h"
#include "kppixelbuffer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr double PI = 3.14159265359;
constexpr uint8_t WHITE = 255;

// Where a result coordinate samples the source along one axis: the two
// neighbouring source indices and their weights. A source of one pixel
// along the axis gives both indices 0 and the whole weight to the second.
struct AxisSample {
    std::size_t first;
    std::size_t second;
    double firstWeight;
    double secondWeight;
};

// Result index i of an axis scaled by scale from size source pixels:
// f = i / scale between the neighbours floor(f) and floor(f) + 1, or,
// past the last pixel, between the last two with the whole weight on the
// last.
AxisSample sampleAxis(int32_t i, double scale, int32_t size)
{
    double f = i / scale;
    double i0 = std::floor(f);
    double i1 = i0 + 1;
    if (i1 >= size) {
        i0 = size - 2;
        f = i1 = size - 1;
    }
    AxisSample sample;
    sample.firstWeight = i1 - f;
    sample.secondWeight = f - i0;
    sample.first = static_cast<std::size_t>(std::max(i0, 0.0));
    sample.second = static_cast<std::size_t>(i1);
    return sample;
}

// The weighted sum of the four neighbours, rounded half up and kept to
// 255. The sum is never negative, so truncating v + 0.5 rounds it.
uint8_t interpolate(uint8_t p00, uint8_t p10, uint8_t p01, uint8_t p11, const AxisSample& x, const AxisSample& y)
{
    const double v = p00 * x.firstWeight * y.firstWeight + p10 * x.secondWeight * y.firstWeight +
                     p01 * x.firstWeight * y.secondWeight + p11 * x.secondWeight * y.secondWeight;
    const double rounded = v + 0.5;
    return rounded >= 256.0 ? WHITE : static_cast<uint8_t>(rounded);
}

// One block of result columns of one result row.
void resizeRowBlock(const uint8_t* row0, const uint8_t* row1, const AxisSample& y, const AxisSample* columns,
                    std::size_t count, std::size_t channels, uint8_t* out)
{
    for (std::size_t j = 0; j < count; ++j) {
        const AxisSample& x = columns[j];
        const std::size_t a = x.first * channels;
        const std::size_t b = x.second * channels;
        for (std::size_t c = 0; c < channels; ++c) {
            out[j * channels + c] = interpolate(row0[a + c], row0[b + c], row1[a + c], row1[b + c], x, y);
        }
    }
}

const uint8_t* rowOf(const KpImage& image, std::size_t y)
{
    return image.kpGetData() + y * static_cast<std::size_t>(image.kpGetBytesPerRow());
}

uint8_t* rowOf(KpImage& image, std::size_t y)
{
    return image.kpGetData() + y * static_cast<std::size_t>(image.kpGetBytesPerRow());
}

// The canvas of a rotation: the extremes of the rotated corner vectors
// and of the origin.
struct Canvas {
    int64_t width;
    int64_t height;
};

Canvas rotatedCanvas(int32_t width, int32_t height, double radians)
{
    const int32_t ox = width / 2;
    const int32_t oy = height / 2;
    const KpPoint corners[4] = {KpPoint(-ox, -oy), KpPoint(-ox, height - oy), KpPoint(width - ox, -oy),
                                KpPoint(width - ox, height - oy)};
    int64_t minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (const KpPoint& corner : corners) {
        KpPoint turned;
        KpImage::kpRotatePoint(corner, turned, radians);
        minX = std::min<int64_t>(minX, turned.x);
        maxX = std::max<int64_t>(maxX, turned.x);
        minY = std::min<int64_t>(minY, turned.y);
        maxY = std::max<int64_t>(maxY, turned.y);
    }
    return Canvas{maxX - minX + 1, maxY - minY + 1};
}

// The columns x of a canvas row for which lo <= base + slope x < hi can
// hold, widened by two columns on each side so that no rounding of the
// exact per-pixel test falls outside; every column when the slope is
// too small to bound them.
void narrowColumns(double base, double slope, double lo, double hi, double& first, double& last)
{
    constexpr double SMALLEST_SLOPE = 1e-6;
    constexpr double MARGIN = 2.0;
    if (std::fabs(slope) < SMALLEST_SLOPE) {
        return;
    }
    double a = (lo - base) / slope;
    double b = (hi - base) / slope;
    if (a > b) {
        std::swap(a, b);
    }
    first = std::max(first, a - MARGIN);
    last = std::min(last, b + MARGIN);
}

// The rotation proper: each canvas pixel (x, y) looks up the source at
// sx = dx cos a + dy sin a + ox, sy = -dx sin a + dy cos a + oy, with
// (dx, dy) its offset from the canvas centre, and takes source byte
// floor(floor(sy) width + sx + 0.5) when (sx, sy) lies in the source.
void rotatePixels(const KpImage& source, double radians, KpImage& result)
{
    const double cosine = std::cos(radians);
    const double sine = std::sin(radians);
    const int32_t width = source.kpGetWidth();
    const int32_t height = source.kpGetHeight();
    const double ox = width / 2;
    const double oy = height / 2;
    const int32_t nx = result.kpGetWidth() / 2;
    const int32_t ny = result.kpGetHeight() / 2;
    const int64_t pixels = static_cast<int64_t>(width) * height;
    const std::size_t channels = static_cast<std::size_t>(source.kpGetChannels());
    const uint8_t* in = source.kpGetData();
    for (int32_t y = 0; y < result.kpGetHeight(); ++y) {
        const double dy = y - ny;
        const double rowX = dy * sine;
        const double rowY = dy * cosine;
        // sx and sy are affine in x: bound the columns that can land inside.
        double first = 0;
        double last = result.kpGetWidth() - 1;
        narrowColumns(rowX + ox - nx * cosine, cosine, 0, width, first, last);
        narrowColumns(rowY + oy + nx * sine, -sine, 0, height, first, last);
        if (first > last) {
            continue;
        }
        uint8_t* out = rowOf(result, static_cast<std::size_t>(y));
        for (int32_t x = static_cast<int32_t>(std::ceil(first)); x <= last; ++x) {
            const double dx = x - nx;
            const double sx = dx * cosine + rowX + ox;
            const double sy = -dx * sine + rowY + oy;
            if (sx >= 0 && sx < width && sy >= 0 && sy < height) {
                const int64_t k = static_cast<int64_t>(std::floor(sy) * width + sx + 0.5);
                if (k < pixels) {
                    for (std::size_t c = 0; c < channels; ++c) {
                        out[static_cast<std::size_t>(x) * channels + c] = in[static_cast<std::size_t>(k) * channels + c];
                    }
                }
            }
        }
    }
}

} // namespace

KpPixelGeometry::~KpPixelGeometry() = default;

KpImage KpPixelGeometry::kpUnfilledImage(int32_t width, int32_t height, int32_t depth)
{
    KpImageHead head;
    head.width = width;
    head.height = height;
    head.depth = depth;
    return KpImage(KpPixelBuffer::kpAllocate(KpImageHead::kpRowBytes(width, depth), height).release(), head);
}

KpImage KpPixelGeometry::kpResize(const KpImage& source, int32_t width, int32_t height)
{
    constexpr std::size_t BLOCK = 4096;
    KpImage result = kpUnfilledImage(width, height, source.kpGetDepth());
    const std::size_t channels = static_cast<std::size_t>(source.kpGetChannels());
    const double scaleX = static_cast<double>(width) / source.kpGetWidth();
    const double scaleY = static_cast<double>(height) / source.kpGetHeight();
    std::vector<AxisSample> columns(std::min<std::size_t>(BLOCK, static_cast<std::size_t>(width)));
    for (int32_t j0 = 0; j0 < width; j0 += static_cast<int32_t>(BLOCK)) {
        const std::size_t count = std::min<std::size_t>(BLOCK, static_cast<std::size_t>(width - j0));
        for (std::size_t j = 0; j < count; ++j) {
            columns[j] = sampleAxis(j0 + static_cast<int32_t>(j), scaleX, source.kpGetWidth());
        }
        for (int32_t i = 0; i < height; ++i) {
            const AxisSample y = sampleAxis(i, scaleY, source.kpGetHeight());
            resizeRowBlock(rowOf(source, y.first), rowOf(source, y.second), y, columns.data(), count, channels,
                           rowOf(result, static_cast<std::size_t>(i)) + static_cast<std::size_t>(j0) * channels);
        }
    }
    return result;
}

KpImage KpPixelGeometry::kpRotate(const KpImage& source, double radians)
{
    const Canvas canvas = rotatedCanvas(source.kpGetWidth(), source.kpGetHeight(), radians);
    KpPixelBuffer::kpCheckedSize(canvas.width * source.kpGetChannels(), canvas.height);
    KpImage result(static_cast<int32_t>(canvas.width), static_cast<int32_t>(canvas.height), source.kpGetDepth());
    rotatePixels(source, radians, result);
    return result;
}

double KpPixelGeometry::kpRadians(double degrees, const char* notFiniteText)
{
    const double radians = degrees * PI / 180;
    if (!std::isfinite(radians)) {
        KP_THROW(KP_INVALID_ARGUMENT, notFiniteText);
    }
    return radians;
}
