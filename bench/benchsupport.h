#ifndef DOVODA_BENCHSUPPORT_H
#define DOVODA_BENCHSUPPORT_H

#include "photolikeimage.h"

#include <benchmark/benchmark.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#ifdef DOVODA_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

namespace benchsupport {

// Heap accounting of the benchmark programs (operator new is counted):
// resetPeakHeap() starts a measurement at the current heap size,
// peakHeapBytes() is the largest growth above it since.
void resetPeakHeap();
std::size_t peakHeapBytes();

// Adds the counter ns_per_pixel: processor time per iteration divided by
// pixels (printed with its unit prefix: "5.2n" is 5.2 nanoseconds).
void setTimePerPixel(benchmark::State& state, double pixels);

// Times operation() per iteration, its result dropped after each call as
// a caller that uses it once would, and reports ns_per_pixel.
template <typename Operation>
void timePerPixel(benchmark::State& state, double pixels, Operation operation)
{
    for (auto _ : state) {
        auto result = operation();
        benchmark::DoNotOptimize(result);
    }
    setTimePerPixel(state, pixels);
}

#ifdef DOVODA_HAVE_OPENCV
// The pixels of an 8-bit or 24-bit image as an OpenCV matrix (not a copy).
cv::Mat matOf(const KpImage& image);
#endif

// Runs the registered benchmarks, then prints "ratio A / B" for each pair
// of benchmark names (processor time, measured in this same run).
int runBenchmarks(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& ratios);

} // namespace benchsupport

#endif
