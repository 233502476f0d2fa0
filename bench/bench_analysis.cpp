// Speed of the depth conversions, the inversion, the thinning and the
// integer-matrix dump on photograph-sized images. When OpenCV with its
// contrib modules is present, its two thinning variants run on the same
// binary images and the ratios are printed at the end.
//
// The thin-stroke image stands in for the binarised edge image of a
// photograph: the outline (black pixels with a white 4-neighbour) of the
// binarised photo-like image.

#include "benchsupport.h"
#include "intmat.h"
#include "kpbitsperpixelconverter.h"
#include "kpskeleton.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>

#ifdef DOVODA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/ximgproc.hpp>
#endif

using Converter = KpBitsPerPixelConverter;

namespace {

constexpr int BLOB_WIDTH = 2048;
constexpr int BLOB_HEIGHT = 1536;
constexpr int THRESHOLD = 127;

const KpImage& photoGray()
{
    return benchsupport::sharedPhoto(8);
}

const KpImage& photoColour()
{
    return benchsupport::sharedPhoto(24);
}

const KpImage& photoBinary()
{
    static const KpImage image = Converter::kpDownscaleGray2Binary_global(photoGray(), THRESHOLD);
    return image;
}

// Thick blobs: the binarised 2048 x 1536 photo-like image.
const KpImage& blobBinary()
{
    static const KpImage image =
        Converter::kpDownscaleGray2Binary_global(benchsupport::makePhotoLikeImage(BLOB_WIDTH, BLOB_HEIGHT, 8), THRESHOLD);
    return image;
}

// Thin strokes: the outline of the binarised 12-megapixel photo-like image.
KpImage makeOutline(const KpImage& binary)
{
    const KpImage gray = Converter::kpBinary2Gray(binary);
    KpImage outline = gray;
    const int w = gray.kpGetWidth(), h = gray.kpGetHeight();
    const uint8_t* in = gray.kpGetData();
    uint8_t* out = outline.kpGetData();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            const bool whiteNext = (x > 0 && in[i - 1] != 0) || (x + 1 < w && in[i + 1] != 0) ||
                                   (y > 0 && in[i - w] != 0) || (y + 1 < h && in[i + w] != 0);
            out[i] = in[i] == 0 && whiteNext ? 0 : 255;
        }
    }
    return Converter::kpDownscaleGray2Binary_global(outline, THRESHOLD);
}

const KpImage& strokeBinary()
{
    static const KpImage image = makeOutline(photoBinary());
    return image;
}

// Processor time of this process in nanoseconds: on a shared machine it
// is steadier than the wall clock.
double processNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// Times operation(source) with the result dropped after each call, as a
// caller that uses it once would; reports processor nanoseconds per pixel
// and output bytes per processor second.
template <typename Operation>
void timeConversion(benchmark::State& state, const KpImage& source, Operation operation)
{
    std::size_t outputBytes = 0;
    const double start = processNanoseconds();
    for (auto _ : state) {
        const KpImage result = operation(source);
        outputBytes = result.kpGetImageSize();
        benchmark::DoNotOptimize(result.kpGetData());
    }
    const double elapsed = processNanoseconds() - start;
    const double pixels = static_cast<double>(source.kpGetWidth()) * source.kpGetHeight();
    state.counters["ns_per_pixel"] = elapsed / (static_cast<double>(state.iterations()) * pixels);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(outputBytes));
}

void BM_Gray2Binary_global(benchmark::State& state)
{
    timeConversion(state, photoGray(), [](const KpImage& s) { return Converter::kpDownscaleGray2Binary_global(s, THRESHOLD); });
}
void BM_Binary2Gray(benchmark::State& state)
{
    timeConversion(state, photoBinary(), [](const KpImage& s) { return Converter::kpBinary2Gray(s); });
}
void BM_Color2Gray_average(benchmark::State& state)
{
    timeConversion(state, photoColour(), [](const KpImage& s) { return Converter::kpDownscaleColor2Gray_average(s); });
}
void BM_ReverseImage_gray(benchmark::State& state)
{
    timeConversion(state, photoGray(), [](const KpImage& s) { return s.kpReverseImage(); });
}
void BM_ReverseImage_binary(benchmark::State& state)
{
    timeConversion(state, photoBinary(), [](const KpImage& s) { return s.kpReverseImage(); });
}
void BM_ReverseImage_colour(benchmark::State& state)
{
    timeConversion(state, photoColour(), [](const KpImage& s) { return s.kpReverseImage(); });
}

