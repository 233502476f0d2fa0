#ifndef DOVODA_REFERENCEEDGEMERGE_H
#define DOVODA_REFERENCEEDGEMERGE_H

#include "point.h"

#include <cstdint>
#include <string>
#include <vector>

// A slow, literal version of the edge-list graph merging, with the links
// held as dense square bit matrices, kept to check the linker's sparse one.
// An empty list has no ends, so none of its nodes is linked; a victim
// whose junction keeps fewer than two ends is removed without a join.
// Lengths are the linker's polylineLength, which is tested on its own.
namespace referencemerge {

// A dense square matrix of bits, one row of 64-bit words per row.
class BitMatrix {
public:
    explicit BitMatrix(int32_t size = 0);
    int32_t size() const { return n; }
    bool get(int32_t row, int32_t column) const;
    void set(int32_t row, int32_t column, bool value);
    int32_t rowCount(int32_t row) const;
    // Ascending columns of the true entries of a row.
    std::vector<int32_t> rowEntries(int32_t row) const;
    // Row target becomes a copy of row source.
    void copyRow(int32_t target, int32_t source);
    std::size_t bytes() const { return words.size() * sizeof(uint64_t); }

private:
    int32_t n;
    std::size_t wordsPerRow;
    std::vector<uint64_t> words;
};

struct MergeResult {
    std::vector<PointList> lists;
    std::string messages; // what the merging wrote to standard output
    BitMatrix nodeLinks;
    BitMatrix listLinks;
    std::vector<int32_t> nodeDegrees;
    std::vector<int32_t> listDegrees;
};

MergeResult mergeEdgeLists(std::vector<PointList> lists, double minLength);

} // namespace referencemerge

#endif
