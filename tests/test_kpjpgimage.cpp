#include "kpexception.h"
#include "kpjpgimage.h"
#include "kplogger.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <vector>

#include <jpeglib.h>

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::expectFailure;

const char* const DJPEG = "/usr/bin/djpeg";
const char* const CJPEG = "/usr/bin/cjpeg";
const char* const DECOMPRESSION_ERROR = "<KpJPGImage::kpLoadImage()> Decompression Error!";

KpJPGImage* codec()
{
    return KpJPGImage::kpGetInstance();
}

KpImage loadBuffer(Bytes bytes)
{
    return codec()->kpLoadImage(bytes.data(), static_cast<int>(bytes.size()));
}

Bytes pixelsOf(const KpImage& image)
{
    return Bytes(image.kpGetData(), image.kpGetData() + image.kpGetImageSize());
}

// A binary PNM (P5 or P6, maxval 255) as its size, channel count and
// samples.
struct Pnm {
    int width = 0;
    int height = 0;
    int channels = 0;
    Bytes samples;
};

Pnm parsePnm(const Bytes& bytes)
{
    Pnm pnm;
    std::string text(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 64));
    std::istringstream header(text);
    std::string magic;
    int maxval = 0;
    header >> magic >> pnm.width >> pnm.height >> maxval;
    if ((magic != "P5" && magic != "P6") || maxval != 255) {
        return Pnm();
    }
    pnm.channels = magic == "P5" ? 1 : 3;
    const std::size_t start = static_cast<std::size_t>(header.tellg()) + 1;
    pnm.samples.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end());
    return pnm;
}

Bytes pnmOf(const KpImage& image)
{
    const std::string header = std::string(image.kpGetDepth() == 8 ? "P5" : "P6") + "\n" +
                               std::to_string(image.kpGetWidth()) + " " + std::to_string(image.kpGetHeight()) +
                               "\n255\n";
    Bytes bytes(header.begin(), header.end());
    const Bytes pixels = pixelsOf(image);
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    return bytes;
}

// Pixels as the library's own command-line decoder gives them.
Pnm decodedByPeer(const std::string& path)
{
    return parsePnm(testsupport::runCommand(std::string(DJPEG) + " -pnm '" + path + "' 2>/dev/null"));
}

void expectSamePixels(const KpImage& image, const Pnm& peer, const std::string& what)
{
    ASSERT_GT(peer.width, 0) << what << ": the peer decoded nothing";
    EXPECT_EQ(image.kpGetWidth(), peer.width) << what;
    EXPECT_EQ(image.kpGetHeight(), peer.height) << what;
    EXPECT_EQ(image.kpGetDepth(), 8 * peer.channels) << what;
    EXPECT_EQ(image.kpGetFormat(), peer.channels == 1 ? 2 : 3) << what;
    EXPECT_TRUE(pixelsOf(image) == peer.samples) << what << ": the pixels differ from the peer's";
}

class JpegCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        corpus = testsupport::corpusDir();
        if (corpus.empty()) {
            GTEST_SKIP() << "the corpus folder ../shared/corpus is absent";
        }
    }
    std::string corpus;
};

TEST_F(JpegCorpus, FilesDecodeExactlyAsThePeerDecodesThem)
{
    if (!testsupport::isExecutable(DJPEG)) {
        GTEST_SKIP() << DJPEG << " is missing";
    }
    const char* const files[] = {
        "jpeg/testorig.jpg",  // baseline
        "jpeg/testimgint.jpg", // progressive
        "jpeg/testimgari.jpg", // arithmetic coding
        "photos/101085.jpg",
        "photos/102061.jpg",
        "photos/105025.jpg",
    };
    for (const char* file : files) {
        const std::string path = corpus + "/" + file;
        if (!testsupport::fileExists(path)) {
            ADD_FAILURE() << path << " is missing from the corpus";
            continue;
        }
        const KpImage image = codec()->kpLoadImage(path.c_str());
        expectSamePixels(image, decodedByPeer(path), file);
        EXPECT_FALSE(image.kpGetHasWarnings()) << file;
        EXPECT_TRUE(pixelsOf(loadBuffer(testsupport::readFileBytes(path))) == pixelsOf(image)) << file;
    }
}

TEST_F(JpegCorpus, TwelveBitSamplesAreADecompressionError)
{
    const std::string path = corpus + "/jpeg/monkey12.jpg";
    expectFailure([&] { codec()->kpLoadImage(path.c_str()); }, 7, DECOMPRESSION_ERROR);
    expectFailure([&] { loadBuffer(testsupport::readFileBytes(path)); }, 7, DECOMPRESSION_ERROR);
}

