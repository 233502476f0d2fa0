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
    // Characters copied by mem_gets (the "\n" is not kept).
    int kpReadLine(char* destination, int n) override;
    using KpIOStream::kpReadLine;
    int kpWrite(const char* source, int n) override;
    bool kpCloseStream() override;
    bool kpFlushStream() override;

    // The block and its size while the stream is open (null and 0 after
    // kpCloseStream). A write block belongs to the caller, who takes it
    // before closing and releases it with free(), also after a failure.
    unsigned char* kpGetBuffer() const;
    int kpGetSize() const;

private:
    int handle;
};

#endif
