#ifndef DOVODA_KPBASEIMAGE_H
#define DOVODA_KPBASEIMAGE_H

#include "kpimage.h"

#include <string>

// The interface of one image file format. Each codec exists once and
// registers itself with the format registry (KpImageFactory) when it is
// created. Pages count from 1.
class KpBaseImage {
public:
    virtual ~KpBaseImage();
    KpBaseImage(const KpBaseImage&) = delete;
    KpBaseImage& operator=(const KpBaseImage&) = delete;

    // Tests the leading bytes of a file; raises when it cannot be opened.
    virtual bool kpSupportImageFile(const char* fileName) = 0;
    // Tests the leading bytes of an encoded image held in memory.
    virtual bool kpSupportImageFile(unsigned char* buffer, int size) = 0;
    virtual void kpSaveImage(const char* fileName, KpImage& image) = 0;
    virtual KpImage kpLoadImage(unsigned char* buffer, int size) = 0;
    virtual KpImage kpLoadImage(const char* fileName) = 0;
    virtual int kpGetTotalPages(const char* fileName) = 0;
    virtual int kpGetTotalPages(unsigned char* buffer, int size) = 0;
    virtual KpImage kpLoadImageAtPage(unsigned char* buffer, int size, int page) = 0;
    virtual KpImage kpLoadImageAtPage(const char* fileName, int page) = 0;

    std::string kpGetName() const;
    std::string kpGetExtensions() const;
    int kpGetPriority() const;
    // True when ext, lower-cased, is one of the codec's extensions.
    bool kpSupportExtension(const std::string& ext) const;

protected:
    // Stores the values (extensions lower-cased) and registers the codec.
    KpBaseImage(const std::string& name, const std::string& extensions, int priority);

    // The file-name content test on top of the buffer form: the file's
    // first KP_FILE_HEAD_BYTES bytes (fewer when it is shorter) are handed
    // to kpSupportImageFile(buffer, size). A file that cannot be opened
    // raises openFailureCode with openFailureText, after logging
    // openFailureLog at level 3 as it is (with its own line end) when it
    // is not empty.
    bool kpSupportFileHead(const char* fileName, int openFailureCode, const std::string& openFailureText,
                           const std::string& openFailureLog = std::string());

    // Enough for the signature of every format.
    static const int KP_FILE_HEAD_BYTES = 64;

private:
    std::string name;
    std::string extensions;
    int priority;
};

#endif
