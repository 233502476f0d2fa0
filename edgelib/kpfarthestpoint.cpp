#include "kpfarthestpoint.h"

#include <algorithm>
#include <limits>

namespace {

// Ranges and tree nodes of up to this many points are simply scanned.
const int32_t SCAN_POINTS = 32;

} // namespace

void KpFarthestPoint::reset(const std::vector<int32_t>& x, const std::vector<int32_t>& y)
{
    xs = &x;
    ys = &y;
    const int32_t n = static_cast<int32_t>(x.size());
    // Every range of a list this short is scanned: it needs no tree.
    if (n <= SCAN_POINTS) {
        leaves = 0;
        return;
    }
    leaves = 1;
    while (leaves < n) {
        leaves *= 2;
    }
    const Box empty{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min(),
                    std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()};
    boxes.assign(2 * static_cast<std::size_t>(leaves), empty);
    for (int32_t i = 0; i < n; ++i) {
        boxes[leaves + i] = Box{x[i], x[i], y[i], y[i]};
    }
    for (std::size_t k = static_cast<std::size_t>(leaves) - 1; k >= 1; --k) {
        const Box& l = boxes[2 * k];
        const Box& r = boxes[2 * k + 1];
        boxes[k] = Box{std::min(l.minX, r.minX), std::max(l.maxX, r.maxX), std::min(l.minY, r.minY),
                       std::max(l.maxY, r.maxY)};
    }
}

int32_t KpFarthestPoint::farthest(int32_t first, int32_t last, double& deviation)
{
    const KpChord rangeChord((*xs)[first], (*ys)[first], (*xs)[last], (*ys)[last]);
    chord = &rangeChord;
    rangeFirst = first;
    rangeLast = last;
    bestMeasure = 0;
    bestIndex = first;
    if (last - first < SCAN_POINTS) {
        scan(first, last);
    } else {
        search(1, 0, leaves - 1);
    }
    deviation = rangeChord.deviation(bestMeasure);
    chord = nullptr;
    return bestIndex - first;
}

void KpFarthestPoint::scan(int32_t from, int32_t to)
{
    for (int32_t i = from; i <= to; ++i) {
        const int64_t measure = chord->measure((*xs)[i], (*ys)[i]);
        if (measure > bestMeasure) {
            bestMeasure = measure;
            bestIndex = i;
        }
    }
}

// Visits the points of the node in order; a node whose box cannot hold a
// point farther than the best so far is skipped (a later point must be
// strictly farther to win, so ties keep the earlier point).
void KpFarthestPoint::search(std::size_t node, int32_t low, int32_t high)
{
    if (high < rangeFirst || low > rangeLast) {
        return;
    }
    const Box& box = boxes[node];
    if (box.minX > box.maxX || chord->boundInBox(box.minX, box.maxX, box.minY, box.maxY) <= bestMeasure) {
        return;
    }
    if (high - low < SCAN_POINTS) {
        scan(std::max(low, rangeFirst), std::min(high, rangeLast));
        return;
    }
    const int32_t middle = low + (high - low) / 2;
    search(2 * node, low, middle);
    search(2 * node + 1, middle + 1, high);
}
