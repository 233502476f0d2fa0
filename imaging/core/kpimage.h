#ifndef DOVODA_KPIMAGE_H
#define DOVODA_KPIMAGE_H

#include "kpimagehead.h"
#include "kpimagestatistics.h"
#include "kppoint.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class KpBaseImage;

// The raster image record: a header and an owned pixel buffer in one of
// three stores, rows top to bottom, bytesPerRow apart, no padding:
// - depth 8: one byte per pixel, 0 black, 255 white;
// - depth 24: red, green, blue bytes per pixel;
// - depth 1: eight pixels per byte, most significant bit first, a set
//   bit is white.
// Pixel access takes (x, y) = (column, row).
class KpImage {
public:
    // The largest pixel buffer an image may hold, and the largest number
    // of pixels: sizes and indices of every operation fit 32 bits.
    static const int64_t KP_MAX_IMAGE_BYTES;

    KpImage();
    KpImage(int32_t width, int32_t height, int32_t depth);
    // Adopts data (allocated with new[]); channels and bytesPerRow are
    // derived from head.depth and head.width.
    KpImage(uint8_t* data, const KpImageHead& head);
    // Load from a file or an encoded buffer through the format registry;
    // preferredCodec (may be null) is tried first.
    KpImage(const char* fileName, KpBaseImage* preferredCodec);
    KpImage(unsigned char* buffer, int size, KpBaseImage* preferredCodec);
    KpImage(const KpImage& other);
    KpImage(KpImage&& other) noexcept;
    KpImage& operator=(const KpImage& other);
    KpImage& operator=(KpImage&& other) noexcept;
    virtual ~KpImage();

    KpImage kpCopyImage() const;

    int32_t kpGetWidth() const { return head.width; }
    int32_t kpGetHeight() const { return head.height; }
    int32_t kpGetDepth() const { return head.depth; }
    int32_t kpGetChannels() const { return head.channels; }
    int32_t kpGetFormat() const { return head.format; }
    void kpSetFormat(int32_t format) { head.format = format; }
    int32_t kpGetBytesPerRow() const { return head.bytesPerRow; }
    uint8_t* kpGetData() const { return data.get(); }
    // bytesPerRow x height, 0 when either is not positive.
    std::size_t kpGetImageSize() const;
    float kpGetXResolution() const { return head.xResolution; }
    void kpSetXResolution(float resolution) { head.xResolution = resolution; }
    float kpGetYResolution() const { return head.yResolution; }
    void kpSetYResolution(float resolution) { head.yResolution = resolution; }
    bool kpIsResolutionInDpi() const { return head.resolutionInDpi != 0; }
    int32_t kpGetReserved1() const { return head.reserved1; }
    void kpSetReserved1(int32_t value) { head.reserved1 = value; }
    bool kpGetHasWarnings() const { return hasWarnings; }
    void kpSetHasWarnings(bool warnings) { hasWarnings = warnings; }
    KpImageHead kpGetHead() const { return head; }
    const KpTagList& kpGetTags() const { return head.tags; }
    KpTagList& kpGetTags() { return head.tags; }
    bool kpIsInside(int32_t x, int32_t y) const;

    void kpSetHeader(int32_t width, int32_t height, int32_t depth, float xResolution, float yResolution,
                     bool resolutionInDpi);
    void kpInitImage(int32_t width, int32_t height, int32_t depth, bool allocate);
    void kpSetData(uint8_t* buffer);
    // A new buffer (owned by the caller, release with delete[]) holding a
    // copy of the pixels.
    uint8_t* kpDuplicateData() const;
    // Releases the buffer and allocates bytesPerRow x height bytes of 0xFF.
    void kpAllocateImage();

    void kpSetPixel(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b);
    void kpGetPixel(int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) const;
    void kpSetPixel(int32_t x, int32_t y, uint8_t value);
    uint8_t kpGetPixelScale(int32_t x, int32_t y) const;

    KpImage kpGetChannelImage(int32_t channel) const;
    static KpImage kpMergeChannelImage(const KpImage& first, const KpImage& second, const KpImage& third);

    KpImage kpReverseByteImage() const;
    KpImage kpReverseImage() const;

    // Measurements: read-only summaries of the pixels.
    // Mean, median, deviation, skewness and kurtosis of each channel (a
    // 1-bit pixel counts as 0 or 255).
    KpImageStatistics kpImageStatistics() const;
    // The sums of the rows (type 1) or of the columns (type 2) of an 8-bit
    // image.
    std::vector<int32_t> kpProjectProfile(int32_t type) const;
    // The count of each value: 2 entries for a 1-bit image, 256 for 8 bits.
    std::vector<int32_t> kpHistogramImage() const;
    // True for a 1-bit image and for an 8-bit image whose pixels are all 0
    // or 255.
    bool kpIsGrayScaleBW() const;
    // The centroid of the darkness: each pixel weighs 255 minus its value
    // (the truncated mean of the three for colour; a clear bit weighs
    // 255). (0, 0) for a blank image.
    KpPoint kpCentroid() const;
    // The largest distance from the centroid to a corner (fromCorners) or
    // to a pixel that is not white.
    double kpRmax(bool fromCorners) const;

