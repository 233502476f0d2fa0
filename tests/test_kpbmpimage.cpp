#include "kpbmpimage.h"

#include "kpexception.h"
#include "kplogger.h"
#include "testsupport.h"

#include <csignal>
#include <dirent.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::expectFailure;
using testsupport::grayOfBinary;
using testsupport::pixelsOf;

const char* const PEER = "/usr/bin/convert";
const char* const UNKNOWN_FORMAT = "<KpBMPImage::kpLoadImage()> Unknown File Format";
const char* const NOT_POSITIVE =
    "<KpBMPImage::kpLoadImage()> Unknown File Format. Size, width, and height must be postive values.";

KpBMPImage* codec()
{
    return KpBMPImage::kpGetInstance();
}

void putLittleEndian(Bytes& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

// The parts of a bitmap file, written the way other programs lay them
// out: masks after the first 40 header bytes, the header padded with
// zeros to headerSize, the palette, a gap, then the pixel data.
struct BmpLayout {
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t headerSize = 40;
    std::vector<uint32_t> palette; // 0xRRGGBB
    uint32_t coloursUsed = 0;
    std::vector<uint32_t> masks;
    uint32_t gap = 0;
    Bytes pixels;
    const char* signature = "BM";
};

Bytes encode(const BmpLayout& layout)
{
    Bytes body;
    putLittleEndian(body, layout.headerSize, 4);
    putLittleEndian(body, static_cast<uint32_t>(layout.width), 4);
    putLittleEndian(body, static_cast<uint32_t>(layout.height), 4);
    putLittleEndian(body, 1, 2);
    putLittleEndian(body, layout.bits, 2);
    putLittleEndian(body, layout.compression, 4);
    putLittleEndian(body, static_cast<uint32_t>(layout.pixels.size()), 4);
    putLittleEndian(body, 2835, 4);
    putLittleEndian(body, 2835, 4);
    putLittleEndian(body, layout.coloursUsed, 4);
    putLittleEndian(body, 0, 4);
    for (uint32_t mask : layout.masks) {
        putLittleEndian(body, mask, 4);
    }
    if (body.size() < layout.headerSize) {
        body.resize(layout.headerSize, 0);
    }
    for (uint32_t colour : layout.palette) {
        putLittleEndian(body, colour & 0xFF, 1);
        putLittleEndian(body, (colour >> 8) & 0xFF, 1);
        putLittleEndian(body, colour >> 16, 1);
        putLittleEndian(body, 0, 1);
    }
    body.resize(body.size() + layout.gap, 0);
    const uint32_t offset = 14 + static_cast<uint32_t>(body.size());
    body.insert(body.end(), layout.pixels.begin(), layout.pixels.end());

    Bytes file(layout.signature, layout.signature + 2);
    putLittleEndian(file, 14 + static_cast<uint32_t>(body.size()), 4);
    putLittleEndian(file, 0, 4);
    putLittleEndian(file, offset, 4);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// Stored rows, each padded with zeros to a multiple of 4 bytes.
Bytes paddedRows(const std::vector<Bytes>& rows)
{
    Bytes out;
    for (const Bytes& row : rows) {
        out.insert(out.end(), row.begin(), row.end());
        out.resize((out.size() + 3) / 4 * 4, 0);
    }
    return out;
}

KpImage load(Bytes file)
{
    return codec()->kpLoadImage(file.data(), static_cast<int>(file.size()));
}

// Appends the red, green, blue bytes of a 0xRRGGBB colour.
void appendColour(Bytes& pixels, uint32_t colour)
{
    pixels.insert(pixels.end(), {uint8_t(colour >> 16), uint8_t(colour >> 8), uint8_t(colour)});
}

Bytes savedToMemory(KpImage& image)
{
    return testsupport::savedToMemory(*codec(), image);
}

uint32_t fieldOf(const Bytes& file, std::size_t offset, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | file.at(offset + i);
    }
    return value;
}

TEST(KpBMPImage, ColourFileRowsArePaddedBottomUpAndBlueFirst)
{
    // 3 x 2: rows of 9 bytes plus 3 padding bytes, the bottom row first.
    BmpLayout layout;
    layout.width = 3;
    layout.height = 2;
    layout.pixels = paddedRows({{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}});
    const Bytes file = encode(layout);
    ASSERT_EQ(file.size(), 54u + 24u);

    KpImage image = load(file);
    EXPECT_EQ(image.kpGetDepth(), 24);
    EXPECT_EQ(image.kpGetReserved1(), 1);
    EXPECT_FLOAT_EQ(image.kpGetXResolution(), 2835.0f);
    EXPECT_EQ(pixelsOf(image), Bytes({12, 11, 10, 15, 14, 13, 18, 17, 16, 3, 2, 1, 6, 5, 4, 9, 8, 7}));

    // Our writer lays the same image out byte for byte the same way.
    EXPECT_EQ(savedToMemory(image), file);
}

TEST(KpBMPImage, ColourRowsOfEveryWidthSwapTheirOuterBytes)
{
    // Widths around the 16-pixel blocks of the fast row conversion, and
    // an image written in several pieces; the stored bytes are checked
    // against the rule written out plainly.
    const std::pair<int, int> sizes[] = {{1, 3}, {2, 3}, {17, 3}, {18, 3}, {19, 3}, {33, 3},
                                         {34, 3}, {50, 3}, {101, 3}, {300, 400}};
    for (const auto& size : sizes) {
        const int width = size.first;
        const int height = size.second;
        SCOPED_TRACE(width);
        KpImage image(width, height, 24);
        for (std::size_t i = 0; i < image.kpGetImageSize(); ++i) {
            image.kpGetData()[i] = static_cast<uint8_t>(i * 131 + i / 7 + width);
        }
        const Bytes file = savedToMemory(image);
        const std::size_t stride = (3 * std::size_t(width) + 3) / 4 * 4;
        ASSERT_EQ(file.size(), 54 + height * stride);
        for (int y = 0; y < height; ++y) {
            const uint8_t* stored = file.data() + 54 + std::size_t(height - 1 - y) * stride;
            for (int x = 0; x < width; ++x) {
                uint8_t r, g, b;
                image.kpGetPixel(x, y, &r, &g, &b);
                ASSERT_EQ(Bytes(stored + 3 * x, stored + 3 * x + 3), Bytes({b, g, r})) << x << "," << y;
            }
        }
        EXPECT_EQ(pixelsOf(load(file)), pixelsOf(image));
    }
}

TEST(KpBMPImage, GrayImageSavesWithRampPaletteAndLoadsAsColour)
{
    KpImage gray = testsupport::grayFromPicture({"#.5", "12."});
    const Bytes file = savedToMemory(gray);
    EXPECT_EQ(fieldOf(file, 28, 2), 8u);
    EXPECT_EQ(fieldOf(file, 10, 4), 54u + 1024u);
    EXPECT_EQ(fieldOf(file, 54 + 4 * 200, 4), 0xC8C8C8C8u);
    EXPECT_EQ(file.size(), 54u + 1024u + 8u);

    KpImage colour = load(file);
    ASSERT_EQ(colour.kpGetDepth(), 24);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            uint8_t r, g, b;
            colour.kpGetPixel(x, y, &r, &g, &b);
            const uint8_t expected = gray.kpGetPixelScale(x, y);
            EXPECT_EQ(r, expected);
            EXPECT_EQ(g, expected);
            EXPECT_EQ(b, expected);
        }
    }
}

