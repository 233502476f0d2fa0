#include "kpbaseimage.h"

#include "kpexception.h"
#include "kpimagefactory.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

const char* const EXTENSION_SEPARATORS = ",";

std::string lowerCased(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
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
