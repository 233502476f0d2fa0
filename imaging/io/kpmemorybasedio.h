#ifndef DOVODA_KPMEMORYBASEDIO_H
#define DOVODA_KPMEMORYBASEDIO_H

#include "kpiostream.h"

// A byte stream over a memory-file handle (kpmemoryfile.h).
class KpMemoryBasedIO : public KpIOStream {
public:
    // Opens a memory file over buffer; when that fails every later call
    // fails.
    KpMemoryBasedIO(char* buffer, int size, const char* mode);
    ~KpMemoryBasedIO() override;

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

    unsigned char* kpGetBuffer() const;
    int kpGetSize() const;

private:
    int handle;
};

#endif
