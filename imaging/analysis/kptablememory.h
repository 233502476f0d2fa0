#ifndef DOVODA_KPTABLEMEMORY_H
#define DOVODA_KPTABLEMEMORY_H

#include "kpexception.h"
#include "kppixelbuffer.h"

#include <cstdint>
#include <iterator>
#include <new>
#include <stdexcept>
#include <vector>

// Allocation of the large working tables of the analysis operations
// (std::vector storage). Sizes are checked in 64 bits against the largest
// size the table's index type allows, a failure raises code 13 with the
// caller's text instead of std::bad_alloc, and new storage is hinted for
// huge pages before anything touches it: a table filled once would
// otherwise cost a page fault per 4 KiB.
namespace kptablememory {

// Runs action, raising code 13 with text when memory runs out.
template <typename Action>
void allocateOrThrow(const char* text, Action action)
{
    try {
        action();
    } catch (const std::bad_alloc&) {
        KP_THROW(KP_NO_MEMORY, text);
    } catch (const std::length_error&) {
        KP_THROW(KP_NO_MEMORY, text);
    }
}

// Room for capacity entries. The entries already there move into the new
// storage; the room beyond them stays untouched.
template <typename T>
void reserve(std::vector<T>& table, int64_t capacity, int64_t maxSize, const char* text)
{
    if (capacity < 0 || capacity > maxSize) {
        KP_THROW(KP_NO_MEMORY, text);
    }
    if (static_cast<std::size_t>(capacity) <= table.capacity()) {
        return;
    }
    std::vector<T> larger;
    allocateOrThrow(text, [&larger, capacity] { larger.reserve(static_cast<std::size_t>(capacity)); });
    KpPixelBuffer::kpAdviseHugePages(larger.data(), larger.capacity() * sizeof(T));
    larger.insert(larger.end(), std::make_move_iterator(table.begin()), std::make_move_iterator(table.end()));
    table.swap(larger);
}

// size entries, the new ones value-initialised.
template <typename T>
void resize(std::vector<T>& table, int64_t size, int64_t maxSize, const char* text)
{
    reserve(table, size, maxSize, text);
    table.resize(static_cast<std::size_t>(size));
}

} // namespace kptablememory

#endif
