#include "kpexception.h"
#include "kplogger.h"
#include "kpmemoryfile.h"
#include "kptiffimage.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <array>
#include <random>
#include <string>
#include <vector>

#include <tiffio.h>

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::expectFailure;

const char* const PEER = "/usr/bin/convert";
const char* const TIFF2RGBA = "/usr/bin/tiff2rgba";
const char* const TIFFCP = "/usr/bin/tiffcp";
const char* const TIFFINFO = "/usr/bin/tiffinfo";
const char* const READ_ERROR = "<KpTIFFImage::kpLoadImage()> Read error on input strip";
const char* const UNSUPPORTED_TYPE = "<KpTIFFImage::kpLoadImage()> Unsupported tiff type";
const char* const OPEN_FAILED = "<KpTIFFImage::kpLoadImageAtPage()> Could not open incoming image";

KpTIFFImage* codec()
{
    return KpTIFFImage::kpGetInstance();
}

KpImage loadBuffer(Bytes bytes, int page = 1)
{
    return codec()->kpLoadImageAtPage(bytes.data(), static_cast<int>(bytes.size()), page);
}

Bytes pixelsOf(const KpImage& image)
{
    return Bytes(image.kpGetData(), image.kpGetData() + image.kpGetImageSize());
}

// One byte per sample: 1-bit pixels become 0 or 255.
Bytes samplesOf(const KpImage& image)
{
    if (image.kpGetDepth() != 1) {
        return pixelsOf(image);
    }
    Bytes samples;
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            samples.push_back(image.kpGetPixelScale(x, y));
        }
    }
    return samples;
}

// The pixels ImageMagick reads from a file, one byte per sample.
Bytes readByPeer(const std::string& path, int depth)
{
    return testsupport::runCommand(std::string(PEER) + " '" + path + "' -depth 8 " + (depth == 24 ? "rgb" : "gray") +
                                   ":- 2>/dev/null");
}

// The pixels of libtiff's RGBA interface as its own tool writes them,
// read back by ImageMagick.
Bytes readThroughPeerRgba(const std::string& path, const std::string& dir)
{
    const std::string converted = dir + "/rgba.tif";
    testsupport::runCommand(std::string(TIFF2RGBA) + " -n '" + path + "' '" + converted + "' 2>/dev/null");
    return readByPeer(converted, 24);
}

bool havePeers(std::initializer_list<const char*> tools)
{
    for (const char* tool : tools) {
        if (!testsupport::isExecutable(tool)) {
            return false;
        }
    }
    return true;
}

// A TIFF file written by libtiff itself, for layouts our encoder does not
// write. Rows are packed as the file stores them.
struct LibraryTiff {
    uint32_t width = 4;
    uint32_t height = 3;
    uint16_t bitsPerSample = 8;
    uint16_t samples = 1;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t compression = COMPRESSION_NONE;
    uint32_t rowsPerStrip = 1;
    std::vector<uint16_t> colourMap; // red, green and blue tables in turn
    bool resolution = false;
    float xResolution = 0.0f;
    float yResolution = 0.0f;
    uint16_t resolutionUnit = RESUNIT_NONE;
    uint16_t extraSamples = 0; // unassociated alpha samples
    Bytes rows;
};

