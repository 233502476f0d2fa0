#include "kptiffimage.h"

#include "kpcodecinstance.h"
#include "kpexception.h"
#include "kplogger.h"
#include "kpmemoryfile.h"
#include "kpmemoryfileslot.h"
#include "kpoutputfile.h"
#include "kppixelbuffer.h"

#include <tiffio.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

namespace {

const int DETAIL_LEVEL = 1;
const int WARNING_LEVEL = 2;
const int FAILURE_LEVEL = 3;

const int SIGNATURE_BYTES = 4;
const float DEFAULT_RESOLUTION = 200.0f;
const float CENTIMETRES_PER_INCH = 2.54f;
const int LIBRARY_MESSAGE_BYTES = 512;
const int MAX_PALETTE_BITS = 8;
// The encoded strip passes through a buffer of this size on its way to
// the file (libtiff would otherwise hold the whole strip).
const tmsize_t ENCODE_BUFFER_BYTES = 1 << 20;

const char* const OPEN_FAILED = "<KpTIFFImage::kpLoadImageAtPage()> Could not open incoming image";
const char* const PAGE_ZERO = "<KpTIFFImage::kpLoadImageAtPage()> Page number can't be 0 (zero).";
const char* const INVALID_PAGE = "<KpTIFFImage::kpLoadImage()> Invalid page number";
const char* const NO_PIXEL_MEMORY =
    "<KpTIFFImage::kpLoadImage()> Could not allocate enough memory for the uncompressed image";
const char* const NO_INDEX_MEMORY =
    "<KpTIFFImage::kpLoadImage()> Could not allocate enough memory for the palette_raw_data image";
const char* const READ_ERROR = "<KpTIFFImage::kpLoadImage()> Read error on input strip";
const char* const UNSUPPORTED_TYPE = "<KpTIFFImage::kpLoadImage()> Unsupported tiff type";
const char* const SAVE_OPEN_FAILED = "<KpTIFFImage::kpSaveImage()> Could not open for writing";

KpLogger* logger()
{
    return KpLogger::kpGetInstance();
}

// libtiff's errors and warnings, per handle, to the library logger.
int logLibraryMessage(int level, const char* module, const char* format, va_list arguments)
{
    char text[LIBRARY_MESSAGE_BYTES];
    std::vsnprintf(text, sizeof text, format, arguments);
    kpLogPrintf(logger(), level, "%s: %s\n", module == nullptr ? "libtiff" : module, text);
    return 1; // handled: the process-wide handlers stay silent
}

int logLibraryError(TIFF*, void*, const char* module, const char* format, va_list arguments)
{
    return logLibraryMessage(FAILURE_LEVEL, module, format, arguments);
}

// The warnings libtiff gave one handle so far.
struct WarningCount {
    long count = 0;
};

int logLibraryWarning(TIFF*, void* warnings, const char* module, const char* format, va_list arguments)
{
    if (warnings != nullptr) {
        ++static_cast<WarningCount*>(warnings)->count;
    }
    return logLibraryMessage(WARNING_LEVEL, module, format, arguments);
}

// The options of one open: the message routing (warnings counted when a
// count is given), and no single libtiff allocation larger than the
// largest image.
class OpenOptions {
public:
    explicit OpenOptions(WarningCount* warnings) : options(TIFFOpenOptionsAlloc())
    {
        if (options != nullptr) {
            TIFFOpenOptionsSetMaxSingleMemAlloc(options, static_cast<tmsize_t>(KpImage::KP_MAX_IMAGE_BYTES));
            TIFFOpenOptionsSetErrorHandlerExtR(options, logLibraryError, nullptr);
            TIFFOpenOptionsSetWarningHandlerExtR(options, logLibraryWarning, warnings);
        }
    }
    ~OpenOptions() { TIFFOpenOptionsFree(options); }
    OpenOptions(const OpenOptions&) = delete;
    OpenOptions& operator=(const OpenOptions&) = delete;

