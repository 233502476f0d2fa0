#include "kpgifutilities.h"

#include "gifbuilder.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using gifbuilder::Code;
using gifbuilder::GifFile;

using Raster = raster_holder;

// The outcome of image_read_gif on a copy of the bytes, with what it
// printed on standard error.
struct Decoded {
    int result;
    Raster composite;
    std::string errors;
};

Decoded readGif(const Bytes& file)
{
    unsigned char* bytes = static_cast<unsigned char*>(std::malloc(std::max<std::size_t>(file.size(), 1)));
    std::copy(file.begin(), file.end(), bytes);
    raster_image* composite = reinterpret_cast<raster_image*>(&bytes); // must be overwritten
    testing::internal::CaptureStderr();
    const int result = image_read_gif(bytes, static_cast<int>(file.size()), &composite);
    Decoded decoded{result, Raster(composite), testing::internal::GetCapturedStderr()};
    return decoded;
}

uint8_t* samples(const raster_image* raster)
{
    return static_cast<uint8_t*>(raster->samples);
}

// The red, green, blue samples of pixel (x, y) as 0xRRGGBB.
uint32_t colourAt(const raster_image* raster, int x, int y)
{
    const std::size_t plane = std::size_t(raster->width) * raster->height;
    const std::size_t i = std::size_t(y) * raster->width + x;
    const uint8_t* s = samples(raster);
    return (uint32_t(s[i]) << 16) | (uint32_t(s[plane + i]) << 8) | s[2 * plane + i];
}

// Every pixel of the composite, row by row, as 0xRRGGBB.
std::vector<uint32_t> coloursOf(const raster_image* raster)
{
    std::vector<uint32_t> colours;
    for (int y = 0; y < raster->height; ++y) {
        for (int x = 0; x < raster->width; ++x) {
            colours.push_back(colourAt(raster, x, y));
        }
    }
    return colours;
}

// A 256-colour table in which index i is the colour 0x0100FF * i + 0x10.
std::vector<uint32_t> rampTable()
{
    std::vector<uint32_t> table(256);
    for (uint32_t i = 0; i < 256; ++i) {
        table[i] = (i << 16 | (255 - i) << 8 | (i * 7 % 256));
    }
    return table;
}

Bytes withoutLastByte(Bytes bytes)
{
    bytes.pop_back();
    return bytes;
}

TEST(ImageReadGif, RefusedFilesPrintTheirTextsAndReleaseEverything)
{
    const std::vector<uint32_t> two = {0x000000, 0xFFFFFF};
    const Bytes header = GifFile(2, 2, two).bytes();
    struct Case {
        const char* what;
        Bytes file;
        std::string errors;
    };
    const Case cases[] = {
        {"11 bytes", Bytes(header.begin(), header.begin() + 11),
         "ERROR in image_read_gif(): Minimum size of GIF file header is at least 12 bytes (> 11 read)\n"},
        {"lower-case signature", GifFile(2, 2, two, "gif89a").trailer().bytes(),
         "ERROR in image_read_gif(): May not be a GIF FILE,  SHOULD BE GIF\n"},
        {"unknown version", GifFile(2, 2, two, "GIF88a").trailer().bytes(),
         "ERROR in image_read_gif(): May not be a GIF FILE invalid version number,  SHOULD BE 87a or 89a\n"},
        {"zero width", GifFile(0, 2, two).trailer().bytes(), ""},
        {"65535 x 65535 screen", GifFile(65535, 65535, two).trailer().bytes(),
         "ERROR in image_read_gif(): A logical screen of 65535 x 65535 pixels is too large to decode\n"},
        {"global table cut short", Bytes(header.begin(), header.end() - 1),
         "ERROR in image_read_gif(): File not large enough to support global color table - SEVERELY TRUNCATED "
         "FILE\n"},
        {"local table cut short", withoutLastByte(GifFile(2, 2, two).descriptor(0, 0, 2, 2, two).bytes()),
         "ERROR in image_read_gif(): File not large enough to support local color table; possibly TRUNCATED "
         "FILE\n"},
        {"no minimum code size", GifFile(2, 2, two).descriptor(0, 0, 2, 2).bytes(),
         "ERROR in image_read_gif(): Ran out of data before defining max code size in data segment - probably "
         "truncated file\n"},
        {"short application extension", GifFile(2, 2, two).raw({0x21, 0xFF, 11, 'N', 'E', 'T'}).bytes(),
         "ERROR in image_read_gif(): Not enough data for complete Application extension header\n"},
        {"code above the table",
         GifFile(2, 2, two).descriptor(0, 0, 2, 2).imageData(8, gifbuilder::packCodes({{256, 9}, {259, 9}})).bytes(),
         "WARNING in buffer_LZW_decode_new(): Invalid code encountered\n"
         "ERROR in image_read_gif(): Problem with buffer_LZW_decode_new()\n"},
    };
    for (const Case& c : cases) {
        const Decoded decoded = readGif(c.file);
        EXPECT_EQ(decoded.result, 0) << c.what;
        EXPECT_EQ(decoded.composite, nullptr) << c.what;
        EXPECT_EQ(decoded.errors, c.errors) << c.what;
    }
}

