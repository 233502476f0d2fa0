#include "kpbmpimage.h"

#include "kpexception.h"
#include "kpfilebasedio.h"
#include "kplogger.h"
#include "kpmemorybasedio.h"
#include "kppixelbuffer.h"
#include "kpstreamsaver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// All numbers of a bitmap file are little-endian.
const int BMP_BYTE_ORDER = 0;
const uint16_t BMP_SIGNATURE = 0x4D42; // "BM"
const uint32_t FILE_HEADER_BYTES = 14;
const uint32_t INFO_HEADER_BYTES = 40;
const uint32_t BIT_FIELD_MASK_BYTES = 12;
const uint32_t PALETTE_ENTRY_BYTES = 4;
const int MAX_PALETTE_ENTRIES = 256;

const uint32_t COMPRESSION_NONE = 0;
const uint32_t COMPRESSION_RLE8 = 1;
const uint32_t COMPRESSION_RLE4 = 2;
const uint32_t COMPRESSION_BIT_FIELDS = 3;

// The 5-5-5 layout of 16-bit pixels without bit-field masks.
const uint32_t DEFAULT_RED_MASK = 0x7C00;
const uint32_t DEFAULT_GREEN_MASK = 0x03E0;
const uint32_t DEFAULT_BLUE_MASK = 0x001F;

// Bytes skipped per read when moving forward in a stream.
const int SKIP_CHUNK_BYTES = 4096;
// Compressed data is read in pieces of this size, so that a header that
// claims more data than the file holds fails before much is allocated.
const std::size_t COMPRESSED_CHUNK_BYTES = 1 << 20;
// Encoded rows are written in pieces of about this size.
const std::size_t WRITE_CHUNK_BYTES = 1 << 18;

const char* const UNKNOWN_FORMAT = "<KpBMPImage::kpLoadImage()> Unknown File Format";
const char* const NOT_POSITIVE =
    "<KpBMPImage::kpLoadImage()> Unknown File Format. Size, width, and height must be postive values.";
const char* const UNKNOWN_COMPRESSION =
    "<KpBMPImage::kpLoadImage()> Unknown BMP Compression Method.  Possible compression types are 0-3.";
const char* const UNSUPPORTED_BITS = "Encountered unsupported infoheader.bits in bmp file";
const char* const NO_PIXEL_MEMORY =
    "<KpBMPImage::kpLoadImage()> Could not allocate enough memory for the uncompressed image";
const char* const WRITE_FAILED =
    "<KpBMPImage::kpSaveImage()> Write failed: the output did not take all the bytes (disk full or stream closed).";

// The fields of the file header and the 40-byte info header.
struct BmpHeader {
    uint16_t type = 0;
    uint32_t fileSize = 0;
    uint32_t dataOffset = 0;
    uint32_t headerSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 0;
    uint16_t bits = 0;
    uint32_t compression = 0;
    uint32_t imageSize = 0;
    int32_t xResolution = 0;
    int32_t yResolution = 0;
    uint32_t coloursUsed = 0;
    uint32_t importantColours = 0;
};

// Palette colours as red, green, blue; entries the file does not give
// stay white.
struct Palette {
    uint8_t rgb[MAX_PALETTE_ENTRIES][3];
    int entries = 0;
};

// One colour channel of a 16-bit pixel: its mask, the position of the
// mask's lowest bit and the 8-bit value of every channel value.
struct BitField {
    uint32_t mask = 0;
    int shift = 0;
    std::vector<uint8_t> scaled;
};

// What the row converters need besides the rows themselves.
struct RowContext {
    int32_t width = 0;
    Palette palette;
    // The bits a stored 1-bit byte becomes: each stored bit is replaced
    // by the white or black of its palette entry.
    uint8_t whiteForSetBit = 0xFF;
    uint8_t whiteForClearBit = 0x00;
    BitField red, green, blue;
};

using RowConverter = void (*)(const uint8_t* stored, uint8_t* row, const RowContext& context);

KpLogger* logger()
{
    return KpLogger::kpGetInstance();
}

[[noreturn]] void failShortData()
{
    kpLogPrintf(logger(), 1, "Image read failed\n");
    KP_THROW(KP_BAD_FILE, UNKNOWN_FORMAT);
}

// Reads exactly n bytes; a short read is a file shorter than it claims.
void readBytes(KpIOStream& stream, uint8_t* destination, std::size_t n)
{
    if (n > 0 && stream.kpRead(reinterpret_cast<char*>(destination), static_cast<int>(n)) <= 0) {
        failShortData();
    }
}

