// Times detectEdges on two 12-megapixel gray images, a photo-like one and
// a mosaic of the corpus photographs scaled up, with each instruction set
// the processor has, and, when OpenCV is installed, GaussianBlur (9x9,
// sigma 1.5) followed by Canny with the L2 gradient on the same images,
// single-threaded, in the same run.
#include "benchsupport.h"
#include "kpedgedetector.h"
#include "photomosaic.h"

#include <benchmark/benchmark.h>
#include <cstdio>

#ifdef DOVODA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

const int WIDTH = 4096;
const int HEIGHT = 3072;

const KpImage& photoLike()
{
    static const KpImage image = benchsupport::makePhotoLikeImage(WIDTH, HEIGHT, 8);
    return image;
}

const KpImage& mosaic()
{
    static const KpImage image = benchsupport::makePhotoMosaic(WIDTH, HEIGHT, 8);
    return image;
}

void setPixelCounters(benchmark::State& state)
{
    state.counters["ns_per_pixel"] = benchmark::Counter(
        static_cast<double>(WIDTH) * HEIGHT, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

bool skipWhenAbsent(benchmark::State& state, const KpImage& input)
{
    if (input.kpGetData() == nullptr) {
        state.SkipWithError("no corpus photographs or no ImageMagick convert");
        return true;
    }
    return false;
}

void timeDetectEdges(benchmark::State& state, const KpImage& input, KpEdgeDetector::InstructionSet instructions)
{
    if (skipWhenAbsent(state, input)) {
        return;
    }
    if (!KpEdgeDetector::isAvailable(instructions)) {
        state.SkipWithError("the processor lacks this instruction set");
        return;
    }
    KpEdgeDetector detector;
    benchsupport::resetPeakHeap();
    for (auto _ : state) {
        KpImage edges = detector.detectEdges(input, KpEdgeDetector::Parameters(), instructions);
        benchmark::DoNotOptimize(edges.kpGetData());
    }
    setPixelCounters(state);
    state.counters["peak_bytes_per_pixel"] = static_cast<double>(benchsupport::peakHeapBytes()) / (double(WIDTH) * HEIGHT);
}

void BM_detectEdges_photoLike(benchmark::State& state)
{
    timeDetectEdges(state, photoLike(), KpEdgeDetector::widestAvailable());
}
BENCHMARK(BM_detectEdges_photoLike)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_detectEdges_photoLike_baseline(benchmark::State& state)
{
    timeDetectEdges(state, photoLike(), KpEdgeDetector::InstructionSet::BASELINE);
}
BENCHMARK(BM_detectEdges_photoLike_baseline)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_detectEdges_photoLike_avx2(benchmark::State& state)
{
    timeDetectEdges(state, photoLike(), KpEdgeDetector::InstructionSet::AVX2);
}
BENCHMARK(BM_detectEdges_photoLike_avx2)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_detectEdges_mosaic(benchmark::State& state)
{
    timeDetectEdges(state, mosaic(), KpEdgeDetector::widestAvailable());
}
BENCHMARK(BM_detectEdges_mosaic)->Unit(benchmark::kMillisecond)->MinTime(2.0);

#ifdef DOVODA_HAVE_OPENCV
void timeOpencvBlurCanny(benchmark::State& state, const KpImage& input)
{
    if (skipWhenAbsent(state, input)) {
        return;
    }
    cv::setNumThreads(1);
    cv::Mat source(HEIGHT, WIDTH, CV_8UC1, input.kpGetData());
    cv::Mat blurred, edges;
    for (auto _ : state) {
        cv::GaussianBlur(source, blurred, cv::Size(9, 9), 1.5);
        cv::Canny(blurred, edges, 40, 100, 3, true);
        benchmark::DoNotOptimize(edges.data);
    }
    setPixelCounters(state);
}

void BM_opencvBlurCanny_photoLike(benchmark::State& state)
{
    timeOpencvBlurCanny(state, photoLike());
}
BENCHMARK(BM_opencvBlurCanny_photoLike)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_opencvBlurCanny_mosaic(benchmark::State& state)
{
    timeOpencvBlurCanny(state, mosaic());
}
BENCHMARK(BM_opencvBlurCanny_mosaic)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv,
                                       {{"BM_detectEdges_photoLike", "BM_opencvBlurCanny_photoLike"},
                                        {"BM_detectEdges_mosaic", "BM_opencvBlurCanny_mosaic"},
                                        {"BM_detectEdges_photoLike", "BM_detectEdges_photoLike_baseline"}});
}
