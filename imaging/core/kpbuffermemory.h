#ifndef DOVODA_KPBUFFERMEMORY_H
#define DOVODA_KPBUFFERMEMORY_H

#include <cstddef>
#include <cstdint>

// A fresh pixel buffer is filled once; on Linux a large one costs a page
// fault per 4 KiB page unless it is backed by huge pages, so this asks the
// system for them over the buffer's whole 2 MiB pages (a hint it may
// ignore). Small buffers and other systems are left alone.
void kpAdviseHugePages(uint8_t* buffer, std::size_t size);

#endif
