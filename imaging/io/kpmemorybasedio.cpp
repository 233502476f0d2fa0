#include "kpmemorybasedio.h"

#include "kpmemoryfile.h"

KpMemoryBasedIO::KpMemoryBasedIO(char* buffer, int size, const char* mode)
    : handle(mem_open(reinterpret_cast<unsigned char*>(buffer), size, mode))
{
}

KpMemoryBasedIO::~KpMemoryBasedIO()
{
    kpCloseStream();
}

int KpMemoryBasedIO::kpRead(char* destination, int n)
{
    const int result = mem_read(handle, destination, n);
    return result > 0 ? result : 0;
}

int KpMemoryBasedIO::kpReadLine(char* destination, int n)
{
    const int result = mem_gets(handle, destination, n);
    return result > 0 ? result : 0;
}

int KpMemoryBasedIO::kpWrite(const char* source, int n)
{
    return mem_write(handle, source, n);
}

bool KpMemoryBasedIO::kpCloseStream()
{
    if (handle >= 0) {
        mem_close(handle);
        handle = -1;
    }
    return true;
}

bool KpMemoryBasedIO::kpFlushStream()
{
    return true;
}

unsigned char* KpMemoryBasedIO::kpGetBuffer() const
{
    unsigned char* buffer = nullptr;
    int size = 0;
    return mem_get_buffer(handle, &buffer, &size) == 0 ? buffer : nullptr;
}

int KpMemoryBasedIO::kpGetSize() const
{
    const int size = mem_size(handle);
    return size > 0 ? size : 0;
}
