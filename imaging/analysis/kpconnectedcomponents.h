#ifndef DOVODA_KPCONNECTEDCOMPONENTS_H
#define DOVODA_KPCONNECTEDCOMPONENTS_H

#include "kpcolorvalue.h"
#include "kpcomponent.h"
#include "kpimage.h"

#include <cstdint>
#include <vector>

// The 8-connected groups of black pixels of a binary image, kept as a
// list of components. A chain of filters narrows a working selection of
// component indices (the filters combine until kpResetFilter); the
// components, all or the selected ones, can be drawn into new images, and
// a per-pixel component map is built on demand.
class KpConnectedComponents {
public:
    KpConnectedComponents() = default;
    KpConnectedComponents(const KpConnectedComponents&) = default;
    KpConnectedComponents& operator=(const KpConnectedComponents&) = default;
    virtual ~KpConnectedComponents() = default;

    // Replaces the components by those of a 1-bit image (code 8 for another
    // depth, then code 5 without pixel data) and selects them all. They
    // come ordered by the row below their bottom row, then by the start
    // of their leftmost run in that bottom row. The image is not changed.
    void kpCreateConnectedComponents(const KpImage& image);

    // The component index of every pixel, row by row, -1 for background;
    // built on the first call after a creation. Code 5 when there is no
    // component.
    std::vector<int32_t> kpGetConnectedCCMap();

    std::vector<KpComponent> kpGetComponents() const { return components; }
    // One component, without a copy; code 7 for an index out of range.
    const KpComponent& kpGetComponent(int32_t index) const;
    // Copies of the selected components, in selection order.
    std::vector<KpComponent> kpGetFilteredComponents() const;
    int32_t kpGetComponentCount() const { return static_cast<int32_t>(components.size()); }

    // Selects every component again.
    void kpResetFilter();
    // Each filter keeps the selected components that pass its test (all
    // bounds inclusive) and returns how many remain; an empty selection
    // stays empty and gives 0.
    int32_t kpFilterByHeight(int32_t min, int32_t max);
    int32_t kpFilterByWidth(int32_t min, int32_t max);
    int32_t kpFilterByMinDensity(float bound);
    int32_t kpFilterByMaxDensity(float bound);
    int32_t kpFilterByDensity(float min, float max);
    int32_t kpFilterByMinArea(float bound);
    int32_t kpFilterByMaxArea(float bound);
    int32_t kpFilterByArea(float min, float max);
    // top >= firstRow and bottom <= lastRow.
    int32_t kpFilterByRowRange(int32_t firstRow, int32_t lastRow);
    // left >= firstColumn and right <= lastColumn.
    int32_t kpFilterByColumnRange(int32_t firstColumn, int32_t lastColumn);
    int32_t kpFilterByMaxSize(float maxWidth, float maxHeight);
    int32_t kpFilterByMinSize(float minWidth, float minHeight);
    // Gives every selected component this colour.
    void kpSetFilteredColor(KpColorValue color);

    // The components drawn black on white (or in their colours) into a
    // canvas that reaches their largest right and bottom; an image without
    // pixel data when there is nothing to draw.
    KpImage kpDrawComponents() const;
    KpImage kpDrawColorComponents() const;
    KpImage kpDrawFilteredComponents() const;

    void kpSetComputeMoments(bool compute) { computeMoments = compute; }
    bool kpGetComputeMoments() const { return computeMoments; }

private:
    template <typename Test>
    int32_t filterSelection(Test passes);
    std::vector<int32_t> allIndices() const;

    bool computeMoments = false;
    std::vector<KpComponent> components;
    std::vector<int32_t> ccMap;
    std::vector<int32_t> filteredIndices;
    int32_t imageHeight = 0;
    int32_t imageWidth = 0;
    bool ccMapDirty = true;
};

#endif