// Reads and discards n bytes: the streams cannot seek.
void skipBytes(KpIOStream& stream, uint64_t n)
{
    uint8_t scratch[SKIP_CHUNK_BYTES];
    while (n > 0) {
        const uint64_t piece = std::min<uint64_t>(n, SKIP_CHUNK_BYTES);
        readBytes(stream, scratch, static_cast<std::size_t>(piece));
        n -= piece;
    }
}

void checkHeaderRead(const KpIOStream& stream)
{
    if (stream.kpReadFailed()) {
        KP_THROW(KP_BAD_FILE, "<KpBMPImage::kpLoadImage()> Unknown File Format. The file ends inside the BMP headers.");
    }
}

uint32_t readUnsigned(KpIOStream& stream)
{
    return static_cast<uint32_t>(stream.kpReadInt(BMP_BYTE_ORDER));
}

uint16_t readUnsignedShort(KpIOStream& stream)
{
    return static_cast<uint16_t>(stream.kpReadShort(BMP_BYTE_ORDER));
}

void readFileHeader(KpIOStream& stream, BmpHeader& header)
{
    header.type = readUnsignedShort(stream);
    header.fileSize = readUnsigned(stream);
    readUnsignedShort(stream); // reserved
    readUnsignedShort(stream); // reserved
    header.dataOffset = readUnsigned(stream);
    checkHeaderRead(stream);
    kpLogPrintf(logger(), 2, "ID is: %d, should be %d\n", header.type, BMP_SIGNATURE);
    kpLogPrintf(logger(), 2, "File size is %d bytes\n", static_cast<int>(header.fileSize));
    kpLogPrintf(logger(), 2, "Offset to image data is %d bytes\n", static_cast<int>(header.dataOffset));
    if (header.type != BMP_SIGNATURE) {
        KP_THROW(KP_BAD_FILE, "<KpBMPImage::kpLoadImage()> Unknown File Format. The file does not begin with \"BM\".");
    }
}

// Reads the first 40 bytes of the info header. The old 12-byte header
// has 16-bit sizes in other places, so it is refused before it is
// misread.
void readInfoHeader(KpIOStream& stream, BmpHeader& header)
{
    header.headerSize = readUnsigned(stream);
    checkHeaderRead(stream);
    if (header.headerSize > 0 && header.headerSize < INFO_HEADER_BYTES) {
        KP_THROW(KP_BAD_FILE, "<KpBMPImage::kpLoadImage()> Unsupported BMP info header of " +
                        std::to_string(header.headerSize) + " bytes: only headers of 40 bytes or more are read.");
    }
    header.width = stream.kpReadInt(BMP_BYTE_ORDER);
    header.height = stream.kpReadInt(BMP_BYTE_ORDER);
    header.planes = readUnsignedShort(stream);
    header.bits = readUnsignedShort(stream);
    header.compression = readUnsigned(stream);
    header.imageSize = readUnsigned(stream);
    header.xResolution = stream.kpReadInt(BMP_BYTE_ORDER);
    header.yResolution = stream.kpReadInt(BMP_BYTE_ORDER);
    header.coloursUsed = readUnsigned(stream);
    header.importantColours = readUnsigned(stream);
    checkHeaderRead(stream);
}

void logInfoHeader(const BmpHeader& header)
{
    KpLogger* log = logger();
    kpLogPrintf(log, 2, "Image size = %d x %d\n", header.width, header.height);
    kpLogPrintf(log, 2, "Number of colour planes is %d\n", header.planes);
    kpLogPrintf(log, 2, "Bits per pixel is %d\n", header.bits);
    kpLogPrintf(log, 2, "Compression type is %d\n", static_cast<int>(header.compression));
    kpLogPrintf(log, 2, "infoheader.imagesize  is %d\n", static_cast<int>(header.imageSize));
    kpLogPrintf(log, 2, "infoheader.xresolution is %d\n", header.xResolution);
    kpLogPrintf(log, 2, "infoheader.yresolution is %d\n", header.yResolution);
    kpLogPrintf(log, 2, "Number of colours is %d\n", static_cast<int>(header.coloursUsed));
    kpLogPrintf(log, 2, "Number of required colours is %d\n", static_cast<int>(header.importantColours));
}

// Stored rows are padded to a multiple of 4 bytes.
int64_t storedRowBytes(int64_t width, int bits)
{
    return (width * bits + 31) / 32 * 4;
}