Bytes writeWithLibrary(const LibraryTiff& spec)
{
    const std::string path = testsupport::makeTempDir() + "/fixture.tif";
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, spec.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, spec.height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, spec.bitsPerSample);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, spec.samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, spec.photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, spec.compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, spec.rowsPerStrip);
    if (spec.extraSamples > 0) {
        const uint16_t kinds[] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, spec.extraSamples, kinds);
    }
    if (!spec.colourMap.empty()) {
        const std::size_t entries = spec.colourMap.size() / 3;
        TIFFSetField(tiff, TIFFTAG_COLORMAP, spec.colourMap.data(), spec.colourMap.data() + entries,
                     spec.colourMap.data() + 2 * entries);
    }
    if (spec.resolution) {
        TIFFSetField(tiff, TIFFTAG_XRESOLUTION, spec.xResolution);
        TIFFSetField(tiff, TIFFTAG_YRESOLUTION, spec.yResolution);
        TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, spec.resolutionUnit);
    }
    const std::size_t rowBytes = (static_cast<std::size_t>(spec.width) * spec.samples * spec.bitsPerSample + 7) / 8;
    for (uint32_t row = 0, strip = 0; row < spec.height; row += spec.rowsPerStrip, ++strip) {
        const uint32_t rows = std::min(spec.rowsPerStrip, spec.height - row);
        TIFFWriteEncodedStrip(tiff, strip, const_cast<uint8_t*>(spec.rows.data()) + row * rowBytes,
                              static_cast<tmsize_t>(rows * rowBytes));
    }
    TIFFClose(tiff);
    return testsupport::readFileBytes(path);
}

// A palette of entries (r, g, b) given in 8 bits, stored in 16.
std::vector<uint16_t> colourMapOf(const std::vector<std::array<uint8_t, 3>>& colours)
{
    std::vector<uint16_t> map(colours.size() * 3);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        for (std::size_t c = 0; c < 3; ++c) {
            map[c * colours.size() + i] = static_cast<uint16_t>(colours[i][c] * 257);
        }
    }
    return map;
}

class TiffCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string corpus = testsupport::corpusDir();
        if (corpus.empty()) {
            GTEST_SKIP() << "the corpus folder ../shared/corpus is absent";
        }
        dir = corpus + "/tiff";
    }
    std::string dir;
};

TEST_F(TiffCorpus, FilesLoadWithThePeersPixelsOrAreRefusedWithTheirText)
{
    if (!havePeers({PEER, TIFF2RGBA})) {
        GTEST_SKIP() << "ImageMagick or libtiff's tools are missing";
    }
    enum Oracle { PEER_PIXELS, PEER_RGBA, REFUSED };
    struct Case {
        const char* file;
        Oracle oracle;
        int depthOrCode;
        const char* text;
    } cases[] = {
        {"miniswhite-1c-1b.tiff", PEER_PIXELS, 1, nullptr},
        {"minisblack-1c-8b.tiff", PEER_PIXELS, 8, nullptr},
        {"rgb-3c-8b.tiff", PEER_PIXELS, 24, nullptr},
        {"quad-lzw-compat.tiff", PEER_PIXELS, 24, nullptr},
        {"palette-1c-1b.tiff", PEER_PIXELS, 24, nullptr},
        {"palette-1c-4b.tiff", PEER_PIXELS, 24, nullptr},
        {"palette-1c-8b.tiff", PEER_PIXELS, 24, nullptr},
        {"rgb-3c-16b.tiff", PEER_RGBA, 24, nullptr},
        {"minisblack-1c-16b.tiff", REFUSED, 3, UNSUPPORTED_TYPE},
        {"minisblack-2c-8b-alpha.tiff", REFUSED, 3, UNSUPPORTED_TYPE},
        {"quad-tile.jpg.tiff", REFUSED, 8, "<KpTIFFImage::kpLoadImage()> TIFF Type YCbCr not supported yet!"},
        {"logluv-3c-16b.tiff", REFUSED, 5, "Image Data is NULL!"},
    };
    const std::string work = testsupport::makeTempDir();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = dir + "/" + c.file;
        if (c.oracle == REFUSED) {
            expectFailure([&] { codec()->kpLoadImage(path.c_str()); }, c.depthOrCode, c.text);
            expectFailure([&] { loadBuffer(testsupport::readFileBytes(path)); }, c.depthOrCode, c.text);
            continue;
        }
        const KpImage image = codec()->kpLoadImage(path.c_str());
        EXPECT_EQ(image.kpGetDepth(), c.depthOrCode);
        EXPECT_EQ(image.kpGetFormat(), c.depthOrCode == 1 ? 1 : c.depthOrCode == 8 ? 2 : 3);
        EXPECT_EQ(image.kpGetReserved1(), 1);
        const Bytes expected = c.oracle == PEER_RGBA ? readThroughPeerRgba(path, work) : readByPeer(path, c.depthOrCode);
        EXPECT_TRUE(samplesOf(image) == expected) << "the pixels differ from the peer's";
        EXPECT_TRUE(pixelsOf(loadBuffer(testsupport::readFileBytes(path))) == pixelsOf(image));
    }
}

