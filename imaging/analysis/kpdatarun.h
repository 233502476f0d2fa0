#ifndef DOVODA_KPDATARUN_H
#define DOVODA_KPDATARUN_H

#include <cstdint>

// One horizontal run of pixels of a row: columns start up to end - 1
// (end is exclusive). Also used for the white spans that a component's
// runs bridge or open.
class KpDatarun {
public:
    KpDatarun() = default;
    KpDatarun(int32_t row, int32_t start, int32_t end) : row(row), start(start), end(end) {}
    KpDatarun(const KpDatarun&) = default;
    KpDatarun& operator=(const KpDatarun&) = default;
    virtual ~KpDatarun() = default;

    int32_t row = 0;   // 0 is the top row
    int32_t start = 0; // first column
    int32_t end = 0;   // one past the last column
};

#endif