TEST(ImageReadGif, HeaderAndTrailerGiveAWhiteScreen)
{
    const Decoded decoded = readGif(GifFile(5, 3, {0x102030, 0x405060}).trailer().bytes());
    ASSERT_EQ(decoded.result, 1);
    const raster_image* composite = decoded.composite.get();
    EXPECT_EQ(composite->width, 5);
    EXPECT_EQ(composite->height, 3);
    EXPECT_EQ(composite->planes, 3);
    EXPECT_EQ(composite->resultFlag, 1);
    EXPECT_EQ(composite->resultModel, 2);
    EXPECT_EQ(composite->xResolution, 200);
    EXPECT_EQ(composite->yResolution, 200);
    EXPECT_EQ(composite->palette, nullptr);
    EXPECT_EQ(coloursOf(composite), std::vector<uint32_t>(15, 0xFFFFFF));
    EXPECT_EQ(decoded.errors, "");
}

TEST(ImageReadGif, FramesArePastedWhereTheyFitAndTheScanGoesOnPastTrailers)
{
    const std::vector<uint32_t> table = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    const uint32_t W = 0xFFFFFF;
    struct Case {
        const char* what;
        Bytes file;
        std::vector<uint32_t> expected;
    };
    const Case cases[] = {
        {"a frame wider than the screen from its left offset is skipped",
         GifFile(3, 2, table).frame(1, 0, 3, 1, {1, 2, 3}, 2).trailer().bytes(), std::vector<uint32_t>(6, W)},
        {"a frame at an offset",
         GifFile(3, 2, table).frame(1, 1, 2, 1, {1, 2}, 2).trailer().bytes(), {W, W, W, W, 0xFF0000, 0x00FF00}},
        {"a descriptor after a trailer is still decoded",
         GifFile(3, 2, table).trailer().frame(0, 0, 1, 2, {3, 1}, 2).trailer().bytes(),
         {0x0000FF, W, W, 0xFF0000, W, W}},
        {"later frames cover earlier ones",
         GifFile(3, 2, table).frame(0, 0, 3, 2, {1, 1, 1, 1, 1, 1}, 2).frame(2, 0, 1, 2, {2, 3}, 2).bytes(),
         {0xFF0000, 0xFF0000, 0x00FF00, 0xFF0000, 0xFF0000, 0x0000FF}},
        {"extensions are read past",
         GifFile(3, 1, table)
             .raw({0x21, 0xF9, 4, 1, 0, 0, 2, 0})                          // graphic control, index 2 transparent
             .raw({0x21, 0xFE, 3, 'a', 'b', 'c', 0})                       // comment
             .raw({0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 3, 1, 0, 0, 0})
             .raw({0x21, 0x01, 0x00})                                      // unknown label: the label alone
             .frame(0, 0, 3, 1, {2, 3, 1}, 2)
             .trailer()
             .bytes(),
         {0x00FF00, 0x0000FF, 0xFF0000}},
        {"a local table replaces the global one",
         GifFile(2, 1, table).frame(0, 0, 2, 1, {0, 1}, 1, {0x123456, 0x654321}).bytes(), {0x123456, 0x654321}},
        {"without tables the colours are a gray ramp of the size the descriptor gives",
         GifFile(4, 1, {})
             .raw({0x2C, 0, 0, 0, 0, 4, 0, 1, 0, 0x01})
             .imageData(2, gifbuilder::packCodes(gifbuilder::literalCodes({0, 1, 2, 3}, 2)))
             .bytes(),
         {0x000000, 0x3F3F3F, 0x7F7F7F, 0xBFBFBF}},
    };
    for (const Case& c : cases) {
        const Decoded decoded = readGif(c.file);
        ASSERT_EQ(decoded.result, 1) << c.what << ": " << decoded.errors;
        EXPECT_EQ(coloursOf(decoded.composite.get()), c.expected) << c.what;
        EXPECT_EQ(decoded.errors, "") << c.what;
    }
}

