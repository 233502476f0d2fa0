#include "kppngimage.h"

#include "kpcodecinstance.h"
#include "kpexception.h"
#include "kpfilecloser.h"
#include "kplogger.h"
#include "kpmemoryfile.h"
#include "kpmemoryfileslot.h"
#include "kpoutputfile.h"
#include "kppixelbuffer.h"
#include "kpprocessor.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>


// Every libpng call that may raise a library error runs inside one of the
// small "guarded" functions below: each sets the error return point and
// holds nothing but plain values, so the library's longjmp never crosses
// a C++ object with a destructor. The C++ holders live in the callers.

namespace {

const int SIGNATURE_BYTES = 8;
const int LOG_LEVEL = 2;
const double INCHES_PER_METRE = 39.37;

const char* const STRUCT_FAILED = "<KpPNGImage::kpLoadImage()> Unable to create PNG struct.";
const char* const HEADER_FAILED = "<KpPNGImage::kpLoadImage(...)> Unable to create PNG struct.";
const char* const WRITE_FAILED = "<KpPNGImage::kpSaveImage()> Error during image write.";
const char* const OUT_OF_MEMORY = "Out of memory";
// Bytes of a PNG file beyond its compressed rows (signature, chunks).
const std::size_t ENCODING_OVERHEAD = 4096;
// The largest image whose pixels and encoding the codec keeps after a save.
const std::size_t MAX_REMEMBERED_PIXEL_BYTES = std::size_t(64) << 20;
// Rows are scored in blocks whose 32-bit sums cannot overflow.
const std::size_t SCORED_BLOCK_BYTES = std::size_t(1) << 16;
const char* const NO_PIXEL_MEMORY =
    "<KpPNGImage::kpProcessImage()> Could not allocate enough memory for the uncompressed image";

// The read handles, destroyed exactly once whatever path the decode takes.
class ReadHandles {
public:
    ReadHandles() : png(png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, warningCallback))
    {
        if (png == nullptr) {
            KP_THROW(KP_NO_DATA, STRUCT_FAILED);
        }
        info = png_create_info_struct(png);
        if (info == nullptr) {
            png_destroy_read_struct(&png, nullptr, nullptr);
            KP_THROW(KP_NO_DATA, STRUCT_FAILED);
        }
    }
    ~ReadHandles() { png_destroy_read_struct(&png, &info, nullptr); }
    ReadHandles(const ReadHandles&) = delete;
    ReadHandles& operator=(const ReadHandles&) = delete;

    png_structp png;
    png_infop info = nullptr;

private:
    static void warningCallback(png_structp, png_const_charp text)
    {
        kpLogPrintf(KpLogger::kpGetInstance(), LOG_LEVEL, "libPNG WarningL %s\n", text);
    }
};

class WriteHandles {
public:
    WriteHandles() : png(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr))
    {
        if (png == nullptr) {
            KP_THROW(KP_NO_DATA, "<KpPNGImage::kpSaveImage()> Unable to create PNG struct.");
        }
        info = png_create_info_struct(png);
        if (info == nullptr) {
            png_destroy_write_struct(&png, nullptr);
            KP_THROW(KP_NO_DATA, "<KpPNGImage::kpSaveImage()> Unable to create PNG struct.");
        }
    }
    ~WriteHandles() { png_destroy_write_struct(&png, &info); }
    WriteHandles(const WriteHandles&) = delete;
    WriteHandles& operator=(const WriteHandles&) = delete;

    png_structp png;
    png_infop info = nullptr;
};

// Where the encoded bytes come from: a file read by the library itself,
// or a memory-file handle read through readFromMemory.
struct PngSource {
    FILE* file;
    int memoryHandle;
};

void readFromMemory(png_structp png, png_bytep destination, png_size_t length)
{
    const int handle = *static_cast<const int*>(png_get_io_ptr(png));
    if (length > static_cast<png_size_t>(INT32_MAX) ||
        mem_read(handle, destination, static_cast<int>(length)) != static_cast<int>(length)) {
        png_error(png, "Read Error");
    }
}

enum class HeaderResult { READ, LIBRARY_ERROR, HAS_ALPHA };