TEST(TiffDecode, PalettesOfEveryDepthUnpackTheirIndices)
{
    const std::vector<std::array<uint8_t, 3>> colours = {
        {0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 128, 0}, {1, 2, 3}, {10, 20, 30}, {40, 50, 60}, {70, 80, 90},
        {100, 110, 120}, {130, 140, 150}, {160, 170, 180}, {190, 200, 210}, {220, 230, 240}, {250, 5, 15},
        {25, 35, 45}, {55, 65, 75}};
    // Five pixels per row, two rows: indices chosen so that every bit of
    // a packed byte matters.
    const int indices[2][5] = {{1, 0, 3, 2, 1}, {15, 12, 5, 9, 6}};
    for (const int bits : {1, 2, 4, 8}) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        const int entries = 1 << bits;
        LibraryTiff spec;
        spec.width = 5;
        spec.height = 2;
        spec.bitsPerSample = static_cast<uint16_t>(bits);
        spec.photometric = PHOTOMETRIC_PALETTE;
        std::vector<std::array<uint8_t, 3>> palette(static_cast<std::size_t>(entries), {7, 7, 7});
        std::copy(colours.begin(), colours.begin() + std::min(entries, 16), palette.begin());
        spec.colourMap = colourMapOf(palette);
        const std::size_t rowBytes = (5 * static_cast<std::size_t>(bits) + 7) / 8;
        spec.rows.assign(rowBytes * 2, 0);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 5; ++x) {
                const int index = indices[y][x] % entries;
                const int bit = x * bits;
                spec.rows[y * rowBytes + bit / 8] |= static_cast<uint8_t>(index << (8 - bits - bit % 8));
            }
        }
        const KpImage image = loadBuffer(writeWithLibrary(spec));
        ASSERT_EQ(image.kpGetDepth(), 24);
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 5; ++x) {
                uint8_t r, g, b;
                image.kpGetPixel(x, y, &r, &g, &b);
                const std::array<uint8_t, 3>& expected = palette[static_cast<std::size_t>(indices[y][x] % entries)];
                EXPECT_EQ((std::array<uint8_t, 3>{r, g, b}), expected) << x << ", " << y;
            }
        }
    }
    LibraryTiff wide;
    wide.bitsPerSample = 16;
    wide.photometric = PHOTOMETRIC_PALETTE;
    wide.colourMap.assign(3 * 65536, 0);
    wide.rows.assign(4 * 3 * 2, 0);
    expectFailure([&] { loadBuffer(writeWithLibrary(wide)); }, 3, UNSUPPORTED_TYPE);
}

TEST(TiffDecode, WhiteIsZeroIsInvertedOnlyWhereTheStripsWereReadRaw)
{
    LibraryTiff gray;
    gray.photometric = PHOTOMETRIC_MINISWHITE;
    gray.rows = {0, 10, 200, 255, 1, 2, 3, 4, 5, 6, 7, 8};
    const KpImage grayImage = loadBuffer(writeWithLibrary(gray));
    EXPECT_EQ(grayImage.kpGetDepth(), 8);
    EXPECT_EQ(pixelsOf(grayImage), (Bytes{255, 245, 55, 0, 254, 253, 252, 251, 250, 249, 248, 247}));

    LibraryTiff bilevel;
    bilevel.width = 10;
    bilevel.height = 2;
    bilevel.bitsPerSample = 1;
    bilevel.photometric = PHOTOMETRIC_MINISWHITE;
    bilevel.rows = {0xF0, 0x00, 0x0F, 0xC0};
    EXPECT_EQ(testsupport::pictureOf(loadBuffer(writeWithLibrary(bilevel))),
              (std::vector<std::string>{"####......", "....######"}));

    // Three samples take the RGBA interface, which already turns
    // white-is-zero into gray: nothing is inverted twice.
    LibraryTiff threeSamples;
    threeSamples.width = 2;
    threeSamples.height = 1;
    threeSamples.samples = 3;
    threeSamples.photometric = PHOTOMETRIC_MINISWHITE;
    threeSamples.rows = {0, 0, 0, 200, 200, 200};
    const KpImage rgba = loadBuffer(writeWithLibrary(threeSamples));
    EXPECT_EQ(rgba.kpGetDepth(), 24);
    EXPECT_EQ(pixelsOf(rgba), (Bytes{255, 255, 255, 55, 55, 55}));
}

