#ifndef DOVODA_POINT_H
#define DOVODA_POINT_H

#include <cstdint>
#include <vector>

// A pixel position of the edge library: image row (0 at the top) and
// column (0 at the left).
struct point {
    int32_t row;
    int32_t col;
};

inline bool operator==(const point& a, const point& b)
{
    return a.row == b.row && a.col == b.col;
}

inline bool operator!=(const point& a, const point& b)
{
    return !(a == b);
}

// An ordered run of points: an edge list or a fitted polyline.
using PointList = std::vector<point>;

#endif
