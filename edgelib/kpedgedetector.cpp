#include "kpedgedetector.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "kppixelbuffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The detector streams the image row by row: horizontal smoothing feeds a
// ring of rows for the vertical smoothing, which feeds a ring of smoothed
// rows for the derivatives, which feed the suppression of the row above.
// Only the magnitude (needed by the hysteresis) and the edge map span the
// whole image, so a call holds about three bytes per pixel.
//
// Every sum is formed in the same order and precision as the plain
// definition of each step, so the result is the same bit for bit:
// per-pixel accumulations run over the taps k = -h .. h with a float
// rounding after each product and each addition.

namespace {

// Constants of the kernel, used exactly as written (not e and 2 pi).
const double KERNEL_BASE = 2.71828;
const double KERNEL_TWO_PI = 6.2831853;
// Scales smoothed gray levels 0..255 to 0..22950.
const double SMOOTH_SCALE = 90.0;

const uint8_t EDGE = 0;
const uint8_t CANDIDATE = 128;
const uint8_t NON_EDGE = 255;

// Every non-negative 16-bit magnitude has a histogram entry.
const int MAGNITUDE_LEVELS = std::numeric_limits<int16_t>::max() + 1;
// Positions queued per seed while an edge is grown.
const int GROWTH_QUEUE_LENGTH = 200;

const char* const DATA_IS_NULL = "<KpEdgeDetector::detectEdges()> Image Data is NULL!";
const char* const GRAY_EXPECTED = "<KpEdgeDetector::detectEdges()> Only 1, 8 and 24 bit images are supported!";

// Rows of width cols kept for the last `slots` row indices.
template <typename T>
class RowRing {
public:
    RowRing(int slots, int cols) : storage(static_cast<std::size_t>(slots) * cols), slots(slots), cols(cols) {}
    T* row(int r) { return &storage[static_cast<std::size_t>(r % slots) * cols]; }

private:
    std::vector<T> storage;
    int slots;
    int cols;
};

// Sum of the taps whose position + k lies in 0 .. length-1, added in tap order.
float clippedTapSum(const KpEdgeDetector::Kernel& kernel, int position, int length)
{
    const int h = kernel.size / 2;
    float sum = 0.0f;
    for (int k = -h; k <= h; ++k) {
        if (position + k >= 0 && position + k < length) {
            sum += kernel.taps[h + k];
        }
    }
    return sum;
}

// acc[i] += source[i] * tap: one tap of a per-pixel accumulation.
void accumulateTap(float* acc, const float* source, float tap, int count)
{
    for (int i = 0; i < count; ++i) {
        acc[i] += source[i] * tap;
    }
}

#ifdef __SSE2__
// Four 16-bit values as 32-bit lanes.
__m128i loadFour(const int16_t* p)
{
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16);
}

__m128i select(__m128i mask, __m128i whenSet, __m128i otherwise)
{
    return _mm_or_si128(_mm_and_si128(mask, whenSet), _mm_andnot_si128(mask, otherwise));
}

