#ifndef DOVODA_KPFARTHESTPOINT_H
#define DOVODA_KPFARTHESTPOINT_H

#include "kpchord.h"

#include <cstdint>
#include <vector>

// Finds the point of a range of an edge list farthest from the range's
// chord, the first one of equal distances, as a scan of every point of
// the range would. A tree of bounding boxes over the list lets it skip
// stretches that cannot hold a farther point, so fitting a long list
// does not re-read the whole rest of the list at every vertex.
class KpFarthestPoint {
public:
    // Builds the boxes for the points (x[i], y[i]); x and y must outlive
    // the queries. The arrays of the tree are reused from call to call.
    void reset(const std::vector<int32_t>& x, const std::vector<int32_t>& y);

    // The index (counted from first) and the distance of the farthest
    // point of first..last, with index 0 and distance 0 when every point
    // lies on the chord. last must be greater than first.
    int32_t farthest(int32_t first, int32_t last, double& deviation);

private:
    struct Box {
        int32_t minX, maxX, minY, maxY;
    };

    void search(std::size_t node, int32_t low, int32_t high);
    void scan(int32_t from, int32_t to);

    const std::vector<int32_t>* xs = nullptr;
    const std::vector<int32_t>* ys = nullptr;
    std::vector<Box> boxes; // node 1 is the root, node k has children 2k and 2k+1
    int32_t leaves = 0;
    // State of the current query.
    const KpChord* chord = nullptr;
    int32_t rangeFirst = 0;
    int32_t rangeLast = 0;
    int64_t bestMeasure = 0;
    int32_t bestIndex = 0;
};

#endif
