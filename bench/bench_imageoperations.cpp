// Speed of the pixel arithmetic, contrast stretching, colour spaces,
// morphology, mask filters and polar resampling on 12-megapixel
// photo-like images, in processor nanoseconds per pixel. When OpenCV is
// present the matching calls run single-threaded in the same run (their
// output buffers are reused between calls; ours are fresh images), the
// ratios are printed at the end, and before timing anything the program
// checks that erosion and dilation of a 0/255 image equal OpenCV's
// dilation and erosion with a 3 x 3 cross (white grows under kpErode,
// black under kpDilate).
#include "benchsupport.h"
#include "kpbitsperpixelconverter.h"
#include "kpmorphology.h"
#include "kppoint.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstring>

#ifdef DOVODA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

using Converter = KpBitsPerPixelConverter;
using benchsupport::sharedPhoto;

namespace {

constexpr int WIDTH = benchsupport::PHOTO_WIDTH;
constexpr int HEIGHT = benchsupport::PHOTO_HEIGHT;
constexpr double PIXELS = static_cast<double>(WIDTH) * HEIGHT;
constexpr int PATCH_WIDTH = 2048;
constexpr int PATCH_HEIGHT = 1536;
constexpr int PATCH_X = 1024;
constexpr int PATCH_Y = 768;
constexpr int THRESHOLD = 127;
constexpr uint32_t OTHER_SEED = 777;

const KpImage& otherColour()
{
    static const KpImage image = benchsupport::makePhotoLikeImage(WIDTH, HEIGHT, 24, OTHER_SEED);
    return image;
}

const KpImage& patchColour()
{
    static const KpImage image = benchsupport::makePhotoLikeImage(PATCH_WIDTH, PATCH_HEIGHT, 24, OTHER_SEED);
    return image;
}

const KpImage& photoBinary()
{
    static const KpImage image = Converter::kpDownscaleGray2Binary_global(sharedPhoto(8), THRESHOLD);
    return image;
}

const KpImage& photoYcrCb()
{
    static const KpImage image = sharedPhoto(24).kpConvertToYcrCb();
    return image;
}

const KpImage& photoHsv()
{
    static const KpImage image = sharedPhoto(24).kpConverRGBToHSV();
    return image;
}

const KpImage& photoPolar()
{
    static const KpImage image = sharedPhoto(8).kpPolarImage(true);
    return image;
}

// Times operation() returning an image, dropped after each call.
template <typename Operation>
void timeImages(benchmark::State& state, Operation operation)
{
    benchsupport::timePerPixel(state, PIXELS, operation);
}

// The floor of every operation that returns a new 24-bit image: a copy
// into a fresh buffer, whose pages the system must clear first.
void BM_CopyImage(benchmark::State& state)
{
    timeImages(state, [] { return sharedPhoto(24).kpCopyImage(); });
}
void BM_AddImage(benchmark::State& state)
{
    timeImages(state, [] { return sharedPhoto(24).kpAddImage(otherColour(), 0, 0); });
}
void BM_SubtractImage(benchmark::State& state)
{
    timeImages(state, [] { return sharedPhoto(24).kpSubtractImage(otherColour(), 0, 0); });
}
void BM_PasteImage(benchmark::State& state)
{
    timeImages(state, [] { return sharedPhoto(24).kpPasteImage(patchColour(), PATCH_X, PATCH_Y); });
}
void BM_PasteInImage(benchmark::State& state)
{
    KpImage target = sharedPhoto(24);
    for (auto _ : state) {
        target.kpPasteInImage(patchColour(), PATCH_X, PATCH_Y);
        benchmark::DoNotOptimize(target.kpGetData());
    }
    benchsupport::setTimePerPixel(state, PIXELS);
}
void BM_NormalizeImage(benchmark::State& state)
{
    timeImages(state, [] { return sharedPhoto(24).kpNormalizeImage(); });
}
void BM_NormalizeColorImage(benchmark::State& state)
{
    timeImages(state, [] { return sharedPhoto(24).kpNormalizeColorImage(); });
}
void BM_ConvertToYcrCb(benchmark::State& state)
{
    timeImages(state, [] { return sharedPhoto(24).kpConvertToYcrCb(); });
}
void BM_ConvertFromYcrCb(benchmark::State& state)
{
    timeImages(state, [] { return photoYcrCb().kpConvertFromYcrCb(); });
}
void BM_ConverRGBToHSV(benchmark::State& state)
{
    timeImages(state, [] { return sharedPhoto(24).kpConverRGBToHSV(); });
}
void BM_ConverHSVToRGB(benchmark::State& state)
{
    timeImages(state, [] { return photoHsv().kpConverHSVToRGB(); });
}
void BM_Erode_1(benchmark::State& state)
{
    timeImages(state, [] { return KpMorphology::kpErode(photoBinary(), 1); });
}
void BM_Erode_5(benchmark::State& state)
{
    timeImages(state, [] { return KpMorphology::kpErode(photoBinary(), 5); });
}
void BM_Dilate_1(benchmark::State& state)
{
    timeImages(state, [] { return KpMorphology::kpDilate(photoBinary(), 1); });
}
void BM_Dilate_5(benchmark::State& state)
{
    timeImages(state, [] { return KpMorphology::kpDilate(photoBinary(), 5); });
}
void BM_Blur(benchmark::State& state)
{
    timeImages(state, [] { return KpMorphology::kpBlur(sharedPhoto(24), 1); });
}
void BM_Sharpen(benchmark::State& state)
{
    timeImages(state, [] { return KpMorphology::kpSharpen(sharedPhoto(24), 1); });
}
void BM_PolarImage(benchmark::State& state)
{
    timeImages(state, [] { return sharedPhoto(8).kpPolarImage(true); });
}
void BM_CartesianImage(benchmark::State& state)
{
    timeImages(state, [] { return photoPolar().kpCartesianImage(); });
}

BENCHMARK(BM_CopyImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SubtractImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PasteImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PasteInImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizeImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NormalizeColorImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertToYcrCb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertFromYcrCb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConverRGBToHSV)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConverHSVToRGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Erode_1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Erode_5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dilate_1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dilate_5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blur)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sharpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PolarImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CartesianImage)->Unit(benchmark::kMillisecond);