    TIFFOpenOptions* get() const { return options; }

private:
    TIFFOpenOptions* options;
};

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

int closeNothing(thandle_t)
{
    return 0;
}

void unmapNothing(thandle_t, void*, toff_t) {}

// Client procedures over a memory-file handle; the client data points to
// the handle. A read returns what is there, up to the count.
int memoryHandleOf(thandle_t client)
{
    return *static_cast<const int*>(client);
}

tmsize_t readMemory(thandle_t client, void* destination, tmsize_t count)
{
    const int handle = memoryHandleOf(client);
    const int position = mem_seek(handle, 0, SEEK_CUR);
    const int size = mem_size(handle);
    if (count < 0 || position < 0 || size < 0) {
        return -1;
    }
    const int available = position < size ? size - position : 0;
    const int n = static_cast<int>(std::min<tmsize_t>(count, available));
    if (n == 0) {
        return 0;
    }
    return mem_read(handle, destination, n) == n ? n : -1;
}

tmsize_t writeMemory(thandle_t client, void* source, tmsize_t count)
{
    if (count < 0 || count > INT_MAX) {
        return -1;
    }
    const int written = mem_write(memoryHandleOf(client), source, static_cast<int>(count));
    return written < 0 ? -1 : written;
}

// Offsets are 64-bit and, from the position or the end, may be negative;
// the memory file holds at most INT_MAX bytes.
toff_t seekMemory(thandle_t client, toff_t offset, int whence)
{
    const toff_t failed = static_cast<toff_t>(-1);
    const int handle = memoryHandleOf(client);
    int64_t base = 0;
    if (whence == SEEK_CUR) {
        base = mem_seek(handle, 0, SEEK_CUR);
    } else if (whence == SEEK_END) {
        base = mem_size(handle);
    } else if (whence != SEEK_SET) {
        return failed;
    }
    const int64_t delta = static_cast<int64_t>(offset);
    if (base < 0 || delta > INT_MAX || delta < -static_cast<int64_t>(INT_MAX)) {
        return failed;
    }
    const int64_t target = base + delta;
    if (target < 0 || target > INT_MAX) {
        return failed;
    }
    const int reached = mem_seek(handle, static_cast<int>(target), SEEK_SET);
    return reached < 0 ? failed : static_cast<toff_t>(reached);
}

toff_t sizeOfMemory(thandle_t client)
{
    const int size = mem_size(memoryHandleOf(client));
    return size < 0 ? 0 : static_cast<toff_t>(size);
}

// libtiff maps only what it opens for reading: the caller's buffer is
// then read in place.
int mapMemory(thandle_t client, void** base, toff_t* size)
{
    unsigned char* block = nullptr;
    int length = 0;
    if (mem_get_buffer(memoryHandleOf(client), &block, &length) != 0 || block == nullptr || length <= 0) {
        return 0;
    }
    *base = block;
    *size = static_cast<toff_t>(length);
    return 1;
}

// Client procedures over a standard file being written.
std::FILE* streamOf(thandle_t client)
{
    return static_cast<std::FILE*>(client);
}

tmsize_t readStream(thandle_t client, void* destination, tmsize_t count)
{
    return count < 0 ? -1 : static_cast<tmsize_t>(std::fread(destination, 1, static_cast<std::size_t>(count), streamOf(client)));
}

tmsize_t writeStream(thandle_t client, void* source, tmsize_t count)
{
    return count < 0 ? -1 : static_cast<tmsize_t>(std::fwrite(source, 1, static_cast<std::size_t>(count), streamOf(client)));
}

toff_t seekStream(thandle_t client, toff_t offset, int whence)
{
    std::FILE* file = streamOf(client);
    if (fseeko(file, static_cast<off_t>(offset), whence) != 0) {
        return static_cast<toff_t>(-1);
    }
    const off_t reached = ftello(file);
    return reached < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(reached);
}

toff_t sizeOfStream(thandle_t client)
{
    std::FILE* file = streamOf(client);
    const off_t position = ftello(file);
    if (position < 0 || fseeko(file, 0, SEEK_END) != 0) {
        return 0;
    }
    const off_t end = ftello(file);
    fseeko(file, position, SEEK_SET);
    return end < 0 ? 0 : static_cast<toff_t>(end);
}

int mapNothing(thandle_t, void**, toff_t*)
{
    return 0;
}

TiffHandle openFile(const char* fileName, WarningCount* warnings)
{
    if (fileName == nullptr) {
        return nullptr;
    }
    OpenOptions options(warnings);
    return TiffHandle(TIFFOpenExt(fileName, "r", options.get()));
}

// handle points to a memory-file handle that outlives the TIFF handle.
TiffHandle openMemory(int* handle, const char* mode, WarningCount* warnings)
{
    if (*handle < 0) {
        return nullptr;
    }
    OpenOptions options(warnings);
    return TiffHandle(TIFFClientOpenExt("", mode, handle, readMemory, writeMemory, seekMemory, closeNothing,
                                        sizeOfMemory, mapMemory, unmapNothing, options.get()));
}

TiffHandle openStream(std::FILE* file, const char* fileName)
{
    OpenOptions options(nullptr);
    return TiffHandle(TIFFClientOpenExt(fileName, "w", file, readStream, writeStream, seekStream, closeNothing,
                                        sizeOfStream, mapNothing, unmapNothing, options.get()));
}

// A memory file being written. However the encode ends, its slot is
// closed and, unless the block was taken, the block freed.
class MemoryOutput {
public:
    MemoryOutput() : slot(mem_open(nullptr, 0, "w")), handle(slot.kpGetHandle()) {}
    ~MemoryOutput()
    {
        if (!taken) {
            std::free(block());
        }
    }
    MemoryOutput(const MemoryOutput&) = delete;
    MemoryOutput& operator=(const MemoryOutput&) = delete;

