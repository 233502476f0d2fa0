#include "imagelines.h"

#include "edgestrength.h"
#include "kpbitsperpixelconverter.h"
#include "kpedgelinker.h"
#include "kppointlists.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Luminance weights of red, green and blue, in thousandths.
const int LUMA_RED = 299;
const int LUMA_GREEN = 587;
const int LUMA_BLUE = 114;
const int LUMA_SCALE = 1000;
// Luminance is looked up in quarters of a gray level.
const int STEPS_PER_LEVEL = 4;
const int LUMA_STEPS = 255 * STEPS_PER_LEVEL + 1;
const double DISPLAY_GAMMA = 2.2;

// The lightness of each quarter-level luminance: luminance / 255 raised
// to 1 / 2.2, brightening shadows as the eye does, rounded to 0..255.
const std::vector<uint8_t>& lightnessTable()
{
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> levels(LUMA_STEPS);
        for (int i = 0; i < LUMA_STEPS; ++i) {
            const double luma = static_cast<double>(i) / (LUMA_STEPS - 1);
            levels[i] = static_cast<uint8_t>(std::lround(255.0 * std::pow(luma, 1.0 / DISPLAY_GAMMA)));
        }
        return levels;
    }();
    return table;
}

// Each pixel's lightness: colour through its luminance, gray directly.
KpImage lightnessOf(const KpImage& image)
{
    const std::vector<uint8_t>& table = lightnessTable();
    const int width = image.kpGetWidth();
    const int height = image.kpGetHeight();
    const bool colour = image.kpGetDepth() == 24;
    KpImage gray(width, height, 8);
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = image.kpGetData() + static_cast<std::size_t>(y) * image.kpGetBytesPerRow();
        uint8_t* out = gray.kpGetData() + static_cast<std::size_t>(y) * gray.kpGetBytesPerRow();
        for (int x = 0; x < width; ++x) {
            const int quarters = colour ? (STEPS_PER_LEVEL * (LUMA_RED * in[3 * x] + LUMA_GREEN * in[3 * x + 1] +
                                                              LUMA_BLUE * in[3 * x + 2]) +
                                           LUMA_SCALE / 2) /
                                              LUMA_SCALE
                                        : STEPS_PER_LEVEL * in[x];
            out[x] = table[quarters];
        }
    }
    return gray;
}

// The 8-bit image the detector reads: the lightness when asked, otherwise
// the gray of the detector's own conversion (colour averaged, binary
// expanded).
KpImage grayFor(const KpImage& image, bool lightness)
{
    if (image.kpGetDepth() == 1) {
        return KpBitsPerPixelConverter::kpBinary2Gray(image);
    }
    if (lightness) {
        return lightnessOf(image);
    }
    if (image.kpGetDepth() == 24) {
        return KpBitsPerPixelConverter::kpDownscaleColor2Gray_average(image);
    }
    return image;
}

void removeWeakerThan(std::vector<PointList>& polylines, const KpImage& gray, double minStrength)
{
    const EdgeStrength strength(gray);
    polylines.erase(std::remove_if(polylines.begin(), polylines.end(),
                                   [&](const PointList& polyline) { return strength.of(polyline) < minStrength; }),
                    polylines.end());
}

} // namespace

ImageLines ImageLines::find(const KpImage& image, const LinesSettings& settings)
{
    ImageLines lines;
    lines.width = image.kpGetWidth();
    lines.height = image.kpGetHeight();
    const KpImage gray = grayFor(image, settings.lightness);
    KpEdgeLinker linker(KpEdgeDetector().detectEdges(gray, settings.detector), KpEdgeLinker::Diagnostics::Skip);
    lines.polylines = linker.extractLines(settings.tolerance);
    kppointlists::removeShorterThan(lines.polylines, settings.minLength);
    if (settings.minStrength > 0.0) {
        removeWeakerThan(lines.polylines, gray, settings.minStrength);
    }
    return lines;
}
