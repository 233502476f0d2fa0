#ifndef DOVODA_KPFILEBASEDIO_H
#define DOVODA_KPFILEBASEDIO_H

#include "kpiostream.h"

#include <cstdio>

// A byte stream over a standard buffered file.
class KpFileBasedIO : public KpIOStream {
public:
    // Opens fileName with mode ("rb", "wb"); raises code 2 on failure.
    KpFileBasedIO(const char* fileName, const char* mode);
    ~KpFileBasedIO() override;

    int kpRead(char* destination, int n) override;
    int kpReadLine(char* destination, int n) override;
    std::string kpReadLine() override;
    int32_t kpReadInt(int byteOrder) override;
    int16_t kpReadShort(int byteOrder) override;
    int kpWriteInt(int32_t value, int byteOrder) override;
    int kpWriteShort(int16_t value, int byteOrder) override;
    int kpWrite(const char* source, int n) override;
    bool kpCloseStream() override;
    bool kpFlushStream() override;

private:
    FILE* fileStream;
};

#endif