    int* kpHandle() { return &handle; }
    void take(unsigned char** data, int* size)
    {
        mem_get_buffer(handle, data, size);
        taken = true;
    }

private:
    unsigned char* block() const
    {
        unsigned char* data = nullptr;
        int size = 0;
        if (handle >= 0) {
            mem_get_buffer(handle, &data, &size);
        }
        return data;
    }

    KpMemoryFileSlot slot;
    int handle;
    bool taken = false;
};

// Makes directory `page` (counted from 1) the current one; false when
// the file has fewer.
bool moveToPage(TIFF* tiff, int page)
{
    int current = 1;
    while (current < page && TIFFReadDirectory(tiff)) {
        ++current;
    }
    return current == page;
}

int countPages(TIFF* tiff)
{
    int pages = 1;
    while (TIFFReadDirectory(tiff)) {
        ++pages;
    }
    return pages;
}

float resolutionOf(TIFF* tiff, uint32_t tag, const char* warning)
{
    float resolution = 0.0f;
    if (TIFFGetField(tiff, tag, &resolution) != 1) {
        kpLogPrintf(logger(), WARNING_LEVEL, "%s", warning);
        return DEFAULT_RESOLUTION;
    }
    return resolution;
}

void readResolution(TIFF* tiff, KpImageHead& head)
{
    head.xResolution = resolutionOf(tiff, TIFFTAG_XRESOLUTION,
                                    "WARNING in TIFF kpLoadImage(): Failed to get horizontal resolution of tiff "
                                    "image. Setting to 200 dpi\n");
    head.yResolution = resolutionOf(tiff, TIFFTAG_YRESOLUTION,
                                    "WARNING in qvOpenTiffDD(): Failed to get vertical resolution of tiff image. "
                                    "Setting to 200 dpi\n");
    uint16_t unit = 0;
    if (TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &unit) != 1) {
        kpLogPrintf(logger(), WARNING_LEVEL, "WARNING in KpTiffImage(): Failed to read resolution unit, assuming none\n");
        head.resolutionInDpi = 0;
        return;
    }
    switch (unit) {
    case RESUNIT_CENTIMETER:
        head.xResolution *= CENTIMETRES_PER_INCH;
        head.yResolution *= CENTIMETRES_PER_INCH;
        head.resolutionInDpi = 1;
        break;
    case RESUNIT_INCH:
        head.resolutionInDpi = 1;
        break;
    case RESUNIT_NONE:
        head.resolutionInDpi = 0;
        break;
    default:
        break;
    }
}

