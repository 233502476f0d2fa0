#include "kpgifutilities.h"

#include "kpimage.h"
#include "kppixelbuffer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// The file layout.
const int MIN_FILE_BYTES = 12;
const int SCREEN_HEADER_BYTES = 13;
const int SCREEN_PACKED_OFFSET = 10;
const int DESCRIPTOR_BYTES = 9;
const int APPLICATION_HEADER_BYTES = 12;
const int GRAPHIC_CONTROL_BYTES = 6;
const int GRAPHIC_CONTROL_BLOCK_SIZE = 4;
const int GRAPHIC_CONTROL_TERMINATOR = 5;
const uint8_t IMAGE_SEPARATOR = 0x2C;
const uint8_t EXTENSION_INTRODUCER = 0x21;
const uint8_t APPLICATION_LABEL = 0xFF;
const uint8_t COMMENT_LABEL = 0xFE;
const uint8_t GRAPHIC_CONTROL_LABEL = 0xF9;
const uint8_t TABLE_FLAG = 0x80;
const uint8_t INTERLACE_FLAG = 0x40;
const uint8_t TABLE_BITS_MASK = 0x07;

// Rasters and palettes.
const int RGB_PLANES = 3;
const int PALETTE_CAPACITY = 256;
const uint8_t WHITE = 255;
const int32_t RESOLUTION_DPI = 200;
const int32_t BYTE_SAMPLES = 0;
const int32_t WORD_SAMPLES = 3;
const int WORD_SAMPLE_BYTES = 4;

// LZW codes.
const int MAX_CODE_WIDTH = 12;
const int FALLBACK_CODE_WIDTH = 9;
const int CLEAR_SEARCH_BITS = 12;
const uint32_t CLEAR_SEARCH_MASK = (1u << CLEAR_SEARCH_BITS) - 1;
const int NO_CODE = -1;
const int32_t SHORT_STRING = 64;

// Recovery.
const int PRESET_BLOCK_SIZE = 255;
const int BLOCK_RUN_LENGTH = 4;
const int ACCEPTED_RECOVERY_BYTES = 100;
const int64_t MIN_RECOVERY_POINTS = 100;
// The recovery of one frame re-decodes its code bytes once per cycle, and
// the realignment compares every shift of every recovered run; a damaged
// file can ask for either without end. Both stop once they have done this
// many units of work (code bytes read, pixels written, samples compared)
// per byte of the file and pixel of the frame, plus a floor that every
// ordinary file stays far below.
const int64_t RECOVERY_WORK_PER_UNIT = 16;
const int64_t RECOVERY_WORK_FLOOR = int64_t(1) << 22;
// LZW codes at most 4096 pixels per 12-bit code, so a frame whose data is
// complete costs at most about 2730 pixels per byte of the file; only a
// frame whose data ends early costs more than its bytes, and a file made
// of thousands of such frames could keep the decoder busy for hours. The
// frames of one file may cover this many pixels per byte of the file, plus
// this many screens (for a damaged last frame).
const int64_t FRAME_PIXELS_PER_BYTE = 4096;
const int64_t FRAME_PIXELS_SCREENS = 16;
const float MAX_SAMPLE_CUBE = 255.0f * 255.0f * 255.0f;

const char* const CODING_BUG = "THIS IS A CODING BUG - SHOULD NEVER HAPPEN\n";

void printError(const char* text)
{
    std::fputs(text, stderr);
}

int readLittleEndian16(const uint8_t* bytes)
{
    return bytes[0] | (bytes[1] << 8);
}

int64_t planeSize(const raster_image* image)
{
    return int64_t(image->width) * int64_t(image->height);
}

uint8_t* plane(const raster_image* image, int p)
{
    return static_cast<uint8_t*>(image->samples) + p * planeSize(image);
}

int sampleBytes(int32_t sampleType)
{
    return sampleType == WORD_SAMPLES ? WORD_SAMPLE_BYTES : 1;
}

int64_t samplesBytes(const raster_image* image)
{
    return planeSize(image) * image->planes * sampleBytes(image->sampleType);
}

// The colours of a palette raster: one row, a plane per channel.
void setPaletteColour(raster_image* palette, int index, const uint8_t* rgb)
{
    for (int p = 0; p < RGB_PLANES; ++p) {
        plane(palette, p)[index] = rgb[p];
    }
}

// A work allowance that runs out, for the loops that damaged data could
// otherwise keep going without end.
class WorkBudget {
public:
    explicit WorkBudget(int64_t units) : left(units) {}
    bool spend(int64_t units)
    {
        left -= units;
        return left >= 0;
    }
    bool exhausted() const { return left < 0; }

private:
    int64_t left;
};

int64_t recoveryAllowance(int64_t units)
{
    return RECOVERY_WORK_PER_UNIT * units + RECOVERY_WORK_FLOOR;
}

