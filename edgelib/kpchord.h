#ifndef DOVODA_KPCHORD_H
#define DOVODA_KPCHORD_H

#include <algorithm>
#include <cmath>
#include <cstdint>

// The chord of a range of points and the distance of a point from it.
// Distances are measured in exact integers first: |a*x + b*y + c| for the
// line a*x + b*y + c = 0 through the two ends, or the squared distance
// from the first end when the ends coincide (a closed range). A larger
// measure always means a larger distance, so points can be compared by
// their measures; deviation() turns a measure into pixels.
class KpChord {
public:
    // Chords shorter than this count as closed ranges.
    static constexpr double CLOSED_LENGTH = 2.2204e-16;

    KpChord(int64_t x0, int64_t y0, int64_t x1, int64_t y1)
        : x0(x0), y0(y0), a(y0 - y1), b(x1 - x0), c(y1 * x0 - y0 * x1),
          length(std::sqrt(static_cast<double>((x0 - x1) * (x0 - x1) + (y0 - y1) * (y0 - y1)))),
          closed(!(length > CLOSED_LENGTH))
    {
    }

    int64_t measure(int64_t x, int64_t y) const
    {
        if (closed) {
            return (x - x0) * (x - x0) + (y - y0) * (y - y0);
        }
        const int64_t value = x * a + y * b + c;
        return value < 0 ? -value : value;
    }

    // The largest measure of any point in the box [minX, maxX] x [minY, maxY].
    int64_t boundInBox(int64_t minX, int64_t maxX, int64_t minY, int64_t maxY) const
    {
        if (closed) {
            const int64_t dx = std::max(x0 - minX, maxX - x0);
            const int64_t dy = std::max(y0 - minY, maxY - y0);
            return dx * dx + dy * dy;
        }
        // A linear function takes its extremes over a box at its corners.
        const int64_t high = (a > 0 ? a * maxX : a * minX) + (b > 0 ? b * maxY : b * minY) + c;
        const int64_t low = (a > 0 ? a * minX : a * maxX) + (b > 0 ? b * minY : b * maxY) + c;
        return std::max(high, -low);
    }

    double deviation(int64_t measure) const
    {
        return closed ? std::sqrt(static_cast<double>(measure)) : static_cast<double>(measure) / length;
    }

    // The chord's length, 1 for a closed range.
    double divisor() const { return closed ? 1.0 : length; }

private:
    int64_t x0, y0;
    int64_t a, b, c;
    double length;
    bool closed;
};

#endif