// The tags that decide how a page's pixels are read.
struct TiffLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerSample = 1;
    uint16_t samples = 1;
    uint16_t planar = 0;
    uint16_t photometric = 0;
};

void requireTag(int found, const char* text)
{
    if (found != 1) {
        KP_THROW(KP_MISSING_TAG, text);
    }
}

TiffLayout readLayout(TIFF* tiff)
{
    TiffLayout layout;
    requireTag(TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width),
               "<KpTIFFImage::kpLoadImage()> Image does not define its width");
    requireTag(TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height),
               "<KpTIFFImage::kpLoadImage()> Image does not define its height");
    if (TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &layout.bitsPerSample) != 1) {
        layout.bitsPerSample = 1;
    }
    requireTag(TIFFGetField(tiff, TIFFTAG_PLANARCONFIG, &layout.planar),
               "<KpTIFFImage::kpLoadImage()> Either undefined or unsupported TIFFTAG_PLANARCONFIG");
    if (TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.samples) != 1) {
        layout.samples = 1;
    }
    requireTag(TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.photometric),
               "<KpTIFFImage::kpLoadImage()> Image has an undefined photometric interpretation");
    kpLogPrintf(logger(), DETAIL_LEVEL, "TIFFTAG_PHOTOMETRIC is %d\n", layout.photometric);
    if (layout.width > INT32_MAX || layout.height > INT32_MAX) {
        KP_THROW(KP_NO_MEMORY, NO_PIXEL_MEMORY);
    }
    return layout;
}

// Reads the strips in order into a new buffer of rows x rowBytes bytes,
// each read bounded by the space left; what the strips do not cover is
// cleared.
std::unique_ptr<uint8_t[]> readStrips(TIFF* tiff, int64_t rowBytes, int64_t rows, const char* failureText)
{
    std::unique_ptr<uint8_t[]> buffer = KpPixelBuffer::kpAllocate(rowBytes, rows, failureText);
    const std::size_t capacity = static_cast<std::size_t>(rowBytes * rows);
    const uint32_t strips = TIFFNumberOfStrips(tiff);
    std::size_t filled = 0;
    for (uint32_t strip = 0; strip < strips && filled < capacity; ++strip) {
        const tmsize_t got =
            TIFFReadEncodedStrip(tiff, strip, buffer.get() + filled, static_cast<tmsize_t>(capacity - filled));
        if (got < 0) {
            KP_THROW(KP_BAD_FILE, READ_ERROR);
        }
        filled += static_cast<std::size_t>(got);
    }
    std::memset(buffer.get() + filled, 0, capacity - filled);
    return buffer;
}

// Any colour layout libtiff's RGBA interface reads, as red, green, blue.
std::unique_ptr<uint8_t[]> readThroughRgba(TIFF* tiff, uint32_t width, uint32_t height)
{
    std::unique_ptr<uint8_t[]> raster =
        KpPixelBuffer::kpAllocate(static_cast<int64_t>(width) * sizeof(uint32_t), height, NO_PIXEL_MEMORY);
    uint32_t* words = reinterpret_cast<uint32_t*>(raster.get());
    if (TIFFReadRGBAImageOriented(tiff, width, height, words, ORIENTATION_TOPLEFT, 1) != 1) {
        KP_THROW(KP_BAD_FILE, READ_ERROR);
    }
    std::unique_ptr<uint8_t[]> pixels = KpPixelBuffer::kpAllocate(static_cast<int64_t>(width) * 3, height, NO_PIXEL_MEMORY);
    const std::size_t count = static_cast<std::size_t>(width) * height;
    uint8_t* target = pixels.get();
    for (std::size_t i = 0; i < count; ++i, target += 3) {
        target[0] = static_cast<uint8_t>(TIFFGetR(words[i]));
        target[1] = static_cast<uint8_t>(TIFFGetG(words[i]));
        target[2] = static_cast<uint8_t>(TIFFGetB(words[i]));
    }
    return pixels;
}

