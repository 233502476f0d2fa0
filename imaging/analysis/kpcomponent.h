#ifndef DOVODA_KPCOMPONENT_H
#define DOVODA_KPCOMPONENT_H

#include "kpcolorvalue.h"
#include "kpdatarun.h"
#include "kpimage.h"
#include "kppoint.h"

#include <array>
#include <cstdint>
#include <vector>

struct KpComponentRecord;

// One 8-connected group of black pixels: its runs (every pixel lies in
// exactly one), bounding box, area, centroid and a few counters. The order
// of the runs carries no meaning.
class KpComponent {
public:
    static const int MOMENT_COUNT = 14;
    using Moments = std::array<float, MOMENT_COUNT>;

    KpComponent() = default;
    // Takes over the statistics, runs and gap lists of a finished record.
    explicit KpComponent(KpComponentRecord&& record);
    KpComponent(const KpComponent&) = default;
    KpComponent& operator=(const KpComponent&) = default;
    KpComponent(KpComponent&&) = default;
    KpComponent& operator=(KpComponent&&) = default;
    virtual ~KpComponent() = default;

    int32_t kpGetArea() const { return area; }
    float kpGetMeanRow() const { return meanRow; }
    float kpGetMeanColumn() const { return meanColumn; }
    // The pixel edges between the component and everything else, the
    // edges around its holes included: 4 for one pixel, 12 for a 3 x 3
    // square, 16 for a 3 x 3 ring.
    int32_t kpGetBoundaryLength() const { return boundaryLength; }
    int32_t kpGetTop() const { return top; }
    int32_t kpGetBottom() const { return bottom; }
    int32_t kpGetLeft() const { return left; }
    int32_t kpGetRight() const { return right; }
    // Its bottom row, and the first column of its leftmost run there.
    int32_t kpGetSeedRow() const { return seedRow; }
    int32_t kpGetSeedColumn() const { return seedColumn; }
    // Loops closed around background while labelling.
    int32_t kpGetLoopCount() const { return loopCount; }
    int32_t kpGetRunCount() const { return runCount; }
    const std::vector<KpDatarun>& kpGetRuns() const { return runs; }
    // White spans of a row that a run of the next row bridged.
    int32_t kpGetClosedGapCount() const { return closedGapCount; }
    const std::vector<KpDatarun>& kpGetClosedGaps() const { return closedGaps; }
    // White spans that opened below a single run.
    int32_t kpGetOpenedGapCount() const { return openedGapCount; }
    const std::vector<KpDatarun>& kpGetOpenedGaps() const { return openedGaps; }
    int32_t kpGetPointCount() const { return pointCount; }
    const std::vector<KpPoint>& kpGetPoints() const { return points; }
    // Filled by kpComputeMoments: [0] the area, then over the pixels the
    // means of dx, dy, dx^2, dx dy, dy^2, dx^3, dx^2 dy, dx dy^2, dy^3,
    // with dx and dy taken from the centroid; [10] to [13] stay 0.
    const Moments& kpGetMoments() const { return moments; }
    const KpColorValue& kpGetColor() const { return color; }
    void kpSetColor(const KpColorValue& value) { color = value; }

    int32_t kpGetComponentHeight() const { return bottom - top + 1; }
    int32_t kpGetComponentWidth() const { return right - left + 1; }
    // area / (height x width).
    float kpGetDensity() const;

    // Single-precision moments of its pixels.
    void kpComputeMoments();

    // Draws its pixels into image with its top-left corner at (originRow,
    // originColumn): black (0) into an 8-bit image, its colour into a
    // 24-bit one. Code 7 for another depth or when the component does not
    // fit, code 5 without pixel data.
    void kpPaintRuns(KpImage& image, int32_t originRow, int32_t originColumn) const;

    // Images of the bounding box with the component's pixels drawn in:
    // 8-bit black on 255, 1-bit black (bit 0) on white, and 24-bit in its
    // colour on white.
    KpImage kpGetGrayImage() const;
    KpImage kpGetBinaryImage() const;
    KpImage kpGetColorImage() const;

private:
    int32_t area = 0;
    float meanRow = 0.0f;
    float meanColumn = 0.0f;
    int32_t boundaryLength = 0;
    int32_t top = 0;
    int32_t bottom = 0;
    int32_t left = 0;
    int32_t right = 0;
    int32_t seedRow = 0;
    int32_t seedColumn = 0;
    int32_t loopCount = 0;
    int32_t runCount = 0;
    std::vector<KpDatarun> runs;
    int32_t closedGapCount = 0;
    std::vector<KpDatarun> closedGaps;
    int32_t openedGapCount = 0;
    std::vector<KpDatarun> openedGaps;
    int32_t pointCount = 0;
    std::vector<KpPoint> points;
    Moments moments{};
    KpColorValue color;
};

#endif