// Copies a string that ends at or before the place it goes to. Most LZW
// strings are a few bytes long, too short for a library call to pay, so
// they move in fixed-size pieces.
inline void copyString(uint8_t* to, const uint8_t* from, int32_t length)
{
    if (length > SHORT_STRING) {
        std::memcpy(to, from, static_cast<std::size_t>(length));
        return;
    }
    int32_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::memcpy(to + i, from + i, 8);
    }
    if ((length & 4) != 0) {
        std::memcpy(to + i, from + i, 4);
        i += 4;
    }
    if ((length & 2) != 0) {
        std::memcpy(to + i, from + i, 2);
        i += 2;
    }
    if ((length & 1) != 0) {
        to[i] = from[i];
    }
}

// The decoder of one call of buffer_LZW_decode_new. Strings are copied
// within the frame from where the table says their bytes already are;
// only a root is looked up in the palette, and only a root can name a
// colour the palette lacks, since every longer string is made of bytes
// already emitted.
class LzwDecoder {
public:
    LzwDecoder(const unsigned char* codes, int codeCount, int codeWidth, raster_image* frame, int pixelCount)
        : codes(codes), codeCount(codeCount), initialWidth(codeWidth), clearCode(1 << (codeWidth - 1)),
          endCode(clearCode + 1), planes(frame->planes), colours(frame->palette->width), pixel(pixelCount),
          frameSize(planeSize(frame))
    {
        for (int p = 0; p < planes; ++p) {
            out[p] = plane(frame, p);
            palette[p] = plane(frame->palette, std::min(p, frame->palette->planes - 1));
        }
        LZW_table_init(&table, clearCode);
        restart();
    }

    int decode(int startByte, int startBit, int* endFlag)
    {
        bytePosition = startByte;
        if (startBit > 0) {
            buffer_read_code(&bitBuffer, &bitCount, startBit, codes, codeCount, &bytePosition);
        }
        while (bytePosition < codeCount) {
            const int code = buffer_read_code(&bitBuffer, &bitCount, width, codes, codeCount, &bytePosition);
            if (code == endCode) {
                *endFlag = 1;
                return 1;
            }
            if (pixel >= frameSize) {
                return 1;
            }
            if (code == clearCode) {
                restart();
            } else if (code < next) {
                if (!emitEntry(code)) {
                    return 0;
                }
            } else if (code == next) {
                if (!emitPreviousPlusFirst()) {
                    return 0;
                }
            } else {
                printError("WARNING in buffer_LZW_decode_new(): Invalid code encountered\n");
                return 0;
            }
        }
        return 1;
    }

    int pixelCount() const { return pixel; }
    int position() const { return bytePosition; }

private:
    void restart()
    {
        width = initialWidth;
        next = clearCode + 2;
        previous = NO_CODE;
    }

    // The string of a code below next.
    bool emitEntry(int code)
    {
        const int32_t length = table.length[code];
        if (length == 0) {
            printError("WARNING in buffer_LZW_decode_new(): Invalid code encountered\n");
            return false;
        }
        if (!fits(length)) {
            return false;
        }
        const int32_t start = pixel;
        if (code < table.roots) {
            if (code >= colours) {
                printError("ERROR in buffer_LZW_decode_new(): Attempt made to access uninitialized value\n");
                return false;
            }
            for (int p = 0; p < planes; ++p) {
                out[p][pixel] = palette[p][code];
            }
        } else {
            for (int p = 0; p < planes; ++p) {
                copyString(out[p] + pixel, out[p] + table.position[code], length);
            }
        }
        pixel += length;
        if (previous != NO_CODE && next < lzw_table::ENTRIES) {
            addEntry();
        }
        remember(code, start, length);
        return true;
    }

    // A code equal to next names the entry being made: the previous
    // string followed by its own first byte.
    bool emitPreviousPlusFirst()
    {
        if (previous == NO_CODE) {
            printError("WARNING in buffer_LZW_decode_new(): This is a precarious location\n");
            return false;
        }
        const int32_t length = previousLength + 1;
        if (!fits(length)) {
            return false;
        }
        const int32_t start = pixel;
        for (int p = 0; p < planes; ++p) {
            copyString(out[p] + pixel, out[p] + previousStart, previousLength);
            out[p][pixel + previousLength] = out[p][pixel];
        }
        pixel += length;
        addEntry();
        remember(next - 1, start, length);
        return true;
    }

    // A string may not run past the frame's last pixel.
    bool fits(int32_t length)
    {
        if (int64_t(pixel) + length > frameSize) {
            pixel = static_cast<int>(frameSize);
            return false;
        }
        return true;
    }

    // The new entry is the previous string and the byte after it, which is
    // the first byte of the string just emitted.
    void addEntry()
    {
        table.length[next] = previousLength + 1;
        table.position[next] = previousStart;
        ++next;
        if (next >= (1 << width) && width < MAX_CODE_WIDTH) {
            ++width;
        }
    }

    void remember(int code, int32_t start, int32_t length)
    {
        previous = code;
        previousStart = start;
        previousLength = length;
    }