// Reads the header and sets up the transformations to 1, 8 or 24 bits.
HeaderResult readHeaderGuarded(png_structp png, png_infop info, PngSource* source)
{
    if (setjmp(png_jmpbuf(png))) {
        return HeaderResult::LIBRARY_ERROR;
    }
    if (source->file != nullptr) {
        png_init_io(png, source->file);
    } else {
        png_set_read_fn(png, &source->memoryHandle, readFromMemory);
    }
    png_set_sig_bytes(png, SIGNATURE_BYTES);
    png_read_info(png, info);
    const int colorType = png_get_color_type(png, info);
    const int bitDepth = png_get_bit_depth(png, info);
    if ((colorType & PNG_COLOR_MASK_ALPHA) != 0) {
        return HeaderResult::HAS_ALPHA;
    }
    if (bitDepth == 16) {
        png_set_strip_16(png);
    }
    if (bitDepth == 2 || bitDepth == 4) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return HeaderResult::READ;
}

bool readRowsGuarded(png_structp png, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_read_image(png, rows);
    return true;
}

float dotsPerInch(png_uint_32 pixelsPerMetre)
{
    return static_cast<float>(pixelsPerMetre / INCHES_PER_METRE);
}

// Row pointers into one contiguous buffer of height rows.
std::vector<png_bytep> rowPointers(uint8_t* data, uint32_t height, std::size_t rowBytes)
{
    std::vector<png_bytep> rows(height);
    for (uint32_t y = 0; y < height; ++y) {
        rows[y] = data + y * rowBytes;
    }
    return rows;
}

// Decodes the image after its signature: the library reads the rows
// straight into the image's buffer.
KpImage decodeAfterSignature(PngSource source)
{
    ReadHandles handles;
    switch (readHeaderGuarded(handles.png, handles.info, &source)) {
    case HeaderResult::LIBRARY_ERROR:
        KP_THROW(KP_CODEC_FAILED, HEADER_FAILED);
    case HeaderResult::HAS_ALPHA:
        KP_THROW(KP_NOT_IMPLEMENTED, "<KpPNGImage::kpProcessImage()> Unsupported PNG type: Alpha Component stripping will result in image corruption");
    case HeaderResult::READ:
        break;
    }
    const uint32_t width = png_get_image_width(handles.png, handles.info);
    const uint32_t height = png_get_image_height(handles.png, handles.info);
    const int depth = png_get_channels(handles.png, handles.info) * png_get_bit_depth(handles.png, handles.info);
    const std::size_t rowBytes = png_get_rowbytes(handles.png, handles.info);
    const int format = KpImageHead::kpFormatOf(depth);
    if (format == 0 || static_cast<int64_t>(rowBytes) != KpImageHead::kpRowBytes(static_cast<int32_t>(width), depth)) {
        KP_THROW(KP_NOT_IMPLEMENTED, "<KpPNGImage::kpProcessImage()> Unsupported png type");
    }
    // The library keeps the padding bits after the last pixel of a 1-bit
    // row as it finds them, so those rows start cleared.
    std::unique_ptr<uint8_t[]> data =
        depth == 1 ? KpPixelBuffer::kpAllocateFilled(static_cast<int64_t>(rowBytes), height, 0, NO_PIXEL_MEMORY)
                   : KpPixelBuffer::kpAllocate(static_cast<int64_t>(rowBytes), height, NO_PIXEL_MEMORY);
    std::vector<png_bytep> rows = rowPointers(data.get(), height, rowBytes);
    if (!readRowsGuarded(handles.png, rows.data())) {
        KP_THROW(KP_CODEC_FAILED, "<KpPNGImage::kpProcessImage()> Error during image read.");
    }
    KpImageHead head;
    head.width = static_cast<int32_t>(width);
    head.height = static_cast<int32_t>(height);
    head.depth = depth;
    head.format = format;
    head.reserved1 = 1;
    head.xResolution = dotsPerInch(png_get_x_pixels_per_meter(handles.png, handles.info));
    head.yResolution = dotsPerInch(png_get_y_pixels_per_meter(handles.png, handles.info));
    return KpImage(data.release(), head);
}

bool isSignature(png_const_bytep bytes)
{
    return png_sig_cmp(bytes, 0, SIGNATURE_BYTES) == 0;
}

void checkSignature(png_const_bytep bytes, bool complete)
{
    if (!complete || !isSignature(bytes)) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpPNGImage::kpLoadImage()> PNG header did not match expected.");
    }
}

struct PngLayout {
    int bitDepth;
    int colorType;
};

