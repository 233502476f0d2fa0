#ifndef DOVODA_KPPOINT_H
#define DOVODA_KPPOINT_H

#include <cstdint>

// An integer point of the imaging library: x is the column, y the row.
class KpPoint {
public:
    KpPoint() = default;
    KpPoint(int32_t x, int32_t y) : x(x), y(y) {}
    KpPoint(const KpPoint&) = default;
    KpPoint& operator=(const KpPoint&) = default;
    virtual ~KpPoint() = default;

    int32_t x = 0;
    int32_t y = 0;
};

#endif
