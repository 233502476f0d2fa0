#include "kpgifimage.h"

#include "kpbitsperpixelconverter.h"
#include "kpcolortable.h"
#include "kpexception.h"
#include "kpfilecloser.h"
#include "kpgifutilities.h"
#include "kplogger.h"
#include "kpoutputfile.h"
#include "kppixelbuffer.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace {

const char* const SIGNATURE_87 = "gif87a";
const char* const SIGNATURE_89 = "gif89a";
const int SIGNATURE_BYTES = 6;
const int MIN_SUPPORTED_BYTES = 8;
const int RGB_BYTES = 3;
const int32_t MAX_GIF_SIDE = 65535;
const int OPEN_FAILURE_LOG_LEVEL = 3;

// The file layout of the writer.
const char* const WRITTEN_SIGNATURE = "GIF87a";
const uint8_t IMAGE_SEPARATOR = 0x2C;
const uint8_t TRAILER = 0x3B;
const uint8_t TABLE_FLAG = 0x80;
const int64_t FIXED_FILE_BYTES = 1606;
const int DESCRIPTOR_CAPACITY = 38;
const int SCREEN_DESCRIPTOR_CAPACITY = 8;
const int MAX_SUB_BLOCK = 255;
// Colour indexing: 264 slots for at most 256 colours.
const int INDEXING_SLOTS = 264;

const std::size_t FIRST_READ_BYTES = 1 << 16;

const char* const NO_MEMORY = "<KpGIFImage::kpLoadImage()> Unable to allocate Memory";
const char* const NO_PIXEL_MEMORY =
    "<KpGIFImage::kpLoadImage()> Could not allocate enough memory for the uncompressed image";

void appendLittleEndian16(KpGIFArray<unsigned char>& bytes, int32_t value)
{
    bytes.kpAppend(static_cast<unsigned char>(value & 0xFF));
    bytes.kpAppend(static_cast<unsigned char>((value >> 8) & 0xFF));
}

bool isSignature(const unsigned char* bytes)
{
    char lowered[SIGNATURE_BYTES];
    for (int i = 0; i < SIGNATURE_BYTES; ++i) {
        lowered[i] = static_cast<char>(std::tolower(bytes[i]));
    }
    return std::memcmp(lowered, SIGNATURE_87, SIGNATURE_BYTES) == 0 ||
           std::memcmp(lowered, SIGNATURE_89, SIGNATURE_BYTES) == 0;
}

// The whole content of an open file in one malloc() block, read in as few
// calls as the file allows (one for a regular file).
gif_bytes_holder readWholeFile(std::FILE* file, int& size)
{
    struct stat info;
    std::size_t capacity = FIRST_READ_BYTES;
    if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0) {
        capacity = static_cast<std::size_t>(info.st_size) + 1;
    }
    gif_bytes_holder block;
    std::size_t filled = 0;
    while (true) {
        if (capacity > static_cast<std::size_t>(INT_MAX)) {
            KP_THROW(KP_NO_MEMORY, "<KpGIFImage::kpLoadImage()> The file is too large to load.");
        }
        unsigned char* grown = static_cast<unsigned char*>(std::realloc(block.get(), capacity));
        if (grown == nullptr) {
            KP_THROW(KP_NO_MEMORY, NO_MEMORY);
        }
        block.release();
        block.reset(grown);
        filled += std::fread(block.get() + filled, 1, capacity - filled, file);
        if (filled < capacity) {
            break;
        }
        capacity *= 2;
    }
    if (std::ferror(file)) {
        KP_THROW(KP_BAD_FILE, "<KpGIFImage::kpLoadImage()> Could not read the file.");
    }
    size = static_cast<int>(filled);
    return block;
}

// The decoder's composite (three planes) as a 24-bit image.
KpImage imageOfRaster(const raster_image& raster)
{
    const int32_t width = raster.width;
    const int32_t height = raster.height;
    std::unique_ptr<uint8_t[]> pixels = KpPixelBuffer::kpAllocate(int64_t(RGB_BYTES) * width, height, NO_PIXEL_MEMORY);
    const std::size_t count = std::size_t(width) * std::size_t(height);
    const uint8_t* red = static_cast<const uint8_t*>(raster.samples);
    const uint8_t* green = red + count;
    const uint8_t* blue = green + count;
    uint8_t* out = pixels.get();
    for (std::size_t i = 0; i < count; ++i, out += RGB_BYTES) {
        out[0] = red[i];
        out[1] = green[i];
        out[2] = blue[i];
    }
    KpImageHead head;
    head.width = width;
    head.height = height;
    head.depth = 24;
    head.format = 3;
    head.xResolution = static_cast<float>(raster.xResolution);
    head.yResolution = static_cast<float>(raster.yResolution);
    head.resolutionInDpi = 1;
    return KpImage(pixels.release(), head);
}

