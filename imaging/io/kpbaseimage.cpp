#include "kpbaseimage.h"

#include "kpexception.h"
#include "kpimagefactory.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

namespace {

const char* const EXTENSION_SEPARATORS = ",";

std::string lowerCased(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The page rule's first half: page 0 or below is no page of any file.
void checkPageNumber(int page, const char* className)
{
    if (page <= 0) {
        KP_THROW(15, std::string("<") + className + "::kpLoadImageAtPage()> Page number can't be 0 (zero).");
    }
}

void checkPageCount(int page, int pageCount, const char* className)
{
    if (page > pageCount) {
        char text[160];
        std::snprintf(text, sizeof text, "<%s::kpLoadImageAtPage()> Image only contain %d pages. User requesting page %d.",
                      className, pageCount, page);
        KP_THROW(8, text);
    }
}

} // namespace

KpBaseImage::KpBaseImage(const std::string& codecName, const std::string& codecExtensions, int codecPriority)
    : name(codecName), extensions(lowerCased(codecExtensions)), priority(codecPriority)
{
    KpImageFactory::kpRegisterImage(this);
}

KpBaseImage::~KpBaseImage() = default;

std::string KpBaseImage::kpGetName() const
{
    return name;
}

std::string KpBaseImage::kpGetExtensions() const
{
    return extensions;
}

int KpBaseImage::kpGetPriority() const
{
    return priority;
}

bool KpBaseImage::kpSupportExtension(const std::string& ext) const
{
    std::vector<std::string> tokens;
    KpImageFactory::kpTokenize(extensions, tokens, EXTENSION_SEPARATORS);
    return std::find(tokens.begin(), tokens.end(), lowerCased(ext)) != tokens.end();
}

KpImage KpBaseImage::kpLoadSinglePage(const char* fileName, int page, const char* className)
{
    checkPageNumber(page, className);
    checkPageCount(page, kpGetTotalPages(fileName), className);
    return kpLoadImage(fileName);
}

KpImage KpBaseImage::kpLoadSinglePage(unsigned char* buffer, int size, int page, const char* className)
{
    checkPageNumber(page, className);
    checkPageCount(page, kpGetTotalPages(buffer, size), className);
    return kpLoadImage(buffer, size);
}
