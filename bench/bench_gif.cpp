// GIF files of 4096 x 3072 pixels: loading one written by ImageMagick
// (LZW-compressed) and one written by us, saving a 256-colour image, and
// the colour reduction of a photograph. When giflib is present the same
// run times DGifSlurp with the palette expansion to RGB on the same files
// and EGifSpew of the same palette indices.
//
// The 256-colour image is the photo-like sample with each pixel moved to
// the nearest colour of an 8 x 8 x 4 grid, so that it has at most 256
// colours and no colour reduction is needed when it is saved.

#include "benchsupport.h"
#include "kpbitsperpixelconverter.h"
#include "kpgifimage.h"
#include "kpimage.h"
#include "kppixelbuffer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef DOVODA_HAVE_GIFLIB
#include <gif_lib.h>
#endif

namespace {

const int WIDTH = 4096;
const int HEIGHT = 3072;
const char* const CONVERT = "/usr/bin/convert";

const KpImage& photo()
{
    static const KpImage image = benchsupport::makePhotoLikeImage(WIDTH, HEIGHT, 24);
    return image;
}

// Keeps the top 3, 3 and 2 bits of the channels, at the middle of their
// range: at most 256 colours.
const KpImage& paletteImage()
{
    static const KpImage image = [] {
        KpImage copy = photo().kpCopyImage();
        uint8_t* pixel = copy.kpGetData();
        for (std::size_t i = 0; i < copy.kpGetImageSize(); i += 3) {
            pixel[i] = static_cast<uint8_t>((pixel[i] & 0xE0) | 0x10);
            pixel[i + 1] = static_cast<uint8_t>((pixel[i + 1] & 0xE0) | 0x10);
            pixel[i + 2] = static_cast<uint8_t>((pixel[i + 2] & 0xC0) | 0x20);
        }
        return copy;
    }();
    return image;
}

std::string benchPath(const std::string& stem)
{
    return "/tmp/dovoda-bench-gif-" + std::to_string(getpid()) + "-" + stem + ".gif";
}

// The 256-colour image saved by us and re-encoded by ImageMagick; removed
// at exit. The ImageMagick file is empty when convert is absent.
struct SampleFiles {
    std::string ours = benchPath("ours");
    std::string imageMagick = benchPath("imagemagick");

    SampleFiles()
    {
        KpImage image = paletteImage();
        KpGIFImage::kpGetInstance()->kpSaveImage(ours.c_str(), image);
        const std::string command = std::string(CONVERT) + " '" + ours + "' '" + imageMagick + "' 2>/dev/null";
        if (access(CONVERT, X_OK) != 0 || std::system(command.c_str()) != 0) {
            imageMagick.clear();
        }
    }
    ~SampleFiles()
    {
        std::remove(ours.c_str());
        if (!imageMagick.empty()) {
            std::remove(imageMagick.c_str());
        }
    }
};

const SampleFiles& samples()
{
    static const SampleFiles files;
    return files;
}

const std::string& sampleFile(const std::string& writer)
{
    return writer == "ours" ? samples().ours : samples().imageMagick;
}

void labelSize(benchmark::State& state)
{
    state.SetLabel(std::to_string(WIDTH) + "x" + std::to_string(HEIGHT));
}

void BM_LoadGif(benchmark::State& state, const std::string& writer)
{
    const std::string& file = sampleFile(writer);
    if (file.empty()) {
        state.SkipWithError("ImageMagick's convert is not installed");
        return;
    }
    for (auto _ : state) {
        KpImage image = KpGIFImage::kpGetInstance()->kpLoadImage(file.c_str());
        benchmark::DoNotOptimize(image.kpGetData());
    }
    labelSize(state);
}

void BM_SaveGif(benchmark::State& state)
{
    KpImage image = paletteImage();
    const std::string file = benchPath("save");
    for (auto _ : state) {
        KpGIFImage::kpGetInstance()->kpSaveImage(file.c_str(), image);
    }
    std::remove(file.c_str());
    labelSize(state);
}

void BM_ReduceColors(benchmark::State& state)
{
    const KpImage& image = photo();
    bool reduced = false;
    for (auto _ : state) {
        KpImage result = KpBitsPerPixelConverter::kpReduceColors(image, reduced);
        benchmark::DoNotOptimize(result.kpGetData());
    }
    // Pixels per second; 1e9 / items_per_second is the time per pixel.
    state.SetItemsProcessed(state.iterations() * int64_t(WIDTH) * HEIGHT);
    labelSize(state);
}

BENCHMARK_CAPTURE(BM_LoadGif, imagemagick, std::string("imagemagick"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoadGif, ours, std::string("ours"))->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveGif)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReduceColors)->Unit(benchmark::kMillisecond);

