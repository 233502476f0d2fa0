#ifndef DOVODA_KPIMAGEFACTORY_H
#define DOVODA_KPIMAGEFACTORY_H

#include "kpbaseimage.h"
#include "kpimage.h"

#include <map>
#include <string>
#include <vector>

// Plain byte-wise, case-sensitive string order of the extension map.
struct kpLtstr {
    bool operator()(const std::string& a, const std::string& b) const { return a < b; }
};

// The format registry. It is created on first use and at once registers
// the standard codecs from one explicit table, in the order PPM, JPEG,
// BMP, TIFF, GIF, PNG, PBM (those that are built), so neither linking nor
// static initialisation order matters. Loading picks a codec by content,
// saving by the file name's extension. The registry does not own the
// codecs. Single-threaded, like the rest of the library.
class KpImageFactory {
public:
    static KpImageFactory* kpGetInstance();
    virtual ~KpImageFactory();
    KpImageFactory(const KpImageFactory&) = delete;
    KpImageFactory& operator=(const KpImageFactory&) = delete;

    static void kpRegisterImage(KpBaseImage* codec);

    KpImage kpLoadImage(const char* fileName, KpBaseImage* preferredCodec);
    KpImage kpLoadImage(unsigned char* buffer, int size, KpBaseImage* preferredCodec);
    KpImage kpLoadImageAtPage(const char* fileName, int page);
    KpImage kpLoadImageAtPage(unsigned char* buffer, int size, int page);
    int kpGetTotalPages(const char* fileName);
    int kpGetTotalPages(unsigned char* buffer, int size);
    void kpSaveImage(KpImage& image, const char* fileName, KpBaseImage* preferredCodec);
    KpBaseImage* kpFindImageObject(const char* fileName);
    KpBaseImage* kpFindImageObject(unsigned char* buffer, int size);
    void kpListImageTypes();

    // Splits text at any of the separator characters; empty pieces give
    // no token.
    static void kpTokenize(const std::string& text, std::vector<std::string>& tokens,
                           const std::string& separators);

private:
    KpImageFactory();
    void insert(KpBaseImage* codec);
    // The codec for a file or buffer by content, or code 11 naming the
    // operation ("kpLoadImage") and, for files, the file.
    KpBaseImage* codecOrThrow(const char* fileName, const char* operation);
    KpBaseImage* codecOrThrow(unsigned char* buffer, int size, const char* operation);

    std::vector<KpBaseImage*> imageObjects;
    std::map<std::string, KpBaseImage*, kpLtstr> extensionMap;
};

#endif
