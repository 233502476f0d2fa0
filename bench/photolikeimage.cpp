#include "photolikeimage.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace benchsupport {

namespace {

struct Disc {
    double cx, cy, radius;
    double level;
};

struct Bar {
    double x0, y0, x1, y1, halfWidth;
    double level;
};

double distanceToSegment(double px, double py, const Bar& bar)
{
    double dx = bar.x1 - bar.x0, dy = bar.y1 - bar.y0;
    double t = ((px - bar.x0) * dx + (py - bar.y0) * dy) / (dx * dx + dy * dy);
    t = std::clamp(t, 0.0, 1.0);
    double ex = bar.x0 + t * dx - px, ey = bar.y0 + t * dy - py;
    return std::sqrt(ex * ex + ey * ey);
}

} // namespace

KpImage makePhotoLikeImage(int width, int height, int depth, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double scale = std::min(width, height);
    std::vector<Disc> discs(24);
    for (Disc& d : discs) {
        d = {unit(random) * width, unit(random) * height, (0.03 + 0.12 * unit(random)) * scale, unit(random)};
    }
    std::vector<Bar> bars(16);
    for (Bar& b : bars) {
        b = {unit(random) * width, unit(random) * height, unit(random) * width, unit(random) * height,
             (0.002 + 0.01 * unit(random)) * scale, unit(random)};
    }
    std::normal_distribution<double> noise(0.0, 6.0);
    const int channels = depth == 24 ? 3 : 1;
    KpImage image(width, height, depth);
    uint8_t* data = image.kpGetData();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double base = 0.25 + 0.5 * (x + y) / double(width + height);
            double level = base;
            for (const Disc& d : discs) {
                double r = std::hypot(x - d.cx, y - d.cy);
                if (r < d.radius) {
                    level = d.level * (0.7 + 0.3 * (1.0 - r / d.radius));
                }
            }
            for (const Bar& b : bars) {
                if (distanceToSegment(x, y, b) < b.halfWidth) {
                    level = b.level;
                }
            }
            for (int c = 0; c < channels; ++c) {
                double tint = channels == 1 ? 1.0 : 0.8 + 0.2 * c;
                double value = 255.0 * level * tint + noise(random);
                data[static_cast<std::size_t>(y) * image.kpGetBytesPerRow() + x * channels + c] =
                    static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
            }
        }
    }
    return image;
}

const KpImage& sharedPhoto(int depth)
{
    static const KpImage gray = makePhotoLikeImage(PHOTO_WIDTH, PHOTO_HEIGHT, 8);
    static const KpImage colour = makePhotoLikeImage(PHOTO_WIDTH, PHOTO_HEIGHT, 24);
    return depth == 24 ? colour : gray;
}

} // namespace benchsupport
