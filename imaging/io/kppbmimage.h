#ifndef DOVODA_KPPBMIMAGE_H
#define DOVODA_KPPBMIMAGE_H

#include "kpsinglepageimage.h"
#include "kpcodecinstance.h"

#include <cstdint>

class KpIOStream;

// Portable bitmaps, read and written by our own parser and writer through
// a byte stream, so one decoder and one encoder serve files and memory
// buffers alike. Single-page.
//
// Reading: raw ("P4") and plain ("P1") bitmaps. After the magic line come
// any comment ("#") and empty lines, then "width height" (both at least
// 1) on a line of its own, then the raster: (width + 7) / 8 bytes per row
// in the raw variant, the characters "1" and "0" in the plain one, which
// may be separated by blanks, tabs and line ends and interrupted by "#"
// comments. A set bit and "1" are black. Images load as depth 1 at 200
// dots per inch.
// Writing: raw bitmaps; depth 8 is thresholded at 127, depth 24 first
// averaged to gray.
class KpPBMImage : public KpSinglePageImage {
public:
    static KpPBMImage* kpGetInstance();
    ~KpPBMImage() override;

    bool kpSupportImageFile(const char* fileName) override;
    bool kpSupportImageFile(unsigned char* buffer, int size) override;
    void kpSaveImage(const char* fileName, KpImage& image) override;
    KpImage kpLoadImage(unsigned char* buffer, int size) override;
    KpImage kpLoadImage(const char* fileName) override;

    // The decoder: reads one bitmap from the stream's current position.
    // The stream cannot tell how much it holds, so a raster is allocated
    // before it is known to be there.
    KpImage kpLoadImage(KpIOStream& stream);
    // The encoder: writes the image to the stream; every failed write
    // raises code 4. The caller closes the stream.
    void kpSaveImage(KpIOStream& stream, KpImage& image);
    // Encodes into a new memory block; the caller owns *block and releases
    // it with free().
    void kpSaveImageToMem(KpImage& image, unsigned char** block, int* size);

private:
    KpPBMImage();
    friend KpPBMImage* kpCodecInstance<KpPBMImage>();
};

#endif
