#include "kpsinglepageimage.h"

#include "kpexception.h"

#include <cstdio>

namespace {

const int PAGE_COUNT = 1;

// The page rule's first half: page 0 or below is no page of any file.
void checkPageNumber(int page, const std::string& className)
{
    if (page <= 0) {
        KP_THROW(KP_BAD_PAGE, "<" + className + "::kpLoadImageAtPage()> Page number can't be 0 (zero).");
    }
}

void checkPageCount(int page, int pageCount, const std::string& className)
{
    if (page > pageCount) {
        char text[160];
        std::snprintf(text, sizeof text, "<%s::kpLoadImageAtPage()> Image only contain %d pages. User requesting page %d.",
                      className.c_str(), pageCount, page);
        KP_THROW(KP_UNSUPPORTED_CONTENT, text);
    }
}

} // namespace

KpSinglePageImage::KpSinglePageImage(const std::string& name, const std::string& extensions, int priority,
                                     const std::string& codecClassName)
    : KpBaseImage(name, extensions, priority), className(codecClassName)
{
}

KpSinglePageImage::~KpSinglePageImage() = default;

int KpSinglePageImage::kpGetTotalPages(const char*)
{
    return PAGE_COUNT;
}

int KpSinglePageImage::kpGetTotalPages(unsigned char*, int)
{
    return PAGE_COUNT;
}

void KpSinglePageImage::checkPage(int page)
{
    checkPageNumber(page, className);
    checkPageCount(page, PAGE_COUNT, className);
}

KpImage KpSinglePageImage::kpLoadImageAtPage(unsigned char* buffer, int size, int page)
{
    checkPage(page);
    return kpLoadImage(buffer, size);
}

void KpSinglePageImage::kpCheckFilePageNumber(int page)
{
    checkPageNumber(page, className);
}

KpImage KpSinglePageImage::kpLoadImageAtPage(const char* fileName, int page)
{
    kpCheckFilePageNumber(page);
    checkPageCount(page, PAGE_COUNT, className);
    return kpLoadImage(fileName);
}
