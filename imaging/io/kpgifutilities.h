#ifndef DOVODA_KPGIFUTILITIES_H
#define DOVODA_KPGIFUTILITIES_H

#include <cstdint>
#include <cstdlib>
#include <memory>

// The GIF decoding utilities: plain functions that turn the complete bytes
// of a GIF file into one composite RGB raster. They report problems as text
// on standard error and return 1 for success and 0 for failure; only
// buffer_parse_gif_block_new may throw (a KpException of code 13).
//
// image_read_gif pastes every frame of a file whole onto a white composite
// at its offset, in file order: no disposal, no transparency. A frame whose
// code stream ends before the frame is full is recovered: decoding resumes
// at later clear codes of the stream and the resumed runs are shifted back
// into row alignment (image_GIF_realign).

// The raster record of the group. Samples are planar: plane p starts at
// p * width * height. Records and their sample blocks are plain heap blocks
// created zero-filled by image_create and released with image_free.
struct raster_image {
    void* samples;          // one byte per sample when sampleType is 0
    int32_t sampleType;     // 0 byte samples; 3 four-byte samples (only image_copy handles them)
    int32_t resultFlag;     // 1 on the composite of image_read_gif, else 0
    int32_t width;
    int32_t height;
    int32_t planes;         // 3 (red, green, blue) or 1
    int32_t unitValue;      // 1
    int32_t bitsPerSample;  // 8
    int32_t auxCount;       // 0
    int32_t colourModel;    // 2 for three planes, 1 for one plane
    int32_t resultModel;    // 2 on the composite of image_read_gif, else 0
    int32_t xResolution;    // 200 dots per inch
    int32_t yResolution;    // 200 dots per inch
    int32_t reservedWords[6];
    raster_image* palette;  // a frame's colour table (not owned): one row of
                            // width colours, red, green and blue planes
};

struct raster_size {
    int32_t width;
    int32_t height;
};

struct raster_point {
    int32_t x;
    int32_t y;
};

// The string table of the LZW decoder. Every string the decoder emits is
// written into the frame, and a table entry is always the previous code's
// string plus one byte, which the frame holds right after that string; so
// an entry is kept as the place (pixel index) where its bytes already are
// and its length. Roots are the one-byte strings 0 .. roots - 1; an entry
// of length 0 is empty.
struct lzw_table {
    static constexpr int ENTRIES = 4096;
    int32_t roots;
    int32_t length[ENTRIES];
    int32_t position[ENTRIES];
};

// Decodes a whole GIF file. bytes must come from malloc(); the call takes
// it over and releases it in every outcome. On success *result receives
// the composite (three planes of the logical screen's size, white where no
// frame was pasted, 200 dpi), which the caller releases with image_free;
// on failure *result is null.
int image_read_gif(unsigned char* bytes, int size, raster_image** result);

// Joins the length-prefixed data sub-blocks that start at position into
// destination (which must hold size - position bytes); a zero length ends
// the chain and is consumed, a block reaching past size contributes the
// bytes that exist. *length receives the joined length. When the first
// four block lengths are all equal, that length is stored in
// *commonBlockSize; otherwise it keeps the caller's value. Returns the
// position after the chain.
int buffer_parse_gif_block_new(const unsigned char* bytes, int position, int size, unsigned char* destination,
                               int* length, int* commonBlockSize);

// Decodes LZW codes of codeWidth (1 to 12) bits into the frame, from bit
// startBit of byte startByte of the codeCount code bytes, starting at pixel
// *pixelCount. Each emitted palette index v puts the palette's colour v
// into every plane of the frame. Stops at the end code (*endCode = 1), once
// the frame is full or when the code bytes run out (success), or at a
// malformed code (failure, with a message). Reports the pixel count and
// the byte position reached.
int buffer_LZW_decode_new(const unsigned char* codes, int startByte, int startBit, int codeCount, int codeWidth,
                          raster_image* frame, int* pixelCount, int* endCode, int* bytePosition);