// A 1000 x 1000 frame whose stream ends at once; its recovery finds a
// clear code and an end code on the last code byte, which ends the
// recovery, and a run of four 1-byte blocks right after its data sends the
// scan on to whatever follows. So a few bytes cost the frame's whole area.
void addEmptyFrame(GifFile& file)
{
    const Bytes codes = gifbuilder::packCodes({{256, 9}, {257, 9}, {256, 12}, {257, 9}});
    file.descriptor(0, 0, 1000, 1000).imageData(8, codes, 1).raw({1, 0, 1, 0, 1, 0, 1, 0});
}

TEST(ImageReadGif, FramesMayNotCoverFarMorePixelsThanTheFileCanCode)
{
    GifFile bomb(1000, 1000, rampTable());
    for (int frame = 0; frame < 3000; ++frame) {
        addEmptyFrame(bomb);
    }
    const Decoded decoded = readGif(bomb.bytes());
    EXPECT_EQ(decoded.result, 0);
    EXPECT_EQ(decoded.errors, "ERROR in image_read_gif(): The frames of this file cover far more pixels than its "
                              "data can fill - SEVERELY DAMAGED FILE\n");

    // A few such frames are only damage: they load, black.
    GifFile damaged(1000, 1000, rampTable());
    for (int frame = 0; frame < 3; ++frame) {
        addEmptyFrame(damaged);
    }
    const Decoded loaded = readGif(damaged.bytes());
    ASSERT_EQ(loaded.result, 1) << loaded.errors;
    EXPECT_EQ(colourAt(loaded.composite.get(), 999, 999), 0u);
}

TEST(ImageReadGif, MinimumCodeSizeAbove11DecodesWith9BitCodes)
{
    const std::vector<int> indices = {5, 200, 255, 0, 17, 5};
    const Bytes codes = gifbuilder::packCodes(gifbuilder::literalCodes(indices, 8));
    const Decoded decoded = readGif(GifFile(3, 2, rampTable()).descriptor(0, 0, 3, 2).imageData(12, codes).bytes());
    ASSERT_EQ(decoded.result, 1) << decoded.errors;
    std::vector<uint32_t> expected;
    for (int index : indices) {
        expected.push_back(rampTable()[std::size_t(index)]);
    }
    EXPECT_EQ(coloursOf(decoded.composite.get()), expected);
}

