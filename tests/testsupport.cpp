#include "testsupport.h"

#include "kpexception.h"
#include "kpimagefactory.h"
#include "kplogger.h"
#include "kpmemoryfile.h"
#include "kpprocessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

KpImage grayFromPicture(const std::vector<std::string>& rows)
{
    const int height = static_cast<int>(rows.size());
    const int width = height == 0 ? 0 : static_cast<int>(rows[0].size());
    KpImage image(width, height, 8);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            char c = rows[y][x];
            uint8_t value = c == '#' ? 0 : c == '.' ? 255 : static_cast<uint8_t>((c - '0') * 25);
            image.kpGetData()[y * image.kpGetBytesPerRow() + x] = value;
        }
    }
    return image;
}

KpImage binaryFromPicture(const std::vector<std::string>& rows)
{
    const int height = static_cast<int>(rows.size());
    const int width = height == 0 ? 0 : static_cast<int>(rows[0].size());
    KpImage image(width, height, 1);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = image.kpGetData() + y * image.kpGetBytesPerRow();
        for (int x = 0; x < image.kpGetBytesPerRow(); ++x) {
            row[x] = 0;
        }
        for (int x = 0; x < width; ++x) {
            if (rows[y][x] != '#') {
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
    }
    return image;
}

KpImage colourPixels(const std::vector<std::array<uint8_t, 3>>& pixels)
{
    KpImage image(static_cast<int>(pixels.size()), 1, 24);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        image.kpSetPixel(static_cast<int>(i), 0, pixels[i][0], pixels[i][1], pixels[i][2]);
    }
    return image;
}

KpImage uniformColour(int width, int height, uint8_t r, uint8_t g, uint8_t b)
{
    KpImage image(width, height, 24);
    for (std::size_t i = 0; i < image.kpGetImageSize(); i += 3) {
        image.kpGetData()[i] = r;
        image.kpGetData()[i + 1] = g;
        image.kpGetData()[i + 2] = b;
    }
    return image;
}

std::vector<std::string> pictureOf(const KpImage& image)
{
    std::vector<std::string> rows;
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        std::string row;
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            uint8_t v = image.kpGetPixelScale(x, y);
            row += v == 0 ? '#' : v == 255 ? '.' : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

KpImage randomImage(int width, int height, int depth, uint32_t seed)
{
    KpImage image(width, height, depth);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t i = 0; i < image.kpGetImageSize(); ++i) {
        image.kpGetData()[i] = static_cast<uint8_t>(byte(random));
    }
    return image;
}

KpImage sixteenBitImage()
{
    KpImageHead head;
    head.width = 2;
    head.height = 2;
    head.depth = 16;
    head.bytesPerRow = 4;
    return KpImage(new uint8_t[8](), head);
}

KpImage balancedGrayImage()
{
    const uint8_t rows[5][5] = {{48, 65, 48, 99, 99},
                                {99, 99, 65, 99, 99},
                                {48, 48, 65, 48, 65},
                                {48, 65, 48, 65, 99},
                                {65, 99, 99, 99, 99}};
    KpImage image(5, 5, 8);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 5; ++x) {
            image.kpSetPixel(x, y, rows[y][x]);
        }
    }
    return image;
}

std::string capturedLog(const std::function<void()>& action)
{
    KpLogger* logger = KpLogger::kpGetInstance();
    logger->kpSetLevel(2);
    ::testing::internal::CaptureStdout();
    try {
        action();
    } catch (...) {
        ::testing::internal::GetCapturedStdout();
        logger->kpSetLevel(3);
        throw;
    }
    const std::string text = ::testing::internal::GetCapturedStdout();
    logger->kpSetLevel(3);
    return text;
}

void expectFailure(const std::function<void()>& action, int code, const std::string& text, const std::string& sourceName)
{
    try {
        action();
        ADD_FAILURE() << "nothing thrown, expected: " << text;
    } catch (const KpException& e) {
        EXPECT_EQ(e.kpGetCode(), code) << e.what();
        const std::string message = e.kpGetMessage();
        EXPECT_TRUE(message.size() >= text.size() && message.compare(message.size() - text.size(), text.size(), text) == 0)
            << message;
        if (!sourceName.empty()) {
            EXPECT_EQ(message.rfind(sourceName + ":", 0), 0u) << message;
        }
    }
}

std::string textOf(const std::vector<PointList>& lists)
{
    std::string text;
    for (const PointList& list : lists) {
        for (const point& p : list) {
            text += "(" + std::to_string(p.row) + "," + std::to_string(p.col) + ")";
        }
        text += "\n";
    }
    return text;
}

