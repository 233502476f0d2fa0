#ifndef DOVODA_KPPPMIMAGE_H
#define DOVODA_KPPPMIMAGE_H

#include "kpsinglepageimage.h"
#include "kpcodecinstance.h"

// Binary portable pixmaps ("P6"), read and written by our own
// line-oriented parser and writer. Single-page.
//
// Reading: the header fields stand on lines of their own: a line
// beginning with "P6", any comment lines ("#"), "width height" (both at
// least 1) and the maximum sample value (1 to 256); empty lines are
// skipped. The samples follow as red, green, blue, one byte each, or two
// (most significant first) for a maximum of 256, and are scaled to
// 0..255. Images load as depth 24 at 200 dots per inch.
// Writing: depth 24 as it is, depths 1 and 8 as colour, maximum 255.
class KpPPMImage : public KpSinglePageImage {
public:
    static KpPPMImage* kpGetInstance();
    ~KpPPMImage() override;

    bool kpSupportImageFile(const char* fileName) override;
    bool kpSupportImageFile(unsigned char* buffer, int size) override;
    // A failed write or close raises code 4 and removes the partial file.
    void kpSaveImage(const char* fileName, KpImage& image) override;
    KpImage kpLoadImage(unsigned char* buffer, int size) override;
    KpImage kpLoadImage(const char* fileName) override;

private:
    KpPPMImage();
    friend KpPPMImage* kpCodecInstance<KpPPMImage>();
};

#endif
