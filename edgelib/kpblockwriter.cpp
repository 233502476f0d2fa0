#include "kpblockwriter.h"

KpBlockWriter::KpBlockWriter(FILE* file) : file(file), block(BLOCK_BYTES), end(block.data()) {}

char* KpBlockWriter::room(std::size_t bytes)
{
    if (static_cast<std::size_t>(block.data() + block.size() - end) < bytes) {
        flush();
    }
    return end;
}

bool KpBlockWriter::flush()
{
    const std::size_t used = static_cast<std::size_t>(end - block.data());
    if (used != 0 && std::fwrite(block.data(), 1, used, file) != used) {
        ok = false;
    }
    end = block.data();
    return ok;
}

char* KpBlockWriter::formatDecimal(char* out, int32_t value)
{
    char digits[MAX_DECIMAL_CHARS];
    char* const last = digits + MAX_DECIMAL_CHARS;
    char* first = last;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        *--first = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        *out++ = '-';
    }
    while (first != last) {
        *out++ = *first++;
    }
    return out;
}
