#include "kplevelhistogram.h"

#include <cmath>

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

std::size_t KpLevelHistogram::kpOccupiedLevels(int firstLevel, uint8_t* levels, uint64_t* levelCounts) const
{
    std::size_t n = 0;
    for (int level = firstLevel; level < KP_LEVELS; ++level) {
        const uint64_t count = kpAt(level);
        levels[n] = static_cast<uint8_t>(level);
        levelCounts[n] = count;
        n += count != 0 ? 1 : 0;
    }
    return n;
}

double KpLevelHistogram::kpSquaredDeviations(double centre, int firstLevel) const
{
    uint8_t levels[KP_LEVELS];
    uint64_t levelCounts[KP_LEVELS];
    const std::size_t n = kpOccupiedLevels(firstLevel, levels, levelCounts);
    return kpPowerSums<2>(levels, levelCounts, n, centre).squares;
}

double KpLevelHistogram::kpSampleDeviation(double centre, int firstLevel) const
{
    const double squares = kpSquaredDeviations(centre, firstLevel);
    return squares == 0.0 ? 0.0 : std::sqrt(squares / static_cast<double>(kpCount(firstLevel) - 1));
}

KpLevelHistogram::KpDeviationSums KpLevelHistogram::kpDeviationSums(double centre) const
{
    uint8_t levels[KP_LEVELS];
    uint64_t levelCounts[KP_LEVELS];
    const std::size_t n = kpOccupiedLevels(0, levels, levelCounts);
    return kpPowerSums<4>(levels, levelCounts, n, centre);
}
