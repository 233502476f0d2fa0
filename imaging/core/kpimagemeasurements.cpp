// The measurements of KpImage: read-only summaries of the pixels.

#include "kpimage.h"

#include "kpexception.h"
#include "kplevelhistogram.h"
#include "kplogger.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <new>

namespace {

constexpr uint8_t WHITE = 255;

// Sums of weights can exceed 64 bits only on images tens of millions of
// pixels wide or high; 128 bits hold every sum of any image.
__extension__ typedef unsigned __int128 WideSum;

const uint8_t* rowOf(const KpImage& image, int32_t y)
{
    return image.kpGetData() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.kpGetBytesPerRow());
}

// The bits past the width in the last byte of a 1-bit row, set: or-ing
// them in makes the padding read as white.
uint8_t paddingBits(int32_t width)
{
    return width % 8 == 0 ? 0 : static_cast<uint8_t>(0xFF >> (width % 8));
}

// Of each byte of a 1-bit row: how many of its pixels are black (clear
// bits), and the sum of their positions 0..7 within the byte.
struct BlackBits {
    std::array<uint8_t, 256> count;
    std::array<uint8_t, 256> positionSum;
};

const BlackBits& blackBits()
{
    static const BlackBits table = [] {
        BlackBits bits{};
        for (int value = 0; value < 256; ++value) {
            for (int position = 0; position < 8; ++position) {
                if ((value & (0x80 >> position)) == 0) {
                    ++bits.count[static_cast<std::size_t>(value)];
                    bits.positionSum[static_cast<std::size_t>(value)] += static_cast<uint8_t>(position);
                }
            }
        }
        return bits;
    }();
    return table;
}

// The number of black pixels of a 1-bit row of rowBytes bytes.
uint64_t blackPixelsOfRow(const uint8_t* row, int32_t rowBytes, uint8_t padding)
{
    const BlackBits& bits = blackBits();
    uint64_t black = 0;
    for (int32_t j = 0; j + 1 < rowBytes; ++j) {
        black += bits.count[row[j]];
    }
    return black + bits.count[static_cast<uint8_t>(row[rowBytes - 1] | padding)];
}

uint64_t blackPixels(const KpImage& image)
{
    const uint8_t padding = paddingBits(image.kpGetWidth());
    uint64_t black = 0;
    for (int32_t y = 0; y < image.kpGetHeight(); ++y) {
        black += blackPixelsOfRow(rowOf(image, y), image.kpGetBytesPerRow(), padding);
    }
    return black;
}

uint64_t pixelCount(const KpImage& image)
{
    return static_cast<uint64_t>(image.kpGetWidth()) * static_cast<uint64_t>(image.kpGetHeight());
}

// The counts of one channel's values; a 1-bit pixel counts as 0 or 255.
KpLevelHistogram channelHistogram(const KpImage& image, int channel)
{
    if (image.kpGetDepth() == 1) {
        KpLevelHistogram histogram;
        const uint64_t black = blackPixels(image);
        histogram.kpSet(0, black);
        histogram.kpSet(WHITE, pixelCount(image) - black);
        return histogram;
    }
    return KpLevelHistogram::kpOfRectangle(image.kpGetData() + channel, static_cast<std::size_t>(image.kpGetBytesPerRow()),
                                           image.kpGetWidth(), image.kpGetHeight(), image.kpGetChannels());
}

void setChannelFigures(KpImageStatistics& statistics, int channel, const KpLevelHistogram& histogram)
{
    const double n = static_cast<double>(histogram.kpCount());
    const double mean = histogram.kpMean();
    const KpLevelHistogram::KpDeviationSums sums = histogram.kpDeviationSums(mean);
    const double variance = n > 1 ? sums.squares / (n - 1) : 0.0;
    const double deviation = std::sqrt(variance);
    statistics.mean[channel] = mean;
    statistics.median[channel] = histogram.kpMedian();
    statistics.standardDeviation[channel] = deviation;
    statistics.skewness[channel] = (sums.cubes / n) / (deviation * variance);
    statistics.kurtosis[channel] = (sums.fourthPowers / n) / (variance * variance);
}

void copyChannelZero(KpImageStatistics& statistics)
{
    for (double* figure : {statistics.mean, statistics.median, statistics.standardDeviation, statistics.skewness,
                           statistics.kurtosis}) {
        figure[1] = figure[0];
        figure[2] = figure[0];
    }
}

