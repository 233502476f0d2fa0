#ifndef DOVODA_REFERENCEEDGEDETECTOR_H
#define DOVODA_REFERENCEEDGEDETECTOR_H

#include <cstdint>
#include <vector>

// A slow, literal edge detector: every step written out pixel by pixel
// with bounds tests, to prove the fast detector exact.
namespace reference {

struct EdgeSteps {
    std::vector<int16_t> smoothed;
    std::vector<int16_t> magnitude;
    std::vector<uint8_t> suppressed;
    int high = 0;
    int low = 0;
    std::vector<uint8_t> edges; // 0 edge, 255 elsewhere
};

EdgeSteps detectEdges(const std::vector<uint8_t>& pixels, int rows, int cols);

} // namespace reference

#endif
