// Loading and saving a 4096 x 3072 colour image through the format
// registry, and, when OpenCV is present, cv::imread and cv::imwrite of
// the same files in the same run (OpenCV on one thread). Each format is
// one BENCHMARK_CAPTURE line per operation below. A bitmap (.pbm) holds
// one bit per pixel: it is saved from the image thresholded to black and
// white, which OpenCV is given as 8-bit gray, the store it reads bitmaps
// into.
//
// zlib levels: our PNG writer uses libpng's default (zlib level 6);
// cv::imwrite is timed with its own defaults and with level 6
// (IMWRITE_PNG_COMPRESSION) for a like-for-like comparison.

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
const int GRAY_THRESHOLD = 127;

bool isBitmap(const std::string& extension)
{
    return extension == ".pbm";
}

const KpImage& colourImage()
{
    static const KpImage image = benchsupport::makePhotoLikeImage(WIDTH, HEIGHT, COLOUR_DEPTH);
    return image;
}

const KpImage& binaryImage()
{
    static const KpImage image = KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(
        KpBitsPerPixelConverter::kpDownscaleColor2Gray_average(colourImage()), GRAY_THRESHOLD);
    return image;
}

const KpImage& sampleImage(const std::string& extension)
{
    return isBitmap(extension) ? binaryImage() : colourImage();
}

std::string benchPath(const std::string& stem, const std::string& extension)
{
    return "/tmp/dovoda-bench-" + std::to_string(getpid()) + "-" + stem + extension;
}

// The sample image saved once per format through the registry; removed
// at exit.
const std::string& sampleFile(const std::string& extension)
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
    auto found = files.names.find(extension);
    if (found == files.names.end()) {
        const std::string name = benchPath("sample", extension);
        KpImage image = sampleImage(extension);
        image.kpSaveImage(name.c_str());
        found = files.names.emplace(extension, name).first;
    }
    return found->second;
}

void labelSize(benchmark::State& state, const std::string& extension)
{
    state.SetLabel(std::to_string(WIDTH) + "x" + std::to_string(HEIGHT) + (isBitmap(extension) ? " 1-bit" : " RGB"));
}

void BM_LoadRegistry(benchmark::State& state, const std::string& extension)
{
    const std::string& file = sampleFile(extension);
    for (auto _ : state) {
        KpImage image(file.c_str(), nullptr);
        benchmark::DoNotOptimize(image.kpGetData());
    }
    labelSize(state, extension);
}

void BM_SaveRegistry(benchmark::State& state, const std::string& extension)
{
    KpImage image = sampleImage(extension);
    const std::string file = benchPath("save", extension);
    for (auto _ : state) {
        image.kpSaveImage(file.c_str());
    }
    std::remove(file.c_str());
    labelSize(state, extension);
}

BENCHMARK_CAPTURE(BM_LoadRegistry, png, std::string(".png"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveRegistry, png, std::string(".png"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegistry, bmp, std::string(".bmp"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveRegistry, bmp, std::string(".bmp"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegistry, ppm, std::string(".ppm"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveRegistry, ppm, std::string(".ppm"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadRegistry, pbm, std::string(".pbm"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveRegistry, pbm, std::string(".pbm"))->Unit(benchmark::kMillisecond);

#ifdef DOVODA_HAVE_OPENCV
cv::Mat sampleMat(const std::string& extension)
{
    if (isBitmap(extension)) {
        const KpImage gray = KpBitsPerPixelConverter::kpBinary2Gray(binaryImage());
        return cv::Mat(HEIGHT, WIDTH, CV_8UC1, gray.kpGetData()).clone();
    }
    const KpImage& image = colourImage();
    cv::Mat rgb(HEIGHT, WIDTH, CV_8UC3, image.kpGetData(), static_cast<std::size_t>(image.kpGetBytesPerRow()));
    cv::Mat bgr;
    cv::cvtColor(rgb, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

void BM_LoadOpenCV(benchmark::State& state, const std::string& extension)
{
    cv::setNumThreads(1);
    const std::string& file = sampleFile(extension);
    const int flags = isBitmap(extension) ? cv::IMREAD_GRAYSCALE : cv::IMREAD_COLOR;
    for (auto _ : state) {
        cv::Mat image = cv::imread(file, flags);
        benchmark::DoNotOptimize(image.data);
    }
    labelSize(state, extension);
}

// parameters: OpenCV's imwrite parameters, empty for its defaults.
void BM_SaveOpenCV(benchmark::State& state, const std::string& extension, std::vector<int> parameters)
{
    cv::setNumThreads(1);
    const cv::Mat image = sampleMat(extension);
    const std::string file = benchPath("cvsave", extension);
    for (auto _ : state) {
        cv::imwrite(file, image, parameters);
    }
    std::remove(file.c_str());
    labelSize(state, extension);
}

BENCHMARK_CAPTURE(BM_LoadOpenCV, png, std::string(".png"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, png_defaults, std::string(".png"), std::vector<int>())
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, png_level6, std::string(".png"),
                  std::vector<int>{cv::IMWRITE_PNG_COMPRESSION, 6})
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadOpenCV, bmp, std::string(".bmp"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, bmp, std::string(".bmp"), std::vector<int>())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadOpenCV, ppm, std::string(".ppm"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, ppm, std::string(".ppm"), std::vector<int>())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadOpenCV, pbm, std::string(".pbm"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SaveOpenCV, pbm, std::string(".pbm"), std::vector<int>())->Unit(benchmark::kMillisecond);
#endif

} // namespace

BENCHMARK_MAIN();
