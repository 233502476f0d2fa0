#ifndef DOVODA_KPSINGLEPAGEIMAGE_H
#define DOVODA_KPSINGLEPAGEIMAGE_H

#include "kpbaseimage.h"

#include <string>

// A codec of a format whose files hold one image: it has one page, and
// the page operations follow the single-page rule: page 0 or below raises
// code 15, a page beyond the one raises code 8, page 1 loads the image.
class KpSinglePageImage : public KpBaseImage {
public:
    ~KpSinglePageImage() override;

    int kpGetTotalPages(const char* fileName) final;
    int kpGetTotalPages(unsigned char* buffer, int size) final;
    KpImage kpLoadImageAtPage(unsigned char* buffer, int size, int page) final;
    KpImage kpLoadImageAtPage(const char* fileName, int page) final;

protected:
    // className names the codec in the page messages ("KpPNGImage").
    KpSinglePageImage(const std::string& name, const std::string& extensions, int priority,
                      const std::string& className);

    // The first half of the page rule for a page asked of a file: page 0
    // or below raises code 15. A codec with its own text for that case
    // overrides it.
    virtual void kpCheckFilePageNumber(int page);

private:
    void checkPage(int page);

    std::string className;
};

#endif
