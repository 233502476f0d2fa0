#ifndef DOVODA_BENCHSUPPORT_H
#define DOVODA_BENCHSUPPORT_H

#include "photolikeimage.h"

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

// Runs the registered benchmarks, then prints "ratio A / B" for each pair
// of benchmark names (processor time, measured in this same run).
int runBenchmarks(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& ratios);

} // namespace benchsupport

#endif
