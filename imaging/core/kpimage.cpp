#include "kpimage.h"

#include "kpexception.h"
#include "kppixelbuffer.h"

#include <cstring>
#include <string>
#include <limits>
#include <utility>

const int64_t KpImage::KP_MAX_IMAGE_BYTES = std::numeric_limits<int32_t>::max();

namespace {

const char* const OUT_OF_BOUND = "Out Of Bound!!";
const char* const DATA_IS_NULL = "Image data is null!!";

// A new image of the source's size and depth (default header otherwise)
// holding the bitwise complement of every byte of its buffer.
KpImage complementedBytes(const KpImage& source)
{
    KpImage result(source.kpGetWidth(), source.kpGetHeight(), source.kpGetDepth());
    const std::size_t size = source.kpGetImageSize();
    const uint8_t* in = source.kpGetData();
    uint8_t* out = result.kpGetData();
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = static_cast<uint8_t>(~in[i]);
    }
    return result;
}

} // namespace

std::size_t KpImage::kpCheckedBufferSize(int64_t rowBytes, int64_t rows)
{
    return KpPixelBuffer::kpCheckedSize(rowBytes, rows);
}

KpImage::KpImage() = default;

KpImage::KpImage(int32_t width, int32_t height, int32_t depth)
{
    kpInitImage(width, height, depth, true);
}

KpImage::KpImage(uint8_t* buffer, const KpImageHead& source) : head(source)
{
    deriveStore();
    if (buffer == nullptr) {
        KP_THROW(KP_NO_DATA, "KpImage::KpImage() Image Data is NULL!");
    }
    data.reset(buffer);
}

KpImage::KpImage(const KpImage& other)
{
    *this = other;
}

KpImage::KpImage(KpImage&& other) noexcept
    : data(std::move(other.data)), hasWarnings(other.hasWarnings)
{
    head = other.head;
    std::swap(head.tags, other.head.tags);
}

KpImage& KpImage::operator=(KpImage&& other) noexcept
{
    if (this != &other) {
        head = other.head;
        std::swap(head.tags, other.head.tags);
        data = std::move(other.data);
        hasWarnings = other.hasWarnings;
    }
    return *this;
}

KpImage::~KpImage() = default;

KpImage& KpImage::operator=(const KpImage& other)
{
    if (this == &other) {
        KP_THROW(KP_NO_MEMORY, "Self Assignment Attempted!");
    }
    if (other.data) {
        std::unique_ptr<uint8_t[]> copy(other.kpDuplicateData());
        if (data) {
            data.reset();
            head.tags.kpClear();
        }
        kpSetHeader(other.head.width, other.head.height, other.head.depth, other.head.xResolution,
                    other.head.yResolution, other.head.resolutionInDpi != 0);
        head.format = other.head.format;
        head.reserved1 = other.head.reserved1;
        data = std::move(copy);
        if (!head.tags.kpIsEmpty()) {
            head.tags = other.head.tags;
        }
    } else {
        data.reset();
    }
    hasWarnings = other.hasWarnings;
    return *this;
}

KpImage KpImage::kpCopyImage() const
{
    return KpImage(*this);
}

std::size_t KpImage::kpGetImageSize() const
{
    if (head.bytesPerRow <= 0 || head.height <= 0) {
        return 0;
    }
    return static_cast<std::size_t>(head.bytesPerRow) * static_cast<std::size_t>(head.height);
}

bool KpImage::kpIsInside(int32_t x, int32_t y) const
{
    return x >= 0 && x < head.width && y >= 0 && y < head.height;
}

void KpImage::deriveStore()
{
    int32_t channels = KpImageHead::kpChannelsOf(head.depth);
    if (channels != 0) {
        head.channels = channels;
        head.bytesPerRow = KpImageHead::kpRowBytes(head.width, head.depth);
    }
}

void KpImage::kpSetHeader(int32_t width, int32_t height, int32_t depth, float xResolution,
                          float yResolution, bool resolutionInDpi)
{
    head.width = width;
    head.height = height;
    head.depth = depth;
    head.xResolution = xResolution;
    head.yResolution = yResolution;
    head.resolutionInDpi = resolutionInDpi ? 1 : 0;
    deriveStore();
}