TEST(ImageReadGif, InterlacedRowsGoToTheirPasses)
{
    // Stored rows 0..9 of a 1 x 10 frame hold the indices 0..9.
    std::vector<int> stored;
    for (int i = 0; i < 10; ++i) {
        stored.push_back(i);
    }
    GifFile file(1, 10, rampTable());
    file.descriptor(0, 0, 1, 10, {}, true).imageData(8, gifbuilder::packCodes(gifbuilder::literalCodes(stored, 8)));
    const Decoded decoded = readGif(file.bytes());
    ASSERT_EQ(decoded.result, 1) << decoded.errors;
    // Passes: rows 0, 8; row 4; rows 2, 6; rows 1, 3, 5, 7, 9.
    const int storedOfRow[10] = {0, 5, 3, 6, 2, 7, 4, 8, 1, 9};
    for (int row = 0; row < 10; ++row) {
        EXPECT_EQ(colourAt(decoded.composite.get(), 0, row), rampTable()[std::size_t(storedOfRow[row])]) << row;
    }
}

// --- Block chains --------------------------------------------------------

Bytes chain(const std::vector<int>& lengths)
{
    Bytes bytes;
    for (int length : lengths) {
        bytes.push_back(static_cast<uint8_t>(length));
        for (int i = 0; i < length; ++i) {
            bytes.push_back(static_cast<uint8_t>(bytes.size()));
        }
    }
    return bytes;
}

TEST(GifBlocks, ParsingJoinsTheBlocksAndKeepsACommonSizeOfFourEqualLengths)
{
    struct Case {
        const char* what;
        Bytes bytes;
        int joined;
        int position;
        int commonBlockSize;
    };
    const Case cases[] = {
        {"four 255s", chain({255, 255, 255, 255, 0}), 1020, 1025, 255},
        {"255, 100, 255, 255 leaves the caller's value", chain({255, 100, 255, 255, 0}), 865, 870, 7},
        {"three equal lengths are not enough", chain({9, 9, 9, 0}), 27, 31, 7},
        {"four equal lengths of 20, then others", chain({20, 20, 20, 20, 3, 0}), 83, 89, 20},
        {"a block cut by the end gives what exists", Bytes{5, 1, 2}, 2, 3, 7},
        {"no terminator", chain({4, 4}), 8, 10, 7},
        {"nothing at all", Bytes{}, 0, 0, 7},
    };
    for (const Case& c : cases) {
        Bytes joined(c.bytes.size() + 1, 0);
        int length = -1;
        int commonBlockSize = 7;
        const int position = buffer_parse_gif_block_new(c.bytes.data(), 0, static_cast<int>(c.bytes.size()),
                                                        joined.data(), &length, &commonBlockSize);
        EXPECT_EQ(length, c.joined) << c.what;
        EXPECT_EQ(position, c.position) << c.what;
        EXPECT_EQ(commonBlockSize, c.commonBlockSize) << c.what;
    }
    // The data bytes are joined without their length bytes.
    const Bytes bytes = chain({2, 3, 0});
    Bytes joined(bytes.size());
    int length = 0;
    int common = 255;
    buffer_parse_gif_block_new(bytes.data(), 0, static_cast<int>(bytes.size()), joined.data(), &length, &common);
    EXPECT_EQ(Bytes(joined.begin(), joined.begin() + length), (Bytes{1, 2, 4, 5, 6}));
}

TEST(GifBlocks, SkippingCountsDataBytesAndRunsNeedFourEqualBlocks)
{
    const Bytes blocks = chain({3, 2, 0});
    EXPECT_EQ(buffer_skip_gif_blocks(blocks.data(), 0, 8, 3), 4);
    EXPECT_EQ(buffer_skip_gif_blocks(blocks.data(), 0, 8, 4), 7);
    EXPECT_EQ(buffer_skip_gif_blocks(blocks.data(), 0, 8, 100), 8);

    Bytes run = {9, 9};
    const Bytes four = chain({2, 2, 2, 2});
    run.insert(run.end(), four.begin(), four.end());
    run.insert(run.end(), {0, 0});
    // Length bytes at 2, 5, 8, 11; 2 + 4 * 2 + 4 = 14 must lie before the end.
    EXPECT_EQ(buffer_find_block_run(run.data(), 0, static_cast<int>(run.size()), 2), 2);
    EXPECT_EQ(buffer_find_block_run(run.data(), 3, static_cast<int>(run.size()), 2), static_cast<int>(run.size()));
    EXPECT_EQ(buffer_find_block_run(run.data(), 0, 14, 2), 14);
    EXPECT_EQ(buffer_find_block_run(run.data(), 0, static_cast<int>(run.size()), 3), static_cast<int>(run.size()));
}

