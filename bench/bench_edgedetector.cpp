// Times one edge detection of a 4096 x 3072 photo-like gray image and,
// when OpenCV is present, the same image through a 9x9 Gaussian blur
// (sigma 1.5) and an L2-gradient Canny on one thread. Also reports the
// peak heap bytes per pixel that one detection allocates.
#include "benchsupport.h"
#include "kpedgedetector.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <new>

#ifdef DOVODA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

// Heap accounting of operator new: a size header before every block.
std::size_t liveBytes = 0;
std::size_t peakBytes = 0;
const std::size_t HEADER = 16;

void* countedAllocate(std::size_t size)
{
    char* block = static_cast<char*>(std::malloc(size + HEADER));
    if (block == nullptr) {
        return nullptr;
    }
    *reinterpret_cast<std::size_t*>(block) = size;
    liveBytes += size;
    peakBytes = std::max(peakBytes, liveBytes);
    return block + HEADER;
}

void countedRelease(void* pointer)
{
    if (pointer != nullptr) {
        char* block = static_cast<char*>(pointer) - HEADER;
        liveBytes -= *reinterpret_cast<std::size_t*>(block);
        std::free(block);
    }
}

const int WIDTH = 4096;
const int HEIGHT = 3072;
const int RUNS = 5;

template <typename Step>
double bestMilliseconds(Step step)
{
    double best = 1e30;
    for (int i = 0; i < RUNS; ++i) {
        const auto start = std::chrono::steady_clock::now();
        step();
        const auto stop = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(stop - start).count());
    }
    return best;
}

} // namespace

void* operator new(std::size_t size)
{
    void* p = countedAllocate(size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return countedAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return countedAllocate(size); }
void operator delete(void* p) noexcept { countedRelease(p); }
void operator delete[](void* p) noexcept { countedRelease(p); }
void operator delete(void* p, std::size_t) noexcept { countedRelease(p); }
void operator delete[](void* p, std::size_t) noexcept { countedRelease(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { countedRelease(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { countedRelease(p); }

int main()
{
    const KpImage input = benchsupport::makePhotoLikeImage(WIDTH, HEIGHT, 8, 2024);
    const double pixels = double(WIDTH) * HEIGHT;
    const KpEdgeDetector detector;

    const std::size_t before = liveBytes;
    peakBytes = liveBytes;
    detector.detectEdges(input);
    const double peakPerPixel = double(peakBytes - before) / pixels;

    const double ours = bestMilliseconds([&] { detector.detectEdges(input); });
    std::printf("detectEdges %dx%d: %.1f ms, %.2f ns/pixel, peak %.2f bytes/pixel\n", WIDTH, HEIGHT, ours,
                ours * 1e6 / pixels, peakPerPixel);

#ifdef DOVODA_HAVE_OPENCV
    // Fixed thresholds on the L2 gradient of the 8-bit blurred image.
    const double cannyLow = 20.0, cannyHigh = 60.0;
    cv::setNumThreads(1);
    const cv::Mat gray(HEIGHT, WIDTH, CV_8UC1, input.kpGetData(), input.kpGetBytesPerRow());
    cv::Mat blurred, edges;
    const double peer = bestMilliseconds([&] {
        cv::GaussianBlur(gray, blurred, cv::Size(9, 9), 1.5);
        cv::Canny(blurred, edges, cannyLow, cannyHigh, 3, true);
    });
    std::printf("OpenCV GaussianBlur 9x9 + Canny L2 (%.0f/%.0f): %.1f ms, %.2f ns/pixel\n", cannyLow, cannyHigh,
                peer, peer * 1e6 / pixels);
    std::printf("ratio detectEdges / OpenCV: %.2f\n", ours / peer);
#endif
    return 0;
}
