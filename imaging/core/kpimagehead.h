#ifndef DOVODA_KPIMAGEHEAD_H
#define DOVODA_KPIMAGEHEAD_H

#include "kptaglist.h"

#include <cstdint>

// The header of an image: size, pixel store and resolution. Codecs fill
// one before they build the image from it. Copying a header copies every
// field but the tags: the destination keeps its own.
class KpImageHead {
public:
    KpImageHead() = default;
    KpImageHead(const KpImageHead& other);
    KpImageHead& operator=(const KpImageHead& other);
    virtual ~KpImageHead();

    // Row stride of the pixel store of a depth: (width + 7) / 8, width or
    // 3 x width bytes; -1 for a depth outside 1, 8, 24 or a stride that
    // does not fit 32 bits.
    static int32_t kpRowBytes(int32_t width, int32_t depth);
    // Channel count of a depth: 1 for depths 1 and 8, 3 for depth 24.
    static int32_t kpChannelsOf(int32_t depth);
    // Colour format of a depth: 1 binary, 2 gray, 3 colour; 0 for a depth
    // outside 1, 8, 24.
    static int32_t kpFormatOf(int32_t depth);

    KpTagList tags;
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;
    int32_t channels = 0;
    int32_t format = 0;       // 1 binary, 2 gray, 3 colour, 0 not stated
    int32_t bytesPerRow = 0;
    int32_t reserved1 = 0;
    int32_t reserved2 = 0;
    float xResolution = 0.0f;
    float yResolution = 0.0f;
    uint8_t resolutionInDpi = 1;

private:
    void copyFields(const KpImageHead& other);
};

#endif