bool layoutOfDepth(int depth, PngLayout* layout)
{
    switch (depth) {
    case 1: *layout = {1, PNG_COLOR_TYPE_GRAY}; return true;
    case 8: *layout = {8, PNG_COLOR_TYPE_GRAY}; return true;
    case 24: *layout = {8, PNG_COLOR_TYPE_RGB}; return true;
    default: return false;
    }
}

// The magnitudes of one byte x filtered by None, Sub, Up, Average and
// Paeth, from its left, up and upper-left neighbours (0 outside the image).
// Every value fits 16 bits, which lets the vector code hold twice as many
// bytes per register as with 32-bit lanes.
struct FilteredMagnitudes {
    uint16_t of[5];

    FilteredMagnitudes(int16_t x, int16_t left, int16_t up, int16_t upLeft)
    {
        const int16_t p = static_cast<int16_t>(up - upLeft);
        const int16_t q = static_cast<int16_t>(left - upLeft);
        const int16_t pa = absolute(p), pb = absolute(q), pc = absolute(static_cast<int16_t>(p + q));
        const int16_t upOrUpLeft = pb <= pc ? up : upLeft;
        const int16_t paeth = (pa <= pb) & (pa <= pc) ? left : upOrUpLeft;
        of[0] = magnitudeOf(x);
        of[1] = magnitudeOf(x - left);
        of[2] = magnitudeOf(x - up);
        of[3] = magnitudeOf(x - ((left + up) >> 1));
        of[4] = magnitudeOf(x - paeth);
    }

    static int16_t absolute(int16_t v) { return static_cast<int16_t>(v < 0 ? -v : v); }

    // The magnitude of a filtered byte read as a signed byte (128 counts 128).
    static uint16_t magnitudeOf(int difference)
    {
        const uint16_t v = static_cast<uint16_t>(difference & 0xFF);
        return v < 128 ? v : static_cast<uint16_t>(256 - v);
    }
};

// Adds the magnitudes of bytes first .. end-1 of a row, whose pixels are
// bpp bytes apart (first >= bpp), to sums: one straight loop with 32-bit
// sums (end - first is at most SCORED_BLOCK_BYTES), which the compiler
// turns into vector code.
void scoreBlock(const uint8_t* row, const uint8_t* previous, std::size_t first, std::size_t end, std::size_t bpp,
                uint64_t* sums)
{
    uint32_t none = 0, sub = 0, up = 0, average = 0, paeth = 0;
    for (std::size_t i = first; i < end; ++i) {
        const FilteredMagnitudes m(row[i], row[i - bpp], previous[i], previous[i - bpp]);
        none += m.of[0];
        sub += m.of[1];
        up += m.of[2];
        average += m.of[3];
        paeth += m.of[4];
    }
    const uint32_t blockSums[5] = {none, sub, up, average, paeth};
    for (int k = 0; k < 5; ++k) {
        sums[k] += blockSums[k];
    }
}

// The filter libpng picks for a row of an 8-bit gray or RGB image when it
// may use all five: the one whose filtered bytes, read as signed bytes,
// have the smallest sum of magnitudes, the earlier of None, Sub, Up,
// Average and Paeth on a tie; the row above the first is zero. Found
// here in one pass and handed to libpng as the only filter, it gives the
// same file as libpng filtering the row five times to choose.
int chosenFilter(const uint8_t* row, const uint8_t* previous, std::size_t rowBytes, std::size_t bpp)
{
    static const int FILTERS[5] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH};
    uint64_t sums[5] = {0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < std::min(bpp, rowBytes); ++i) {
        const FilteredMagnitudes m(row[i], 0, previous[i], 0);
        for (int k = 0; k < 5; ++k) {
            sums[k] += m.of[k];
        }
    }
    for (std::size_t first = bpp; first < rowBytes; first += SCORED_BLOCK_BYTES) {
        scoreBlock(row, previous, first, std::min(rowBytes, first + SCORED_BLOCK_BYTES), bpp, sums);
    }
    int best = 0;
    for (int k = 1; k < 5; ++k) {
        if (sums[k] < sums[best]) {
            best = k;
        }
    }
    return FILTERS[best];
}

// chosenFilter compiled for the baseline instruction set and for AVX2
// (flatten inlines the scoring, so its loop is vectorised for each).
using FilterChooser = int (*)(const uint8_t*, const uint8_t*, std::size_t, std::size_t);

