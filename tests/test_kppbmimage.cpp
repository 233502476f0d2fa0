#include "kppbmimage.h"

#include "kpexception.h"
#include "kpmemorybasedio.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::expectFailure;
using testsupport::fileBytes;
using testsupport::grayOfBinary;
using testsupport::pictureOf;
using testsupport::pixelsOf;
using Picture = std::vector<std::string>;

const char* const UNKNOWN_FORMAT = "<KpPBMImage::kpLoadImage()> Unknown File Format";
const char* const NO_MEMORY =
    "<KpBMPImage::kpLoadImage()> Could not allocate enough memory for the uncompressed image";

KpPBMImage* codec()
{
    return KpPBMImage::kpGetInstance();
}

KpImage loadBoth(const Bytes& file)
{
    return testsupport::loadFromBufferAndFile(*codec(), file);
}

Bytes savedToMemory(KpImage& image)
{
    return testsupport::savedToMemory(*codec(), image);
}

TEST(KpPBMImage, RawRowsArePackedWithSetBitsBlack)
{
    // Width 10: two bytes per row; the file's padding bits are set, the
    // image's come out clear.
    const Bytes file = fileBytes("P4\n# a comment\n\n10 3\n", {0xA5, 0x7F, 0x00, 0x00, 0xFF, 0xC0});
    const KpImage image = loadBoth(file);
    EXPECT_EQ(image.kpGetDepth(), 1);
    EXPECT_FLOAT_EQ(image.kpGetXResolution(), 200.0f);
    EXPECT_FLOAT_EQ(image.kpGetYResolution(), 200.0f);
    EXPECT_EQ(pictureOf(image), Picture({"#.#..#.#.#", "..........", "##########"}));
    EXPECT_EQ(pixelsOf(image), Bytes({0x5A, 0x80, 0xFF, 0xC0, 0x00, 0x00}));
}

TEST(KpPBMImage, BinaryImageSavesAsRawBitmapAndLoadsBack)
{
    const Picture picture = {"#..#.##.#.", ".#.#..####", "###.....#."};
    KpImage image = testsupport::binaryFromPicture(picture);
    const Bytes expected = fileBytes("P4\n10 3\n", {0x96, 0x80, 0x53, 0xC0, 0xE0, 0x80});
    EXPECT_EQ(savedToMemory(image), expected);
    const std::string path = testsupport::makeTempDir() + "/saved.pbm";
    codec()->kpSaveImage(path.c_str(), image);
    EXPECT_EQ(testsupport::readFileBytes(path), expected);
    EXPECT_EQ(pictureOf(loadBoth(expected)), picture);
}