TEST(KpBMPImage, BinaryImageRoundTripsThroughFileAndMemory)
{
    const std::vector<std::string> picture = {"#..#.##.#.#", ".#.#..#####", "###.....#.."};
    KpImage binary(11, 3, 1);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 11; ++x) {
            binary.kpSetPixel(x, y, picture[y][x] == '#' ? 0 : 255);
        }
    }
    const std::string path = testsupport::makeTempDir() + "/binary.bmp";
    codec()->kpSaveImage(path.c_str(), binary);
    for (KpImage loaded : {codec()->kpLoadImage(path.c_str()), load(savedToMemory(binary))}) {
        EXPECT_EQ(loaded.kpGetDepth(), 1);
        EXPECT_EQ(loaded.kpGetReserved1(), 0);
        EXPECT_EQ(testsupport::pictureOf(loaded), picture);
    }
}

TEST(KpBMPImage, BinaryPaletteDecidesWhichBitIsWhite)
{
    struct Case {
        const char* name;
        std::vector<uint32_t> palette;
        uint32_t coloursUsed;
        const char* expected; // the picture of stored bits 1010 0000
    };
    const Case cases[] = {
        {"black first", {0x000000, 0xFFFFFF}, 0, ".#.#"},
        {"white first", {0xFFFFFF, 0x000000}, 0, "#.#."},
        {"dark blue and yellow", {0x000080, 0xFFFF00}, 0, ".#.#"},
        {"one entry: the missing one is white", {0x000000}, 1, ".#.#"},
    };
    for (const Case& c : cases) {
        BmpLayout layout;
        layout.width = 4;
        layout.bits = 1;
        layout.palette = c.palette;
        layout.coloursUsed = c.coloursUsed;
        layout.pixels = paddedRows({{0xA0}});
        EXPECT_EQ(testsupport::pictureOf(load(encode(layout))), std::vector<std::string>({c.expected})) << c.name;
    }
}

