#include "kpmorphology.h"

#include "kpexception.h"
#include "kppixelbuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr int FILTER_SIZE = 5;
constexpr int CHANNELS = 3;

// The rows of the two fixed masks; both sum to 179.
constexpr double SHARPEN_WEIGHTS[FILTER_SIZE][FILTER_SIZE] = {
    {0, 0, -1, 0, 0}, {0, -8, -21, -8, 0}, {-1, -21, 299, -21, -1}, {0, -8, -21, -8, 0}, {0, 0, -1, 0, 0}};
constexpr double BLUR_WEIGHTS[FILTER_SIZE][FILTER_SIZE] = {
    {0, 0, 1, 0, 0}, {0, 8, 21, 8, 0}, {1, 21, 59, 21, 1}, {0, 8, 21, 8, 0}, {0, 0, 1, 0, 0}};

// ---- Binary operations on packed rows (a set bit is white) ----

// The binary image's rows with the bits past the width cleared.
struct PackedRows {
    int32_t width;
    int32_t height;
    int32_t rowBytes;
    std::unique_ptr<uint8_t[]> bits;
};

uint8_t lastByteMask(int32_t width)
{
    return static_cast<uint8_t>(0xFF00u >> (width % 8 == 0 ? 8 : width % 8));
}

void checkBinarySource(const KpImage& image)
{
    if (image.kpGetDepth() != 1) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpBitsPerPixelConverter::kpBinary2Gray> Binary image expected in KpImage::kpBinary2Gray!");
    }
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpBitsPerPixelConverter::kpBinary2Gray> Image Data is NULL!");
    }
}

void clearPadding(PackedRows& rows)
{
    const uint8_t mask = lastByteMask(rows.width);
    for (int32_t y = 0; y < rows.height; ++y) {
        rows.bits[static_cast<std::size_t>(y + 1) * static_cast<std::size_t>(rows.rowBytes) - 1] &= mask;
    }
}

// Every bit flipped, the padding cleared again.
void complement(PackedRows& rows)
{
    const std::size_t size = static_cast<std::size_t>(rows.rowBytes) * static_cast<std::size_t>(rows.height);
    for (std::size_t i = 0; i < size; ++i) {
        rows.bits[i] = static_cast<uint8_t>(~rows.bits[i]);
    }
    clearPadding(rows);
}

PackedRows packedRowsOf(const KpImage& image)
{
    PackedRows rows{image.kpGetWidth(), image.kpGetHeight(), image.kpGetBytesPerRow(), nullptr};
    rows.bits = KpPixelBuffer::kpAllocate(rows.rowBytes, rows.height);
    std::memcpy(rows.bits.get(), image.kpGetData(), image.kpGetImageSize());
    clearPadding(rows);
    return rows;
}

// One step that turns white every black pixel with a white 4-neighbour:
// each bit of target is the OR of the bit and its four neighbours in
// source. Cleared padding stands for the missing neighbours past the
// right edge; those past the other edges are zeros.
void growWhite(const PackedRows& source, uint8_t* target)
{
    const std::size_t n = static_cast<std::size_t>(source.rowBytes);
    const uint8_t mask = lastByteMask(source.width);
    for (int32_t y = 0; y < source.height; ++y) {
        const uint8_t* row = source.bits.get() + static_cast<std::size_t>(y) * n;
        const uint8_t* above = y > 0 ? row - n : nullptr;
        const uint8_t* below = y + 1 < source.height ? row + n : nullptr;
        uint8_t* out = target + static_cast<std::size_t>(y) * n;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned before = i > 0 ? row[i - 1] : 0u;
            const unsigned after = i + 1 < n ? row[i + 1] : 0u;
            const unsigned left = (row[i] >> 1) | (before << 7);
            const unsigned right = (row[i] << 1) | (after >> 7);
            out[i] = static_cast<uint8_t>(row[i] | left | right);
        }
        if (above != nullptr) {
            for (std::size_t i = 0; i < n; ++i) {
                out[i] |= above[i];
            }
        }
        if (below != nullptr) {
            for (std::size_t i = 0; i < n; ++i) {
                out[i] |= below[i];
            }
        }
        out[n - 1] &= mask;
    }
}

