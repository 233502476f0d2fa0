#ifndef DOVODA_KPPNMHEADER_H
#define DOVODA_KPPNMHEADER_H

#include "kpimagehead.h"

#include <cstdint>
#include <cstdio>

// What the portable pixmap (PPM) and bitmap (PBM) codecs share: the
// numbers of a header line, the bytes a source still holds, which bound
// the raster before it is allocated, and the head of a loaded image.
class KpPnmHeader {
public:
    KpPnmHeader() = delete;
    virtual ~KpPnmHeader();

    // The length of a source that cannot tell how many bytes it holds.
    static constexpr int64_t KP_UNKNOWN_LENGTH = -1;

    // Reads count decimal integers from line, each after optional blanks
    // and in 1 .. INT32_MAX; anything after the last one is ignored.
    // False, with values unspecified, when a number is missing, below 1
    // or too large.
    static bool kpScanPositive(const char* line, int32_t* values, int count);

    // The bytes from the file's position to its end; KP_UNKNOWN_LENGTH
    // when the file is not a regular file (a pipe, a device).
    static int64_t kpBytesLeft(std::FILE* file);

    // False when the source is known to hold fewer than needed bytes.
    static bool kpHolds(int64_t bytesLeft, int64_t needed);

    // The head of a loaded image: the size, the depth and 200 dots per
    // inch in both directions.
    static KpImageHead kpLoadedHead(int32_t width, int32_t height, int32_t depth);
};

#endif
