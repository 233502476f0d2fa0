// Draws the three photo-like test scenes of the data folder from a fixed
// seed and saves them as PNG: edge_test_6.png (1152 x 864, colour),
// edge_test_7.png (640 x 480, colour) and edge_test_8.png (640 x 480,
// gray). Each scene has a shaded background, shaded discs and boxes,
// straight and curved strokes that cross one another, a textured patch
// and sensor noise, so edges meet at junctions and bend.
//
//   dovoda_make_test_images <output folder>
#include "kpimage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace {

const uint32_t SCENE_SEED = 20260614;
const double PI = 3.14159265358979323846;

struct Colour {
    double r, g, b;
};

// A floating-point RGB canvas, values 0..255.
class Canvas {
public:
    Canvas(int width, int height) : width(width), height(height), pixels(std::size_t(width) * height) {}

    // Blends colour into (x, y) with weight alpha (0..1).
    void blend(int x, int y, const Colour& colour, double alpha)
    {
        if (x < 0 || y < 0 || x >= width || y >= height || alpha <= 0.0) {
            return;
        }
        Colour& p = pixels[std::size_t(y) * width + x];
        alpha = std::min(alpha, 1.0);
        p.r += (colour.r - p.r) * alpha;
        p.g += (colour.g - p.g) * alpha;
        p.b += (colour.b - p.b) * alpha;
    }
    Colour& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }

    const int width;
    const int height;

private:
    std::vector<Colour> pixels;
};

Colour scaled(const Colour& c, double factor)
{
    return {c.r * factor, c.g * factor, c.b * factor};
}

Colour randomColour(std::mt19937& random)
{
    std::uniform_real_distribution<double> level(30.0, 230.0);
    return {level(random), level(random), level(random)};
}

// Vertical sky-to-ground gradient with a soft horizontal light fall-off.
void paintBackground(Canvas& canvas)
{
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            double v = double(y) / canvas.height;
            double light = 0.85 + 0.15 * std::cos(PI * (double(x) / canvas.width - 0.4));
            canvas.at(x, y) = scaled(Colour{170.0 - 60.0 * v, 180.0 - 40.0 * v, 200.0 - 90.0 * v}, light);
        }
    }
}

// A disc lit from the upper left, with an antialiased rim.
void paintDisc(Canvas& canvas, double cx, double cy, double radius, const Colour& colour)
{
    for (int y = int(cy - radius) - 1; y <= int(cy + radius) + 1; ++y) {
        for (int x = int(cx - radius) - 1; x <= int(cx + radius) + 1; ++x) {
            double dx = x - cx, dy = y - cy;
            double r = std::sqrt(dx * dx + dy * dy);
            double shade = 0.75 + 0.25 * (-(dx + dy) / (radius * 1.5));
            canvas.blend(x, y, scaled(colour, std::clamp(shade, 0.4, 1.1)), radius + 0.5 - r);
        }
    }
}

// A rotated box with a linear shading across it.
void paintBox(Canvas& canvas, double cx, double cy, double halfW, double halfH, double angle, const Colour& colour)
{
    const double c = std::cos(angle), s = std::sin(angle);
    const double reach = std::hypot(halfW, halfH) + 1.0;
    for (int y = int(cy - reach); y <= int(cy + reach); ++y) {
        for (int x = int(cx - reach); x <= int(cx + reach); ++x) {
            double u = (x - cx) * c + (y - cy) * s;
            double v = -(x - cx) * s + (y - cy) * c;
            double inside = std::min(halfW - std::abs(u), halfH - std::abs(v)) + 0.5;
            canvas.blend(x, y, scaled(colour, 0.8 + 0.2 * u / halfW), inside);
        }
    }
}

