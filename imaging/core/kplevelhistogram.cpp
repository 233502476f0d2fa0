#include "kplevelhistogram.h"

namespace {

constexpr int LANES = 4;
using Lanes = uint32_t[LANES][KpLevelHistogram::KP_LEVELS];

// Counts the values into four sets of counters used in turn: a run of one
// value (the background of a page) then updates four counters instead of
// waiting on one.
template <int STEP>
void countRows(const uint8_t* topLeft, std::size_t rowStride, int32_t width, int32_t rows, int32_t step, Lanes& lanes)
{
    const std::size_t pixelStep = STEP > 0 ? STEP : static_cast<std::size_t>(step);
    for (int32_t r = 0; r < rows; ++r) {
        const uint8_t* p = topLeft + static_cast<std::size_t>(r) * rowStride;
        std::size_t x = 0;
        const std::size_t end = static_cast<std::size_t>(width);
        for (; x + LANES <= end; x += LANES) {
            ++lanes[0][p[x * pixelStep]];
            ++lanes[1][p[(x + 1) * pixelStep]];
            ++lanes[2][p[(x + 2) * pixelStep]];
            ++lanes[3][p[(x + 3) * pixelStep]];
        }
        for (; x < end; ++x) {
            ++lanes[0][p[x * pixelStep]];
        }
    }
}

int firstLevelWithValues(const KpLevelHistogram& histogram, int from)
{
    while (from < KpLevelHistogram::KP_LEVELS && histogram.kpAt(from) == 0) {
        ++from;
    }
    return from;
}

int lastLevelWithValues(const KpLevelHistogram& histogram)
{
    int level = KpLevelHistogram::KP_LEVELS - 1;
    while (level >= 0 && histogram.kpAt(level) == 0) {
        --level;
    }
    return level;
}

} // namespace

KpLevelHistogram::KpLevelHistogram() : counts() {}

KpLevelHistogram::~KpLevelHistogram() = default;

KpLevelHistogram KpLevelHistogram::kpOfRectangle(const uint8_t* topLeft, std::size_t rowStride, int32_t width,
                                                 int32_t rows, int32_t pixelStep)
{
    Lanes lanes = {};
    if (pixelStep == 1) {
        countRows<1>(topLeft, rowStride, width, rows, pixelStep, lanes);
    } else if (pixelStep == 3) {
        countRows<3>(topLeft, rowStride, width, rows, pixelStep, lanes);
    } else {
        countRows<0>(topLeft, rowStride, width, rows, pixelStep, lanes);
    }
    KpLevelHistogram histogram;
    for (std::size_t level = 0; level < KP_LEVELS; ++level) {
        histogram.counts[level] = uint64_t{lanes[0][level]} + lanes[1][level] + lanes[2][level] + lanes[3][level];
    }
    return histogram;
}

uint64_t KpLevelHistogram::kpCount(int firstLevel) const
{
    uint64_t count = 0;
    for (int level = firstLevel; level < KP_LEVELS; ++level) {
        count += kpAt(level);
    }
    return count;
}

uint64_t KpLevelHistogram::kpSum(int firstLevel) const
{
    uint64_t sum = 0;
    for (int level = firstLevel; level < KP_LEVELS; ++level) {
        sum += static_cast<uint64_t>(level) * kpAt(level);
    }
    return sum;
}

double KpLevelHistogram::kpMean(int firstLevel) const
{
    return static_cast<double>(kpSum(firstLevel)) / static_cast<double>(kpCount(firstLevel));
}

int KpLevelHistogram::levelOfRank(uint64_t rank) const
{
    uint64_t below = 0;
    for (int level = 0; level < KP_LEVELS; ++level) {
        below += kpAt(level);
        if (below > rank) {
            return level;
        }
    }
    return KP_LEVELS - 1;
}

double KpLevelHistogram::kpMedian() const
{
    const uint64_t count = kpCount();
    if (count == 0) {
        return 0.0;
    }
    if (count % 2 == 1) {
        return levelOfRank(count / 2);
    }
    return (levelOfRank(count / 2 - 1) + levelOfRank(count / 2)) / 2.0;
}

double KpLevelHistogram::kpSquaredDeviations(double centre, int firstLevel) const
{
    double squares = 0.0;
    const int last = lastLevelWithValues(*this);
    for (int level = firstLevelWithValues(*this, firstLevel); level <= last; ++level) {
        const double d = level - centre;
        squares += static_cast<double>(kpAt(level)) * (d * d);
    }
    return squares;
}

KpLevelHistogram::KpDeviationSums KpLevelHistogram::kpDeviationSums(double centre) const
{
    KpDeviationSums sums;
    const int last = lastLevelWithValues(*this);
    for (int level = firstLevelWithValues(*this, 0); level <= last; ++level) {
        const double d = level - centre;
        const double square = d * d;
        const double count = static_cast<double>(kpAt(level));
        sums.squares += count * square;
        sums.cubes += count * (square * d);
        sums.fourthPowers += count * (square * square);
    }
    return sums;
}
