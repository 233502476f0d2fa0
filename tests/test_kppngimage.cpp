#include "kpexception.h"
#include "kppngimage.h"
#include "photolikeimage.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

const char* const ALPHA_TEXT =
    "<KpPNGImage::kpProcessImage()> Unsupported PNG type: Alpha Component stripping will result in image corruption";
const char* const UNSUPPORTED_TEXT = "<KpPNGImage::kpProcessImage()> Unsupported png type";

std::string fileBytes(const std::string& name)
{
    const std::vector<uint8_t> bytes = testsupport::readFileBytes(name);
    return std::string(bytes.begin(), bytes.end());
}

void writeBytes(const std::string& name, const std::string& bytes)
{
    testsupport::writeFileBytes(name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

bool fileExists(const std::string& name)
{
    struct stat info;
    return stat(name.c_str(), &info) == 0;
}

std::vector<std::string> filesOf(const std::string& dir, const std::string& suffix)
{
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(dir.c_str()), closedir);
    if (!folder) {
        return names;
    }
    while (dirent* entry = readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string bytesOf(const KpImage& image)
{
    return std::string(reinterpret_cast<const char*>(image.kpGetData()), image.kpGetImageSize());
}

KpPNGImage* png()
{
    return KpPNGImage::kpGetInstance();
}

KpImage loadBuffer(std::string bytes)
{
    return png()->kpLoadImage(reinterpret_cast<unsigned char*>(&bytes[0]), static_cast<int>(bytes.size()));
}

// The code and text of the KpException an action raises; code 0 when it
// raises none.
struct Failure {
    int code = 0;
    std::string text;
};

Failure failureOf(const std::function<void()>& action)
{
    Failure failure;
    try {
        action();
    } catch (const KpException& error) {
        failure.code = error.kpGetCode();
        const std::string message = error.kpGetMessage();
        const std::string::size_type separator = message.find(": ");
        failure.text = separator == std::string::npos ? message : message.substr(separator + 2);
    }
    return failure;
}

// The PngSuite expected pixels: a JSON array of r, g, b, a values, 16-bit
// for the 16-bit files.
std::vector<int> expectedValues(const std::string& name)
{
    std::ifstream in(name);
    std::vector<int> values;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (char& c : text) {
        if (c == '[' || c == ']' || c == ',') {
            c = ' ';
        }
    }
    std::istringstream numbers(text);
    int value;
    while (numbers >> value) {
        values.push_back(value);
    }
    return values;
}

// The red, green and blue of pixel (x, y) of a loaded image, from its
// store: a 1-bit pixel is 0 or 255, an 8-bit one gray.
void pixelOf(const KpImage& image, int x, int y, int rgb[3])
{
    if (image.kpGetDepth() == 24) {
        uint8_t r, g, b;
        image.kpGetPixel(x, y, &r, &g, &b);
        rgb[0] = r;
        rgb[1] = g;
        rgb[2] = b;
    } else {
        rgb[0] = rgb[1] = rgb[2] = image.kpGetPixelScale(x, y);
    }
}

// What the codec makes of a PngSuite file, from the suite's naming: the
// colour type is the digit at position 4 and the bit depth the last two
// digits.
struct SuiteFile {
    std::string name;
    int colourType;
    int bitDepth;
    bool transparent;
};

SuiteFile describe(const std::string& dir, const std::string& name)
{
    SuiteFile file;
    file.name = name;
    file.colourType = name[4] - '0';
    file.bitDepth = std::atoi(name.substr(6, 2).c_str());
    file.transparent = fileBytes(dir + "/" + name).find("tRNS") != std::string::npos;
    return file;
}

int expectedDepth(const SuiteFile& file)
{
    if (file.colourType == 0) {
        return file.bitDepth == 1 ? 1 : 8;
    }
    return 24;
}

class PngSuite : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string corpus = testsupport::corpusDir();
        if (corpus.empty()) {
            GTEST_SKIP() << "the corpus folder ../shared/corpus is absent";
        }
        dir = corpus + "/png";
        expectedDir = corpus + "/png-expected";
    }
    std::string dir;
    std::string expectedDir;
};

void expectPixels(const SuiteFile& file, const KpImage& image, const std::vector<int>& expected)
{
    const int width = image.kpGetWidth();
    const int height = image.kpGetHeight();
    ASSERT_EQ(expected.size(), static_cast<std::size_t>(width) * height * 4) << file.name;
    const int shift = file.bitDepth == 16 ? 8 : 0;
    int mismatches = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int rgb[3];
            pixelOf(image, x, y, rgb);
            const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 4;
            for (int c = 0; c < 3; ++c) {
                if (rgb[c] != expected[at + c] >> shift && ++mismatches <= 3) {
                    ADD_FAILURE() << file.name << " pixel (" << x << ", " << y << ") channel " << c << ": "
                                  << rgb[c] << " instead of " << (expected[at + c] >> shift);
                }
            }
        }
    }
}

