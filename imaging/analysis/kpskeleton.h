#ifndef DOVODA_KPSKELETON_H
#define DOVODA_KPSKELETON_H

#include "kpimage.h"

#include <cstdint>

// Thins the black strokes of a binary image to lines one pixel wide by
// repeated parallel passes of Hilditch's rule. Pixels on the image border
// are never deleted, nor are isolated pixels, end points and pixels whose
// removal would split their black neighbours.
class KpSkeleton {
public:
    KpSkeleton() = delete;
    virtual ~KpSkeleton();

    // The thinned image: binary, of the source's size and resolution
    // fields. A source that is not binary is refused with code 7.
    static KpImage kpSkeletonize(const KpImage& image);

    // Thins the strokes of value 0 in a buffer of height rows of width
    // bytes in place: passes run until one deletes nothing, and each
    // deleted pixel becomes 255. Returns the number of passes, the last
    // (empty) one included.
    static int32_t kpThinningLoop(uint8_t* data, int32_t height, int32_t width);
};

#endif
