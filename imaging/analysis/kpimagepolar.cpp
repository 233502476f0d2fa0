// Polar and Cartesian resampling of the image record: the image unrolled
// around its centroid (columns are angles, rows radii) and rolled back.
// Both sample bilinearly and take everything outside the source as
// white. 24-bit images are resampled channel by channel, 1-bit images
// through their gray expansion, thresholded back at 127. They are
// declared with the record and live here, beside those conversions.
#include "kpimage.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "kppixelbuffer.h"

#include <cmath>
#include <vector>

using Converter = KpBitsPerPixelConverter;

namespace {

// The angle of a full turn as the resampling measures it: column j of a
// polar image of width w lies at angle j * FULL_TURN / w.
constexpr double FULL_TURN = 6.28318530718;
constexpr uint8_t WHITE = 255;
constexpr int BINARY_THRESHOLD = 127;

// A pixel store of one byte per channel, channels interleaved (8-bit and
// 24-bit images).
struct Store {
    uint8_t* pixels;
    int32_t width;
    int32_t height;
    int channels;

    uint8_t* pixel(int32_t x, int32_t y) const
    {
        return pixels + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) *
                            static_cast<std::size_t>(channels);
    }
    bool holds(int32_t x, int32_t y) const { return x >= 0 && x < width && y >= 0 && y < height; }
};

Store storeOf(const KpImage& image)
{
    return {image.kpGetData(), image.kpGetWidth(), image.kpGetHeight(), image.kpGetChannels()};
}

uint8_t channelAt(const Store& source, int32_t x, int32_t y, int channel)
{
    return source.holds(x, y) ? source.pixel(x, y)[channel] : WHITE;
}

// The bilinear sample of every channel of source at (u, v) into out:
// with a = floor(u), b = floor(v) and the fractions fu, fv, the four
// neighbours (a, b), (a + 1, b), (a + 1, b + 1), (a, b + 1) weigh
// (1 - fu)(1 - fv), fu (1 - fv), fu fv and (1 - fu) fv; the sum is
// rounded half up and clamped to 0..255.
void sampleAt(const Store& source, double u, double v, uint8_t* out)
{
    if (!(u >= -1.0 && u < source.width && v >= -1.0 && v < source.height)) {
        // Every neighbour lies outside (also for positions beyond the int
        // range and for NaN).
        for (int c = 0; c < source.channels; ++c) {
            out[c] = WHITE;
        }
        return;
    }
    const double a = std::floor(u);
    const double b = std::floor(v);
    const double fu = u - a;
    const double fv = v - b;
    const int32_t x = static_cast<int32_t>(a);
    const int32_t y = static_cast<int32_t>(b);
    for (int c = 0; c < source.channels; ++c) {
        const double sum = (1 - fu) * (1 - fv) * channelAt(source, x, y, c) +
                           fu * (1 - fv) * channelAt(source, x + 1, y, c) + fu * fv * channelAt(source, x + 1, y + 1, c) +
                           (1 - fu) * fv * channelAt(source, x, y + 1, c);
        const double rounded = std::floor(sum + 0.5);
        out[c] = rounded <= 0.0 ? 0 : rounded >= 255.0 ? WHITE : static_cast<uint8_t>(rounded);
    }
}

// A new image of the store's size and depth (default header otherwise)
// whose pixels the caller writes.
KpImage blankLike(const Store& source)
{
    KpImageHead head;
    head.width = source.width;
    head.height = source.height;
    head.depth = 8 * source.channels;
    return KpImage(KpPixelBuffer::kpAllocate(KpImageHead::kpRowBytes(head.width, head.depth), head.height).release(),
                   head);
}