TEST_F(PngSuite, EveryValidFileLoadsWithTheExpectedPixelsOrIsRefusedWithItsText)
{
    int loaded = 0;
    for (const std::string& name : filesOf(dir, ".png")) {
        if (name[0] == 'x') {
            continue;
        }
        const SuiteFile file = describe(dir, name);
        const std::string path = dir + "/" + name;
        if ((file.colourType & 4) != 0) {
            EXPECT_EQ(failureOf([&] { png()->kpLoadImage(path.c_str()); }).text, ALPHA_TEXT) << name;
            continue;
        }
        if (file.colourType == 3 && file.transparent) {
            EXPECT_EQ(failureOf([&] { png()->kpLoadImage(path.c_str()); }).text, UNSUPPORTED_TEXT) << name;
            continue;
        }
        const KpImage image = png()->kpLoadImage(path.c_str());
        EXPECT_EQ(image.kpGetDepth(), expectedDepth(file)) << name;
        EXPECT_EQ(image.kpGetFormat(), image.kpGetDepth() == 1 ? 1 : image.kpGetDepth() == 8 ? 2 : 3) << name;
        EXPECT_EQ(image.kpGetReserved1(), 1) << name;
        expectPixels(file, image, expectedValues(expectedDir + "/" + name.substr(0, name.size() - 4) + ".json"));
        const KpImage fromBuffer = loadBuffer(fileBytes(path));
        EXPECT_EQ(bytesOf(fromBuffer), bytesOf(image)) << name;
        ++loaded;
    }
    EXPECT_GT(loaded, 100);
}

TEST_F(PngSuite, ResolutionComesFromThePhysChunkInMetresOnly)
{
    struct Case {
        const char* file;
        float dotsPerInch;
    } cases[] = {
        {"basn2c08.png", 0.0f},            // no pHYs chunk
        {"cdfn2c08.png", 0.0f},            // pHYs without a unit
        {"cdun2c08.png", 1000 / 39.37f},   // 1000 pixels per metre
    };
    for (const Case& c : cases) {
        const KpImage image = png()->kpLoadImage((dir + "/" + c.file).c_str());
        EXPECT_FLOAT_EQ(image.kpGetXResolution(), c.dotsPerInch) << c.file;
        EXPECT_FLOAT_EQ(image.kpGetYResolution(), c.dotsPerInch) << c.file;
    }
}

TEST_F(PngSuite, CorruptedFilesAreRefusedWithAnException)
{
    const int openBefore = testsupport::openFileCount();
    int refused = 0;
    for (const std::string& name : filesOf(dir, ".png")) {
        if (name[0] != 'x') {
            continue;
        }
        const std::string path = dir + "/" + name;
        EXPECT_NE(failureOf([&] { png()->kpLoadImage(path.c_str()); }).code, 0) << name;
        EXPECT_NE(failureOf([&] { loadBuffer(fileBytes(path)); }).code, 0) << name;
        ++refused;
    }
    EXPECT_GT(refused, 10);
    EXPECT_EQ(testsupport::openFileCount(), openBefore);
}

// A PNG chunk: length, type, data and CRC.
std::string chunk(const std::string& type, const std::string& data)
{
    auto bigEndian = [](uint32_t value) {
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i) {
            bytes[i] = static_cast<char>(value >> (24 - 8 * i));
        }
        return bytes;
    };
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : type + data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return bigEndian(static_cast<uint32_t>(data.size())) + type + data + bigEndian(~crc);
}

const std::string SIGNATURE("\x89PNG\r\n\x1a\n", 8);

// A file whose header claims width x height pixels of 8-bit RGB, with a
// token image data chunk.
std::string claimedImage(uint32_t width, uint32_t height)
{
    std::string header;
    for (uint32_t value : {width, height}) {
        for (int i = 0; i < 4; ++i) {
            header += static_cast<char>(value >> (24 - 8 * i));
        }
    }
    header += std::string("\x08\x02\x00\x00\x00", 5);
    return SIGNATURE + chunk("IHDR", header) + chunk("IDAT", std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)) +
           chunk("IEND", "");
}