// --- Codes ---------------------------------------------------------------

TEST(GifCodes, ReadingStopsAtTheEndOfTheCodeBytes)
{
    const Bytes codes = {0xAB, 0xCD};
    uint32_t buffer = 0;
    int bits = 0;
    int position = 0;
    EXPECT_EQ(buffer_read_code(&buffer, &bits, 12, codes.data(), 2, &position), 0xDAB);
    EXPECT_EQ(position, 2);
    // The four bits left, then zeros, and the position stays at the end.
    EXPECT_EQ(buffer_read_code(&buffer, &bits, 12, codes.data(), 2, &position), 0xC);
    EXPECT_EQ(position, 2);
}

TEST(GifCodes, ClearCodeSearchFindsTwelveBitClearCodes)
{
    // A 3-bit code, the 12-bit clear code of a 9-bit stream, an index.
    const Bytes codes = gifbuilder::packCodes({{5, 3}, {256, 12}, {77, 9}});
    int byte = 0;
    int bit = 0;
    EXPECT_EQ(buffer_find_clear_code(codes.data(), static_cast<int>(codes.size()), 9, &byte, &bit), 1);
    EXPECT_EQ(byte * 8 + bit, 15);
    // From after it nothing matches.
    EXPECT_EQ(buffer_find_clear_code(codes.data(), static_cast<int>(codes.size()), 9, &byte, &bit), 0);
    EXPECT_EQ(byte, static_cast<int>(codes.size()));
    EXPECT_EQ(bit, 0);
    // The width names the set bit: a 4-bit stream's clear code is 8.
    const Bytes narrow = gifbuilder::packCodes({{8, 12}, {3, 4}});
    byte = 0;
    bit = 0;
    EXPECT_EQ(buffer_find_clear_code(narrow.data(), static_cast<int>(narrow.size()), 4, &byte, &bit), 1);
    EXPECT_EQ(byte * 8 + bit, 12);
}

// A frame of n pixels in one row whose palette colour i is (i, i, i).
struct Frame {
    Raster palette;
    Raster raster;
};

Frame makeFrame(int pixels, int colours)
{
    raster_image* palette = nullptr;
    raster_image* raster = nullptr;
    EXPECT_EQ(image_create(&palette, {colours, 1}, 3, 0), 1);
    EXPECT_EQ(image_create(&raster, {pixels, 1}, 3, 0), 1);
    for (int i = 0; i < colours; ++i) {
        for (int p = 0; p < 3; ++p) {
            samples(palette)[p * colours + i] = static_cast<uint8_t>(i);
        }
    }
    raster->palette = palette;
    return Frame{Raster(palette), Raster(raster)};
}

