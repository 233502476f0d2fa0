#include "kpgifimage.h"

#include "gifbuilder.h"
#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "kpgifutilities.h"
#include "photolikeimage.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using gifbuilder::GifFile;
using testsupport::expectFailure;

const char* const CONVERT = "/usr/bin/convert";
const char* const IDENTIFY = "/usr/bin/identify";
const char* const GIF2RGB = "/usr/bin/gif2rgb";
const char* const GIFTEXT = "/usr/bin/giftext";
const char* const DECODER_FAILED = "<KpGIFImage::kpLoadImage()> Error in image_read_gif.";

KpGIFImage* codec()
{
    return KpGIFImage::kpGetInstance();
}

KpImage load(Bytes file)
{
    return codec()->kpLoadImage(file.data(), static_cast<int>(file.size()));
}

Bytes pixelsOf(const KpImage& image)
{
    return Bytes(image.kpGetData(), image.kpGetData() + image.kpGetImageSize());
}

std::string quoted(const std::string& path)
{
    return "'" + path + "'";
}

std::string corpusFile(const std::string& name)
{
    return testsupport::corpusDir() + "/gif/" + name;
}

// What a peer prints for a file, or an empty result when it fails.
Bytes peerOutput(const std::string& command)
{
    int status = 0;
    Bytes out = testsupport::runCommand(command + " 2>/dev/null </dev/null", &status);
    return status == 0 ? out : Bytes();
}

Bytes imageMagickRgb(const std::string& file)
{
    return peerOutput(std::string(CONVERT) + " " + quoted(file) + " -alpha off rgb:-");
}

Bytes gif2rgb(const std::string& file)
{
    return peerOutput(std::string(GIF2RGB) + " -1 " + quoted(file));
}

// A 24-bit image of w x h pixels whose pixel i is colour(i).
template <class Colour> KpImage colourImage(int width, int height, Colour colour)
{
    KpImage image(width, height, 24);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = colour(y * width + x);
            image.kpSetPixel(x, y, uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c));
        }
    }
    return image;
}

class SkipWithoutCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (testsupport::corpusDir().empty()) {
            GTEST_SKIP() << "the shared corpus is absent";
        }
        if (!testsupport::isExecutable(CONVERT) || !testsupport::isExecutable(GIF2RGB)) {
            GTEST_SKIP() << "ImageMagick or the giflib tools are not installed";
        }
    }
};

using CorpusFiles = SkipWithoutCorpus;

TEST_F(CorpusFiles, SingleFrameFilesMatchBothPeers)
{
    // Each of these has one frame covering its logical screen; x-trans.gif
    // marks a transparent index, which loading does not apply.
    for (const char* name : {"gifgrid.gif", "porsche.gif", "solid2.gif", "treescap.gif", "treescap-interlaced.gif",
                             "wedge.gif", "x-trans.gif"}) {
        SCOPED_TRACE(name);
        const std::string file = corpusFile(name);
        const KpImage image = codec()->kpLoadImage(file.c_str());
        EXPECT_EQ(image.kpGetDepth(), 24);
        EXPECT_EQ(image.kpGetFormat(), 3);
        EXPECT_FLOAT_EQ(image.kpGetXResolution(), 200.0f);
        EXPECT_FLOAT_EQ(image.kpGetYResolution(), 200.0f);
        EXPECT_TRUE(image.kpIsResolutionInDpi());
        const Bytes pixels = pixelsOf(image);
        EXPECT_TRUE(pixels == imageMagickRgb(file)) << "differs from ImageMagick";
        EXPECT_TRUE(pixels == gif2rgb(file)) << "differs from gif2rgb";
    }
}

