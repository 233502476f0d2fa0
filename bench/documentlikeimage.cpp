#include "documentlikeimage.h"

#include <algorithm>
#include <random>

namespace benchsupport {

namespace {

constexpr int LINE_PITCH = 24;
constexpr int GLYPH_HEIGHT = 12;
constexpr int GLYPH_PITCH = 10;
constexpr int NOISE = 12;

class Page {
public:
    Page(int width, int height, uint32_t seed) : image(width, height, 8), random(seed) {}

    void drawGround()
    {
        // Lighting falls off towards the bottom right corner.
        for (int y = 0; y < height(); ++y) {
            for (int x = 0; x < width(); ++x) {
                set(x, y, 232 - 40 * x / std::max(1, width()) - 30 * y / std::max(1, height()));
            }
        }
    }

    // A rectangle of the given shade; light strokes are drawn into a
    // dark one by the text lines.
    void fillBlock(int x0, int y0, int w, int h, int shade)
    {
        for (int y = std::max(0, y0); y < std::min(height(), y0 + h); ++y) {
            for (int x = std::max(0, x0); x < std::min(width(), x0 + w); ++x) {
                set(x, y, shade);
            }
        }
    }

    // A picture: a diagonal ramp from dark to light.
    void drawPicture(int x0, int y0, int w, int h)
    {
        for (int y = std::max(0, y0); y < std::min(height(), y0 + h); ++y) {
            for (int x = std::max(0, x0); x < std::min(width(), x0 + w); ++x) {
                set(x, y, 20 + 200 * ((x - x0) + (y - y0)) / std::max(1, w + h));
            }
        }
    }

    // Lines of glyphs over a band of the page, each glyph one to three
    // bars two or three pixels thick; words are separated by blanks.
    void writeText(int x0, int y0, int w, int h, int ink)
    {
        std::uniform_int_distribution<int> percent(0, 99);
        for (int line = y0 + LINE_PITCH / 2; line + GLYPH_HEIGHT < y0 + h; line += LINE_PITCH) {
            for (int x = x0 + GLYPH_PITCH; x + GLYPH_PITCH < x0 + w; x += GLYPH_PITCH) {
                if (percent(random) < 18) {
                    continue; // a space between words
                }
                drawGlyph(x, line, ink);
            }
        }
    }

    void addNoise()
    {
        std::uniform_int_distribution<int> noise(-NOISE, NOISE);
        uint8_t* pixels = image.kpGetData();
        for (std::size_t i = 0; i < image.kpGetImageSize(); ++i) {
            pixels[i] = static_cast<uint8_t>(std::clamp(pixels[i] + noise(random), 0, 255));
        }
    }

    KpImage image;

private:
    int width() const { return image.kpGetWidth(); }
    int height() const { return image.kpGetHeight(); }

    void set(int x, int y, int value)
    {
        if (x >= 0 && y >= 0 && x < width() && y < height()) {
            image.kpGetData()[static_cast<std::size_t>(y) * width() + x] = static_cast<uint8_t>(std::clamp(value, 0, 255));
        }
    }

    void drawGlyph(int x, int y, int ink)
    {
        std::uniform_int_distribution<int> bars(1, 3);
        std::uniform_int_distribution<int> offset(0, GLYPH_PITCH - 4);
        std::uniform_int_distribution<int> thickness(2, 3);
        std::uniform_int_distribution<int> kind(0, 2);
        const int count = bars(random);
        for (int b = 0; b < count; ++b) {
            const int t = thickness(random);
            switch (kind(random)) {
            case 0: // an upright stroke
                fillInk(x + offset(random), y, t, GLYPH_HEIGHT, ink);
                break;
            case 1: // a cross stroke at the top, middle or foot
                fillInk(x, y + (GLYPH_HEIGHT - t) * kind(random) / 2, GLYPH_PITCH - 2, t, ink);
                break;
            default: // a diagonal
                for (int i = 0; i < GLYPH_HEIGHT; ++i) {
                    fillInk(x + i * (GLYPH_PITCH - 3) / GLYPH_HEIGHT, y + i, t, 1, ink);
                }
            }
        }
    }

    void fillInk(int x0, int y0, int w, int h, int ink)
    {
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                set(x, y, ink);
            }
        }
    }

    std::mt19937 random;
};

} // namespace

KpImage makeDocumentLikeImage(int width, int height, uint32_t seed)
{
    Page page(width, height, seed);
    page.drawGround();
    // Body text over the whole page, then a dark block with light text
    // in the upper right and a picture in the lower left.
    page.writeText(0, 0, width, height, 45);
    const int blockX = width / 2, blockY = height / 8, blockW = width * 2 / 5, blockH = height / 4;
    page.fillBlock(blockX, blockY, blockW, blockH, 50);
    page.writeText(blockX, blockY, blockW, blockH, 215);
    page.drawPicture(width / 12, height * 5 / 8, width / 3, height / 4);
    page.addNoise();
    return page.image;
}

} // namespace benchsupport
