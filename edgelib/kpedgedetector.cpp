#include "kpedgedetector.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "kppixelbuffer.h"
#include "kpprocessor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

// The detector streams the image row by row: horizontal smoothing feeds a
// ring of rows for the vertical smoothing, which feeds a ring of smoothed
// rows for the derivatives, which feed the suppression of the row above.
// Only the magnitude (needed by the hysteresis) and the edge map span the
// whole image, so a call holds about three bytes per pixel.
//
// Every value is formed with the operations of the plain definition of
// its step, in the same order and precision, so the result is the same
// bit for bit: per-pixel accumulations run over the taps k = -h .. h with
// a float rounding after each product and each addition. The per-pixel
// loops are straight sequences without branches, which the compiler turns
// into vector code doing lane by lane the same operations (contraction
// into fused multiply-adds is off for the whole build, and the target
// attributes below do not enable FMA). The detector is compiled three
// times, for the baseline instruction set, for AVX2 and for AVX-512, and
// the processor decides at run time which copy runs.

namespace {

// Constants of the kernel, used exactly as written (not e and 2 pi).
const double KERNEL_BASE = 2.71828;
const double KERNEL_TWO_PI = 6.2831853;
// Scales smoothed gray levels 0..255 to 0..22950.
const double SMOOTH_SCALE = 90.0;

// Marks of the suppression map and of the edge map.
const uint8_t EDGE = 0;
const uint8_t CANDIDATE = 128;
const uint8_t NON_EDGE = 255;
// Once the thresholds are known, a candidate above the low threshold is
// GROWABLE (it becomes an edge when an edge grows next to it), or a SEED
// at or above the high threshold (it also starts an edge of its own). A
// candidate at or below the low threshold can never become an edge.
const uint8_t GROWABLE = 1;
const uint8_t SEED = 2;

// Every non-negative 16-bit magnitude has a histogram entry.
const int MAGNITUDE_LEVELS = std::numeric_limits<int16_t>::max() + 1;
// Positions queued per seed while an edge is grown, and how many rows
// below its seed a growth may read: each queued pixel lies at most one
// row below the pixel it was reached from, its neighbours one more.
const int GROWTH_QUEUE_LENGTH = 200;
const int GROWTH_REACH = GROWTH_QUEUE_LENGTH + 1;

const char* const DATA_IS_NULL = "<KpEdgeDetector::detectEdges()> Image Data is NULL!";
const char* const GRAY_EXPECTED = "<KpEdgeDetector::detectEdges()> Only 1, 8 and 24 bit images are supported!";
const char* const NOT_AVAILABLE =
    "<KpEdgeDetector::detectEdges()> The processor does not have the chosen instruction set.";

// Bit i set when the i-th of eight suppression marks is a candidate. The
// marks are then CANDIDATE or NON_EDGE, which differ in their lowest bit;
// the multiplication gathers the eight lowest bits into the top byte
// (bit 8k goes to bit 56 + k, without carries), in memory order.
inline uint64_t candidateBits(const uint8_t* marks)
{
    uint64_t word;
    std::memcpy(&word, marks, sizeof word);
    const uint64_t lowestBits = ~word & 0x0101010101010101ULL;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return (lowestBits * 0x8040201008040201ULL) >> 56;
#else
    return (lowestBits * 0x0102040810204080ULL) >> 56;
#endif
}

// whenTrue or whenFalse, chosen without a branch so that a loop using it
// stays one straight sequence the compiler can turn into vector code.
inline int pick(bool condition, int whenTrue, int whenFalse)
{
    const int mask = -static_cast<int>(condition);
    return (whenTrue & mask) | (whenFalse & ~mask);
}

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

// The smoothed value of a vertical sum: truncate(dot * 90 / sum + 0.5),
// the product, quotient and addition in double precision.
inline int16_t scaledSmoothed(float dot, float sum)
{
    return static_cast<int16_t>(static_cast<double>(dot) * SMOOTH_SCALE / sum + 0.5);
}

// truncate(sqrt(gx * gx + gy * gy) + 0.5): the sum of squares in 32-bit
// integers, its square root in single precision, the rounding in double.
inline int16_t magnitudeOf(int gx, int gy)
{
    const float root = std::sqrt(static_cast<float>(gx * gx + gy * gy));
    return static_cast<int16_t>(static_cast<double>(root) + 0.5);
}

// The per-pixel state of one detection: the streamed passes up to the
// suppression, then the hysteresis over the whole edge map. The smoothing
// passes are compiled for each window width (an odd number of taps up to
// MAX_KERNEL_TAPS), so that their loops over the taps unroll and the
// loops over the columns become vector code.
class DetectorCore {
public:
    DetectorCore(const uint8_t* pixels, int rowBytes, int rows, int cols,
                 const KpEdgeDetector::Parameters& parameters, uint8_t* edges);
    void run();

private:
    template <int TAPS> void streamRows();
    template <int TAPS> void smoothRowHorizontally(int r);
    template <int TAPS> void smoothRowVertically(int r);
    void streamRowsOfWindow();
    void differentiateRow(int r);
    void suppressRow(int r);
    void countCandidates(int r);
    void classifyRow(int r, int high, int16_t low);
    void growEdges(int high, int16_t low);
    void growFromSeed(int seed);
    void whitenNonEdges();
    bool isEvaluatedRow(int r) const { return r >= 1 && r <= rows - 3; }
    float clippedTapSum(int position, int length) const;
    uint8_t* edgeRow(int r) { return edges + static_cast<std::size_t>(r) * cols; }
    int16_t* magnitudeRow(int r) { return magnitude.get() + static_cast<std::size_t>(r) * cols; }