// The frames of an animation as ImageMagick decodes them, each pasted whole
// onto white at its offset: every frame replaces what it covers, since
// loading applies neither disposal nor transparency.
Bytes pastedFrames(const std::string& file, int width, int height)
{
    Bytes canvas(std::size_t(width) * height * 3, 255);
    const Bytes offsets = peerOutput(std::string(IDENTIFY) + " -format '%X %Y %w %h ' " + quoted(file));
    std::istringstream fields(std::string(offsets.begin(), offsets.end()));
    int x, y, w, h;
    for (int frame = 0; fields >> x >> y >> w >> h; ++frame) {
        const Bytes rgb = peerOutput(std::string(CONVERT) + " " + quoted(file + "[" + std::to_string(frame) + "]") +
                                     " +repage -alpha off rgb:-");
        EXPECT_EQ(rgb.size(), std::size_t(w) * h * 3) << "frame " << frame;
        for (int row = 0; row < h && rgb.size() == std::size_t(w) * h * 3; ++row) {
            std::copy_n(rgb.begin() + long(row) * w * 3, w * 3,
                        canvas.begin() + (long(y + row) * width + x) * 3);
        }
    }
    return canvas;
}

TEST_F(CorpusFiles, AnimationsLoadAsTheirFramesPastedInOrder)
{
    for (const char* name : {"fire.gif", "welcome2.gif"}) {
        SCOPED_TRACE(name);
        const std::string file = corpusFile(name);
        const KpImage image = codec()->kpLoadImage(file.c_str());
        EXPECT_EQ(codec()->kpGetTotalPages(file.c_str()), 1);
        EXPECT_TRUE(pixelsOf(image) == pastedFrames(file, image.kpGetWidth(), image.kpGetHeight()));
    }
}

TEST_F(CorpusFiles, InterlacedAndProgressiveTwinsLoadEqual)
{
    const KpImage plain = codec()->kpLoadImage(corpusFile("treescap.gif").c_str());
    const KpImage interlaced = codec()->kpLoadImage(corpusFile("treescap-interlaced.gif").c_str());
    EXPECT_EQ(pixelsOf(plain), pixelsOf(interlaced));
}

// --- Recognising and loading ------------------------------------------------

TEST(KpGIFImage, SupportTestAcceptsBothSignaturesInEitherCase)
{
    struct Case {
        const char* what;
        Bytes head;
        bool supported;
    };
    const Case cases[] = {
        {"GIF89a", {'G', 'I', 'F', '8', '9', 'a', 1, 0}, true},
        {"GIF87a", {'G', 'I', 'F', '8', '7', 'a', 1, 0}, true},
        {"lower case", {'g', 'i', 'f', '8', '9', 'a', 1, 0}, true},
        {"mixed case", {'g', 'I', 'f', '8', '7', 'A', 1, 0}, true},
        {"other version", {'G', 'I', 'F', '8', '8', 'a', 1, 0}, false},
        {"other format", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, false},
        {"seven bytes", {'G', 'I', 'F', '8', '9', 'a', 1}, false},
    };
    for (const Case& c : cases) {
        Bytes bytes = c.head;
        EXPECT_EQ(codec()->kpSupportImageFile(bytes.data(), static_cast<int>(bytes.size())), c.supported) << c.what;
    }
    EXPECT_FALSE(codec()->kpSupportImageFile(nullptr, 100));
}

TEST(KpGIFImage, FileFormsReadTheFileAndRefuseAMissingOne)
{
    const std::string dir = testsupport::makeTempDir();
    const std::string name = dir + "/screen.gif";
    testsupport::writeFileBytes(name, GifFile(3, 2, {0xFF0000, 0x00FF00}).trailer().bytes());
    EXPECT_TRUE(codec()->kpSupportImageFile(name.c_str()));
    const KpImage image = codec()->kpLoadImage(name.c_str());
    EXPECT_EQ(image.kpGetWidth(), 3);
    EXPECT_EQ(image.kpGetHeight(), 2);

    const std::string missing = dir + "/missing.gif";
    expectFailure([&] { codec()->kpSupportImageFile(missing.c_str()); }, KP_CANNOT_OPEN,
                  "Could not open incoming image");
    expectFailure([&] { codec()->kpLoadImage(missing.c_str()); }, KP_CANNOT_OPEN,
                  "<KpGIFImage::kpLoadImageAtPage()> Could not open incoming image");
    expectFailure([&] { codec()->kpLoadImage(dir.c_str()); }, KP_BAD_FILE,
                  "<KpGIFImage::kpLoadImage()> Could not read the file.");
    std::remove(name.c_str());
    rmdir(dir.c_str());
}

