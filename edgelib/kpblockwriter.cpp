#include "kpblockwriter.h"

#include <utility>

KpBlockWriter::KpBlockWriter(std::vector<FILE*> files)
    : files(std::move(files)), ok(this->files.size(), true), block(new char[BLOCK_BYTES]), end(block.get())
{
}

char* KpBlockWriter::room(std::size_t bytes)
{
    if (static_cast<std::size_t>(block.get() + BLOCK_BYTES - end) < bytes) {
        flush();
    }
    return end;
}

void KpBlockWriter::flush()
{
    const std::size_t used = static_cast<std::size_t>(end - block.get());
    for (std::size_t i = 0; i < files.size() && used != 0; ++i) {
        if (ok[i] && std::fwrite(block.get(), 1, used, files[i]) != used) {
            ok[i] = false;
        }
    }
    end = block.get();
}

namespace {

// "00" to "99", two characters each.
const char TWO_DIGITS[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                          "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                          "8081828384858687888990919293949596979899";

const uint32_t POWERS_OF_TEN[] = {1,      10,      100,      1000,      10000,
                                  100000, 1000000, 10000000, 100000000, 1000000000};

// Without a loop: 1233 / 4096 approximates log10(2), so the bit length
// gives the decimal length or one more, which one comparison settles
// (0 counts as 1, which has the same length).
int digitCount(uint32_t magnitude)
{
    const uint32_t value = magnitude | 1;
    const int bits = 32 - __builtin_clz(value);
    const int estimate = (bits * 1233) >> 12;
    return estimate + 1 - (value < POWERS_OF_TEN[estimate] ? 1 : 0);
}

} // namespace

// Writes the digits from the last, two at a time.
char* KpBlockWriter::formatDecimal(char* out, int32_t value)
{
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    if (value < 0) {
        *out++ = '-';
    }
    char* const end = out + digitCount(magnitude);
    char* digit = end;
    while (magnitude >= 100) {
        const uint32_t pair = magnitude % 100;
        magnitude /= 100;
        digit -= 2;
        digit[0] = TWO_DIGITS[2 * pair];
        digit[1] = TWO_DIGITS[2 * pair + 1];
    }
    if (magnitude >= 10) {
        digit -= 2;
        digit[0] = TWO_DIGITS[2 * magnitude];
        digit[1] = TWO_DIGITS[2 * magnitude + 1];
    } else {
        *--digit = static_cast<char>('0' + magnitude);
    }
    return end;
}
