#ifndef DOVODA_KPLEVELHISTOGRAM_H
#define DOVODA_KPLEVELHISTOGRAM_H

#include <array>
#include <cstddef>
#include <cstdint>

// How many values of a set of 8-bit values take each of the 256 levels,
// and the figures derived from those counts: the count, the sum and mean,
// the median, and the sums of powers of the deviations from a centre.
//
// The sums of powers of deviations are taken level by level, occupied
// levels ascending, each adding count x deviation^p, all by the one
// routine kpPowerSums. Every statistic of the library is computed this
// way, so a figure does not depend on the order in which the pixels are
// read, nor on how they were counted: a window measured in place gives
// the very double that the statistics of its cut-out give.
class KpLevelHistogram {
public:
    static constexpr int KP_LEVELS = 256;

    KpLevelHistogram();
    virtual ~KpLevelHistogram();

    // The counts of a rectangle of values: rows rows of width values each,
    // rowStride bytes apart, the values of a row pixelStep bytes apart
    // (3 reads one channel of a colour row).
    static KpLevelHistogram kpOfRectangle(const uint8_t* topLeft, std::size_t rowStride, int32_t width, int32_t rows,
                                          int32_t pixelStep = 1);

    uint64_t kpAt(int level) const { return counts[static_cast<std::size_t>(level)]; }
    void kpSet(int level, uint64_t count) { counts[static_cast<std::size_t>(level)] = count; }

    // Over the levels firstLevel..255: the number of values, their sum,
    // and the mean (sum / count in floating point).
    uint64_t kpCount(int firstLevel = 0) const;
    uint64_t kpSum(int firstLevel = 0) const;
    double kpMean(int firstLevel = 0) const;
    // The middle value in sorted order for an odd count, the mean of the
    // two middle values for an even count; 0 for no values.
    double kpMedian() const;
    // The sum of (level - centre)^2 over the values of the levels
    // firstLevel..255.
    double kpSquaredDeviations(double centre, int firstLevel = 0) const;
    // The deviation of a sample about centre over the levels
    // firstLevel..255: sqrt(squared deviations / (count - 1)), 0 when the
    // squared deviations sum to 0 (one value or none).
    double kpSampleDeviation(double centre, int firstLevel = 0) const;
    // The sums of the second, third and fourth powers of (level - centre)
    // over all values.
    struct KpDeviationSums {
        double squares = 0.0;
        double cubes = 0.0;
        double fourthPowers = 0.0;
    };
    KpDeviationSums kpDeviationSums(double centre) const;

    // The occupied levels from firstLevel up, ascending, into levels and
    // their counts into levelCounts (room for 256 each); returns how many.
    std::size_t kpOccupiedLevels(int firstLevel, uint8_t* levels, uint64_t* levelCounts) const;

    // The sums of the powers 2 .. HIGHEST_POWER of (level - centre) over n
    // occupied levels given in ascending order with their counts (powers
    // above HIGHEST_POWER stay 0).
    template <int HIGHEST_POWER, typename Count>
    static KpDeviationSums kpPowerSums(const uint8_t* levels, const Count* levelCounts, std::size_t n, double centre)
    {
        KpDeviationSums sums;
        for (std::size_t i = 0; i < n; ++i) {
            const double d = levels[i] - centre;
            const double square = d * d;
            const double count = static_cast<double>(levelCounts[i]);
            sums.squares += count * square;
            if (HIGHEST_POWER >= 3) {
                sums.cubes += count * (square * d);
            }
            if (HIGHEST_POWER >= 4) {
                sums.fourthPowers += count * (square * square);
            }
        }
        return sums;
    }

private:
    // The value of sorted rank 0..count-1.
    int levelOfRank(uint64_t rank) const;

    std::array<uint64_t, KP_LEVELS> counts;
};

#endif
