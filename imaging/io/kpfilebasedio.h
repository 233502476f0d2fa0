#ifndef DOVODA_KPFILEBASEDIO_H
#define DOVODA_KPFILEBASEDIO_H

#include "kpiostream.h"

#include <cstdio>

// A byte stream over a standard buffered file. Writers must check every
// kpWrite and the result of kpCloseStream: a full disk shows up in either.
class KpFileBasedIO : public KpIOStream {
public:
    // Opens fileName with mode ("rb", "wb"); raises code 2 on failure.
    KpFileBasedIO(const char* fileName, const char* mode);
    // A stream over a file the caller keeps open and closes (such as a
    // KpOutputFile's): kpCloseStream only flushes it and lets it go.
    explicit KpFileBasedIO(FILE* borrowedFile);
    ~KpFileBasedIO() override;

    int kpRead(char* destination, int n) override;
    // Reads a line with its "\n", zero-terminated; 1 when a line was read.
    int kpReadLine(char* destination, int n) override;
    using KpIOStream::kpReadLine;
    int kpWrite(const char* source, int n) override;
    // Closes the file (a borrowed one is flushed instead): true when it
    // was open and every buffered byte reached it.
    bool kpCloseStream() override;
    bool kpFlushStream() override;

private:
    FILE* fileStream;
    bool ownsFile;
};

#endif
