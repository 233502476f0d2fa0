#ifndef DOVODA_KPPIXELBUFFER_H
#define DOVODA_KPPIXELBUFFER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// Allocation of pixel buffers, the one place that decides whether a
// buffer of rows x rowBytes bytes may exist: the size is computed in 64
// bits and must be positive and at most KpImage::KP_MAX_IMAGE_BYTES, the
// allocation does not throw std::bad_alloc, and every refusal raises code
// 13 (KP_NO_MEMORY) with the caller's text. Large buffers ask the system
// for huge pages, since a fresh buffer is filled once and would otherwise
// cost a page fault per 4 KiB.
class KpPixelBuffer {
public:
    static const char* const KP_DEFAULT_FAILURE_TEXT; // "Error Allocating Image Data memory"

    // rows x rowBytes, checked as above, without allocating.
    static std::size_t kpCheckedSize(int64_t rowBytes, int64_t rows,
                                     const char* failureText = KP_DEFAULT_FAILURE_TEXT);
    // A buffer of rows x rowBytes bytes, not filled. Release it with
    // delete[] (or hand it to the KpImage(data, head) constructor).
    static std::unique_ptr<uint8_t[]> kpAllocate(int64_t rowBytes, int64_t rows,
                                                 const char* failureText = KP_DEFAULT_FAILURE_TEXT);
    // The same, every byte set to value.
    static std::unique_ptr<uint8_t[]> kpAllocateFilled(int64_t rowBytes, int64_t rows, uint8_t value,
                                                       const char* failureText = KP_DEFAULT_FAILURE_TEXT);
    // The huge-page hint alone, for buffers allocated elsewhere (a hint the
    // system may ignore; small buffers and other systems are left alone).
    static void kpAdviseHugePages(void* buffer, std::size_t size);

    // Large working arrays of other kinds (maps, tables, encoded files):
    // room for count values in fresh memory given the huge-page hint
    // before anything is written to it, so that filling it costs a page
    // fault per 2 MiB instead of per 4 KiB. A vector with room enough
    // already keeps its memory.
    template <class T> static void kpReserveLarge(std::vector<T>& values, std::size_t count)
    {
        if (values.capacity() < count) {
            std::vector<T>().swap(values);
            values.reserve(count);
            kpAdviseHugePages(values.data(), count * sizeof(T));
        }
    }
    // The same, then count copies of value.
    template <class T> static void kpAssignLarge(std::vector<T>& values, std::size_t count, const T& value)
    {
        kpReserveLarge(values, count);
        values.assign(count, value);
    }
};

#endif
