#ifndef DOVODA_KPBMPIMAGE_H
#define DOVODA_KPBMPIMAGE_H

#include "kpsinglepageimage.h"
#include "kpcodecinstance.h"

class KpIOStream;

// Windows bitmap files, read and written by our own parser and writer
// through a byte stream, so one decoder and one encoder serve files and
// memory buffers alike. Single-page.
//
// Reading: bottom-up files of 1, 4, 8, 16 and 24 bits per pixel, with
// info headers of 40 bytes or more (the palette follows the header, the
// pixels start at the offset the file header gives); 4 and 8 bits may be
// run-length compressed, 16 bits may carry bit-field masks. 1-bit files
// load as depth 1 with a set bit for the brighter palette colour; every
// other bit count loads as depth 24.
// Writing: depths 1, 8 (gray ramp palette) and 24, uncompressed, with a
// 40-byte info header.
class KpBMPImage : public KpSinglePageImage {
public:
    static KpBMPImage* kpGetInstance();
    ~KpBMPImage() override;

    bool kpSupportImageFile(const char* fileName) override;
    bool kpSupportImageFile(unsigned char* buffer, int size) override;
    void kpSaveImage(const char* fileName, KpImage& image) override;
    KpImage kpLoadImage(unsigned char* buffer, int size) override;
    KpImage kpLoadImage(const char* fileName) override;

    // The decoder: reads one bitmap from the stream's current position.
    KpImage kpLoadImage(KpIOStream& stream);
    // The encoder: writes the image to the stream; every failed write
    // raises code 4. The caller closes the stream.
    void kpSaveImage(KpIOStream& stream, KpImage& image);
    // Encodes into a new memory block; the caller owns *block and releases
    // it with free().
    void kpSaveImageToMem(KpImage& image, unsigned char** block, int* size);

private:
    KpBMPImage();
    friend KpBMPImage* kpCodecInstance<KpBMPImage>();
};

#endif