TEST(TiffDecode, AlphaIsDroppedAndSixteenBitsAreScaledToEight)
{
    LibraryTiff rgba;
    rgba.width = 2;
    rgba.height = 1;
    rgba.samples = 4;
    rgba.extraSamples = 1;
    rgba.photometric = PHOTOMETRIC_RGB;
    rgba.rows = {10, 20, 30, 255, 40, 50, 60, 255};
    EXPECT_EQ(pixelsOf(loadBuffer(writeWithLibrary(rgba))), (Bytes{10, 20, 30, 40, 50, 60}));

    LibraryTiff deep;
    deep.width = 1;
    deep.height = 2;
    deep.samples = 3;
    deep.bitsPerSample = 16;
    deep.photometric = PHOTOMETRIC_RGB;
    const uint16_t samples[] = {0x1234, 0xABCD, 0xFF00, 0x0001, 0x8080, 0xFFFF};
    deep.rows.resize(sizeof samples);
    std::memcpy(deep.rows.data(), samples, sizeof samples);
    EXPECT_EQ(pixelsOf(loadBuffer(writeWithLibrary(deep))), (Bytes{0x12, 0xAB, 0xFE, 0x00, 0x80, 0xFF}));
}

TEST(TiffDecode, ResolutionUnitsBecomeDotsPerInch)
{
    struct Case {
        const char* what;
        bool tags;
        float x;
        float y;
        uint16_t unit;
        float expectedX;
        float expectedY;
        bool inDpi;
    } cases[] = {
        {"per centimetre", true, 100.0f, 50.0f, RESUNIT_CENTIMETER, 254.0f, 127.0f, true},
        {"per inch", true, 300.0f, 150.0f, RESUNIT_INCH, 300.0f, 150.0f, true},
        {"no unit", true, 3.0f, 2.0f, RESUNIT_NONE, 3.0f, 2.0f, false},
        {"no resolution tags", false, 0.0f, 0.0f, 0, 200.0f, 200.0f, false},
    };
    for (const Case& c : cases) {
        LibraryTiff spec;
        spec.resolution = c.tags;
        spec.xResolution = c.x;
        spec.yResolution = c.y;
        spec.resolutionUnit = c.unit;
        spec.rows.assign(12, 128);
        const KpImage image = loadBuffer(writeWithLibrary(spec));
        EXPECT_FLOAT_EQ(image.kpGetXResolution(), c.expectedX) << c.what;
        EXPECT_FLOAT_EQ(image.kpGetYResolution(), c.expectedY) << c.what;
        EXPECT_EQ(image.kpIsResolutionInDpi(), c.inDpi) << c.what;
    }
}

// A seeded image of random pixels of a depth (1-bit padding bits clear).
KpImage randomImage(int width, int height, int depth, unsigned seed)
{
    KpImage image(width, height, depth);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < image.kpGetImageSize(); ++i) {
        image.kpGetData()[i] = static_cast<uint8_t>(random() % 3 == 0 ? random() : i / 7);
    }
    if (depth == 1 && width % 8 != 0) {
        for (int y = 0; y < height; ++y) {
            image.kpGetData()[y * image.kpGetBytesPerRow() + image.kpGetBytesPerRow() - 1] &=
                static_cast<uint8_t>(0xFF << (8 - width % 8));
        }
    }
    return image;
}