TEST(KpGIFImage, LowerCaseSignatureIsRecognisedButNotDecoded)
{
    const Bytes file = GifFile(2, 2, {0, 0xFFFFFF}, "gif89a").frame(0, 0, 2, 2, {0, 1, 1, 0}).trailer().bytes();
    Bytes probe = file;
    EXPECT_TRUE(codec()->kpSupportImageFile(probe.data(), static_cast<int>(probe.size())));
    testing::internal::CaptureStderr();
    expectFailure([&] { load(file); }, KP_UNSUPPORTED_CONTENT, DECODER_FAILED);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR in image_read_gif(): May not be a GIF FILE,  SHOULD BE GIF\n");
}

TEST(KpGIFImage, LoadsAsOneColourPageOf200Dpi)
{
    // Two colours in the global table, the frame in the middle of a 4 x 3
    // screen; the rest stays white.
    Bytes file =
        GifFile(4, 3, {0xFF0000, 0x0000FF}).frame(1, 1, 2, 1, {1, 0}, 2).trailer().bytes();
    const KpImage image = load(file);
    EXPECT_EQ(image.kpGetDepth(), 24);
    EXPECT_EQ(image.kpGetFormat(), 3);
    EXPECT_FLOAT_EQ(image.kpGetXResolution(), 200.0f);
    EXPECT_FLOAT_EQ(image.kpGetYResolution(), 200.0f);
    const Bytes white = {255, 255, 255};
    Bytes expected;
    for (int i = 0; i < 12; ++i) {
        const Bytes pixel = i == 5 ? Bytes{0, 0, 255} : i == 6 ? Bytes{255, 0, 0} : white;
        expected.insert(expected.end(), pixel.begin(), pixel.end());
    }
    EXPECT_EQ(pixelsOf(image), expected);

    EXPECT_EQ(codec()->kpGetTotalPages(file.data(), static_cast<int>(file.size())), 1);
    expectFailure([&] { codec()->kpLoadImageAtPage(file.data(), static_cast<int>(file.size()), 2); },
                  KP_UNSUPPORTED_CONTENT,
                  "<KpGIFImage::kpLoadImageAtPage()> Image only contain 1 pages. User requesting page 2.");
    expectFailure([&] { codec()->kpLoadImageAtPage(file.data(), static_cast<int>(file.size()), 0); }, KP_BAD_PAGE,
                  "<KpGIFImage::kpLoadImageAtPage()> Page number can't be 0 (zero).");
}

TEST(KpGIFImage, RegistryFindsGifByContentAndExtension)
{
    const std::string dir = testsupport::makeTempDir();
    const std::string misnamed = dir + "/picture.png";
    testsupport::writeFileBytes(misnamed, GifFile(2, 1, {0x102030, 0x405060}).frame(0, 0, 2, 1, {1, 0}, 2).bytes());
    const KpImage loaded(misnamed.c_str(), nullptr);
    EXPECT_EQ(pixelsOf(loaded), (Bytes{0x40, 0x50, 0x60, 0x10, 0x20, 0x30}));

    KpImage image = colourImage(3, 1, [](int i) { return uint32_t(0x111111 * (i + 1)); });
    const std::string saved = dir + "/out.GIF";
    image.kpSaveImage(saved.c_str());
    EXPECT_EQ(testsupport::readFile(saved).compare(0, 6, "GIF87a"), 0);
    std::remove(misnamed.c_str());
    std::remove(saved.c_str());
    rmdir(dir.c_str());
}