int passesOf(const KpImage& binary)
{
    KpImage gray = Converter::kpBinary2Gray(binary);
    return KpSkeleton::kpThinningLoop(gray.kpGetData(), gray.kpGetHeight(), gray.kpGetWidth());
}

void timeSkeleton(benchmark::State& state, const KpImage& binary)
{
    for (auto _ : state) {
        KpImage thin = KpSkeleton::kpSkeletonize(binary);
        benchmark::DoNotOptimize(thin.kpGetData());
    }
    state.counters["passes"] = passesOf(binary);
}

void BM_Skeletonize_strokes(benchmark::State& state)
{
    timeSkeleton(state, strokeBinary());
}
void BM_Skeletonize_blobs(benchmark::State& state)
{
    timeSkeleton(state, blobBinary());
}

#ifdef DOVODA_HAVE_OPENCV
// The peer thins white strokes on black: black pixels of ours become 255.
cv::Mat whiteForeground(const KpImage& binary)
{
    const KpImage gray = Converter::kpBinary2Gray(binary).kpReverseImage();
    cv::Mat mat(gray.kpGetHeight(), gray.kpGetWidth(), CV_8UC1);
    std::memcpy(mat.data, gray.kpGetData(), gray.kpGetImageSize());
    return mat;
}

void timeOpenCvThinning(benchmark::State& state, const KpImage& binary, int type)
{
    const cv::Mat source = whiteForeground(binary);
    cv::Mat thin;
    for (auto _ : state) {
        cv::ximgproc::thinning(source, thin, type);
        benchmark::DoNotOptimize(thin.data);
    }
}

void BM_OpenCvZhangSuen_strokes(benchmark::State& state)
{
    timeOpenCvThinning(state, strokeBinary(), cv::ximgproc::THINNING_ZHANGSUEN);
}
void BM_OpenCvGuoHall_strokes(benchmark::State& state)
{
    timeOpenCvThinning(state, strokeBinary(), cv::ximgproc::THINNING_GUOHALL);
}
void BM_OpenCvZhangSuen_blobs(benchmark::State& state)
{
    timeOpenCvThinning(state, blobBinary(), cv::ximgproc::THINNING_ZHANGSUEN);
}
void BM_OpenCvGuoHall_blobs(benchmark::State& state)
{
    timeOpenCvThinning(state, blobBinary(), cv::ximgproc::THINNING_GUOHALL);
}
#endif

// The linker's map: 1 on stroke pixels, 0 elsewhere.
const IntMat& strokeMatrix()
{
    static const IntMat matrix = [] {
        IntMat m;
        m.loadFromImage(strokeBinary().kpReverseImage(), 255);
        return m;
    }();
    return matrix;
}

void timeDump(benchmark::State& state, const std::string& fileName)
{
    const IntMat& matrix = strokeMatrix();
    for (auto _ : state) {
        if (matrix.writeText(fileName) != 1) {
            state.SkipWithError("dump failed");
            break;
        }
    }
    // Three characters a cell, two a row.
    const int64_t bytes = (3 * static_cast<int64_t>(matrix.cols()) + 2) * matrix.rows();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

void BM_IntMatWriteText_file(benchmark::State& state)
{
    const std::string fileName = "/tmp/dovoda-bench-intmat-" + std::to_string(getpid()) + ".txt";
    timeDump(state, fileName);
    std::remove(fileName.c_str());
}
void BM_IntMatWriteText_devnull(benchmark::State& state)
{
    timeDump(state, "/dev/null");
}

BENCHMARK(BM_Gray2Binary_global)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Binary2Gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Color2Gray_average)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReverseImage_gray)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReverseImage_binary)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReverseImage_colour)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Skeletonize_strokes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Skeletonize_blobs)->Unit(benchmark::kMillisecond);
#ifdef DOVODA_HAVE_OPENCV
BENCHMARK(BM_OpenCvZhangSuen_strokes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvGuoHall_strokes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvZhangSuen_blobs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvGuoHall_blobs)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_IntMatWriteText_file)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IntMatWriteText_devnull)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // Our thinning against each peer variant on each image.
    return benchsupport::runBenchmarks(argc, argv,
                                       {{"BM_Skeletonize_strokes", "BM_OpenCvZhangSuen_strokes"},
                                        {"BM_Skeletonize_strokes", "BM_OpenCvGuoHall_strokes"},
                                        {"BM_Skeletonize_blobs", "BM_OpenCvZhangSuen_blobs"},
                                        {"BM_Skeletonize_blobs", "BM_OpenCvGuoHall_blobs"}});
}
