#include "kpbuffermemory.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

void kpAdviseHugePages(uint8_t* buffer, std::size_t size)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const uintptr_t hugePage = uintptr_t(2) << 20;
    if (size < 4 * hugePage) {
        return;
    }
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(buffer) + hugePage - 1) & ~(hugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + size) & ~(hugePage - 1);
    madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)buffer;
    (void)size;
#endif
}