// 1-bit files load as depth 1, all others as colour.
int32_t loadedDepthOf(int bits)
{
    return bits == 1 ? 1 : 24;
}

bool isSupportedBitCount(int bits)
{
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24;
}

// Run-length data belongs to 8 (RLE8) or 4 bits (RLE4), masks to 16 bits.
bool compressionFitsBits(uint32_t compression, int bits)
{
    switch (compression) {
    case COMPRESSION_NONE:
        return true;
    case COMPRESSION_RLE8:
        return bits == 8;
    case COMPRESSION_RLE4:
        return bits == 4;
    default:
        return bits == 16;
    }
}

void validateInfoHeader(const BmpHeader& header)
{
    if (header.headerSize == 0 || header.width <= 0 || header.height <= 0 || header.bits == 0) {
        KP_THROW(KP_BAD_FILE, NOT_POSITIVE);
    }
    if (header.compression > COMPRESSION_BIT_FIELDS) {
        KP_THROW(KP_BAD_FILE, UNKNOWN_COMPRESSION);
    }
    logInfoHeader(header);
    if (!isSupportedBitCount(header.bits)) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, UNSUPPORTED_BITS);
    }
    if (!compressionFitsBits(header.compression, header.bits)) {
        KP_THROW(KP_BAD_FILE, "<KpBMPImage::kpLoadImage()> Compression type " + std::to_string(header.compression) +
                        " does not apply to " + std::to_string(header.bits) + " bits per pixel.");
    }
    KpPixelBuffer::kpCheckedSize(storedRowBytes(header.width, header.bits), header.height);
    KpPixelBuffer::kpCheckedSize(KpImageHead::kpRowBytes(header.width, loadedDepthOf(header.bits)), header.height);
}

// A channel value of a few bits widened to 8 by repeating its bit
// pattern (5 bits abcde become abcdeabc), so that 0 stays 0 and the
// largest value becomes 255; wider values keep their top 8 bits.
uint8_t scaleTo8Bits(uint32_t value, int bits)
{
    if (bits >= 8) {
        return static_cast<uint8_t>(value >> (bits - 8));
    }
    uint32_t repeated = 0;
    int filled = 0;
    while (filled < 8) {
        repeated = (repeated << bits) | value;
        filled += bits;
    }
    return static_cast<uint8_t>(repeated >> (filled - 8));
}

// A channel mask must be one run of bits inside the 16-bit pixel.
BitField makeBitField(uint32_t mask)
{
    BitField field;
    field.mask = mask;
    if (mask == 0) {
        field.scaled.assign(1, 0);
        return field;
    }
    while (((mask >> field.shift) & 1u) == 0) {
        ++field.shift;
    }
    const uint32_t maximum = mask >> field.shift;
    if (mask > 0xFFFFu || (maximum & (maximum + 1)) != 0) {
        KP_THROW(KP_BAD_FILE, "<KpBMPImage::kpLoadImage()> Unknown File Format. The bit-field masks of a 16-bit file "
                    "must be single runs of bits within 16 bits.");
    }
    int bits = 0;
    while ((maximum >> bits) != 0) {
        ++bits;
    }
    field.scaled.resize(maximum + 1);
    for (uint32_t value = 0; value <= maximum; ++value) {
        field.scaled[value] = scaleTo8Bits(value, bits);
    }
    return field;
}

// The masks of a 16-bit file: after the 40 bytes of the info header,
// inside the larger headers and right after the 40-byte one. Returns
// the bytes read beyond the 40.
uint32_t readBitFields(KpIOStream& stream, const BmpHeader& header, RowContext& context)
{
    uint32_t red = DEFAULT_RED_MASK;
    uint32_t green = DEFAULT_GREEN_MASK;
    uint32_t blue = DEFAULT_BLUE_MASK;
    uint32_t extra = 0;
    if (header.compression == COMPRESSION_BIT_FIELDS) {
        red = readUnsigned(stream);
        green = readUnsigned(stream);
        blue = readUnsigned(stream);
        checkHeaderRead(stream);
        extra = BIT_FIELD_MASK_BYTES;
    }
    context.red = makeBitField(red);
    context.green = makeBitField(green);
    context.blue = makeBitField(blue);
    return extra;
}

int paletteEntriesOf(const BmpHeader& header)
{
    if (header.bits > 8) {
        return 0;
    }
    const uint32_t full = 1u << header.bits;
    return header.coloursUsed != 0 && header.coloursUsed < full ? static_cast<int>(header.coloursUsed)
                                                                 : static_cast<int>(full);
}