std::string tiffinfoOf(const std::string& path)
{
    const Bytes text = testsupport::runCommand(std::string(TIFFINFO) + " '" + path + "' 2>&1");
    return std::string(text.begin(), text.end());
}

TEST(TiffEncode, SavedFilesPassThePeersAndReadBackIdentically)
{
    struct Case {
        int depth;
        float resolution;
        bool inDpi;
        const char* compression;
        const char* photometric;
        const char* resolutionLine;
    } cases[] = {
        {1, 300.0f, true, "CCITT Group 4", "min-is-black", "Resolution: 300, 300 pixels/inch"},
        {8, 0.0f, true, "PackBits", "min-is-black", "Resolution: 200, 200 pixels/inch"},
        {24, 72.5f, false, "PackBits", "RGB color", "Resolution: 72.5, 72.5 (unitless)"},
    };
    const std::string dir = testsupport::makeTempDir();
    for (const Case& c : cases) {
        SCOPED_TRACE("depth " + std::to_string(c.depth));
        KpImage image = randomImage(37, 23, c.depth, static_cast<unsigned>(c.depth));
        image.kpSetXResolution(c.resolution);
        image.kpSetYResolution(c.resolution);
        KpImageHead head = image.kpGetHead();
        head.resolutionInDpi = c.inDpi ? 1 : 0;
        image = KpImage(image.kpDuplicateData(), head);
        const std::string path = dir + "/saved.tif";
        image.kpSaveImage(path.c_str());
        const KpImage back = codec()->kpLoadImage(path.c_str());
        EXPECT_EQ(back.kpGetDepth(), c.depth);
        EXPECT_TRUE(pixelsOf(back) == pixelsOf(image));

        unsigned char* block = nullptr;
        int size = 0;
        codec()->kpSaveImageToMem(image, &block, &size);
        EXPECT_TRUE(Bytes(block, block + size) == testsupport::readFileBytes(path)) << "memory and file differ";
        std::free(block);

        if (!havePeers({PEER, TIFFINFO})) {
            continue;
        }
        const std::string info = tiffinfoOf(path);
        EXPECT_NE(info.find(std::string("Compression Scheme: ") + c.compression), std::string::npos) << info;
        EXPECT_NE(info.find(std::string("Photometric Interpretation: ") + c.photometric), std::string::npos) << info;
        EXPECT_NE(info.find(c.resolutionLine), std::string::npos) << info;
        EXPECT_EQ(info.find("rror"), std::string::npos) << info;
        EXPECT_TRUE(readByPeer(path, c.depth) == samplesOf(image)) << "ImageMagick reads other pixels";
    }
}

TEST(TiffEncode, CompressionsAreCheckedAgainstTheDepthAndTheLibrary)
{
    KpImage bilevel = randomImage(16, 4, 1, 5);
    KpImage gray = randomImage(16, 4, 8, 6);
    KpImage empty;
    struct Case {
        const char* what;
        KpImage* image;
        int compression;
        int code;
        std::string text;
    } cases[] = {
        {"LZW for a bilevel image", &bilevel, COMPRESSION_LZW, 8,
         "<KpTIFFImage::kpSaveImage()> Requested compression type not supported for binary tiff images"},
        {"PackBits for a bilevel image", &bilevel, COMPRESSION_PACKBITS, 8,
         "<KpTIFFImage::kpSaveImage()> Requested compression type not supported for binary tiff images"},
        {"Group 4 for a gray image", &gray, COMPRESSION_CCITTFAX4, 8,
         "<KpTIFFImage::kpSaveImage()> Requested compression type not supported for grayscale and color tiff images"},
        {"a compression libtiff lacks", &gray, 12345, 4,
         "<KpTIFFImage::kpSaveImage()> Compression 12345 is not available in libtiff"},
        {"no pixels", &empty, COMPRESSION_NONE, 5, "<KpTIFFImage::kpSaveImage()> Image Data is NULL!"},
    };
    const std::string path = testsupport::makeTempDir() + "/handle.tif";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TIFF* tiff = TIFFOpen(path.c_str(), "w");
        expectFailure([&] { codec()->kpSaveImage(tiff, *c.image, c.compression); }, c.code, c.text);
        TIFFClose(tiff);
    }
    // Any compression libtiff has may be asked for through a handle.
    TIFF* tiff = TIFFOpen(path.c_str(), "w");
    codec()->kpSaveImage(tiff, gray, COMPRESSION_ADOBE_DEFLATE);
    TIFFClose(tiff);
    EXPECT_TRUE(pixelsOf(codec()->kpLoadImage(path.c_str())) == pixelsOf(gray));
}

