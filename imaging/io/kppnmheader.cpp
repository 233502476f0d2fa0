#include "kppnmheader.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <sys/stat.h>

namespace {

const float LOADED_RESOLUTION = 200.0f;
const int DECIMAL = 10;

} // namespace

KpPnmHeader::~KpPnmHeader() = default;

bool KpPnmHeader::kpScanPositive(const char* line, int32_t* values, int count)
{
    const char* cursor = line;
    for (int i = 0; i < count; ++i) {
        char* end = nullptr;
        errno = 0;
        const long long value = std::strtoll(cursor, &end, DECIMAL);
        if (end == cursor || errno == ERANGE || value < 1 || value > std::numeric_limits<int32_t>::max()) {
            return false;
        }
        values[i] = static_cast<int32_t>(value);
        cursor = end;
    }
    return true;
}

int64_t KpPnmHeader::kpBytesLeft(std::FILE* file)
{
    struct stat info;
    const long position = std::ftell(file);
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode) || position < 0) {
        return KP_UNKNOWN_LENGTH;
    }
    return info.st_size > position ? static_cast<int64_t>(info.st_size) - position : 0;
}

bool KpPnmHeader::kpHolds(int64_t bytesLeft, int64_t needed)
{
    return bytesLeft == KP_UNKNOWN_LENGTH || bytesLeft >= needed;
}

KpImageHead KpPnmHeader::kpLoadedHead(int32_t width, int32_t height, int32_t depth)
{
    KpImageHead head;
    head.width = width;
    head.height = height;
    head.depth = depth;
    head.xResolution = LOADED_RESOLUTION;
    head.yResolution = LOADED_RESOLUTION;
    head.resolutionInDpi = 1;
    return head;
}
