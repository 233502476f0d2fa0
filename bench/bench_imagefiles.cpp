// Loading and saving 4096 x 3072 images (colour unless the case names
// gray or bilevel) through the format registry, and, when OpenCV is
// present, cv::imread and cv::imwrite of the same files in the same run
// (OpenCV on one thread). Each format is one BENCHMARK_CAPTURE line per
// operation below.
//
// zlib levels: our PNG writer uses libpng's default (zlib level 6);
// cv::imwrite is timed with its own defaults and with level 6
// (IMWRITE_PNG_COMPRESSION) for a like-for-like comparison.
// JPEG: both sides write quality 95, baseline, 4:2:0. TIFF: our writer
// uses PackBits for colour and Group 4 for bilevel images; OpenCV writes
// PackBits when asked (IMWRITE_TIFF_COMPRESSION 32773). A bitmap (.pbm)
// holds one bit per pixel: OpenCV is given the bilevel sample as 8-bit
// gray, the store it reads bitmaps into.

#include "benchsupport.h"
#include "kpbitsperpixelconverter.h"
#include "kpimage.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>
#include <unistd.h>

#ifdef DOVODA_HAVE_OPENCV
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

const int WIDTH = 4096;
const int HEIGHT = 3072;
const int COLOUR_DEPTH = 24;
const int GRAY_DEPTH = 8;
const int BILEVEL_DEPTH = 1;
const int BILEVEL_THRESHOLD = 128;

KpImage makeSampleImage(int depth)
{
    if (depth == BILEVEL_DEPTH) {
        return KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(
            benchsupport::makePhotoLikeImage(WIDTH, HEIGHT, GRAY_DEPTH), BILEVEL_THRESHOLD);
    }
    return benchsupport::makePhotoLikeImage(WIDTH, HEIGHT, depth);
}

// The photo-like sample of a depth, made once.
const KpImage& sampleImage(int depth = COLOUR_DEPTH)
{
    static std::map<int, KpImage> images;
    auto found = images.find(depth);
    if (found == images.end()) {
        found = images.emplace(depth, makeSampleImage(depth)).first;
    }
    return found->second;
}

// A case: the sample of a depth in a format.
struct Sample {
    int depth;
    std::string extension;
};

std::string stemOf(const Sample& sample)
{
    return std::to_string(sample.depth) + "bit" + sample.extension;
}

std::string benchPath(const std::string& stem, const std::string& extension)
{
    return "/tmp/dovoda-bench-" + std::to_string(getpid()) + "-" + stem + extension;
}

// The sample image saved once per case through the registry; removed
// at exit.
const std::string& sampleFile(const Sample& sample)
{
    struct Files {
        std::map<std::string, std::string> names;
        ~Files()
        {
            for (const auto& entry : names) {
                std::remove(entry.second.c_str());
            }
        }
    };
    static Files files;
    const std::string stem = stemOf(sample);
    auto found = files.names.find(stem);
    if (found == files.names.end()) {
        const std::string name = benchPath("sample", stem);
        KpImage image = sampleImage(sample.depth);
        image.kpSaveImage(name.c_str());
        found = files.names.emplace(stem, name).first;
    }
    return found->second;
}

void labelSize(benchmark::State& state, int depth = COLOUR_DEPTH)
{
    const char* kind = depth == COLOUR_DEPTH ? " RGB" : depth == GRAY_DEPTH ? " gray" : " bilevel";
    state.SetLabel(std::to_string(WIDTH) + "x" + std::to_string(HEIGHT) + kind);
}

void BM_LoadRegistry(benchmark::State& state, const Sample& sample)
{
    const std::string& file = sampleFile(sample);
    for (auto _ : state) {
        KpImage image(file.c_str(), nullptr);
        benchmark::DoNotOptimize(image.kpGetData());
    }
    labelSize(state, sample.depth);
}

void BM_SaveRegistry(benchmark::State& state, const Sample& sample)
{
    KpImage image = sampleImage(sample.depth);
    const std::string file = benchPath("save", stemOf(sample));
    for (auto _ : state) {
        image.kpSaveImage(file.c_str());
    }
    std::remove(file.c_str());
    labelSize(state, sample.depth);
}

