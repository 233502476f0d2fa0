// Speed of the component labelling on 4096 x 3072 binary images: a
// binarised photo-like image, a text-like page and 50 % random noise.
// Measured: run extraction with labelling, the whole creation of the
// components, the component map, and the small-component pass.
//
// With OpenCV (DOVODA_HAVE_OPENCV), connectedComponentsWithStats runs on
// the same images, single-threaded with 8-connectivity, alone and followed
// by the repainting of the small components; before timing, its component
// count, areas and bounding boxes are compared with ours as sets.
#include "benchsupport.h"
#include "kpbitsperpixelconverter.h"
#include "kpconnectedcomponents.h"
#include "kpconnectedcomponentsutils.h"
#include "kpedgelinker.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#ifdef DOVODA_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int WIDTH = 4096;
constexpr int HEIGHT = 3072;
constexpr int THRESHOLD = 127;
// Components below this many pixels are erased by the small-component pass.
constexpr int32_t MIN_AREA = 10;

KpImage makePhotoBinary()
{
    return KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(benchsupport::makePhotoLikeImage(WIDTH, HEIGHT, 8),
                                                                  THRESHOLD);
}

// Lines of glyph-sized marks: each glyph a few strokes two pixels thick
// in a 10 x 16 cell, words of 2 to 9 glyphs, 28 pixels from line to line.
KpImage makeTextPage()
{
    constexpr int MARGIN = 120, LINE = 28, CELL_WIDTH = 12, GLYPH_WIDTH = 10, GLYPH_HEIGHT = 16;
    std::mt19937 random(4242);
    std::uniform_int_distribution<int> wordLength(2, 9), strokes(2, 4), x(0, GLYPH_WIDTH - 2),
        y(0, GLYPH_HEIGHT - 2), kind(0, 2);
    KpImage page(WIDTH, HEIGHT, 8);
    uint8_t* data = page.kpGetData();
    const auto ink = [data](int px, int py) {
        data[static_cast<std::size_t>(py) * WIDTH + px] = 0;
        data[static_cast<std::size_t>(py) * WIDTH + px + 1] = 0;
        data[static_cast<std::size_t>(py + 1) * WIDTH + px] = 0;
    };
    for (int top = MARGIN; top + LINE < HEIGHT - MARGIN; top += LINE) {
        int left = MARGIN;
        while (left + 10 * CELL_WIDTH < WIDTH - MARGIN) {
            const int glyphs = wordLength(random);
            for (int g = 0; g < glyphs; ++g, left += CELL_WIDTH) {
                for (int s = strokes(random); s > 0; --s) {
                    const int x0 = x(random), y0 = y(random), direction = kind(random);
                    for (int t = 0; t < GLYPH_HEIGHT - 2; ++t) {
                        const int px = direction == 0 ? t * (GLYPH_WIDTH - 2) / (GLYPH_HEIGHT - 2) : x0 + (direction == 2 ? t / 3 : 0);
                        const int py = direction == 0 ? y0 : t;
                        if (px < GLYPH_WIDTH - 1 && py < GLYPH_HEIGHT - 1) {
                            ink(left + px, top + py);
                        }
                    }
                }
            }
            left += CELL_WIDTH;
        }
    }
    return KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(page, THRESHOLD);
}

KpImage makeNoise()
{
    KpImage noise(WIDTH, HEIGHT, 1);
    std::mt19937 random(99);
    uint8_t* data = noise.kpGetData();
    for (std::size_t i = 0; i < noise.kpGetImageSize(); ++i) {
        data[i] = static_cast<uint8_t>(random());
    }
    return noise;
}

const KpImage& photo()
{
    static const KpImage image = makePhotoBinary();
    return image;
}

const KpImage& page()
{
    static const KpImage image = makeTextPage();
    return image;
}

const KpImage& noise()
{
    static const KpImage image = makeNoise();
    return image;
}