void forEachBuild(const std::function<void(const std::string& build)>& check)
{
    if (KpProcessor::kpUseAvx2()) {
        check("AVX2");
    }
    KpProcessor::kpAllowAvx2(false);
    check("baseline");
    KpProcessor::kpAllowAvx2(true);
}

void expectBareFailure(const std::function<void()>& action, int code, const std::string& text)
{
    try {
        action();
        ADD_FAILURE() << "nothing thrown, expected: " << text;
    } catch (const KpException& e) {
        EXPECT_EQ(e.kpGetCode(), code);
        EXPECT_EQ(e.kpGetMessage(), text);
    }
}

std::string corpusDir()
{
    struct stat info;
    std::string dir = DOVODA_CORPUS_DIR;
    if (stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return dir;
    }
    return std::string();
}

std::string makeTempDir()
{
    char pattern[] = "/tmp/dovoda-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    return pattern;
}

ScopedWorkingDir::ScopedWorkingDir() : folder(makeTempDir())
{
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) == nullptr || chdir(folder.c_str()) != 0) {
        throw std::runtime_error("cannot enter the temporary folder " + folder);
    }
    previous = buffer;
}

ScopedWorkingDir::~ScopedWorkingDir()
{
    if (chdir(previous.c_str()) != 0) {
        std::abort();
    }
}

std::string readFile(const std::string& fileName)
{
    const std::vector<uint8_t> bytes = readFileBytes(fileName);
    return std::string(bytes.begin(), bytes.end());
}

bool fileExists(const std::string& fileName)
{
    struct stat info;
    return stat(fileName.c_str(), &info) == 0;
}

bool isExecutable(const std::string& path)
{
    return access(path.c_str(), X_OK) == 0;
}

std::vector<uint8_t> runCommand(const std::string& command, int* exitStatus)
{
    std::vector<uint8_t> output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run " + command);
    }
    uint8_t chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0) {
        output.insert(output.end(), chunk, chunk + got);
    }
    const int status = pclose(pipe);
    if (exitStatus != nullptr) {
        *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return output;
}

std::vector<uint8_t> readFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::vector<ListedCodec> listedCodecs()
{
    KpLogger::kpGetInstance()->kpSetLevel(2);
    ::testing::internal::CaptureStdout();
    KpImageFactory::kpGetInstance()->kpListImageTypes();
    const std::string text = ::testing::internal::GetCapturedStdout();
    KpLogger::kpGetInstance()->kpSetLevel(3);
    std::vector<ListedCodec> codecs;
    const std::string nameField = "Name = ";
    const std::string extensionField = ", Ext = ";
    std::string::size_type at = 0;
    while ((at = text.find(nameField, at)) != std::string::npos) {
        const std::string::size_type nameEnd = text.find(extensionField, at);
        const std::string::size_type lineEnd = text.find('\n', nameEnd);
        codecs.push_back({text.substr(at + nameField.size(), nameEnd - at - nameField.size()),
                          text.substr(nameEnd + extensionField.size(), lineEnd - nameEnd - extensionField.size())});
        at = lineEnd;
    }
    return codecs;
}

std::vector<uint8_t> fileBytes(const std::string& header, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> file(header.begin(), header.end());
    file.insert(file.end(), data.begin(), data.end());
    return file;
}

std::vector<uint8_t> pixelsOf(const KpImage& image)
{
    return std::vector<uint8_t>(image.kpGetData(), image.kpGetData() + image.kpGetImageSize());
}

namespace {

// The bytes in a file of this process's own temporary folder.
std::string writeTemporaryFile(const std::vector<uint8_t>& file)
{
    static const std::string path = makeTempDir() + "/image";
    writeFileBytes(path, file);
    return path;
}

KpImage loadFromBuffer(KpBaseImage& codec, std::vector<uint8_t> file)
{
    return codec.kpLoadImage(file.data(), static_cast<int>(file.size()));
}

} // namespace

KpImage loadFromBufferAndFile(KpBaseImage& codec, const std::vector<uint8_t>& file)
{
    KpImage fromBuffer = loadFromBuffer(codec, file);
    const KpImage fromFile = codec.kpLoadImage(writeTemporaryFile(file).c_str());
    EXPECT_EQ(fromFile.kpGetWidth(), fromBuffer.kpGetWidth());
    EXPECT_EQ(fromFile.kpGetHeight(), fromBuffer.kpGetHeight());
    EXPECT_EQ(fromFile.kpGetDepth(), fromBuffer.kpGetDepth());
    EXPECT_EQ(pixelsOf(fromFile), pixelsOf(fromBuffer));
    return fromBuffer;
}

