#include "kppixelbuffer.h"

#include "kpexception.h"
#include "kpimage.h"

#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

const char* const KpPixelBuffer::KP_DEFAULT_FAILURE_TEXT = "Error Allocating Image Data memory";

std::size_t KpPixelBuffer::kpCheckedSize(int64_t rowBytes, int64_t rows, const char* failureText)
{
    if (rowBytes <= 0 || rows <= 0 || rowBytes > KpImage::KP_MAX_IMAGE_BYTES / rows) {
        KP_THROW(KP_NO_MEMORY, failureText);
    }
    return static_cast<std::size_t>(rowBytes * rows);
}

std::unique_ptr<uint8_t[]> KpPixelBuffer::kpAllocate(int64_t rowBytes, int64_t rows, const char* failureText)
{
    const std::size_t size = kpCheckedSize(rowBytes, rows, failureText);
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer) {
        KP_THROW(KP_NO_MEMORY, failureText);
    }
    kpAdviseHugePages(buffer.get(), size);
    return buffer;
}

std::unique_ptr<uint8_t[]> KpPixelBuffer::kpAllocateFilled(int64_t rowBytes, int64_t rows, uint8_t value,
                                                           const char* failureText)
{
    std::unique_ptr<uint8_t[]> buffer = kpAllocate(rowBytes, rows, failureText);
    std::memset(buffer.get(), value, static_cast<std::size_t>(rowBytes * rows));
    return buffer;
}

void KpPixelBuffer::kpAdviseHugePages(void* buffer, std::size_t size)
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
