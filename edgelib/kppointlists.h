#ifndef DOVODA_KPPOINTLISTS_H
#define DOVODA_KPPOINTLISTS_H

#include "point.h"

#include <vector>

// Operations on arrays of point lists shared by tracing and fitting.
namespace kppointlists {

// The lists in order with every list dropped that equals an earlier one
// point for point (same length, same points in the same order). Each
// list is hashed once, so the cost grows with the total number of points.
std::vector<PointList> withoutDuplicates(const std::vector<PointList>& lists);

} // namespace kppointlists

#endif
