// Speed of the geometric operations on 12-megapixel photo-like images,
// 8-bit and 24-bit, in processor nanoseconds per source pixel: a cut-out
// of the middle quarter, scaling to half and to twice the size, rotation
// by 30 degrees and both mirrorings. Each call returns a new image, so
// the peer's calls write into a fresh matrix each time too. When OpenCV
// is installed its peers run single-threaded in the same run: a copy of a
// region, resize (bilinear), warpAffine (nearest pixel, onto the same
// grown canvas) and flip, whose results are first checked against ours.

#include "benchsupport.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <cstdio>
#include <cstring>

#ifdef DOVODA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int WIDTH = benchsupport::PHOTO_WIDTH;
constexpr int HEIGHT = benchsupport::PHOTO_HEIGHT;
constexpr double PIXELS = static_cast<double>(WIDTH) * HEIGHT;
constexpr int CUT_X = WIDTH / 4;
constexpr int CUT_Y = HEIGHT / 4;
constexpr double ANGLE = 30.0;

const KpImage& photo(int depth)
{
    return benchsupport::sharedPhoto(depth);
}

template <typename Operation>
void timeOperation(benchmark::State& state, Operation operation)
{
    benchsupport::timePerPixel(state, PIXELS, operation);
}

void BM_SubImage(benchmark::State& state, int depth)
{
    const KpImage& source = photo(depth);
    timeOperation(state, [&source] { return source.SubImage(CUT_X, CUT_Y, WIDTH / 2, HEIGHT / 2); });
}
void BM_ResizeHalf(benchmark::State& state, int depth)
{
    const KpImage& source = photo(depth);
    timeOperation(state, [&source] { return source.ResizeImage(WIDTH / 2, HEIGHT / 2); });
}
void BM_ResizeDouble(benchmark::State& state, int depth)
{
    const KpImage& source = photo(depth);
    timeOperation(state, [&source] { return source.ResizeImage(WIDTH * 2, HEIGHT * 2); });
}
void BM_Rotate30(benchmark::State& state, int depth)
{
    const KpImage& source = photo(depth);
    timeOperation(state, [&source] { return source.kpRotateImage(ANGLE); });
}
void BM_FlipLeftRight(benchmark::State& state, int depth)
{
    const KpImage& source = photo(depth);
    timeOperation(state, [&source] { return source.kpFlipImage(1); });
}
void BM_FlipUpsideDown(benchmark::State& state, int depth)
{
    const KpImage& source = photo(depth);
    timeOperation(state, [&source] { return source.kpFlipImage(2); });
}

BENCHMARK_CAPTURE(BM_SubImage, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SubImage, colour, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ResizeHalf, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ResizeHalf, colour, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ResizeDouble, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ResizeDouble, colour, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rotate30, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rotate30, colour, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlipLeftRight, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlipLeftRight, colour, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlipUpsideDown, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FlipUpsideDown, colour, 24)->Unit(benchmark::kMillisecond);

#ifdef DOVODA_HAVE_OPENCV
// Our rotation as an inverse map: canvas pixel (x, y) samples the source at
// ((x - nx) c + (y - ny) s + ox, -(x - nx) s + (y - ny) c + oy).
cv::Mat rotationMap(const KpImage& source, const KpImage& rotated)
{
    const double a = ANGLE * 3.14159265359 / 180;
    const double c = std::cos(a), s = std::sin(a);
    const double ox = source.kpGetWidth() / 2, oy = source.kpGetHeight() / 2;
    const double nx = rotated.kpGetWidth() / 2, ny = rotated.kpGetHeight() / 2;
    return (cv::Mat_<double>(2, 3) << c, s, ox - nx * c - ny * s, -s, c, oy + nx * s - ny * c);
}

struct Rotation {
    cv::Mat map;
    cv::Size canvas;
};

const Rotation& rotation()
{
    static const Rotation r = [] {
        const KpImage rotated = photo(8).kpRotateImage(ANGLE);
        return Rotation{rotationMap(photo(8), rotated), cv::Size(rotated.kpGetWidth(), rotated.kpGetHeight())};
    }();
    return r;
}

