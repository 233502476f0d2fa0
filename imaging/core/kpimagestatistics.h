#ifndef DOVODA_KPIMAGESTATISTICS_H
#define DOVODA_KPIMAGESTATISTICS_H

// Per-channel figures of an image's pixels, indexed by channel (red,
// green, blue; for 1- and 8-bit images channels 1 and 2 repeat channel
// 0). The deviation is that of a sample (divided by N - 1); skewness and
// kurtosis are not finite when the deviation is 0.
struct KpImageStatistics {
    double mean[3] = {};
    double median[3] = {};
    double standardDeviation[3] = {};
    double skewness[3] = {};
    double kurtosis[3] = {};
};

#endif
