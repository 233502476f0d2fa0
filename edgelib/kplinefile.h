#ifndef DOVODA_KPLINEFILE_H
#define DOVODA_KPLINEFILE_H

#include "point.h"

#include <string>
#include <vector>

// The line file of the edge library: one polyline per text line, each
// vertex written as "row,col," and every line padded with "-2,-2," pairs
// to the vertex count of the longest polyline.
class KpLineFile {
public:
    // Creates or truncates fileName and writes the polylines; true when the
    // file was created and written whole.
    static bool write(const std::string& fileName, const std::vector<PointList>& polylines);

    // The polylines of a line file, one per text line, without the padding:
    // the vertices up to the first -2,-2 pair or the end of the line. A
    // file that cannot be opened: code 2; text that is not comma-separated
    // integer pairs: code 4, naming the line.
    static std::vector<PointList> read(const std::string& fileName);

    // The pair that pads a line after its vertices.
    static const int32_t PADDING = -2;
};

#endif