    const uint8_t* pixels;
    int rowBytes;
    int rows;
    int cols;
    uint8_t* edges;
    float lowRatio;
    float highFraction;
    KpEdgeDetector::Kernel kernel;
    int halfWindow;
    // The sum of all taps, by which every sum away from the border divides.
    float fullTapSum = 0.0f;
    std::unique_ptr<int16_t[]> magnitude;
    std::vector<uint32_t> histogram;
    int maxMagnitude = 0;

    std::vector<float> pixelRow;
    std::vector<float> columnTapSums;
    std::vector<float> columnAcc;
    RowRing<float> horizontal;
    RowRing<int16_t> smoothed;
    RowRing<int16_t> gx;
    RowRing<int16_t> gy;
    int growthQueue[GROWTH_QUEUE_LENGTH];
};

DetectorCore::DetectorCore(const uint8_t* pixels, int rowBytes, int rows, int cols,
                           const KpEdgeDetector::Parameters& parameters, uint8_t* edges)
    : pixels(pixels), rowBytes(rowBytes), rows(rows), cols(cols), edges(edges), lowRatio(parameters.lowRatio),
      highFraction(parameters.highFraction), kernel(KpEdgeDetector::gaussianKernel(parameters.sigma)),
      halfWindow(kernel.size / 2), magnitude(new int16_t[static_cast<std::size_t>(rows) * cols]),
      histogram(MAGNITUDE_LEVELS, 0), pixelRow(cols), columnTapSums(cols), columnAcc(cols), horizontal(kernel.size, cols),
      smoothed(3, cols), gx(2, cols), gy(2, cols)
{
    KpPixelBuffer::kpAdviseHugePages(magnitude.get(), static_cast<std::size_t>(rows) * cols * sizeof(int16_t));
    fullTapSum = clippedTapSum(halfWindow, kernel.size);
    for (int c = 0; c < cols; ++c) {
        columnTapSums[c] = clippedTapSum(c, cols);
    }
}

void DetectorCore::run()
{
    streamRowsOfWindow();
    const int high = KpEdgeDetector::highThreshold(histogram.data(), maxMagnitude, highFraction);
    growEdges(high, KpEdgeDetector::lowThreshold(high, lowRatio));
    whitenNonEdges();
}

// Sum of the taps whose position + k lies in 0 .. length-1, added in tap order.
float DetectorCore::clippedTapSum(int position, int length) const
{
    float sum = 0.0f;
    for (int k = -halfWindow; k <= halfWindow; ++k) {
        if (position + k >= 0 && position + k < length) {
            sum += kernel.taps[halfWindow + k];
        }
    }
    return sum;
}

// The streamed passes compiled for the window's width: 1 + 2 ceil(2.5
// sigma) taps, an odd number from 3 to 19.
void DetectorCore::streamRowsOfWindow()
{
    static_assert(KpEdgeDetector::MAX_KERNEL_TAPS == 20, "one case per odd window width up to the largest");
    switch (kernel.size) {
    case 3:
        return streamRows<3>();
    case 5:
        return streamRows<5>();
    case 7:
        return streamRows<7>();
    case 9:
        return streamRows<9>();
    case 11:
        return streamRows<11>();
    case 13:
        return streamRows<13>();
    case 15:
        return streamRows<15>();
    case 17:
        return streamRows<17>();
    default:
        return streamRows<19>();
    }
}

// Every pass up to the suppression, one row at a time; the suppression
// of a row runs once the magnitudes of the rows around it are known.
template <int TAPS> void DetectorCore::streamRows()
{
    constexpr int HALF_WINDOW = TAPS / 2;
    int nextHorizontal = 0;
    for (int r = 0; r < rows; ++r) {
        for (; nextHorizontal <= std::min(rows - 1, r + HALF_WINDOW); ++nextHorizontal) {
            smoothRowHorizontally<TAPS>(nextHorizontal);
        }
        smoothRowVertically<TAPS>(r);
        if (r >= 1) {
            differentiateRow(r - 1);
        }
    }
    differentiateRow(rows - 1);
}

// dot(c) / sum(c) over the taps of columns c-h .. c+h inside the row.
template <int TAPS> void DetectorCore::smoothRowHorizontally(int r)
{
    constexpr int HALF_WINDOW = TAPS / 2;
    const uint8_t* source = pixels + static_cast<std::size_t>(r) * rowBytes;
    float* in = pixelRow.data();
    for (int c = 0; c < cols; ++c) {
        in[c] = static_cast<float>(source[c]);
    }
    float t[TAPS];
    std::copy(kernel.taps, kernel.taps + TAPS, t);
    float* out = horizontal.row(r);
    const int interiorEnd = cols - HALF_WINDOW;
    for (int c = HALF_WINDOW; c < interiorEnd; ++c) {
        const float* window = in + c - HALF_WINDOW;
        float dot = 0.0f;
        for (int k = 0; k < TAPS; ++k) {
            dot += window[k] * t[k];
        }
        out[c] = dot / fullTapSum;
    }
    // Near the ends of the row the taps outside it are dropped.
    auto smoothBorderColumn = [&](int c) {
        float dot = 0.0f;
        for (int k = -HALF_WINDOW; k <= HALF_WINDOW; ++k) {
            if (c + k >= 0 && c + k < cols) {
                dot += in[c + k] * t[HALF_WINDOW + k];
            }
        }
        out[c] = dot / columnTapSums[c];
    };
    for (int c = 0; c < std::min(HALF_WINDOW, cols); ++c) {
        smoothBorderColumn(c);
    }
    for (int c = std::max(HALF_WINDOW, interiorEnd); c < cols; ++c) {
        smoothBorderColumn(c);
    }
}

// truncate(dot * 90 / sum + 0.5) over the horizontal rows r-h .. r+h inside the image.
template <int TAPS> void DetectorCore::smoothRowVertically(int r)
{
    constexpr int HALF_WINDOW = TAPS / 2;
    float t[TAPS];
    std::copy(kernel.taps, kernel.taps + TAPS, t);
    int16_t* out = smoothed.row(r);
    if (r >= HALF_WINDOW && r + HALF_WINDOW < rows) {
        const float* window[TAPS];
        for (int k = 0; k < TAPS; ++k) {
            window[k] = horizontal.row(r - HALF_WINDOW + k);
        }
        for (int c = 0; c < cols; ++c) {
            float dot = 0.0f;
            for (int k = 0; k < TAPS; ++k) {
                dot += window[k][c] * t[k];
            }
            out[c] = scaledSmoothed(dot, fullTapSum);
        }
        return;
    }
    // Near the top and the bottom the rows outside the image are dropped.
    float* acc = columnAcc.data();
    std::fill(acc, acc + cols, 0.0f);
    for (int k = std::max(-HALF_WINDOW, -r); k <= std::min(HALF_WINDOW, rows - 1 - r); ++k) {
        const float* source = horizontal.row(r + k);
        const float tap = t[HALF_WINDOW + k];
        for (int c = 0; c < cols; ++c) {
            acc[c] += source[c] * tap;
        }
    }
    const float sum = clippedTapSum(r, rows);
    for (int c = 0; c < cols; ++c) {
        out[c] = scaledSmoothed(acc[c], sum);
    }
}

// Central differences (one-sided on the border) and their rounded length;
// then the suppression of the row above, whose neighbours are now known.
void DetectorCore::differentiateRow(int r)
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
    int16_t* m = magnitudeRow(r);
    int rowMax = 0;
    for (int c = 0; c < cols; ++c) {
        m[c] = magnitudeOf(dx[c], dy[c]);
        rowMax = std::max(rowMax, static_cast<int>(m[c]));
    }
    maxMagnitude = std::max(maxMagnitude, rowMax);
    if (isEvaluatedRow(r - 1)) {
        suppressRow(r - 1);
    }
    if (!isEvaluatedRow(r)) {
        std::memset(edgeRow(r), NON_EDGE, cols);
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
void DetectorCore::suppressRow(int r)
{
    const int16_t* up = magnitudeRow(r - 1);
    const int16_t* mid = magnitudeRow(r);
    const int16_t* down = magnitudeRow(r + 1);
    const int16_t* dx = gx.row(r);
    const int16_t* dy = gy.row(r);
    uint8_t* out = edgeRow(r);
    out[0] = NON_EDGE;
    for (int c = 1; c <= cols - 3; ++c) {
        const int a = dx[c];
        const int b = dy[c];
        const int m0 = mid[c];
        const bool negA = a < 0;
        const bool negB = b < 0;
        const int absA = pick(negA, -a, a);
        const int absB = pick(negB, -b, b);
        const bool alongColumns = (absA > absB) | ((absA == absB) & !(negA & negB));
        const int left = mid[c - 1], right = mid[c + 1];
        const int upLeft = up[c - 1], upCentre = up[c], upRight = up[c + 1];
        const int downLeft = down[c - 1], downCentre = down[c], downRight = down[c + 1];
        const int z1 = pick(alongColumns, pick(negA, right, left), pick(negB, downCentre, upCentre));
        const int z2 = pick(negB, pick(negA, downRight, downLeft), pick(negA, upRight, upLeft));
        const int z1b = pick(alongColumns, pick(negA, left, right), pick(negB, upCentre, downCentre));
        const int z2b = pick(negB, pick(negA, upLeft, upRight), pick(negA, downLeft, downRight));
        const float divisor = static_cast<float>(pick(m0 == 0, 1, m0));
        const float major = static_cast<float>(pick(alongColumns, absA, absB)) / divisor;
        const float minor = static_cast<float>(pick(alongColumns, absB, absA)) / divisor;
        const float mag1 = static_cast<float>(z1 - m0) * major + static_cast<float>(z2 - z1) * minor;
        const float mag2 = static_cast<float>(z1b - m0) * major + static_cast<float>(z2b - z1b) * minor;
        const bool candidate = (m0 != 0) & (mag1 <= 0.0f) & (mag2 < 0.0f);
        out[c] = static_cast<uint8_t>(pick(candidate, CANDIDATE, NON_EDGE));
    }
    for (int c = std::max(cols - 2, 1); c < cols; ++c) {
        out[c] = NON_EDGE;
    }
    countCandidates(r);
}

// Adds the magnitudes of the row's candidates to the histogram, sixty-four
// pixels at a time: their candidates are found as the set bits of one
// word and visited lowest first.
void DetectorCore::countCandidates(int r)
{
    const uint8_t* row = edgeRow(r);
    const int16_t* m = magnitudeRow(r);
    int c = 0;
    for (; c + 64 <= cols; c += 64) {
        uint64_t found = 0;
        for (int group = 0; group < 8; ++group) {
            found |= candidateBits(row + c + 8 * group) << (8 * group);
        }
        for (; found != 0; found &= found - 1) {
            ++histogram[m[c + __builtin_ctzll(found)]];
        }
    }
    for (; c < cols; ++c) {
        if (row[c] == CANDIDATE) {
            ++histogram[m[c]];
        }
    }
}

// Splits the candidates of row r by their magnitude against the two
// thresholds.
void DetectorCore::classifyRow(int r, int high, int16_t low)
{
    uint8_t* row = edgeRow(r);
    const int16_t* m = magnitudeRow(r);
    for (int c = 0; c < cols; ++c) {
        const bool candidate = row[c] == CANDIDATE;
        const int kind = pick(m[c] >= high, SEED, pick(m[c] > low, GROWABLE, NON_EDGE));
        row[c] = static_cast<uint8_t>(pick(candidate, kind, NON_EDGE));
    }
}

// Seeds every candidate at or above the high threshold, in raster order,
// and grows it; a seed reached by an earlier growth is an edge already.
// Rows are classified just ahead of the seeds: a growth reads no row
// more than GROWTH_REACH rows below its seed, so the rows it reads are
// classified and still in the cache.
void DetectorCore::growEdges(int high, int16_t low)
{
    const int lastRow = rows - 3;
    int classified = 1;
    for (int r = 1; r <= lastRow; ++r) {
        for (; classified <= std::min(lastRow, r + GROWTH_REACH); ++classified) {
            classifyRow(classified, high, low);
        }
        uint8_t* row = edgeRow(r);
        uint8_t* const end = row + cols;
        for (uint8_t* p = row; (p = static_cast<uint8_t*>(std::memchr(p, SEED, end - p))) != nullptr; ++p) {
            *p = EDGE;
            growFromSeed(static_cast<int>(p - edges));
        }
    }
}

// Marks the chain of growable candidates reachable from seed, expanding
// at most GROWTH_QUEUE_LENGTH queued positions. The border of the map
// holds no candidate, so growth never leaves the image.
void DetectorCore::growFromSeed(int seed)
{
    const int neighbours[8] = {1, 1 - cols, -cols, -1 - cols, -1, -1 + cols, cols, 1 + cols};
    int queued = 0;
    int next = 0;
    int current = seed;
    for (;;) {
        for (int offset : neighbours) {
            const int p = current + offset;
            if (static_cast<uint8_t>(edges[p] - GROWABLE) <= SEED - GROWABLE) {
                edges[p] = EDGE;
                if (queued < GROWTH_QUEUE_LENGTH) {
                    growthQueue[queued++] = p;
                }
            }
        }
        if (next == queued) {
            return;
        }
        current = growthQueue[next++];
    }
}

// Every pixel that is not an edge becomes white.
void DetectorCore::whitenNonEdges()
{
    const std::size_t count = static_cast<std::size_t>(rows) * cols;
    for (std::size_t i = 0; i < count; ++i) {
        edges[i] = static_cast<uint8_t>(pick(edges[i] == EDGE, EDGE, NON_EDGE));
    }
}

// Writes 0 (edge) or 255 into each of the rows x cols bytes of edges;
// needs at least two rows and two columns.
void detectEdgesCore(const uint8_t* pixels, int rowBytes, int rows, int cols,
                     const KpEdgeDetector::Parameters& parameters, uint8_t* edges)
{
    DetectorCore(pixels, rowBytes, rows, cols, parameters, edges).run();
}

// The compiled copies of the detector: flatten inlines every step, so the
// loops of each copy are vectorised for its instruction set.
__attribute__((flatten)) void detectWithBaseline(const uint8_t* pixels, int rowBytes, int rows, int cols,
                                                 const KpEdgeDetector::Parameters& parameters, uint8_t* edges)
{
    detectEdgesCore(pixels, rowBytes, rows, cols, parameters, edges);
}

#if defined(__x86_64__) || defined(__i386__)
#define DOVODA_HAVE_WIDE_PATHS 1
__attribute__((target("avx2"), flatten)) void detectWithAvx2(const uint8_t* pixels, int rowBytes, int rows, int cols,
                                                             const KpEdgeDetector::Parameters& parameters,
                                                             uint8_t* edges)
{
    detectEdgesCore(pixels, rowBytes, rows, cols, parameters, edges);
}

__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq"), flatten)) void
detectWithAvx512(const uint8_t* pixels, int rowBytes, int rows, int cols, const KpEdgeDetector::Parameters& parameters,
                 uint8_t* edges)
{
    detectEdgesCore(pixels, rowBytes, rows, cols, parameters, edges);
}
#endif

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

bool KpEdgeDetector::isAvailable(InstructionSet instructions)
{
    switch (instructions) {
    case InstructionSet::BASELINE:
        return true;
#ifdef DOVODA_HAVE_WIDE_PATHS
    case InstructionSet::AVX2:
        return KpProcessor::kpHasAvx2();
    case InstructionSet::AVX512:
        return KpProcessor::kpHasAvx512();
#else
    case InstructionSet::AVX2:
    case InstructionSet::AVX512:
        return false;
#endif
    }
    return false;
}

KpEdgeDetector::InstructionSet KpEdgeDetector::widestAvailable()
{
    for (InstructionSet widest : {InstructionSet::AVX512, InstructionSet::AVX2}) {
        if (isAvailable(widest)) {
            return widest;
        }
    }
    return InstructionSet::BASELINE;
}

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
    return detectEdges(input, Parameters(), widestAvailable());
}

KpImage KpEdgeDetector::detectEdges(const KpImage& input, const Parameters& parameters) const
{
    return detectEdges(input, parameters, widestAvailable());
}

KpImage KpEdgeDetector::detectEdges(const KpImage& input, const Parameters& parameters,
                                    InstructionSet instructions) const
{
    if (input.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, DATA_IS_NULL);
    }
    checkParameters(parameters);
    if (!isAvailable(instructions)) {
        KP_THROW(KP_INVALID_ARGUMENT, NOT_AVAILABLE);
    }
    if (input.kpGetDepth() != 8) {
        return detectEdges(grayForDetection(input), parameters, instructions);
    }
    KpImageHead head;
    head.width = input.kpGetWidth();
    head.height = input.kpGetHeight();
    head.depth = 8;
    if (head.width < 2 || head.height < 2) {
        return KpImage(head.width, head.height, 8);
    }
    // Every byte of the edge map is written by the detector.
    KpImage result(KpPixelBuffer::kpAllocate(head.width, head.height).release(), head);
    const uint8_t* pixels = input.kpGetData();
    const int rowBytes = input.kpGetBytesPerRow();
#ifdef DOVODA_HAVE_WIDE_PATHS
    if (instructions == InstructionSet::AVX512) {
        detectWithAvx512(pixels, rowBytes, head.height, head.width, parameters, result.kpGetData());
        return result;
    }
    if (instructions == InstructionSet::AVX2) {
        detectWithAvx2(pixels, rowBytes, head.height, head.width, parameters, result.kpGetData());
        return result;
    }
#endif
    detectWithBaseline(pixels, rowBytes, head.height, head.width, parameters, result.kpGetData());
    return result;
}