// Reads one code of width (1 to 24) bits, least significant bit first:
// while fewer than width bits are buffered the next byte is ORed in above
// them. Bits beyond the codeCount code bytes read as 0 and do not move
// *bytePosition past codeCount.
inline int buffer_read_code(uint32_t* bitBuffer, int* bitCount, int width, const unsigned char* codes,
                            int codeCount, int* bytePosition)
{
    while (*bitCount < width) {
        if (*bytePosition < codeCount) {
            *bitBuffer |= uint32_t(codes[*bytePosition]) << *bitCount;
            ++*bytePosition;
        }
        *bitCount += 8;
    }
    const int code = static_cast<int>(*bitBuffer & ((1u << width) - 1));
    *bitBuffer >>= width;
    *bitCount -= width;
    return code;
}

// Empties the table and sets the roots: min(rootCount, 256) one-byte
// strings. Returns 1.
int LZW_table_init(lzw_table* table, int rootCount);

// Searches bit positions from (*bytePosition, *bitPosition), least
// significant bit first, for 12 bits of which only bit number
// codeWidth - 1 is set: a 12-bit clear code of a stream whose codes start
// codeWidth bits wide. Found: the position right after those 12 bits and
// 1. Not found: (codeCount, 0) and 0.
int buffer_find_clear_code(const unsigned char* codes, int codeCount, int codeWidth, int* bytePosition,
                           int* bitPosition);

// Walks a sub-block chain from position until the position reaches size
// or the block lengths passed sum to dataLength; returns the position
// (at most size).
int buffer_skip_gif_blocks(const unsigned char* bytes, int position, int size, int dataLength);

// The first position p from position on where four sub-blocks of
// blockSize bytes follow one another (length bytes at p + i *
// (blockSize + 1), i = 0..3) and p + 4 * blockSize + 4 lies before size;
// size when there is none.
int buffer_find_block_run(const unsigned char* bytes, int position, int size, int blockSize);

// Moves the rows of an interlaced frame, stored in the order of the four
// passes, to their places. 0 when the frame has no byte samples or memory
// runs out.
int image_GIF_deinterlace(raster_image* frame);

// Shifts the runs decoded after the recovery points back into row
// alignment: points[0] is where the first decoding stopped, points[i] for
// i >= 1 the pixel count each accepted resumption reached. 0 when memory
// runs out.
int image_GIF_realign(raster_image* frame, const int32_t* points, int count);

// A new zero-filled raster of 1 or 3 planes: 1, or 0 for another plane
// count (with a message), or -1 when memory runs out or the size passes
// KpImage::KP_MAX_IMAGE_BYTES. A sample type other than 0 gives a record
// without samples (with a message).
int image_create(raster_image** image, raster_size size, int planes, int sampleType);

// Copies a raster. A null *destination becomes a field-for-field copy with
// its own samples; a destination without samples takes the source's
// fields and gets samples; a destination with samples must have the
// source's size, planes and sample type. 1, or 0 with a message.
int image_copy(const raster_image* source, raster_image** destination);

// Copies the source into every plane of the destination with its top left
// corner at (x, y) (a one-plane source fills every plane). 1, or 0 with a
// message when either is null, the types differ or the source does not fit.
int image_paste(const raster_image* source, raster_image* destination, raster_point at);

// Releases a raster and its samples (not its palette). Null is allowed.
void image_free(raster_image* image);

// Holders that release on every path: a raster (through image_free) and a
// block from malloc(), such as the bytes handed to image_read_gif.
struct raster_release {
    void operator()(raster_image* image) const { image_free(image); }
};
using raster_holder = std::unique_ptr<raster_image, raster_release>;

struct malloc_release {
    void operator()(void* block) const { std::free(block); }
};
using gif_bytes_holder = std::unique_ptr<unsigned char, malloc_release>;

#endif