// A profile of count zero entries; code 13 when it cannot be had.
template <typename T>
std::vector<T> zeroProfile(std::size_t count)
{
    try {
        return std::vector<T>(count);
    } catch (const std::bad_alloc&) {
        KP_THROW(KP_NO_MEMORY, "Unable to allocate Memory");
    }
}

std::vector<uint64_t> rowSums(const KpImage& image)
{
    std::vector<uint64_t> sums = zeroProfile<uint64_t>(static_cast<std::size_t>(image.kpGetHeight()));
    for (int32_t y = 0; y < image.kpGetHeight(); ++y) {
        const uint8_t* row = rowOf(image, y);
        uint64_t sum = 0;
        for (int32_t x = 0; x < image.kpGetWidth(); ++x) {
            sum += row[x];
        }
        sums[static_cast<std::size_t>(y)] = sum;
    }
    return sums;
}

// Rows are added into 32-bit column counters, which hold the sum of up to
// 2^24 rows, and those are added into the 64-bit sums.
std::vector<uint64_t> columnSums(const KpImage& image)
{
    constexpr int32_t ROWS_PER_BLOCK = 1 << 24;
    const std::size_t width = static_cast<std::size_t>(image.kpGetWidth());
    std::vector<uint64_t> sums = zeroProfile<uint64_t>(width);
    std::vector<uint32_t> block = zeroProfile<uint32_t>(width);
    const int32_t height = image.kpGetHeight();
    for (int32_t y0 = 0; y0 < height; y0 += std::min(ROWS_PER_BLOCK, height - y0)) {
        std::fill(block.begin(), block.end(), 0);
        const int32_t end = y0 + std::min(ROWS_PER_BLOCK, height - y0);
        for (int32_t y = y0; y < end; ++y) {
            const uint8_t* row = rowOf(image, y);
            for (std::size_t x = 0; x < width; ++x) {
                block[x] += row[x];
            }
        }
        for (std::size_t x = 0; x < width; ++x) {
            sums[x] += block[x];
        }
    }
    return sums;
}

std::vector<int32_t> narrowedProfile(const std::vector<uint64_t>& sums)
{
    std::vector<int32_t> profile = zeroProfile<int32_t>(sums.size());
    for (std::size_t i = 0; i < sums.size(); ++i) {
        if (sums[i] > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
            KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpProjectProfile()> A profile sum does not fit in 32 bits");
        }
        profile[i] = static_cast<int32_t>(sums[i]);
    }
    return profile;
}

// The weighted sums of the centroid: Sx = sum of x w, Sy = sum of y w and
// W = sum of w over all pixels.
struct WeightSums {
    WideSum sx = 0;
    WideSum sy = 0;
    WideSum w = 0;

    void addRow(int32_t y, uint64_t rowWeight, WideSum rowX)
    {
        w += rowWeight;
        sx += rowX;
        sy += static_cast<WideSum>(y) * rowWeight;
    }
};

// Adds weightAt(x) and x weightAt(x) over a row of width pixels. Columns
// go in blocks of 256, within which the position times the weight fits
// 32 bits, so the inner loop needs no wide arithmetic.
template <typename Weight>
void sumRowWeights(int32_t width, Weight weightAt, uint64_t& rowWeight, WideSum& rowX)
{
    constexpr int32_t BLOCK = 256;
    for (int32_t x0 = 0; x0 < width; x0 += std::min(width - x0, BLOCK)) {
        const int32_t end = std::min(width - x0, BLOCK);
        uint32_t blockWeight = 0;
        uint32_t blockX = 0;
        for (int32_t i = 0; i < end; ++i) {
            const uint32_t w = weightAt(x0 + i);
            blockWeight += w;
            blockX += static_cast<uint32_t>(i) * w;
        }
        rowWeight += blockWeight;
        rowX += static_cast<WideSum>(x0) * blockWeight + blockX;
    }
}

template <typename Weight>
WeightSums weighRows(const KpImage& image, Weight weightOfRow)
{
    WeightSums sums;
    for (int32_t y = 0; y < image.kpGetHeight(); ++y) {
        const uint8_t* row = rowOf(image, y);
        uint64_t rowWeight = 0;
        WideSum rowX = 0;
        sumRowWeights(image.kpGetWidth(), [row, &weightOfRow](int32_t x) { return weightOfRow(row, x); }, rowWeight, rowX);
        sums.addRow(y, rowWeight, rowX);
    }
    return sums;
}

