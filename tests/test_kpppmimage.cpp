#include "kpppmimage.h"

#include "kpexception.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::expectFailure;
using testsupport::fileBytes;
using testsupport::pixelsOf;

const char* const UNKNOWN_FORMAT = "<KpPPMImage::kpLoadImage()> Unknow File Format";
const char* const NO_MEMORY = "Error Allocating Image Data memory";

KpPPMImage* codec()
{
    return KpPPMImage::kpGetInstance();
}

KpImage loadBoth(const Bytes& file)
{
    return testsupport::loadFromBufferAndFile(*codec(), file);
}

TEST(KpPPMImage, HeaderLinesAndSamplesLoad)
{
    struct Case {
        const char* name;
        std::string header;
        Bytes samples;
        Bytes expected;
    };
    const Bytes six = {1, 2, 3, 250, 251, 252};
    const Case cases[] = {
        {"comment line, a file of 20 bytes", "P6\n# made by hand\n2 1\n255\n", six, six},
        {"empty lines between the header lines", "P6\n\n2 1\n\n\n255\n", six, six},
        {"carriage returns before the line ends", "P6\r\n2 1\r\n255\r\n", six, six},
        {"text after the magic", "P6 a pixmap\n2 1\n255\n", six, six},
        {"samples that look like line ends are samples", "P6\n2 1\n255\n", {10, 10, 13, 10, 32, 9},
         {10, 10, 13, 10, 32, 9}},
        {"maximum 15 scales to 0..255, values above it count as 15", "P6\n2 1\n15\n", {0, 1, 7, 8, 15, 200},
         {0, 17, 119, 136, 255, 255}},
        {"maximum 1", "P6\n2 1\n1\n", {0, 1, 0, 1, 1, 7}, {0, 255, 0, 255, 255, 255}},
        {"maximum 256 takes two bytes per sample, high byte first", "P6\n2 1\n256\n",
         {0, 0, 0, 1, 0, 128, 0, 255, 1, 0, 255, 255}, {0, 1, 128, 254, 255, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KpImage image = loadBoth(fileBytes(c.header, c.samples));
        EXPECT_EQ(image.kpGetWidth(), 2);
        EXPECT_EQ(image.kpGetHeight(), 1);
        EXPECT_EQ(image.kpGetDepth(), 24);
        EXPECT_FLOAT_EQ(image.kpGetXResolution(), 200.0f);
        EXPECT_FLOAT_EQ(image.kpGetYResolution(), 200.0f);
        EXPECT_TRUE(image.kpIsResolutionInDpi());
        EXPECT_EQ(pixelsOf(image), c.expected);
    }
}

TEST(KpPPMImage, MalformedFilesAreRefused)
{
    struct Case {
        const char* name;
        Bytes file;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"no data", {}, 4, UNKNOWN_FORMAT},
        {"a text pixmap (P3)", fileBytes("P3\n1 1\n255\n1 2 3\n", Bytes()), 4, UNKNOWN_FORMAT},
        {"a gray map (P5)", fileBytes("P5\n1 1\n255\n", Bytes{7}), 4, UNKNOWN_FORMAT},
        {"the header ends after the size", fileBytes("P6\n1 1\n", Bytes()), 4, UNKNOWN_FORMAT},
        {"negative width", fileBytes("P6\n-1 5\n255\n", Bytes(15, 1)), 4, UNKNOWN_FORMAT},
        {"zero height", fileBytes("P6\n5 0\n255\n", Bytes(15, 1)), 4, UNKNOWN_FORMAT},
        {"one size field", fileBytes("P6\n5\n255\n", Bytes(15, 1)), 4, UNKNOWN_FORMAT},
        {"size in words", fileBytes("P6\nfive one\n255\n", Bytes(15, 1)), 4, UNKNOWN_FORMAT},
        {"width past 32 bits", fileBytes("P6\n4294967297 1\n255\n", Bytes(3, 1)), 4, UNKNOWN_FORMAT},
        {"maximum 0", fileBytes("P6\n1 1\n0\n", Bytes(3, 0)), 4, UNKNOWN_FORMAT},
        {"maximum 257", fileBytes("P6\n1 1\n257\n", Bytes(6, 0)), 4, UNKNOWN_FORMAT},
        {"no maximum line", fileBytes("P6\n1 1\n", Bytes{'a', 'b', 'c'}), 4, UNKNOWN_FORMAT},
        {"65536 x 65536: 3 w h wraps 32 bits", fileBytes("P6\n65536 65536\n255\n", Bytes(64, 1)), 13, NO_MEMORY},
        {"2^31 - 1 x 1", fileBytes("P6\n2147483647 1\n255\n", Bytes(64, 1)), 13, NO_MEMORY},
        {"fewer samples than the size", fileBytes("P6\n100 100\n255\n", Bytes(29999, 1)), 4, UNKNOWN_FORMAT},
        {"two-byte samples cut short", fileBytes("P6\n2 1\n256\n", Bytes(11, 1)), 4, UNKNOWN_FORMAT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::expectLoadFailure(*codec(), c.file, c.code, c.text);
    }
}

TEST(KpPPMImage, EveryTruncationFailsAndFreesItsFiles)
{
    const int openBefore = testsupport::openFileCount();
    const int slotsBefore = testsupport::freeMemoryFileSlots();
    const Bytes files[] = {
        fileBytes("P6\n# a comment\n3 2\n255\n", Bytes(18, 77)),
        fileBytes("P6\n3 2\n256\n", Bytes(36, 1)),
    };
    for (const Bytes& file : files) {
        ASSERT_NO_THROW(loadBoth(file));
        for (std::size_t length = 0; length < file.size(); ++length) {
            SCOPED_TRACE(length);
            const Bytes truncated(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
            testsupport::expectLoadFailure(*codec(), truncated, 4, UNKNOWN_FORMAT);
        }
    }
    EXPECT_EQ(testsupport::openFileCount(), openBefore);
    EXPECT_EQ(testsupport::freeMemoryFileSlots(), slotsBefore);
}

TEST(KpPPMImage, EveryDepthSavesAsColourPixmap)
{
    KpImage colour(3, 1, 24);
    const Bytes colourSamples = {0, 10, 20, 128, 129, 130, 253, 254, 255};
    std::copy(colourSamples.begin(), colourSamples.end(), colour.kpGetData());
    struct Case {
        const char* name;
        KpImage image;
        Bytes expected;
    };
    const Case cases[] = {
        {"colour as it is", colour, colourSamples},
        {"gray as three equal samples", testsupport::grayFromPicture({"#5."}), {0, 0, 0, 125, 125, 125, 255, 255, 255}},
        {"binary as black and white", testsupport::binaryFromPicture({"#.#"}), {0, 0, 0, 255, 255, 255, 0, 0, 0}},
    };
    const std::string path = testsupport::makeTempDir() + "/saved.ppm";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KpImage image = c.image;
        codec()->kpSaveImage(path.c_str(), image);
        EXPECT_EQ(testsupport::readFileBytes(path), fileBytes("P6\n3 1\n255\n", c.expected));
        EXPECT_EQ(pixelsOf(codec()->kpLoadImage(path.c_str())), c.expected);
    }
}

TEST(KpPPMImage, FailedSavesAreErrors)
{
    testsupport::expectFailedSaves(*codec(), 24, 700, 2, "<KpPPMImage::kpSaveImage()> Could not open output image file",
                                   "<KpPPMImage::kpSaveImage()> Image Data is NULL!");
}

TEST(KpPPMImage, SupportTestRegistryAndPages)
{
    unsigned char p6[] = {'P', '6'};
    unsigned char p5[] = {'P', '5'};
    EXPECT_TRUE(codec()->kpSupportImageFile(p6, 2));
    EXPECT_FALSE(codec()->kpSupportImageFile(p6, 1));
    EXPECT_FALSE(codec()->kpSupportImageFile(p5, 2));
    EXPECT_FALSE(codec()->kpSupportImageFile(nullptr, 0));
    const std::string dir = testsupport::makeTempDir();
    expectFailure([&] { codec()->kpSupportImageFile((dir + "/absent.ppm").c_str()); }, 2,
                  "<KpPPMImage::kpSupportImageFile()> Could not open incoming image");
    expectFailure([&] { codec()->kpLoadImage((dir + "/absent.ppm").c_str()); }, 2,
                  "<KpPPMImage::kpLoadImage()> Could not open incoming image");

    // The registry saves by extension and loads by content.
    KpImage colour(3, 2, 24);
    const std::string saved = dir + "/saved.PPM";
    colour.kpSaveImage(saved.c_str());
    const std::string misnamed = dir + "/pixmap.png";
    testsupport::writeFileBytes(misnamed, testsupport::readFileBytes(saved));
    EXPECT_TRUE(codec()->kpSupportImageFile(misnamed.c_str()));
    EXPECT_EQ(KpImage(misnamed.c_str(), nullptr).kpGetWidth(), 3);
    Bytes bytes = testsupport::readFileBytes(saved);
    EXPECT_EQ(KpImage(bytes.data(), static_cast<int>(bytes.size()), nullptr).kpGetHeight(), 2);

    testsupport::expectSinglePage(*codec(), saved, "KpPPMImage");
}

TEST(KpPPMImage, CorpusTwinsLoadAsThePeersDecodeThem)
{
    const std::string corpus = testsupport::corpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "the corpus folder is absent";
    }
    if (!testsupport::isExecutable(testsupport::MAGICK_CONVERT)) {
        GTEST_SKIP() << testsupport::MAGICK_CONVERT << " is not installed";
    }
    for (const char* name : {"tiff/rgb-3c-8b.ppm", "jpeg/testorig.ppm"}) {
        SCOPED_TRACE(name);
        const std::string path = corpus + "/" + name;
        const KpImage image = loadBoth(testsupport::readFileBytes(path));
        EXPECT_EQ(pixelsOf(image), testsupport::magickSamples(path, "rgb"));
    }
}

TEST(KpPPMImage, NetpbmFilesOfAnyMaximumLoadAsNetpbmReadsThem)
{
    if (!testsupport::isExecutable(testsupport::NETPBM_PAMDEPTH)) {
        GTEST_SKIP() << testsupport::NETPBM_PAMDEPTH << " is not installed";
    }
    Bytes samples(13 * 7 * 3);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<uint8_t>(i * 97 + i / 5);
    }
    const std::string dir = testsupport::makeTempDir();
    const std::string source = dir + "/source.ppm";
    testsupport::writeFileBytes(source, fileBytes("P6\n13 7\n255\n", samples));
    for (int maximum : {1, 15, 100, 254, 256}) {
        SCOPED_TRACE(maximum);
        const std::string path = dir + "/maximum.ppm";
        int status = -1;
        testsupport::runCommand(std::string(testsupport::NETPBM_PAMDEPTH) + " " + std::to_string(maximum) + " " +
                                    source + " > " + path,
                                &status);
        ASSERT_EQ(status, 0);
        const Bytes file = testsupport::readFileBytes(path);
        ASSERT_EQ(file.size(), 13 * 7 * 3 * (maximum > 255 ? 2u : 1u) + std::to_string(maximum).size() + 9);
        EXPECT_EQ(pixelsOf(loadBoth(file)), testsupport::netpbmSamples(path));
    }
}

TEST(KpPPMImage, SavedFilesReadIdenticallyInThePeers)
{
    if (!testsupport::isExecutable(testsupport::MAGICK_CONVERT) ||
        !testsupport::isExecutable(testsupport::NETPBM_PAMDEPTH)) {
        GTEST_SKIP() << "ImageMagick or netpbm is not installed";
    }
    KpImage colour(17, 5, 24);
    for (std::size_t i = 0; i < colour.kpGetImageSize(); ++i) {
        colour.kpGetData()[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    const std::string path = testsupport::makeTempDir() + "/saved.ppm";
    codec()->kpSaveImage(path.c_str(), colour);
    EXPECT_EQ(testsupport::magickSamples(path, "rgb"), pixelsOf(colour));
    EXPECT_EQ(testsupport::netpbmSamples(path), pixelsOf(colour));
}

} // namespace