#ifdef DOVODA_HAVE_OPENCV
using benchsupport::matOf;

const cv::Mat& crossKernel()
{
    static const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_CROSS, cv::Size(3, 3));
    return kernel;
}

const KpImage& photoBinaryExpanded()
{
    static const KpImage image = Converter::kpBinary2Gray(photoBinary());
    return image;
}

// Times operation(output) writing into one Mat kept between calls.
template <typename Operation>
void timeMats(benchmark::State& state, Operation operation)
{
    cv::Mat output;
    for (auto _ : state) {
        operation(output);
        benchmark::DoNotOptimize(output.data);
    }
    benchsupport::setTimePerPixel(state, PIXELS);
}

void BM_OpenCvAdd(benchmark::State& state)
{
    timeMats(state, [](cv::Mat& out) { cv::add(matOf(sharedPhoto(24)), matOf(otherColour()), out); });
}
void BM_OpenCvSubtract(benchmark::State& state)
{
    timeMats(state, [](cv::Mat& out) { cv::subtract(matOf(sharedPhoto(24)), matOf(otherColour()), out); });
}
void BM_OpenCvCloneAndCopyTo(benchmark::State& state)
{
    timeMats(state, [](cv::Mat& out) {
        out = matOf(sharedPhoto(24)).clone();
        matOf(patchColour()).copyTo(out(cv::Rect(PATCH_X, PATCH_Y, PATCH_WIDTH, PATCH_HEIGHT)));
    });
}
void BM_OpenCvCopyTo(benchmark::State& state)
{
    cv::Mat target = matOf(sharedPhoto(24)).clone();
    for (auto _ : state) {
        matOf(patchColour()).copyTo(target(cv::Rect(PATCH_X, PATCH_Y, PATCH_WIDTH, PATCH_HEIGHT)));
        benchmark::DoNotOptimize(target.data);
    }
    benchsupport::setTimePerPixel(state, PIXELS);
}
void BM_OpenCvNormalize(benchmark::State& state)
{
    timeMats(state, [](cv::Mat& out) { cv::normalize(matOf(sharedPhoto(24)), out, 0, 255, cv::NORM_MINMAX); });
}
void BM_OpenCvToYcrCb(benchmark::State& state)
{
    timeMats(state, [](cv::Mat& out) { cv::cvtColor(matOf(sharedPhoto(24)), out, cv::COLOR_RGB2YCrCb); });
}
void BM_OpenCvFromYcrCb(benchmark::State& state)
{
    timeMats(state, [](cv::Mat& out) { cv::cvtColor(matOf(photoYcrCb()), out, cv::COLOR_YCrCb2RGB); });
}
void BM_OpenCvToHsv(benchmark::State& state)
{
    timeMats(state, [](cv::Mat& out) { cv::cvtColor(matOf(sharedPhoto(24)), out, cv::COLOR_RGB2HSV_FULL); });
}
void BM_OpenCvFromHsv(benchmark::State& state)
{
    timeMats(state, [](cv::Mat& out) { cv::cvtColor(matOf(photoHsv()), out, cv::COLOR_HSV2RGB_FULL); });
}
void timeOpenCvMorphology(benchmark::State& state, bool erode, int iterations)
{
    timeMats(state, [=](cv::Mat& out) {
        const cv::Mat source = matOf(photoBinaryExpanded());
        if (erode) {
            cv::erode(source, out, crossKernel(), cv::Point(-1, -1), iterations);
        } else {
            cv::dilate(source, out, crossKernel(), cv::Point(-1, -1), iterations);
        }
    });
}
void BM_OpenCvErode_1(benchmark::State& state)
{
    timeOpenCvMorphology(state, true, 1);
}
void BM_OpenCvErode_5(benchmark::State& state)
{
    timeOpenCvMorphology(state, true, 5);
}
void BM_OpenCvDilate_1(benchmark::State& state)
{
    timeOpenCvMorphology(state, false, 1);
}
void BM_OpenCvDilate_5(benchmark::State& state)
{
    timeOpenCvMorphology(state, false, 5);
}
// A 5 x 5 kernel of the smoothing weights, normalised.
cv::Mat filterKernel(bool sharpen)
{
    const float blur[5][5] = {{0, 0, 1, 0, 0}, {0, 8, 21, 8, 0}, {1, 21, 59, 21, 1}, {0, 8, 21, 8, 0}, {0, 0, 1, 0, 0}};
    cv::Mat kernel(5, 5, CV_32F);
    for (int r = 0; r < 5; ++r) {
        for (int c = 0; c < 5; ++c) {
            const float centre = r == 2 && c == 2 ? 358.0f : 0.0f;
            kernel.at<float>(r, c) = (sharpen ? centre - blur[r][c] : blur[r][c]) / 179.0f;
        }
    }
    return kernel;
}
void BM_OpenCvFilter2DBlur(benchmark::State& state)
{
    const cv::Mat kernel = filterKernel(false);
    timeMats(state, [&kernel](cv::Mat& out) { cv::filter2D(matOf(sharedPhoto(24)), out, -1, kernel); });
}
void BM_OpenCvFilter2DSharpen(benchmark::State& state)
{
    const cv::Mat kernel = filterKernel(true);
    timeMats(state, [&kernel](cv::Mat& out) { cv::filter2D(matOf(sharedPhoto(24)), out, -1, kernel); });
}
void BM_OpenCvWarpPolar(benchmark::State& state)
{
    const KpPoint centre = sharedPhoto(8).kpCentroid();
    const double radius = sharedPhoto(8).kpRmax(true);
    timeMats(state, [&](cv::Mat& out) {
        cv::warpPolar(matOf(sharedPhoto(8)), out, cv::Size(WIDTH, HEIGHT), cv::Point2f(centre.x, centre.y), radius,
                      cv::INTER_LINEAR | cv::WARP_POLAR_LINEAR);
    });
}
void BM_OpenCvWarpPolarInverse(benchmark::State& state)
{
    const double radius = std::hypot(WIDTH / 2, HEIGHT / 2);
    timeMats(state, [&](cv::Mat& out) {
        cv::warpPolar(matOf(photoPolar()), out, cv::Size(WIDTH, HEIGHT), cv::Point2f(WIDTH / 2, HEIGHT / 2), radius,
                      cv::INTER_LINEAR | cv::WARP_POLAR_LINEAR | cv::WARP_INVERSE_MAP);
    });
}