// --- Writing ---------------------------------------------------------------

Bytes savedBytes(KpImage& image)
{
    const std::string dir = testsupport::makeTempDir();
    const std::string name = dir + "/saved.gif";
    codec()->kpSaveImage(name.c_str(), image);
    Bytes bytes = testsupport::readFileBytes(name);
    std::remove(name.c_str());
    rmdir(dir.c_str());
    return bytes;
}

// The 256-entry colour table of a file we write: the colours, then black.
Bytes colourTable(const std::vector<uint32_t>& colours)
{
    Bytes table(768, 0);
    for (std::size_t i = 0; i < colours.size(); ++i) {
        table[3 * i] = uint8_t(colours[i] >> 16);
        table[3 * i + 1] = uint8_t(colours[i] >> 8);
        table[3 * i + 2] = uint8_t(colours[i]);
    }
    return table;
}

TEST(KpGIFImage, OnePixelImageIsThe1567ByteFile)
{
    KpImage image = colourImage(1, 1, [](int) { return 0x0A141Eu; });
    const Bytes table = colourTable({0x0A141E});
    Bytes expected = {'G', 'I', 'F', '8', '7', 'a', 1, 0, 1, 0, 0xF7, 0, 0};
    expected.insert(expected.end(), table.begin(), table.end());
    expected.insert(expected.end(), {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x87});
    expected.insert(expected.end(), table.begin(), table.end());
    // Minimum code size 8; one sub-block of the 27 bits of clear (256),
    // index 0 and end (257); the terminator and the trailer.
    expected.insert(expected.end(), {8, 4, 0x00, 0x01, 0x04, 0x04, 0, 0x3B});
    const Bytes saved = savedBytes(image);
    EXPECT_EQ(saved.size(), 1567u);
    EXPECT_EQ(saved, expected);
}

// The 9-bit codes of a file we write, from its data sub-blocks.
std::vector<int> writtenCodes(const Bytes& file)
{
    const std::size_t dataStart = 6 + 7 + 768 + 1 + 9 + 768;
    EXPECT_EQ(file.at(dataStart), 8);
    Bytes stream;
    std::size_t at = dataStart + 1;
    while (file.at(at) != 0) {
        stream.insert(stream.end(), file.begin() + long(at) + 1, file.begin() + long(at) + 1 + file[at]);
        at += file[at] + 1u;
    }
    EXPECT_EQ(at + 2, file.size());
    std::vector<int> codes;
    for (std::size_t bit = 0; bit + 9 <= stream.size() * 8; bit += 9) {
        int code = 0;
        for (int i = 0; i < 9; ++i) {
            code |= ((stream[(bit + i) / 8] >> ((bit + i) % 8)) & 1) << i;
        }
        codes.push_back(code);
    }
    return codes;
}

TEST(KpGIFImage, ClearCodePrecedesPixelZeroAndEvery254th)
{
    const int pixels = 600;
    KpImage image = colourImage(pixels, 1, [](int i) { return uint32_t(0x010203 * (i % 200)); });
    const std::vector<int> codes = writtenCodes(savedBytes(image));

    std::vector<int> expected;
    std::vector<std::size_t> codeOfPixel;
    for (int i = 0; i < pixels; ++i) {
        if (i % 254 == 0) {
            expected.push_back(256);
        }
        codeOfPixel.push_back(expected.size());
        expected.push_back(i % 200);
    }
    expected.push_back(257);
    // Padding bits of the last byte may add no whole code.
    ASSERT_GE(codes.size(), expected.size());
    EXPECT_EQ(std::vector<int>(codes.begin(), codes.begin() + long(expected.size())), expected);
    for (int pixel : {0, 254, 508}) {
        EXPECT_EQ(codes[codeOfPixel[std::size_t(pixel)] - 1], 256) << "before pixel " << pixel;
    }
    EXPECT_NE(codes[codeOfPixel[253] - 1], 256);
}

