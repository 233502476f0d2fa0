#include "kpppmimage.h"

#include "kpbitsperpixelconverter.h"
#include "kpexception.h"
#include "kpfilecloser.h"
#include "kpmemoryfile.h"
#include "kpmemoryfileslot.h"
#include "kpoutputfile.h"
#include "kppixelbuffer.h"
#include "kppnmheader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const int LINE_BYTES = 256;
const char MAGIC[] = "P6";
const std::size_t MAGIC_BYTES = 2;
const int32_t CHANNELS = 3;
const int32_t COLOUR_DEPTH = 24;
const int COLOUR_FORMAT = 3;
const int SIZE_FIELDS = 2;
// Samples up to this maximum take one byte, larger ones two.
const int32_t MAX_BYTE_SAMPLE = 255;
const int32_t MAX_SAMPLE = 256;
// Two-byte samples are read in pieces of this many samples.
const std::size_t WIDE_SAMPLES_PER_READ = 1 << 17;

const char* const UNKNOWN_FORMAT = "<KpPPMImage::kpLoadImage()> Unknow File Format";
const char* const WRITE_FAILED =
    "<KpPPMImage::kpSaveImage()> Write failed: the output did not take all the bytes (disk full or stream closed).";

// Where a pixmap is read from: header lines, then the samples in blocks.
class PixmapSource {
public:
    virtual ~PixmapSource() = default;
    // The next line that is not empty, without its line end: at most
    // LINE_BYTES - 1 characters, a longer line going on in the next call.
    // False at the end of the data.
    virtual bool readLine(char* line) = 0;
    // Exactly n bytes, or false.
    virtual bool readBlock(uint8_t* destination, std::size_t n) = 0;
    // The bytes after the position, or KpPnmHeader::KP_UNKNOWN_LENGTH.
    virtual int64_t bytesLeft() = 0;
};

class FileSource : public PixmapSource {
public:
    explicit FileSource(std::FILE* source) : file(source) {}

    bool readLine(char* line) override
    {
        do {
            if (std::fgets(line, LINE_BYTES, file) == nullptr) {
                return false;
            }
        } while (line[0] == '\n');
        line[std::strcspn(line, "\n")] = '\0';
        return true;
    }

    bool readBlock(uint8_t* destination, std::size_t n) override
    {
        return std::fread(destination, 1, n, file) == n;
    }

    int64_t bytesLeft() override { return KpPnmHeader::kpBytesLeft(file); }

private:
    std::FILE* file;
};

// A memory file over the caller's buffer; mem_gets skips empty lines.
class MemorySource : public PixmapSource {
public:
    MemorySource(unsigned char* buffer, int bufferSize) : slot(mem_open(buffer, bufferSize, "r")), size(bufferSize) {}

    bool readLine(char* line) override { return mem_gets(slot.kpGetHandle(), line, LINE_BYTES) > 0; }

    bool readBlock(uint8_t* destination, std::size_t n) override
    {
        return mem_read(slot.kpGetHandle(), destination, static_cast<int>(n)) == static_cast<int>(n);
    }

    int64_t bytesLeft() override
    {
        const int position = mem_seek(slot.kpGetHandle(), 0, 1);
        return position < 0 ? 0 : std::max<int64_t>(0, int64_t(size) - position);
    }

private:
    KpMemoryFileSlot slot;
    int size;
};

struct PixmapHeader {
    int32_t width = 0;
    int32_t height = 0;
    int32_t maximum = 0;
};

[[noreturn]] void failUnknownFormat()
{
    KP_THROW(KP_BAD_FILE, UNKNOWN_FORMAT);
}

// The next header line; the data may not end inside the header.
void readHeaderLine(PixmapSource& source, char* line)
{
    if (!source.readLine(line)) {
        failUnknownFormat();
    }
}

// "P6", comment lines, "width height", the maximum sample value.
PixmapHeader readHeader(PixmapSource& source)
{
    char line[LINE_BYTES] = {};
    readHeaderLine(source, line);
    if (std::strncmp(line, MAGIC, MAGIC_BYTES) != 0) {
        failUnknownFormat();
    }
    do {
        readHeaderLine(source, line);
    } while (line[0] == '#');
    int32_t size[SIZE_FIELDS];
    if (!KpPnmHeader::kpScanPositive(line, size, SIZE_FIELDS)) {
        failUnknownFormat();
    }
    PixmapHeader header;
    header.width = size[0];
    header.height = size[1];
    readHeaderLine(source, line);
    if (!KpPnmHeader::kpScanPositive(line, &header.maximum, 1) || header.maximum > MAX_SAMPLE) {
        failUnknownFormat();
    }
    return header;
}

int bytesPerSample(int32_t maximum)
{
    return maximum > MAX_BYTE_SAMPLE ? 2 : 1;
}

// A sample of 0..maximum as 0..255, rounded to the nearest; values above
// the maximum count as the maximum.
uint8_t scaledSample(uint32_t value, uint32_t maximum)
{
    value = std::min(value, maximum);
    return static_cast<uint8_t>((value * MAX_BYTE_SAMPLE + maximum / 2) / maximum);
}

void readBlockOrFail(PixmapSource& source, uint8_t* destination, std::size_t n)
{
    if (!source.readBlock(destination, n)) {
        failUnknownFormat();
    }
}

