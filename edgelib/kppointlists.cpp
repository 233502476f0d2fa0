#include "kppointlists.h"

#include <cstddef>
#include <cstdint>
#include <unordered_map>

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

std::vector<PointList> withoutDuplicates(const std::vector<PointList>& lists)
{
    std::vector<PointList> kept;
    // Hash of a kept list -> indices into kept of the lists with that hash.
    std::unordered_multimap<uint64_t, std::size_t> index;
    index.reserve(lists.size());
    for (const PointList& list : lists) {
        const uint64_t hash = hashOf(list);
        bool duplicate = false;
        auto range = index.equal_range(hash);
        for (auto it = range.first; it != range.second && !duplicate; ++it) {
            duplicate = kept[it->second] == list;
        }
        if (!duplicate) {
            index.emplace(hash, kept.size());
            kept.push_back(list);
        }
    }
    return kept;
}

} // namespace kppointlists