TEST(PngHostileInput, ImpossibleHeadersAreRefusedBeforeAnyAllocation)
{
    struct Case {
        const char* what;
        std::string bytes;
        int code;
        std::string text;
    } cases[] = {
        {"a million squared RGB pixels", claimedImage(1000000, 1000000), 13,
         "<KpPNGImage::kpProcessImage()> Could not allocate enough memory for the uncompressed image"},
        {"2^31 x 2^31 pixels", claimedImage(0x80000000u, 0x80000000u), 1,
         "<KpPNGImage::kpLoadImage(...)> Unable to create PNG struct."},
        {"zero width", claimedImage(0, 10), 1, "<KpPNGImage::kpLoadImage(...)> Unable to create PNG struct."},
        {"zero height", claimedImage(10, 0), 1, "<KpPNGImage::kpLoadImage(...)> Unable to create PNG struct."},
        {"only a signature", SIGNATURE, 1, "<KpPNGImage::kpLoadImage(...)> Unable to create PNG struct."},
        {"wrong magic", "GIF89a" + claimedImage(1, 1).substr(6), 7,
         "<KpPNGImage::kpLoadImage()> PNG header did not match expected."},
        {"shorter than a signature", SIGNATURE.substr(0, 7), 7,
         "<KpPNGImage::kpLoadImage()> PNG header did not match expected."},
        {"nothing", "", 7, "<KpPNGImage::kpLoadImage()> PNG header did not match expected."},
    };
    const std::string dir = testsupport::makeTempDir();
    for (const Case& c : cases) {
        const Failure fromBuffer = failureOf([&] { loadBuffer(c.bytes); });
        EXPECT_EQ(fromBuffer.code, c.code) << c.what;
        EXPECT_EQ(fromBuffer.text, c.text) << c.what;
        const std::string path = dir + "/hostile.png";
        writeBytes(path, c.bytes);
        const Failure fromFile = failureOf([&] { png()->kpLoadImage(path.c_str()); });
        EXPECT_EQ(fromFile.code, c.code) << c.what;
        EXPECT_EQ(fromFile.text, c.text) << c.what;
    }
}

TEST(PngHostileInput, EveryTruncationIsRefused)
{
    KpImage image = testsupport::grayFromPicture({"#.5.#3", ".#1#.2", "55.#..", "#.#.#."});
    const std::string dir = testsupport::makeTempDir();
    const std::string whole = dir + "/whole.png";
    image.kpSaveImage(whole.c_str());
    const std::string bytes = fileBytes(whole);
    const int openBefore = testsupport::openFileCount();
    const std::string path = dir + "/cut.png";
    // The last 12 bytes are the end chunk, which the codec does not read.
    for (std::size_t length = 0; length + 12 < bytes.size(); ++length) {
        EXPECT_NE(failureOf([&] { loadBuffer(bytes.substr(0, length)); }).code, 0) << length;
        if (length % 5 == 0) {
            writeBytes(path, bytes.substr(0, length));
            EXPECT_NE(failureOf([&] { png()->kpLoadImage(path.c_str()); }).code, 0) << length;
        }
    }
    EXPECT_EQ(testsupport::openFileCount(), openBefore);
    EXPECT_EQ(testsupport::pictureOf(loadBuffer(bytes)), testsupport::pictureOf(image));
}

// A seeded image of random pixels of a depth.
KpImage randomImage(int width, int height, int depth, unsigned seed)
{
    KpImage image(width, height, depth);
    std::mt19937 random(seed);
    for (std::size_t i = 0; i < image.kpGetImageSize(); ++i) {
        image.kpGetData()[i] = static_cast<uint8_t>(random());
    }
    if (depth == 1 && width % 8 != 0) {
        // Padding bits past the last pixel of a row are not pixels.
        const int padding = 8 - width % 8;
        for (int y = 0; y < height; ++y) {
            image.kpGetData()[y * image.kpGetBytesPerRow() + image.kpGetBytesPerRow() - 1] &=
                static_cast<uint8_t>(0xFF << padding);
        }
    }
    return image;
}

// Pixels as ImageMagick reads them, one byte per sample.
std::string readByPeer(const std::string& path, const char* layout)
{
    const std::vector<uint8_t> bytes =
        testsupport::runCommand("/usr/bin/convert " + path + " -depth 8 " + layout + ":- 2>/dev/null");
    return std::string(bytes.begin(), bytes.end());
}

// The 8-bit samples of an image: 1-bit pixels become 0 or 255.
std::string samplesOf(const KpImage& image)
{
    if (image.kpGetDepth() != 1) {
        return bytesOf(image);
    }
    std::string samples;
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            samples += static_cast<char>(image.kpGetPixelScale(x, y));
        }
    }
    return samples;
}

class PngRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(PngRoundTrip, SavedImagesReadBackIdenticallyHereAndInAPeer)
{
    const int depth = GetParam();
    KpImage image = randomImage(37, 23, depth, 7u + depth);
    image.kpSetXResolution(300.0f);
    const std::string path = testsupport::makeTempDir() + "/round.png";
    image.kpSaveImage(path.c_str());
    const KpImage back = png()->kpLoadImage(path.c_str());
    EXPECT_EQ(back.kpGetDepth(), depth);
    EXPECT_EQ(bytesOf(back), bytesOf(image));
    EXPECT_EQ(back.kpGetXResolution(), 0.0f);
    if (!fileExists("/usr/bin/convert")) {
        GTEST_SKIP() << "/usr/bin/convert is missing";
    }
    EXPECT_EQ(readByPeer(path, depth == 24 ? "rgb" : "gray"), samplesOf(image));
}

INSTANTIATE_TEST_SUITE_P(Depths, PngRoundTrip, ::testing::Values(1, 8, 24));

// The file libpng writes for an image when it chooses every row's filter
// itself, with the codec's settings: the oracle of the saves.
void appendToString(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

std::string encodedByLibpng(const KpImage& image)
{
    std::string encoded;
    png_structp handle = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(handle);
    std::vector<png_bytep> rows;
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        rows.push_back(image.kpGetData() + static_cast<std::size_t>(y) * image.kpGetBytesPerRow());
    }
    if (setjmp(png_jmpbuf(handle)) == 0) {
        png_set_write_fn(handle, &encoded, appendToString, nullptr);
        const int depth = image.kpGetDepth();
        png_set_IHDR(handle, info, image.kpGetWidth(), image.kpGetHeight(), depth == 1 ? 1 : 8,
                     depth == 24 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_strategy(handle, Z_RLE);
        png_write_info(handle, info);
        png_write_image(handle, rows.data());
        png_write_end(handle, nullptr);
    } else {
        encoded.clear();
    }
    png_destroy_write_struct(&handle, &info);
    return encoded;
}

// An 8-bit or 24-bit image whose samples are value(x, y, channel).
template <typename Value> KpImage drawnImage(int width, int height, int depth, Value value)
{
    KpImage image(width, height, depth);
    const int channels = depth / 8;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width * channels; ++x) {
            image.kpGetData()[static_cast<std::size_t>(y) * image.kpGetBytesPerRow() + x] =
                static_cast<uint8_t>(value(x / channels, y, x % channels));
        }
    }
    return image;
}

// The codec chooses the filter of each row itself and hands libpng only
// that one; the files must be those libpng writes when it tries all five.
// The cases make each filter win somewhere, tie, and cover the sizes that
// restrict libpng's choice.
TEST(PngSave, WritesTheSameBytesAsLibpngChoosingItsOwnFilters)
{
    struct Case {
        const char* name;
        KpImage image;
    };
    std::mt19937 random(11);
    const Case cases[] = {
        {"random gray", randomImage(37, 23, 8, 5)},
        {"random colour", randomImage(41, 17, 24, 6)},
        {"horizontal ramp (Sub)", drawnImage(50, 9, 8, [](int x, int, int) { return 3 * x; })},
        {"vertical stripes (Up)", drawnImage(50, 9, 8, [](int x, int, int) { return (x * 77) % 251; })},
        {"plane (Average, Paeth)", drawnImage(33, 20, 24, [](int x, int y, int c) { return 5 * x + 7 * y + 40 * c; })},
        {"checks and noise", drawnImage(29, 31, 8, [&](int x, int y, int) { return ((x / 3 + y / 2) % 2) * 200 + random() % 4; })},
        {"flat", drawnImage(16, 16, 8, [](int, int, int) { return 128; })},
        {"black (all filters tie)", drawnImage(12, 5, 8, [](int, int, int) { return 0; })},
        {"sparse edges", drawnImage(64, 48, 8, [&](int, int, int) { return random() % 9 == 0 ? 0 : 255; })},
        {"photo-like gray", benchsupport::makePhotoLikeImage(160, 120, 8, 3)},
        {"photo-like colour", benchsupport::makePhotoLikeImage(97, 61, 24, 4)},
        {"two by two", randomImage(2, 2, 8, 7)},
        {"one column", randomImage(1, 13, 8, 8)},
        {"one row", randomImage(19, 1, 24, 9)},
        {"binary", randomImage(45, 12, 1, 10)},
    };
    const std::string dir = testsupport::makeTempDir();
    for (const Case& c : cases) {
        KpImage image = c.image;
        const std::string path = dir + "/saved.png";
        png()->kpSaveImage(path.c_str(), image);
        const std::string expected = encodedByLibpng(image);
        ASSERT_FALSE(expected.empty()) << c.name;
        EXPECT_TRUE(fileBytes(path) == expected) << c.name;
    }
}

