#include "kpbaseimage.h"

#include "kpexception.h"
#include "kpfilecloser.h"
#include "kpimagefactory.h"
#include "kplogger.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

const char* const EXTENSION_SEPARATORS = ",";
const int OPEN_FAILURE_LOG_LEVEL = 3;

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

bool KpBaseImage::kpSupportFileHead(const char* fileName, int openFailureCode, const std::string& openFailureText,
                                    const std::string& openFailureLog)
{
    KpFileHolder file(fileName == nullptr ? nullptr : std::fopen(fileName, "rb"));
    if (!file) {
        if (!openFailureLog.empty()) {
            kpLogPrintf(KpLogger::kpGetInstance(), OPEN_FAILURE_LOG_LEVEL, "%s", openFailureLog.c_str());
        }
        KP_THROW(openFailureCode, openFailureText);
    }
    unsigned char head[KP_FILE_HEAD_BYTES];
    const std::size_t got = std::fread(head, 1, sizeof(head), file.get());
    return kpSupportImageFile(head, static_cast<int>(got));
}
