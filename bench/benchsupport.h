#ifndef DOVODA_BENCHSUPPORT_H
#define DOVODA_BENCHSUPPORT_H

#include "photolikeimage.h"

#include <benchmark/benchmark.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace benchsupport {

// Heap accounting of the benchmark programs (operator new is counted):
// resetPeakHeap() starts a measurement at the current heap size,
// peakHeapBytes() is the largest growth above it since.
void resetPeakHeap();
std::size_t peakHeapBytes();

// Adds the counter ns_per_pixel: processor time per iteration divided by
// pixels (printed with its unit prefix: "5.2n" is 5.2 nanoseconds).
void setTimePerPixel(benchmark::State& state, double pixels);

// Runs the registered benchmarks, then prints "ratio A / B" for each pair
// of benchmark names (processor time, measured in this same run).
int runBenchmarks(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& ratios);

} // namespace benchsupport

#endif