// The suppression of GradientStream::suppressRow on four columns per
// step, lane by lane the same operations; returns the first column left.
int suppressFourAtATime(const int16_t* up, const int16_t* mid, const int16_t* down, const int16_t* dx,
                        const int16_t* dy, uint8_t* out, int first, int end)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi32(1);
    int c = first;
    for (; c + 4 <= end; c += 4) {
        const __m128i a = loadFour(dx + c);
        const __m128i b = loadFour(dy + c);
        const __m128i m0 = loadFour(mid + c);
        const __m128i negA = _mm_cmplt_epi32(a, zero);
        const __m128i negB = _mm_cmplt_epi32(b, zero);
        const __m128i absA = _mm_sub_epi32(_mm_xor_si128(a, negA), negA);
        const __m128i absB = _mm_sub_epi32(_mm_xor_si128(b, negB), negB);
        const __m128i alongColumns = _mm_or_si128(
            _mm_cmpgt_epi32(absA, absB), _mm_andnot_si128(_mm_and_si128(negA, negB), _mm_cmpeq_epi32(absA, absB)));
        const __m128i upLeft = loadFour(up + c - 1), upCentre = loadFour(up + c), upRight = loadFour(up + c + 1);
        const __m128i left = loadFour(mid + c - 1), right = loadFour(mid + c + 1);
        const __m128i downLeft = loadFour(down + c - 1), downCentre = loadFour(down + c),
                      downRight = loadFour(down + c + 1);
        const __m128i z1 = select(alongColumns, select(negA, right, left), select(negB, downCentre, upCentre));
        const __m128i z2 = select(negB, select(negA, downRight, downLeft), select(negA, upRight, upLeft));
        const __m128i z1b = select(alongColumns, select(negA, left, right), select(negB, upCentre, downCentre));
        const __m128i z2b = select(negB, select(negA, upLeft, upRight), select(negA, downLeft, downRight));
        const __m128i m0IsZero = _mm_cmpeq_epi32(m0, zero);
        const __m128 divisor = _mm_cvtepi32_ps(select(m0IsZero, one, m0));
        const __m128 major = _mm_div_ps(_mm_cvtepi32_ps(select(alongColumns, absA, absB)), divisor);
        const __m128 minor = _mm_div_ps(_mm_cvtepi32_ps(select(alongColumns, absB, absA)), divisor);
        const __m128 mag1 = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(z1, m0)), major),
                                       _mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(z2, z1)), minor));
        const __m128 mag2 = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(z1b, m0)), major),
                                       _mm_mul_ps(_mm_cvtepi32_ps(_mm_sub_epi32(z2b, z1b)), minor));
        const __m128i candidate = _mm_andnot_si128(
            m0IsZero, _mm_castps_si128(_mm_and_ps(_mm_cmple_ps(mag1, _mm_setzero_ps()),
                                                  _mm_cmplt_ps(mag2, _mm_setzero_ps()))));
        // -1 lanes give 0xFF ^ 0x7F = CANDIDATE, 0 lanes NON_EDGE.
        const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(candidate, candidate), zero);
        const __m128i marks = _mm_xor_si128(_mm_set1_epi8(static_cast<char>(NON_EDGE)),
                                            _mm_and_si128(bytes, _mm_set1_epi8(NON_EDGE ^ CANDIDATE)));
        const int four = _mm_cvtsi128_si32(marks);
        std::memcpy(out + c, &four, 4);
    }
    return c;
}
#else
int suppressFourAtATime(const int16_t*, const int16_t*, const int16_t*, const int16_t*, const int16_t*, uint8_t*,
                        int first, int)
{
    return first;
}
#endif

// The per-pixel state of the streamed passes.
class GradientStream {
public:
    GradientStream(const uint8_t* pixels, int rowBytes, int rows, int cols, const KpEdgeDetector::Kernel& kernel,
                   int16_t* magnitude, uint8_t* edges, uint32_t* histogram);
    // Runs every pass up to the suppression; returns the largest magnitude.
    int run();

private:
    void smoothRowHorizontally(int r);
    void smoothRowVertically(int r);
    void differentiateRow(int r);
    void suppressRow(int r);
    void countCandidates(int r);
    bool isEvaluatedRow(int r) const { return r >= 1 && r <= rows - 3; }

    const uint8_t* pixels;
    int rowBytes;
    int rows;
    int cols;
    const KpEdgeDetector::Kernel& kernel;
    int16_t* magnitude;
    uint8_t* edges;
    uint32_t* histogram;
    int maxMagnitude = 0;

    std::vector<float> pixelRow;
    std::vector<float> columnTapSums;
    std::vector<float> columnAcc;
    RowRing<float> horizontal;
    RowRing<int16_t> smoothed;
    RowRing<int16_t> gx;
    RowRing<int16_t> gy;
};

GradientStream::GradientStream(const uint8_t* pixels, int rowBytes, int rows, int cols,
                               const KpEdgeDetector::Kernel& kernel, int16_t* magnitude, uint8_t* edges,
                               uint32_t* histogram)
    : pixels(pixels), rowBytes(rowBytes), rows(rows), cols(cols), kernel(kernel), magnitude(magnitude), edges(edges),
      histogram(histogram), pixelRow(cols), columnTapSums(cols), columnAcc(cols), horizontal(kernel.size, cols),
      smoothed(3, cols), gx(2, cols), gy(2, cols)
{
    for (int c = 0; c < cols; ++c) {
        columnTapSums[c] = clippedTapSum(kernel, c, cols);
    }
}

int GradientStream::run()
{
    const int h = kernel.size / 2;
    int nextHorizontal = 0;
    for (int r = 0; r < rows; ++r) {
        for (; nextHorizontal <= std::min(rows - 1, r + h); ++nextHorizontal) {
            smoothRowHorizontally(nextHorizontal);
        }
        smoothRowVertically(r);
        if (r >= 1) {
            differentiateRow(r - 1);
        }
    }
    differentiateRow(rows - 1);
    return maxMagnitude;
}

