#ifndef DOVODA_KPCOLORVALUE_H
#define DOVODA_KPCOLORVALUE_H

#include <cstdint>

// The colour attached to a component. The three channel bytes are in
// pixel byte order (red, green, blue); kind uses the image format codes
// (1 binary, 2 gray, 3 colour) and is -1 while the value is unset.
struct KpColorValue {
    uint8_t channel0 = 0;
    uint8_t channel1 = 0;
    uint8_t channel2 = 0;
    uint8_t gray = 0;
    uint8_t binary = 0;
    int8_t kind = -1;
};

#endif
