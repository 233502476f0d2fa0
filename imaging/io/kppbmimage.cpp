#include "kppbmimage.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "kpfilebasedio.h"
#include "kpfilecloser.h"
#include "kplogger.h"
#include "kpmemorybasedio.h"
#include "kppixelbuffer.h"
#include "kppnmheader.h"
#include "kpstreamsaver.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// The magic numbers are the first two bytes read as a little-endian
// 16-bit number.
const int PBM_BYTE_ORDER = 0;
const int16_t RAW_MAGIC = 13392;   // "P4"
const int16_t PLAIN_MAGIC = 12624; // "P1"
const int SIZE_FIELDS = 2;
const int32_t BINARY_DEPTH = 1;
const int32_t GRAY_DEPTH = 8;
const int32_t COLOUR_DEPTH = 24;
const int GRAY_THRESHOLD = 127;
const int DETAIL_LOG_LEVEL = 1;
// Plain characters are read in pieces of at most this many bytes.
const std::size_t PLAIN_READ_BYTES = 1 << 16;
// Encoded rows are written in pieces of about this size.
const std::size_t WRITE_CHUNK_BYTES = 1 << 18;

const char* const UNKNOWN_FORMAT = "<KpPBMImage::kpLoadImage()> Unknown File Format";
const char* const NO_PIXEL_MEMORY =
    "<KpBMPImage::kpLoadImage()> Could not allocate enough memory for the uncompressed image";
const char* const WRITE_FAILED =
    "<KpPBMImage::kpSaveImage()> Write failed: the output did not take all the bytes (disk full or stream closed).";

KpLogger* logger()
{
    return KpLogger::kpGetInstance();
}

[[noreturn]] void failUnknownFormat()
{
    KP_THROW(KP_BAD_FILE, UNKNOWN_FORMAT);
}

[[noreturn]] void failShortData()
{
    kpLogPrintf(logger(), DETAIL_LOG_LEVEL, "Image read failed\n");
    failUnknownFormat();
}

// A stream and the bytes it still holds (KP_UNKNOWN_LENGTH when it cannot
// tell), counted down as the decoder reads, so that a raster can be
// checked against them before it is allocated.
class CountedInput {
public:
    CountedInput(KpIOStream& source, int64_t length) : stream(source), left(length) {}

    int16_t readMagic()
    {
        const int16_t magic = stream.kpReadShort(PBM_BYTE_ORDER);
        if (stream.kpReadFailed()) {
            failShortData();
        }
        consume(sizeof magic);
        return magic;
    }

    std::string readLine()
    {
        std::string line = stream.kpReadLine();
        consume(line.size());
        return line;
    }

    void read(uint8_t* destination, std::size_t n)
    {
        if (stream.kpRead(reinterpret_cast<char*>(destination), static_cast<int>(n)) <= 0) {
            failShortData();
        }
        consume(n);
    }

    bool holds(int64_t needed) const { return KpPnmHeader::kpHolds(left, needed); }

private:
    void consume(std::size_t n)
    {
        if (left != KpPnmHeader::KP_UNKNOWN_LENGTH) {
            left = std::max<int64_t>(0, left - static_cast<int64_t>(n));
        }
    }

    KpIOStream& stream;
    int64_t left;
};

struct BitmapHeader {
    bool raw = false;
    int32_t width = 0;
    int32_t height = 0;
};

// The magic, the rest of its line, comment and empty lines, then the
// size line.
BitmapHeader readHeader(CountedInput& input)
{
    const int16_t magic = input.readMagic();
    kpLogPrintf(logger(), DETAIL_LOG_LEVEL, "\tID is: %d, should be %d or %d\n", magic, RAW_MAGIC, PLAIN_MAGIC);
    if (magic != RAW_MAGIC && magic != PLAIN_MAGIC) {
        failUnknownFormat();
    }
    input.readLine();
    std::string line;
    do {
        line = input.readLine();
    } while (!line.empty() && (line[0] == '#' || line[0] == '\n'));
    int32_t size[SIZE_FIELDS];
    if (!KpPnmHeader::kpScanPositive(line.c_str(), size, SIZE_FIELDS)) {
        failUnknownFormat();
    }
    BitmapHeader header;
    header.raw = magic == RAW_MAGIC;
    header.width = size[0];
    header.height = size[1];
    return header;
}

// The bits of a row's last byte that hold pixels.
uint8_t lastByteMask(int32_t width)
{
    const int used = width % 8;
    return static_cast<uint8_t>(used == 0 ? 0xFF : 0xFF << (8 - used));
}

