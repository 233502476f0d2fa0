// Times detectEdges on a 12-megapixel photo-like gray image and, when
// OpenCV is installed, GaussianBlur (9x9, sigma 1.5) followed by Canny with
// the L2 gradient on the same image, single-threaded, in the same run.
#include "benchsupport.h"
#include "kpedgedetector.h"

#include <benchmark/benchmark.h>
#include <cstdio>

#ifdef DOVODA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

const int WIDTH = 4096;
const int HEIGHT = 3072;

const KpImage& photo()
{
    static const KpImage image = benchsupport::makePhotoLikeImage(WIDTH, HEIGHT, 8);
    return image;
}

void setPixelCounters(benchmark::State& state)
{
    state.counters["ns_per_pixel"] = benchmark::Counter(
        static_cast<double>(WIDTH) * HEIGHT, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_detectEdges(benchmark::State& state)
{
    const KpImage& input = photo();
    KpEdgeDetector detector;
    benchsupport::resetPeakHeap();
    for (auto _ : state) {
        KpImage edges = detector.detectEdges(input);
        benchmark::DoNotOptimize(edges.kpGetData());
    }
    setPixelCounters(state);
    state.counters["peak_bytes_per_pixel"] = static_cast<double>(benchsupport::peakHeapBytes()) / (double(WIDTH) * HEIGHT);
}
BENCHMARK(BM_detectEdges)->Unit(benchmark::kMillisecond)->MinTime(2.0);

#ifdef DOVODA_HAVE_OPENCV
// Canny's thresholds are those our detector picks for the same image
// (its magnitudes are 90 x 2 times OpenCV's Sobel-free central differences
// scale, so the choice only decides how much hysteresis work is done).
void BM_opencvBlurCanny(benchmark::State& state)
{
    cv::setNumThreads(1);
    const KpImage& input = photo();
    cv::Mat source(HEIGHT, WIDTH, CV_8UC1, input.kpGetData());
    cv::Mat blurred, edges;
    for (auto _ : state) {
        cv::GaussianBlur(source, blurred, cv::Size(9, 9), 1.5);
        cv::Canny(blurred, edges, 40, 100, 3, true);
        benchmark::DoNotOptimize(edges.data);
    }
    setPixelCounters(state);
}
BENCHMARK(BM_opencvBlurCanny)->Unit(benchmark::kMillisecond)->MinTime(2.0);
#endif

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, {{"BM_detectEdges", "BM_opencvBlurCanny"}});
}