// Decodes a whole file held in a malloc() block, which the decoder takes.
KpImage decode(gif_bytes_holder bytes, int size)
{
    raster_image* composite = nullptr;
    if (!image_read_gif(bytes.release(), size, &composite)) {
        KP_THROW(KP_UNSUPPORTED_CONTENT, "<KpGIFImage::kpLoadImage()> Error in image_read_gif.");
    }
    const raster_holder held(composite);
    return imageOfRaster(*held);
}

const KpImage& checkedForWriting(const KpImage& image)
{
    if (image.kpGetDepth() != 24) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpGIFImage::KpGlobalGIFImage::KpGlobalGIFImage()> Image format not "
                                      "recognized in KpGIFImage::kpSaveImage!");
    }
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpGIFImage::KpGlobalGIFImage::KpGlobalGIFImage()> Image Data is NULL!");
    }
    if (image.kpGetWidth() > MAX_GIF_SIDE || image.kpGetHeight() > MAX_GIF_SIDE) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpGIFImage::KpGlobalGIFImage::KpGlobalGIFImage()> A GIF image is at most " +
                                           std::to_string(MAX_GIF_SIDE) + " pixels wide and high; this one is " +
                                           std::to_string(image.kpGetWidth()) + " x " +
                                           std::to_string(image.kpGetHeight()) + ".");
    }
    return image;
}

// The code stream of the writer: every pixel's index as one code, a clear
// code before pixel 0 and before every (2^exponent - 2)th pixel, the end
// code after the last, packed least significant bit first.
struct CodeStream {
    std::unique_ptr<uint8_t[]> bytes;
    std::size_t size;
};

CodeStream packCodes(const KpGIFArray<unsigned char>& indices, const KpGIFImage::KpEncoderSettings& settings)
{
    const int64_t pixels = indices.kpGetCount();
    const int64_t clearInterval = (int64_t(1) << settings.tableExponent) - 2;
    const int64_t codes = pixels + (pixels + clearInterval - 1) / clearInterval + 1;
    CodeStream stream{nullptr, static_cast<std::size_t>((codes * settings.codeWidth + 7) / 8)};
    stream.bytes = KpPixelBuffer::kpAllocate(int64_t(stream.size), 1, "<KpGIFImage::kpSaveImage()> Unable to allocate memory for the GIF data");
    uint8_t* out = stream.bytes.get();
    uint64_t pending = 0;
    int pendingBits = 0;
    auto put = [&](uint32_t code) {
        pending |= uint64_t(code) << pendingBits;
        pendingBits += settings.codeWidth;
        if (pendingBits >= 32) {
            for (int i = 0; i < 4; ++i) {
                *out++ = static_cast<uint8_t>(pending >> (8 * i));
            }
            pending >>= 32;
            pendingBits -= 32;
        }
    };
    const unsigned char* index = indices.kpGetItems();
    for (int64_t done = 0; done < pixels;) {
        put(static_cast<uint32_t>(settings.clearCode));
        const int64_t end = std::min(pixels, done + clearInterval);
        for (; done < end; ++done) {
            put(index[done]);
        }
    }
    put(static_cast<uint32_t>(settings.endCode));
    for (; pendingBits > 0; pendingBits -= 8, pending >>= 8) {
        *out++ = static_cast<uint8_t>(pending);
    }
    return stream;
}

void writeFile(const char* fileName, const KpGIFArray<unsigned char>& bytes)
{
    KpOutputFile file(fileName, KP_BAD_FILE, "<KpGIFImage::kpSaveImage()> Could not open file for writing.");
    const std::size_t count = static_cast<std::size_t>(bytes.kpGetCount());
    if (std::fwrite(bytes.kpGetItems(), 1, count, file.kpGetFile()) != count || !file.kpClose()) {
        KP_THROW(KP_BAD_FILE, "<KpGIFImage::kpSaveImage()> Could not write the whole file (disk full or stream closed).");
    }
}

} // namespace