void KpImage::kpInitImage(int32_t width, int32_t height, int32_t depth, bool allocate)
{
    head.width = width;
    head.height = height;
    head.depth = depth;
    deriveStore();
    data.reset();
    if (allocate) {
        kpAllocateImage();
    }
}

void KpImage::kpSetData(uint8_t* buffer)
{
    data.reset(buffer);
}

uint8_t* KpImage::kpDuplicateData() const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "Image Data is NULL!");
    }
    std::unique_ptr<uint8_t[]> copy = KpPixelBuffer::kpAllocate(head.bytesPerRow, head.height);
    std::memcpy(copy.get(), data.get(), kpGetImageSize());
    return copy.release();
}

void KpImage::kpAllocateImage()
{
    data.reset();
    if (head.bytesPerRow <= 0 && head.width > 0 && head.height > 0) {
        head.bytesPerRow = KpImageHead::kpRowBytes(head.width, head.depth);
    }
    if (head.width <= 0) {
        KP_THROW(KP_NO_MEMORY, KpPixelBuffer::KP_DEFAULT_FAILURE_TEXT);
    }
    data = KpPixelBuffer::kpAllocateFilled(head.bytesPerRow, head.height, 0xFF);
}

void KpImage::checkColourStore() const
{
    if (head.channels != 3) {
        KP_THROW(KP_INVALID_ARGUMENT, "Color FORMAT is needed in kpSetPixel");
    }
}

// The single-value accessors serve the 1-bit and 8-bit stores only; a
// 24-bit store is refused whatever its format field says.
bool KpImage::isSingleValueStore() const
{
    return head.format <= 2 && (head.depth == 1 || head.depth == 8);
}

void KpImage::kpSetPixel(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b)
{
    checkColourStore();
    if (!kpIsInside(x, y)) {
        KP_THROW(KP_INVALID_ARGUMENT, OUT_OF_BOUND);
    }
    if (!data) {
        KP_THROW(KP_NO_DATA, DATA_IS_NULL);
    }
    uint8_t* pixel = data.get() + static_cast<std::size_t>(y) * head.bytesPerRow + 3 * static_cast<std::size_t>(x);
    pixel[0] = r;
    pixel[1] = g;
    pixel[2] = b;
}

void KpImage::kpGetPixel(int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) const
{
    checkColourStore();
    if (!kpIsInside(x, y)) {
        KP_THROW(KP_INVALID_ARGUMENT, OUT_OF_BOUND);
    }
    if (!data) {
        KP_THROW(KP_NO_DATA, DATA_IS_NULL);
    }
    const uint8_t* pixel = data.get() + static_cast<std::size_t>(y) * head.bytesPerRow + 3 * static_cast<std::size_t>(x);
    *r = pixel[0];
    *g = pixel[1];
    *b = pixel[2];
}

void KpImage::kpSetPixel(int32_t x, int32_t y, uint8_t value)
{
    if (!isSingleValueStore()) {
        KP_THROW(KP_INVALID_ARGUMENT, "Binary or Gray Scale FORMAT is needed in kpSetPixel");
    }
    if (x < 0 || y < 0 || x > head.width || y > head.height) {
        KP_THROW(KP_INVALID_ARGUMENT, OUT_OF_BOUND);
    }
    if (x == head.width || y == head.height) {
        return; // one step past the last column or row is ignored
    }
    if (!data) {
        KP_THROW(KP_NO_DATA, DATA_IS_NULL);
    }
    uint8_t* row = data.get() + static_cast<std::size_t>(y) * head.bytesPerRow;
    if (head.depth == 8) {
        row[x] = value;
    } else if (value != 0) {
        row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    } else {
        row[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
    }
}

uint8_t KpImage::kpGetPixelScale(int32_t x, int32_t y) const
{
    if (!isSingleValueStore()) {
        KP_THROW(KP_INVALID_ARGUMENT, "Binary or Gray Scale FORMAT is needed in kpGetPixelScale");
    }
    if (!data) {
        KP_THROW(KP_NO_DATA, DATA_IS_NULL);
    }
    if (!kpIsInside(x, y)) {
        KP_THROW(KP_INVALID_ARGUMENT, OUT_OF_BOUND);
    }
    const uint8_t* row = data.get() + static_cast<std::size_t>(y) * head.bytesPerRow;
    if (head.depth == 8) {
        return row[x];
    }
    return (row[x / 8] & (0x80 >> (x % 8))) != 0 ? 255 : 0;
}

KpImage KpImage::kpGetChannelImage(int32_t channel) const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpGetChannelImage()> Image Data is NULL!");
    }
    if (head.depth != 24) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpImage::kpGetChannelImage()> Color image expected in KpImage::kpGetChannel!");
    }
    if (channel < 0 || channel > 2) {
        KP_THROW(KP_BAD_CHANNEL, "<KpImage::kpGetChannelImage()> channel is out of bounary in KpImage::kpGetChannel!");
    }
    KpImage result(head.width, head.height, 8);
    std::size_t pixels = static_cast<std::size_t>(head.width) * head.height;
    const uint8_t* source = data.get() + channel;
    uint8_t* target = result.data.get();
    for (std::size_t i = 0; i < pixels; ++i) {
        target[i] = source[3 * i];
    }
    return result;
}

