// Speed of the adaptive thresholding on document-like pages of 1, 4 and
// 12 megapixels, every method with the tile statistics, in processor
// nanoseconds per pixel; the literal reading (a cut-out and its
// statistics per window) runs at 1 megapixel. When OpenCV with its
// contrib modules is installed, niBlackThreshold (Niblack and Sauvola,
// over windows of S + 1 pixels, S the window of our tiles) runs
// single-threaded on the same pages in the same run. The time per pixel
// should not grow with the page: compare ns_per_pixel across the sizes.
//
// The peers threshold every pixel over its own odd window with the
// deviation of the population, so their results only resemble ours: the
// share of pixels on which they agree is printed for Niblack and Sauvola,
// against OpenCV and, when /usr/bin/python3 has scikit-image, against its
// threshold_niblack (k negated) and threshold_sauvola (R = 128).

#include "benchsupport.h"
#include "documentlikeimage.h"
#include "kpbitsperpixelconverter.h"
#include "referenceniblack.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef DOVODA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/ximgproc.hpp>
#endif

namespace {

using Converter = KpBitsPerPixelConverter;

struct PageSize {
    int width;
    int height;
};

// About 1, 4 and 12 megapixels, 4 : 3.
const PageSize SIZES[] = {{1152, 864}, {2304, 1728}, {4096, 3072}};

// The k of each method: Niblack and the modified rule look for dark text
// below the mean, Sauvola and Wolf/Jolion take a positive gain.
const double K[] = {-0.2, 0.5, 0.5, -0.5};
const char* const METHOD_NAMES[] = {"Niblack", "Sauvola", "WolfJolion", "ModifiedNiblack"};

const KpImage& page(int size)
{
    static const KpImage pages[] = {benchsupport::makeDocumentLikeImage(SIZES[0].width, SIZES[0].height),
                                    benchsupport::makeDocumentLikeImage(SIZES[1].width, SIZES[1].height),
                                    benchsupport::makeDocumentLikeImage(SIZES[2].width, SIZES[2].height)};
    return pages[size];
}

double pixelsOf(int size)
{
    return static_cast<double>(SIZES[size].width) * SIZES[size].height;
}

// S, the side of the statistics windows of a page.
int windowOf(int size)
{
    const int tile = std::max(1, 2 * static_cast<int>(std::log(pixelsOf(size))));
    return tile + 2 * (tile / 4);
}

void BM_Niblack(benchmark::State& state, int method, int size)
{
    const KpImage& source = page(size);
    for (auto _ : state) {
        KpImage result = Converter::kpDownscaleGray2Binary_niblack(source, method, K[method], true);
        benchmark::DoNotOptimize(result.kpGetData());
    }
    benchsupport::setTimePerPixel(state, pixelsOf(size));
}

void BM_NiblackReference(benchmark::State& state, int method, int size)
{
    const KpImage& source = page(size);
    for (auto _ : state) {
        KpImage result = referenceniblack::threshold(source, method, K[method], true);
        benchmark::DoNotOptimize(result.kpGetData());
    }
    benchsupport::setTimePerPixel(state, pixelsOf(size));
}

#ifdef DOVODA_HAVE_OPENCV
cv::Mat openCvThreshold(const KpImage& image, int size, int method)
{
    cv::Mat result;
    const auto type = method == 0 ? cv::ximgproc::BINARIZATION_NIBLACK : cv::ximgproc::BINARIZATION_SAUVOLA;
    cv::ximgproc::niBlackThreshold(benchsupport::matOf(image), result, 255, cv::THRESH_BINARY, windowOf(size) + 1, K[method], type, 128);
    return result;
}

void BM_OpenCvNiBlack(benchmark::State& state, int method, int size)
{
    const KpImage& source = page(size);
    for (auto _ : state) {
        cv::Mat result = openCvThreshold(source, size, method);
        benchmark::DoNotOptimize(result.data);
    }
    benchsupport::setTimePerPixel(state, pixelsOf(size));
}
#endif

// The share of pixels on which a peer's 0/255 result agrees with ours.
double agreement(const KpImage& ours, const uint8_t* peer)
{
    const KpImage gray = Converter::kpBinary2Gray(ours);
    std::size_t same = 0;
    for (std::size_t i = 0; i < gray.kpGetImageSize(); ++i) {
        same += (gray.kpGetData()[i] != 0) == (peer[i] != 0);
    }
    return static_cast<double>(same) / static_cast<double>(gray.kpGetImageSize());
}

// scikit-image on the 1-megapixel page through /usr/bin/python3, when it
// is there: the page goes in and the results come back as raw bytes.
void reportScikitImage(const KpImage& niblack, const KpImage& sauvola, int window)
{
    const char* python = "/usr/bin/python3";
    if (access(python, X_OK) != 0 || std::system("/usr/bin/python3 -c 'import skimage' 2>/dev/null") != 0) {
        std::printf("agreement with scikit-image: skipped (no scikit-image for /usr/bin/python3)\n");
        return;
    }
    const std::string base = "/tmp/dovoda-bench-niblack-" + std::to_string(getpid());
    const KpImage& source = page(0);
    FILE* out = std::fopen((base + ".in").c_str(), "wb");
    std::fwrite(source.kpGetData(), 1, source.kpGetImageSize(), out);
    std::fclose(out);
    const std::string script =
        "import numpy as np, skimage.filters as f; w, h, s, k0, k1 = " + std::to_string(source.kpGetWidth()) + ", " +
        std::to_string(source.kpGetHeight()) + ", " + std::to_string(window + 1) + ", " + std::to_string(K[0]) + ", " +
        std::to_string(K[1]) + "; p = np.fromfile('" + base + ".in', np.uint8).reshape(h, w).astype(float); "
        "(p >= f.threshold_niblack(p, s, -k0)).astype(np.uint8).tofile('" + base + ".niblack'); "
        "(p >= f.threshold_sauvola(p, s, k1, 128)).astype(np.uint8).tofile('" + base + ".sauvola')";
    if (std::system((std::string(python) + " -c \"" + script + "\"").c_str()) == 0) {
        for (const auto& result : {std::make_pair(".niblack", &niblack), std::make_pair(".sauvola", &sauvola)}) {
            std::vector<uint8_t> bytes(source.kpGetImageSize());
            FILE* in = std::fopen((base + result.first).c_str(), "rb");
            const bool complete = in != nullptr && std::fread(bytes.data(), 1, bytes.size(), in) == bytes.size();
            if (in != nullptr) {
                std::fclose(in);
            }
            if (complete) {
                std::printf("agreement with scikit-image threshold_%s: %.2f%%\n", result.first + 1,
                            100 * agreement(*result.second, bytes.data()));
            }
            std::remove((base + result.first).c_str());
        }
    }
    std::remove((base + ".in").c_str());
}

void reportAgreement()
{
    const KpImage niblack = Converter::kpDownscaleGray2Binary_niblack(page(0), 0, K[0], true);
    const KpImage sauvola = Converter::kpDownscaleGray2Binary_niblack(page(0), 1, K[1], true);
#ifdef DOVODA_HAVE_OPENCV
    std::printf("agreement with OpenCV niBlackThreshold NIBLACK: %.2f%%\n",
                100 * agreement(niblack, openCvThreshold(page(0), 0, 0).data));
    std::printf("agreement with OpenCV niBlackThreshold SAUVOLA: %.2f%%\n",
                100 * agreement(sauvola, openCvThreshold(page(0), 0, 1).data));
#endif
    reportScikitImage(niblack, sauvola, windowOf(0));
}

void registerBenchmarks(std::vector<std::pair<std::string, std::string>>& ratios)
{
    const char* const sizeNames[] = {"1MP", "4MP", "12MP"};
    for (int method = 0; method < 4; ++method) {
        for (int size = 0; size < 3; ++size) {
            const std::string name = std::string("BM_Niblack_") + METHOD_NAMES[method] + "/" + sizeNames[size];
            benchmark::RegisterBenchmark(name.c_str(), BM_Niblack, method, size)->Unit(benchmark::kMillisecond);
        }
        const std::string reference = std::string("BM_NiblackReference_") + METHOD_NAMES[method] + "/1MP";
        benchmark::RegisterBenchmark(reference.c_str(), BM_NiblackReference, method, 0)->Unit(benchmark::kMillisecond);
        ratios.push_back({reference, std::string("BM_Niblack_") + METHOD_NAMES[method] + "/1MP"});
    }
#ifdef DOVODA_HAVE_OPENCV
    for (int method = 0; method < 2; ++method) {
        for (int size = 0; size < 3; ++size) {
            const std::string name = std::string("BM_OpenCvNiBlack_") + METHOD_NAMES[method] + "/" + sizeNames[size];
            benchmark::RegisterBenchmark(name.c_str(), BM_OpenCvNiBlack, method, size)->Unit(benchmark::kMillisecond);
            ratios.push_back({std::string("BM_Niblack_") + METHOD_NAMES[method] + "/" + sizeNames[size], name});
        }
    }
#endif
}

} // namespace

int main(int argc, char** argv)
{
#ifdef DOVODA_HAVE_OPENCV
    cv::setNumThreads(1);
#endif
    for (int size = 0; size < 3; ++size) {
        page(size);
    }
    reportAgreement();
    std::vector<std::pair<std::string, std::string>> ratios;
    registerBenchmarks(ratios);
    return benchsupport::runBenchmarks(argc, argv, ratios);
}
