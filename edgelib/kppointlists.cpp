#include "kppointlists.h"

#include "kppixelbuffer.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace kppointlists {

namespace {

// 64-bit FNV-1a over the coordinates of the points in order.
uint64_t hashOf(const PointList& list)
{
    const uint64_t prime = 1099511628211ULL;
    uint64_t hash = 14695981039346656037ULL ^ list.size();
    for (const point& p : list) {
        hash = (hash ^ static_cast<uint32_t>(p.row)) * prime;
        hash = (hash ^ static_cast<uint32_t>(p.col)) * prime;
    }
    return hash;
}

} // namespace

void removeDuplicates(std::vector<PointList>& lists)
{
    // An open-addressing table of the lists kept so far, by hash: each
    // list is compared only with kept lists of the same hash, and kept
    // lists move forward into their final places as they are taken.
    struct Slot {
        uint32_t hashTag;
        uint32_t index; // EMPTY for a free slot
    };
    const uint32_t EMPTY = std::numeric_limits<uint32_t>::max();
    std::size_t capacity = 16;
    while (capacity < 2 * lists.size()) {
        capacity *= 2;
    }
    const std::size_t mask = capacity - 1;
    std::vector<Slot> slots;
    KpPixelBuffer::kpAssignLarge(slots, capacity, Slot{0, EMPTY});
    std::size_t next = 0;
    for (std::size_t i = 0; i < lists.size(); ++i) {
        const uint64_t hash = hashOf(lists[i]);
        const uint32_t tag = static_cast<uint32_t>(hash >> 32);
        std::size_t slot = static_cast<std::size_t>(hash) & mask;
        bool duplicate = false;
        for (; slots[slot].index != EMPTY; slot = (slot + 1) & mask) {
            if (slots[slot].hashTag == tag && lists[slots[slot].index] == lists[i]) {
                duplicate = true;
                break;
            }
        }
        if (duplicate) {
            continue;
        }
        slots[slot] = Slot{tag, static_cast<uint32_t>(next)};
        if (next != i) {
            lists[next] = std::move(lists[i]);
        }
        ++next;
    }
    lists.resize(next);
}

} // namespace kppointlists