// A black pixel weighs 255 and a white one 0, as in the gray expansion.
WeightSums weighBinary(const KpImage& image)
{
    const BlackBits& bits = blackBits();
    const int32_t rowBytes = image.kpGetBytesPerRow();
    const uint8_t padding = paddingBits(image.kpGetWidth());
    WeightSums sums;
    for (int32_t y = 0; y < image.kpGetHeight(); ++y) {
        const uint8_t* row = rowOf(image, y);
        uint64_t black = 0;
        uint64_t positions = 0;
        for (int32_t j = 0; j < rowBytes; ++j) {
            const uint8_t value = j + 1 == rowBytes ? static_cast<uint8_t>(row[j] | padding) : row[j];
            black += bits.count[value];
            positions += 8 * static_cast<uint64_t>(j) * bits.count[value] + bits.positionSum[value];
        }
        sums.addRow(y, WHITE * black, static_cast<WideSum>(WHITE) * positions);
    }
    return sums;
}

WeightSums weighPixels(const KpImage& image)
{
    switch (image.kpGetDepth()) {
    case 1:
        return weighBinary(image);
    case 8:
        return weighRows(image, [](const uint8_t* row, int32_t x) { return static_cast<uint32_t>(WHITE - row[x]); });
    default: {
        return weighRows(image, [](const uint8_t* row, int32_t x) {
            const uint8_t* pixel = row + 3 * static_cast<std::size_t>(x);
            return static_cast<uint32_t>(3 * WHITE - pixel[0] - pixel[1] - pixel[2]) / 3;
        });
    }
    }
}

// The first and last columns of a row that hold a pixel other than white;
// false when the whole row is white.
template <typename IsDark>
bool darkExtent(int32_t width, IsDark isDark, int32_t& first, int32_t& last)
{
    first = 0;
    while (first < width && !isDark(first)) {
        ++first;
    }
    if (first == width) {
        return false;
    }
    last = width - 1;
    while (!isDark(last)) {
        --last;
    }
    return true;
}

bool darkExtentOfRow(const KpImage& image, const uint8_t* row, int32_t& first, int32_t& last)
{
    const int32_t width = image.kpGetWidth();
    switch (image.kpGetDepth()) {
    case 1:
        return darkExtent(width, [row](int32_t x) { return (row[x / 8] & (0x80 >> (x % 8))) == 0; }, first, last);
    case 8:
        return darkExtent(width, [row](int32_t x) { return row[x] != WHITE; }, first, last);
    default:
        return darkExtent(width, [row](int32_t x) {
            const uint8_t* pixel = row + 3 * static_cast<std::size_t>(x);
            return (pixel[0] & pixel[1] & pixel[2]) != WHITE;
        }, first, last);
    }
}

// The largest squared distance from (cx, cy) to a pixel that is not
// white: in a row, one of its two outermost such pixels. A colour pixel
// counts when any channel is below 255, which is the largest of the three
// per-channel figures.
int64_t largestSquaredRadius(const KpImage& image, const KpPoint& centre)
{
    int64_t largest = 0;
    for (int32_t y = 0; y < image.kpGetHeight(); ++y) {
        int32_t first = 0;
        int32_t last = 0;
        if (!darkExtentOfRow(image, rowOf(image, y), first, last)) {
            continue;
        }
        const int64_t dy = static_cast<int64_t>(y) - centre.y;
        const int64_t dxFirst = static_cast<int64_t>(first) - centre.x;
        const int64_t dxLast = static_cast<int64_t>(last) - centre.x;
        largest = std::max(largest, std::max(dxFirst * dxFirst, dxLast * dxLast) + dy * dy);
    }
    return largest;
}

double largestCornerDistance(const KpImage& image, const KpPoint& centre)
{
    const double cx = centre.x;
    const double cy = centre.y;
    const double width = image.kpGetWidth();
    const double height = image.kpGetHeight();
    return std::max(std::max(std::hypot(0.0 - cx, 0.0 - cy), std::hypot(width - cx, 0.0 - cy)),
                    std::max(std::hypot(width - cx, height - cy), std::hypot(0.0 - cx, height - cy)));
}

bool isSupportedDepth(int32_t depth)
{
    return depth == 1 || depth == 8 || depth == 24;
}

} // namespace

