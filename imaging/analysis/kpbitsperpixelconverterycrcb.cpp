// The luminance binarisation, built on the smoothing filter.
#include "kpbitsperpixelconverter.h"

#include "kpmorphology.h"

namespace {

constexpr int LUMINANCE_THRESHOLD = 195;
constexpr int PASS_ALL = 0;

} // namespace

KpImage KpBitsPerPixelConverter::kpDownscaleColor2Binary_ycrcb(const KpImage& image)
{
    const KpImage luminance = KpMorphology::kpBlur(image, 1).kpConvertToYcrCb();
    return kpDownscaleColor2Binary_threshold(luminance, LUMINANCE_THRESHOLD, PASS_ALL, PASS_ALL);
}