    const unsigned char* codes;
    const int codeCount;
    const int initialWidth;
    const int clearCode;
    const int endCode;
    const int planes;
    const int colours;
    uint8_t* out[RGB_PLANES] = {};
    const uint8_t* palette[RGB_PLANES] = {};
    int32_t pixel;
    const int64_t frameSize;
    lzw_table table;
    uint32_t bitBuffer = 0;
    int bitCount = 0;
    int bytePosition = 0;
    int width = 0;
    int next = 0;
    int previous = NO_CODE;
    int32_t previousStart = 0;
    int32_t previousLength = 0;
};

bool checkPalette(const raster_image* frame)
{
    if (frame->palette == nullptr) {
        printError("ERROR in buffer_LZW_decode_new(): No color palette defined.  ");
        printError(CODING_BUG);
        return false;
    }
    if (frame->palette->width > PALETTE_CAPACITY) {
        std::fprintf(stderr, "ERROR in buffer_LZW_decode_new(): Palette too large; numcolors = %d.  ",
                     frame->palette->width);
        printError(CODING_BUG);
        return false;
    }
    return true;
}

// The 12 bits from a bit position on, bits past the code bytes reading as 0.
uint32_t bitsAt(const unsigned char* codes, int codeCount, int64_t bit)
{
    const int64_t first = bit / 8;
    uint32_t window = 0;
    for (int i = 0; i < 3; ++i) {
        if (first + i < codeCount) {
            window |= uint32_t(codes[first + i]) << (8 * i);
        }
    }
    return (window >> (bit % 8)) & CLEAR_SEARCH_MASK;
}

// How far the copy's window at source is from the reference row: the sum
// over planes and columns of |weight * d^3|, d the difference of the two
// samples, in single precision. Stops early once the sum reaches limit.
float shiftCost(const raster_image* copy, const raster_image* frame, int64_t source, int64_t reference,
                const std::vector<float>& weights, float limit)
{
    const int32_t width = frame->width;
    float cost = 0.0f;
    for (int p = 0; p < frame->planes; ++p) {
        const uint8_t* moved = plane(copy, p) + source;
        const uint8_t* kept = plane(frame, p) + reference;
        for (int32_t x = 0; x < width; ++x) {
            const int d = int(moved[x]) - int(kept[x]);
            cost += std::fabs(weights[std::size_t(x)] * float(d * d * d));
        }
        // Every term is positive, so a partial sum at the limit stays there.
        if (cost >= limit) {
            return cost;
        }
    }
    return cost;
}

// Columns near either edge count more than those in the middle.
std::vector<float> realignWeights(int32_t width)
{
    std::vector<float> weights(static_cast<std::size_t>(width));
    for (int32_t x = 0; x < width; ++x) {
        const float share = float(x) / float(width);
        weights[std::size_t(x)] = x < width / 2 ? 1.0f - share : share;
    }
    return weights;
}

// The shift s (0 .. maxShift) whose window of the copy at source + s best
// matches the reference row; the first on ties.
int64_t bestShift(const raster_image* copy, const raster_image* frame, int64_t source, int64_t reference,
                  int64_t maxShift, const std::vector<float>& weights, WorkBudget& budget)
{
    const int64_t comparisons = int64_t(frame->width) * frame->planes;
    float best = float(frame->width) * MAX_SAMPLE_CUBE * float(frame->planes);
    int64_t chosen = 0;
    for (int64_t s = 0; s <= maxShift && budget.spend(comparisons); ++s) {
        const float cost = shiftCost(copy, frame, source + s, reference, weights, best);
        if (cost < best) {
            best = cost;
            chosen = s;
        }
    }
    return chosen;
}

void zeroFrom(raster_image* frame, int64_t start)
{
    const int64_t size = planeSize(frame);
    start = std::max<int64_t>(0, std::min(start, size));
    for (int p = 0; p < frame->planes; ++p) {
        std::memset(plane(frame, p) + start, 0, static_cast<std::size_t>(size - start));
    }
}

// The whole decoding of one file: the logical screen, the block scan and
// every frame. The rasters are held until the composite is handed out.
class GifReader {
public:
    GifReader(const uint8_t* data, int size) : data(data), size(size) {}

