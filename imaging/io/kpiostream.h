#ifndef DOVODA_KPIOSTREAM_H
#define DOVODA_KPIOSTREAM_H

#include <cstdint>
#include <string>

// A byte stream over a file or a memory block, with integer reads and
// writes in a chosen byte order (0 little-endian, 1 big-endian).
class KpIOStream {
public:
    KpIOStream();
    virtual ~KpIOStream();
    KpIOStream(const KpIOStream&) = delete;
    KpIOStream& operator=(const KpIOStream&) = delete;

    virtual int kpRead(char* destination, int n) = 0;
    virtual int kpReadLine(char* destination, int n) = 0;
    virtual std::string kpReadLine() = 0;
    virtual int32_t kpReadInt(int byteOrder) = 0;
    virtual int16_t kpReadShort(int byteOrder) = 0;
    virtual int kpWriteInt(int32_t value, int byteOrder) = 0;
    virtual int kpWriteShort(int16_t value, int byteOrder) = 0;
    virtual int kpWrite(const char* source, int n) = 0;
    virtual bool kpCloseStream() = 0;
    virtual bool kpFlushStream() = 0;

    // The machine's byte order: 0 little-endian, 1 big-endian.
    static int kpMachineByteOrder();

    // True once a read came up short (kpReadInt and kpReadShort then
    // return 0): codecs test it after reading a header.
    bool kpReadFailed() const { return readFailed; }

protected:
    int byteOrder;
    bool readFailed = false;
};

#endif
