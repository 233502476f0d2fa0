#include "kpoutputfile.h"

#include "kpexception.h"

#include <sys/stat.h>

KpOutputFile::KpOutputFile(const char* fileName, int openFailureCode, const std::string& openFailureText)
    : name(fileName == nullptr ? "" : fileName), file(fileName == nullptr ? nullptr : std::fopen(fileName, "wb"))
{
    if (file == nullptr) {
        KP_THROW(openFailureCode, openFailureText);
    }
    struct stat info;
    regular = fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

KpOutputFile::~KpOutputFile()
{
    if (file != nullptr) {
        std::fclose(file);
    }
    if (!complete && regular) {
        std::remove(name.c_str());
    }
}

bool KpOutputFile::kpClose()
{
    if (file == nullptr) {
        return complete;
    }
    complete = std::fclose(file) == 0;
    file = nullptr;
    return complete;
}
