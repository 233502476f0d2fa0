#ifndef DOVODA_KPPROCESSOR_H
#define DOVODA_KPPROCESSOR_H

// What the processor running the library offers beyond the instruction
// set the library is compiled for. A hot loop may be compiled a second
// time for AVX2: a function marked KP_AVX2_CLONE that only calls the
// baseline function inlines its body and vectorises it with 256-bit
// registers, and the caller picks the clone when kpUseAvx2() is true. The
// two builds compute the same results: no contraction into fused
// multiply-adds is allowed in either. Elsewhere the clone is a plain call.
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

    // True when the processor runs AVX2 instructions and their use is
    // allowed (it is by default).
    static bool kpUseAvx2();
    // Allows or forbids the AVX2 clones, for comparing the two builds.
    static void kpAllowAvx2(bool allowed);
};

#endif