void expectLoadFailure(KpBaseImage& codec, const std::vector<uint8_t>& file, int code, const std::string& text)
{
    expectFailure([&] { loadFromBuffer(codec, file); }, code, text);
    const std::string path = writeTemporaryFile(file);
    expectFailure([&] { codec.kpLoadImage(path.c_str()); }, code, text);
}

std::vector<uint8_t> grayOfBinary(const KpImage& image)
{
    std::vector<uint8_t> gray;
    for (int y = 0; y < image.kpGetHeight(); ++y) {
        for (int x = 0; x < image.kpGetWidth(); ++x) {
            gray.push_back(image.kpGetPixelScale(x, y));
        }
    }
    return gray;
}

void expectFailedSaves(KpBaseImage& codec, int depth, int largeWidth, int openCode, const std::string& openText,
                       const std::string& noDataText)
{
    for (int width : {2, largeWidth}) {
        SCOPED_TRACE(width);
        KpImage image(width, width, depth);
        expectFailure([&] { codec.kpSaveImage("/dev/full", image); }, 4, "(disk full or stream closed).");
    }
    const std::string folder = makeTempDir();
    const std::string path = folder + "/absent/image";
    KpImage image(2, 2, depth);
    expectFailure([&] { codec.kpSaveImage(path.c_str(), image); }, openCode, openText);
    KpImage empty;
    expectFailure([&] { codec.kpSaveImage((folder + "/empty").c_str(), empty); }, 5, noDataText);
    EXPECT_FALSE(fileExists(folder + "/empty"));
}

void expectSinglePage(KpBaseImage& codec, const std::string& path, const std::string& className)
{
    EXPECT_EQ(codec.kpGetTotalPages(path.c_str()), 1);
    EXPECT_NO_THROW(codec.kpLoadImageAtPage(path.c_str(), 1));
    expectFailure([&] { codec.kpLoadImageAtPage(path.c_str(), 0); }, 15,
                  "<" + className + "::kpLoadImageAtPage()> Page number can't be 0 (zero).");
    std::vector<uint8_t> bytes = readFileBytes(path);
    expectFailure([&] { codec.kpLoadImageAtPage(bytes.data(), static_cast<int>(bytes.size()), 2); }, 8,
                  "<" + className + "::kpLoadImageAtPage()> Image only contain 1 pages. User requesting page 2.");
}

int openFileCount()
{
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) {
        return 0;
    }
    int count = 0;
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(folder);
    return count;
}

int freeMemoryFileSlots()
{
    std::vector<int> handles;
    unsigned char byte = 0;
    for (int handle = mem_open(&byte, 1, "r"); handle >= 0; handle = mem_open(&byte, 1, "r")) {
        handles.push_back(handle);
    }
    for (int handle : handles) {
        mem_close(handle);
    }
    return static_cast<int>(handles.size());
}

std::vector<uint8_t> magickSamples(const std::string& path, const std::string& samples)
{
    int status = -1;
    std::vector<uint8_t> pixels =
        runCommand(std::string(MAGICK_CONVERT) + " '" + path + "' -depth 8 " + samples + ":- 2>/dev/null", &status);
    return status == 0 ? pixels : std::vector<uint8_t>();
}

std::vector<uint8_t> netpbmSamples(const std::string& path)
{
    // pamtopam writes a header ending in "ENDHDR" and a line end, then the
    // samples.
    int status = -1;
    const std::vector<uint8_t> output =
        runCommand(std::string(NETPBM_PAMDEPTH) + " 255 '" + path + "' 2>/dev/null | pamtopam", &status);
    const std::string end = "ENDHDR\n";
    const auto header = std::search(output.begin(), output.end(), end.begin(), end.end());
    if (status != 0 || header == output.end()) {
        return std::vector<uint8_t>();
    }
    return std::vector<uint8_t>(header + static_cast<std::ptrdiff_t>(end.size()), output.end());
}

StandardInputSentinel::StandardInputSentinel()
{
    if (pipe(ends) != 0 || write(ends[1], "k", 1) != 1) {
        throw std::runtime_error("cannot make a pipe for standard input");
    }
    saved = dup(STDIN_FILENO);
    dup2(ends[0], STDIN_FILENO);
}

StandardInputSentinel::~StandardInputSentinel()
{
    dup2(saved, STDIN_FILENO);
    close(saved);
    close(ends[0]);
    close(ends[1]);
}

bool StandardInputSentinel::untouched() const
{
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    char byte = 0;
    const bool unread = read(ends[0], &byte, 1) == 1 && byte == 'k';
    if (unread && write(ends[1], &byte, 1) != 1) {
        throw std::runtime_error("cannot put the byte back into the pipe");
    }
    return unread;
}

} // namespace testsupport
