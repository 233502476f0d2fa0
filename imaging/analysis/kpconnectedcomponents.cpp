#include "kpconnectedcomponents.h"

#include "kpconnectedcomponentsutils.h"
#include "kpexception.h"
#include "kplogger.h"
#include "kptablememory.h"

#include <algorithm>
#include <cstdint>
#include <numeric>

namespace {

constexpr int DETAIL = 1; // log level of the map messages
constexpr int32_t BACKGROUND = -1;
constexpr int64_t MAX_MAP_SIZE = PTRDIFF_MAX / sizeof(int32_t);
const char* const NO_MAP_MEMORY = "<KpConnectedComponents::kpGetConnectedCCMap()> Error Allocating CCMap memory";

// The copy of the map handed to the caller, in storage of its own.
std::vector<int32_t> copyOfMap(const std::vector<int32_t>& map)
{
    std::vector<int32_t> copy;
    kptablememory::reserve(copy, static_cast<int64_t>(map.size()), MAX_MAP_SIZE, NO_MAP_MEMORY);
    copy.assign(map.begin(), map.end());
    return copy;
}

// The canvas that reaches the largest right and bottom of the components
// drawn, white, at depth; an image without pixel data when none is drawn.
KpImage canvasFor(const std::vector<KpComponent>& components, const std::vector<int32_t>& indices, int32_t depth)
{
    if (indices.empty()) {
        return KpImage();
    }
    int32_t right = 0;
    int32_t bottom = 0;
    for (int32_t i : indices) {
        right = std::max(right, components[i].kpGetRight());
        bottom = std::max(bottom, components[i].kpGetBottom());
    }
    KpImage canvas(right + 1, bottom + 1, depth);
    for (int32_t i : indices) {
        components[i].kpPaintRuns(canvas, 0, 0);
    }
    return canvas;
}

// Sizes compared with float bounds, exactly (in double precision).
double areaOf(const KpComponent& c)
{
    return c.kpGetArea();
}

double heightOf(const KpComponent& c)
{
    return c.kpGetComponentHeight();
}

double widthOf(const KpComponent& c)
{
    return c.kpGetComponentWidth();
}

} // namespace

void KpConnectedComponents::kpCreateConnectedComponents(const KpImage& image)
{
    if (image.kpGetDepth() != 1) {
        KP_THROW(KP_UNSUPPORTED_CONTENT,
                 "<KpConnectedComponents::kpCreateConnectedComponents()> Only supports Two Bit images (Black and White)");
    }
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpConnectedComponents::kpCreateConnectedComponents()> Image Data is NULL!");
    }
    ccMapDirty = true;
    components.clear();
    // The selection must never name a component that is gone, should the
    // labelling fail.
    filteredIndices.clear();

    // Black pixels become the set bits that the labelling follows.
    KpImage inverted = image.kpReverseImage();
    KpLabellingDescriptor D = KpConnectedComponentsUtils::kpLabelImage(inverted);
    inverted = KpImage();
    D.stream = std::vector<int32_t>();

    components.reserve(D.ComponentList.size() - 1);
    for (std::size_t i = 1; i < D.ComponentList.size(); ++i) {
        components.emplace_back(std::move(D.ComponentList[i]));
    }
    kpResetFilter();
    imageHeight = image.kpGetHeight();
    imageWidth = image.kpGetWidth();
    if (computeMoments) {
        for (KpComponent& component : components) {
            component.kpComputeMoments();
        }
    }
}

std::vector<int32_t> KpConnectedComponents::kpGetConnectedCCMap()
{
    if (components.empty()) {
        KP_THROW(KP_NO_DATA, "<KpConnectedComponents::kpGetConnectedCCMap()> Need to calculate connected components first!");
    }
    KpLogger* logger = KpLogger::kpGetInstance();
    if (!ccMapDirty) {
        logger->kpLog("CCMap is up to date.  Just returning vector!", DETAIL);
        return copyOfMap(ccMap);
    }
    logger->kpLog("Calculating CCMap", DETAIL);
    const std::size_t width = static_cast<std::size_t>(imageWidth);
    const int64_t size = int64_t{imageHeight} * imageWidth;
    ccMap.clear();
    kptablememory::reserve(ccMap, size, MAX_MAP_SIZE, NO_MAP_MEMORY);
    ccMap.assign(static_cast<std::size_t>(size), BACKGROUND);
    for (std::size_t i = 0; i < components.size(); ++i) {
        for (const KpDatarun& run : components[i].kpGetRuns()) {
            std::fill_n(ccMap.begin() + static_cast<std::ptrdiff_t>(run.row * width + run.start), run.end - run.start,
                        static_cast<int32_t>(i));
        }
    }
    ccMapDirty = false;
    return copyOfMap(ccMap);
}