// dot(c) / sum(c) over the taps of columns c-h .. c+h inside the row.
void GradientStream::smoothRowHorizontally(int r)
{
    const uint8_t* source = pixels + static_cast<std::size_t>(r) * rowBytes;
    for (int c = 0; c < cols; ++c) {
        pixelRow[c] = static_cast<float>(source[c]);
    }
    float* out = horizontal.row(r);
    std::fill(out, out + cols, 0.0f);
    const int h = kernel.size / 2;
    for (int k = -h; k <= h; ++k) {
        const int first = std::max(0, -k);
        const int last = std::min(cols, cols - k);
        if (first < last) {
            accumulateTap(out + first, pixelRow.data() + first + k, kernel.taps[h + k], last - first);
        }
    }
    for (int c = 0; c < cols; ++c) {
        out[c] /= columnTapSums[c];
    }
}

// truncate(dot * 90 / sum + 0.5) over the horizontal rows r-h .. r+h inside the image.
void GradientStream::smoothRowVertically(int r)
{
    float* acc = columnAcc.data();
    std::fill(acc, acc + cols, 0.0f);
    const int h = kernel.size / 2;
    for (int k = std::max(-h, -r); k <= std::min(h, rows - 1 - r); ++k) {
        accumulateTap(acc, horizontal.row(r + k), kernel.taps[h + k], cols);
    }
    const float sum = clippedTapSum(kernel, r, rows);
    int16_t* out = smoothed.row(r);
    for (int c = 0; c < cols; ++c) {
        out[c] = static_cast<int16_t>(static_cast<double>(acc[c]) * SMOOTH_SCALE / sum + 0.5);
    }
}

// Central differences (one-sided on the border) and their rounded length.
void GradientStream::differentiateRow(int r)
{
    const int16_t* up = smoothed.row(std::max(r - 1, 0));
    const int16_t* mid = smoothed.row(r);
    const int16_t* down = smoothed.row(std::min(r + 1, rows - 1));
    int16_t* dx = gx.row(r);
    int16_t* dy = gy.row(r);
    dx[0] = static_cast<int16_t>(mid[1] - mid[0]);
    for (int c = 1; c < cols - 1; ++c) {
        dx[c] = static_cast<int16_t>(mid[c + 1] - mid[c - 1]);
    }
    dx[cols - 1] = static_cast<int16_t>(mid[cols - 1] - mid[cols - 2]);
    for (int c = 0; c < cols; ++c) {
        dy[c] = static_cast<int16_t>(down[c] - up[c]);
    }
    int16_t* m = magnitude + static_cast<std::size_t>(r) * cols;
    int16_t rowMax = 0;
    for (int c = 0; c < cols; ++c) {
        const int sumSquares = dx[c] * dx[c] + dy[c] * dy[c];
        const float q = std::sqrt(static_cast<float>(sumSquares));
        m[c] = static_cast<int16_t>(static_cast<double>(q) + 0.5);
        rowMax = std::max(rowMax, m[c]);
    }
    maxMagnitude = std::max<int>(maxMagnitude, rowMax);
    if (isEvaluatedRow(r - 1)) {
        suppressRow(r - 1);
    }
    if (!isEvaluatedRow(r)) {
        std::memset(edges + static_cast<std::size_t>(r) * cols, NON_EDGE, cols);
    }
}

