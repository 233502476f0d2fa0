#include "kpiostream.h"

#include <algorithm>
#include <cstring>

namespace {

const unsigned char LINE_END = '\n';
const unsigned char END_MARK = 0xFF;

} // namespace

KpIOStream::KpIOStream() : byteOrder(kpMachineByteOrder()) {}

KpIOStream::~KpIOStream() = default;

int KpIOStream::kpMachineByteOrder()
{
    const uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 1 ? 0 : 1;
}

void KpIOStream::readOrdered(unsigned char* bytes, int n, int order)
{
    if (kpRead(reinterpret_cast<char*>(bytes), n) <= 0) {
        std::fill(bytes, bytes + n, 0);
        readFailed = true;
        return;
    }
    if (order != byteOrder) {
        std::reverse(bytes, bytes + n);
    }
}

template <typename Number> Number KpIOStream::readNumber(int order)
{
    unsigned char bytes[sizeof(Number)];
    readOrdered(bytes, sizeof bytes, order);
    Number value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

int32_t KpIOStream::kpReadInt(int order)
{
    return readNumber<int32_t>(order);
}

int16_t KpIOStream::kpReadShort(int order)
{
    return readNumber<int16_t>(order);
}

template <typename Number> int KpIOStream::writeNumber(Number value, int order)
{
    unsigned char bytes[sizeof(Number)];
    std::memcpy(bytes, &value, sizeof bytes);
    if (order != byteOrder) {
        std::reverse(bytes, bytes + sizeof bytes);
    }
    return kpWrite(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

int KpIOStream::kpWriteInt(int32_t value, int order)
{
    return writeNumber(value, order);
}

int KpIOStream::kpWriteShort(int16_t value, int order)
{
    return writeNumber(value, order);
}

std::string KpIOStream::kpReadLine()
{
    std::string line;
    char byte;
    while (true) {
        if (kpRead(&byte, 1) <= 0 || static_cast<unsigned char>(byte) == END_MARK) {
            if (!line.empty()) {
                line += static_cast<char>(END_MARK);
            }
            return line;
        }
        line += byte;
        if (static_cast<unsigned char>(byte) == LINE_END) {
            return line;
        }
    }
}