// A PBM bit 1 is black, an image bit 1 white: every byte is complemented
// and the bits past the width are cleared. source may be target.
void complementRows(const uint8_t* source, uint8_t* target, int32_t width, std::size_t rows, std::size_t bytesPerRow)
{
    const uint8_t mask = lastByteMask(width);
    for (std::size_t r = 0; r < rows; ++r) {
        const uint8_t* in = source + r * bytesPerRow;
        uint8_t* out = target + r * bytesPerRow;
        for (std::size_t i = 0; i < bytesPerRow; ++i) {
            out[i] = static_cast<uint8_t>(~in[i]);
        }
        out[bytesPerRow - 1] &= mask;
    }
}

void decodeRaw(CountedInput& input, const BitmapHeader& header, uint8_t* pixels, int32_t bytesPerRow)
{
    input.read(pixels, std::size_t(bytesPerRow) * std::size_t(header.height));
    complementRows(pixels, pixels, header.width, std::size_t(header.height), std::size_t(bytesPerRow));
}

// The characters of a plain raster: "1" is black, "0" white; blanks,
// tabs, line ends, vertical tabs and form feeds separate them, and "#"
// starts a comment that runs to the end of its line. Pixels start black.
class PlainRasterDecoder {
public:
    PlainRasterDecoder(uint8_t* pixels, int32_t imageWidth, int32_t rowBytes, int64_t pixelCount)
        : row(pixels), width(imageWidth), bytesPerRow(rowBytes), missing(pixelCount)
    {
    }

    // Every pixel takes at least one character, so reading as many
    // characters as pixels are missing never reads past the raster.
    void decode(CountedInput& input)
    {
        std::vector<uint8_t> piece(static_cast<std::size_t>(std::min<int64_t>(missing, PLAIN_READ_BYTES)));
        while (missing > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<int64_t>(missing, PLAIN_READ_BYTES));
            input.read(piece.data(), n);
            for (std::size_t i = 0; i < n; ++i) {
                take(piece[i]);
            }
        }
    }

private:
    void take(uint8_t character)
    {
        if (inComment) {
            inComment = character != '\n' && character != '\r';
            return;
        }
        switch (character) {
        case '0':
            row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            advance();
            return;
        case '1':
            advance();
            return;
        case '#':
            inComment = true;
            return;
        case ' ':
        case '\t':
        case '\n':
        case '\v':
        case '\f':
        case '\r':
            return;
        default:
            failUnknownFormat();
        }
    }

    void advance()
    {
        --missing;
        if (++x == width) {
            x = 0;
            row += bytesPerRow;
        }
    }

    uint8_t* row;
    const int32_t width;
    const int32_t bytesPerRow;
    int64_t missing;
    int32_t x = 0;
    bool inComment = false;
};

void logRawLayout(const BitmapHeader& header, int32_t bytesPerRow)
{
    KpLogger* log = logger();
    kpLogPrintf(log, DETAIL_LOG_LEVEL, "\tWidth: %d\t", header.width);
    kpLogPrintf(log, DETAIL_LOG_LEVEL, "\tHeight: %d\n", header.height);
    kpLogPrintf(log, DETAIL_LOG_LEVEL, "\tRowsize: %d\n", bytesPerRow);
    kpLogPrintf(log, DETAIL_LOG_LEVEL, "\tmaxIdx: %d\n", bytesPerRow * header.height);
}

// The raster is checked against the allocation limit and against what
// the input still holds before it is allocated.
KpImage decode(KpIOStream& stream, int64_t length)
{
    CountedInput input(stream, length);
    const BitmapHeader header = readHeader(input);
    const int32_t bytesPerRow = KpImageHead::kpRowBytes(header.width, BINARY_DEPTH);
    const std::size_t rasterBytes = KpPixelBuffer::kpCheckedSize(bytesPerRow, header.height, NO_PIXEL_MEMORY);
    const int64_t pixelCount = int64_t(header.width) * header.height;
    if (!input.holds(header.raw ? int64_t(rasterBytes) : pixelCount)) {
        failShortData();
    }
    std::unique_ptr<uint8_t[]> pixels;
    if (header.raw) {
        logRawLayout(header, bytesPerRow);
        pixels = KpPixelBuffer::kpAllocate(bytesPerRow, header.height, NO_PIXEL_MEMORY);
        decodeRaw(input, header, pixels.get(), bytesPerRow);
    } else {
        pixels = KpPixelBuffer::kpAllocateFilled(bytesPerRow, header.height, 0, NO_PIXEL_MEMORY);
        PlainRasterDecoder(pixels.get(), header.width, bytesPerRow, pixelCount).decode(input);
    }
    return KpImage(pixels.release(), KpPnmHeader::kpLoadedHead(header.width, header.height, BINARY_DEPTH));
}

void checkWritten(int result)
{
    if (result <= 0) {
        KP_THROW(KP_BAD_FILE, WRITE_FAILED);
    }
}

