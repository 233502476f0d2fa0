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

// Bilinear weights that are multiples of 1/256 make every product and
// sum of the interpolation exact in double precision (a pixel of 8 bits
// times two weights of 8 fraction bits), so the same result comes from
// integer arithmetic in 1/65536 steps. That is the case when scaling by
// powers of two and by other ratios whose sample positions fall on
// 1/256 steps.
constexpr int FRACTION_BITS = 8;
constexpr double FIXED_ONE = 1 << FRACTION_BITS;
constexpr int32_t FIXED_HALF = 1 << (2 * FRACTION_BITS - 1);

// Where a result coordinate samples the source along one axis: the two
// neighbouring source indices and their weights, also in 1/256 steps when
// they are exact there. A source of one pixel along the axis gives both
// indices 0 and the whole weight to the second.
struct AxisSample {
    std::size_t first;
    std::size_t second;
    double firstWeight;
    double secondWeight;
    bool fixed;
    int32_t firstFixed;
    int32_t secondFixed;
};

bool isWholeNumber(double value)
{
    return value == std::floor(value);
}

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
    const double firstSteps = sample.firstWeight * FIXED_ONE;
    const double secondSteps = sample.secondWeight * FIXED_ONE;
    sample.fixed = isWholeNumber(firstSteps) && isWholeNumber(secondSteps);
    sample.firstFixed = sample.fixed ? static_cast<int32_t>(firstSteps) : 0;
    sample.secondFixed = sample.fixed ? static_cast<int32_t>(secondSteps) : 0;
    return sample;
}

// The weighted sum of the four neighbours, rounded half up and kept to
// 255. The sum is never negative, so truncating v + 0.5 rounds it.
uint8_t interpolate(uint8_t p00, uint8_t p10, uint8_t p01, uint8_t p11, double x0, double x1, double y0, double y1)
{
    const double v = p00 * x0 * y0 + p10 * x1 * y0 + p01 * x0 * y1 + p11 * x1 * y1;
    const double rounded = v + 0.5;
    return rounded >= 256.0 ? WHITE : static_cast<uint8_t>(rounded);
}

// The samples of a block of result columns, field by field, the source
// indices as byte offsets within a row; whether all their weights are
// exact in 1/256 steps, and whether all their second weights are 0.
struct ColumnBlock {
    std::vector<std::size_t> first;
    std::vector<std::size_t> second;
    std::vector<double> firstWeight;
    std::vector<double> secondWeight;
    std::vector<int32_t> firstFixed;
    std::vector<int32_t> secondFixed;
    std::size_t count = 0;
    bool fixed = true;
    bool firstOnly = true;

    void sample(int32_t j0, std::size_t n, double scale, int32_t size, std::size_t channels)
    {
        count = n;
        fixed = true;
        firstOnly = true;
        for (auto* field : {&first, &second}) {
            field->resize(n);
        }
        for (auto* field : {&firstWeight, &secondWeight}) {
            field->resize(n);
        }
        for (auto* field : {&firstFixed, &secondFixed}) {
            field->resize(n);
        }
        for (std::size_t j = 0; j < n; ++j) {
            const AxisSample x = sampleAxis(j0 + static_cast<int32_t>(j), scale, size);
            first[j] = x.first * channels;
            second[j] = x.second * channels;
            firstWeight[j] = x.firstWeight;
            secondWeight[j] = x.secondWeight;
            firstFixed[j] = x.firstFixed;
            secondFixed[j] = x.secondFixed;
            fixed = fixed && x.fixed;
            firstOnly = firstOnly && x.secondFixed == 0;
        }
        firstOnly = firstOnly && fixed;
    }
};

// One block of result columns of one result row, by the formula.
template <std::size_t CHANNELS>
void interpolateRowBlock(const uint8_t* row0, const uint8_t* row1, const AxisSample& y, const ColumnBlock& block, uint8_t* out)
{
    for (std::size_t j = 0; j < block.count; ++j) {
        const std::size_t a = block.first[j];
        const std::size_t b = block.second[j];
        for (std::size_t c = 0; c < CHANNELS; ++c) {
            out[j * CHANNELS + c] = interpolate(row0[a + c], row0[b + c], row1[a + c], row1[b + c], block.firstWeight[j],
                                                block.secondWeight[j], y.firstWeight, y.secondWeight);
        }
    }
}

// The same in integers, for weights exact in 1/256 steps; a block and
// row whose second weights are all 0 just pick their first neighbours.
template <std::size_t CHANNELS>
void interpolateFixedRowBlock(const uint8_t* row0, const uint8_t* row1, const AxisSample& y, const ColumnBlock& block,
                              uint8_t* out)
{
    if (block.firstOnly && y.secondFixed == 0) {
        for (std::size_t j = 0; j < block.count; ++j) {
            for (std::size_t c = 0; c < CHANNELS; ++c) {
                out[j * CHANNELS + c] = row0[block.first[j] + c];
            }
        }
        return;
    }
    for (std::size_t j = 0; j < block.count; ++j) {
        const std::size_t a = block.first[j];
        const std::size_t b = block.second[j];
        for (std::size_t c = 0; c < CHANNELS; ++c) {
            const int32_t upper = row0[a + c] * block.firstFixed[j] + row0[b + c] * block.secondFixed[j];
            const int32_t lower = row1[a + c] * block.firstFixed[j] + row1[b + c] * block.secondFixed[j];
            out[j * CHANNELS + c] =
                static_cast<uint8_t>((upper * y.firstFixed + lower * y.secondFixed + FIXED_HALF) >> (2 * FRACTION_BITS));
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

// Scales source into result, block of result columns by block, each row
// of a block in integers when all its weights allow it.
template <std::size_t CHANNELS>
void resizeRows(const KpImage& source, KpImage& result)
{
    constexpr int32_t BLOCK = 4096;
    const int32_t width = result.kpGetWidth();
    const int32_t height = result.kpGetHeight();
    const double scaleX = static_cast<double>(width) / source.kpGetWidth();
    const double scaleY = static_cast<double>(height) / source.kpGetHeight();
    ColumnBlock block;
    for (int32_t j0 = 0; j0 < width; j0 += std::min(BLOCK, width - j0)) {
        block.sample(j0, static_cast<std::size_t>(std::min(BLOCK, width - j0)), scaleX, source.kpGetWidth(), CHANNELS);
        for (int32_t i = 0; i < height; ++i) {
            const AxisSample y = sampleAxis(i, scaleY, source.kpGetHeight());
            const uint8_t* row0 = rowOf(source, y.first);
            const uint8_t* row1 = rowOf(source, y.second);
            uint8_t* out = rowOf(result, static_cast<std::size_t>(i)) + static_cast<std::size_t>(j0) * CHANNELS;
            if (block.fixed && y.fixed) {
                interpolateFixedRowBlock<CHANNELS>(row0, row1, y, block, out);
            } else {
                interpolateRowBlock<CHANNELS>(row0, row1, y, block, out);
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
    KpImage result = kpUnfilledImage(width, height, source.kpGetDepth());
    if (source.kpGetChannels() == 1) {
        resizeRows<1>(source, result);
    } else {
        resizeRows<3>(source, result);
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

bool KpPixelGeometry::kpFitsInt32(double value)
{
    return value >= std::numeric_limits<int32_t>::min() && value <= std::numeric_limits<int32_t>::max();
}