// 8-bit RGB in strips: the rows are stored as the image keeps them.
bool isStripRgb(TIFF* tiff, const TiffLayout& layout)
{
    return layout.photometric == PHOTOMETRIC_RGB && layout.samples == 3 && layout.bitsPerSample == 8 &&
           layout.planar == PLANARCONFIG_CONTIG && !TIFFIsTiled(tiff);
}

void invert(uint8_t* buffer, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        buffer[i] = static_cast<uint8_t>(~buffer[i]);
    }
}

// The bits past the width in the last byte of each 1-bit row are not
// pixels: decoders leave them as they find them, and inversion sets them.
void clearPadding(uint8_t* pixels, int32_t width, uint32_t height)
{
    const int used = width % 8;
    if (used == 0) {
        return;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width / 8 + 1);
    const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - used));
    for (uint32_t y = 0; y < height; ++y) {
        pixels[y * rowBytes + rowBytes - 1] &= mask;
    }
}

// Gray and RGB pages: 1 and 8 bits per pixel are read strip by strip
// (white-is-zero inverted), 24, 32 and 48 bits become depth 24.
std::unique_ptr<uint8_t[]> readDirect(TIFF* tiff, const TiffLayout& layout, KpImageHead& head)
{
    const int bitsPerPixel = layout.samples * layout.bitsPerSample;
    const int32_t width = static_cast<int32_t>(layout.width);
    switch (bitsPerPixel) {
    case 1:
    case 8: {
        head.depth = bitsPerPixel;
        const int64_t rowBytes = KpImageHead::kpRowBytes(width, bitsPerPixel);
        std::unique_ptr<uint8_t[]> pixels = readStrips(tiff, rowBytes, layout.height, NO_PIXEL_MEMORY);
        if (layout.photometric == PHOTOMETRIC_MINISWHITE) {
            kpLogPrintf(logger(), WARNING_LEVEL, "Fixing the photometric interpretation\n");
            invert(pixels.get(), static_cast<std::size_t>(rowBytes) * layout.height);
        }
        if (bitsPerPixel == 1) {
            clearPadding(pixels.get(), width, layout.height);
        }
        return pixels;
    }
    case 24:
    case 32:
    case 48:
        head.depth = 24;
        if (isStripRgb(tiff, layout)) {
            return readStrips(tiff, KpImageHead::kpRowBytes(width, 24), layout.height, NO_PIXEL_MEMORY);
        }
        return readThroughRgba(tiff, layout.width, layout.height);
    default:
        KP_THROW(KP_NOT_IMPLEMENTED, UNSUPPORTED_TYPE);
    }
}

// Palette entries as 8-bit red, green, blue.
struct PaletteColours {
    uint8_t rgb[1 << MAX_PALETTE_BITS][3];
};

PaletteColours readColourMap(TIFF* tiff, int bits)
{
    uint16_t* red = nullptr;
    uint16_t* green = nullptr;
    uint16_t* blue = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) != 1) {
        KP_THROW(KP_CODEC_FAILED, "<KpTIFFImage::kpLoadImage()> Cannot find color map information");
    }
    PaletteColours colours = {};
    for (int i = 0; i < (1 << bits); ++i) {
        colours.rgb[i][0] = static_cast<uint8_t>(red[i] * 255 / 65535);
        colours.rgb[i][1] = static_cast<uint8_t>(green[i] * 255 / 65535);
        colours.rgb[i][2] = static_cast<uint8_t>(blue[i] * 255 / 65535);
    }
    return colours;
}

// One row of packed indices (most significant bits first) to colours.
void expandPaletteRow(const uint8_t* indices, uint8_t* rgb, uint32_t width, int bits, const PaletteColours& colours)
{
    const uint32_t perByte = static_cast<uint32_t>(8 / bits);
    const unsigned mask = (1u << bits) - 1;
    for (uint32_t x = 0; x < width; ++x, rgb += 3) {
        const int shift = 8 - bits * static_cast<int>(x % perByte + 1);
        const unsigned index = (indices[x / perByte] >> shift) & mask;
        std::memcpy(rgb, colours.rgb[index], 3);
    }
}

