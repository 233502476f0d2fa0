#include "kpimagehead.h"

#include <limits>

KpImageHead::KpImageHead(const KpImageHead& other) : tags()
{
    copyFields(other);
}

KpImageHead& KpImageHead::operator=(const KpImageHead& other)
{
    copyFields(other);
    return *this;
}

KpImageHead::~KpImageHead() = default;

void KpImageHead::copyFields(const KpImageHead& other)
{
    width = other.width;
    height = other.height;
    depth = other.depth;
    channels = other.channels;
    format = other.format;
    bytesPerRow = other.bytesPerRow;
    reserved1 = other.reserved1;
    reserved2 = other.reserved2;
    xResolution = other.xResolution;
    yResolution = other.yResolution;
    resolutionInDpi = other.resolutionInDpi;
}

int32_t KpImageHead::kpRowBytes(int32_t width, int32_t depth)
{
    int64_t bytes = -1;
    if (depth == 1) {
        bytes = (static_cast<int64_t>(width) + 7) / 8;
    } else if (depth == 8) {
        bytes = width;
    } else if (depth == 24) {
        bytes = 3 * static_cast<int64_t>(width);
    }
    if (bytes > std::numeric_limits<int32_t>::max()) {
        return -1;
    }
    return static_cast<int32_t>(bytes);
}

int32_t KpImageHead::kpChannelsOf(int32_t depth)
{
    if (depth == 1 || depth == 8) {
        return 1;
    }
    return depth == 24 ? 3 : 0;
}

int32_t KpImageHead::kpFormatOf(int32_t depth)
{
    switch (depth) {
    case 1: return 1;
    case 8: return 2;
    case 24: return 3;
    default: return 0;
    }
}