TEST(KpBMPImage, IndexedRowsUsePaletteAfterAnyHeaderSize)
{
    std::vector<uint32_t> palette16;
    for (uint32_t i = 0; i < 16; ++i) {
        palette16.push_back(i * 0x010203u);
    }
    struct Case {
        const char* name;
        uint16_t bits;
        uint32_t headerSize;
        uint32_t coloursUsed;
        uint32_t gap;
        Bytes row;
        Bytes expected;
    };
    const Case cases[] = {
        // Width 5: 3 bytes, the fifth pixel in the high nibble of the third.
        {"4 bits, width 5", 4, 40, 0, 0, {0x12, 0x34, 0x5F}, {}},
        {"4 bits, 124-byte header, 6 colours, gap", 4, 124, 6, 10, {0x12, 0x34, 0x5F}, {}},
        {"8 bits, 108-byte header", 8, 108, 16, 0, {1, 2, 3, 4, 5}, {}},
    };
    for (const Case& c : cases) {
        BmpLayout layout;
        layout.width = 5;
        layout.bits = c.bits;
        layout.headerSize = c.headerSize;
        layout.coloursUsed = c.coloursUsed;
        layout.palette.assign(palette16.begin(), palette16.begin() + (c.coloursUsed ? c.coloursUsed : 16));
        layout.gap = c.gap;
        layout.pixels = paddedRows({c.row});
        EXPECT_EQ(layout.pixels.size(), 4u + (c.bits == 8 ? 4u : 0u));
        const KpImage image = load(encode(layout));
        Bytes expected;
        for (uint32_t index : {1, 2, 3, 4, 5}) {
            appendColour(expected, index < layout.palette.size() ? layout.palette[index] : 0xFFFFFF);
        }
        EXPECT_EQ(pixelsOf(image), expected) << c.name;
    }
}