// Run extraction and labelling of the black pixels, as the creation does
// them, without the inversion and the component records.
void timeLabelling(benchmark::State& state, const KpImage& image)
{
    KpImage inverted = image.kpReverseImage();
    std::size_t components = 0;
    for (auto _ : state) {
        const KpLabellingDescriptor D = KpConnectedComponentsUtils::kpLabelImage(inverted);
        components = D.ComponentList.size() - 1;
        benchmark::DoNotOptimize(D.ComponentList.data());
    }
    state.counters["components"] = static_cast<double>(components);
}

void timeCreation(benchmark::State& state, const KpImage& image)
{
    for (auto _ : state) {
        KpConnectedComponents components;
        components.kpCreateConnectedComponents(image);
        benchmark::DoNotOptimize(components.kpGetComponentCount());
    }
}

void timeMap(benchmark::State& state, const KpImage& image)
{
    KpConnectedComponents components;
    for (auto _ : state) {
        state.PauseTiming();
        components.kpCreateConnectedComponents(image);
        state.ResumeTiming();
        const std::vector<int32_t> map = components.kpGetConnectedCCMap();
        benchmark::DoNotOptimize(map.data());
    }
}

void timeRemoveSmall(benchmark::State& state, const KpImage& image)
{
    for (auto _ : state) {
        const KpImage result = KpEdgeLinker::removeSmallComponents(image, MIN_AREA);
        benchmark::DoNotOptimize(result.kpGetData());
    }
}

void BM_Labelling_photo(benchmark::State& state) { timeLabelling(state, photo()); }
void BM_Labelling_page(benchmark::State& state) { timeLabelling(state, page()); }
void BM_Labelling_noise(benchmark::State& state) { timeLabelling(state, noise()); }
void BM_Create_photo(benchmark::State& state) { timeCreation(state, photo()); }
void BM_Create_page(benchmark::State& state) { timeCreation(state, page()); }
void BM_Create_noise(benchmark::State& state) { timeCreation(state, noise()); }
void BM_CCMap_photo(benchmark::State& state) { timeMap(state, photo()); }
void BM_CCMap_page(benchmark::State& state) { timeMap(state, page()); }
void BM_CCMap_noise(benchmark::State& state) { timeMap(state, noise()); }
void BM_RemoveSmall_photo(benchmark::State& state) { timeRemoveSmall(state, photo()); }
void BM_RemoveSmall_page(benchmark::State& state) { timeRemoveSmall(state, page()); }
void BM_RemoveSmall_noise(benchmark::State& state) { timeRemoveSmall(state, noise()); }

BENCHMARK(BM_Labelling_photo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Labelling_page)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Labelling_noise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Create_photo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Create_page)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Create_noise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CCMap_photo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CCMap_page)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CCMap_noise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveSmall_photo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveSmall_page)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RemoveSmall_noise)->Unit(benchmark::kMillisecond);

#ifdef DOVODA_HAVE_OPENCV
// The peer's foreground: our black pixels as 255, the rest 0.
cv::Mat foregroundOf(const KpImage& binary)
{
    const KpImage gray = KpBitsPerPixelConverter::kpBinary2Gray(binary).kpReverseImage();
    cv::Mat mat(gray.kpGetHeight(), gray.kpGetWidth(), CV_8UC1);
    std::memcpy(mat.data, gray.kpGetData(), gray.kpGetImageSize());
    return mat;
}

using Box = std::tuple<int, int, int, int, int>; // area, left, top, width, height

std::vector<Box> ourBoxes(const KpImage& image)
{
    KpConnectedComponents components;
    components.kpCreateConnectedComponents(image);
    std::vector<Box> boxes;
    for (const KpComponent& c : components.kpGetComponents()) {
        boxes.emplace_back(c.kpGetArea(), c.kpGetLeft(), c.kpGetTop(), c.kpGetComponentWidth(),
                           c.kpGetComponentHeight());
    }
    std::sort(boxes.begin(), boxes.end());
    return boxes;
}

std::vector<Box> peerBoxes(const cv::Mat& foreground)
{
    cv::Mat labels, stats, centroids;
    const int count = cv::connectedComponentsWithStats(foreground, labels, stats, centroids, 8, CV_32S);
    std::vector<Box> boxes;
    for (int i = 1; i < count; ++i) {
        boxes.emplace_back(stats.at<int>(i, cv::CC_STAT_AREA), stats.at<int>(i, cv::CC_STAT_LEFT),
                           stats.at<int>(i, cv::CC_STAT_TOP), stats.at<int>(i, cv::CC_STAT_WIDTH),
                           stats.at<int>(i, cv::CC_STAT_HEIGHT));
    }
    std::sort(boxes.begin(), boxes.end());
    return boxes;
}