const KpComponent& KpConnectedComponents::kpGetComponent(int32_t index) const
{
    if (index < 0 || index >= kpGetComponentCount()) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpConnectedComponents::kpGetComponent()> Index out of range");
    }
    return components[static_cast<std::size_t>(index)];
}

std::vector<KpComponent> KpConnectedComponents::kpGetFilteredComponents() const
{
    std::vector<KpComponent> selected;
    selected.reserve(filteredIndices.size());
    for (int32_t i : filteredIndices) {
        selected.push_back(components[i]);
    }
    return selected;
}

std::vector<int32_t> KpConnectedComponents::allIndices() const
{
    std::vector<int32_t> indices(components.size());
    std::iota(indices.begin(), indices.end(), 0);
    return indices;
}

void KpConnectedComponents::kpResetFilter()
{
    filteredIndices = allIndices();
}

template <typename Test>
int32_t KpConnectedComponents::filterSelection(Test passes)
{
    if (filteredIndices.empty()) {
        return 0;
    }
    const auto fails = [this, &passes](int32_t i) { return !passes(components[i]); };
    filteredIndices.erase(std::remove_if(filteredIndices.begin(), filteredIndices.end(), fails), filteredIndices.end());
    return static_cast<int32_t>(filteredIndices.size());
}

int32_t KpConnectedComponents::kpFilterByHeight(int32_t min, int32_t max)
{
    return filterSelection([min, max](const KpComponent& c) {
        return min <= c.kpGetComponentHeight() && c.kpGetComponentHeight() <= max;
    });
}

int32_t KpConnectedComponents::kpFilterByWidth(int32_t min, int32_t max)
{
    return filterSelection([min, max](const KpComponent& c) {
        return min <= c.kpGetComponentWidth() && c.kpGetComponentWidth() <= max;
    });
}

int32_t KpConnectedComponents::kpFilterByMinDensity(float bound)
{
    return filterSelection([bound](const KpComponent& c) { return c.kpGetDensity() >= bound; });
}

int32_t KpConnectedComponents::kpFilterByMaxDensity(float bound)
{
    return filterSelection([bound](const KpComponent& c) { return c.kpGetDensity() <= bound; });
}

int32_t KpConnectedComponents::kpFilterByDensity(float min, float max)
{
    return filterSelection([min, max](const KpComponent& c) {
        return min <= c.kpGetDensity() && c.kpGetDensity() <= max;
    });
}

int32_t KpConnectedComponents::kpFilterByMinArea(float bound)
{
    return filterSelection([bound](const KpComponent& c) { return areaOf(c) >= bound; });
}

int32_t KpConnectedComponents::kpFilterByMaxArea(float bound)
{
    return filterSelection([bound](const KpComponent& c) { return areaOf(c) <= bound; });
}

int32_t KpConnectedComponents::kpFilterByArea(float min, float max)
{
    return filterSelection([min, max](const KpComponent& c) { return min <= areaOf(c) && areaOf(c) <= max; });
}

int32_t KpConnectedComponents::kpFilterByRowRange(int32_t firstRow, int32_t lastRow)
{
    return filterSelection([firstRow, lastRow](const KpComponent& c) {
        return c.kpGetTop() >= firstRow && c.kpGetBottom() <= lastRow;
    });
}

int32_t KpConnectedComponents::kpFilterByColumnRange(int32_t firstColumn, int32_t lastColumn)
{
    return filterSelection([firstColumn, lastColumn](const KpComponent& c) {
        return c.kpGetLeft() >= firstColumn && c.kpGetRight() <= lastColumn;
    });
}

int32_t KpConnectedComponents::kpFilterByMaxSize(float maxWidth, float maxHeight)
{
    return filterSelection([maxWidth, maxHeight](const KpComponent& c) {
        return heightOf(c) <= maxHeight && widthOf(c) <= maxWidth;
    });
}

int32_t KpConnectedComponents::kpFilterByMinSize(float minWidth, float minHeight)
{
    return filterSelection([minWidth, minHeight](const KpComponent& c) {
        return heightOf(c) >= minHeight && widthOf(c) >= minWidth;
    });
}

void KpConnectedComponents::kpSetFilteredColor(KpColorValue color)
{
    for (int32_t i : filteredIndices) {
        components[i].kpSetColor(color);
    }
}

KpImage KpConnectedComponents::kpDrawComponents() const
{
    return canvasFor(components, allIndices(), 8);
}

KpImage KpConnectedComponents::kpDrawColorComponents() const
{
    return canvasFor(components, allIndices(), 24);
}

KpImage KpConnectedComponents::kpDrawFilteredComponents() const
{
    return canvasFor(components, filteredIndices, 8);
}