TEST(GifCodes, DecoderFollowsTheCodeTable)
{
    struct Case {
        const char* what;
        int minCodeSize;
        int pixels;
        int colours;
        std::vector<Code> codes;
        int result;
        std::vector<int> indices; // decoded pixels
        int endCode;
        std::string errors;
    };
    // Mostly 9-bit streams: clear 256, end 257, the first entry 258.
    const Case cases[] = {
        {"roots and an entry", 8, 8, 4, {{256, 9}, {1, 9}, {2, 9}, {258, 9}, {257, 9}}, 1, {1, 2, 1, 2}, 1, ""},
        {"a code equal to next repeats the previous string and its first byte", 8, 8, 4,
         {{256, 9}, {1, 9}, {258, 9}, {258, 9}, {257, 9}}, 1, {1, 1, 1, 1, 1}, 1, ""},
        {"codes grow a bit wider once next reaches the next power of two", 2, 8, 4,
         {{4, 3}, {1, 3}, {2, 3}, {6, 3}, {5, 4}, {0, 8}}, 1, {1, 2, 1, 2}, 1, ""},
        {"the decoding stops once the last byte is read in", 2, 8, 4, {{4, 3}, {3, 3}}, 1, {}, 0, ""},
        {"a clear code starts the table again", 8, 8, 4, {{256, 9}, {3, 9}, {2, 9}, {256, 9}, {258, 9}}, 0, {3, 2}, 0,
         "WARNING in buffer_LZW_decode_new(): This is a precarious location\n"},
        {"a code above next is invalid", 8, 8, 4, {{256, 9}, {1, 9}, {259, 9}}, 0, {1}, 0,
         "WARNING in buffer_LZW_decode_new(): Invalid code encountered\n"},
        {"a root beyond the palette", 8, 8, 2, {{256, 9}, {1, 9}, {3, 9}}, 0, {1}, 0,
         "ERROR in buffer_LZW_decode_new(): Attempt made to access uninitialized value\n"},
        {"codes between the 256 roots and a wider clear code are empty", 9, 8, 256, {{512, 10}, {255, 10}, {300, 10}},
         0, {255}, 0, "WARNING in buffer_LZW_decode_new(): Invalid code encountered\n"},
        {"a string running past the frame fails", 8, 3, 4, {{256, 9}, {1, 9}, {2, 9}, {258, 9}}, 0, {1, 2}, 0, ""},
        {"a full frame stops before reading on", 8, 2, 4, {{256, 9}, {1, 9}, {2, 9}, {259, 9}}, 1, {1, 2}, 0, ""},
        {"codes running out end the decoding", 8, 8, 4, {{256, 9}, {3, 9}}, 1, {3}, 0, ""},
    };
    for (const Case& c : cases) {
        Frame frame = makeFrame(c.pixels, c.colours);
        const Bytes codes = gifbuilder::packCodes(c.codes);
        int pixelCount = 0;
        int endCode = -1;
        int position = -1;
        testing::internal::CaptureStderr();
        const int result = buffer_LZW_decode_new(codes.data(), 0, 0, static_cast<int>(codes.size()), c.minCodeSize + 1,
                                                 frame.raster.get(), &pixelCount, &endCode, &position);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.errors) << c.what;
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_EQ(endCode, c.endCode) << c.what;
        std::vector<int> indices(samples(frame.raster.get()), samples(frame.raster.get()) + std::min(pixelCount, c.pixels));
        if (c.result == 1) {
            EXPECT_EQ(indices, c.indices) << c.what;
        } else {
            indices.resize(c.indices.size());
            EXPECT_EQ(indices, c.indices) << c.what;
        }
    }
}