void logPalette(const Palette& palette)
{
    if (!logger()->kpIsLoggable(1)) {
        return;
    }
    for (int i = 0; i < palette.entries; ++i) {
        kpLogPrintf(logger(), 1, "%3d\t%3d\t%3d\t%3d\n", i, palette.rgb[i][0], palette.rgb[i][1], palette.rgb[i][2]);
    }
}

// Reads the palette's blue, green, red, reserved entries in one piece.
void readPalette(KpIOStream& stream, int entries, Palette& palette)
{
    std::memset(palette.rgb, 255, sizeof(palette.rgb));
    palette.entries = entries;
    uint8_t stored[MAX_PALETTE_ENTRIES * PALETTE_ENTRY_BYTES];
    readBytes(stream, stored, static_cast<std::size_t>(entries) * PALETTE_ENTRY_BYTES);
    for (int i = 0; i < entries; ++i) {
        const uint8_t* entry = stored + i * PALETTE_ENTRY_BYTES;
        palette.rgb[i][0] = entry[2];
        palette.rgb[i][1] = entry[1];
        palette.rgb[i][2] = entry[0];
    }
    logPalette(palette);
}

// A palette colour is white in a 1-bit image when its luminance
// 0.299 R + 0.587 G + 0.114 B is at least half way up.
bool isLightColour(const uint8_t* rgb)
{
    return 299 * rgb[0] + 587 * rgb[1] + 114 * rgb[2] >= 128 * 1000;
}

// Moves to the pixel data; an offset inside what was already read
// cannot be right.
void skipToPixelData(KpIOStream& stream, const BmpHeader& header, uint64_t position)
{
    if (header.dataOffset < position) {
        KP_THROW(KP_BAD_FILE, "<KpBMPImage::kpLoadImage()> Unknown File Format. The pixel data offset " +
                        std::to_string(header.dataOffset) + " lies inside the headers or the palette.");
    }
    skipBytes(stream, header.dataOffset - position);
}

// Reads everything in front of the pixel data and fills the decoding
// context.
void readHeadersAndPalette(KpIOStream& stream, BmpHeader& header, RowContext& context)
{
    readFileHeader(stream, header);
    readInfoHeader(stream, header);
    validateInfoHeader(header);
    uint64_t headerBytes = INFO_HEADER_BYTES;
    if (header.bits == 16) {
        headerBytes += readBitFields(stream, header, context);
    }
    if (header.headerSize > headerBytes) {
        skipBytes(stream, header.headerSize - headerBytes);
        headerBytes = header.headerSize;
    }
    const int entries = paletteEntriesOf(header);
    readPalette(stream, entries, context.palette);
    context.width = header.width;
    context.whiteForClearBit = isLightColour(context.palette.rgb[0]) ? 0xFF : 0x00;
    context.whiteForSetBit = isLightColour(context.palette.rgb[1]) ? 0xFF : 0x00;
    skipToPixelData(stream, header, FILE_HEADER_BYTES + headerBytes + uint64_t(entries) * PALETTE_ENTRY_BYTES);
}

// A set bit is white in the image. Each stored bit takes the white or
// black of its own palette colour: a black-and-white palette copies or
// inverts the bits, two light (or two dark) colours give all white (or
// all black).
void copyBinaryRow(const uint8_t* stored, uint8_t* row, const RowContext& context)
{
    const int32_t bytes = (context.width + 7) / 8;
    if (context.whiteForSetBit == 0xFF && context.whiteForClearBit == 0x00) {
        std::memcpy(row, stored, static_cast<std::size_t>(bytes));
        return;
    }
    for (int32_t i = 0; i < bytes; ++i) {
        row[i] = static_cast<uint8_t>((stored[i] & context.whiteForSetBit) | (~stored[i] & context.whiteForClearBit));
    }
}

inline void putColour(uint8_t* pixel, const uint8_t* rgb)
{
    pixel[0] = rgb[0];
    pixel[1] = rgb[1];
    pixel[2] = rgb[2];
}

// One palette index per byte (8-bit rows and decoded run-length rows).
void expandIndexRow(const uint8_t* stored, uint8_t* row, const RowContext& context)
{
    for (int32_t x = 0; x < context.width; ++x) {
        putColour(row + 3 * x, context.palette.rgb[stored[x]]);
    }
}

