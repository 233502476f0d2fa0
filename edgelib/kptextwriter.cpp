#include "kptextwriter.h"

KpTextWriter::KpTextWriter(const std::string& fileName)
    : file(std::fopen(fileName.c_str(), "w+")), failed(file == nullptr),
      buffer(new char[BLOCK_BYTES]), used(0)
{
}

KpTextWriter::~KpTextWriter()
{
    if (file != nullptr) {
        std::fclose(file);
    }
}

int KpTextWriter::formatInt(int32_t value, char* text)
{
    // Digits are produced from the magnitude in 64 bits, so the most
    // negative value needs no special case.
    int64_t magnitude = value;
    int length = 0;
    if (magnitude < 0) {
        text[length++] = '-';
        magnitude = -magnitude;
    }
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    while (count > 0) {
        text[length++] = digits[--count];
    }
    return length;
}

void KpTextWriter::appendInt(int32_t value)
{
    makeRoom();
    used += static_cast<std::size_t>(formatInt(value, buffer.get() + used));
}

void KpTextWriter::appendChar(char c)
{
    makeRoom();
    buffer[used++] = c;
}

void KpTextWriter::makeRoom()
{
    if (used + ITEM_BYTES > BLOCK_BYTES) {
        flushBlock();
    }
}

void KpTextWriter::flushBlock()
{
    if (!failed && used > 0 && std::fwrite(buffer.get(), 1, used, file) != used) {
        failed = true;
    }
    used = 0;
}

bool KpTextWriter::close()
{
    if (file == nullptr) {
        return false;
    }
    flushBlock();
    if (std::fclose(file) != 0) {
        failed = true;
    }
    file = nullptr;
    return !failed;
}
