#include "fuzzentry.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    fuzzentry::loadAndSave(data, size);
    return 0;
}