// A JPEG written by the library itself, for layouts our encoder does not
// write: CMYK, two components, chosen densities, no JFIF marker.
struct LibraryJpeg {
    int width = 8;
    int height = 8;
    int components = 3;
    J_COLOR_SPACE inSpace = JCS_RGB;
    J_COLOR_SPACE fileSpace = JCS_YCbCr;
    bool jfif = true;
    int densityUnit = 0;
    int xDensity = 1;
    int yDensity = 1;
    int quality = 75;
    Bytes pixels; // width x height x components; a gray ramp when empty
};

Bytes encodeWithLibrary(const LibraryJpeg& spec)
{
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = static_cast<JDIMENSION>(spec.width);
    info.image_height = static_cast<JDIMENSION>(spec.height);
    info.input_components = spec.components;
    info.in_color_space = spec.inSpace;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, spec.fileSpace);
    info.write_JFIF_header = spec.jfif ? TRUE : FALSE;
    info.density_unit = static_cast<UINT8>(spec.densityUnit);
    info.X_density = static_cast<UINT16>(spec.xDensity);
    info.Y_density = static_cast<UINT16>(spec.yDensity);
    jpeg_set_quality(&info, spec.quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const std::size_t rowBytes = static_cast<std::size_t>(spec.width) * spec.components;
    Bytes pixels = spec.pixels;
    if (pixels.empty()) {
        pixels.resize(rowBytes * spec.height);
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = static_cast<uint8_t>(i * 7);
        }
    }
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = pixels.data() + info.next_scanline * rowBytes;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes bytes(out, out + outSize);
    std::free(out);
    return bytes;
}

TEST(JpegDecode, DensityBecomesTheResolution)
{
    struct Case {
        const char* what;
        LibraryJpeg spec;
        float x;
        float y;
        bool inDpi;
    };
    LibraryJpeg perInch;
    perInch.densityUnit = 1;
    perInch.xDensity = 72;
    perInch.yDensity = 96;
    LibraryJpeg perCentimetre;
    perCentimetre.densityUnit = 2;
    perCentimetre.xDensity = 100;
    perCentimetre.yDensity = 100;
    LibraryJpeg noUnit;
    noUnit.xDensity = 3;
    noUnit.yDensity = 2;
    LibraryJpeg noJfif;
    noJfif.jfif = false;
    const Case cases[] = {
        {"dots per inch", perInch, 72.0f, 96.0f, true},
        {"dots per centimetre", perCentimetre, 254.0f, 254.0f, true},
        {"an aspect ratio without unit", noUnit, 3.0f, 2.0f, false},
        {"no JFIF marker", noJfif, 1.0f, 1.0f, false},
    };
    for (const Case& c : cases) {
        const KpImage image = loadBuffer(encodeWithLibrary(c.spec));
        EXPECT_FLOAT_EQ(image.kpGetXResolution(), c.x) << c.what;
        EXPECT_FLOAT_EQ(image.kpGetYResolution(), c.y) << c.what;
        EXPECT_EQ(image.kpIsResolutionInDpi(), c.inDpi) << c.what;
    }
}

TEST(JpegDecode, CmykDarkensByKOnlyWhereKIsWellBelowTheOtherInks)
{
    struct Case {
        const char* what;
        uint8_t cmyk[4];
        uint8_t rgb[3];
    } cases[] = {
        {"K well below C, M, Y", {200, 150, 100, 50}, {39, 29, 19}},
        {"K above C", {10, 20, 30, 200}, {10, 20, 30}},
        {"K exactly 16 below Y", {200, 150, 66, 50}, {200, 150, 66}},
        {"K 17 below every ink", {67, 67, 67, 50}, {13, 13, 13}},
    };
    // One flat 8x8 block per case at quality 100 decodes to exactly its
    // colour (no colour transform, no subsampling).
    const int count = static_cast<int>(sizeof cases / sizeof cases[0]);
    LibraryJpeg spec;
    spec.width = 8 * count;
    spec.height = 8;
    spec.components = 4;
    spec.inSpace = JCS_CMYK;
    spec.fileSpace = JCS_CMYK;
    spec.quality = 100;
    spec.pixels.resize(static_cast<std::size_t>(spec.width) * spec.height * 4);
    for (int y = 0; y < spec.height; ++y) {
        for (int x = 0; x < spec.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                spec.pixels[(static_cast<std::size_t>(y) * spec.width + x) * 4 + c] = cases[x / 8].cmyk[c];
            }
        }
    }
    const KpImage image = loadBuffer(encodeWithLibrary(spec));
    ASSERT_EQ(image.kpGetDepth(), 24);
    EXPECT_EQ(image.kpGetFormat(), 3);
    for (int i = 0; i < count; ++i) {
        uint8_t r, g, b;
        image.kpGetPixel(8 * i + 3, 4, &r, &g, &b);
        EXPECT_EQ(r, cases[i].rgb[0]) << cases[i].what;
        EXPECT_EQ(g, cases[i].rgb[1]) << cases[i].what;
        EXPECT_EQ(b, cases[i].rgb[2]) << cases[i].what;
    }
}

