// Builds against the installed headers and libraries only, then finds the
// outline of a gray square on black.
#include <dovoda/kpedgedetector.h>
#include <dovoda/kpimage.h>

#include <cstdio>

int main()
{
    KpImage image(24, 24, 8);
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            bool inside = x >= 6 && x <= 17 && y >= 6 && y <= 17;
            image.kpSetPixel(x, y, inside ? 200 : 0);
        }
    }
    KpImage edges = KpEdgeDetector().detectEdges(image);
    int edgePixels = 0;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            edgePixels += edges.kpGetPixelScale(x, y) == 0 ? 1 : 0;
        }
    }
    std::printf("edge pixels: %d\n", edgePixels);
    return edgePixels == 44 ? 0 : 1;
}