KpGIFImage::KpLocalGIFImage::KpLocalGIFImage(const KpImage& image, const KpEncoderSettings& encoderSettings)
    : settings(encoderSettings), imageWidth(image.kpGetWidth()), imageHeight(image.kpGetHeight())
{
    const int64_t pixels = int64_t(imageWidth) * imageHeight;
    descriptor.kpReserve(DESCRIPTOR_CAPACITY);
    colours.kpReserve(int64_t(1) << settings.tableExponent);
    indices.kpReserve(pixels);
    dataBlocks.kpReserve(2 * pixels + FIXED_FILE_BYTES);
    makeLocalImage(image);
    writeDescriptor();
    encodeData();
}

KpGIFImage::KpLocalGIFImage::~KpLocalGIFImage() = default;

void KpGIFImage::KpLocalGIFImage::makeLocalImage(const KpImage& image)
{
    KpColorTable table(INDEXING_SLOTS, colours.kpGetCapacity());
    const std::size_t rowBytes = static_cast<std::size_t>(image.kpGetBytesPerRow());
    for (int32_t y = 0; y < imageHeight; ++y) {
        const uint8_t* pixel = image.kpGetData() + std::size_t(y) * rowBytes;
        for (int32_t x = 0; x < imageWidth; ++x, pixel += RGB_BYTES) {
            const int index = table.kpIndexOf(pixel[0], pixel[1], pixel[2]);
            if (index < 0) {
                KP_THROW(KP_INVALID_ARGUMENT, "<KpGIFImage::KpLocalGIFImage::makeLocalImage()> Error: Image has too "
                                              "many colors: KpGIFImage::kpSaveImage!");
            }
            if (index == colours.kpGetCount()) {
                colours.kpAppend((long(pixel[0]) << 16) | (long(pixel[1]) << 8) | long(pixel[2]));
            }
            indices.kpAppend(static_cast<unsigned char>(index));
        }
    }
}

// left and top, each as its low byte and a zero byte, the size, and the
// flags of a local colour table of 2^exponent entries, not interlaced.
void KpGIFImage::KpLocalGIFImage::writeDescriptor()
{
    descriptor.kpAppend(static_cast<unsigned char>(left & 0xFF));
    descriptor.kpAppend(0);
    descriptor.kpAppend(static_cast<unsigned char>(top & 0xFF));
    descriptor.kpAppend(0);
    appendLittleEndian16(descriptor, imageWidth);
    appendLittleEndian16(descriptor, imageHeight);
    descriptor.kpAppend(static_cast<unsigned char>(TABLE_FLAG | ((settings.tableExponent - 1) & 7)));
}

// The code stream cut into sub-blocks of 255 bytes and a last one of the
// rest, then the block terminator.
void KpGIFImage::KpLocalGIFImage::encodeData()
{
    const CodeStream stream = packCodes(indices, settings);
    for (std::size_t done = 0; done < stream.size; done += MAX_SUB_BLOCK) {
        const int32_t length = static_cast<int32_t>(std::min<std::size_t>(MAX_SUB_BLOCK, stream.size - done));
        dataBlocks.kpAppend(static_cast<unsigned char>(length));
        dataBlocks.kpAppend(stream.bytes.get() + done, length);
    }
    dataBlocks.kpAppend(0);
}

void KpGIFImage::KpLocalGIFImage::kpAppendColourTable(KpGIFArray<unsigned char>& file) const
{
    const int32_t entries = colours.kpGetCapacity();
    for (int32_t i = 0; i < entries; ++i) {
        const long colour = i < colours.kpGetCount() ? colours[i] : 0;
        file.kpAppend(static_cast<unsigned char>((colour >> 16) & 0xFF));
        file.kpAppend(static_cast<unsigned char>((colour >> 8) & 0xFF));
        file.kpAppend(static_cast<unsigned char>(colour & 0xFF));
    }
}

void KpGIFImage::KpLocalGIFImage::kpAppendTo(KpGIFArray<unsigned char>& file) const
{
    file.kpAppend(descriptor.kpGetItems(), descriptor.kpGetCount());
    kpAppendColourTable(file);
    file.kpAppend(static_cast<unsigned char>(settings.codeWidth - 1));
    file.kpAppend(dataBlocks.kpGetItems(), dataBlocks.kpGetCount());
}