TEST(GifCodes, DecoderNeedsAPalette)
{
    Frame frame = makeFrame(4, 4);
    frame.raster->palette = nullptr;
    const Bytes codes = gifbuilder::packCodes({{256, 9}, {1, 9}});
    int pixelCount = 0;
    int endCode = 0;
    int position = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(buffer_LZW_decode_new(codes.data(), 0, 0, 3, 9, frame.raster.get(), &pixelCount, &endCode, &position), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR in buffer_LZW_decode_new(): No color palette defined.  THIS IS A CODING BUG - SHOULD NEVER HAPPEN\n");
}

// --- Recovery --------------------------------------------------------------

// Codes of the 8 x 8 gradient whose column x has index 255 - x (indices
// whose bits never give eight zeros in a row, so that no false clear code
// appears), for pixels first .. first + count - 1.
std::vector<Code> gradientCodes(int first, int count)
{
    std::vector<Code> codes;
    for (int i = first; i < first + count; ++i) {
        codes.push_back({255 - i % 8, 9});
    }
    return codes;
}

TEST(ImageReadGif, AStreamEndingHalfWayIsRecoveredAndRealigned)
{
    // The stream ends after 32 of 64 pixels. A 12-bit clear code follows,
    // then, past 80 more clear codes (so that the resumed decoding reads
    // over 100 code bytes), three stray pixels and the other 29 pixels.
    std::vector<Code> codes = {{256, 9}};
    const std::vector<Code> top = gradientCodes(0, 32);
    codes.insert(codes.end(), top.begin(), top.end());
    codes.push_back({257, 9});
    codes.push_back({256, 12});
    codes.insert(codes.end(), 80, Code{256, 9});
    codes.insert(codes.end(), 3, Code{247, 9});
    const std::vector<Code> rest = gradientCodes(0, 29);
    codes.insert(codes.end(), rest.begin(), rest.end());
    codes.push_back({257, 9});
    const Decoded decoded =
        readGif(GifFile(8, 8, rampTable()).descriptor(0, 0, 8, 8).imageData(8, gifbuilder::packCodes(codes)).bytes());
    ASSERT_EQ(decoded.result, 1) << decoded.errors;
    EXPECT_EQ(decoded.errors, "");

    // The resumed run is shifted by the three stray pixels to match the
    // rows above and starts the first row the first decoding did not
    // reach; what it cannot fill stays black.
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const uint32_t expected = y == 7 && x >= 5 ? 0x000000 : rampTable()[std::size_t(255 - x)];
            EXPECT_EQ(colourAt(decoded.composite.get(), x, y), expected) << x << "," << y;
        }
    }
}

TEST(ImageReadGif, AShortStreamWithNothingToResumeLeavesTheRestBlack)
{
    std::vector<Code> codes = {{256, 9}};
    const std::vector<Code> top = gradientCodes(0, 20);
    codes.insert(codes.end(), top.begin(), top.end());
    codes.push_back({257, 9});
    const Decoded decoded =
        readGif(GifFile(8, 4, rampTable()).descriptor(0, 0, 8, 4).imageData(8, gifbuilder::packCodes(codes)).bytes());
    ASSERT_EQ(decoded.result, 1) << decoded.errors;
    const std::vector<uint32_t> colours = coloursOf(decoded.composite.get());
    for (std::size_t i = 0; i < colours.size(); ++i) {
        EXPECT_EQ(colours[i], i < 20 ? rampTable()[255 - i % 8] : 0) << i;
    }
}

TEST(ImageReadGif, AFullListOfRecoveryPointsEndsTheRecoveryWithoutReadingTheTerminal)
{
    // The stream of a 10 x 10 frame ends at once. Each recovery cycle finds
    // the 12-bit clear code and reads over 100 bytes of clear codes, which
    // adds a recovery point; the list holds 100. The file position moves a
    // byte per cycle through a run of four 30-byte blocks after the data.
    std::vector<Code> codes = {{256, 9}, {257, 9}, {256, 12}};
    codes.insert(codes.end(), 103, Code{256, 9});
    const Bytes codeBytes = gifbuilder::packCodes(codes);
    ASSERT_EQ(codeBytes.size(), 120u);
    Bytes tail;
    for (int block = 0; block < 4; ++block) {
        tail.push_back(30);
        tail.insert(tail.end(), 30, 0);
    }
    tail.insert(tail.end(), 126, 0);
    const Bytes file =
        GifFile(10, 10, rampTable()).descriptor(0, 0, 10, 10).imageData(8, codeBytes, 30).raw(tail).bytes();

    testsupport::StandardInputSentinel input;
    const Decoded decoded = readGif(file);
    EXPECT_TRUE(input.untouched());
    ASSERT_EQ(decoded.result, 1) << decoded.errors;
    EXPECT_EQ(decoded.errors, "In image_read_gif(): MORE MEMORY SHOULD BE ADDED FOR POSSBIlE ERROR LOCATIONS\n");
    EXPECT_EQ(coloursOf(decoded.composite.get()), std::vector<uint32_t>(100, 0));
}