TEST(KpGIFImage, SavedImagesLoadBackUnchanged)
{
    struct Case {
        int width;
        int height;
        int colours;
    };
    // Sizes around the 254-pixel clear interval and the 255-byte blocks.
    const Case cases[] = {{1, 1, 1}, {3, 2, 6}, {254, 1, 254}, {255, 1, 255}, {17, 15, 256}, {300, 200, 256}};
    std::mt19937 random(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        std::vector<uint32_t> palette(std::size_t(c.colours));
        for (uint32_t& colour : palette) {
            colour = random() & 0xFFFFFF;
        }
        KpImage image = colourImage(c.width, c.height, [&](int i) {
            return palette[i < c.colours ? std::size_t(i) : random() % palette.size()];
        });
        const KpImage loaded = load(savedBytes(image));
        EXPECT_EQ(pixelsOf(loaded), pixelsOf(image));
    }
}

TEST(KpGIFImage, BinaryAndGrayImagesSaveAsColour)
{
    KpImage gray = testsupport::grayFromPicture({"#.5", "1.#"});
    KpImage binary = testsupport::binaryFromPicture({"#..#", ".##."});
    for (KpImage* image : {&gray, &binary}) {
        const KpImage loaded = load(savedBytes(*image));
        bool reduced = true;
        EXPECT_EQ(pixelsOf(loaded), pixelsOf(KpBitsPerPixelConverter::kpReduceColors(*image, reduced)));
        EXPECT_FALSE(reduced);
    }
}

TEST(KpGIFImage, PhotographSavesThroughTheColourCube)
{
    KpImage photo = benchsupport::makePhotoLikeImage(120, 80, 24);
    bool reduced = false;
    const KpImage cube = KpBitsPerPixelConverter::kpReduceColors(photo, reduced);
    ASSERT_TRUE(reduced);
    EXPECT_EQ(pixelsOf(load(savedBytes(photo))), pixelsOf(cube));
}

TEST(KpGIFImage, LocalImageTakes256ColoursAndRefusesThe257th)
{
    const KpGIFImage::KpEncoderSettings settings;
    const KpImage full = colourImage(16, 16, [](int i) { return uint32_t(i * 0x010101); });
    const KpGIFImage::KpLocalGIFImage local(full, settings);
    EXPECT_EQ(local.kpGetColours().kpGetCount(), 256);
    EXPECT_EQ(local.kpGetColours()[255], 0xFFFFFFL);
    EXPECT_EQ(local.kpGetIndices()[200], 200);

    // The extra colour is the last pixel, after 256 distinct ones.
    const KpImage tooMany = colourImage(257, 1, [](int i) { return i < 256 ? uint32_t(i) : 0x123456u; });
    expectFailure([&] { KpGIFImage::KpLocalGIFImage failing(tooMany, settings); }, KP_INVALID_ARGUMENT,
                  "<KpGIFImage::KpLocalGIFImage::makeLocalImage()> Error: Image has too many colors: "
                  "KpGIFImage::kpSaveImage!");
}

TEST(KpGIFImage, WriterRefusesWhatAGifCannotHold)
{
    const std::string dir = testsupport::makeTempDir();
    const std::string name = dir + "/refused.gif";
    KpImage wide(65536, 1, 24);
    expectFailure([&] { codec()->kpSaveImage(name.c_str(), wide); }, KP_UNSUPPORTED_DEPTH,
                  "A GIF image is at most 65535 pixels wide and high; this one is 65536 x 1.");
    KpImage high(1, 65536, 8);
    expectFailure([&] { codec()->kpSaveImage(name.c_str(), high); }, KP_UNSUPPORTED_DEPTH,
                  "this one is 1 x 65536.");
    EXPECT_FALSE(testsupport::fileExists(name));
    const KpImage gray(2, 2, 8);
    expectFailure([&] { KpGIFImage::KpGlobalGIFImage gif(gray); }, KP_INVALID_ARGUMENT,
                  "<KpGIFImage::KpGlobalGIFImage::KpGlobalGIFImage()> Image format not recognized in "
                  "KpGIFImage::kpSaveImage!");
    // The largest side is fine.
    KpImage widest(65535, 1, 24);
    codec()->kpSaveImage(name.c_str(), widest);
    EXPECT_EQ(load(testsupport::readFileBytes(name)).kpGetWidth(), 65535);
    std::remove(name.c_str());
    rmdir(dir.c_str());
}

