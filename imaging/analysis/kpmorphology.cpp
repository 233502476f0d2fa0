#include "kpmorphology.h"

#include "kpexception.h"
#include "kppixelbuffer.h"
#include "kpprocessor.h"

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

PackedRows packedRowsOf(const KpImage& image, const char* failureText)
{
    PackedRows rows{image.kpGetWidth(), image.kpGetHeight(), image.kpGetBytesPerRow(), nullptr};
    rows.bits = KpPixelBuffer::kpAllocate(rows.rowBytes, rows.height, failureText);
    std::memcpy(rows.bits.get(), image.kpGetData(), image.kpGetImageSize());
    clearPadding(rows);
    return rows;
}

// A byte of 8 pixels after one step: a bit is set when it or one of its
// four neighbours is set.
uint8_t grownByte(uint8_t before, uint8_t current, uint8_t after, uint8_t above, uint8_t below)
{
    const unsigned left = (current >> 1) | (before << 7);
    const unsigned right = (current << 1) | (after >> 7);
    return static_cast<uint8_t>(current | left | right | above | below);
}

void growWhiteRow(const uint8_t* __restrict above, const uint8_t* __restrict row, const uint8_t* __restrict below,
                  uint8_t* __restrict out, std::size_t n)
{
    if (n == 1) {
        out[0] = grownByte(0, row[0], 0, above[0], below[0]);
        return;
    }
    out[0] = grownByte(0, row[0], row[1], above[0], below[0]);
    for (std::size_t i = 1; i + 1 < n; ++i) {
        out[i] = grownByte(row[i - 1], row[i], row[i + 1], above[i], below[i]);
    }
    out[n - 1] = grownByte(row[n - 2], row[n - 1], 0, above[n - 1], below[n - 1]);
}

// One step that turns white every black pixel with a white 4-neighbour,
// from source into target. Cleared padding stands for the missing
// neighbours past the right edge, a row of zeros for those past the top
// and bottom edges.
void growWhite(const PackedRows& source, uint8_t* target)
{
    const std::size_t n = static_cast<std::size_t>(source.rowBytes);
    const std::vector<uint8_t> outside(n, 0);
    const uint8_t mask = lastByteMask(source.width);
    for (int32_t y = 0; y < source.height; ++y) {
        const uint8_t* row = source.bits.get() + static_cast<std::size_t>(y) * n;
        const uint8_t* above = y > 0 ? row - n : outside.data();
        const uint8_t* below = y + 1 < source.height ? row + n : outside.data();
        uint8_t* out = target + static_cast<std::size_t>(y) * n;
        growWhiteRow(above, row, below, out, n);
        out[n - 1] &= mask;
    }
}

