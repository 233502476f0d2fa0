// Time and peak heap of mergeEdgeLists (minimum lengths 0 and 10) on the
// edge lists that the pipeline traces in photo-like images of 1, 4 and 12
// megapixels, and of the literal dense reading at 1 megapixel. Both are
// given per list; at the end the figures per list at each size are
// compared with those at 1 megapixel.
//
// The linker writes its diagnostic files into a temporary folder.
#include "benchsupport.h"
#include "kpedgedetector.h"
#include "kpedgelinker.h"
#include "referenceedgemerge.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The traced lists of a photo-like image.
const std::vector<PointList>& tracedAt(int megapixels)
{
    static std::map<int, std::vector<PointList>> cache;
    std::vector<PointList>& lists = cache[megapixels];
    if (lists.empty()) {
        const int width = static_cast<int>(std::lround(std::sqrt(megapixels * 1e6 * 4.0 / 3.0)));
        const int height = width * 3 / 4;
        KpEdgeLinker linker(KpEdgeDetector().detectEdges(benchsupport::makePhotoLikeImage(width, height, 8)));
        linker.traceEdges();
        lists = linker.getEdgeLists();
    }
    return lists;
}

double processNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Per-list figures of each benchmark, for the comparison at the end.
struct PerList {
    double nanoseconds = 0;
    double bytes = 0;
};
std::map<std::string, PerList>& perListFigures()
{
    static std::map<std::string, PerList> figures;
    return figures;
}

// Times merge() after prepare(lists) has handed it a fresh copy of the
// lists, each iteration, with its processor time and peak heap growth per
// list.
template <typename Prepare, typename Merge>
void timeMerge(benchmark::State& state, const std::string& name, const std::vector<PointList>& lists,
               Prepare prepare, Merge merge)
{
    double nanoseconds = 0;
    std::size_t peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        prepare(lists);
        benchsupport::resetPeakHeap();
        const double start = processNanoseconds();
        state.ResumeTiming();
        merge();
        state.PauseTiming();
        nanoseconds += processNanoseconds() - start;
        peak = std::max(peak, benchsupport::peakHeapBytes());
        state.ResumeTiming();
    }
    const double count = static_cast<double>(lists.size());
    PerList& figures = perListFigures()[name];
    figures.nanoseconds = nanoseconds / static_cast<double>(state.iterations()) / count;
    figures.bytes = static_cast<double>(peak) / count;
    state.counters["lists"] = count;
    state.counters["ns_per_list"] = figures.nanoseconds;
    state.counters["peak_bytes_per_list"] = figures.bytes;
}

void BM_MergeEdgeLists(benchmark::State& state)
{
    const int megapixels = static_cast<int>(state.range(0));
    const double minLength = static_cast<double>(state.range(1));
    // A fresh linker each time, so that the peak counts all the links.
    std::unique_ptr<KpEdgeLinker> linker;
    timeMerge(
        state, "sparse/" + std::to_string(megapixels) + "/" + std::to_string(state.range(1)), tracedAt(megapixels),
        [&linker](const std::vector<PointList>& lists) {
            linker = std::make_unique<KpEdgeLinker>(KpImage(1, 1, 1));
            linker->setEdgeLists(lists);
        },
        [&linker, minLength] { linker->mergeEdgeLists(minLength); });
}

void BM_MergeEdgeListsDense(benchmark::State& state)
{
    const int megapixels = static_cast<int>(state.range(0));
    const double minLength = static_cast<double>(state.range(1));
    std::vector<PointList> copy;
    timeMerge(
        state, "dense/" + std::to_string(megapixels) + "/" + std::to_string(state.range(1)), tracedAt(megapixels),
        [&copy](const std::vector<PointList>& lists) { copy = lists; },
        [&copy, minLength] {
            const referencemerge::MergeResult result = referencemerge::mergeEdgeLists(std::move(copy), minLength);
            benchmark::DoNotOptimize(result.lists.data());
        });
}

BENCHMARK(BM_MergeEdgeLists)->ArgsProduct({{1, 4, 12}, {0, 10}})->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_MergeEdgeListsDense)->ArgsProduct({{1}, {0, 10}})->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv)
{
    char folder[] = "/tmp/dovoda-bench-merge-XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0) {
        std::perror("temporary folder");
        return 1;
    }
    const int status = benchsupport::runBenchmarks(argc, argv, {});
    for (const char* minLength : {"0", "10"}) {
        const auto first = perListFigures().find(std::string("sparse/1/") + minLength);
        for (const char* megapixels : {"4", "12"}) {
            const auto at = perListFigures().find(std::string("sparse/") + megapixels + "/" + minLength);
            if (first != perListFigures().end() && at != perListFigures().end()) {
                std::printf("minLength %s, %s MP against 1 MP, per list: time %.2fx, peak heap %.2fx\n", minLength,
                            megapixels, at->second.nanoseconds / first->second.nanoseconds,
                            at->second.bytes / first->second.bytes);
            }
        }
    }
    std::system((std::string("rm -rf '") + folder + "'").c_str());
    return status;
}