// Two indices per byte, the high nibble first.
void expandNibbleRow(const uint8_t* stored, uint8_t* row, const RowContext& context)
{
    const int32_t pairs = context.width / 2;
    for (int32_t i = 0; i < pairs; ++i) {
        putColour(row + 6 * i, context.palette.rgb[stored[i] >> 4]);
        putColour(row + 6 * i + 3, context.palette.rgb[stored[i] & 0x0F]);
    }
    if (context.width % 2 != 0) {
        putColour(row + 6 * pairs, context.palette.rgb[stored[pairs] >> 4]);
    }
}

// Little-endian 16-bit pixels split by the channel masks.
void expandBitFieldRow(const uint8_t* stored, uint8_t* row, const RowContext& context)
{
    const BitField& red = context.red;
    const BitField& green = context.green;
    const BitField& blue = context.blue;
    for (int32_t x = 0; x < context.width; ++x) {
        const uint32_t pixel = stored[2 * x] | (uint32_t(stored[2 * x + 1]) << 8);
        row[3 * x] = red.scaled[(pixel & red.mask) >> red.shift];
        row[3 * x + 1] = green.scaled[(pixel & green.mask) >> green.shift];
        row[3 * x + 2] = blue.scaled[(pixel & blue.mask) >> blue.shift];
    }
}

#if defined(__SSE2__)
// Byte masks of the three ways a 16-byte piece of a colour row can start
// relative to its pixels: lanes that keep their byte, lanes that take
// the byte two places after, lanes that take the byte two places before.
struct SwapMasks {
    __m128i keep[3];
    __m128i fromNext[3];
    __m128i fromPrevious[3];
};

SwapMasks makeSwapMasks()
{
    SwapMasks masks;
    for (int phase = 0; phase < 3; ++phase) {
        alignas(16) uint8_t keep[16], fromNext[16], fromPrevious[16];
        for (int lane = 0; lane < 16; ++lane) {
            const int place = (phase + lane) % 3;
            keep[lane] = place == 1 ? 0xFF : 0;
            fromNext[lane] = place == 0 ? 0xFF : 0;
            fromPrevious[lane] = place == 2 ? 0xFF : 0;
        }
        masks.keep[phase] = _mm_load_si128(reinterpret_cast<const __m128i*>(keep));
        masks.fromNext[phase] = _mm_load_si128(reinterpret_cast<const __m128i*>(fromNext));
        masks.fromPrevious[phase] = _mm_load_si128(reinterpret_cast<const __m128i*>(fromPrevious));
    }
    return masks;
}

// Swaps the outer bytes of the pixels from pixel 1 on, 16 pixels (three
// 16-byte pieces) at a time, as long as every load stays inside the row.
// Returns the first pixel left to do; pixel 0 is left too.
int32_t swapRedBlueBlocks(const uint8_t* source, uint8_t* target, int32_t width)
{
    static const SwapMasks masks = makeSwapMasks();
    const int64_t bytes = 3 * static_cast<int64_t>(width);
    const int64_t blockBytes = 48;
    int64_t start = 3;
    for (; start + blockBytes + 2 <= bytes; start += blockBytes) {
        for (int piece = 0; piece < 3; ++piece) {
            const int64_t at = start + 16 * piece;
            const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at + 2));
            const __m128i previous = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at - 2));
            const __m128i swapped =
                _mm_or_si128(_mm_and_si128(here, masks.keep[piece]),
                             _mm_or_si128(_mm_and_si128(next, masks.fromNext[piece]),
                                          _mm_and_si128(previous, masks.fromPrevious[piece])));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target + at), swapped);
        }
    }
    return static_cast<int32_t>(start / 3);
}
#endif

inline void swapPixel(const uint8_t* source, uint8_t* target)
{
    target[0] = source[2];
    target[1] = source[1];
    target[2] = source[0];
}

// Red, green, blue becomes blue, green, red and the other way round.
// source and target do not overlap.
void swapRedBlue(const uint8_t* source, uint8_t* target, int32_t width)
{
    int32_t x = 0;
#if defined(__SSE2__)
    if (width > 0) {
        swapPixel(source, target);
        x = swapRedBlueBlocks(source, target, width);
    }
#endif
    for (; x < width; ++x) {
        swapPixel(source + 3 * x, target + 3 * x);
    }
}

void swapColourRow(const uint8_t* stored, uint8_t* row, const RowContext& context)
{
    swapRedBlue(stored, row, context.width);
}