    // Geometric operations. Each returns a new image and leaves this one
    // alone. The work is done on 8-bit planes: a 24-bit image channel by
    // channel, a 1-bit image (except for cutting and mirroring) expanded to
    // gray and thresholded back at 127.
    // The rectangle with top left (x, y). 1- and 24-bit results keep the
    // format, reserved1 and resolutions; 8-bit ones the resolutions only.
    KpImage SubImage(int32_t x, int32_t y, int32_t width, int32_t height) const;
    KpImage kpSubByteImage(int32_t x, int32_t y, int32_t width, int32_t height) const;
    // Bilinear scaling to the given size.
    KpImage ResizeImage(int32_t width, int32_t height) const;
    KpImage kpResizeByteImage(int32_t width, int32_t height) const;
    // Each dimension times factor, truncated.
    KpImage kpResizeImage(double factor) const;
    // The point rotated about the origin, each coordinate rounded half up.
    static void kpRotatePoint(const KpPoint& point, KpPoint& rotated, double radians);
    // Rotation about the centre onto a white canvas grown to hold the
    // whole image, each pixel taken from its nearest source pixel.
    KpImage kpRotateByteImage(double degrees) const;
    KpImage kpRotateImage(double degrees) const;
    // Mirroring left to right (direction 1) or top to bottom (2).
    KpImage kpFlipByteImage(int32_t direction) const;
    KpImage kpFlipImage(int32_t direction) const;

    // The black pixels of a black and white image (1-bit, or 8-bit of 0
    // and 255) that touch white with a 4-neighbour, as an 8-bit image;
    // the outer border is white.
    KpImage kpContourImage() const;
    // Pixel arithmetic, pastes and contrast stretching. Regions are placed
    // at column x, row y of this image and must lie inside it. The add
    // and subtract rule is per byte modulo 256 for 8-bit and 24-bit
    // images; for 1-bit images the black pixels of other turn this image's
    // pixels black (add) or white (subtract).
    KpImage kpAddImage(const KpImage& other, int32_t x, int32_t y) const;
    KpImage kpSubtractImage(const KpImage& other, int32_t x, int32_t y) const;
    // Pastes of an image of the same depth; 1-bit images are pasted bit
    // by bit at pixel x.
    KpImage kpPasteByteImage(const KpImage& other, int32_t x, int32_t y) const;
    void kpPasteInByteImage(const KpImage& other, int32_t x, int32_t y);
    // Pastes a shallower image converted to this image's depth.
    void kpPasteInImage(const KpImage& other, int32_t x, int32_t y);
    // Pastes into a copy, deepened first when other is deeper.
    KpImage kpPasteImage(const KpImage& other, int32_t x, int32_t y) const;
    // Contrast stretch v -> (v - min) * 255 / (max - min): over all bytes
    // (global and grayscale), per channel of a 24-bit image (colour), or
    // the global stretch of 8-bit and 24-bit images (kpNormalizeImage).
    // 1-bit images are returned unchanged.
    KpImage kpNormalizeImage() const;
    KpImage kpNormalizeGrayscaleImage() const;
    KpImage kpNormalizeColorImage() const;
    KpImage kpNormalizeGlobalImage() const;

    // Colour spaces of 24-bit images: Y, Cr, Cb (BT.601, luma 16..235)
    // and H, S, V (hue in degrees modulo 256, S 0 or 1, V the maximum).
    KpImage kpConvertToYcrCb() const;
    KpImage kpConvertFromYcrCb() const;
    KpImage kpConverRGBToHSV() const;
    KpImage kpConverHSVToRGB() const;
    // h in degrees (-1 for black), s and v as v = max(r, g, b), s = (v - min) / v.
    static void kpRGBToHSV(float r, float g, float b, float* h, float* s, float* v);
    static void kpHSVToRGB(float h, float s, float v, float* r, float* g, float* b);

    // Polar resampling of the same size, bilinear, white outside the
    // source: columns are angles (0 to 2 pi) and rows radii (0 to the
    // largest radius) around the centroid of the darkness.
    KpImage kpPolarImage(bool fromCorners) const;
    // The way back: a polar image rolled around the image centre, or
    // around centre with rows reaching radius rmax (> 0).
    KpImage kpCartesianImage() const;
    KpImage kpCartesianImage(const KpPoint& centre, double rmax) const;

    // File operations through the format registry: loading picks the
    // codec by content, saving by the file name's extension.
    void kpLoadImage(const char* fileName, KpBaseImage* preferredCodec = nullptr);
    void kpLoadImage(unsigned char* buffer, int size, KpBaseImage* preferredCodec = nullptr);
    static KpImage kpLoadImageAtPage(const char* fileName, int page);
    static KpImage kpLoadImageAtPage(unsigned char* buffer, int size, int page);
    static int kpGetTotalPages(const char* fileName);
    static int kpGetTotalPages(unsigned char* buffer, int size);
    void kpSaveImage(const char* fileName, KpBaseImage* preferredCodec = nullptr);

    // Checked size of a buffer of rows x rowBytes bytes; raises code 13
    // when either is not positive or the product exceeds the limit.
    static std::size_t kpCheckedBufferSize(int64_t rowBytes, int64_t rows);

private:
    // True when an image of other's size placed at (x, y) lies inside this one.
    bool holdsAt(const KpImage& other, int32_t x, int32_t y) const;
    // An image with this image's header, as a copy has it, and a buffer of
    // the same size left unfilled (refused with failureText, or the
    // allocator's own text when null).
    KpImage unfilledCopy(const char* failureText = nullptr) const;
    // This image with other added (or subtracted) at (x, y).
    KpImage combinedWith(const KpImage& other, int32_t x, int32_t y, bool subtract) const;
    // Refuses an image without data (code 5) and one of a depth other than
    // 24 (code 7), naming the operation as in "<KpImage::name()>".
    void checkColourSource(const char* name) const;
    void deriveStore();
    bool isSingleValueStore() const;
    void checkColourStore() const;

    KpImageHead head;
    std::unique_ptr<uint8_t[]> data;
    bool hasWarnings = false;
};

#endif
