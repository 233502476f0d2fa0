#ifndef DOVODA_KPPOINTLISTS_H
#define DOVODA_KPPOINTLISTS_H

#include "point.h"

#include <vector>

// Operations on arrays of point lists shared by tracing and fitting.
namespace kppointlists {

// Drops, in place and keeping the order of the others, every list that
// equals an earlier one point for point (same length, same points in the
// same order). Lists are compared only when their hashes agree, so the
// cost grows with the total number of points, not with the square of the
// number of lists.
void removeDuplicates(std::vector<PointList>& lists);

// The length of the path through the points in order: the sum of the
// straight distances between neighbours, in pixels.
double pathLength(const PointList& list);

// Drops, keeping the order of the others, every list whose path is
// shorter than minLength pixels.
void removeShorterThan(std::vector<PointList>& lists, double minLength);

// The pixels of the 8-connected straight line from a to b, both ends
// included, in walking order (Bresenham's walk).
PointList segmentPixels(point a, const point& b);

} // namespace kppointlists

#endif
