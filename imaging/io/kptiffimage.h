#ifndef DOVODA_KPTIFFIMAGE_H
#define DOVODA_KPTIFFIMAGE_H

#include "kpbaseimage.h"
#include "kpcodecinstance.h"

// libtiff's handle type, declared here so that this header does not need
// the library's headers.
struct tiff;
typedef struct tiff TIFF;

// TIFF files through libtiff. Multi-page: the pages are the image file
// directories, counted from 1.
//
// Loading: 1-bit and 8-bit gray (either photometric; white-is-zero is
// inverted so that white is the set bit or 255), 8-bit RGB, any other
// colour layout that libtiff's RGBA interface reads (16-bit RGB, RGB
// with alpha, tiles) as depth 24, and palettes of 1, 2, 4 and 8 bits as
// depth 24. YCbCr, 2- and 4-bit gray, 16-bit gray and gray with alpha are
// refused. Missing resolutions load as 200 dpi. Pixels libtiff warned
// about while reading them (a fax strip that ends early) load with
// kpGetHasWarnings() set.
// Saving: depth 1 with CCITT Group 4 and photometric black-is-zero, depth
// 8 and 24 with PackBits, the whole image as one strip.
// libtiff's errors and warnings go to the library logger (levels 3 and 2).
class KpTIFFImage : public KpBaseImage {
public:
    static KpTIFFImage* kpGetInstance();
    ~KpTIFFImage() override;

    bool kpSupportImageFile(const char* fileName) override;
    bool kpSupportImageFile(unsigned char* buffer, int size) override;
    void kpSaveImage(const char* fileName, KpImage& image) override;
    KpImage kpLoadImage(unsigned char* buffer, int size) override;
    KpImage kpLoadImage(const char* fileName) override;
    int kpGetTotalPages(const char* fileName) override;
    int kpGetTotalPages(unsigned char* buffer, int size) override;
    KpImage kpLoadImageAtPage(unsigned char* buffer, int size, int page) override;
    KpImage kpLoadImageAtPage(const char* fileName, int page) override;

    // Encodes into a new memory block; the caller owns *block and releases
    // it with free().
    void kpSaveImageToMem(KpImage& image, unsigned char** block, int* size);
    // The encoder: sets the tags of the handle's current directory and
    // writes the image as its one strip with the given compression code
    // (libtiff's COMPRESSION_* values). The caller writes the directory.
    // A compression the depth cannot take raises code 8, one libtiff
    // lacks or a failed write code 4.
    void kpSaveImage(TIFF* tiff, KpImage& image, int compression);

private:
    KpTIFFImage();
    friend KpTIFFImage* kpCodecInstance<KpTIFFImage>();
};

#endif
