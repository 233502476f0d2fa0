#include "kpfilebasedio.h"

#include "kpexception.h"

KpFileBasedIO::KpFileBasedIO(const char* fileName, const char* mode)
    : fileStream(fileName == nullptr || mode == nullptr ? nullptr : std::fopen(fileName, mode)), ownsFile(true)
{
    if (fileStream == nullptr) {
        KP_THROW(KP_CANNOT_OPEN, "<KpFileBasedIO::KpFileBasedIO()> Could not open output image file");
    }
}

KpFileBasedIO::KpFileBasedIO(FILE* borrowedFile) : fileStream(borrowedFile), ownsFile(false) {}

KpFileBasedIO::~KpFileBasedIO()
{
    kpCloseStream();
}

int KpFileBasedIO::kpRead(char* destination, int n)
{
    if (fileStream == nullptr || n < 0) {
        return 0;
    }
    if (n == 0) {
        return 1;
    }
    return std::fread(destination, static_cast<std::size_t>(n), 1, fileStream) == 1 ? 1 : 0;
}

int KpFileBasedIO::kpReadLine(char* destination, int n)
{
    if (fileStream == nullptr || n <= 0) {
        return 0;
    }
    return std::fgets(destination, n, fileStream) != nullptr ? 1 : 0;
}

int KpFileBasedIO::kpWrite(const char* source, int n)
{
    if (fileStream == nullptr || n < 0) {
        return 0;
    }
    if (n == 0) {
        return 1;
    }
    return std::fwrite(source, static_cast<std::size_t>(n), 1, fileStream) == 1 ? 1 : 0;
}

bool KpFileBasedIO::kpCloseStream()
{
    if (fileStream == nullptr) {
        return false;
    }
    const bool closed = (ownsFile ? std::fclose(fileStream) : std::fflush(fileStream)) == 0;
    fileStream = nullptr;
    return closed;
}

bool KpFileBasedIO::kpFlushStream()
{
    return fileStream != nullptr && std::fflush(fileStream) == 0;
}
