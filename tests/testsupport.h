#ifndef DOVODA_TESTSUPPORT_H
#define DOVODA_TESTSUPPORT_H

#include "kpbaseimage.h"
#include "kpimage.h"
#include "point.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

// Shared fixtures of the unit tests.
namespace testsupport {

// An 8-bit image drawn from a picture of rows: '#' is black (0), '.' is
// white (255), a digit d is gray d * 25.
KpImage grayFromPicture(const std::vector<std::string>& rows);
// A 1-bit image drawn from a picture of rows: '#' is black (bit 0), any
// other character white (bit 1); bits past the width stay 0.
KpImage binaryFromPicture(const std::vector<std::string>& rows);
// The picture of an 8-bit or 1-bit image: '#' for 0, '.' for 255, '?'
// for anything else.
std::vector<std::string> pictureOf(const KpImage& image);
// An image whose bytes (padding bits included) are random, drawn from a
// fixed seed.
KpImage randomImage(int width, int height, int depth, uint32_t seed);
// A 2 x 2 image of depth 16, which no operation supports, holding a
// buffer.
KpImage sixteenBitImage();
// A 5 x 5 gray image of the levels 48, 65 and 99 whose third central
// moment is exactly 0 about its mean 75.2, which no double holds: its
// computed skewness is what the order of the additions leaves, and its
// deviation summed pixel by pixel, rows top to bottom, is one unit in the
// last place above the same terms summed level by level.
KpImage balancedGrayImage();

// What action writes through the shared logger at level 2 and above (to
// standard output); the threshold is back at 3 afterwards.
std::string capturedLog(const std::function<void()>& action);

// Point lists as text, one list a line: "(row,col)(row,col)...".
std::string textOf(const std::vector<PointList>& lists);

// A 24-bit image of one row holding these pixels.
KpImage colourPixels(const std::vector<std::array<uint8_t, 3>>& pixels);
// A 24-bit image of one colour.
KpImage uniformColour(int width, int height, uint8_t r, uint8_t g, uint8_t b);

// Runs check with the AVX2 builds of the hot loops (when the processor
// has AVX2) and again with the baseline builds only, naming the build.
void forEachBuild(const std::function<void(const std::string& build)>& check);

// Runs action and checks that it raises a KpException with this code and
// a message ending in this text; with a source name, the message must
// also begin with that file name and a colon.
void expectFailure(const std::function<void()>& action, int code, const std::string& text,
                   const std::string& sourceName = std::string());

// The same for a failure whose whole message is text: it carries no
// source location.
void expectBareFailure(const std::function<void()>& action, int code, const std::string& text);

// The folder of real image files written by other programs, or an empty
// string when it is absent.
std::string corpusDir();
// A fresh empty folder for one test's files.
std::string makeTempDir();

// Makes a fresh temporary folder the working directory for its lifetime
// (for code that writes fixed-name files into the working directory) and
// returns to the previous one on destruction.
class ScopedWorkingDir {
public:
    ScopedWorkingDir();
    ~ScopedWorkingDir();
    ScopedWorkingDir(const ScopedWorkingDir&) = delete;
    ScopedWorkingDir& operator=(const ScopedWorkingDir&) = delete;
    const std::string& path() const { return folder; }

private:
    std::string previous;
    std::string folder;
};

// The whole content of a file, or an empty string when it cannot be read.
std::string readFile(const std::string& fileName);
bool fileExists(const std::string& fileName);

// True when path names an executable program (a peer used as an oracle).
bool isExecutable(const std::string& path);
// Runs a shell command and returns what it wrote to standard output;
// *exitStatus (when given) receives its exit status.
std::vector<uint8_t> runCommand(const std::string& command, int* exitStatus = nullptr);
// The whole content of a file (empty when it cannot be read), and the
// other way round.
std::vector<uint8_t> readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A registered codec as kpListImageTypes logs it.
struct ListedCodec {
    std::string name;
    std::string extensions; // comma-separated, as registered
    std::string firstExtension() const { return extensions.substr(0, extensions.find(',')); }
};
// The registered codecs in search order.
std::vector<ListedCodec> listedCodecs();

// The bytes of an image file: a text header followed by binary data.
std::vector<uint8_t> fileBytes(const std::string& header, const std::vector<uint8_t>& data);
// The pixel buffer of an image.
std::vector<uint8_t> pixelsOf(const KpImage& image);
// Loads an encoded image with the codec from a memory buffer and from a
// file; the two must agree (checked), and the buffer's image is returned.
KpImage loadFromBufferAndFile(KpBaseImage& codec, const std::vector<uint8_t>& file);
// Both loads of the bytes fail with this code and a message ending in
// this text.
void expectLoadFailure(KpBaseImage& codec, const std::vector<uint8_t>& file, int code, const std::string& text);

// One byte per pixel, 0 or 255, of a 1-bit image.
std::vector<uint8_t> grayOfBinary(const KpImage& image);
// The bytes a codec's kpSaveImageToMem writes for the image.
template <class Codec> std::vector<uint8_t> savedToMemory(Codec& codec, KpImage& image)
{
    unsigned char* block = nullptr;
    int size = 0;
    codec.kpSaveImageToMem(image, &block, &size);
    std::vector<uint8_t> bytes(block, block + size);
    std::free(block);
    return bytes;
}

// Saves through the codec that must fail: into /dev/full a small image
// of the depth (the close fails) and one largeWidth pixels square (a
// write fails), code 4; into a missing folder, openCode with openText;
// an image without data, code 5 with noDataText. No file is left behind.
void expectFailedSaves(KpBaseImage& codec, int depth, int largeWidth, int openCode, const std::string& openText,
                       const std::string& noDataText);
// The single-page rule on a file the codec reads: one page, page 1
// loads, page 0 raises code 15 and page 2 code 8, with the texts that
// name className.
void expectSinglePage(KpBaseImage& codec, const std::string& path, const std::string& className);

// The number of files this process holds open, and of free slots in the
// memory-file table: a load or save that fails must change neither.
int openFileCount();
int freeMemoryFileSlots();

// How a peer decodes an image file, as 8-bit samples without a header,
// rows top to bottom. ImageMagick: samples is "rgb" or "gray". netpbm:
// scaled to a maximum of 255, three samples per pixel for a pixmap and
// one (0 black, 255 white) for a bitmap. Empty when the peer fails.
const char* const MAGICK_CONVERT = "/usr/bin/convert";
const char* const NETPBM_PAMDEPTH = "/usr/bin/pamdepth";
std::vector<uint8_t> magickSamples(const std::string& path, const std::string& samples);
std::vector<uint8_t> netpbmSamples(const std::string& path);

// Puts a pipe holding one byte in place of standard input for its
// lifetime, to show that code under test never reads the terminal.
class StandardInputSentinel {
public:
    StandardInputSentinel();
    ~StandardInputSentinel();
    StandardInputSentinel(const StandardInputSentinel&) = delete;
    StandardInputSentinel& operator=(const StandardInputSentinel&) = delete;
    // True while nobody has read the byte.
    bool untouched() const;

private:
    int ends[2] = {-1, -1};
    int saved = -1;
};

} // namespace testsupport

#endif