KpImage KpImage::kpMergeChannelImage(const KpImage& first, const KpImage& second, const KpImage& third)
{
    if (first.head.depth != 8 || second.head.depth != 8 || third.head.depth != 8) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpImage::kpMergeChannelImage()> Byte image expected in KpImage::kpMergeChannelImage!");
    }
    if (!first.data || !second.data || !third.data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpMergeChannelImage()> Image Data is NULL!");
    }
    for (const KpImage* other : {&second, &third}) {
        if (other->head.width < first.head.width || other->head.height < first.head.height) {
            KP_THROW(KP_INVALID_ARGUMENT, "<KpImage::kpMergeChannelImage()> Second and third images must be at least as large as the first in KpImage::kpMergeChannelImage!");
        }
    }
    const int32_t width = first.head.width;
    const int32_t height = first.head.height;
    KpImage result(width, height, 24);
    const KpImage* channels[3] = {&first, &second, &third};
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* target = result.data.get() + static_cast<std::size_t>(y) * result.head.bytesPerRow;
        for (int c = 0; c < 3; ++c) {
            const uint8_t* source = channels[c]->data.get() + static_cast<std::size_t>(y) * channels[c]->head.bytesPerRow;
            for (int32_t x = 0; x < width; ++x) {
                target[3 * x + c] = source[x];
            }
        }
    }
    return result;
}

KpImage KpImage::kpReverseByteImage() const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpReverseByteImage()> Image Data is NULL!");
    }
    if (head.depth != 8 && head.depth != 1) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpImage::kpReverseByteImage() Byte or Binary images are expected in kpReverseByteImage!");
    }
    return complementedBytes(*this);
}

KpImage KpImage::kpReverseImage() const
{
    if (!data) {
        KP_THROW(KP_NO_DATA, "<KpImage::kpReverseImage()> Image Data is NULL!");
    }
    if (head.depth == 1 || head.depth == 8) {
        return kpReverseByteImage();
    }
    if (head.depth != 24) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImage::kpReverseImage()> KpImage::kpReverseImage() Unknow Image format. Only supports 1, 8 and 24 bit images");
    }
    // Inverting the three channels apart and merging them gives the
    // complement of every byte of the interleaved buffer.
    return complementedBytes(*this);
}

bool KpImage::holdsAt(const KpImage& other, int32_t x, int32_t y) const
{
    return x >= 0 && y >= 0 && static_cast<int64_t>(x) + other.head.width <= head.width &&
           static_cast<int64_t>(y) + other.head.height <= head.height;
}

KpImage KpImage::unfilledCopy(const char* failureText) const
{
    const char* text = failureText != nullptr ? failureText : KpPixelBuffer::KP_DEFAULT_FAILURE_TEXT;
    KpImage result(KpPixelBuffer::kpAllocate(head.bytesPerRow, head.height, text).release(), head);
    result.head.reserved2 = 0;
    result.hasWarnings = hasWarnings;
    return result;
}

void KpImage::checkColourSource(const char* name) const
{
    const std::string prefix = std::string("<KpImage::") + name + "()> ";
    if (!data) {
        KP_THROW(KP_NO_DATA, prefix + "Image Data is NULL!");
    }
    if (head.depth != 24) {
        KP_THROW(KP_INVALID_ARGUMENT, prefix + "Color image expected in KpImage::" + name + "!");
    }
}
