#ifndef DOVODA_KPGIFARRAY_H
#define DOVODA_KPGIFARRAY_H

#include "kpexception.h"
#include "kppixelbuffer.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

// A fixed-capacity array for the parts of a GIF file being written: the
// capacity is reserved once, for the largest content the part can have,
// and every append is checked against it (code 13: the writer reserved too
// little, an internal error).
template <class T> class KpGIFArray {
public:
    KpGIFArray() = default;
    virtual ~KpGIFArray() = default;
    KpGIFArray(const KpGIFArray&) = delete;
    KpGIFArray& operator=(const KpGIFArray&) = delete;

    // Drops the content and makes room for capacity items (code 13 when
    // the memory cannot be had).
    void kpReserve(int64_t capacity)
    {
        if (capacity < 0 || capacity > INT32_MAX) {
            KP_THROW(KP_NO_MEMORY, "<KpGIFArray::kpReserve()> Unable to allocate memory for the GIF data");
        }
        items.reset(new (std::nothrow) T[static_cast<std::size_t>(capacity)]);
        if (!items && capacity > 0) {
            KP_THROW(KP_NO_MEMORY, "<KpGIFArray::kpReserve()> Unable to allocate memory for the GIF data");
        }
        KpPixelBuffer::kpAdviseHugePages(items.get(), static_cast<std::size_t>(capacity) * sizeof(T));
        reserved = static_cast<int32_t>(capacity);
        count = 0;
    }

    void kpAppend(T value)
    {
        checkRoom(1);
        items[static_cast<std::size_t>(count++)] = value;
    }

    void kpAppend(const T* values, int32_t n)
    {
        checkRoom(n);
        std::memcpy(items.get() + count, values, static_cast<std::size_t>(n) * sizeof(T));
        count += n;
    }

    int32_t kpGetCount() const { return count; }
    int32_t kpGetCapacity() const { return reserved; }
    const T* kpGetItems() const { return items.get(); }
    T& operator[](int32_t i) { return items[static_cast<std::size_t>(i)]; }
    const T& operator[](int32_t i) const { return items[static_cast<std::size_t>(i)]; }

private:
    void checkRoom(int32_t n) const
    {
        if (n < 0 || n > reserved - count) {
            KP_THROW(KP_NO_MEMORY, "<KpGIFArray::kpAppend()> Internal error: the GIF data outgrew its reserved capacity");
        }
    }

    int32_t count = 0;
    std::unique_ptr<T[]> items;
    int32_t reserved = 0;
};

#endif