RowConverter rowConverterOf(int bits)
{
    switch (bits) {
    case 1:
        return copyBinaryRow;
    case 4:
        return expandNibbleRow;
    case 8:
        return expandIndexRow;
    case 16:
        return expandBitFieldRow;
    default:
        return swapColourRow;
    }
}

// Uncompressed rows, bottom-up: each stored row is read whole and
// converted into its image row.
void decodeRows(KpIOStream& stream, const BmpHeader& header, const RowContext& context, uint8_t* pixels,
                int32_t bytesPerRow)
{
    const int64_t stride = storedRowBytes(header.width, header.bits);
    std::vector<uint8_t> stored(KpPixelBuffer::kpCheckedSize(stride, 1));
    const RowConverter convert = rowConverterOf(header.bits);
    for (int32_t r = 0; r < header.height; ++r) {
        readBytes(stream, stored.data(), stored.size());
        convert(stored.data(), pixels + std::size_t(header.height - 1 - r) * std::size_t(bytesPerRow), context);
    }
}

// The compressed pixel data, whose length the info header gives.
std::vector<uint8_t> readCompressedData(KpIOStream& stream, const BmpHeader& header)
{
    if (header.imageSize == 0) {
        KP_THROW(KP_BAD_FILE, "<KpBMPImage::kpLoadImage()> Unknown File Format. A run-length compressed file must state "
                    "the size of its data.");
    }
    const std::size_t total = KpPixelBuffer::kpCheckedSize(header.imageSize, 1);
    std::vector<uint8_t> data;
    while (data.size() < total) {
        const std::size_t done = data.size();
        const std::size_t piece = std::min(total - done, COMPRESSED_CHUNK_BYTES);
        data.resize(done + piece);
        readBytes(stream, data.data() + done, piece);
    }
    return data;
}

// Palette indices of a run-length compressed bitmap, one byte per pixel,
// in stored (bottom-up) row order. Pixels the data skips keep index 0;
// pixels beyond a row's end are dropped; the data may end without its
// end-of-bitmap mark.
class RunLengthDecoder {
public:
    RunLengthDecoder(const std::vector<uint8_t>& data, int32_t width, int32_t height, bool nibbles)
        : data(data), width(width), height(height), nibbles(nibbles),
          indices(KpPixelBuffer::kpCheckedSize(width, height), 0)
    {
    }

    std::vector<uint8_t> decode()
    {
        while (position + 2 <= data.size() && y < height) {
            const uint8_t count = data[position];
            const uint8_t value = data[position + 1];
            position += 2;
            if (count > 0) {
                putRun(count, value);
            } else if (value == 0) {
                x = 0;
                ++y;
            } else if (value == 1) {
                break;
            } else if (value == 2) {
                moveBy();
            } else {
                putLiterals(value);
            }
        }
        return std::move(indices);
    }

private:
    void put(uint8_t index)
    {
        if (x < width && y < height) {
            indices[std::size_t(y) * std::size_t(width) + std::size_t(x)] = index;
        }
        ++x;
    }

    // RLE8 repeats the byte; RLE4 alternates its two nibbles.
    void putRun(int count, uint8_t value)
    {
        for (int i = 0; i < count; ++i) {
            put(nibbles ? (i % 2 == 0 ? value >> 4 : value & 0x0F) : value);
        }
    }

    // Literal pixels, their bytes padded to an even count.
    void putLiterals(int count)
    {
        const std::size_t bytes = nibbles ? (std::size_t(count) + 1) / 2 : std::size_t(count);
        for (int i = 0; i < count; ++i) {
            const std::size_t at = position + std::size_t(nibbles ? i / 2 : i);
            if (at >= data.size()) {
                break;
            }
            put(nibbles ? (i % 2 == 0 ? data[at] >> 4 : data[at] & 0x0F) : data[at]);
        }
        position += bytes + bytes % 2;
    }

    void moveBy()
    {
        if (position + 2 > data.size()) {
            position = data.size();
            return;
        }
        x += data[position];
        y += data[position + 1];
        position += 2;
    }

    const std::vector<uint8_t>& data;
    const int32_t width;
    const int32_t height;
    const bool nibbles;
    std::vector<uint8_t> indices;
    std::size_t position = 0;
    int64_t x = 0;
    int32_t y = 0;
};