TEST(JpegDecode, TwoComponentsHaveNoPixelStoreAndAreRefusedBeforeAllocation)
{
    LibraryJpeg twoComponents;
    twoComponents.components = 2;
    twoComponents.inSpace = JCS_UNKNOWN;
    twoComponents.fileSpace = JCS_UNKNOWN;
    twoComponents.jfif = false;
    expectFailure([&] { loadBuffer(encodeWithLibrary(twoComponents)); }, 3,
                  "<KpJPGImage::kpLoadImage()> Unsupported tiff type");
}

// The bytes of a small colour JPEG with its frame header's size replaced.
Bytes withSize(Bytes bytes, int width, int height)
{
    for (std::size_t i = 0; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = static_cast<uint8_t>(height >> 8);
            bytes[i + 6] = static_cast<uint8_t>(height);
            bytes[i + 7] = static_cast<uint8_t>(width >> 8);
            bytes[i + 8] = static_cast<uint8_t>(width);
            return bytes;
        }
    }
    ADD_FAILURE() << "no frame header";
    return bytes;
}

TEST(JpegHostileInput, ImpossibleSizesAreRefusedBeforeDecoding)
{
    const Bytes small = encodeWithLibrary(LibraryJpeg());
    struct Case {
        const char* what;
        Bytes bytes;
        int code;
        std::string text;
    } cases[] = {
        {"zero width", withSize(small, 0, 8), 7, DECOMPRESSION_ERROR},
        {"zero height", withSize(small, 8, 0), 7, DECOMPRESSION_ERROR},
        {"65535 x 65535, past the library's limit", withSize(small, 65535, 65535), 7, DECOMPRESSION_ERROR},
        {"60000 x 60000 colour, past the image limit", withSize(small, 60000, 60000), 13,
         "<KpJPGImage::kpLoadImage()> Unable to allocate Memory"},
        {"D8 FF, accepted by the content test only", Bytes{0xD8, 0xFF, 0xE0, 0x00}, 7, DECOMPRESSION_ERROR},
        {"nothing", Bytes(), 7, DECOMPRESSION_ERROR},
    };
    const std::string path = testsupport::makeTempDir() + "/hostile.jpg";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectFailure([&] { loadBuffer(c.bytes); }, c.code, c.text);
        testsupport::writeFileBytes(path, c.bytes);
        expectFailure([&] { codec()->kpLoadImage(path.c_str()); }, c.code, c.text);
    }
}

// A cut inside the scan still decodes (the library fills in what is
// missing and warns); a cut before it is an error. Neither leaks a file.
TEST(JpegHostileInput, EveryTruncationFailsOrLoadsWithAWarning)
{
    LibraryJpeg spec;
    spec.width = 40;
    spec.height = 24;
    const Bytes whole = encodeWithLibrary(spec);
    const std::string path = testsupport::makeTempDir() + "/cut.jpg";
    const int openBefore = testsupport::openFileCount();
    int warned = 0;
    int refused = 0;
    for (std::size_t length = 0; length + 2 < whole.size(); length += 3) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        testsupport::writeFileBytes(path, cut);
        for (const std::function<KpImage()>& load : std::vector<std::function<KpImage()>>{
                 [&] { return loadBuffer(cut); }, [&] { return codec()->kpLoadImage(path.c_str()); }}) {
            try {
                const KpImage image = load();
                EXPECT_TRUE(image.kpGetHasWarnings()) << "cut at " << length;
                EXPECT_EQ(image.kpGetWidth(), 40);
                ++warned;
            } catch (const KpException& error) {
                EXPECT_EQ(error.kpGetCode(), 7) << "cut at " << length;
                ++refused;
            }
        }
    }
    EXPECT_GT(warned, 0);
    EXPECT_GT(refused, 0);
    EXPECT_EQ(testsupport::openFileCount(), openBefore);
}