TEST(KpGIFImage, FailedWritesRaiseCode4AndLeaveNoFile)
{
    KpImage image = colourImage(2, 2, [](int i) { return uint32_t(i); });
    if (testsupport::fileExists("/dev/full")) {
        expectFailure([&] { codec()->kpSaveImage("/dev/full", image); }, KP_BAD_FILE,
                      "<KpGIFImage::kpSaveImage()> Could not write the whole file (disk full or stream closed).");
    }
    const std::string dir = testsupport::makeTempDir();
    const std::string missingFolder = dir + "/no/such/folder/out.gif";
    expectFailure([&] { codec()->kpSaveImage(missingFolder.c_str(), image); }, KP_BAD_FILE,
                  "<KpGIFImage::kpSaveImage()> Could not open file for writing.");
    rmdir(dir.c_str());
}

TEST(KpGIFImage, FileNamesOfAnyLengthAreUsedWhole)
{
    // A path of well over 1028 characters, through nested folders.
    const std::string root = testsupport::makeTempDir();
    std::string path = root;
    std::vector<std::string> folders;
    while (path.size() < 1200) {
        path += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
        folders.push_back(path);
    }
    const std::string name = path + "/" + std::string(100, 'f') + ".gif";
    KpImage image = colourImage(2, 1, [](int i) { return uint32_t(0xABCDEF * i); });
    codec()->kpSaveImage(name.c_str(), image);
    EXPECT_EQ(pixelsOf(codec()->kpLoadImage(name.c_str())), pixelsOf(image));
    std::remove(name.c_str());
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        rmdir(folder->c_str());
    }
    rmdir(root.c_str());
}

using WrittenFilesInPeers = SkipWithoutCorpus;

TEST_F(WrittenFilesInPeers, PeersReadWhatWeWrite)
{
    if (!testsupport::isExecutable(GIFTEXT)) {
        GTEST_SKIP() << "giftext is not installed";
    }
    KpImage photo = benchsupport::makePhotoLikeImage(97, 61, 24);
    bool reduced = false;
    const Bytes expected = pixelsOf(KpBitsPerPixelConverter::kpReduceColors(photo, reduced));
    const std::string dir = testsupport::makeTempDir();
    const std::string name = dir + "/written.gif";
    codec()->kpSaveImage(name.c_str(), photo);
    EXPECT_TRUE(imageMagickRgb(name) == expected) << "ImageMagick reads other pixels";
    EXPECT_TRUE(gif2rgb(name) == expected) << "gif2rgb reads other pixels";

    const Bytes text = peerOutput(std::string(GIFTEXT) + " " + quoted(name));
    const std::string report(text.begin(), text.end());
    EXPECT_NE(report.find("Screen Size - Width = 97, Height = 61"), std::string::npos) << report;
    EXPECT_NE(report.find("BitsPerPixel = 8"), std::string::npos) << report;
    EXPECT_NE(report.find("Image #1"), std::string::npos) << report;
    EXPECT_EQ(report.find("Image #2"), std::string::npos) << report;
    EXPECT_NE(report.find("Image Has Color Map"), std::string::npos) << report;
    EXPECT_NE(report.find("GIF file terminated normally"), std::string::npos) << report;
    EXPECT_EQ(testsupport::readFile(name).compare(0, 6, "GIF87a"), 0);
    std::remove(name.c_str());
    rmdir(dir.c_str());
}