TEST(KpBMPImage, SixteenBitPixelsScaleTheirChannels)
{
    // One pixel per case: 5-5-5 without masks, 5-6-5 and 4-4-4 with masks.
    struct Case {
        const char* name;
        uint32_t compression;
        std::vector<uint32_t> masks;
        uint32_t headerSize;
        uint16_t pixel;
        Bytes expected;
    };
    const Case cases[] = {
        {"5-5-5 default", 0, {}, 40, 0x7FFF, {255, 255, 255}},
        {"5-5-5 halves", 0, {}, 40, (16 << 10) | (1 << 5) | 31, {132, 8, 255}},
        {"5-6-5 masks after a 40-byte header", 3, {0xF800, 0x07E0, 0x001F}, 40, (31 << 11) | (32 << 5), {255, 130, 0}},
        {"4-4-4 masks inside a 124-byte header", 3, {0x0F00, 0x00F0, 0x000F}, 124, 0x0F80, {255, 136, 0}},
    };
    for (const Case& c : cases) {
        BmpLayout layout;
        layout.bits = 16;
        layout.compression = c.compression;
        layout.masks = c.masks;
        layout.headerSize = c.headerSize;
        layout.pixels = paddedRows({{uint8_t(c.pixel), uint8_t(c.pixel >> 8)}});
        const KpImage image = load(encode(layout));
        EXPECT_EQ(image.kpGetDepth(), 24) << c.name;
        EXPECT_EQ(pixelsOf(image), c.expected) << c.name;
    }
}

TEST(KpBMPImage, RunLengthDataIsDecoded)
{
    const std::vector<uint32_t> palette = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF};
    struct Case {
        const char* name;
        uint32_t compression;
        uint16_t bits;
        Bytes data;
        std::vector<std::string> expected; // top row first; digits are palette indices
    };
    const Case cases[] = {
        {"RLE8 runs, literal with padding, end of line, end of bitmap",
         1, 8, {3, 2, 0, 3, 1, 4, 3, 0, 0, 0, 5, 1, 0, 1}, {"11111", "22214"}},
        {"RLE8 delta skips pixels, which keep index 0", 1, 8, {1, 3, 0, 2, 2, 1, 1, 4, 0, 1}, {"00040", "30000"}},
        {"RLE8 runs beyond the row end are cut, no end mark", 1, 8, {9, 4, 0, 0, 2, 2}, {"22000", "44444"}},
        {"RLE4 runs alternate nibbles, literal nibbles padded", 2, 4,
         {5, 0x12, 0, 0, 0, 3, 0x34, 0x10, 0, 1}, {"34100", "12121"}},
    };
    for (const Case& c : cases) {
        BmpLayout layout;
        layout.width = 5;
        layout.height = 2;
        layout.bits = c.bits;
        layout.compression = c.compression;
        layout.palette = palette;
        layout.coloursUsed = static_cast<uint32_t>(palette.size());
        layout.pixels = c.data;
        const KpImage image = load(encode(layout));
        Bytes expected;
        for (const std::string& row : c.expected) {
            for (char index : row) {
                appendColour(expected, palette[index - '0']);
            }
        }
        EXPECT_EQ(pixelsOf(image), expected) << c.name;
    }
}