void decodeRunLength(KpIOStream& stream, const BmpHeader& header, const RowContext& context, uint8_t* pixels,
                     int32_t bytesPerRow)
{
    const std::vector<uint8_t> data = readCompressedData(stream, header);
    const bool nibbles = header.compression == COMPRESSION_RLE4;
    const std::vector<uint8_t> indices = RunLengthDecoder(data, header.width, header.height, nibbles).decode();
    for (int32_t r = 0; r < header.height; ++r) {
        expandIndexRow(indices.data() + std::size_t(r) * std::size_t(header.width),
                       pixels + std::size_t(header.height - 1 - r) * std::size_t(bytesPerRow), context);
    }
}

// Resolutions are stored as whole numbers; values that do not fit
// become 0.
int32_t storedResolution(float resolution)
{
    if (!std::isfinite(resolution) || resolution <= float(std::numeric_limits<int32_t>::min()) ||
        resolution >= float(std::numeric_limits<int32_t>::max())) {
        return 0;
    }
    return static_cast<int32_t>(resolution);
}

void checkWritten(int result)
{
    if (result <= 0) {
        KP_THROW(KP_BAD_FILE, WRITE_FAILED);
    }
}

void writeInt(KpIOStream& stream, uint32_t value)
{
    checkWritten(stream.kpWriteInt(static_cast<int32_t>(value), BMP_BYTE_ORDER));
}

void writeShort(KpIOStream& stream, uint16_t value)
{
    checkWritten(stream.kpWriteShort(static_cast<int16_t>(value), BMP_BYTE_ORDER));
}

void writeBytes(KpIOStream& stream, const uint8_t* source, std::size_t n)
{
    if (n == 0) {
        return;
    }
    checkWritten(stream.kpWrite(reinterpret_cast<const char*>(source), static_cast<int>(n)));
}

int paletteEntriesOfDepth(int32_t depth)
{
    return depth == 1 ? 2 : depth == 8 ? 256 : 0;
}

void writeHeaders(KpIOStream& stream, const KpImage& image, uint32_t paletteBytes, uint32_t dataSize)
{
    const uint32_t dataOffset = FILE_HEADER_BYTES + INFO_HEADER_BYTES + paletteBytes;
    writeShort(stream, BMP_SIGNATURE);
    writeInt(stream, dataOffset + dataSize);
    writeShort(stream, 0);
    writeShort(stream, 0);
    writeInt(stream, dataOffset);
    writeInt(stream, INFO_HEADER_BYTES);
    writeInt(stream, static_cast<uint32_t>(image.kpGetWidth()));
    writeInt(stream, static_cast<uint32_t>(image.kpGetHeight()));
    writeShort(stream, 1);
    writeShort(stream, static_cast<uint16_t>(image.kpGetDepth()));
    writeInt(stream, COMPRESSION_NONE);
    writeInt(stream, dataSize);
    writeInt(stream, static_cast<uint32_t>(storedResolution(image.kpGetXResolution())));
    writeInt(stream, static_cast<uint32_t>(storedResolution(image.kpGetYResolution())));
    writeInt(stream, paletteBytes / PALETTE_ENTRY_BYTES);
    writeInt(stream, 0);
}

// Depth 1: black and white; depth 8: the gray ramp. Every byte of entry
// i holds its gray value.
void writePalette(KpIOStream& stream, int32_t depth)
{
    const int entries = paletteEntriesOfDepth(depth);
    std::vector<uint8_t> palette(std::size_t(entries) * PALETTE_ENTRY_BYTES);
    for (int i = 0; i < entries; ++i) {
        const uint8_t gray = static_cast<uint8_t>(depth == 1 ? 255 * i : i);
        std::memset(palette.data() + std::size_t(i) * PALETTE_ENTRY_BYTES, gray, PALETTE_ENTRY_BYTES);
    }
    writeBytes(stream, palette.data(), palette.size());
}

// Image rows from the last to the first, each followed by zero padding;
// colour rows as blue, green, red. Rows are gathered into pieces of
// about WRITE_CHUNK_BYTES, one write each.
void writeRows(KpIOStream& stream, const KpImage& image, std::size_t stride)
{
    const int32_t width = image.kpGetWidth();
    const std::size_t rowBytes = static_cast<std::size_t>(image.kpGetBytesPerRow());
    const bool colour = image.kpGetDepth() == 24;
    const std::size_t rowsPerChunk = std::max<std::size_t>(1, WRITE_CHUNK_BYTES / stride);
    std::vector<uint8_t> chunk(stride * std::min<std::size_t>(rowsPerChunk, std::size_t(image.kpGetHeight())), 0);
    std::size_t filled = 0;
    for (int32_t y = image.kpGetHeight() - 1; y >= 0; --y) {
        const uint8_t* row = image.kpGetData() + std::size_t(y) * rowBytes;
        uint8_t* out = chunk.data() + filled;
        if (colour) {
            swapRedBlue(row, out, width);
        } else {
            std::memcpy(out, row, rowBytes);
        }
        filled += stride;
        if (filled == chunk.size() || y == 0) {
            writeBytes(stream, chunk.data(), filled);
            filled = 0;
        }
    }
}

