#ifndef DOVODA_KPLEVELHISTOGRAM_H
#define DOVODA_KPLEVELHISTOGRAM_H

#include <array>
#include <cstddef>
#include <cstdint>

// How many values of a set of 8-bit values take each of the 256 levels,
// and the figures derived from those counts: the count, the sum and mean,
// the median, and the sums of powers of the deviations from a centre.
//
// The sums of powers of deviations are taken level by level, levels
// ascending, each level adding count x deviation^p. Every statistic of the
// library is computed this way, so a figure does not depend on the order
// in which the pixels are read: a window measured in place gives the very
// double that the statistics of its cut-out give.
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
    // The sums of the second, third and fourth powers of (level - centre)
    // over all values.
    struct KpDeviationSums {
        double squares = 0.0;
        double cubes = 0.0;
        double fourthPowers = 0.0;
    };
    KpDeviationSums kpDeviationSums(double centre) const;

private:
    // The value of sorted rank 0..count-1.
    int levelOfRank(uint64_t rank) const;

    std::array<uint64_t, KP_LEVELS> counts;
};

#endif
