#ifndef DOVODA_KPPROCESSOR_H
#define DOVODA_KPPROCESSOR_H

// What the processor running the program offers beyond the baseline
// instruction set of the build (SSE2 on x86-64). Code compiled for a
// wider set with a per-function target attribute runs only when the
// answer is yes.
class KpProcessor {
public:
    // AVX2, with the operating system saving the wide registers; false on
    // processors of other architectures.
    static bool kpHasAvx2();
    // The AVX-512 foundation with its byte and word (BW), vector length
    // (VL) and double and quadword (DQ) extensions.
    static bool kpHasAvx512();
};

#endif