void checkWritable(const KpImage& image)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpBMPImage::kpSaveImage()> Image Data is NULL!");
    }
    const int32_t depth = image.kpGetDepth();
    if (depth != 1 && depth != 8 && depth != 24) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpBMPImage::kpSaveImage()> Only images of depth 1, 8 or 24 can be saved as BMP; this one "
                     "has depth " +
                         std::to_string(depth) + ".");
    }
}

} // namespace

KpBMPImage::KpBMPImage() : KpSinglePageImage("BMP", "bmp", 5, "KpBMPImage") {}

KpBMPImage::~KpBMPImage() = default;

KpBMPImage* KpBMPImage::kpGetInstance()
{
    return kpCodecInstance<KpBMPImage>();
}

bool KpBMPImage::kpSupportImageFile(const char* fileName)
{
    return kpSupportFileHead(fileName, KP_CANNOT_OPEN, "<KpBMPImage::kpSupportImageFile()> Can not open file!",
                             std::string("Can't open ") + fileName + "\n");
}

bool KpBMPImage::kpSupportImageFile(unsigned char* buffer, int size)
{
    return buffer != nullptr && size >= 2 && buffer[0] == 'B' && buffer[1] == 'M';
}

KpImage KpBMPImage::kpLoadImage(KpIOStream& stream)
{
    BmpHeader header;
    RowContext context;
    readHeadersAndPalette(stream, header, context);

    KpImageHead head;
    head.width = header.width;
    head.height = header.height;
    head.depth = loadedDepthOf(header.bits);
    head.xResolution = static_cast<float>(header.xResolution);
    head.yResolution = static_cast<float>(header.yResolution);
    head.resolutionInDpi = 1;
    head.reserved1 = header.bits == 1 ? 0 : 1;
    const int32_t bytesPerRow = KpImageHead::kpRowBytes(header.width, head.depth);
    std::unique_ptr<uint8_t[]> pixels = KpPixelBuffer::kpAllocate(bytesPerRow, header.height, NO_PIXEL_MEMORY);

    if (header.compression == COMPRESSION_RLE8 || header.compression == COMPRESSION_RLE4) {
        decodeRunLength(stream, header, context, pixels.get(), bytesPerRow);
    } else {
        decodeRows(stream, header, context, pixels.get(), bytesPerRow);
    }
    return KpImage(pixels.release(), head);
}

KpImage KpBMPImage::kpLoadImage(unsigned char* buffer, int size)
{
    KpMemoryBasedIO stream(reinterpret_cast<char*>(buffer), size, "rb");
    return kpLoadImage(stream);
}

KpImage KpBMPImage::kpLoadImage(const char* fileName)
{
    KpFileBasedIO stream(fileName, "rb");
    return kpLoadImage(stream);
}

void KpBMPImage::kpSaveImage(KpIOStream& stream, KpImage& image)
{
    checkWritable(image);
    const int32_t depth = image.kpGetDepth();
    const int64_t stride = storedRowBytes(image.kpGetWidth(), depth);
    const std::size_t dataSize = KpPixelBuffer::kpCheckedSize(stride, image.kpGetHeight());
    const uint32_t paletteBytes = uint32_t(paletteEntriesOfDepth(depth)) * PALETTE_ENTRY_BYTES;
    writeHeaders(stream, image, paletteBytes, static_cast<uint32_t>(dataSize));
    writePalette(stream, depth);
    writeRows(stream, image, static_cast<std::size_t>(stride));
}

void KpBMPImage::kpSaveImage(const char* fileName, KpImage& image)
{
    checkWritable(image);
    KpStreamSaver::kpSaveToFile(fileName, "KpBMPImage", [&](KpIOStream& stream) { kpSaveImage(stream, image); });
}

void KpBMPImage::kpSaveImageToMem(KpImage& image, unsigned char** block, int* size)
{
    KpStreamSaver::kpSaveToMemory([&](KpIOStream& stream) { kpSaveImage(stream, image); }, block, size);
}