// The white regions grown by iterations steps, of the source or (invert)
// of its complement, as a binary image of the source's size and
// resolution fields.
KpImage grownWhite(const KpImage& image, int iterations, bool invert)
{
    checkBinarySource(image);
    PackedRows rows = packedRowsOf(image);
    if (invert) {
        complement(rows);
    }
    if (iterations > 0) {
        std::unique_ptr<uint8_t[]> spare = KpPixelBuffer::kpAllocate(rows.rowBytes, rows.height);
        for (int step = 0; step < iterations; ++step) {
            growWhite(rows, spare.get());
            std::swap(rows.bits, spare);
        }
    }
    if (invert) {
        complement(rows);
    }
    KpImageHead head;
    head.width = rows.width;
    head.height = rows.height;
    head.depth = 1;
    head.xResolution = image.kpGetXResolution();
    head.yResolution = image.kpGetYResolution();
    head.resolutionInDpi = image.kpIsResolutionInDpi() ? 1 : 0;
    return KpImage(rows.bits.release(), head);
}

// ---- Mask filters on the planes of the channels ----

// With integer weights whose magnitudes sum to at most this, every
// product and partial sum of a window is an integer below 2^21, exact in
// single precision, and the quotient by the sum of the weights can be
// taken through its reciprocal (see quotientByte).
constexpr double SINGLE_PRECISION_WEIGHT_LIMIT = 8192.0;

// A square mask of odd size: its weights row by row, their sum (at least
// 1) and its half width lo.
struct Mask {
    int size;
    int lo;
    std::vector<double> weights;
    double sum;
};

Mask maskOf(double** rows, int size)
{
    Mask mask{size, size - size / 2 - 1, {}, 0.0};
    mask.weights.reserve(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    for (int r = 0; r < size; ++r) {
        for (int c = 0; c < size; ++c) {
            mask.weights.push_back(rows[r][c]);
            mask.sum += rows[r][c];
        }
    }
    if (mask.sum < 1.0) {
        mask.sum = 1.0;
    }
    return mask;
}

bool isExactInSinglePrecision(const Mask& mask)
{
    double magnitude = 0.0;
    for (double weight : mask.weights) {
        if (!(std::fabs(weight) <= SINGLE_PRECISION_WEIGHT_LIMIT) || weight != std::trunc(weight)) {
            return false;
        }
        magnitude += std::fabs(weight);
    }
    return magnitude <= SINGLE_PRECISION_WEIGHT_LIMIT;
}

// The sum of a window divided by the mask's sum, truncated toward zero
// and clamped to 0..255.
uint8_t quotientByte(double windowSum, double maskSum)
{
    const double quotient = windowSum / maskSum;
    if (!(quotient >= 0.0)) {
        return 0;
    }
    return quotient >= 255.0 ? 255 : static_cast<uint8_t>(static_cast<int>(quotient));
}

// The same for an integer window sum s and an integer mask sum m <= 8192:
// for s >= 0, trunc(s / m) = floor((s + 0.5) / m), and (s + 0.5) / m lies
// at least 0.5 / m away from every integer, further than the rounding
// error of the single-precision product below 256.
uint8_t quotientByte(float windowSum, float reciprocal)
{
    float quotient = (windowSum + 0.5f) * reciprocal;
    quotient = quotient < 0.0f ? 0.0f : quotient;
    quotient = quotient > 255.0f ? 255.0f : quotient;
    return static_cast<uint8_t>(static_cast<int>(quotient));
}

struct Plane {
    const uint8_t* pixels;
    int32_t width;
    int32_t height;

    const uint8_t* row(int64_t y) const { return pixels + y * width; }
};

// The window sums in the literal order: rows of the mask top to bottom,
// each left to right, in double precision.
void convolveInDouble(const Plane& plane, const Mask& mask, uint8_t* out)
{
    const int lo = mask.lo;
    for (int64_t j = lo; j < static_cast<int64_t>(plane.height) - lo; ++j) {
        for (int64_t k = lo; k < static_cast<int64_t>(plane.width) - lo; ++k) {
            double sum = 0.0;
            for (int r = 0; r < mask.size; ++r) {
                const uint8_t* row = plane.row(j - lo + r) + (k - lo);
                for (int c = 0; c < mask.size; ++c) {
                    sum += mask.weights[static_cast<std::size_t>(r * mask.size + c)] * row[c];
                }
            }
            out[j * plane.width + k] = quotientByte(sum, mask.sum);
        }
    }
}

struct Tap {
    int row;
    int column;
    float weight;
};

// The same sums in single precision over the non-zero weights, a row of
// windows at a time; exact for the masks isExactInSinglePrecision accepts.
void convolveInSingle(const Plane& plane, const Mask& mask, uint8_t* out)
{
    std::vector<Tap> taps;
    for (int r = 0; r < mask.size; ++r) {
        for (int c = 0; c < mask.size; ++c) {
            const double weight = mask.weights[static_cast<std::size_t>(r * mask.size + c)];
            if (weight != 0.0) {
                taps.push_back({r, c, static_cast<float>(weight)});
            }
        }
    }
    const int lo = mask.lo;
    const int64_t count = static_cast<int64_t>(plane.width) - 2 * lo;
    if (count <= 0) {
        return;
    }
    const float reciprocal = 1.0f / static_cast<float>(mask.sum);
    std::vector<float> sums(static_cast<std::size_t>(count));
    for (int64_t j = lo; j < static_cast<int64_t>(plane.height) - lo; ++j) {
        std::fill(sums.begin(), sums.end(), 0.0f);
        for (const Tap& tap : taps) {
            const uint8_t* in = plane.row(j - lo + tap.row) + tap.column;
            for (int64_t m = 0; m < count; ++m) {
                sums[static_cast<std::size_t>(m)] += tap.weight * static_cast<float>(in[m]);
            }
        }
        uint8_t* row = out + j * plane.width + lo;
        for (int64_t m = 0; m < count; ++m) {
            row[m] = quotientByte(sums[static_cast<std::size_t>(m)], reciprocal);
        }
    }
}

// Clears the pixels closer than lo to an edge.
void clearFrame(uint8_t* out, int32_t width, int32_t height, int lo)
{
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = out + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        if (y < lo || y >= height - lo || width <= 2 * lo) {
            std::memset(row, 0, static_cast<std::size_t>(width));
        } else {
            std::memset(row, 0, static_cast<std::size_t>(lo));
            std::memset(row + width - lo, 0, static_cast<std::size_t>(lo));
        }
    }
}