TEST(TiffEncode, FailedSavesRaiseAndLeaveNoFile)
{
    KpImage image = randomImage(40, 30, 24, 7);
    const std::string missing = testsupport::makeTempDir() + "/missing/a.tif";
    expectFailure([&] { codec()->kpSaveImage(missing.c_str(), image); }, 1,
                  "<KpTIFFImage::kpSaveImage()> Could not open for writing");
    expectFailure([&] { codec()->kpSaveImage(nullptr, image); }, 1,
                  "<KpTIFFImage::kpSaveImage()> Could not open for writing");
    EXPECT_FALSE(testsupport::fileExists(missing));
    if (!testsupport::fileExists("/dev/full")) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    const int openBefore = testsupport::openFileCount();
    try {
        codec()->kpSaveImage("/dev/full", image);
        ADD_FAILURE() << "saving to a full disk succeeded";
    } catch (const KpException& error) {
        EXPECT_EQ(error.kpGetCode(), 4) << error.what();
    }
    EXPECT_TRUE(testsupport::fileExists("/dev/full"));
    EXPECT_EQ(testsupport::openFileCount(), openBefore);
}

TEST(TiffPages, AThreePageFileFromThePeer)
{
    if (!havePeers({TIFFCP})) {
        GTEST_SKIP() << TIFFCP << " is missing";
    }
    const std::string dir = testsupport::makeTempDir();
    std::vector<KpImage> pages = {randomImage(5, 4, 8, 1), randomImage(9, 3, 24, 2), randomImage(13, 6, 1, 3)};
    std::string names;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const std::string name = dir + "/page" + std::to_string(i) + ".tif";
        codec()->kpSaveImage(name.c_str(), pages[i]);
        names += " '" + name + "'";
    }
    const std::string multi = dir + "/multi.tif";
    testsupport::runCommand(std::string(TIFFCP) + names + " '" + multi + "' 2>/dev/null");
    Bytes bytes = testsupport::readFileBytes(multi);
    EXPECT_EQ(codec()->kpGetTotalPages(multi.c_str()), 3);
    EXPECT_EQ(codec()->kpGetTotalPages(bytes.data(), static_cast<int>(bytes.size())), 3);
    EXPECT_EQ(KpImage::kpGetTotalPages(multi.c_str()), 3);
    for (int page = 1; page <= 3; ++page) {
        const KpImage image = codec()->kpLoadImageAtPage(multi.c_str(), page);
        EXPECT_EQ(image.kpGetDepth(), pages[page - 1].kpGetDepth()) << page;
        EXPECT_TRUE(pixelsOf(image) == pixelsOf(pages[page - 1])) << page;
        EXPECT_TRUE(pixelsOf(loadBuffer(bytes, page)) == pixelsOf(image)) << page;
    }
    expectFailure([&] { codec()->kpLoadImageAtPage(multi.c_str(), 4); }, 15,
                  "<KpTIFFImage::kpLoadImage()> Invalid page number");
    expectFailure([&] { loadBuffer(bytes, 4); }, 15, "<KpTIFFImage::kpLoadImage()> Invalid page number");
    // Page 0 is refused before the file is opened.
    expectFailure([&] { codec()->kpLoadImageAtPage((dir + "/missing.tif").c_str(), 0); }, 15,
                  "<KpTIFFImage::kpLoadImageAtPage()> Page number can't be 0 (zero).");
    expectFailure([&] { loadBuffer(bytes, 0); }, 15,
                  "<KpTIFFImage::kpLoadImageAtPage()> Page number can't be 0 (zero).");
}