    int read(raster_image** result)
    {
        if (!readScreen() || !scanBlocks()) {
            return 0;
        }
        if (compositeBlank) {
            std::memset(composite->samples, WHITE, static_cast<std::size_t>(samplesBytes(composite.get())));
        }
        *result = composite.release();
        return 1;
    }

private:
    bool readScreen()
    {
        if (std::memcmp(data, "GIF", 3) != 0) {
            printError("ERROR in image_read_gif(): May not be a GIF FILE,  SHOULD BE GIF\n");
            return false;
        }
        if (std::memcmp(data + 3, "87a", 3) != 0 && std::memcmp(data + 3, "89a", 3) != 0) {
            printError("ERROR in image_read_gif(): May not be a GIF FILE invalid ");
            printError("version number,  SHOULD BE 87a or 89a\n");
            return false;
        }
        screenWidth = readLittleEndian16(data + 6);
        screenHeight = readLittleEndian16(data + 8);
        if (screenWidth == 0 || screenHeight == 0) {
            return false;
        }
        if (int64_t(RGB_PLANES) * screenWidth * screenHeight > KpImage::KP_MAX_IMAGE_BYTES) {
            std::fprintf(stderr, "ERROR in image_read_gif(): A logical screen of %d x %d pixels is too large to decode\n",
                         screenWidth, screenHeight);
            return false;
        }
        if (!createRasters()) {
            printError("ERROR in image_read_gif(): Not enough memory for the rasters of the logical screen\n");
            return false;
        }
        recoveryCapacity = std::max(int64_t(screenWidth) * screenHeight / 2, MIN_RECOVERY_POINTS);
        framePixelsLeft = FRAME_PIXELS_PER_BYTE * size + FRAME_PIXELS_SCREENS * screenWidth * screenHeight;
        const uint8_t packed = data[SCREEN_PACKED_OFFSET];
        position = SCREEN_HEADER_BYTES;
        globalTable = (packed & TABLE_FLAG) != 0;
        return !globalTable || readGlobalTable(1 << ((packed & TABLE_BITS_MASK) + 1));
    }

    bool createRasters()
    {
        const raster_size paletteSize = {PALETTE_CAPACITY, 1};
        const raster_size screen = {screenWidth, screenHeight};
        if (!create(globalPalette, paletteSize) || !create(localPalette, paletteSize) || !create(composite, screen) ||
            !create(frame, screen)) {
            return false;
        }
        composite->resultFlag = 1;
        composite->resultModel = 2;
        frame->palette = localPalette.get();
        return true;
    }

    static bool create(raster_holder& holder, raster_size size)
    {
        raster_image* image = nullptr;
        const int created = image_create(&image, size, RGB_PLANES, BYTE_SAMPLES);
        holder.reset(image);
        return created == 1;
    }

    bool readGlobalTable(int count)
    {
        if (size - position < RGB_PLANES * count) {
            printError("ERROR in image_read_gif(): File not large enough to ");
            printError("support global color table - SEVERELY TRUNCATED FILE\n");
            return false;
        }
        readColourTable(globalPalette.get(), count);
        return true;
    }

    void readColourTable(raster_image* palette, int count)
    {
        palette->width = count;
        for (int i = 0; i < count; ++i) {
            setPaletteColour(palette, i, data + position + RGB_PLANES * i);
        }
        position += RGB_PLANES * count;
    }

    bool scanBlocks()
    {
        while (position < size) {
            const uint8_t byte = data[position++];
            if (byte == IMAGE_SEPARATOR) {
                if (!readImage()) {
                    return false;
                }
            } else if (byte == EXTENSION_INTRODUCER) {
                if (!readExtension()) {
                    return false;
                }
            }
            // A trailer is consumed like any other byte: the scan goes on.
        }
        return true;
    }

    bool readExtension()
    {
        const uint8_t label = position < size ? data[position] : 0;
        ++position;
        if (label == APPLICATION_LABEL) {
            if (size - position < APPLICATION_HEADER_BYTES) {
                printError("ERROR in image_read_gif(): Not enough data for ");
                printError("complete Application extension header\n");
                return false;
            }
            position += APPLICATION_HEADER_BYTES;
            return skipSubBlocks();
        }
        if (label == COMMENT_LABEL) {
            return skipSubBlocks();
        }
        if (label == GRAPHIC_CONTROL_LABEL) {
            readGraphicControl();
        }
        return true;
    }

    // Application and comment data is read and not used.
    bool skipSubBlocks()
    {
        if (!ensureScratch()) {
            return false;
        }
        int length = 0;
        int blockSize = PRESET_BLOCK_SIZE;
        position = buffer_parse_gif_block_new(data, position, size, scratch.get(), &length, &blockSize);
        return true;
    }

    // The transparent index is not applied: every frame is pasted whole.
    void readGraphicControl()
    {
        if (size - position < GRAPHIC_CONTROL_BYTES) {
            position = size;
            return;
        }
        const uint8_t* block = data + position;
        if (block[GRAPHIC_CONTROL_TERMINATOR] != 0 && block[0] == GRAPHIC_CONTROL_BLOCK_SIZE) {
            return;
        }
        position += GRAPHIC_CONTROL_BYTES;
    }

    // The joined code bytes of a frame (and the data of the extensions) go
    // into one block of the file's size.
    bool ensureScratch()
    {
        if (!scratch) {
            scratch.reset(new (std::nothrow) uint8_t[static_cast<std::size_t>(size)]);
            if (!scratch) {
                printError("ERROR in image_read_gif(): Not enough memory for the image data\n");
                return false;
            }
        }
        return true;
    }