TEST(KpBMPImage, HostileHeadersAreRefused)
{
    BmpLayout valid;
    valid.width = 2;
    valid.height = 2;
    valid.pixels = paddedRows({Bytes(6, 7), Bytes(6, 8)});
    struct Case {
        const char* name;
        void (*change)(BmpLayout&);
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"top-down (negative height)", [](BmpLayout& l) { l.height = -2; }, 4, NOT_POSITIVE},
        {"zero width", [](BmpLayout& l) { l.width = 0; }, 4, NOT_POSITIVE},
        {"zero height", [](BmpLayout& l) { l.height = 0; }, 4, NOT_POSITIVE},
        {"zero header size", [](BmpLayout& l) { l.headerSize = 0; }, 4, NOT_POSITIVE},
        {"zero bits", [](BmpLayout& l) { l.bits = 0; }, 4, NOT_POSITIVE},
        {"wrong magic", [](BmpLayout& l) { l.signature = "MB"; }, 4,
         "Unknown File Format. The file does not begin with \"BM\"."},
        {"old 12-byte header", [](BmpLayout& l) { l.headerSize = 12; }, 4,
         "Unsupported BMP info header of 12 bytes: only headers of 40 bytes or more are read."},
        {"compression 4", [](BmpLayout& l) { l.compression = 4; }, 4,
         "<KpBMPImage::kpLoadImage()> Unknown BMP Compression Method.  Possible compression types are 0-3."},
        {"run-length data for 24 bits", [](BmpLayout& l) { l.compression = 1; }, 4,
         "Compression type 1 does not apply to 24 bits per pixel."},
        {"32 bits", [](BmpLayout& l) { l.bits = 32; }, 11, "Encountered unsupported infoheader.bits in bmp file"},
        {"2^31 x 2^31 pixels", [](BmpLayout& l) { l.width = l.height = 0x7FFFFFFF; }, 13, ""},
        {"1-bit, 2^31 x 2^31 pixels", [](BmpLayout& l) { l.width = l.height = 0x7FFFFFFF; l.bits = 1; }, 13, ""},
        {"65536 x 65536 palette pixels", [](BmpLayout& l) { l.width = l.height = 65536; l.bits = 8; }, 13, ""},
        {"a large image in a small file", [](BmpLayout& l) { l.width = 20000; l.height = 5000; }, 4, UNKNOWN_FORMAT},
        {"run-length file without data size", [](BmpLayout& l) { l.bits = 8; l.compression = 1; l.palette.assign(256, 0);
                                                                  l.pixels.clear(); },
         4, "A run-length compressed file must state the size of its data."},
        {"non-contiguous 16-bit mask", [](BmpLayout& l) { l.bits = 16; l.compression = 3;
                                                           l.masks = {0x7C01, 0x03E0, 0x001E}; }, 4,
         "must be single runs of bits within 16 bits."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BmpLayout layout = valid;
        c.change(layout);
        expectFailure([&] { load(encode(layout)); }, c.code, c.text);
    }

    // A pixel offset inside the palette.
    BmpLayout indexed = valid;
    indexed.bits = 8;
    indexed.palette.assign(256, 0);
    Bytes file = encode(indexed);
    file[10] = 54 + 16;
    file[11] = 0;
    expectFailure([&] { load(file); }, 4, "The pixel data offset 70 lies inside the headers or the palette.");
}

