#ifndef DOVODA_KPJPGIMAGE_H
#define DOVODA_KPJPGIMAGE_H

#include "kpsinglepageimage.h"
#include "kpcodecinstance.h"

// JPEG (JFIF) files through libjpeg, 8 bits per sample. Single-page.
//
// Loading: gray files load as depth 8, colour (YCbCr or RGB) files as
// depth 24, CMYK and YCCK files as depth 24 through a darkening of the
// colour by the K channel. The JFIF density becomes the resolution (in
// dots per inch when the file gives a unit). Data that ends early or is
// damaged inside the scan still loads, with kpGetHasWarnings() set; any
// other library error (a file that is not JPEG, 12-bit samples, a
// damaged header) raises code 7.
// Saving: depth 8 as gray, depth 24 as colour, depth 1 as gray; the
// resolution is written as a density in dots per inch.
class KpJPGImage : public KpSinglePageImage {
public:
    static KpJPGImage* kpGetInstance();
    ~KpJPGImage() override;

    bool kpSupportImageFile(const char* fileName) override;
    bool kpSupportImageFile(unsigned char* buffer, int size) override;
    // Saves at quality 95.
    void kpSaveImage(const char* fileName, KpImage& image) override;
    // Saves at quality 1 (smallest) to 100 (best), baseline. A file that
    // cannot be opened raises code 2, a library error code 1, a failed
    // close code 4; a failed save leaves no file behind.
    void kpSaveImage(const char* fileName, KpImage& image, int quality);
    KpImage kpLoadImage(unsigned char* buffer, int size) override;
    KpImage kpLoadImage(const char* fileName) override;

protected:
    void kpCheckFilePageNumber(int page) override;

private:
    KpJPGImage();
    friend KpJPGImage* kpCodecInstance<KpJPGImage>();
};

#endif