// --- Hostile files -------------------------------------------------------------

// A damaged file loads or raises a KpException; it never crashes, hangs or
// reads the terminal. Returns whether it loaded.
bool loadsOrRefuses(const Bytes& file)
{
    try {
        load(file);
        return true;
    } catch (const KpException& error) {
        EXPECT_EQ(error.kpGetCode(), KP_UNSUPPORTED_CONTENT) << error.what();
        return false;
    }
}

// Files to damage: one we write and, when the corpus is there, an
// interlaced animation and a large-palette picture.
std::vector<Bytes> victims()
{
    KpImage photo = benchsupport::makePhotoLikeImage(64, 48, 24);
    std::vector<Bytes> files = {savedBytes(photo)};
    if (!testsupport::corpusDir().empty()) {
        files.push_back(testsupport::readFileBytes(corpusFile("fire.gif")));
        files.push_back(testsupport::readFileBytes(corpusFile("porsche.gif")));
    }
    return files;
}

TEST(HostileGifFiles, TruncatedFilesLoadOrFailCleanly)
{
    testsupport::StandardInputSentinel input;
    for (const Bytes& file : victims()) {
        int loaded = 0;
        testing::internal::CaptureStderr();
        for (std::size_t length = 0; length < file.size(); length += 1 + length / 64) {
            loaded += loadsOrRefuses(Bytes(file.begin(), file.begin() + long(length)));
        }
        testing::internal::GetCapturedStderr();
        // Once the table and the start of the data are there, the
        // recovery turns most cut files into images.
        EXPECT_GT(loaded, 0);
    }
    EXPECT_TRUE(input.untouched());
}

TEST(HostileGifFiles, FlippedBitsInTheCodeStreamLoadOrFailCleanly)
{
    testsupport::StandardInputSentinel input;
    std::mt19937 random(2024);
    for (const Bytes& file : victims()) {
        testing::internal::CaptureStderr();
        for (int trial = 0; trial < 150; ++trial) {
            Bytes damaged = file;
            // Past the header and colour tables of every victim.
            const std::size_t from = std::min<std::size_t>(800, damaged.size() / 2);
            for (int flip = 0; flip < 1 + trial % 3; ++flip) {
                const std::size_t at = from + random() % (damaged.size() - from);
                damaged[at] = static_cast<uint8_t>(damaged[at] ^ (1u << (random() % 8)));
            }
            loadsOrRefuses(damaged);
        }
        testing::internal::GetCapturedStderr();
    }
    EXPECT_TRUE(input.untouched());
}

TEST(HostileGifFiles, OddCodeSizesAndHugeScreensLoadOrFailCleanly)
{
    testsupport::StandardInputSentinel input;
    std::mt19937 random(99);
    const std::vector<uint32_t> table(256, 0x336699);
    testing::internal::CaptureStderr();
    for (int minCodeSize : {0, 1, 9, 11, 12, 255}) {
        for (int trial = 0; trial < 40; ++trial) {
            Bytes codes(std::size_t(1 + random() % 600));
            for (uint8_t& byte : codes) {
                byte = static_cast<uint8_t>(random());
            }
            loadsOrRefuses(GifFile(40, 30, table).descriptor(0, 0, 40, 30).imageData(minCodeSize, codes).bytes());
        }
    }
    expectFailure([&] { load(GifFile(65535, 65535, table).trailer().bytes()); }, KP_UNSUPPORTED_CONTENT,
                  DECODER_FAILED);
    // A screen just small enough decodes as white without any data.
    const KpImage wide = load(GifFile(65535, 3, {}).trailer().bytes());
    EXPECT_EQ(wide.kpGetWidth(), 65535);
    EXPECT_EQ(wide.kpGetData()[3 * 65535 * 3 - 1], 255);
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(input.untouched());
}

} // namespace