KpGIFImage::KpGlobalGIFImage::KpGlobalGIFImage(const KpImage& image)
    : screenWidth(checkedForWriting(image).kpGetWidth()), screenHeight(image.kpGetHeight()),
      pixelCount(int64_t(screenWidth) * screenHeight), outputCapacity(2 * pixelCount + FIXED_FILE_BYTES),
      localImage(image, settings), colourBits(settings.colourBits)
{
    screenDescriptor.kpReserve(SCREEN_DESCRIPTOR_CAPACITY);
    appendLittleEndian16(screenDescriptor, screenWidth);
    appendLittleEndian16(screenDescriptor, screenHeight);
    screenDescriptor.kpAppend(
        static_cast<unsigned char>(TABLE_FLAG | (((settings.tableExponent - 1) & 7) + ((colourBits - 1) & 7) * 16)));
    screenDescriptor.kpAppend(0); // background colour index
    screenDescriptor.kpAppend(0); // pixel aspect ratio
}

KpGIFImage::KpGlobalGIFImage::~KpGlobalGIFImage() = default;

void KpGIFImage::KpGlobalGIFImage::kpAssembleFile(KpGIFArray<unsigned char>& file) const
{
    file.kpReserve(outputCapacity);
    file.kpAppend(reinterpret_cast<const unsigned char*>(WRITTEN_SIGNATURE), SIGNATURE_BYTES);
    file.kpAppend(screenDescriptor.kpGetItems(), screenDescriptor.kpGetCount());
    localImage.kpAppendColourTable(file);
    file.kpAppend(IMAGE_SEPARATOR);
    localImage.kpAppendTo(file);
    file.kpAppend(TRAILER);
}

KpGIFImage::KpGIFImage() : KpSinglePageImage("GIF", "gif", 5, "KpGIFImage") {}

KpGIFImage::~KpGIFImage() = default;

KpGIFImage* KpGIFImage::kpGetInstance()
{
    return kpCodecInstance<KpGIFImage>();
}

bool KpGIFImage::kpSupportImageFile(const char* fileName)
{
    return kpSupportFileHead(fileName, KP_CANNOT_OPEN, "Could not open incoming image",
                             std::string("<KpGIFImage::kpSupportImageFile()>Unable to open filename ") +
                                 (fileName == nullptr ? "" : fileName) + "\n");
}

bool KpGIFImage::kpSupportImageFile(unsigned char* buffer, int size)
{
    return buffer != nullptr && size >= MIN_SUPPORTED_BYTES && isSignature(buffer);
}

KpImage KpGIFImage::kpLoadImage(unsigned char* buffer, int size)
{
    const int copied = buffer == nullptr ? 0 : std::max(size, 0);
    gif_bytes_holder bytes(static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(std::max(copied, 1)))));
    if (!bytes) {
        KP_THROW(KP_NO_MEMORY, NO_MEMORY);
    }
    if (copied > 0) {
        std::memcpy(bytes.get(), buffer, static_cast<std::size_t>(copied));
    }
    return decode(std::move(bytes), copied);
}

KpImage KpGIFImage::kpLoadImage(const char* fileName)
{
    KpFileHolder file(fileName == nullptr ? nullptr : std::fopen(fileName, "rb"));
    if (!file) {
        kpLogPrintf(KpLogger::kpGetInstance(), OPEN_FAILURE_LOG_LEVEL,
                    "<KpGIFImage::kpLoadImage()> Unable to open filename %s\n", fileName == nullptr ? "" : fileName);
        KP_THROW(KP_CANNOT_OPEN, "<KpGIFImage::kpLoadImageAtPage()> Could not open incoming image");
    }
    int size = 0;
    gif_bytes_holder bytes = readWholeFile(file.get(), size);
    file.reset();
    return decode(std::move(bytes), size);
}

void KpGIFImage::kpSaveImage(const char* fileName, KpImage& image)
{
    bool reduced = false;
    const KpImage fewColours = KpBitsPerPixelConverter::kpReduceColors(image, reduced);
    const KpGlobalGIFImage gif(fewColours);
    KpGIFArray<unsigned char> bytes;
    gif.kpAssembleFile(bytes);
    writeFile(fileName, bytes);
}