TEST(TiffFiles, ContentTestAndOpenFailures)
{
    struct Case {
        Bytes head;
        bool accepted;
    } cases[] = {
        {{0x49, 0x49, 0x2A, 0x00}, true},
        {{0x4D, 0x4D, 0x00, 0x2A}, true},
        {{0x00, 0x00, 0x00, 0x2A}, false},
        {{0x49, 0x49, 0x2B, 0x00}, false},
        {{0x49, 0x49, 0x2A}, false},
    };
    for (Case& c : cases) {
        EXPECT_EQ(codec()->kpSupportImageFile(c.head.data(), static_cast<int>(c.head.size())), c.accepted);
    }
    expectFailure([] { codec()->kpSupportImageFile("/nonexistent/x.tif"); }, 2,
                  "<KpTIFFImage::kpSupportImageFile()> Can not open file!");
    expectFailure([] { codec()->kpLoadImage("/nonexistent/x.tif"); }, 4, OPEN_FAILED);
    expectFailure([] { codec()->kpGetTotalPages("/nonexistent/x.tif"); }, 4,
                  "<KpTIFFImage::kpGetTotalPages()> Could not open incoming image");
}

TEST(TiffFiles, FailedBufferLoadsGiveBackTheirMemoryFiles)
{
    Bytes broken = {0x49, 0x49, 0x2A, 0x00, 0xFF, 0xFF, 0xFF, 0x7F};
    for (int i = 0; i < 25; ++i) {
        expectFailure([&] { loadBuffer(broken); }, 4, OPEN_FAILED);
    }
    KpImage image = randomImage(6, 5, 8, 9);
    unsigned char* block = nullptr;
    int size = 0;
    codec()->kpSaveImageToMem(image, &block, &size);
    const KpImage back = codec()->kpLoadImage(block, size);
    std::free(block);
    EXPECT_TRUE(pixelsOf(back) == pixelsOf(image));
    // Every slot of the table is free again.
    std::vector<int> handles;
    unsigned char byte = 0;
    for (int handle; (handle = mem_open(&byte, 1, "r")) >= 0;) {
        handles.push_back(handle);
    }
    EXPECT_EQ(handles.size(), 20u);
    for (int handle : handles) {
        mem_close(handle);
    }
}

// Little-endian classic TIFF: rewrites the value of a tag of the first
// directory as one LONG.
Bytes withTagValue(Bytes bytes, uint16_t tag, uint32_t value)
{
    auto read16 = [&](std::size_t at) { return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8); };
    const std::size_t directory = read16(4) | read16(6) << 16;
    const uint32_t entries = read16(directory);
    for (uint32_t i = 0; i < entries; ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        if (read16(entry) == tag) {
            const uint8_t replacement[10] = {4, 0, 1, 0, 0, 0, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                             static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
            std::copy(replacement, replacement + 10, bytes.begin() + static_cast<std::ptrdiff_t>(entry + 2));
            return bytes;
        }
    }
    ADD_FAILURE() << "no tag " << tag;
    return bytes;
}

bool raisesKpException(const std::function<void()>& action)
{
    try {
        action();
    } catch (const KpException&) {
        return true;
    }
    return false;
}

TEST(TiffHostileInput, ImpossibleSizesAreRefusedBeforeAllocation)
{
    LibraryTiff spec;
    spec.rowsPerStrip = UINT32_MAX; // one strip, whatever the height
    spec.rows.assign(12, 9);
    const Bytes small = writeWithLibrary(spec);
    const char* const tooBig = "<KpTIFFImage::kpLoadImage()> Could not allocate enough memory for the uncompressed image";
    struct Case {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"2^31 columns", withTagValue(small, TIFFTAG_IMAGEWIDTH, 0x80000000u)},
        {"2^31 rows", withTagValue(small, TIFFTAG_IMAGELENGTH, 0x80000000u)},
        {"65536 x 65536 bytes", withTagValue(withTagValue(small, TIFFTAG_IMAGEWIDTH, 65536), TIFFTAG_IMAGELENGTH, 65536)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectFailure([&] { loadBuffer(c.bytes); }, 13, tooBig);
    }
    EXPECT_TRUE(raisesKpException([&] { loadBuffer(withTagValue(small, TIFFTAG_IMAGEWIDTH, 0)); }));
    EXPECT_TRUE(raisesKpException([&] { loadBuffer(withTagValue(small, TIFFTAG_IMAGELENGTH, 0)); }));
}

