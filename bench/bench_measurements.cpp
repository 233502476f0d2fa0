// Speed of the measurements on 12-megapixel photo-like images, 8-bit and
// 24-bit: statistics, histogram, both profiles and the centroid, in
// processor nanoseconds per pixel. When OpenCV is installed its peer
// operations run single-threaded on the same pixels in the same run, and
// their results are first checked against ours where the definitions
// coincide: the histogram, the profiles, the centroid sums (the moments
// of the inverted image) and the deviation of one window (OpenCV's, of
// the population, scaled by sqrt(n / (n - 1))).

#include "benchsupport.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>

#ifdef DOVODA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr double PIXELS = static_cast<double>(benchsupport::PHOTO_WIDTH) * benchsupport::PHOTO_HEIGHT;

const KpImage& photoGray()
{
    return benchsupport::sharedPhoto(8);
}

const KpImage& photoColour()
{
    return benchsupport::sharedPhoto(24);
}

template <typename Operation>
void timeOperation(benchmark::State& state, Operation operation)
{
    benchsupport::timePerPixel(state, PIXELS, operation);
}

void BM_Statistics_gray(benchmark::State& state)
{
    timeOperation(state, [] { return photoGray().kpImageStatistics(); });
}
void BM_Statistics_colour(benchmark::State& state)
{
    timeOperation(state, [] { return photoColour().kpImageStatistics(); });
}
void BM_Histogram_gray(benchmark::State& state)
{
    timeOperation(state, [] { return photoGray().kpHistogramImage(); });
}
void BM_ProfileRows_gray(benchmark::State& state)
{
    timeOperation(state, [] { return photoGray().kpProjectProfile(1); });
}
void BM_ProfileColumns_gray(benchmark::State& state)
{
    timeOperation(state, [] { return photoGray().kpProjectProfile(2); });
}
void BM_Centroid_gray(benchmark::State& state)
{
    timeOperation(state, [] { return photoGray().kpCentroid(); });
}
void BM_Centroid_colour(benchmark::State& state)
{
    timeOperation(state, [] { return photoColour().kpCentroid(); });
}

BENCHMARK(BM_Statistics_gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Statistics_colour)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Histogram_gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProfileRows_gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProfileColumns_gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Centroid_gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Centroid_colour)->Unit(benchmark::kMillisecond);

#ifdef DOVODA_HAVE_OPENCV
// The weights of the centroid: 255 minus each gray value.
const cv::Mat& invertedGray()
{
    static const cv::Mat inverted = 255 - benchsupport::matOf(photoGray());
    return inverted;
}

void BM_OpenCvMeanStdDev_gray(benchmark::State& state)
{
    const cv::Mat source = benchsupport::matOf(photoGray());
    timeOperation(state, [&source] {
        cv::Scalar mean, deviation;
        cv::meanStdDev(source, mean, deviation);
        return deviation[0];
    });
}
void BM_OpenCvMeanStdDev_colour(benchmark::State& state)
{
    const cv::Mat source = benchsupport::matOf(photoColour());
    timeOperation(state, [&source] {
        cv::Scalar mean, deviation;
        cv::meanStdDev(source, mean, deviation);
        return deviation[0];
    });
}
cv::Mat grayHistogram(const cv::Mat& source)
{
    const int channels[] = {0};
    const int bins[] = {256};
    const float range[] = {0, 256};
    const float* ranges[] = {range};
    cv::Mat histogram;
    cv::calcHist(&source, 1, channels, cv::Mat(), histogram, 1, bins, ranges);
    return histogram;
}
void BM_OpenCvCalcHist_gray(benchmark::State& state)
{
    const cv::Mat source = benchsupport::matOf(photoGray());
    timeOperation(state, [&source] { return grayHistogram(source); });
}
cv::Mat profileOf(const cv::Mat& source, int dimension)
{
    cv::Mat sums;
    cv::reduce(source, sums, dimension, cv::REDUCE_SUM, CV_32S);
    return sums;
}
void BM_OpenCvReduceRows_gray(benchmark::State& state)
{
    const cv::Mat source = benchsupport::matOf(photoGray());
    timeOperation(state, [&source] { return profileOf(source, 1); });
}
void BM_OpenCvReduceColumns_gray(benchmark::State& state)
{
    const cv::Mat source = benchsupport::matOf(photoGray());
    timeOperation(state, [&source] { return profileOf(source, 0); });
}
void BM_OpenCvMoments_gray(benchmark::State& state)
{
    const cv::Mat& source = invertedGray();
    timeOperation(state, [&source] { return cv::moments(source); });
}