// A seeded image of random pixels (smooth enough to compress).
KpImage sampleImage(int width, int height, int depth, unsigned seed)
{
    KpImage image(width, height, depth);
    std::mt19937 random(seed);
    uint8_t* data = image.kpGetData();
    for (std::size_t i = 0; i < image.kpGetImageSize(); ++i) {
        data[i] = static_cast<uint8_t>((i % 97) * 2 + random() % 16);
    }
    return image;
}

TEST(JpegEncode, SavingMatchesThePeerEncoderAtTheSameQuality)
{
    if (!testsupport::isExecutable(CJPEG)) {
        GTEST_SKIP() << CJPEG << " is missing";
    }
    struct Case {
        int depth;
        int quality;
    } cases[] = {{24, 95}, {24, 50}, {8, 75}, {8, 100}};
    const std::string dir = testsupport::makeTempDir();
    for (const Case& c : cases) {
        SCOPED_TRACE("depth " + std::to_string(c.depth) + ", quality " + std::to_string(c.quality));
        KpImage image = sampleImage(45, 31, c.depth, static_cast<unsigned>(c.quality));
        const std::string ours = dir + "/ours.jpg";
        codec()->kpSaveImage(ours.c_str(), image, c.quality);
        testsupport::writeFileBytes(dir + "/in.pnm", pnmOf(image));
        const Bytes peer = testsupport::runCommand(std::string(CJPEG) + " -quality " + std::to_string(c.quality) +
                                                   " '" + dir + "/in.pnm' 2>/dev/null");
        const KpImage fromOurs = codec()->kpLoadImage(ours.c_str());
        const KpImage fromPeer = loadBuffer(peer);
        EXPECT_EQ(fromOurs.kpGetDepth(), c.depth);
        EXPECT_TRUE(pixelsOf(fromOurs) == pixelsOf(fromPeer)) << "the decoded pixels differ";
    }
}

TEST(JpegEncode, BilevelImagesAreSavedAsGrayWithTheirResolutionAsDensity)
{
    KpImage image = testsupport::binaryFromPicture({"#..#....#", ".##.####.", "#........"});
    image.kpSetXResolution(72.9f);
    image.kpSetYResolution(300.0f);
    const std::string path = testsupport::makeTempDir() + "/bilevel.jpg";
    codec()->kpSaveImage(path.c_str(), image, 100);
    const KpImage back = codec()->kpLoadImage(path.c_str());
    EXPECT_EQ(back.kpGetDepth(), 8);
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            EXPECT_NEAR(back.kpGetPixelScale(x, y), image.kpGetPixelScale(x, y), 16) << x << ", " << y;
        }
    }
    EXPECT_FLOAT_EQ(back.kpGetXResolution(), 72.0f);
    EXPECT_FLOAT_EQ(back.kpGetYResolution(), 300.0f);
    EXPECT_TRUE(back.kpIsResolutionInDpi());
}

// A file size limit makes the writes fail on a regular file.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &original);
        rlimit limited = original;
        limited.rlim_cur = bytes;
        previous = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &original);
        std::signal(SIGXFSZ, previous);
    }

private:
    rlimit original;
    void (*previous)(int);
};

