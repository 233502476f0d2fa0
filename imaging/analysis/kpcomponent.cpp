#include "kpcomponent.h"

#include "kpbitsperpixelconverter.h"
#include "kpconnectedcomponentsutils.h"
#include "kpexception.h"

#include <cstring>

namespace {

constexpr uint8_t BLACK = 0;
// Gray 255 is the only value that packs to a white bit.
constexpr int WHITE_ONLY_THRESHOLD = 255;
constexpr int COLOUR_BYTES = 3;

uint8_t* rowOf(KpImage& image, int32_t y)
{
    return image.kpGetData() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.kpGetBytesPerRow());
}

} // namespace

KpComponent::KpComponent(KpComponentRecord&& record)
    : area(record.area), meanRow(record.meanRow), meanColumn(record.meanColumn),
      boundaryLength(record.boundaryLength), top(record.top), bottom(record.bottom), left(record.left),
      right(record.right), seedRow(record.seedRow), seedColumn(record.seedColumn), loopCount(record.loopCount),
      runCount(record.runCount), runs(std::move(record.runs)), closedGapCount(record.closedGapCount),
      closedGaps(std::move(record.closedGaps)), openedGapCount(record.openedGapCount),
      openedGaps(std::move(record.openedGaps))
{
}

float KpComponent::kpGetDensity() const
{
    const int64_t box = static_cast<int64_t>(kpGetComponentHeight()) * kpGetComponentWidth();
    return static_cast<float>(area) / static_cast<float>(box);
}

void KpComponent::kpComputeMoments()
{
    moments = Moments{};
    moments[0] = static_cast<float>(area);
    float sums[10] = {};
    for (const KpDatarun& run : runs) {
        const float dy = static_cast<float>(run.row) - meanRow;
        for (int32_t x = run.start; x < run.end; ++x) {
            const float dx = static_cast<float>(x) - meanColumn;
            sums[1] += dx;
            sums[2] += dy;
            sums[3] += dx * dx;
            sums[4] += dx * dy;
            sums[5] += dy * dy;
            sums[6] += dx * dx * dx;
            sums[7] += dx * dx * dy;
            sums[8] += dx * dy * dy;
            sums[9] += dy * dy * dy;
        }
    }
    for (int i = 1; i < 10; ++i) {
        moments[i] = sums[i] / moments[0];
    }
}

void KpComponent::kpPaintRuns(KpImage& image, int32_t originRow, int32_t originColumn) const
{
    const int32_t depth = image.kpGetDepth();
    if (depth != 8 && depth != 24) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpComponent::kpPaintRuns()> An 8-bit or 24-bit image is needed");
    }
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpComponent::kpPaintRuns()> Image Data is NULL!");
    }
    const bool inside = top >= originRow && left >= originColumn &&
                        int64_t{bottom} - originRow < image.kpGetHeight() &&
                        int64_t{right} - originColumn < image.kpGetWidth();
    if (!runs.empty() && !inside) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpComponent::kpPaintRuns()> The component lies outside the image");
    }
    if (depth == 8) {
        for (const KpDatarun& run : runs) {
            std::memset(rowOf(image, run.row - originRow) + (run.start - originColumn), BLACK,
                        static_cast<std::size_t>(run.end - run.start));
        }
        return;
    }
    const uint8_t colour[COLOUR_BYTES] = {color.channel0, color.channel1, color.channel2};
    for (const KpDatarun& run : runs) {
        uint8_t* pixel = rowOf(image, run.row - originRow) + COLOUR_BYTES * (run.start - originColumn);
        for (int32_t x = run.start; x < run.end; ++x, pixel += COLOUR_BYTES) {
            std::memcpy(pixel, colour, COLOUR_BYTES);
        }
    }
}

KpImage KpComponent::kpGetGrayImage() const
{
    KpImage image(kpGetComponentWidth(), kpGetComponentHeight(), 8);
    kpPaintRuns(image, top, left);
    return image;
}

KpImage KpComponent::kpGetBinaryImage() const
{
    return KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(kpGetGrayImage(), WHITE_ONLY_THRESHOLD);
}

KpImage KpComponent::kpGetColorImage() const
{
    KpImage image(kpGetComponentWidth(), kpGetComponentHeight(), 24);
    kpPaintRuns(image, top, left);
    return image;
}
