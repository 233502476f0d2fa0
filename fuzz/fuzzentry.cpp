#include "fuzzentry.h"

#include "kpexception.h"
#include "kpimage.h"

#include <climits>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace fuzzentry {

namespace {

// Saving costs time in proportion to the pixels: larger images are
// decoded but not saved, so that one input stays within the fuzzer's
// time limit.
const int64_t MAX_SAVED_PIXELS = int64_t(1) << 24;

std::string outputName()
{
    return "/tmp/dovoda-fuzz-" + std::to_string(getpid()) + ".png";
}

} // namespace

void loadAndSave(const uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t>(INT_MAX)) {
        return;
    }
    std::vector<unsigned char> bytes(data, data + size);
    const std::string output = outputName();
    try {
        KpImage image(bytes.data(), static_cast<int>(bytes.size()), nullptr);
        if (static_cast<int64_t>(image.kpGetWidth()) * image.kpGetHeight() <= MAX_SAVED_PIXELS) {
            image.kpSaveImage(output.c_str());
        }
    } catch (const KpException&) {
    }
    std::remove(output.c_str());
}

} // namespace fuzzentry