// Pixel (j, i) of the result samples the source at radius i * rmax /
// height and angle j * FULL_TURN / width around (cx, cy).
KpImage unrolled(const Store& source, KpPoint centre, double rmax)
{
    KpImage result = blankLike(source);
    const Store target = storeOf(result);
    std::vector<double> cosines(static_cast<std::size_t>(source.width));
    std::vector<double> sines(static_cast<std::size_t>(source.width));
    for (int32_t j = 0; j < source.width; ++j) {
        const double theta = j * FULL_TURN / source.width;
        cosines[static_cast<std::size_t>(j)] = std::cos(theta);
        sines[static_cast<std::size_t>(j)] = std::sin(theta);
    }
    for (int32_t i = 0; i < source.height; ++i) {
        const double r = i * rmax / source.height;
        for (int32_t j = 0; j < source.width; ++j) {
            const std::size_t k = static_cast<std::size_t>(j);
            sampleAt(source, cosines[k] * r + centre.x, sines[k] * r + centre.y, target.pixel(j, i));
        }
    }
    return result;
}

// Pixel (x, y) of the result samples the polar source at the column of
// its angle around centre and the row of its radius, rmax reaching the
// last row; the centre itself copies the source's pixel there.
KpImage rolled(const Store& source, KpPoint centre, double rmax)
{
    KpImage result = blankLike(source);
    const Store target = storeOf(result);
    for (int32_t y = 0; y < source.height; ++y) {
        const double dy = static_cast<double>(y) - centre.y;
        for (int32_t x = 0; x < source.width; ++x) {
            const double dx = static_cast<double>(x) - centre.x;
            uint8_t* out = target.pixel(x, y);
            if (dx == 0.0 && dy == 0.0) {
                for (int c = 0; c < source.channels; ++c) {
                    out[c] = source.pixel(x, y)[c];
                }
                continue;
            }
            double theta = std::atan2(dy, dx);
            if (theta < 0.0) {
                theta += FULL_TURN;
            }
            sampleAt(source, source.width * theta / FULL_TURN, source.height * std::hypot(dx, dy) / rmax, out);
        }
    }
    return result;
}

template <typename Resampling>
KpImage resampledAtEveryDepth(const KpImage& image, Resampling resample)
{
    if (image.kpGetDepth() != 1) {
        return resample(image);
    }
    const KpImage gray = Converter::kpBinary2Gray(image);
    return Converter::kpDownscaleGray2Binary_global(resample(gray), BINARY_THRESHOLD);
}

bool isResampledDepth(int32_t depth)
{
    return depth == 1 || depth == 8 || depth == 24;
}

void checkCartesianSource(const KpImage& image)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpCartesianImage()> Image Data is NULL!");
    }
    if (!isResampledDepth(image.kpGetDepth())) {
        throw KpException(KP_UNSUPPORTED_DEPTH, "<KpImage::kpCartesianImage> Invalid DepthValue", nullptr, 0);
    }
}

KpImage cartesianOf(const KpImage& image, KpPoint centre, double rmax)
{
    return resampledAtEveryDepth(image, [&](const KpImage& source) { return rolled(storeOf(source), centre, rmax); });
}

} // namespace

KpImage KpImage::kpPolarImage(bool fromCorners) const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpNormalizeGlobalImage()> Image Data is NULL!");
    }
    if (!isResampledDepth(head.depth)) {
        throw KpException(KP_UNSUPPORTED_DEPTH, "<KpImage::kpPolarImage()> Invalid Depth Value", nullptr, 0);
    }
    return resampledAtEveryDepth(*this, [fromCorners](const KpImage& source) {
        return unrolled(storeOf(source), source.kpCentroid(), source.kpRmax(fromCorners));
    });
}

KpImage KpImage::kpCartesianImage() const
{
    checkCartesianSource(*this);
    // rmax is 0 only for a 1 x 1 image, whose one pixel is the centre.
    const KpPoint centre(head.width / 2, head.height / 2);
    return cartesianOf(*this, centre, std::hypot(centre.x, centre.y));
}

KpImage KpImage::kpCartesianImage(const KpPoint& centre, double rmax) const
{
    checkCartesianSource(*this);
    if (!(rmax > 0.0)) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpImage::kpCartesianImage()> The largest radius must be greater than 0!");
    }
    return cartesianOf(*this, centre, rmax);
}
