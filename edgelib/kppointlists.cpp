#include "kppointlists.h"

#include "kppixelbuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
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

double pathLength(const PointList& list)
{
    double length = 0.0;
    for (std::size_t i = 1; i < list.size(); ++i) {
        length += std::hypot(static_cast<double>(list[i].row) - list[i - 1].row,
                             static_cast<double>(list[i].col) - list[i - 1].col);
    }
    return length;
}

void removeShorterThan(std::vector<PointList>& lists, double minLength)
{
    lists.erase(std::remove_if(lists.begin(), lists.end(),
                               [minLength](const PointList& list) { return pathLength(list) < minLength; }),
                lists.end());
}

PointList segmentPixels(point a, const point& b)
{
    const int64_t dx = std::abs(static_cast<int64_t>(b.col) - a.col);
    const int64_t dy = -std::abs(static_cast<int64_t>(b.row) - a.row);
    const int32_t stepX = a.col < b.col ? 1 : -1;
    const int32_t stepY = a.row < b.row ? 1 : -1;
    PointList pixels;
    pixels.reserve(static_cast<std::size_t>(std::max(dx, -dy)) + 1);
    int64_t error = dx + dy;
    for (;;) {
        pixels.push_back(a);
        if (a == b) {
            return pixels;
        }
        const int64_t doubled = 2 * error;
        if (doubled >= dy) {
            error += dy;
            a.col += stepX;
        }
        if (doubled <= dx) {
            error += dx;
            a.row += stepY;
        }
    }
}

} // namespace kppointlists