// One-byte samples of a maximum below 255, scaled in place.
void scaleByteSamples(uint8_t* samples, std::size_t count, int32_t maximum)
{
    uint8_t scaled[MAX_BYTE_SAMPLE + 1];
    for (int value = 0; value <= MAX_BYTE_SAMPLE; ++value) {
        scaled[value] = scaledSample(uint32_t(value), uint32_t(maximum));
    }
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = scaled[samples[i]];
    }
}

// Two-byte samples, most significant byte first, read piece by piece.
void readWideSamples(PixmapSource& source, uint8_t* samples, std::size_t count, int32_t maximum)
{
    std::vector<uint8_t> piece(2 * std::min(count, WIDE_SAMPLES_PER_READ));
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(count - done, WIDE_SAMPLES_PER_READ);
        readBlockOrFail(source, piece.data(), 2 * n);
        for (std::size_t i = 0; i < n; ++i) {
            const uint32_t value = uint32_t(piece[2 * i]) << 8 | piece[2 * i + 1];
            samples[done + i] = scaledSample(value, uint32_t(maximum));
        }
        done += n;
    }
}

void readSamples(PixmapSource& source, const PixmapHeader& header, uint8_t* samples, std::size_t count)
{
    if (bytesPerSample(header.maximum) == 2) {
        readWideSamples(source, samples, count, header.maximum);
        return;
    }
    readBlockOrFail(source, samples, count);
    if (header.maximum < MAX_BYTE_SAMPLE) {
        scaleByteSamples(samples, count, header.maximum);
    }
}

// The sizes are checked against the allocation limit and against what
// the source still holds before the pixels are allocated.
KpImage decode(PixmapSource& source)
{
    const PixmapHeader header = readHeader(source);
    const int64_t rowBytes = int64_t(CHANNELS) * header.width;
    const std::size_t count = KpPixelBuffer::kpCheckedSize(rowBytes, header.height);
    if (!KpPnmHeader::kpHolds(source.bytesLeft(), int64_t(count) * bytesPerSample(header.maximum))) {
        failUnknownFormat();
    }
    std::unique_ptr<uint8_t[]> pixels = KpPixelBuffer::kpAllocate(rowBytes, header.height);
    readSamples(source, header, pixels.get(), count);
    return KpImage(pixels.release(), KpPnmHeader::kpLoadedHead(header.width, header.height, COLOUR_DEPTH));
}

// Writes a depth-24 image straight from its buffer.
void writePixmap(const char* fileName, const KpImage& image)
{
    KpOutputFile file(fileName, KP_CANNOT_OPEN, "<KpPPMImage::kpSaveImage()> Could not open output image file");
    const std::string header =
        std::string(MAGIC) + "\n" + std::to_string(image.kpGetWidth()) + " " + std::to_string(image.kpGetHeight()) +
        "\n" + std::to_string(MAX_BYTE_SAMPLE) + "\n";
    const std::size_t size = image.kpGetImageSize();
    if (std::fwrite(header.data(), 1, header.size(), file.kpGetFile()) != header.size() ||
        std::fwrite(image.kpGetData(), 1, size, file.kpGetFile()) != size) {
        KP_THROW(KP_BAD_FILE, WRITE_FAILED);
    }
    if (!file.kpClose()) {
        KP_THROW(KP_BAD_FILE, std::string("<KpPPMImage::kpSaveImage()> Could not finish writing ") + fileName +
                                  " (disk full or stream closed).");
    }
}

} // namespace

KpPPMImage::KpPPMImage() : KpSinglePageImage("PPM", "ppm", 5, "KpPPMImage") {}

KpPPMImage::~KpPPMImage() = default;

KpPPMImage* KpPPMImage::kpGetInstance()
{
    return kpCodecInstance<KpPPMImage>();
}

bool KpPPMImage::kpSupportImageFile(const char* fileName)
{
    return kpSupportFileHead(fileName, KP_CANNOT_OPEN, "<KpPPMImage::kpSupportImageFile()> Could not open incoming image");
}

bool KpPPMImage::kpSupportImageFile(unsigned char* buffer, int size)
{
    return buffer != nullptr && size >= int(MAGIC_BYTES) && std::memcmp(buffer, MAGIC, MAGIC_BYTES) == 0;
}

KpImage KpPPMImage::kpLoadImage(unsigned char* buffer, int size)
{
    MemorySource source(buffer, size);
    return decode(source);
}

KpImage KpPPMImage::kpLoadImage(const char* fileName)
{
    KpFileHolder file(fileName == nullptr ? nullptr : std::fopen(fileName, "rb"));
    if (!file) {
        KP_THROW(KP_CANNOT_OPEN, "<KpPPMImage::kpLoadImage()> Could not open incoming image");
    }
    FileSource source(file.get());
    return decode(source);
}

void KpPPMImage::kpSaveImage(const char* fileName, KpImage& image)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpPPMImage::kpSaveImage()> Image Data is NULL!");
    }
    if (image.kpGetDepth() == COLOUR_DEPTH) {
        writePixmap(fileName, image);
    } else {
        writePixmap(fileName, KpBitsPerPixelConverter::kpConvertImage(image, COLOUR_FORMAT));
    }
}