// Saving the same pixels again writes the remembered file; any change of
// a pixel or of the layout encodes afresh.
TEST(PngSave, SavingTheSamePixelsAgainWritesTheSameFile)
{
    const std::string dir = testsupport::makeTempDir();
    auto saved = [&](KpImage image, const std::string& name) {
        png()->kpSaveImage((dir + "/" + name).c_str(), image);
        return fileBytes(dir + "/" + name);
    };
    const KpImage original = benchsupport::makePhotoLikeImage(90, 70, 8, 5);
    const std::string first = saved(original, "first.png");
    EXPECT_EQ(saved(original, "again.png"), first);
    KpImage copy = original;
    EXPECT_EQ(saved(copy, "copy.png"), first);

    KpImage changed = original;
    changed.kpGetData()[90 * 70 - 1] ^= 1;
    const std::string changedFile = saved(changed, "changed.png");
    EXPECT_EQ(changedFile, encodedByLibpng(changed));
    EXPECT_EQ(bytesOf(loadBuffer(changedFile)), bytesOf(changed));
    EXPECT_EQ(saved(original, "back.png"), first);

    // The same 6300 bytes as a 70 x 90 image.
    KpImage turned(70, 90, 8);
    std::memcpy(turned.kpGetData(), original.kpGetData(), original.kpGetImageSize());
    saved(original, "before-turned.png");
    EXPECT_EQ(saved(turned, "turned.png"), encodedByLibpng(turned));
}

TEST(PngSave, AFullDiskIsAnErrorAndTheDeviceStays)
{
    if (!fileExists("/dev/full")) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    KpImage image = randomImage(64, 64, 24, 1);
    const Failure failure = failureOf([&] { png()->kpSaveImage("/dev/full", image); });
    EXPECT_EQ(failure.code, 1);
    EXPECT_EQ(failure.text, "<KpPNGImage::kpSaveImage()> Error during image write.");
    EXPECT_TRUE(fileExists("/dev/full"));
}

// A file size limit makes the writes fail on a regular file.
TEST(PngSave, AFailedWriteRemovesThePartialFile)
{
    KpImage image = randomImage(512, 512, 24, 2);
    const std::string path = testsupport::makeTempDir() + "/partial.png";
    rlimit original;
    getrlimit(RLIMIT_FSIZE, &original);
    rlimit limited = original;
    limited.rlim_cur = 4096;
    void (*previous)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limited);
    const Failure failure = failureOf([&] { png()->kpSaveImage(path.c_str(), image); });
    setrlimit(RLIMIT_FSIZE, &original);
    signal(SIGXFSZ, previous);
    EXPECT_EQ(failure.code, 1);
    EXPECT_EQ(failure.text, "<KpPNGImage::kpSaveImage()> Error during image write.");
    EXPECT_FALSE(fileExists(path));
}

TEST(PngSave, RefusalsNameTheirCause)
{
    KpImage image = randomImage(4, 4, 8, 3);
    KpImage empty;
    struct Case {
        const char* what;
        std::function<void()> action;
        int code;
        std::string text;
    } cases[] = {
        {"folder missing", [&] { png()->kpSaveImage("/nonexistent/folder/a.png", image); }, 1,
         "<KpPNGImage::kpSaveImage()> File could not be opened."},
        {"empty image", [&] { png()->kpSaveImage("/nonexistent/folder/a.png", empty); }, 5,
         "<KpPNGImage::kpSaveImage()> Image Data is NULL!"},
        {"compression type", [&] { png()->kpSaveImage("/nonexistent/folder/a.png", image, 1); }, 3,
         "<KpPNGImage::kpSaveImage(compression_type)> Not Yet Implemented!"},
        {"missing input", [&] { png()->kpLoadImage("/nonexistent/folder/a.png"); }, 1,
         "<KpPNGImage::kpLoadImage()> File could not be opened."},
    };
    for (const Case& c : cases) {
        const Failure failure = failureOf(c.action);
        EXPECT_EQ(failure.code, c.code) << c.what;
        EXPECT_EQ(failure.text, c.text) << c.what;
    }
}

} // namespace