__attribute__((flatten)) int chosenFilterBaseline(const uint8_t* row, const uint8_t* previous, std::size_t rowBytes,
                                                  std::size_t bpp)
{
    return chosenFilter(row, previous, rowBytes, bpp);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"), flatten)) int chosenFilterAvx2(const uint8_t* row, const uint8_t* previous,
                                                              std::size_t rowBytes, std::size_t bpp)
{
    return chosenFilter(row, previous, rowBytes, bpp);
}
#endif

FilterChooser fastestFilterChooser()
{
#if defined(__x86_64__) || defined(__i386__)
    if (KpProcessor::kpHasAvx2()) {
        return chosenFilterAvx2;
    }
#endif
    return chosenFilterBaseline;
}

// Appends the library's output to the vector that is its I/O pointer.
void appendEncoded(png_structp png, png_bytep data, png_size_t length)
{
    std::vector<uint8_t>* encoded = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    bool stored = true;
    try {
        encoded->insert(encoded->end(), data, data + length);
    } catch (const std::bad_alloc&) {
        stored = false;
    }
    if (!stored) {
        png_error(png, OUT_OF_MEMORY);
    }
}

// Encodes the rows into memory. Images of at least two rows and columns
// with one byte per sample have their filters chosen here, from the
// second row on (libpng chooses the first itself and keeps the buffers
// of every filter).
bool writeGuarded(png_structp png, png_infop info, std::vector<uint8_t>* encoded, int width, int height,
                  PngLayout layout, png_bytepp rows, std::size_t rowBytes)
{
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_write_fn(png, encoded, appendEncoded, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), layout.bitDepth,
                 layout.colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Run-length matching after the row filters: on photographs and edge
    // images it compresses as well as the default strategy at the default
    // level, in a third of the time.
    png_set_compression_strategy(png, Z_RLE);
    png_write_info(png, info);
    const bool chooseFilters = layout.bitDepth == 8 && width >= 2 && height >= 2;
    const std::size_t bpp = layout.colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
    const FilterChooser choose = fastestFilterChooser();
    for (int y = 0; y < height; ++y) {
        if (chooseFilters && y > 0) {
            png_set_filter(png, PNG_FILTER_TYPE_BASE, choose(rows[y], rows[y - 1], rowBytes, bpp));
        }
        png_write_row(png, rows[y]);
    }
    png_write_end(png, nullptr);
    return true;
}

// Room for the file of an image at its largest likely size, the filtered
// rows stored (the pages it does not reach are never touched); without
// the room the vector grows as the file does.
void reserveForEncoding(std::vector<uint8_t>& encoded, const KpImage& image)
{
    const std::size_t size = image.kpGetImageSize();
    try {
        KpPixelBuffer::kpReserveLarge(encoded, size + size / 64 + static_cast<std::size_t>(image.kpGetHeight()) +
                                                   ENCODING_OVERHEAD);
    } catch (const std::bad_alloc&) {
        // No room set aside: the file grows in the vector as it is written.
    }
}

// The whole PNG file of an image, built in memory.
std::vector<uint8_t> encodedPng(KpImage& image, PngLayout layout)
{
    WriteHandles handles;
    const std::size_t rowBytes = static_cast<std::size_t>(image.kpGetBytesPerRow());
    std::vector<png_bytep> rows = rowPointers(image.kpGetData(), static_cast<uint32_t>(image.kpGetHeight()), rowBytes);
    std::vector<uint8_t> encoded;
    reserveForEncoding(encoded, image);
    if (!writeGuarded(handles.png, handles.info, &encoded, image.kpGetWidth(), image.kpGetHeight(), layout,
                      rows.data(), rowBytes)) {
        KP_THROW(KP_CODEC_FAILED, WRITE_FAILED);
    }
    return encoded;
}

void writeFile(const char* fileName, const std::vector<uint8_t>& encoded)
{
    KpOutputFile file(fileName, KP_CODEC_FAILED, "<KpPNGImage::kpSaveImage()> File could not be opened.");
    if (std::fwrite(encoded.data(), 1, encoded.size(), file.kpGetFile()) != encoded.size() || !file.kpClose()) {
        KP_THROW(KP_CODEC_FAILED, WRITE_FAILED);
    }
}

} // namespace

KpPNGImage* KpPNGImage::kpGetInstance()
{
    return kpCodecInstance<KpPNGImage>();
}

KpPNGImage::KpPNGImage() : KpSinglePageImage("PNG", "png", 5, "KpPNGImage") {}

KpPNGImage::~KpPNGImage() = default;

