#include "overlay.h"

#include "kpbitsperpixelconverter.h"
#include "kppointlists.h"

namespace {

const int COLOUR_FORMAT = 3;

} // namespace

KpImage Overlay::draw(const KpImage& image, const std::vector<PointList>& polylines)
{
    KpImage canvas = KpBitsPerPixelConverter::kpConvertImage(image, COLOUR_FORMAT);
    for (const PointList& polyline : polylines) {
        for (std::size_t i = 0; i + 1 < polyline.size(); ++i) {
            for (const point& p : kppointlists::segmentPixels(polyline[i], polyline[i + 1])) {
                if (canvas.kpIsInside(p.col, p.row)) {
                    canvas.kpSetPixel(p.col, p.row, LINE_RED, LINE_GREEN, LINE_BLUE);
                }
            }
        }
    }
    return canvas;
}
