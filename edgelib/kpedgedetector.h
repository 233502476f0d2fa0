#ifndef DOVODA_KPEDGEDETECTOR_H
#define DOVODA_KPEDGEDETECTOR_H

#include "kpimage.h"

#include <cstdint>

// Canny edge detector. By default it smooths with sigma 1.5, puts the high
// threshold at the 0.75 point of the magnitude histogram and the low
// threshold at 0.35 of it; other values can be passed as Parameters.
class KpEdgeDetector {
public:
    // The numbers that tune the detector. The defaults are those of
    // detectEdges(input).
    struct Parameters {
        // Standard deviation of the Gaussian smoothing, in pixels (above 0,
        // at most 3.6).
        float sigma = 1.5f;
        // The share of candidate pixels (0 to 1) whose magnitude lies
        // below the high threshold: a higher value keeps fewer seeds.
        float highFraction = 0.75f;
        // The low threshold as a share of the high one (0 to 1).
        float lowRatio = 0.35f;
    };

    // The largest Gaussian window the detector holds (sigma up to 3.6).
    static const int MAX_KERNEL_TAPS = 20;

    // Normalised Gaussian taps, centre at size / 2.
    struct Kernel {
        float taps[MAX_KERNEL_TAPS];
        int size;
    };

    // The instruction sets the per-pixel passes are compiled for. Every
    // set gives the same result bit for bit; the wider one is faster.
    enum class InstructionSet {
        BASELINE, // SSE2 on x86-64
        AVX2,     // these two chosen at run time when the processor has them
        AVX512,   // (AVX-512 F, BW, VL and DQ)
    };

    // A new 8-bit image of the input's size: 0 on edges, 255 elsewhere.
    // No pixel data: code 5; a depth other than 1, 8 or 24: code 7. Binary
    // and colour images are made gray first (black 0 and white 255, the
    // channel average). Images with fewer than two rows or columns have
    // no gradient and come out white. Runs with the widest instruction
    // set the processor has.
    KpImage detectEdges(const KpImage& input) const;
    // The same with other parameters; parameters out of range: code 7.
    KpImage detectEdges(const KpImage& input, const Parameters& parameters) const;
    // The same with a chosen instruction set, which must be available.
    KpImage detectEdges(const KpImage& input, const Parameters& parameters, InstructionSet instructions) const;

    static bool isAvailable(InstructionSet instructions);
    static InstructionSet widestAvailable();

    // The steps that set the detector's numbers, open for checking.
    static Kernel gaussianKernel(float sigma);
    // histogram holds maxMagnitude + 1 counts of candidate magnitudes.
    static int highThreshold(const uint32_t* histogram, int maxMagnitude, float highFraction);
    static int16_t lowThreshold(int high, float lowRatio);
};

#endif