TEST(KpBMPImage, EveryTruncationFailsCleanly)
{
    BmpLayout colour;
    colour.width = 5;
    colour.height = 3;
    colour.headerSize = 124;
    colour.pixels = paddedRows({Bytes(15, 1), Bytes(15, 2), Bytes(15, 3)});
    BmpLayout runLength;
    runLength.width = 5;
    runLength.height = 2;
    runLength.bits = 8;
    runLength.compression = 1;
    runLength.palette = {0, 0xFFFFFF};
    runLength.coloursUsed = 2;
    runLength.pixels = {5, 1, 0, 0, 5, 0, 0, 1};
    BmpLayout sixteen;
    sixteen.width = 3;
    sixteen.height = 2;
    sixteen.bits = 16;
    sixteen.compression = 3;
    sixteen.masks = {0xF800, 0x07E0, 0x001F};
    sixteen.pixels = paddedRows({Bytes(6, 1), Bytes(6, 2)});
    for (const BmpLayout& layout : {colour, runLength, sixteen}) {
        const Bytes file = encode(layout);
        ASSERT_NO_THROW(load(file));
        for (std::size_t length = 0; length < file.size(); ++length) {
            Bytes truncated(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
            EXPECT_THROW(load(truncated), KpException) << "length " << length;
        }
    }
}

TEST(KpBMPImage, ShortFileLogsReadFailure)
{
    BmpLayout layout;
    layout.width = 4;
    layout.height = 4;
    layout.pixels = paddedRows({Bytes(12, 9)});
    const std::string path = testsupport::makeTempDir() + "/short.bmp";
    testsupport::writeFileBytes(path, encode(layout));

    KpLogger::kpGetInstance()->kpSetLevel(1);
    testing::internal::CaptureStdout();
    expectFailure([&] { codec()->kpLoadImage(path.c_str()); }, 4, UNKNOWN_FORMAT);
    const std::string log = testing::internal::GetCapturedStdout();
    KpLogger::kpGetInstance()->kpSetLevel(3);
    EXPECT_NE(log.find("Image size = 4 x 4\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Image read failed\n"), std::string::npos) << log;
}

TEST(KpBMPImage, SupportTestNeedsTheSignature)
{
    unsigned char bm[] = {'B', 'M'};
    unsigned char b[] = {'B'};
    EXPECT_TRUE(codec()->kpSupportImageFile(bm, 2));
    EXPECT_FALSE(codec()->kpSupportImageFile(b, 1));
    EXPECT_FALSE(codec()->kpSupportImageFile(nullptr, 0));
    const std::string dir = testsupport::makeTempDir();
    testsupport::writeFileBytes(dir + "/one.bmp", {'B'});
    testsupport::writeFileBytes(dir + "/two.bmp", {'B', 'M'});
    EXPECT_FALSE(codec()->kpSupportImageFile((dir + "/one.bmp").c_str()));
    EXPECT_TRUE(codec()->kpSupportImageFile((dir + "/two.bmp").c_str()));
    expectFailure([&] { codec()->kpSupportImageFile((dir + "/absent.bmp").c_str()); }, 2,
                      "<KpBMPImage::kpSupportImageFile()> Can not open file!");
}

TEST(KpBMPImage, PagesAndRegistry)
{
    KpImage colour(3, 2, 24);
    const std::string path = testsupport::makeTempDir() + "/page.BMP";
    colour.kpSaveImage(path.c_str());
    EXPECT_EQ(testsupport::readFileBytes(path).at(0), 'B');
    EXPECT_EQ(KpImage(path.c_str(), nullptr).kpGetWidth(), 3);
    EXPECT_EQ(codec()->kpGetTotalPages(path.c_str()), 1);
    EXPECT_EQ(codec()->kpLoadImageAtPage(path.c_str(), 1).kpGetHeight(), 2);
    expectFailure([&] { codec()->kpLoadImageAtPage(path.c_str(), 0); }, 15,
                      "<KpBMPImage::kpLoadImageAtPage()> Page number can't be 0 (zero).");
    expectFailure([&] { codec()->kpLoadImageAtPage(path.c_str(), 2); }, 8,
                      "<KpBMPImage::kpLoadImageAtPage()> Image only contain 1 pages. User requesting page 2.");
}

TEST(KpBMPImage, FailedWritesAreErrors)
{
    struct Case {
        const char* name;
        int width;
    };
    // A small image fails when the file is closed, a large one while
    // its rows are written.
    const Case cases[] = {{"small", 2}, {"large", 700}};
    std::signal(SIGPIPE, SIG_IGN);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KpImage image(c.width, c.width, 24);
        expectFailure([&] { codec()->kpSaveImage("/dev/full", image); }, 4, "(disk full or stream closed).");
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        close(fds[0]);
        const std::string closedPipe = "/dev/fd/" + std::to_string(fds[1]);
        expectFailure([&] { codec()->kpSaveImage(closedPipe.c_str(), image); }, 4,
                          "(disk full or stream closed).");
        close(fds[1]);
    }
    std::signal(SIGPIPE, SIG_DFL);

    // A regular file that cannot grow is removed, not left half-written.
    struct rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const struct rlimit small = {4096, limit.rlim_max};
    const std::string path = testsupport::makeTempDir() + "/limited.bmp";
    KpImage large(300, 300, 24);
    std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    expectFailure([&] { codec()->kpSaveImage(path.c_str(), large); }, 4, "(disk full or stream closed).");
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_DFL);
    EXPECT_TRUE(testsupport::readFileBytes(path).empty());
    EXPECT_NE(access(path.c_str(), F_OK), 0);

    KpImage empty;
    expectFailure([&] { savedToMemory(empty); }, 5, "<KpBMPImage::kpSaveImage()> Image Data is NULL!");
}

