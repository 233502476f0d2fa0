#include "kppointlists.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstddef>
#include <cstdint>
#include <utility>

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
    // (hash, index) pairs sorted by hash, then by index: lists that may be
    // equal stand together, each group in the lists' order.
    std::vector<std::pair<uint64_t, std::size_t>> order(lists.size());
    for (std::size_t i = 0; i < lists.size(); ++i) {
        order[i] = {hashOf(lists[i]), i};
    }
    std::sort(order.begin(), order.end());
    std::vector<bool> duplicate(lists.size(), false);
    for (std::size_t groupStart = 0; groupStart < order.size();) {
        std::size_t groupEnd = groupStart + 1;
        while (groupEnd < order.size() && order[groupEnd].first == order[groupStart].first) {
            ++groupEnd;
        }
        for (std::size_t later = groupStart + 1; later < groupEnd; ++later) {
            for (std::size_t earlier = groupStart; earlier < later; ++earlier) {
                const std::size_t kept = order[earlier].second;
                if (!duplicate[kept] && lists[kept] == lists[order[later].second]) {
                    duplicate[order[later].second] = true;
                    break;
                }
            }
        }
        groupStart = groupEnd;
    }
    std::size_t next = 0;
    for (std::size_t i = 0; i < lists.size(); ++i) {
        if (!duplicate[i]) {
            if (next != i) {
                lists[next] = std::move(lists[i]);
            }
            ++next;
        }
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
