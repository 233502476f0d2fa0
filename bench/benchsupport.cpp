#include "benchsupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <vector>

namespace benchsupport {

void countAllocation(std::size_t size);
void countRelease(std::size_t size);

namespace {

std::atomic<std::size_t> heapNow{0};
std::atomic<std::size_t> heapBase{0};
std::atomic<std::size_t> heapPeak{0};

// Records processor times by benchmark name while printing as usual
// (every benchmark runs on one thread; the machine may be shared).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.aggregate_name.empty()) {
                times[run.run_name.function_name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace

void resetPeakHeap()
{
    heapBase = heapNow.load();
    heapPeak = 0;
}

std::size_t peakHeapBytes()
{
    return heapPeak;
}

void countAllocation(std::size_t size)
{
    const std::size_t now = heapNow += size;
    const std::size_t base = heapBase;
    if (now > base && now - base > heapPeak) {
        heapPeak = now - base;
    }
}

void countRelease(std::size_t size)
{
    heapNow -= size;
}

void setTimePerPixel(benchmark::State& state, double pixels)
{
    state.counters["ns_per_pixel"] =
        benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

#ifdef DOVODA_HAVE_OPENCV
cv::Mat matOf(const KpImage& image)
{
    return cv::Mat(image.kpGetHeight(), image.kpGetWidth(), image.kpGetDepth() == 24 ? CV_8UC3 : CV_8UC1, image.kpGetData());
}
#endif

int runBenchmarks(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& ratios)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& pair : ratios) {
        auto a = reporter.times.find(pair.first);
        auto b = reporter.times.find(pair.second);
        if (a != reporter.times.end() && b != reporter.times.end()) {
            std::printf("ratio %s / %s = %.3f\n", pair.first.c_str(), pair.second.c_str(), a->second / b->second);
        }
    }
    benchmark::Shutdown();
    return 0;
}

} // namespace benchsupport

// Every allocation of a benchmark program is counted. The size is kept in
// a header in front of the block so that releases can be counted too.
namespace {
const std::size_t HEADER = alignof(std::max_align_t);
}

void* operator new(std::size_t size)
{
    void* block = std::malloc(size + HEADER);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(block) = size;
    benchsupport::countAllocation(size);
    return static_cast<char*>(block) + HEADER;
}

void* operator new[](std::size_t size)
{
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return operator new(size, std::nothrow);
}

void operator delete(void* pointer) noexcept
{
    if (pointer != nullptr) {
        char* block = static_cast<char*>(pointer) - HEADER;
        benchsupport::countRelease(*reinterpret_cast<std::size_t*>(block));
        std::free(block);
    }
}

void operator delete[](void* pointer) noexcept
{
    operator delete(pointer);
}

void operator delete(void* pointer, std::size_t) noexcept
{
    operator delete(pointer);
}

void operator delete[](void* pointer, std::size_t) noexcept
{
    operator delete(pointer);
}