// What the peer decodes: 8-bit samples, "rgb" or "gray".
Bytes peerPixels(const std::string& path, const char* samples)
{
    int status = -1;
    Bytes pixels = testsupport::runCommand(std::string(PEER) + " '" + path + "' -depth 8 " + samples + ":-", &status);
    EXPECT_EQ(status, 0) << path;
    return pixels;
}

TEST(KpBMPImage, PeerFilesLoadAsThePeerDecodesThem)
{
    if (!testsupport::isExecutable(PEER)) {
        GTEST_SKIP() << PEER << " is not installed";
    }
    struct Case {
        const char* name;
        const char* make;   // the peer's arguments that draw the image
        const char* prefix; // "" for the default header, "bmp3:" for the old one
        uint32_t bits;
        uint32_t compression;
    };
    const Case cases[] = {
        {"1 bit", "-size 13x7 pattern:checkerboard -monochrome", "", 1, 0},
        {"1 bit, old header", "-size 33x5 pattern:gray50 -monochrome", "bmp3:", 1, 0},
        {"4 bits", "-size 15x9 plasma:fractal -colors 12 -type palette -compress none", "", 4, 0},
        {"4 bits, old header", "-size 7x3 plasma:fractal -colors 12 -type palette -compress none", "bmp3:", 4, 0},
        {"8 bits", "-size 17x5 plasma:fractal -colors 200 -type palette -compress none", "", 8, 0},
        {"8 bits, old header", "-size 19x6 plasma:fractal -colors 200 -type palette -compress none", "bmp3:", 8, 0},
        {"8 bits, run-length", "-size 23x9 plasma:fractal -colors 40 -type palette -compress RLE", "", 8, 1},
        {"8 bits, run-length, old header", "-size 21x4 gradient:red-blue -colors 30 -type palette -compress RLE",
         "bmp3:", 8, 1},
        {"24 bits", "-size 61x7 plasma:fractal -type truecolor", "", 24, 0},
        {"24 bits, old header, width 1", "-size 1x5 plasma:fractal -type truecolor", "bmp3:", 24, 0},
        {"16 bits, 5-5-5", "-size 11x3 plasma:fractal -define bmp:subtype=RGB555", "", 16, 3},
        {"16 bits, 5-6-5", "-size 11x3 plasma:fractal -define bmp:subtype=RGB565", "", 16, 3},
    };
    const std::string dir = testsupport::makeTempDir();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir + "/peer.bmp";
        int status = -1;
        testsupport::runCommand(std::string(PEER) + " -seed 7 " + c.make + " " + c.prefix + path, &status);
        ASSERT_EQ(status, 0);
        const Bytes file = testsupport::readFileBytes(path);
        ASSERT_EQ(fieldOf(file, 28, 2), c.bits);
        ASSERT_EQ(fieldOf(file, 30, 4), c.compression);
        const KpImage image = codec()->kpLoadImage(path.c_str());
        if (c.bits == 1) {
            EXPECT_EQ(grayOfBinary(image), peerPixels(path, "gray"));
        } else {
            EXPECT_EQ(pixelsOf(image), peerPixels(path, "rgb"));
        }
    }
}

