#include "kpmemoryfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

const int SLOT_COUNT = 20;
const int SLOT_FREE = -1;
const int SLOT_IN_USE = 0;

// The error numbers a misused call leaves in errno.
const int ERROR_BAD_HANDLE = 77;
const int ERROR_INVALID = 22;
const int ERROR_NO_MEMORY = 122;

const int64_t MAX_BLOCK = std::numeric_limits<int>::max();

// One memory file. Bytes between size and capacity are always zero, so
// a block that grows past its size reads as zero-filled.
struct MemorySlot {
    int state = SLOT_FREE;
    unsigned char* buffer = nullptr;
    int size = 0;
    int position = 0;
    int capacity = 0;
    char mode = 0;
};

MemorySlot* slotTable()
{
    static MemorySlot slots[SLOT_COUNT];
    return slots;
}

int failWith(int error)
{
    errno = error;
    return -1;
}

// The slot of an open handle, or null (errno set) when the handle is not
// in use.
MemorySlot* openSlot(int handle)
{
    if (handle < 0 || handle >= SLOT_COUNT || slotTable()[handle].state != SLOT_IN_USE) {
        errno = ERROR_BAD_HANDLE;
        return nullptr;
    }
    return &slotTable()[handle];
}

MemorySlot* readSlot(int handle)
{
    MemorySlot* slot = openSlot(handle);
    if (slot != nullptr && slot->mode != 'r') {
        errno = ERROR_BAD_HANDLE;
        return nullptr;
    }
    return slot;
}

MemorySlot* writeSlot(int handle)
{
    MemorySlot* slot = openSlot(handle);
    if (slot != nullptr && slot->mode == 'r') {
        errno = ERROR_BAD_HANDLE;
        return nullptr;
    }
    return slot;
}

// Makes room for length bytes in a write block, at least doubling the
// capacity; the new bytes are zero. False (block unchanged) when the
// memory cannot be obtained.
bool reserveBlock(MemorySlot& slot, int64_t length)
{
    if (length <= slot.capacity) {
        return true;
    }
    int64_t capacity = std::max<int64_t>(length, 2 * static_cast<int64_t>(slot.capacity));
    capacity = std::min(capacity, MAX_BLOCK);
    void* grown = std::realloc(slot.buffer, static_cast<std::size_t>(capacity));
    if (grown == nullptr) {
        return false;
    }
    slot.buffer = static_cast<unsigned char*>(grown);
    std::memset(slot.buffer + slot.capacity, 0, static_cast<std::size_t>(capacity - slot.capacity));
    slot.capacity = static_cast<int>(capacity);
    return true;
}

int remainingBytes(const MemorySlot& slot)
{
    return slot.position < slot.size ? slot.size - slot.position : 0;
}

} // namespace

int mem_open(unsigned char* buffer, int size, const char* mode)
{
    if (mode == nullptr || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a') || size < 0) {
        return failWith(ERROR_INVALID);
    }
    if ((mode[0] == 'r' && buffer == nullptr) || (mode[0] == 'w' && buffer != nullptr)) {
        return failWith(ERROR_INVALID);
    }
    MemorySlot* slots = slotTable();
    for (int handle = 0; handle < SLOT_COUNT; ++handle) {
        if (slots[handle].state == SLOT_FREE) {
            MemorySlot& slot = slots[handle];
            slot = MemorySlot();
            slot.state = SLOT_IN_USE;
            slot.mode = mode[0];
            slot.buffer = buffer;
            slot.size = buffer == nullptr ? 0 : size;
            slot.capacity = slot.size;
            return handle;
        }
    }
    return failWith(ERROR_BAD_HANDLE);
}

int mem_read(int handle, void* destination, int n)
{
    MemorySlot* slot = readSlot(handle);
    if (slot == nullptr) {
        return -1;
    }
    if (n < 0 || destination == nullptr) {
        return failWith(ERROR_INVALID);
    }
    if (n == 0 || remainingBytes(*slot) < n) {
        return 0;
    }
    std::memcpy(destination, slot->buffer + slot->position, static_cast<std::size_t>(n));
    slot->position += n;
    return n;
}

int mem_gets(int handle, char* destination, int n)
{
    MemorySlot* slot = readSlot(handle);
    if (slot == nullptr) {
        return -1;
    }
    if (n <= 0 || destination == nullptr) {
        return failWith(ERROR_INVALID);
    }
    const unsigned char* data = slot->buffer;
    int position = slot->position;
    while (position < slot->size && data[position] == '\n') {
        ++position;
    }
    int count = 0;
    while (position < slot->size && count < n - 1 && data[position] != '\n') {
        destination[count++] = static_cast<char>(data[position++]);
    }
    destination[count] = '\0';
    if (count > 0 && position < slot->size && data[position] == '\n') {
        ++position;
    }
    slot->position = position;
    return count;
}

int mem_write(int handle, const void* source, int n)
{
    MemorySlot* slot = writeSlot(handle);
    if (slot == nullptr) {
        return -1;
    }
    if (n < 0 || (source == nullptr && n > 0)) {
        return failWith(ERROR_INVALID);
    }
    const int64_t start = slot->mode == 'a' ? slot->size : slot->position;
    const int64_t end = start + n;
    if (end > MAX_BLOCK) {
        return failWith(ERROR_NO_MEMORY);
    }
    if (!reserveBlock(*slot, end)) {
        return failWith(ERROR_NO_MEMORY);
    }
    if (n > 0) {
        std::memcpy(slot->buffer + start, source, static_cast<std::size_t>(n));
    }
    slot->position = static_cast<int>(end);
    slot->size = std::max(slot->size, slot->position);
    return n;
}

int mem_seek(int handle, int offset, int origin)
{
    MemorySlot* slot = openSlot(handle);
    if (slot == nullptr) {
        return -1;
    }
    int64_t base = 0;
    if (origin == 1) {
        base = slot->position;
    } else if (origin == 2) {
        base = slot->size;
    } else if (origin != 0) {
        return failWith(ERROR_INVALID);
    }
    const int64_t position = base + offset;
    if (position < 0 || position > MAX_BLOCK) {
        return failWith(ERROR_INVALID);
    }
    if (slot->mode != 'r' && !reserveBlock(*slot, position)) {
        return failWith(ERROR_NO_MEMORY);
    }
    slot->position = static_cast<int>(position);
    return slot->position;
}

int mem_size(int handle)
{
    MemorySlot* slot = openSlot(handle);
    return slot == nullptr ? -1 : slot->size;
}

int mem_get_buffer(int handle, unsigned char** buffer, int* size)
{
    MemorySlot* slot = openSlot(handle);
    if (slot == nullptr) {
        return -1;
    }
    if (buffer == nullptr || size == nullptr) {
        return failWith(ERROR_INVALID);
    }
    *buffer = slot->buffer;
    *size = slot->size;
    return 0;
}

int mem_flush()
{
    return 0;
}

int mem_close(int handle)
{
    MemorySlot* slot = openSlot(handle);
    if (slot == nullptr) {
        return -1;
    }
    *slot = MemorySlot();
    return 0;
}