std::unique_ptr<uint8_t[]> readPalette(TIFF* tiff, const TiffLayout& layout)
{
    const int bits = layout.bitsPerSample;
    if (layout.samples != 1 || (bits != 1 && bits != 2 && bits != 4 && bits != 8)) {
        KP_THROW(KP_NOT_IMPLEMENTED, UNSUPPORTED_TYPE);
    }
    const PaletteColours colours = readColourMap(tiff, bits);
    const int64_t indexRowBytes = (static_cast<int64_t>(layout.width) * bits + 7) / 8;
    std::unique_ptr<uint8_t[]> indices = readStrips(tiff, indexRowBytes, layout.height, NO_INDEX_MEMORY);
    const int64_t rowBytes = static_cast<int64_t>(layout.width) * 3;
    std::unique_ptr<uint8_t[]> pixels = KpPixelBuffer::kpAllocate(rowBytes, layout.height, NO_PIXEL_MEMORY);
    for (uint32_t y = 0; y < layout.height; ++y) {
        expandPaletteRow(indices.get() + y * indexRowBytes, pixels.get() + y * rowBytes, layout.width, bits,
                         colours);
    }
    return pixels;
}

// Pixels that libtiff warned about while reading them (a Group 3 or 4
// strip that ends early, say) load with the image's warning flag set.
KpImage decodePage(TIFF* tiff, int page, const WarningCount& warnings)
{
    if (!moveToPage(tiff, page)) {
        KP_THROW(KP_BAD_PAGE, INVALID_PAGE);
    }
    KpImageHead head;
    head.reserved1 = 1;
    readResolution(tiff, head);
    const TiffLayout layout = readLayout(tiff);
    head.width = static_cast<int32_t>(layout.width);
    head.height = static_cast<int32_t>(layout.height);
    const long warningsBefore = warnings.count;
    std::unique_ptr<uint8_t[]> pixels;
    switch (layout.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_RGB:
        pixels = readDirect(tiff, layout, head);
        break;
    case PHOTOMETRIC_PALETTE:
        pixels = readPalette(tiff, layout);
        head.depth = 24;
        break;
    case PHOTOMETRIC_YCBCR:
        KP_THROW(KP_UNSUPPORTED_CONTENT, "<KpTIFFImage::kpLoadImage()> TIFF Type YCbCr not supported yet!");
    default:
        // No pixels: the image record refuses the empty image (code 5).
        break;
    }
    head.format = KpImageHead::kpFormatOf(head.depth);
    KpImage image(pixels.release(), head);
    image.kpSetHasWarnings(warnings.count > warningsBefore);
    return image;
}

void checkPageNumber(int page)
{
    if (page <= 0) {
        KP_THROW(KP_BAD_PAGE, PAGE_ZERO);
    }
}

bool isAnyOf(int value, std::initializer_list<int> values)
{
    return std::find(values.begin(), values.end(), value) != values.end();
}

void checkCompression(int depth, int compression)
{
    if (depth == 1 && isAnyOf(compression, {COMPRESSION_LZW, COMPRESSION_OJPEG, COMPRESSION_JPEG,
                                            COMPRESSION_PACKBITS, COMPRESSION_DEFLATE})) {
        KP_THROW(KP_UNSUPPORTED_CONTENT,
                 "<KpTIFFImage::kpSaveImage()> Requested compression type not supported for binary tiff images");
    }
    if (depth != 1 && isAnyOf(compression, {COMPRESSION_CCITTRLE, COMPRESSION_CCITTFAX3, COMPRESSION_CCITTFAX4})) {
        KP_THROW(KP_UNSUPPORTED_CONTENT, "<KpTIFFImage::kpSaveImage()> Requested compression type not supported "
                                         "for grayscale and color tiff images");
    }
    if (compression < 0 || compression > UINT16_MAX ||
        !TIFFIsCODECConfigured(static_cast<uint16_t>(compression))) {
        KP_THROW(KP_BAD_FILE, "<KpTIFFImage::kpSaveImage()> Compression " + std::to_string(compression) +
                                  " is not available in libtiff");
    }
}