    bool readImage()
    {
        if (size - position < DESCRIPTOR_BYTES) {
            return true;
        }
        const uint8_t* descriptor = data + position;
        const int left = readLittleEndian16(descriptor);
        const int top = readLittleEndian16(descriptor + 2);
        const int width = readLittleEndian16(descriptor + 4);
        const int height = readLittleEndian16(descriptor + 6);
        const uint8_t packed = descriptor[8];
        position += DESCRIPTOR_BYTES;
        if (screenWidth - left < width || screenHeight - top < height) {
            return true;
        }
        framePixelsLeft -= int64_t(width) * height;
        if (framePixelsLeft < 0) {
            printError("ERROR in image_read_gif(): The frames of this file cover far more pixels than its ");
            printError("data can fill - SEVERELY DAMAGED FILE\n");
            return false;
        }
        frame->width = width;
        frame->height = height;
        if (!readLocalColours(packed)) {
            return false;
        }
        if (position >= size) {
            printError("ERROR in image_read_gif(): Ran out of data before defining ");
            printError("max code size in data segment - probably truncated file\n");
            return false;
        }
        int codeWidth = data[position++] + 1;
        if (codeWidth > MAX_CODE_WIDTH) {
            codeWidth = FALLBACK_CODE_WIDTH;
        }
        if (!decodeFrame(codeWidth, (packed & INTERLACE_FLAG) != 0)) {
            return false;
        }
        pasteFrame(left, top);
        return true;
    }

    bool readLocalColours(uint8_t packed)
    {
        const int count = 1 << ((packed & TABLE_BITS_MASK) + 1);
        raster_image* palette = localPalette.get();
        if ((packed & TABLE_FLAG) != 0) {
            if (size - position < RGB_PLANES * count) {
                printError("ERROR in image_read_gif(): File not large enough to support ");
                printError("local color table; possibly TRUNCATED FILE\n");
                return false;
            }
            readColourTable(palette, count);
        } else if (globalTable) {
            palette->width = globalPalette->width;
            for (int i = 0; i < palette->width; ++i) {
                const uint8_t rgb[RGB_PLANES] = {plane(globalPalette.get(), 0)[i], plane(globalPalette.get(), 1)[i],
                                                 plane(globalPalette.get(), 2)[i]};
                setPaletteColour(palette, i, rgb);
            }
        } else {
            palette->width = count;
            for (int i = 0; i < count; ++i) {
                const uint8_t gray = static_cast<uint8_t>(i * 255 / count);
                const uint8_t rgb[RGB_PLANES] = {gray, gray, gray};
                setPaletteColour(palette, i, rgb);
            }
        }
        return true;
    }

    bool decodeFrame(int codeWidth, bool interlaced)
    {
        if (!ensureScratch()) {
            return false;
        }
        const int dataStart = position;
        int codeCount = 0;
        blockSize = PRESET_BLOCK_SIZE;
        position = buffer_parse_gif_block_new(data, position, size, scratch.get(), &codeCount, &blockSize);
        Decoding last;
        if (!decode(codeCount, codeWidth, 0, 0, 0, last)) {
            return false;
        }
        std::vector<int32_t> points;
        if (last.pixelCount < planeSize(frame.get())) {
            points.push_back(last.pixelCount);
            if (!recover(dataStart, codeCount, codeWidth, last, points)) {
                return false;
            }
        }
        if (interlaced) {
            image_GIF_deinterlace(frame.get());
        }
        if (!points.empty() && !image_GIF_realign(frame.get(), points.data(), static_cast<int>(points.size()))) {
            printError("ERROR in image_read_gif(): Problem with image_GIF_realign()\n");
            return false;
        }
        return true;
    }

    struct Decoding {
        int pixelCount = 0;
        int bytePosition = 0;
        int endCode = 0;
    };

    bool decode(int codeCount, int codeWidth, int startByte, int startBit, int pixelCount, Decoding& result)
    {
        result.pixelCount = pixelCount;
        if (!buffer_LZW_decode_new(scratch.get(), startByte, startBit, codeCount, codeWidth, frame.get(),
                                   &result.pixelCount, &result.endCode, &result.bytePosition)) {
            printError("ERROR in image_read_gif(): Problem with buffer_LZW_decode_new()\n");
            return false;
        }
        return true;
    }

    // The recovery cycles of a frame that came out short. Each cycle moves
    // the file position on, then searches the code bytes from their first
    // byte for clear codes and decodes after each, from the pixel count the
    // cycle started with, until a decoding reads at least
    // ACCEPTED_RECOVERY_BYTES code bytes; that decoding's pixel count
    // becomes a recovery point. The scan goes on from the last file position.
    bool recover(int dataStart, int codeCount, int codeWidth, Decoding& last, std::vector<int32_t>& points)
    {
        const int64_t frameSize = planeSize(frame.get());
        WorkBudget budget(recoveryAllowance(int64_t(size) + frameSize));
        while (true) {
            advanceFilePosition(dataStart, last.bytePosition, budget);
            const int kept = last.pixelCount;
            bool accepted = false;
            if (!runCycle(codeCount, codeWidth, kept, last, accepted, budget)) {
                return false;
            }
            if (accepted) {
                if (int64_t(points.size()) >= recoveryCapacity) {
                    printError("In image_read_gif(): MORE MEMORY SHOULD BE ");
                    printError("ADDED FOR POSSBIlE ERROR LOCATIONS\n");
                    return true;
                }
                points.push_back(last.pixelCount);
            }
            if ((last.bytePosition >= codeCount && last.endCode) || position >= size || last.pixelCount >= frameSize) {
                return true;
            }
            // A cycle that changed nothing is repeated identically by every
            // later one, which only moves the file position, one byte at a
            // time, to the end.
            if (!accepted && last.pixelCount == kept) {
                position = size;
                return true;
            }
            if (budget.exhausted()) {
                printError("In image_read_gif(): Recovery of a damaged frame stopped: ");
                printError("it needs more work than the file justifies\n");
                return true;
            }
        }
    }

