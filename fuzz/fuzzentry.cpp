#include "fuzzentry.h"

#include "kpexception.h"
#include "kpgifimage.h"
#include "kpimage.h"

#include <climits>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace fuzzentry {

namespace {

// What one input may cost, in pixels. A few bytes can legitimately declare
// an image of up to KpImage::KP_MAX_IMAGE_BYTES (a GIF screen decodes to
// white without any image data), which would trip the fuzzer's memory and
// time limits without finding anything: such inputs are not loaded, and
// larger decoded images are not saved.
const int64_t MAX_FUZZ_PIXELS = int64_t(1) << 22;
const int GIF_SCREEN_END = 10;

std::string outputName()
{
    return "/tmp/dovoda-fuzz-" + std::to_string(getpid()) + ".png";
}

// The logical screen of a GIF: little-endian width and height at 6 and 8.
bool declaresTooManyPixels(std::vector<unsigned char>& bytes)
{
    const int size = static_cast<int>(bytes.size());
    if (size < GIF_SCREEN_END || !KpGIFImage::kpGetInstance()->kpSupportImageFile(bytes.data(), size)) {
        return false;
    }
    const int64_t width = bytes[6] | (bytes[7] << 8);
    const int64_t height = bytes[8] | (bytes[9] << 8);
    return width * height > MAX_FUZZ_PIXELS;
}

} // namespace

void loadAndSave(const uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t>(INT_MAX)) {
        return;
    }
    std::vector<unsigned char> bytes(data, data + size);
    if (declaresTooManyPixels(bytes)) {
        return;
    }
    const std::string output = outputName();
    try {
        KpImage image(bytes.data(), static_cast<int>(bytes.size()), nullptr);
        if (int64_t(image.kpGetWidth()) * image.kpGetHeight() <= MAX_FUZZ_PIXELS) {
            image.kpSaveImage(output.c_str());
        }
    } catch (const KpException&) {
    }
    std::remove(output.c_str());
}

} // namespace fuzzentry