void BM_OpenCvRoiCopy(benchmark::State& state, int depth)
{
    const cv::Mat source = benchsupport::matOf(photo(depth));
    timeOperation(state, [&source] { return source(cv::Rect(CUT_X, CUT_Y, WIDTH / 2, HEIGHT / 2)).clone(); });
}
void openCvResize(benchmark::State& state, int depth, int width, int height)
{
    const cv::Mat source = benchsupport::matOf(photo(depth));
    timeOperation(state, [&source, width, height] {
        cv::Mat result;
        cv::resize(source, result, cv::Size(width, height), 0, 0, cv::INTER_LINEAR);
        return result;
    });
}
void BM_OpenCvResizeHalf(benchmark::State& state, int depth)
{
    openCvResize(state, depth, WIDTH / 2, HEIGHT / 2);
}
void BM_OpenCvResizeDouble(benchmark::State& state, int depth)
{
    openCvResize(state, depth, WIDTH * 2, HEIGHT * 2);
}
void BM_OpenCvWarpAffine30(benchmark::State& state, int depth)
{
    const cv::Mat source = benchsupport::matOf(photo(depth));
    const Rotation& r = rotation();
    timeOperation(state, [&source, &r] {
        cv::Mat result;
        cv::warpAffine(source, result, r.map, r.canvas, cv::INTER_NEAREST | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT,
                       cv::Scalar::all(255));
        return result;
    });
}
void openCvFlip(benchmark::State& state, int depth, int code)
{
    const cv::Mat source = benchsupport::matOf(photo(depth));
    timeOperation(state, [&source, code] {
        cv::Mat result;
        cv::flip(source, result, code);
        return result;
    });
}
void BM_OpenCvFlipLeftRight(benchmark::State& state, int depth)
{
    openCvFlip(state, depth, 1);
}
void BM_OpenCvFlipUpsideDown(benchmark::State& state, int depth)
{
    openCvFlip(state, depth, 0);
}

BENCHMARK_CAPTURE(BM_OpenCvRoiCopy, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvRoiCopy, colour, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvResizeHalf, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvResizeHalf, colour, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvResizeDouble, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvResizeDouble, colour, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvWarpAffine30, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvWarpAffine30, colour, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvFlipLeftRight, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvFlipLeftRight, colour, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvFlipUpsideDown, gray, 8)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OpenCvFlipUpsideDown, colour, 24)->Unit(benchmark::kMillisecond);

void checkFlips()
{
    for (int depth : {8, 24}) {
        for (int direction : {1, 2}) {
            cv::Mat flipped;
            cv::flip(benchsupport::matOf(photo(depth)), flipped, direction == 1 ? 1 : 0);
            const KpImage ours = photo(depth).kpFlipImage(direction);
            const bool agrees = std::memcmp(flipped.data, ours.kpGetData(), ours.kpGetImageSize()) == 0;
            std::printf("oracle flip %d, %d bits: %s\n", direction, depth, agrees ? "agrees" : "DIFFERS");
        }
    }
}
#endif

} // namespace

int main(int argc, char** argv)
{
    photo(8);
#ifdef DOVODA_HAVE_OPENCV
    cv::setNumThreads(1);
    rotation();
    checkFlips();
#endif
    std::vector<std::pair<std::string, std::string>> ratios;
    for (const char* depth : {"gray", "colour"}) {
        for (const char* ours : {"SubImage", "ResizeHalf", "ResizeDouble", "Rotate30", "FlipLeftRight", "FlipUpsideDown"}) {
            const std::string peer = std::string(ours) == "SubImage" ? "RoiCopy" : std::string(ours) == "Rotate30" ? "WarpAffine30" : ours;
            ratios.push_back({std::string("BM_") + ours + "/" + depth, "BM_OpenCv" + peer + "/" + depth});
        }
    }
    return benchsupport::runBenchmarks(argc, argv, ratios);
}
