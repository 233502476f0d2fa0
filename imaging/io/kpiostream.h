#ifndef DOVODA_KPIOSTREAM_H
#define DOVODA_KPIOSTREAM_H

#include <cstdint>
#include <string>

// A byte stream over a file or a memory block, with integer reads and
// writes in a chosen byte order (0 little-endian, 1 big-endian).
//
// kpRead and kpWrite move whole items: a positive result means all n
// bytes moved (1 for files, n for memory), 0 or -1 that they did not.
// The integer and line operations are built on them once, here.
class KpIOStream {
public:
    KpIOStream();
    virtual ~KpIOStream();
    KpIOStream(const KpIOStream&) = delete;
    KpIOStream& operator=(const KpIOStream&) = delete;

    virtual int kpRead(char* destination, int n) = 0;
    virtual int kpReadLine(char* destination, int n) = 0;
    // Bytes up to and including the next "\n". A 0xFF byte or the end of
    // the data ends the line too: then a non-empty line gets a 0xFF byte
    // appended, and an empty one is returned as it is.
    virtual std::string kpReadLine();
    // Short reads return 0 and set the sticky read-failed flag.
    virtual int32_t kpReadInt(int byteOrder);
    virtual int16_t kpReadShort(int byteOrder);
    // The result of kpWrite for the 4 or 2 bytes.
    virtual int kpWriteInt(int32_t value, int byteOrder);
    virtual int kpWriteShort(int16_t value, int byteOrder);
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

private:
    // Reads n raw bytes in the requested order; on a short read the bytes
    // are zero and the flag is set.
    void readOrdered(unsigned char* bytes, int n, int order);
    template <typename Number> Number readNumber(int order);
    template <typename Number> int writeNumber(Number value, int order);
};

#endif