TEST(TiffHostileInput, AFaxStripThatEndsEarlyLoadsWithAWarning)
{
    KpImage image = randomImage(64, 48, 1, 11);
    unsigned char* block = nullptr;
    int size = 0;
    codec()->kpSaveImageToMem(image, &block, &size);
    const Bytes whole(block, block + size);
    std::free(block);
    EXPECT_FALSE(loadBuffer(whole).kpGetHasWarnings());
    const KpImage cut = loadBuffer(withTagValue(whole, TIFFTAG_STRIPBYTECOUNTS, 40));
    EXPECT_TRUE(cut.kpGetHasWarnings());
    EXPECT_EQ(cut.kpGetWidth(), 64);
}

TEST(TiffHostileInput, EveryTruncationIsRefusedOrKeepsThePixelsWhole)
{
    const std::string dir = testsupport::makeTempDir();
    std::vector<std::pair<std::string, Bytes>> files;
    for (const int depth : {1, 8, 24}) {
        KpImage image = randomImage(30, 20, depth, static_cast<unsigned>(depth));
        unsigned char* block = nullptr;
        int size = 0;
        codec()->kpSaveImageToMem(image, &block, &size);
        files.emplace_back("ours, depth " + std::to_string(depth), Bytes(block, block + size));
        std::free(block);
    }
    LibraryTiff deep;
    deep.width = 7;
    deep.height = 6;
    deep.samples = 3;
    deep.bitsPerSample = 16;
    deep.photometric = PHOTOMETRIC_RGB;
    deep.rowsPerStrip = 2;
    deep.rows.assign(7 * 6 * 6, 77);
    files.emplace_back("16-bit RGB", writeWithLibrary(deep));
    const int openBefore = testsupport::openFileCount();
    const std::string path = dir + "/cut.tif";
    for (const auto& file : files) {
        const Bytes whole = pixelsOf(loadBuffer(file.second));
        for (std::size_t length = 0; length < file.second.size(); length += 5) {
            SCOPED_TRACE(file.first + " cut at " + std::to_string(length));
            const Bytes cut(file.second.begin(), file.second.begin() + static_cast<std::ptrdiff_t>(length));
            testsupport::writeFileBytes(path, cut);
            for (const std::function<KpImage()>& load : std::vector<std::function<KpImage()>>{
                     [&] { return loadBuffer(cut); }, [&] { return codec()->kpLoadImage(path.c_str()); }}) {
                // A cut that takes only values of the directory (a
                // resolution) loses those; the pixels must stay whole.
                try {
                    EXPECT_TRUE(pixelsOf(load()) == whole) << "a cut file loaded other pixels";
                } catch (const KpException&) {
                }
            }
        }
    }
    EXPECT_EQ(testsupport::openFileCount(), openBefore);
}

TEST(TiffMessages, LibraryErrorsGoToTheLogger)
{
    const std::string log = testsupport::makeTempDir() + "/log.txt";
    KpLogger* logger = KpLogger::kpGetInstance();
    logger->kpSetLogType(3, log.c_str());
    EXPECT_TRUE(raisesKpException([] { loadBuffer(Bytes{0x49, 0x49, 0x2A, 0x00, 0xFF, 0xFF, 0xFF, 0x7F}); }));
    logger->kpSetLogType(2, nullptr);
    EXPECT_NE(testsupport::readFile(log).find("TIFF"), std::string::npos) << testsupport::readFile(log);
}

} // namespace