TEST(GifRealign, RunsThatWouldCopyNothingAreSkipped)
{
    Frame frame = makeFrame(8, 1);
    frame.raster->width = 4;
    frame.raster->height = 2;
    for (int i = 0; i < 24; ++i) {
        samples(frame.raster.get())[i] = static_cast<uint8_t>(i + 1);
    }
    // The second point lies before the first: there is no run to copy.
    const int32_t points[] = {4, 2};
    EXPECT_EQ(image_GIF_realign(frame.raster.get(), points, 2), 1);
    const Bytes expected = {1, 2, 3, 4, 0, 0, 0, 0, 9, 10, 11, 12, 0, 0, 0, 0, 17, 18, 19, 20, 0, 0, 0, 0};
    EXPECT_EQ(Bytes(samples(frame.raster.get()), samples(frame.raster.get()) + 24), expected);
}

// --- Rasters ----------------------------------------------------------------

TEST(GifRasters, CreateCopyAndPasteCheckTheirArguments)
{
    raster_image* image = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(image_create(&image, {2, 2}, 2, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR in image_create(): Incorrect image type\n");
    EXPECT_EQ(image, nullptr);

    testing::internal::CaptureStderr();
    EXPECT_EQ(image_create(&image, {2, 2}, 1, 3), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR in image_create(): Not yet set up to handle type: 3\n");
    const Raster words(image);
    EXPECT_EQ(words->samples, nullptr);

    raster_image* gray = nullptr;
    ASSERT_EQ(image_create(&gray, {2, 2}, 1, 0), 1);
    const Raster source(gray);
    std::memcpy(gray->samples, "\x01\x02\x03\x04", 4);
    raster_image* rgb = nullptr;
    ASSERT_EQ(image_create(&rgb, {3, 3}, 3, 0), 1);
    const Raster canvas(rgb);
    EXPECT_EQ(rgb->colourModel, 2);
    EXPECT_EQ(rgb->bitsPerSample, 8);

    // A one-plane source fills every plane.
    EXPECT_EQ(image_paste(gray, rgb, {1, 1}), 1);
    for (int p = 0; p < 3; ++p) {
        const uint8_t* plane = samples(rgb) + 9 * p;
        EXPECT_EQ(Bytes(plane, plane + 9), (Bytes{0, 0, 0, 0, 1, 2, 0, 3, 4})) << p;
    }
    struct Case {
        const char* what;
        const raster_image* source;
        raster_image* destination;
        raster_point at;
        std::string errors;
    };
    const Case cases[] = {
        {"null source", nullptr, rgb, {0, 0}, "ERROR in image_paste(): NULL input image\n"},
        {"four-byte destination", gray, words.get(), {0, 0}, "ERROR in image_paste(): Image type currently not supported\n"},
        {"past the right edge", gray, rgb, {2, 0}, "ERROR in image_paste(): Overlay image exceeded bounds on output image size\n"},
        {"left of the left edge", gray, rgb, {-1, 0}, "ERROR in image_paste(): Overlay image exceeded bounds on output image size\n"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(image_paste(c.source, c.destination, c.at), 0) << c.what;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.errors) << c.what;
    }

    raster_image* copy = nullptr;
    ASSERT_EQ(image_copy(rgb, &copy), 1);
    const Raster copied(copy);
    EXPECT_NE(copy->samples, rgb->samples);
    EXPECT_EQ(Bytes(samples(copy), samples(copy) + 27), Bytes(samples(rgb), samples(rgb) + 27));
    raster_image* mismatched = gray;
    testing::internal::CaptureStderr();
    EXPECT_EQ(image_copy(rgb, &mismatched), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR in image_copy(): Unsupported image type\n");
}

} // namespace