// The raw bitmap of a depth-1 image, its rows gathered into pieces of
// about WRITE_CHUNK_BYTES, one write each.
void encodeBinary(KpIOStream& stream, const KpImage& image)
{
    checkWritten(stream.kpWriteShort(RAW_MAGIC, PBM_BYTE_ORDER));
    const std::string size = "\n" + std::to_string(image.kpGetWidth()) + " " + std::to_string(image.kpGetHeight()) + "\n";
    checkWritten(stream.kpWrite(size.data(), static_cast<int>(size.size())));
    const std::size_t bytesPerRow = static_cast<std::size_t>(image.kpGetBytesPerRow());
    const std::size_t height = static_cast<std::size_t>(image.kpGetHeight());
    const std::size_t rowsPerChunk = std::min(height, std::max<std::size_t>(1, WRITE_CHUNK_BYTES / bytesPerRow));
    std::vector<uint8_t> chunk(rowsPerChunk * bytesPerRow);
    for (std::size_t y = 0; y < height; y += rowsPerChunk) {
        const std::size_t rows = std::min(rowsPerChunk, height - y);
        complementRows(image.kpGetData() + y * bytesPerRow, chunk.data(), image.kpGetWidth(), rows, bytesPerRow);
        checkWritten(stream.kpWrite(reinterpret_cast<const char*>(chunk.data()), static_cast<int>(rows * bytesPerRow)));
    }
}

void checkWritable(const KpImage& image)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpPBMImage::kpSaveImage()> Image Data is NULL!");
    }
    const int32_t depth = image.kpGetDepth();
    if (depth != BINARY_DEPTH && depth != GRAY_DEPTH && depth != COLOUR_DEPTH) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpPBMImage::kpSaveImage()> Only images of depth 1, 8 or 24 can be saved as "
                                       "PBM; this one has depth " + std::to_string(depth) + ".");
    }
}

// Gray is thresholded at 127; colour is first averaged to gray.
KpImage binaryOf(const KpImage& image)
{
    if (image.kpGetDepth() == GRAY_DEPTH) {
        return KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(image, GRAY_THRESHOLD);
    }
    return KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(
        KpBitsPerPixelConverter::kpDownscaleColor2Gray_average(image), GRAY_THRESHOLD);
}

} // namespace

KpPBMImage::KpPBMImage() : KpSinglePageImage("PBM", "pbm", 5, "KpPBMImage") {}

KpPBMImage::~KpPBMImage() = default;

KpPBMImage* KpPBMImage::kpGetInstance()
{
    return kpCodecInstance<KpPBMImage>();
}

bool KpPBMImage::kpSupportImageFile(const char* fileName)
{
    return kpSupportFileHead(fileName, KP_CANNOT_OPEN, "<KpPBMImage::kpSupportImageFile()> Can not open file!",
                             std::string("Can't open ") + fileName + "\n");
}

bool KpPBMImage::kpSupportImageFile(unsigned char* buffer, int size)
{
    return buffer != nullptr && size >= 2 && buffer[0] == 'P' && (buffer[1] == '4' || buffer[1] == '1');
}

KpImage KpPBMImage::kpLoadImage(KpIOStream& stream)
{
    return decode(stream, KpPnmHeader::KP_UNKNOWN_LENGTH);
}

KpImage KpPBMImage::kpLoadImage(unsigned char* buffer, int size)
{
    KpMemoryBasedIO stream(reinterpret_cast<char*>(buffer), size, "rb");
    return decode(stream, std::max(size, 0));
}

KpImage KpPBMImage::kpLoadImage(const char* fileName)
{
    KpFileHolder file(fileName == nullptr ? nullptr : std::fopen(fileName, "rb"));
    if (!file) {
        KP_THROW(KP_CANNOT_OPEN, "<KpFileBasedIO::KpFileBasedIO()> Could not open output image file");
    }
    KpFileBasedIO stream(file.get());
    return decode(stream, KpPnmHeader::kpBytesLeft(file.get()));
}

void KpPBMImage::kpSaveImage(KpIOStream& stream, KpImage& image)
{
    checkWritable(image);
    if (image.kpGetDepth() == BINARY_DEPTH) {
        encodeBinary(stream, image);
    } else {
        encodeBinary(stream, binaryOf(image));
    }
}

void KpPBMImage::kpSaveImage(const char* fileName, KpImage& image)
{
    checkWritable(image);
    KpStreamSaver::kpSaveToFile(fileName, "KpPBMImage", [&](KpIOStream& stream) { kpSaveImage(stream, image); });
}

void KpPBMImage::kpSaveImageToMem(KpImage& image, unsigned char** block, int* size)
{
    KpStreamSaver::kpSaveToMemory([&](KpIOStream& stream) { kpSaveImage(stream, image); }, block, size);
}