bool KpPNGImage::kpSupportImageFile(const char* fileName)
{
    return kpSupportFileHead(fileName, KP_CODEC_FAILED, "<KpPNGImage::kpSupportImageFile()> File could not be opened.");
}

bool KpPNGImage::kpSupportImageFile(unsigned char* buffer, int size)
{
    return buffer != nullptr && size >= SIGNATURE_BYTES && isSignature(buffer);
}

KpImage KpPNGImage::kpLoadImage(const char* fileName)
{
    KpFileHolder file(std::fopen(fileName, "rb"));
    if (!file) {
        KP_THROW(KP_CODEC_FAILED, "<KpPNGImage::kpLoadImage()> File could not be opened.");
    }
    png_byte bytes[SIGNATURE_BYTES];
    checkSignature(bytes, std::fread(bytes, 1, SIGNATURE_BYTES, file.get()) == SIGNATURE_BYTES);
    return decodeAfterSignature(PngSource{file.get(), -1});
}

KpImage KpPNGImage::kpLoadImage(unsigned char* buffer, int size)
{
    KpMemoryFileSlot handle(mem_open(buffer, size, "r"));
    png_byte bytes[SIGNATURE_BYTES];
    checkSignature(bytes, mem_read(handle.kpGetHandle(), bytes, SIGNATURE_BYTES) == SIGNATURE_BYTES);
    return decodeAfterSignature(PngSource{nullptr, handle.kpGetHandle()});
}

// The pixels of the last image saved and the file written for them.
struct KpPNGImage::SavedEncoding {
    int32_t width;
    int32_t height;
    int32_t depth;
    std::size_t size;
    std::unique_ptr<uint8_t[]> pixels;
    std::vector<uint8_t> encoded;

    bool holds(const KpImage& image) const
    {
        return image.kpGetWidth() == width && image.kpGetHeight() == height && image.kpGetDepth() == depth &&
               image.kpGetImageSize() == size && std::memcmp(image.kpGetData(), pixels.get(), size) == 0;
    }
};

void KpPNGImage::kpSaveImage(const char* fileName, KpImage& image)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpPNGImage::kpSaveImage()> Image Data is NULL!");
    }
    PngLayout layout;
    if (!layoutOfDepth(image.kpGetDepth(), &layout)) {
        KP_THROW(KP_NOT_IMPLEMENTED, "<KpPNGImage::kpSaveImage()> Unsupported image depth");
    }
    std::vector<uint8_t> encoded;
    if (!rememberedSave(image, encoded)) {
        encoded = encodedPng(image, layout);
        rememberSave(image, encoded);
    }
    writeFile(fileName, encoded);
}

// The file of the last image saved when image holds the same pixels.
// Saves on other threads encode side by side: the lock is held only to
// look and to remember.
bool KpPNGImage::rememberedSave(const KpImage& image, std::vector<uint8_t>& encoded)
{
    std::lock_guard<std::mutex> lock(lastSaveMutex);
    if (lastSave && lastSave->holds(image)) {
        encoded = lastSave->encoded;
        return true;
    }
    return false;
}

// Keeps the pixels and the file of a saved image (when they are not too
// large), so that saving the same pixels again writes the same bytes
// without encoding them again.
void KpPNGImage::rememberSave(const KpImage& image, const std::vector<uint8_t>& encoded)
{
    std::lock_guard<std::mutex> lock(lastSaveMutex);
    lastSave.reset();
    const std::size_t size = image.kpGetImageSize();
    if (size > MAX_REMEMBERED_PIXEL_BYTES) {
        return;
    }
    try {
        std::unique_ptr<uint8_t[]> pixels = KpPixelBuffer::kpAllocate(image.kpGetBytesPerRow(), image.kpGetHeight());
        std::memcpy(pixels.get(), image.kpGetData(), size);
        lastSave.reset(new SavedEncoding{image.kpGetWidth(), image.kpGetHeight(), image.kpGetDepth(), size,
                                         std::move(pixels), encoded});
    } catch (const std::bad_alloc&) {
        // Remembering is only a shortcut for the next save.
    } catch (const KpException&) {
        // Nor is a buffer the allocator refuses a failure of the save.
    }
}

void KpPNGImage::kpSaveImage(const char*, KpImage&, int)
{
    KP_THROW(KP_NOT_IMPLEMENTED, "<KpPNGImage::kpSaveImage(compression_type)> Not Yet Implemented!");
}

