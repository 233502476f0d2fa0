#ifndef DOVODA_KPPROCESSOR_H
#define DOVODA_KPPROCESSOR_H

// What the processor running the library offers beyond the instruction
// set the library is compiled for (SSE2 on x86-64). Code compiled for a
// wider set with a per-function target attribute runs only when the
// answer is yes.
//
// A hot loop may be compiled a second time for AVX2: a function marked
// KP_AVX2_CLONE that only calls the baseline function inlines its body
// and vectorises it with 256-bit registers, and the caller picks the
// clone when kpUseAvx2() is true. The builds compute the same results: no
// contraction into fused multiply-adds is allowed in any. Elsewhere the
// clone is a plain call.
#if defined(__x86_64__) && defined(__GNUC__)
#define KP_AVX2_CLONE __attribute__((target("avx2"), flatten))
#define KP_HAVE_AVX2_CLONES 1
#else
#define KP_AVX2_CLONE
#endif

class KpProcessor {
public:
    KpProcessor() = delete;
    virtual ~KpProcessor();

    // AVX2, with the operating system saving the wide registers; false on
    // processors of other architectures.
    static bool kpHasAvx2();
    // The AVX-512 foundation with its byte and word (BW), vector length
    // (VL) and double and quadword (DQ) extensions.
    static bool kpHasAvx512();

    // True when the processor runs AVX2 instructions and the KP_AVX2_CLONE
    // loops may use them (they may by default).
    static bool kpUseAvx2();
    // Allows or forbids the KP_AVX2_CLONE loops, for comparing the builds.
    static void kpAllowAvx2(bool allowed);
};

#endif
