// Draws the polylines of a DoVoda line file in black onto a white image
// of the same size as the image they were found in, and saves it.
//
//   dovoda_draw_lines photo.png photo.png_output_line.txt lines.png
#include "kpimage.h"
#include "kplinefile.h"

#include <cstdlib>
#include <iostream>

namespace {

// Sets the pixels of the straight segment from a to b (Bresenham's walk).
void drawSegment(KpImage& image, point a, point b)
{
    const int dx = std::abs(b.col - a.col);
    const int dy = -std::abs(b.row - a.row);
    const int stepX = a.col < b.col ? 1 : -1;
    const int stepY = a.row < b.row ? 1 : -1;
    int error = dx + dy;
    for (;;) {
        if (image.kpIsInside(a.col, a.row)) {
            image.kpSetPixel(a.col, a.row, 0);
        }
        if (a.col == b.col && a.row == b.row) {
            return;
        }
        const int doubled = 2 * error;
        if (doubled >= dy) {
            error += dy;
            a.col += stepX;
        }
        if (doubled <= dx) {
            error += dx;
            a.row += stepY;
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