// Candidate where the magnitude is not below its two interpolated
// neighbours across the gradient. The eight direction cases reduce to one
// formula: along the dominant axis the near neighbour z1 lies one step
// against the gradient and z2 diagonally next to it, and
// mag1 = (z1 - m0) * major + (z2 - z1) * minor with major and minor the
// absolute gradient components over m0 (the sign flips of the cases
// cancel exactly in float). mag2 takes the opposite neighbours. Ties
// |gx| = |gy| count as column-dominant unless both components are negative.
void GradientStream::suppressRow(int r)
{
    const int16_t* up = magnitude + static_cast<std::size_t>(r - 1) * cols;
    const int16_t* mid = up + cols;
    const int16_t* down = mid + cols;
    const int16_t* dx = gx.row(r);
    const int16_t* dy = gy.row(r);
    uint8_t* out = edges + static_cast<std::size_t>(r) * cols;
    out[0] = NON_EDGE;
    for (int c = suppressFourAtATime(up, mid, down, dx, dy, out, 1, cols - 2); c <= cols - 3; ++c) {
        const int a = dx[c];
        const int b = dy[c];
        const int m0 = mid[c];
        const bool negA = a < 0;
        const bool negB = b < 0;
        const int absA = negA ? -a : a;
        const int absB = negB ? -b : b;
        const bool alongColumns = absA > absB || (absA == absB && !(negA && negB));
        // Rows and columns one step against (near) and with (far) the gradient.
        const int16_t* nearRow = negB ? down : up;
        const int16_t* farRow = negB ? up : down;
        const int nearCol = negA ? c + 1 : c - 1;
        const int farCol = negA ? c - 1 : c + 1;
        const int z1 = alongColumns ? mid[nearCol] : nearRow[c];
        const int z2 = nearRow[nearCol];
        const int z1b = alongColumns ? mid[farCol] : farRow[c];
        const int z2b = farRow[farCol];
        const float divisor = static_cast<float>(m0 == 0 ? 1 : m0);
        const float major = static_cast<float>(alongColumns ? absA : absB) / divisor;
        const float minor = static_cast<float>(alongColumns ? absB : absA) / divisor;
        const float mag1 = static_cast<float>(z1 - m0) * major + static_cast<float>(z2 - z1) * minor;
        const float mag2 = static_cast<float>(z1b - m0) * major + static_cast<float>(z2b - z1b) * minor;
        const bool candidate = m0 != 0 && mag1 <= 0.0f && mag2 < 0.0f;
        out[c] = candidate ? CANDIDATE : NON_EDGE;
    }
    std::memset(out + std::max(cols - 2, 1), NON_EDGE, cols - std::max(cols - 2, 1));
    countCandidates(r);
}

void GradientStream::countCandidates(int r)
{
    const uint8_t* row = edges + static_cast<std::size_t>(r) * cols;
    const int16_t* m = magnitude + static_cast<std::size_t>(r) * cols;
    for (int c = 0; c < cols; ++c) {
        if (row[c] == CANDIDATE) {
            ++histogram[m[c]];
        }
    }
}

// Marks the chain of candidates above low reachable from seed, expanding
// at most GROWTH_QUEUE_LENGTH queued positions.
void growFromSeed(uint8_t* edges, const int16_t* magnitude, int cols, int seed, int16_t low, int* queue)
{
    const int neighbours[8] = {1, 1 - cols, -cols, -1 - cols, -1, -1 + cols, cols, 1 + cols};
    int queued = 0;
    int next = 0;
    int current = seed;
    for (;;) {
        for (int offset : neighbours) {
            const int p = current + offset;
            if (edges[p] == CANDIDATE && magnitude[p] > low) {
                edges[p] = EDGE;
                if (queued < GROWTH_QUEUE_LENGTH) {
                    queue[queued++] = p;
                }
            }
        }
        if (next == queued) {
            return;
        }
        current = queue[next++];
    }
}

// Seeds every candidate at or above high, in raster order, and grows it.
void growEdges(uint8_t* edges, const int16_t* magnitude, int rows, int cols, int high, int16_t low)
{
    int queue[GROWTH_QUEUE_LENGTH];
    for (int r = 1; r <= rows - 3; ++r) {
        for (int c = 1; c <= cols - 3; ++c) {
            const int p = r * cols + c;
            if (edges[p] == CANDIDATE && magnitude[p] >= high) {
                edges[p] = EDGE;
                growFromSeed(edges, magnitude, cols, p, low, queue);
            }
        }
    }
}

// Every pixel that is not an edge becomes white.
void whitenNonEdges(uint8_t* edges, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        edges[i] = edges[i] == EDGE ? EDGE : NON_EDGE;
    }
}

// Writes 0 (edge) or 255 into each of the rows x cols bytes of edges;
// needs at least two rows and two columns.
void detectEdgesCore(const uint8_t* pixels, int rowBytes, int rows, int cols, float sigma, float lowRatio,
                     float highFraction, uint8_t* edges)
{
    const KpEdgeDetector::Kernel kernel = KpEdgeDetector::gaussianKernel(sigma);
    const std::size_t count = static_cast<std::size_t>(rows) * cols;
    std::unique_ptr<int16_t[]> magnitude(new int16_t[count]);
    KpPixelBuffer::kpAdviseHugePages(magnitude.get(), count * sizeof(int16_t));
    std::fill(magnitude.get(), magnitude.get() + count, int16_t(0));
    std::vector<uint32_t> histogram(MAGNITUDE_LEVELS, 0);
    const int maxMagnitude =
        GradientStream(pixels, rowBytes, rows, cols, kernel, magnitude.get(), edges, histogram.data()).run();
    const int high = KpEdgeDetector::highThreshold(histogram.data(), maxMagnitude, highFraction);
    growEdges(edges, magnitude.get(), rows, cols, high, KpEdgeDetector::lowThreshold(high, lowRatio));
    whitenNonEdges(edges, count);
}