KpImageStatistics KpImage::kpImageStatistics() const
{
    if (!data || head.width <= 0 || head.height <= 0) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpImageStatistics()> Image Data is NULL!");
    }
    if (!isSupportedDepth(head.depth)) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpImageStatistics()> only supports 1, 8, and 24 bits");
    }
    KpImageStatistics statistics;
    const int channels = head.depth == 24 ? 3 : 1;
    for (int channel = 0; channel < channels; ++channel) {
        setChannelFigures(statistics, channel, channelHistogram(*this, channel));
    }
    if (channels == 1) {
        copyChannelZero(statistics);
    }
    return statistics;
}

std::vector<int32_t> KpImage::kpProjectProfile(int32_t type) const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpProjectProfile()> Image Data is NULL!");
    }
    if (head.depth != 8) {
        KP_THROW(KP_NOT_IMPLEMENTED, "<KpImage::kpProjectProfile()> Only byte image is supported in kpProjectProfile");
    }
    if (type == 1) {
        return narrowedProfile(rowSums(*this));
    }
    if (type == 2) {
        return narrowedProfile(columnSums(*this));
    }
    KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpProjectProfile()> Only supports Vertical and Horizontal flips");
}

std::vector<int32_t> KpImage::kpHistogramImage() const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpHistogramImage()> Image Data is NULL!");
    }
    if (head.depth != 1 && head.depth != 8) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpHistogramImage()>  Histgram Only supports Binary and Gray Image");
    }
    const KpLevelHistogram counts = channelHistogram(*this, 0);
    // A 1-bit image has the levels 0 and 255 only.
    const int step = head.depth == 1 ? WHITE : 1;
    std::vector<int32_t> histogram;
    for (int level = 0; level < KpLevelHistogram::KP_LEVELS; level += step) {
        if (counts.kpAt(level) > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
            KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpHistogramImage()> A count does not fit in 32 bits");
        }
        histogram.push_back(static_cast<int32_t>(counts.kpAt(level)));
    }
    return histogram;
}

bool KpImage::kpIsGrayScaleBW() const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpIsGrayScaleBW()> Image Data is NULL!");
    }
    if (head.depth == 1) {
        return true;
    }
    if (head.depth == 24) {
        KP_THROW(KP_NOT_IMPLEMENTED, "<KpImage::kpIsGrayBW()> Not Implemented for Color Image in KpImage::kpIsGrayScaleBW !");
    }
    if (head.depth != 8) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpIsGrayScaleBW()>  only support 1 and 8 bits");
    }
    // 0 and 255 are the two values v for which (uint8_t)(v + 1) <= 1.
    const std::size_t size = kpGetImageSize();
    const uint8_t* pixels = data.get();
    constexpr std::size_t BLOCK = 4096;
    for (std::size_t start = 0; start < size; start += BLOCK) {
        const std::size_t end = std::min(size, start + BLOCK);
        uint8_t others = 0;
        for (std::size_t i = start; i < end; ++i) {
            others |= static_cast<uint8_t>(pixels[i] + 1) & 0xFE;
        }
        if (others != 0) {
            return false;
        }
    }
    return true;
}

KpPoint KpImage::kpCentroid() const
{
    if (!data) {
        throw KpException(KP_NO_DATA, "KpCentroid: Image Data is NULL!", nullptr, 0);
    }
    if (!isSupportedDepth(head.depth)) {
        throw KpException(KP_UNSUPPORTED_DEPTH, "KpCentroid: Invalid Depth Value", nullptr, 0);
    }
    const WeightSums sums = weighPixels(*this);
    if (sums.w == 0) {
        if (head.depth != 24) {
            KpLogger::kpGetInstance()->kpLog("<KpImage::kpCentroid> Image is blank, no centroid", 2);
        }
        return KpPoint(0, 0);
    }
    return KpPoint(static_cast<int32_t>(sums.sx / sums.w), static_cast<int32_t>(sums.sy / sums.w));
}

double KpImage::kpRmax(bool fromCorners) const
{
    const KpPoint centre = kpCentroid();
    // The centroid has refused a missing buffer and an unknown depth
    // already; these guard the measurement below on their own.
    if (!data) {
        throw KpException(KP_NO_DATA, "<KpImage::kpRmax()> Image Data i sNULL!", nullptr, 0);
    }
    if (!isSupportedDepth(head.depth)) {
        throw KpException(KP_UNSUPPORTED_DEPTH, "<KpImage::kpRmax()> Invalid depth value", nullptr, 0);
    }
    if (fromCorners) {
        return largestCornerDistance(*this, centre);
    }
    return std::sqrt(static_cast<double>(largestSquaredRadius(*this, centre)));
}