template <typename... Values> void setTag(TIFF* tiff, uint32_t tag, Values... values)
{
    if (TIFFSetField(tiff, tag, values...) != 1) {
        KP_THROW(KP_BAD_FILE, "<KpTIFFImage::kpSaveImage()> Could not set TIFF tag " + std::to_string(tag));
    }
}

double resolutionOrDefault(float resolution)
{
    return resolution == 0.0f ? DEFAULT_RESOLUTION : resolution;
}

void requireData(const KpImage& image, const char* operation)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, std::string("<KpTIFFImage::") + operation + "()> Image Data is NULL!");
    }
}

// Group 4 for bilevel images, PackBits for the others.
int defaultCompression(const KpImage& image)
{
    return image.kpGetDepth() == 1 ? COMPRESSION_CCITTFAX4 : COMPRESSION_PACKBITS;
}

void writeDirectory(TIFF* tiff)
{
    if (TIFFWriteDirectory(tiff) != 1) {
        KP_THROW(KP_BAD_FILE, "<KpTIFFImage::kpSaveImage()> Could not write the TIFF directory");
    }
}

} // namespace

KpTIFFImage* KpTIFFImage::kpGetInstance()
{
    return kpCodecInstance<KpTIFFImage>();
}

KpTIFFImage::KpTIFFImage() : KpBaseImage("TIFF", "tiff,tif", 5) {}

KpTIFFImage::~KpTIFFImage() = default;

bool KpTIFFImage::kpSupportImageFile(const char* fileName)
{
    return kpSupportFileHead(fileName, KP_CANNOT_OPEN, "<KpTIFFImage::kpSupportImageFile()> Can not open file!",
                             "Can't open " + std::string(fileName == nullptr ? "" : fileName) + "\n");
}

bool KpTIFFImage::kpSupportImageFile(unsigned char* buffer, int size)
{
    if (buffer == nullptr || size < SIGNATURE_BYTES) {
        return false;
    }
    const bool byteOrder = (buffer[0] == 'I' && buffer[1] == 'I') || (buffer[0] == 'M' && buffer[1] == 'M');
    const bool version = (buffer[2] == 0x2A && buffer[3] == 0x00) || (buffer[2] == 0x00 && buffer[3] == 0x2A);
    return byteOrder && version;
}

KpImage KpTIFFImage::kpLoadImage(const char* fileName)
{
    return kpLoadImageAtPage(fileName, 1);
}

KpImage KpTIFFImage::kpLoadImage(unsigned char* buffer, int size)
{
    return kpLoadImageAtPage(buffer, size, 1);
}

KpImage KpTIFFImage::kpLoadImageAtPage(const char* fileName, int page)
{
    checkPageNumber(page);
    WarningCount warnings;
    TiffHandle tiff = openFile(fileName, &warnings);
    if (!tiff) {
        KP_THROW(KP_BAD_FILE, OPEN_FAILED);
    }
    return decodePage(tiff.get(), page, warnings);
}

KpImage KpTIFFImage::kpLoadImageAtPage(unsigned char* buffer, int size, int page)
{
    checkPageNumber(page);
    KpMemoryFileSlot slot(mem_open(buffer, size, "r"));
    int handle = slot.kpGetHandle();
    WarningCount warnings;
    TiffHandle tiff = openMemory(&handle, "r", &warnings);
    if (!tiff) {
        KP_THROW(KP_BAD_FILE, OPEN_FAILED);
    }
    return decodePage(tiff.get(), page, warnings);
}

int KpTIFFImage::kpGetTotalPages(const char* fileName)
{
    TiffHandle tiff = openFile(fileName, nullptr);
    if (!tiff) {
        KP_THROW(KP_BAD_FILE, "<KpTIFFImage::kpGetTotalPages()> Could not open incoming image");
    }
    return countPages(tiff.get());
}