// The gray image the detector reads for an input of another depth: a
// binary image expanded (black 0, white 255), a colour image averaged over
// its three channels.
KpImage grayForDetection(const KpImage& input)
{
    if (input.kpGetDepth() == 1) {
        return KpBitsPerPixelConverter::kpBinary2Gray(input);
    }
    if (input.kpGetDepth() == 24) {
        return KpBitsPerPixelConverter::kpDownscaleColor2Gray_average(input);
    }
    KP_THROW(KP_INVALID_ARGUMENT, GRAY_EXPECTED);
}

bool isShare(float value)
{
    return value >= 0.0f && value <= 1.0f;
}

// The kernel checks sigma; the two shares must lie in 0 .. 1 (NaN does not).
void checkParameters(const KpEdgeDetector::Parameters& parameters)
{
    KpEdgeDetector::gaussianKernel(parameters.sigma);
    if (!isShare(parameters.highFraction) || !isShare(parameters.lowRatio)) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpEdgeDetector::detectEdges()> the high fraction " +
                                          std::to_string(parameters.highFraction) + " and the low ratio " +
                                          std::to_string(parameters.lowRatio) + " must lie between 0 and 1.");
    }
}

} // namespace

KpEdgeDetector::Kernel KpEdgeDetector::gaussianKernel(float sigma)
{
    // The taps span 2.5 sigma on each side of the centre.
    const double size = 1 + 2 * std::ceil(2.5 * sigma);
    if (!std::isfinite(sigma) || sigma <= 0.0f || size > MAX_KERNEL_TAPS) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpEdgeDetector::gaussianKernel()> sigma " + std::to_string(sigma) +
                                          " is not a positive number giving at most " +
                                          std::to_string(MAX_KERNEL_TAPS) + " taps (sigma at most 3.6).");
    }
    Kernel kernel;
    kernel.size = static_cast<int>(size);
    const int h = kernel.size / 2;
    float sum = 0.0f;
    for (int i = 0; i < kernel.size; ++i) {
        const float x = static_cast<float>(i - h);
        kernel.taps[i] = static_cast<float>(std::pow(KERNEL_BASE, (x * (-0.5) * x) / (sigma * sigma)) /
                                            (std::sqrt(KERNEL_TWO_PI) * sigma));
        sum += kernel.taps[i];
    }
    for (int i = 0; i < kernel.size; ++i) {
        kernel.taps[i] /= sum;
    }
    return kernel;
}

// The smallest v reaching highFraction of the candidates with magnitudes
// 1 .. maxMagnitude-1 (the image maximum itself is left out), kept below
// the largest such magnitude.
int KpEdgeDetector::highThreshold(const uint32_t* histogram, int maxMagnitude, float highFraction)
{
    int64_t total = 0;
    int top = 0;
    for (int v = 1; v < maxMagnitude; ++v) {
        total += histogram[v];
        if (histogram[v] > 0) {
            top = v;
        }
    }
    // total * highFraction is a single-precision product, as the C expression
    // with a float fraction is; only the 0.5 is added in double.
    const int64_t highCount =
        static_cast<int64_t>(static_cast<double>(static_cast<float>(total) * highFraction) + 0.5);
    int v = 1;
    int64_t cum = maxMagnitude > 0 ? histogram[1] : 0;
    while (v < top - 1 && cum < highCount) {
        ++v;
        cum += histogram[v];
    }
    return v;
}

int16_t KpEdgeDetector::lowThreshold(int high, float lowRatio)
{
    return static_cast<int16_t>(static_cast<double>(high) * lowRatio + 0.5);
}

KpImage KpEdgeDetector::detectEdges(const KpImage& input) const
{
    return detectEdges(input, Parameters());
}

KpImage KpEdgeDetector::detectEdges(const KpImage& input, const Parameters& parameters) const
{
    if (input.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, DATA_IS_NULL);
    }
    checkParameters(parameters);
    if (input.kpGetDepth() != 8) {
        return detectEdges(grayForDetection(input), parameters);
    }
    const int width = input.kpGetWidth();
    const int height = input.kpGetHeight();
    KpImage result(width, height, 8);
    if (width >= 2 && height >= 2) {
        detectEdgesCore(input.kpGetData(), input.kpGetBytesPerRow(), height, width, parameters.sigma,
                        parameters.lowRatio, parameters.highFraction, result.kpGetData());
    }
    return result;
}