// Each palette entry of a 1-bit file is white when its luminance reaches
// 128, whatever the other entry is: the image equals the peer's colours
// thresholded that way.
TEST(KpBMPImage, BinaryPaletteEntriesAreThresholdedOneByOne)
{
    if (!testsupport::isExecutable(PEER)) {
        GTEST_SKIP() << PEER << " is not installed";
    }
    struct Case {
        const char* name;
        std::vector<uint32_t> palette;
    };
    const Case cases[] = {
        {"two light colours", {0xF9F7F6, 0xFFFFFF}},
        {"two light colours, brighter first", {0xFFFFFF, 0xF9F7F6}},
        {"two dark colours", {0x303030, 0x101010}},
        {"white first", {0xFFFFFF, 0x000000}},
        {"black first", {0x000000, 0xFFFFFF}},
        {"just below and at the middle", {0x7F7F7F, 0x808080}},
    };
    const std::string path = testsupport::makeTempDir() + "/palette.bmp";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BmpLayout layout;
        layout.width = 13;
        layout.height = 3;
        layout.bits = 1;
        layout.palette = c.palette;
        layout.pixels = paddedRows({{0xA5, 0x38}, {0x0F, 0xF0}, {0x5A, 0xC8}});
        testsupport::writeFileBytes(path, encode(layout));
        const Bytes rgb = peerPixels(path, "rgb");
        Bytes expected;
        for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
            const int luminance1000 = 299 * rgb[i] + 587 * rgb[i + 1] + 114 * rgb[i + 2];
            expected.push_back(luminance1000 >= 128 * 1000 ? 255 : 0);
        }
        EXPECT_EQ(grayOfBinary(codec()->kpLoadImage(path.c_str())), expected);
    }
}

TEST(KpBMPImage, SavedFilesReadBackInThePeer)
{
    if (!testsupport::isExecutable(PEER)) {
        GTEST_SKIP() << PEER << " is not installed";
    }
    KpImage colour(7, 5, 24);
    KpImage gray(9, 4, 8);
    KpImage binary(13, 3, 1);
    for (std::size_t i = 0; i < colour.kpGetImageSize(); ++i) {
        colour.kpGetData()[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    for (std::size_t i = 0; i < gray.kpGetImageSize(); ++i) {
        gray.kpGetData()[i] = static_cast<uint8_t>(i * 53 + 5);
    }
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 13; ++x) {
            binary.kpSetPixel(x, y, (x * 3 + y) % 4 == 0 ? 0 : 255);
        }
    }
    const std::string dir = testsupport::makeTempDir();
    codec()->kpSaveImage((dir + "/colour.bmp").c_str(), colour);
    codec()->kpSaveImage((dir + "/gray.bmp").c_str(), gray);
    codec()->kpSaveImage((dir + "/binary.bmp").c_str(), binary);
    EXPECT_EQ(peerPixels(dir + "/colour.bmp", "rgb"), pixelsOf(colour));
    EXPECT_EQ(peerPixels(dir + "/gray.bmp", "gray"), pixelsOf(gray));
    EXPECT_EQ(peerPixels(dir + "/binary.bmp", "gray"), grayOfBinary(binary));
}

TEST(KpBMPImage, CorpusFilesLoadOrAreRefusedForTheirBitCount)
{
    const std::string corpus = testsupport::corpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "the corpus folder is absent";
    }
    const std::string dir = corpus + "/bmp";
    DIR* folder = opendir(dir.c_str());
    ASSERT_NE(folder, nullptr);
    int files = 0;
    while (dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".bmp") != 0) {
            continue;
        }
        ++files;
        SCOPED_TRACE(name);
        const std::string path = dir + "/" + name;
        const uint32_t bits = fieldOf(testsupport::readFileBytes(path), 28, 2);
        if (bits == 32) {
            expectFailure([&] { codec()->kpLoadImage(path.c_str()); }, 11,
                              "Encountered unsupported infoheader.bits in bmp file");
        } else if (testsupport::isExecutable(PEER)) {
            const KpImage image = codec()->kpLoadImage(path.c_str());
            EXPECT_EQ(pixelsOf(image), peerPixels(path, "rgb"));
        }
    }
    closedir(folder);
    EXPECT_GT(files, 0);
}

} // namespace