    void advanceFilePosition(int dataStart, int codeBytesRead, WorkBudget& budget)
    {
        const int reached = buffer_skip_gif_blocks(data, dataStart, size, codeBytesRead);
        const int run = buffer_find_block_run(data, reached, size, blockSize);
        budget.spend(int64_t(run) - reached);
        position = run > position ? run : position + 1;
    }

    bool runCycle(int codeCount, int codeWidth, int kept, Decoding& last, bool& accepted, WorkBudget& budget)
    {
        int searchByte = 0;
        int searchBit = 0;
        int consumed = 0;
        do {
            const int searchFrom = searchByte;
            buffer_find_clear_code(scratch.get(), codeCount, codeWidth, &searchByte, &searchBit);
            const int start = searchByte;
            if (!decode(codeCount, codeWidth, searchByte, searchBit, kept, last)) {
                return false;
            }
            consumed = last.bytePosition - start;
            budget.spend(int64_t(start - searchFrom) + consumed + std::abs(last.pixelCount - kept));
            searchByte = last.bytePosition == start ? start + 1 : last.bytePosition;
            searchBit = 0;
        } while (consumed < ACCEPTED_RECOVERY_BYTES && last.bytePosition < codeCount);
        accepted = consumed >= ACCEPTED_RECOVERY_BYTES;
        return true;
    }

    // A frame that covers the whole screen replaces the composite: the
    // buffers change places (the frame's next decoding overwrites what it
    // gets). Any other frame is copied in, onto white.
    void pasteFrame(int left, int top)
    {
        if (left == 0 && top == 0 && frame->width == screenWidth && frame->height == screenHeight) {
            std::swap(frame->samples, composite->samples);
        } else {
            if (compositeBlank) {
                std::memset(composite->samples, WHITE, static_cast<std::size_t>(samplesBytes(composite.get())));
            }
            image_paste(frame.get(), composite.get(), raster_point{left, top});
        }
        compositeBlank = false;
    }

    const uint8_t* data;
    const int size;
    int position = 0;
    int screenWidth = 0;
    int screenHeight = 0;
    bool globalTable = false;
    bool compositeBlank = true;
    int blockSize = PRESET_BLOCK_SIZE;
    int64_t recoveryCapacity = MIN_RECOVERY_POINTS;
    int64_t framePixelsLeft = 0;
    raster_holder globalPalette;
    raster_holder localPalette;
    raster_holder composite;
    raster_holder frame;
    std::unique_ptr<uint8_t[]> scratch;
};

} // namespace

int image_read_gif(unsigned char* bytes, int size, raster_image** result)
{
    const gif_bytes_holder owned(bytes);
    *result = nullptr;
    if (bytes == nullptr || size < MIN_FILE_BYTES) {
        printError("ERROR in image_read_gif(): Minimum size of GIF file ");
        std::fprintf(stderr, "header is at least 12 bytes (> %d read)\n", bytes == nullptr ? 0 : size);
        return 0;
    }
    return GifReader(owned.get(), size).read(result);
}

int buffer_parse_gif_block_new(const unsigned char* bytes, int position, int size, unsigned char* destination,
                               int* length, int* commonBlockSize)
{
    std::array<int, BLOCK_RUN_LENGTH> firstLengths{};
    int seen = 0;
    int joined = 0;
    while (position < size) {
        const int blockLength = bytes[position++];
        if (blockLength == 0) {
            break;
        }
        if (seen < BLOCK_RUN_LENGTH) {
            firstLengths[std::size_t(seen++)] = blockLength;
        }
        const int present = std::min(blockLength, size - position);
        std::memcpy(destination + joined, bytes + position, static_cast<std::size_t>(present));
        joined += present;
        position += present;
    }
    if (seen == BLOCK_RUN_LENGTH &&
        std::all_of(firstLengths.begin(), firstLengths.end(), [&](int n) { return n == firstLengths[0]; })) {
        *commonBlockSize = firstLengths[0];
    }
    *length = joined;
    return position;
}

int LZW_table_init(lzw_table* table, int rootCount)
{
    table->roots = std::min(rootCount, PALETTE_CAPACITY);
    for (int i = 0; i < lzw_table::ENTRIES; ++i) {
        table->length[i] = i < table->roots ? 1 : 0;
        table->position[i] = 0;
    }
    return 1;
}