BENCHMARK_CAPTURE(BM_LoadRegistry, png, Sample{COLOUR_DEPTH, ".png"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveRegistry, png, Sample{COLOUR_DEPTH, ".png"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegistry, bmp, Sample{COLOUR_DEPTH, ".bmp"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveRegistry, bmp, Sample{COLOUR_DEPTH, ".bmp"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegistry, jpg, Sample{COLOUR_DEPTH, ".jpg"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveRegistry, jpg, Sample{COLOUR_DEPTH, ".jpg"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegistry, jpg_gray, Sample{GRAY_DEPTH, ".jpg"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveRegistry, jpg_gray, Sample{GRAY_DEPTH, ".jpg"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegistry, tif, Sample{COLOUR_DEPTH, ".tif"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveRegistry, tif, Sample{COLOUR_DEPTH, ".tif"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegistry, tif_bilevel_g4, Sample{BILEVEL_DEPTH, ".tif"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegistry, ppm, Sample{COLOUR_DEPTH, ".ppm"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveRegistry, ppm, Sample{COLOUR_DEPTH, ".ppm"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegistry, pbm, Sample{BILEVEL_DEPTH, ".pbm"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveRegistry, pbm, Sample{BILEVEL_DEPTH, ".pbm"})->Unit(benchmark::kMillisecond);

#ifdef DOVODA_HAVE_OPENCV
// The sample of a depth as OpenCV holds it: BGR for colour, one channel
// for gray and bilevel.
cv::Mat sampleMat(int depth = COLOUR_DEPTH)
{
    if (depth == BILEVEL_DEPTH) {
        const KpImage gray = KpBitsPerPixelConverter::kpBinary2Gray(sampleImage(depth));
        return cv::Mat(HEIGHT, WIDTH, CV_8UC1, gray.kpGetData(), static_cast<std::size_t>(gray.kpGetBytesPerRow()))
            .clone();
    }
    const KpImage& image = sampleImage(depth);
    const std::size_t step = static_cast<std::size_t>(image.kpGetBytesPerRow());
    if (depth == GRAY_DEPTH) {
        return cv::Mat(HEIGHT, WIDTH, CV_8UC1, image.kpGetData(), step).clone();
    }
    cv::Mat rgb(HEIGHT, WIDTH, CV_8UC3, image.kpGetData(), step);
    cv::Mat bgr;
    cv::cvtColor(rgb, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

int readModeOf(int depth)
{
    return depth == COLOUR_DEPTH ? cv::IMREAD_COLOR : cv::IMREAD_GRAYSCALE;
}

void BM_LoadOpenCV(benchmark::State& state, const Sample& sample)
{
    cv::setNumThreads(1);
    const std::string& file = sampleFile(sample);
    for (auto _ : state) {
        cv::Mat image = cv::imread(file, readModeOf(sample.depth));
        benchmark::DoNotOptimize(image.data);
    }
    labelSize(state, sample.depth);
}

// parameters: OpenCV's imwrite parameters, empty for its defaults.
void BM_SaveOpenCV(benchmark::State& state, const Sample& sample, std::vector<int> parameters)
{
    cv::setNumThreads(1);
    const cv::Mat image = sampleMat(sample.depth);
    const std::string file = benchPath("cvsave", stemOf(sample));
    for (auto _ : state) {
        cv::imwrite(file, image, parameters);
    }
    std::remove(file.c_str());
    labelSize(state, sample.depth);
}

BENCHMARK_CAPTURE(BM_LoadOpenCV, png, Sample{COLOUR_DEPTH, ".png"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, png_defaults, Sample{COLOUR_DEPTH, ".png"}, std::vector<int>())
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, png_level6, Sample{COLOUR_DEPTH, ".png"},
                  std::vector<int>{cv::IMWRITE_PNG_COMPRESSION, 6})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadOpenCV, bmp, Sample{COLOUR_DEPTH, ".bmp"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, bmp, Sample{COLOUR_DEPTH, ".bmp"}, std::vector<int>())
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadOpenCV, jpg, Sample{COLOUR_DEPTH, ".jpg"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, jpg, Sample{COLOUR_DEPTH, ".jpg"}, std::vector<int>{cv::IMWRITE_JPEG_QUALITY, 95})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadOpenCV, jpg_gray, Sample{GRAY_DEPTH, ".jpg"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, jpg_gray, Sample{GRAY_DEPTH, ".jpg"},
                  std::vector<int>{cv::IMWRITE_JPEG_QUALITY, 95})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadOpenCV, tif, Sample{COLOUR_DEPTH, ".tif"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, tif, Sample{COLOUR_DEPTH, ".tif"},
                  std::vector<int>{cv::IMWRITE_TIFF_COMPRESSION, 32773})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadOpenCV, tif_bilevel_g4, Sample{BILEVEL_DEPTH, ".tif"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadOpenCV, ppm, Sample{COLOUR_DEPTH, ".ppm"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, ppm, Sample{COLOUR_DEPTH, ".ppm"}, std::vector<int>())
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadOpenCV, pbm, Sample{BILEVEL_DEPTH, ".pbm"})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, pbm, Sample{BILEVEL_DEPTH, ".pbm"}, std::vector<int>())
    ->Unit(benchmark::kMillisecond);
#endif

} // namespace

BENCHMARK_MAIN();
