#ifndef DOVODA_KPPNGIMAGE_H
#define DOVODA_KPPNGIMAGE_H

#include "kpsinglepageimage.h"
#include "kpcodecinstance.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// PNG through libpng: 1-bit gray, 8-bit gray and 24-bit RGB images.
// Loading strips 16-bit samples to their high byte, scales 2- and 4-bit
// gray to 8 bits and expands palettes to RGB; images with an alpha
// channel (or a palette with transparency) are refused. Single-page.
class KpPNGImage : public KpSinglePageImage {
public:
    static KpPNGImage* kpGetInstance();
    ~KpPNGImage() override;

    bool kpSupportImageFile(const char* fileName) override;
    bool kpSupportImageFile(unsigned char* buffer, int size) override;
    // Writes with the library's default zlib level; a failed write
    // raises code 1 and removes the partial file. The codec keeps the
    // last image it saved (up to 64 MiB of pixels) with its file, and
    // saving the same pixels again writes that file without encoding.
    // Safe to call from several threads at once.
    void kpSaveImage(const char* fileName, KpImage& image) override;
    void kpSaveImage(const char* fileName, KpImage& image, int compressionType);
    KpImage kpLoadImage(unsigned char* buffer, int size) override;
    KpImage kpLoadImage(const char* fileName) override;

private:
    struct SavedEncoding;

    KpPNGImage();
    friend KpPNGImage* kpCodecInstance<KpPNGImage>();
    bool rememberedSave(const KpImage& image, std::vector<uint8_t>& encoded);
    void rememberSave(const KpImage& image, const std::vector<uint8_t>& encoded);

    std::mutex lastSaveMutex;
    std::unique_ptr<SavedEncoding> lastSave;
};

#endif