TEST(JpegEncode, FailedSavesRaiseAndLeaveNoFile)
{
    KpImage image = sampleImage(300, 200, 24, 1);
    KpImage wide(65501, 1, 8);
    KpImage empty;
    const std::string dir = testsupport::makeTempDir();
    struct Case {
        const char* what;
        std::string file;
        KpImage* image;
        int code;
        std::string text;
    } cases[] = {
        {"missing folder", dir + "/missing/a.jpg", &image, 2,
         "<KpJPGImage::kpSaveImage()> can't open file for output: " + dir + "/missing/a.jpg"},
        {"no name", "", &image, 2, "<KpJPGImage::kpSaveImage()> can't open file for output: "},
        {"wider than the format allows", dir + "/wide.jpg", &wide, 1,
         "<KpJPGImage::kpSaveImage()> Maximum supported image dimension is 65500 pixels"},
        {"no pixels", dir + "/empty.jpg", &empty, 5, "<KpJPGImage::kpSaveImage()> Image Data is NULL!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectFailure([&] { codec()->kpSaveImage(c.file.c_str(), *c.image); }, c.code, c.text);
        EXPECT_FALSE(testsupport::fileExists(c.file));
    }
    expectFailure([&] { codec()->kpSaveImage(nullptr, image); }, 2,
                  "<KpJPGImage::kpSaveImage()> can't open file for output: ");

    const std::string partial = dir + "/partial.jpg";
    {
        FileSizeLimit limit(4096);
        expectFailure([&] { codec()->kpSaveImage(partial.c_str(), image); }, 1,
                      "<KpJPGImage::kpSaveImage()> Output file write error --- out of disk space?");
    }
    EXPECT_FALSE(testsupport::fileExists(partial));
}

TEST(JpegEncode, AFullDiskIsAnErrorAndTheDeviceStays)
{
    if (!testsupport::fileExists("/dev/full")) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    KpImage image = sampleImage(64, 64, 24, 2);
    const int openBefore = testsupport::openFileCount();
    try {
        codec()->kpSaveImage("/dev/full", image);
        ADD_FAILURE() << "saving to a full disk succeeded";
    } catch (const KpException& error) {
        EXPECT_TRUE(error.kpGetCode() == 1 || error.kpGetCode() == 4) << error.what();
    }
    EXPECT_TRUE(testsupport::fileExists("/dev/full"));
    EXPECT_EQ(testsupport::openFileCount(), openBefore);
}

TEST(JpegPages, OnePageWithItsOwnTextForPageZeroOfAFile)
{
    KpImage image = sampleImage(8, 8, 8, 3);
    const std::string path = testsupport::makeTempDir() + "/one.jpg";
    codec()->kpSaveImage(path.c_str(), image);
    Bytes bytes = testsupport::readFileBytes(path);
    unsigned char* buffer = bytes.data();
    const int size = static_cast<int>(bytes.size());
    EXPECT_EQ(codec()->kpGetTotalPages(path.c_str()), 1);
    EXPECT_EQ(codec()->kpGetTotalPages(buffer, size), 1);
    EXPECT_EQ(codec()->kpLoadImageAtPage(path.c_str(), 1).kpGetWidth(), 8);
    EXPECT_EQ(codec()->kpLoadImageAtPage(buffer, size, 1).kpGetWidth(), 8);
    expectFailure([&] { codec()->kpLoadImageAtPage(path.c_str(), 0); }, 15,
                  "<KpJPGImage::kpLoadImageAtPage()> JPEG Page number can't be 0 (zero).");
    expectFailure([&] { codec()->kpLoadImageAtPage(buffer, size, -1); }, 15,
                  "<KpJPGImage::kpLoadImageAtPage()> Page number can't be 0 (zero).");
    expectFailure([&] { codec()->kpLoadImageAtPage(path.c_str(), 2); }, 8,
                  "<KpJPGImage::kpLoadImageAtPage()> Image only contain 1 pages. User requesting page 2.");
}

TEST(JpegFiles, ContentTestAndOpenFailuresNameTheFile)
{
    const unsigned char starts[][2] = {{0xFF, 0xD8}, {0xD8, 0xFF}, {0xFF, 0xD9}, {'B', 'M'}};
    const bool accepted[] = {true, true, false, false};
    for (int i = 0; i < 4; ++i) {
        unsigned char bytes[2] = {starts[i][0], starts[i][1]};
        EXPECT_EQ(codec()->kpSupportImageFile(bytes, 2), accepted[i]) << i;
        EXPECT_FALSE(codec()->kpSupportImageFile(bytes, 1)) << i;
    }
    expectFailure([] { codec()->kpSupportImageFile("/nonexistent/x.jpg"); }, 2,
                  "<KpJPGImage::kpSupportImageFile()> Can't open /nonexistent/x.jpg\n");
    expectFailure([] { codec()->kpLoadImage("/nonexistent/x.jpg"); }, 2,
                  "<KpJPGImage::kpLoadImage()> Cannot open file!");
}

TEST(JpegFiles, TheRegistryPicksTheCodecByContentAndExtension)
{
    KpImage image = sampleImage(16, 16, 24, 4);
    const std::string dir = testsupport::makeTempDir();
    image.kpSaveImage((dir + "/photo.JPEG").c_str());
    std::rename((dir + "/photo.JPEG").c_str(), (dir + "/photo.png").c_str());
    const KpImage back(((dir + "/photo.png").c_str()), nullptr);
    EXPECT_EQ(back.kpGetDepth(), 24);
    EXPECT_EQ(back.kpGetWidth(), 16);
}

} // namespace