BENCHMARK(BM_OpenCvAdd)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvSubtract)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvCloneAndCopyTo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvCopyTo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvNormalize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvToYcrCb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvFromYcrCb)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvToHsv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvFromHsv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvErode_1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvErode_5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvDilate_1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvDilate_5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvFilter2DBlur)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvFilter2DSharpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvWarpPolar)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvWarpPolarInverse)->Unit(benchmark::kMillisecond);

// Our erosion and dilation against OpenCV's dilation and erosion with a
// 3 x 3 cross and default borders, on the 0/255 expansion of a binary
// image, for 1 and 5 steps; true when every pixel agrees.
bool morphologyMatchesOpenCv()
{
    const KpImage& binary = photoBinary();
    const cv::Mat gray = matOf(photoBinaryExpanded());
    bool agree = true;
    for (int iterations : {1, 5}) {
        cv::Mat grownWhite, grownBlack;
        cv::dilate(gray, grownWhite, crossKernel(), cv::Point(-1, -1), iterations);
        cv::erode(gray, grownBlack, crossKernel(), cv::Point(-1, -1), iterations);
        const KpImage eroded = Converter::kpBinary2Gray(KpMorphology::kpErode(binary, iterations));
        const KpImage dilated = Converter::kpBinary2Gray(KpMorphology::kpDilate(binary, iterations));
        const bool erodeAgrees = std::memcmp(eroded.kpGetData(), grownWhite.data, eroded.kpGetImageSize()) == 0;
        const bool dilateAgrees = std::memcmp(dilated.kpGetData(), grownBlack.data, dilated.kpGetImageSize()) == 0;
        std::printf("oracle: kpErode(%d) %s cv::dilate, kpDilate(%d) %s cv::erode\n", iterations,
                    erodeAgrees ? "equals" : "DIFFERS FROM", iterations, dilateAgrees ? "equals" : "DIFFERS FROM");
        agree = agree && erodeAgrees && dilateAgrees;
    }
    return agree;
}
#endif