// False (after saying why) when the two labellings differ.
bool agreeWithPeer(const char* name, const KpImage& image)
{
    const std::vector<Box> ours = ourBoxes(image);
    const std::vector<Box> theirs = peerBoxes(foregroundOf(image));
    std::printf("%s: %zu components here, %zu in the peer: %s\n", name, ours.size(), theirs.size(),
                ours == theirs ? "counts, areas and boxes agree" : "THEY DIFFER");
    return ours == theirs;
}

void timePeerLabelling(benchmark::State& state, const KpImage& image)
{
    const cv::Mat foreground = foregroundOf(image);
    cv::Mat labels, stats, centroids;
    for (auto _ : state) {
        const int count = cv::connectedComponentsWithStats(foreground, labels, stats, centroids, 8, CV_32S);
        benchmark::DoNotOptimize(count);
    }
}

// The peer's labelling followed by the repainting of the pixels of every
// component below MIN_AREA.
void timePeerRemoveSmall(benchmark::State& state, const KpImage& image)
{
    const cv::Mat foreground = foregroundOf(image);
    cv::Mat labels, stats, centroids;
    for (auto _ : state) {
        const int count = cv::connectedComponentsWithStats(foreground, labels, stats, centroids, 8, CV_32S);
        std::vector<uint8_t> small(static_cast<std::size_t>(count), 0);
        for (int i = 1; i < count; ++i) {
            small[i] = stats.at<int>(i, cv::CC_STAT_AREA) < MIN_AREA;
        }
        cv::Mat result = foreground.clone();
        for (int y = 0; y < result.rows; ++y) {
            const int32_t* label = labels.ptr<int32_t>(y);
            uint8_t* pixel = result.ptr<uint8_t>(y);
            for (int x = 0; x < result.cols; ++x) {
                if (small[label[x]] != 0) {
                    pixel[x] = 0;
                }
            }
        }
        benchmark::DoNotOptimize(result.data);
    }
}

void BM_OpenCvLabelling_photo(benchmark::State& state) { timePeerLabelling(state, photo()); }
void BM_OpenCvLabelling_page(benchmark::State& state) { timePeerLabelling(state, page()); }
void BM_OpenCvLabelling_noise(benchmark::State& state) { timePeerLabelling(state, noise()); }
void BM_OpenCvRemoveSmall_photo(benchmark::State& state) { timePeerRemoveSmall(state, photo()); }
void BM_OpenCvRemoveSmall_page(benchmark::State& state) { timePeerRemoveSmall(state, page()); }
void BM_OpenCvRemoveSmall_noise(benchmark::State& state) { timePeerRemoveSmall(state, noise()); }

BENCHMARK(BM_OpenCvLabelling_photo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvLabelling_page)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvLabelling_noise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvRemoveSmall_photo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvRemoveSmall_page)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvRemoveSmall_noise)->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef DOVODA_HAVE_OPENCV
    cv::setNumThreads(1);
    bool agree = true;
    agree &= agreeWithPeer("photo", photo());
    agree &= agreeWithPeer("page", page());
    agree &= agreeWithPeer("noise", noise());
    if (!agree) {
        return 1;
    }
#endif
    std::vector<std::pair<std::string, std::string>> ratios;
    for (const char* image : {"photo", "page", "noise"}) {
        const std::string suffix = std::string("_") + image;
        ratios.emplace_back("BM_Labelling" + suffix, "BM_OpenCvLabelling" + suffix);
        ratios.emplace_back("BM_Create" + suffix, "BM_OpenCvLabelling" + suffix);
        ratios.emplace_back("BM_RemoveSmall" + suffix, "BM_OpenCvRemoveSmall" + suffix);
    }
    return benchsupport::runBenchmarks(argc, argv, ratios);
}
