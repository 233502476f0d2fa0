#include "kpblockwriter.h"

#include <utility>

KpBlockWriter::KpBlockWriter(std::vector<FILE*> files)
    : files(std::move(files)), ok(this->files.size(), true), block(BLOCK_BYTES), end(block.data())
{
}

char* KpBlockWriter::room(std::size_t bytes)
{
    if (static_cast<std::size_t>(block.data() + block.size() - end) < bytes) {
        flush();
    }
    return end;
}

void KpBlockWriter::flush()
{
    const std::size_t used = static_cast<std::size_t>(end - block.data());
    for (std::size_t i = 0; i < files.size() && used != 0; ++i) {
        if (ok[i] && std::fwrite(block.data(), 1, used, files[i]) != used) {
            ok[i] = false;
        }
    }
    end = block.data();
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