int buffer_LZW_decode_new(const unsigned char* codes, int startByte, int startBit, int codeCount, int codeWidth,
                          raster_image* frame, int* pixelCount, int* endCode, int* bytePosition)
{
    *endCode = 0;
    *bytePosition = startByte;
    if (!checkPalette(frame)) {
        return 0;
    }
    if (frame->samples == nullptr || frame->sampleType != BYTE_SAMPLES || (frame->planes != 1 && frame->planes != 3)) {
        printError("ERROR in buffer_LZW_decode_new(): The frame needs one or three planes of byte samples.  ");
        printError(CODING_BUG);
        return 0;
    }
    if (codeWidth < 1 || codeWidth > MAX_CODE_WIDTH) {
        std::fprintf(stderr, "ERROR in buffer_LZW_decode_new(): Code width %d outside 1 to 12.  ", codeWidth);
        printError(CODING_BUG);
        return 0;
    }
    LzwDecoder decoder(codes, codeCount, codeWidth, frame, *pixelCount);
    const int decoded = decoder.decode(startByte, startBit, endCode);
    *pixelCount = decoder.pixelCount();
    *bytePosition = decoder.position();
    return decoded;
}

int buffer_find_clear_code(const unsigned char* codes, int codeCount, int codeWidth, int* bytePosition,
                           int* bitPosition)
{
    const uint32_t clear = codeWidth >= 1 && codeWidth <= CLEAR_SEARCH_BITS ? 1u << (codeWidth - 1) : 0;
    const int64_t end = clear == 0 ? 0 : int64_t(codeCount) * 8;
    for (int64_t bit = int64_t(*bytePosition) * 8 + *bitPosition; bit < end; ++bit) {
        if (bitsAt(codes, codeCount, bit) == clear) {
            const int64_t after = std::min(bit + CLEAR_SEARCH_BITS, end);
            *bytePosition = static_cast<int>(after / 8);
            *bitPosition = static_cast<int>(after % 8);
            return 1;
        }
    }
    *bytePosition = codeCount;
    *bitPosition = 0;
    return 0;
}

int buffer_skip_gif_blocks(const unsigned char* bytes, int position, int size, int dataLength)
{
    int64_t at = position;
    int64_t passed = 0;
    while (at < size && passed < dataLength) {
        passed += bytes[at];
        at += int64_t(bytes[at]) + 1;
    }
    return static_cast<int>(std::min<int64_t>(at, size));
}

int buffer_find_block_run(const unsigned char* bytes, int position, int size, int blockSize)
{
    const int64_t stride = int64_t(blockSize) + 1;
    for (int64_t p = std::max(position, 0); p + BLOCK_RUN_LENGTH * int64_t(blockSize) + BLOCK_RUN_LENGTH < size; ++p) {
        int i = 0;
        while (i < BLOCK_RUN_LENGTH && bytes[p + i * stride] == blockSize) {
            ++i;
        }
        if (i == BLOCK_RUN_LENGTH) {
            return static_cast<int>(p);
        }
    }
    return size;
}

int image_GIF_deinterlace(raster_image* frame)
{
    if (frame->samples == nullptr || frame->sampleType != BYTE_SAMPLES) {
        return 0;
    }
    const int64_t width = frame->width;
    const int64_t height = frame->height;
    std::unique_ptr<uint8_t[]> moved(new (std::nothrow) uint8_t[static_cast<std::size_t>(width * height)]);
    if (!moved) {
        return 0;
    }
    // The four passes: every 8th row from 0, every 8th from 4, every 4th
    // from 2, every 2nd from 1.
    const int firstRows[] = {0, 4, 2, 1};
    const int rowSteps[] = {8, 8, 4, 2};
    for (int p = 0; p < frame->planes; ++p) {
        uint8_t* samples = plane(frame, p);
        int64_t stored = 0;
        for (int pass = 0; pass < 4; ++pass) {
            for (int64_t row = firstRows[pass]; row < height; row += rowSteps[pass]) {
                std::memcpy(moved.get() + row * width, samples + stored * width, static_cast<std::size_t>(width));
                ++stored;
            }
        }
        std::memcpy(samples, moved.get(), static_cast<std::size_t>(width * height));
    }
    return 1;
}

int image_GIF_realign(raster_image* frame, const int32_t* points, int count)
{
    const int64_t width = frame->width;
    const int64_t height = frame->height;
    const int64_t size = width * height;
    if (count < 1 || size == 0 || frame->samples == nullptr) {
        return 1;
    }
    raster_image* copied = nullptr;
    if (count > 1 && !image_copy(frame, &copied)) {
        return 0;
    }
    const raster_holder copy(copied);
    zeroFrom(frame, points[0]);
    const std::vector<float> weights = realignWeights(frame->width);
    WorkBudget budget(recoveryAllowance(size * frame->planes));
    int64_t row = points[0] / width;
    for (int i = 0; i + 1 < count && row < height; ++i) {
        const int64_t source = points[i];
        const int64_t span = int64_t(points[i + 1]) - source;
        // A shift only matters when the run it picks is not empty.
        if (source + width > size || span <= 0) {
            continue;
        }
        const int64_t reference = std::max<int64_t>(row - 3, 0) * width;
        const int64_t maxShift = std::min(width - 1, size - width - source);
        const int64_t shift = bestShift(copy.get(), frame, source, reference, maxShift, weights, budget);
        const int64_t run = span - shift;
        if (run <= 0) {
            continue;
        }
        const int64_t target = row * width;
        const int64_t copied = std::min(run, size - target);
        for (int p = 0; p < frame->planes; ++p) {
            std::memcpy(plane(frame, p) + target, plane(copy.get(), p) + source + shift,
                        static_cast<std::size_t>(copied));
        }
        row += run / width;
    }
    return 1;
}