// A stroke of the given half width along a quadratic curve from p0 to p2
// bent towards p1 (a straight stroke when p1 lies on the chord).
void paintStroke(Canvas& canvas, double x0, double y0, double x1, double y1, double x2, double y2,
                 double halfWidth, const Colour& colour)
{
    const double length = std::hypot(x1 - x0, y1 - y0) + std::hypot(x2 - x1, y2 - y1);
    const int steps = std::max(2, int(length * 2.0));
    for (int i = 0; i <= steps; ++i) {
        double t = double(i) / steps;
        double x = (1 - t) * (1 - t) * x0 + 2 * (1 - t) * t * x1 + t * t * x2;
        double y = (1 - t) * (1 - t) * y0 + 2 * (1 - t) * t * y1 + t * t * y2;
        for (int py = int(y - halfWidth) - 1; py <= int(y + halfWidth) + 1; ++py) {
            for (int px = int(x - halfWidth) - 1; px <= int(x + halfWidth) + 1; ++px) {
                canvas.blend(px, py, colour, halfWidth + 0.5 - std::hypot(px - x, py - y));
            }
        }
    }
}

// A patch of woven texture: two crossed sine gratings.
void paintTexture(Canvas& canvas, int left, int top, int width, int height, double period)
{
    for (int y = top; y < top + height; ++y) {
        for (int x = left; x < left + width; ++x) {
            double weave = std::sin(2 * PI * x / period) * std::sin(2 * PI * y / (period * 1.3));
            canvas.blend(x, y, Colour{120 + 70 * weave, 100 + 60 * weave, 80 + 40 * weave}, 0.9);
        }
    }
}

Canvas drawScene(int width, int height, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double scale = std::min(width, height);
    Canvas canvas(width, height);
    paintBackground(canvas);
    paintTexture(canvas, int(width * 0.62), int(height * 0.08), int(width * 0.3), int(height * 0.25), scale * 0.03);
    for (int i = 0; i < 6; ++i) {
        paintBox(canvas, unit(random) * width, unit(random) * height, (0.05 + 0.12 * unit(random)) * scale,
                 (0.03 + 0.08 * unit(random)) * scale, unit(random) * PI, randomColour(random));
    }
    for (int i = 0; i < 8; ++i) {
        paintDisc(canvas, unit(random) * width, unit(random) * height, (0.03 + 0.1 * unit(random)) * scale,
                  randomColour(random));
    }
    for (int i = 0; i < 10; ++i) {
        double x0 = unit(random) * width, y0 = unit(random) * height;
        double x2 = unit(random) * width, y2 = unit(random) * height;
        bool curved = i % 2 == 1;
        double bend = curved ? (unit(random) - 0.5) * scale * 0.6 : 0.0;
        paintStroke(canvas, x0, y0, (x0 + x2) / 2 + bend, (y0 + y2) / 2 - bend, x2, y2,
                    (0.002 + 0.006 * unit(random)) * scale, randomColour(random));
    }
    std::normal_distribution<double> noise(0.0, 4.0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Colour& p = canvas.at(x, y);
            double n = noise(random);
            p = {p.r + n, p.g + n, p.b + n};
        }
    }
    return canvas;
}

uint8_t toByte(double value)
{
    return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
}

KpImage toImage(Canvas& canvas, bool colour)
{
    KpImage image(canvas.width, canvas.height, colour ? 24 : 8);
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            const Colour& p = canvas.at(x, y);
            if (colour) {
                image.kpSetPixel(x, y, toByte(p.r), toByte(p.g), toByte(p.b));
            } else {
                image.kpSetPixel(x, y, toByte((p.r + p.g + p.b) / 3.0));
            }
        }
    }
    return image;
}

struct SceneSpec {
    int number;
    int width;
    int height;
    bool colour;
};

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::cerr << "usage: dovoda_make_test_images <output folder>" << std::endl;
        return 1;
    }
    const SceneSpec scenes[] = {{6, 1152, 864, true}, {7, 640, 480, true}, {8, 640, 480, false}};
    try {
        for (const SceneSpec& scene : scenes) {
            Canvas canvas = drawScene(scene.width, scene.height, SCENE_SEED + scene.number);
            KpImage image = toImage(canvas, scene.colour);
            std::string name = std::string(argv[1]) + "/edge_test_" + std::to_string(scene.number) + ".png";
            image.kpSaveImage(name.c_str());
            std::cout << name << std::endl;
        }
    } catch (const std::exception& error) {
        std::cerr << "dovoda_make_test_images: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