// The image after iterations steps that grow its white regions or, with
// growBlack, its black ones (white grows in the complement), as a binary
// image of the source's size and resolution fields. A buffer that cannot
// be allocated is refused with failureText.
KpImage grownRegions(const KpImage& image, int iterations, bool growBlack, const char* failureText)
{
    checkBinarySource(image);
    PackedRows rows = packedRowsOf(image, failureText);
    if (growBlack) {
        complement(rows);
    }
    if (iterations > 0) {
        std::unique_ptr<uint8_t[]> spare = KpPixelBuffer::kpAllocate(rows.rowBytes, rows.height, failureText);
        for (int step = 0; step < iterations; ++step) {
            growWhite(rows, spare.get());
            std::swap(rows.bits, spare);
        }
    }
    if (growBlack) {
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

// ---- Mask filters, on the three channels of colour images ----

// With integer weights whose magnitudes sum to at most this, every
// product and partial sum of a window is an integer below 2^21, exact in
// single precision, and the quotient by the sum of the weights can be
// taken through its reciprocal (see quotientByte).
constexpr double SINGLE_PRECISION_WEIGHT_LIMIT = 8192.0;

// A square mask of odd size: its weights row by row, their sum (at least
// 1) and its half width lo.
struct Mask {
    int64_t size;
    int64_t lo;
    std::vector<double> weights;
    double sum;

    double weight(int64_t r, int64_t c) const { return weights[static_cast<std::size_t>(r * size + c)]; }
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

// A 24-bit image read as rows of interleaved channel values: the
// horizontal neighbour of a value lies CHANNELS values away.
struct Channels {
    const uint8_t* values;
    int64_t width;
    int64_t height;

    int64_t rowValues() const { return CHANNELS * width; }
    const uint8_t* row(int64_t y) const { return values + y * rowValues(); }
};

// The window sums in the literal order: rows of the mask top to bottom,
// each left to right, in double precision.
void convolveInDouble(const Channels& image, const Mask& mask, uint8_t* out)
{
    const int64_t lo = mask.lo;
    for (int64_t j = lo; j < image.height - lo; ++j) {
        for (int64_t v = CHANNELS * lo; v < image.rowValues() - CHANNELS * lo; ++v) {
            double sum = 0.0;
            for (int64_t r = 0; r < mask.size; ++r) {
                const uint8_t* row = image.row(j - lo + r) + v - CHANNELS * lo;
                for (int64_t c = 0; c < mask.size; ++c) {
                    sum += mask.weight(r, c) * row[CHANNELS * c];
                }
            }
            out[j * image.rowValues() + v] = quotientByte(sum, mask.sum);
        }
    }
}

struct Tap {
    int64_t row;
    int64_t column;
    float weight;
};

std::vector<Tap> nonZeroTaps(const Mask& mask)
{
    std::vector<Tap> taps;
    for (int64_t r = 0; r < mask.size; ++r) {
        for (int64_t c = 0; c < mask.size; ++c) {
            const double weight = mask.weight(r, c);
            if (weight != 0.0) {
                taps.push_back({r, c, static_cast<float>(weight)});
            }
        }
    }
    return taps;
}

// The values of a window row a chunk at a time, so that the sums stay in
// the first-level cache.
constexpr int64_t CHUNK_VALUES = 2048;

// Eight single-precision lanes: one AVX register, or two SSE registers
// in the baseline build.
typedef float Lanes __attribute__((vector_size(32)));
constexpr int64_t LANES = sizeof(Lanes) / sizeof(float);

// Filters count (at most CHUNK_VALUES) values of one output row:
// sources[k] points at the values of tap k (its row, shifted by its
// column), readable up to a whole number of lanes past count. The sums
// of a block of lanes stay in registers over all taps.
void filterChunk(const float* const* sources, const Tap* taps, std::size_t tapCount, int64_t count, float reciprocal,
                 uint8_t* out)
{
    float sums[CHUNK_VALUES];
    for (int64_t m = 0; m < count; m += LANES) {
        Lanes sum = {};
        for (std::size_t k = 0; k < tapCount; ++k) {
            Lanes in;
            std::memcpy(&in, sources[k] + m, sizeof in);
            sum += taps[k].weight * in;
        }
        std::memcpy(sums + m, &sum, sizeof sum);
    }
    for (int64_t m = 0; m < count; ++m) {
        out[m] = quotientByte(sums[m], reciprocal);
    }
}

KP_AVX2_CLONE void filterChunkAvx2(const float* const* sources, const Tap* taps, std::size_t tapCount, int64_t count,
                                   float reciprocal, uint8_t* out)
{
    filterChunk(sources, taps, tapCount, count, reciprocal, out);
}

void widenRow(const uint8_t* __restrict in, float* __restrict out, int64_t count)
{
    for (int64_t m = 0; m < count; ++m) {
        out[m] = in[m];
    }
}

// The same sums in single precision over the non-zero weights; exact for
// the masks isExactInSinglePrecision accepts, so the order does not
// matter. The source rows of the window are kept as floats in a ring.
void convolveInSingle(const Channels& image, const Mask& mask, uint8_t* out)
{
    const int64_t lo = mask.lo;
    const int64_t count = image.rowValues() - 2 * CHANNELS * lo;
    if (count <= 0 || image.height <= 2 * lo) {
        return;
    }
    const std::vector<Tap> taps = nonZeroTaps(mask);
    const float reciprocal = 1.0f / static_cast<float>(mask.sum);
    const bool wide = KpProcessor::kpUseAvx2();
    std::vector<std::vector<float>> ring(static_cast<std::size_t>(mask.size),
                                         std::vector<float>(static_cast<std::size_t>(image.rowValues() + LANES)));
    for (int64_t y = 0; y < 2 * lo; ++y) {
        widenRow(image.row(y), ring[static_cast<std::size_t>(y % mask.size)].data(), image.rowValues());
    }
    std::vector<const float*> sources(taps.size());
    for (int64_t j = lo; j < image.height - lo; ++j) {
        const int64_t newest = j + lo;
        widenRow(image.row(newest), ring[static_cast<std::size_t>(newest % mask.size)].data(), image.rowValues());
        uint8_t* target = out + j * image.rowValues() + CHANNELS * lo;
        for (int64_t first = 0; first < count; first += CHUNK_VALUES) {
            for (std::size_t k = 0; k < taps.size(); ++k) {
                const int64_t y = j - lo + taps[k].row;
                sources[k] = ring[static_cast<std::size_t>(y % mask.size)].data() + CHANNELS * taps[k].column + first;
            }
            const int64_t n = std::min(CHUNK_VALUES, count - first);
            if (wide) {
                filterChunkAvx2(sources.data(), taps.data(), taps.size(), n, reciprocal, target + first);
            } else {
                filterChunk(sources.data(), taps.data(), taps.size(), n, reciprocal, target + first);
            }
        }
    }
}

// Clears the pixels closer than lo to an edge.
void clearFrame(const Channels& image, int64_t lo, uint8_t* out)
{
    const int64_t margin = CHANNELS * lo;
    for (int64_t y = 0; y < image.height; ++y) {
        uint8_t* row = out + y * image.rowValues();
        if (y < lo || y >= image.height - lo || image.width <= 2 * lo) {
            std::memset(row, 0, static_cast<std::size_t>(image.rowValues()));
        } else {
            std::memset(row, 0, static_cast<std::size_t>(margin));
            std::memset(row + image.rowValues() - margin, 0, static_cast<std::size_t>(margin));
        }
    }
}

// Refuses what kpGetChannelImage refuses: the filters work on the
// channels of colour images.
void checkColourSource(const KpImage& image)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpGetChannelImage()> Image Data is NULL!");
    }
    if (image.kpGetDepth() != 24) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpImage::kpGetChannelImage()> Color image expected in KpImage::kpGetChannel!");
    }
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
    return grownRegions(image, iterations, false, "<KpMorphology::kpErode()> Image Data is NULL!");
}

KpImage KpMorphology::kpDilate(const KpImage& image, int iterations)
{
    return grownRegions(image, iterations, true, KpPixelBuffer::KP_DEFAULT_FAILURE_TEXT);
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
    checkColourSource(image);
    const Mask weights = maskOf(mask, size);
    const Channels channels{image.kpGetData(), image.kpGetWidth(), image.kpGetHeight()};
    std::unique_ptr<uint8_t[]> out = KpPixelBuffer::kpAllocate(channels.rowValues(), channels.height);
    clearFrame(channels, weights.lo, out.get());
    if (isExactInSinglePrecision(weights)) {
        convolveInSingle(channels, weights, out.get());
    } else {
        convolveInDouble(channels, weights, out.get());
    }
    KpImageHead head;
    head.width = image.kpGetWidth();
    head.height = image.kpGetHeight();
    head.depth = 24;
    return KpImage(out.release(), head);
}
