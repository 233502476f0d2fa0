#include "kpexception.h"

#include <cstring>

namespace {

// The file name without its folders: the part after the last '/' or '\'.
const char* baseName(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') {
            name = p + 1;
        }
    }
    return name;
}

} // namespace

KpException::KpException(int code, const std::string& text, const char* sourceFile, int sourceLine)
    : code(code)
{
    if (sourceFile != nullptr) {
        message += baseName(sourceFile);
    }
    if (sourceLine != 0) {
        message += ":" + std::to_string(sourceLine) + ": ";
    }
    message += text;
}

KpException::~KpException() = default;

const char* KpException::what() const noexcept
{
    return message.c_str();
}

std::string KpException::kpGetMessage() const
{
    return message;
}

int KpException::kpGetCode() const
{
    return code;
}
