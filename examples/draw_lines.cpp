// Draws the polylines of a DoVoda line file in black onto a white image
// of the same size as the image they were found in, and saves it.
//
//   dovoda_draw_lines photo.png photo.png_output_line.txt lines.png
#include "kpimage.h"
#include "kplinefile.h"
#include "kppointlists.h"

#include <iostream>

namespace {

// Sets the pixels of the straight segment from a to b.
void drawSegment(KpImage& image, const point& a, const point& b)
{
    for (const point& p : kppointlists::segmentPixels(a, b)) {
        if (image.kpIsInside(p.col, p.row)) {
            image.kpSetPixel(p.col, p.row, 0);
        }
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::cerr << "usage: dovoda_draw_lines <image> <line file> <output image>" << std::endl;
        return 1;
    }
    try {
        KpImage source;
        source.kpLoadImage(argv[1]);
        KpImage canvas(source.kpGetWidth(), source.kpGetHeight(), 8);
        for (const PointList& polyline : KpLineFile::read(argv[2])) {
            for (std::size_t i = 1; i < polyline.size(); ++i) {
                drawSegment(canvas, polyline[i - 1], polyline[i]);
            }
        }
        canvas.kpSaveImage(argv[3]);
    } catch (const std::exception& error) {
        std::cerr << "dovoda_draw_lines: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