KpImage filteredPlane(const KpImage& channel, const Mask& mask)
{
    const Plane plane{channel.kpGetData(), channel.kpGetWidth(), channel.kpGetHeight()};
    std::unique_ptr<uint8_t[]> out = KpPixelBuffer::kpAllocate(plane.width, plane.height);
    clearFrame(out.get(), plane.width, plane.height, mask.lo);
    if (isExactInSinglePrecision(mask)) {
        convolveInSingle(plane, mask, out.get());
    } else {
        convolveInDouble(plane, mask, out.get());
    }
    KpImageHead head;
    head.width = plane.width;
    head.height = plane.height;
    head.depth = 8;
    return KpImage(out.release(), head);
}

KpImage filteredRepeatedly(const KpImage& image, int iterations, const double (&weights)[FILTER_SIZE][FILTER_SIZE])
{
    if (iterations <= 0) {
        return image.kpCopyImage();
    }
    double rows[FILTER_SIZE][FILTER_SIZE];
    double* mask[FILTER_SIZE];
    for (int r = 0; r < FILTER_SIZE; ++r) {
        std::copy(weights[r], weights[r] + FILTER_SIZE, rows[r]);
        mask[r] = rows[r];
    }
    KpImage result = KpMorphology::kpApplyMask(image, mask, FILTER_SIZE);
    for (int step = 1; step < iterations; ++step) {
        result = KpMorphology::kpApplyMask(result, mask, FILTER_SIZE);
    }
    return result;
}

} // namespace

KpMorphology::~KpMorphology() = default;

KpImage KpMorphology::kpErode(const KpImage& image, int iterations)
{
    return grownWhite(image, iterations, false);
}

KpImage KpMorphology::kpDilate(const KpImage& image, int iterations)
{
    // Black grows exactly as white grows in the complement.
    return grownWhite(image, iterations, true);
}

KpImage KpMorphology::kpOpen(const KpImage&, int)
{
    KP_THROW(KP_NOT_IMPLEMENTED, "<KpMorphology::kpOpen()> Not Yet Implemented!");
}

KpImage KpMorphology::kpClose(const KpImage&, int)
{
    KP_THROW(KP_NOT_IMPLEMENTED, "<KpMorphology::kpClose()> Not Yet Implemented!");
}

KpImage KpMorphology::kpSharpen(const KpImage& image, int iterations)
{
    return filteredRepeatedly(image, iterations, SHARPEN_WEIGHTS);
}

KpImage KpMorphology::kpBlur(const KpImage& image, int iterations)
{
    return filteredRepeatedly(image, iterations, BLUR_WEIGHTS);
}

KpImage KpMorphology::kpApplyMask(const KpImage& image, double** mask, int size)
{
    if (size < 1 || size % 2 == 0) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpMorphology::kpApplyMask()> The mask size must be odd and at least 1!");
    }
    if (mask == nullptr || std::find(mask, mask + size, nullptr) != mask + size) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpMorphology::kpApplyMask()> A mask of size rows of size weights is required!");
    }
    const Mask weights = maskOf(mask, size);
    KpImage filtered[CHANNELS];
    for (int c = 0; c < CHANNELS; ++c) {
        filtered[c] = filteredPlane(image.kpGetChannelImage(c), weights);
    }
    return KpImage::kpMergeChannelImage(filtered[0], filtered[1], filtered[2]);
}