int KpTIFFImage::kpGetTotalPages(unsigned char* buffer, int size)
{
    KpMemoryFileSlot slot(mem_open(buffer, size, "r"));
    int handle = slot.kpGetHandle();
    TiffHandle tiff = openMemory(&handle, "r", nullptr);
    if (!tiff) {
        KP_THROW(KP_BAD_FILE, "<KpTIFFImage::kpGetTotalPages()> Could not open incoming image");
    }
    return countPages(tiff.get());
}

void KpTIFFImage::kpSaveImage(const char* fileName, KpImage& image)
{
    requireData(image, "kpSaveImage");
    KpOutputFile file(fileName, KP_CODEC_FAILED, SAVE_OPEN_FAILED);
    TiffHandle tiff = openStream(file.kpGetFile(), fileName);
    if (!tiff) {
        KP_THROW(KP_CODEC_FAILED, SAVE_OPEN_FAILED);
    }
    kpSaveImage(tiff.get(), image, defaultCompression(image));
    writeDirectory(tiff.get());
    tiff.reset();
    if (!file.kpClose()) {
        KP_THROW(KP_BAD_FILE, "<KpTIFFImage::kpSaveImage()> The output file could not be completed.");
    }
}

void KpTIFFImage::kpSaveImageToMem(KpImage& image, unsigned char** block, int* size)
{
    requireData(image, "kpSaveImageToMem");
    MemoryOutput output;
    TiffHandle tiff = openMemory(output.kpHandle(), "w", nullptr);
    if (!tiff) {
        KP_THROW(KP_BAD_FILE, "<KpTIFFImage::kpSaveImageToMem()> Could not open incoming image");
    }
    kpSaveImage(tiff.get(), image, defaultCompression(image));
    writeDirectory(tiff.get());
    tiff.reset();
    output.take(block, size);
}

void KpTIFFImage::kpSaveImage(TIFF* tiff, KpImage& image, int compression)
{
    requireData(image, "kpSaveImage");
    const int depth = image.kpGetDepth();
    if (depth != 1 && depth != 8 && depth != 24) {
        KP_THROW(KP_NOT_IMPLEMENTED, "<KpTIFFImage::kpSaveImage()> Unsupported image depth");
    }
    checkCompression(depth, compression);
    const bool colour = depth == 24;
    const uint32_t width = static_cast<uint32_t>(image.kpGetWidth());
    const uint32_t height = static_cast<uint32_t>(image.kpGetHeight());
    setTag(tiff, TIFFTAG_IMAGEWIDTH, width);
    setTag(tiff, TIFFTAG_IMAGELENGTH, height);
    setTag(tiff, TIFFTAG_BITSPERSAMPLE, colour ? 8 : depth);
    setTag(tiff, TIFFTAG_COMPRESSION, compression);
    setTag(tiff, TIFFTAG_PHOTOMETRIC, colour ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    setTag(tiff, TIFFTAG_SAMPLESPERPIXEL, colour ? 3 : 1);
    setTag(tiff, TIFFTAG_ROWSPERSTRIP, height);
    setTag(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    setTag(tiff, TIFFTAG_RESOLUTIONUNIT, image.kpIsResolutionInDpi() ? RESUNIT_INCH : RESUNIT_NONE);
    setTag(tiff, TIFFTAG_XRESOLUTION, resolutionOrDefault(image.kpGetXResolution()));
    setTag(tiff, TIFFTAG_YRESOLUTION, resolutionOrDefault(image.kpGetYResolution()));
    const tmsize_t size = static_cast<tmsize_t>(image.kpGetImageSize());
    if (TIFFWriteBufferSetup(tiff, nullptr, ENCODE_BUFFER_BYTES) != 1 ||
        TIFFWriteEncodedStrip(tiff, 0, image.kpGetData(), size) < 0) {
        KP_THROW(KP_BAD_FILE, "<KpTIFFImage::kpSaveImage()> Could not write the image data");
    }
}