TEST(KpPBMImage, PlainRastersDecodeStraightToBinary)
{
    struct Case {
        const char* name;
        std::string file;
        Picture expected;
    };
    const Case cases[] = {
        {"comment line, separated digits", "P1\n# by hand\n3 1\n1 0 1\n", {"#.#"}},
        {"digits without separators", "P1\n3 2\n010\n101\n", {".#.", "#.#"}},
        {"carriage returns do not shift the pixels", "P1\r\n3 2\r\n1 0 0\r\n0 1 1\r\n", {"#..", ".##"}},
        {"tabs, vertical tabs and form feeds separate", "P1\n3 2\n1\t0\v0\f\n0 \t1 1", {"#..", ".##"}},
        {"comments inside the raster", "P1\n3 2\n1 0 # 1 1 1\n0 1 #\r1 1 1\n", {"#..", "###"}},
        {"an all-black image stays black", "P1\n9 3\n" + std::string(27, '1'), {"#########", "#########", "#########"}},
        {"an all-white image stays white", "P1\n2 2\n0 0\n0 0\n", {"..", ".."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KpImage image = loadBoth(fileBytes(c.file, {}));
        EXPECT_EQ(image.kpGetDepth(), 1);
        EXPECT_EQ(pictureOf(image), c.expected);
    }
    // The bits past the width are clear, as in every 1-bit image.
    EXPECT_EQ(pixelsOf(loadBoth(fileBytes("P1\n3 1\n0 0 0\n", {}))), Bytes({0xE0}));
}

TEST(KpPBMImage, MalformedFilesAreRefused)
{
    struct Case {
        const char* name;
        Bytes file;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"no data", {}, 4, UNKNOWN_FORMAT},
        {"magic only", fileBytes("P4", {}), 4, UNKNOWN_FORMAT},
        {"a gray map (P5) is not read as plain", fileBytes("P5\n1 1\n255\n", {0}), 4, UNKNOWN_FORMAT},
        {"a text gray map (P2)", fileBytes("P2\n1 1\n255\n0\n", {}), 4, UNKNOWN_FORMAT},
        {"negative width", fileBytes("P4\n-1 5\n", Bytes(5, 0)), 4, UNKNOWN_FORMAT},
        {"zero width", fileBytes("P4\n0 5\n", Bytes(5, 0)), 4, UNKNOWN_FORMAT},
        {"zero height", fileBytes("P1\n5 0\n", {}), 4, UNKNOWN_FORMAT},
        {"one size field", fileBytes("P4\n8\n", Bytes(8, 0)), 4, UNKNOWN_FORMAT},
        {"width past 32 bits", fileBytes("P4\n4294967304 1\n", Bytes(8, 0)), 4, UNKNOWN_FORMAT},
        {"2^31 - 1 x 2^31 - 1", fileBytes("P4\n2147483647 2147483647\n", Bytes(64, 0)), 13, NO_MEMORY},
        {"plain, 2^31 - 1 x 2^31 - 1", fileBytes("P1\n2147483647 2147483647\n", Bytes(64, '1')), 13, NO_MEMORY},
        {"raw rows beyond the data", fileBytes("P4\n1000 1000\n", Bytes(124999, 0)), 4, UNKNOWN_FORMAT},
        {"plain pixels beyond the data", fileBytes("P1\n1000 1000\n", Bytes(999999, '1')), 4, UNKNOWN_FORMAT},
        {"plain raster with a 2", fileBytes("P1\n3 1\n1 2 1\n", {}), 4, UNKNOWN_FORMAT},
        {"plain raster with a letter", fileBytes("P1\n3 1\n1 0 x 1\n", {}), 4, UNKNOWN_FORMAT},
        {"plain raster with a NUL byte", fileBytes("P1\n2 1\n1", {0, '1'}), 4, UNKNOWN_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::expectLoadFailure(*codec(), c.file, c.code, c.text);
    }
}

TEST(KpPBMImage, EveryTruncationFailsAndFreesItsFiles)
{
    const int openBefore = testsupport::openFileCount();
    const int slotsBefore = testsupport::freeMemoryFileSlots();
    const Bytes files[] = {
        fileBytes("P4\n# a comment\n10 3\n", {1, 2, 3, 4, 5, 6}),
        fileBytes("P1\n# a comment\n3 2\n1 0 1\n0 # note\n1 0\n", {}),
    };
    for (const Bytes& file : files) {
        ASSERT_NO_THROW(loadBoth(file));
        // Cuts inside the trailing line end or comment leave every pixel.
        const std::size_t lastPixel = file.size() - (file[1] == '1' ? 2 : 1);
        for (std::size_t length = 0; length <= lastPixel; ++length) {
            SCOPED_TRACE(length);
            const Bytes truncated(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
            testsupport::expectLoadFailure(*codec(), truncated, 4, UNKNOWN_FORMAT);
        }
    }
    EXPECT_EQ(testsupport::openFileCount(), openBefore);
    EXPECT_EQ(testsupport::freeMemoryFileSlots(), slotsBefore);
}

TEST(KpPBMImage, StreamDecoderReadsWithoutKnowingTheLength)
{
    Bytes file = fileBytes("P1\n2 2\n1 0\n0 1\n", {});
    KpMemoryBasedIO stream(reinterpret_cast<char*>(file.data()), static_cast<int>(file.size()), "rb");
    EXPECT_EQ(pictureOf(codec()->kpLoadImage(stream)), Picture({"#.", ".#"}));
    Bytes shortFile = fileBytes("P4\n16 4\n", Bytes(7, 0));
    KpMemoryBasedIO shortStream(reinterpret_cast<char*>(shortFile.data()), static_cast<int>(shortFile.size()), "rb");
    expectFailure([&] { codec()->kpLoadImage(shortStream); }, 4, UNKNOWN_FORMAT);
}

TEST(KpPBMImage, GrayAndColourAreThresholdedAt127)
{
    KpImage gray = testsupport::grayFromPicture({"#.5"});
    gray.kpGetData()[1] = 127;
    gray.kpGetData()[2] = 126;
    KpImage colour(3, 1, 24);
    const Bytes samples = {130, 130, 130, 120, 130, 125, 255, 0, 127};
    std::copy(samples.begin(), samples.end(), colour.kpGetData());
    struct Case {
        const char* name;
        KpImage image;
        const char* expected;
    };
    const Case cases[] = {
        {"gray 0, 127, 126", gray, "#.#"},
        {"colour averaging 130, 125, 127", colour, ".#."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KpImage image = c.image;
        const KpImage loaded = loadBoth(savedToMemory(image));
        EXPECT_EQ(pictureOf(loaded), Picture({c.expected}));
    }
}

TEST(KpPBMImage, FailedSavesAreErrors)
{
    testsupport::expectFailedSaves(*codec(), 1, 3000, 2, "<KpFileBasedIO::KpFileBasedIO()> Could not open output image file",
                                   "<KpPBMImage::kpSaveImage()> Image Data is NULL!");
    KpImage empty;
    expectFailure([&] { savedToMemory(empty); }, 5, "<KpPBMImage::kpSaveImage()> Image Data is NULL!");
}

TEST(KpPBMImage, SupportTestRegistryAndPages)
{
    unsigned char p4[] = {'P', '4'};
    unsigned char p1[] = {'P', '1'};
    unsigned char p5[] = {'P', '5'};
    EXPECT_TRUE(codec()->kpSupportImageFile(p4, 2));
    EXPECT_TRUE(codec()->kpSupportImageFile(p1, 2));
    EXPECT_FALSE(codec()->kpSupportImageFile(p4, 1));
    EXPECT_FALSE(codec()->kpSupportImageFile(p5, 2));
    EXPECT_FALSE(codec()->kpSupportImageFile(nullptr, 0));
    const std::string dir = testsupport::makeTempDir();
    expectFailure([&] { codec()->kpSupportImageFile((dir + "/absent.pbm").c_str()); }, 2,
                  "<KpPBMImage::kpSupportImageFile()> Can not open file!");
    expectFailure([&] { codec()->kpLoadImage((dir + "/absent.pbm").c_str()); }, 2,
                  "<KpFileBasedIO::KpFileBasedIO()> Could not open output image file");

    // The registry saves by extension and loads by content.
    KpImage gray = testsupport::grayFromPicture({"#.#", "..#"});
    const std::string saved = dir + "/saved.PBM";
    gray.kpSaveImage(saved.c_str());
    const std::string misnamed = dir + "/bitmap.ppm";
    testsupport::writeFileBytes(misnamed, testsupport::readFileBytes(saved));
    EXPECT_EQ(pictureOf(KpImage(misnamed.c_str(), nullptr)), Picture({"#.#", "..#"}));

    testsupport::expectSinglePage(*codec(), saved, "KpPBMImage");
}

TEST(KpPBMImage, CorpusTwinLoadsAsThePeerDecodesIt)
{
    const std::string corpus = testsupport::corpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "the corpus folder is absent";
    }
    if (!testsupport::isExecutable(testsupport::MAGICK_CONVERT)) {
        GTEST_SKIP() << testsupport::MAGICK_CONVERT << " is not installed";
    }
    const std::string path = corpus + "/tiff/miniswhite-1c-1b.pbm";
    const KpImage image = loadBoth(testsupport::readFileBytes(path));
    EXPECT_EQ(grayOfBinary(image), testsupport::magickSamples(path, "gray"));
}

TEST(KpPBMImage, NetpbmFilesLoadAsNetpbmReadsThem)
{
    if (!testsupport::isExecutable(testsupport::NETPBM_PAMDEPTH)) {
        GTEST_SKIP() << testsupport::NETPBM_PAMDEPTH << " is not installed";
    }
    const char* const commands[] = {
        "pbmmake -gray 13 5",
        "pbmmake -black 9 4",
        "pbmtext 'Edges, lines'",
        "pbmtext 'Edges, lines' | pamtopnm -plain",
        "pbmmake -gray 21 3 | pamtopnm -plain",
    };
    const std::string path = testsupport::makeTempDir() + "/netpbm.pbm";
    for (const char* command : commands) {
        SCOPED_TRACE(command);
        int status = -1;
        testsupport::runCommand(std::string(command) + " > " + path, &status);
        ASSERT_EQ(status, 0);
        const KpImage image = loadBoth(testsupport::readFileBytes(path));
        EXPECT_EQ(grayOfBinary(image), testsupport::netpbmSamples(path));
    }
}

TEST(KpPBMImage, SavedFilesReadIdenticallyInThePeers)
{
    if (!testsupport::isExecutable(testsupport::MAGICK_CONVERT) ||
        !testsupport::isExecutable(testsupport::NETPBM_PAMDEPTH)) {
        GTEST_SKIP() << "ImageMagick or netpbm is not installed";
    }
    KpImage binary(29, 6, 1);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 29; ++x) {
            binary.kpSetPixel(x, y, (x * 5 + y * 3) % 7 < 3 ? 0 : 255);
        }
    }
    const std::string path = testsupport::makeTempDir() + "/saved.pbm";
    codec()->kpSaveImage(path.c_str(), binary);
    EXPECT_EQ(testsupport::magickSamples(path, "gray"), grayOfBinary(binary));
    EXPECT_EQ(testsupport::netpbmSamples(path), grayOfBinary(binary));
}

} // namespace