int image_create(raster_image** image, raster_size size, int planes, int sampleType)
{
    *image = nullptr;
    if (planes != 3 && planes != 1) {
        printError("ERROR in image_create(): Incorrect image type\n");
        return 0;
    }
    const int64_t bytes = int64_t(size.width) * size.height * planes;
    if (size.width < 0 || size.height < 0 || bytes > KpImage::KP_MAX_IMAGE_BYTES) {
        return -1;
    }
    raster_holder created(static_cast<raster_image*>(std::calloc(1, sizeof(raster_image))));
    if (!created) {
        return -1;
    }
    raster_image* raster = created.get();
    raster->sampleType = sampleType;
    raster->width = size.width;
    raster->height = size.height;
    raster->planes = planes;
    raster->unitValue = 1;
    raster->bitsPerSample = 8;
    raster->colourModel = planes == 3 ? 2 : 1;
    raster->xResolution = RESOLUTION_DPI;
    raster->yResolution = RESOLUTION_DPI;
    if (sampleType != BYTE_SAMPLES) {
        std::fprintf(stderr, "ERROR in image_create(): Not yet set up to handle type: %d\n", sampleType);
    } else {
        raster->samples = std::calloc(static_cast<std::size_t>(std::max<int64_t>(bytes, 1)), 1);
        if (raster->samples == nullptr) {
            return -1;
        }
        KpPixelBuffer::kpAdviseHugePages(raster->samples, static_cast<std::size_t>(bytes));
    }
    *image = created.release();
    return 1;
}

int image_copy(const raster_image* source, raster_image** destination)
{
    if (source == nullptr || (source->sampleType != BYTE_SAMPLES && source->sampleType != WORD_SAMPLES) ||
        (source->planes != 1 && source->planes != 3) || source->samples == nullptr) {
        printError("ERROR in image_copy(): Unsupported image type\n");
        return 0;
    }
    raster_image* target = *destination;
    if (target != nullptr && target->samples != nullptr &&
        (target->width != source->width || target->height != source->height || target->planes != source->planes ||
         target->sampleType != source->sampleType)) {
        printError("ERROR in image_copy(): Unsupported image type\n");
        return 0;
    }
    const std::size_t bytes = static_cast<std::size_t>(samplesBytes(source));
    raster_holder created;
    if (target == nullptr) {
        created.reset(static_cast<raster_image*>(std::calloc(1, sizeof(raster_image))));
        if (!created) {
            return 0;
        }
        target = created.get();
    }
    if (target->samples == nullptr) {
        void* samples = std::malloc(std::max<std::size_t>(bytes, 1));
        if (samples == nullptr) {
            return 0;
        }
        *target = *source;
        target->samples = samples;
    }
    std::memcpy(target->samples, source->samples, bytes);
    created.release();
    *destination = target;
    return 1;
}

int image_paste(const raster_image* source, raster_image* destination, raster_point at)
{
    if (source == nullptr || destination == nullptr) {
        printError("ERROR in image_paste(): NULL input image\n");
        return 0;
    }
    if (destination->sampleType != BYTE_SAMPLES || source->sampleType != destination->sampleType ||
        (destination->planes != 1 && destination->planes != 3) || (source->planes != 1 && source->planes != 3) ||
        source->samples == nullptr || destination->samples == nullptr) {
        printError("ERROR in image_paste(): Image type currently not supported\n");
        return 0;
    }
    if (at.x < 0 || at.y < 0 || int64_t(destination->width) < int64_t(at.x) + source->width ||
        int64_t(destination->height) < int64_t(at.y) + source->height) {
        printError("ERROR in image_paste(): Overlay image exceeded bounds on output image size\n");
        return 0;
    }
    for (int p = 0; p < destination->planes; ++p) {
        const uint8_t* from = plane(source, std::min(p, source->planes - 1));
        uint8_t* to = plane(destination, p);
        for (int64_t y = 0; y < source->height; ++y) {
            std::memcpy(to + (at.y + y) * destination->width + at.x, from + y * source->width,
                        static_cast<std::size_t>(source->width));
        }
    }
    return 1;
}

void image_free(raster_image* image)
{
    if (image != nullptr) {
        std::free(image->samples);
        std::free(image);
    }
}