// Draws every test image before the first measurement.
void makeImages()
{
    for (const KpImage* image : {&sharedPhoto(24), &otherColour(), &patchColour(), &photoBinary(), &photoYcrCb(),
                                 &photoHsv(), &photoPolar()}) {
        benchmark::DoNotOptimize(image->kpGetData());
    }
}

} // namespace

int main(int argc, char** argv)
{
    makeImages();
#ifdef DOVODA_HAVE_OPENCV
    cv::setNumThreads(1);
    if (!morphologyMatchesOpenCv()) {
        return 1;
    }
#endif
    return benchsupport::runBenchmarks(argc, argv,
                                       {{"BM_AddImage", "BM_OpenCvAdd"},
                                        {"BM_SubtractImage", "BM_OpenCvSubtract"},
                                        {"BM_PasteImage", "BM_OpenCvCloneAndCopyTo"},
                                        {"BM_PasteInImage", "BM_OpenCvCopyTo"},
                                        {"BM_NormalizeImage", "BM_OpenCvNormalize"},
                                        {"BM_ConvertToYcrCb", "BM_OpenCvToYcrCb"},
                                        {"BM_ConvertFromYcrCb", "BM_OpenCvFromYcrCb"},
                                        {"BM_ConverRGBToHSV", "BM_OpenCvToHsv"},
                                        {"BM_ConverHSVToRGB", "BM_OpenCvFromHsv"},
                                        {"BM_Erode_1", "BM_OpenCvDilate_1"},
                                        {"BM_Erode_5", "BM_OpenCvDilate_5"},
                                        {"BM_Dilate_1", "BM_OpenCvErode_1"},
                                        {"BM_Dilate_5", "BM_OpenCvErode_5"},
                                        {"BM_Blur", "BM_OpenCvFilter2DBlur"},
                                        {"BM_Sharpen", "BM_OpenCvFilter2DSharpen"},
                                        {"BM_PolarImage", "BM_OpenCvWarpPolar"},
                                        {"BM_CartesianImage", "BM_OpenCvWarpPolarInverse"}});
}