#ifdef DOVODA_HAVE_GIFLIB
// DGifSlurp of the whole file, then every index of the first image
// replaced by its colour, as red, green, blue bytes in a new buffer from
// the allocator of our images (as a load returns a new image).
void BM_GiflibLoad(benchmark::State& state, const std::string& writer)
{
    const std::string& file = sampleFile(writer);
    if (file.empty()) {
        state.SkipWithError("ImageMagick's convert is not installed");
        return;
    }
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> rgb = KpPixelBuffer::kpAllocate(int64_t(WIDTH) * 3, HEIGHT);
        int error = 0;
        GifFileType* gif = DGifOpenFileName(file.c_str(), &error);
        if (gif == nullptr || DGifSlurp(gif) != GIF_OK) {
            state.SkipWithError("giflib could not read the file");
            break;
        }
        const SavedImage& image = gif->SavedImages[0];
        const ColorMapObject* map = image.ImageDesc.ColorMap != nullptr ? image.ImageDesc.ColorMap : gif->SColorMap;
        const std::size_t pixels = std::size_t(image.ImageDesc.Width) * image.ImageDesc.Height;
        uint8_t* out = rgb.get();
        for (std::size_t i = 0; i < pixels; ++i, out += 3) {
            const GifColorType& colour = map->Colors[image.RasterBits[i]];
            out[0] = colour.Red;
            out[1] = colour.Green;
            out[2] = colour.Blue;
        }
        benchmark::DoNotOptimize(rgb.get());
        DGifCloseFile(gif, &error);
    }
    labelSize(state);
}

// EGifSpew of the palette indices and colour table our writer uses for the
// same image; giflib takes its own copy of the indices per file.
void BM_GiflibSave(benchmark::State& state)
{
    const KpGIFImage::KpEncoderSettings settings;
    const KpGIFImage::KpLocalGIFImage local(paletteImage(), settings);
    std::vector<GifColorType> colours(256, GifColorType{0, 0, 0});
    for (int32_t i = 0; i < local.kpGetColours().kpGetCount(); ++i) {
        const long colour = local.kpGetColours()[i];
        colours[std::size_t(i)] = GifColorType{GifByteType(colour >> 16), GifByteType(colour >> 8), GifByteType(colour)};
    }
    std::vector<GifByteType> indices(local.kpGetIndices().kpGetItems(),
                                     local.kpGetIndices().kpGetItems() + local.kpGetIndices().kpGetCount());
    const std::string file = benchPath("giflib");
    for (auto _ : state) {
        int error = 0;
        GifFileType* gif = EGifOpenFileName(file.c_str(), false, &error);
        gif->SWidth = WIDTH;
        gif->SHeight = HEIGHT;
        gif->SColorResolution = 8;
        gif->SBackGroundColor = 0;
        gif->SColorMap = GifMakeMapObject(256, colours.data());
        SavedImage image = {};
        image.ImageDesc.Width = WIDTH;
        image.ImageDesc.Height = HEIGHT;
        image.RasterBits = indices.data();
        GifMakeSavedImage(gif, &image);
        if (EGifSpew(gif) != GIF_OK) {
            state.SkipWithError("giflib could not write the file");
            break;
        }
    }
    std::remove(file.c_str());
    labelSize(state);
}

BENCHMARK_CAPTURE(BM_GiflibLoad, imagemagick, std::string("imagemagick"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_GiflibLoad, ours, std::string("ours"))->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GiflibSave)->Unit(benchmark::kMillisecond);
#endif

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv,
                                       {{"BM_LoadGif/imagemagick", "BM_GiflibLoad/imagemagick"},
                                        {"BM_LoadGif/ours", "BM_GiflibLoad/ours"},
                                        {"BM_SaveGif", "BM_GiflibSave"}});
}