BENCHMARK(BM_OpenCvMeanStdDev_gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvMeanStdDev_colour)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvCalcHist_gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvReduceRows_gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvReduceColumns_gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvMoments_gray)->Unit(benchmark::kMillisecond);

void report(const char* oracle, bool agrees)
{
    std::printf("oracle %s: %s\n", oracle, agrees ? "agrees" : "DIFFERS");
}

template <typename T>
bool equalsProfile(const cv::Mat& sums, const std::vector<T>& ours)
{
    if (sums.total() != ours.size()) {
        return false;
    }
    for (std::size_t i = 0; i < ours.size(); ++i) {
        if (sums.at<int32_t>(static_cast<int>(i)) != static_cast<int32_t>(ours[i])) {
            return false;
        }
    }
    return true;
}

void checkOracles()
{
    const cv::Mat gray = benchsupport::matOf(photoGray());
    const cv::Mat histogram = grayHistogram(gray);
    cv::Mat counts;
    histogram.convertTo(counts, CV_32S);
    report("calcHist = kpHistogramImage", equalsProfile(counts, photoGray().kpHistogramImage()));
    report("reduce over columns = kpProjectProfile(1)", equalsProfile(profileOf(gray, 1), photoGray().kpProjectProfile(1)));
    report("reduce over rows = kpProjectProfile(2)", equalsProfile(profileOf(gray, 0), photoGray().kpProjectProfile(2)));
    const cv::Moments m = cv::moments(invertedGray());
    const KpPoint centre = photoGray().kpCentroid();
    const auto w = static_cast<uint64_t>(m.m00);
    report("moments of the inverted image = centroid sums",
           static_cast<uint64_t>(m.m10) / w == static_cast<uint64_t>(centre.x) &&
               static_cast<uint64_t>(m.m01) / w == static_cast<uint64_t>(centre.y));
    // One 48 x 48 window.
    const cv::Rect area(1000, 700, 48, 48);
    cv::Scalar mean, deviation;
    cv::meanStdDev(gray(area), mean, deviation);
    const KpImageStatistics ours = photoGray().SubImage(area.x, area.y, area.width, area.height).kpImageStatistics();
    const double n = area.area();
    const double sample = deviation[0] * std::sqrt(n / (n - 1));
    report("meanStdDev of a window = kpImageStatistics", std::fabs(mean[0] - ours.mean[0]) < 1e-9 &&
                                                             std::fabs(sample - ours.standardDeviation[0]) < 1e-9 * sample);
}
#endif

} // namespace

int main(int argc, char** argv)
{
    // The images are drawn before any timing starts.
    photoGray();
    photoColour();
#ifdef DOVODA_HAVE_OPENCV
    cv::setNumThreads(1);
    checkOracles();
#endif
    return benchsupport::runBenchmarks(argc, argv,
                                       {{"BM_Statistics_gray", "BM_OpenCvMeanStdDev_gray"},
                                        {"BM_Statistics_colour", "BM_OpenCvMeanStdDev_colour"},
                                        {"BM_Histogram_gray", "BM_OpenCvCalcHist_gray"},
                                        {"BM_ProfileRows_gray", "BM_OpenCvReduceRows_gray"},
                                        {"BM_ProfileColumns_gray", "BM_OpenCvReduceColumns_gray"},
                                        {"BM_Centroid_gray", "BM_OpenCvMoments_gray"}});
}
