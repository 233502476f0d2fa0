#ifndef DOVODA_GIFBUILDER_H
#define DOVODA_GIFBUILDER_H

#include <cstdint>
#include <string>
#include <vector>

// Hand-made GIF files for the tests: each call appends one part of the
// file, so that a test can lay out any sequence of blocks, damaged ones
// included.
namespace gifbuilder {

using Bytes = std::vector<uint8_t>;

// One LZW code and the number of bits it takes.
struct Code {
    int value;
    int width;
};

// Codes packed least significant bit first, the last byte padded with 0.
Bytes packCodes(const std::vector<Code>& codes);

// A stream that codes every index on its own: a clear code first and again
// before the table would need wider codes, the end code last. Codes are
// minCodeSize + 1 bits wide.
std::vector<Code> literalCodes(const std::vector<int>& indices, int minCodeSize);

// Colours are 0xRRGGBB.
class GifFile {
public:
    // The signature, the logical screen and, when colours is not empty, a
    // global colour table (its size must be a power of two from 2 to 256).
    GifFile(int width, int height, const std::vector<uint32_t>& colours, const std::string& signature = "GIF89a");

    // An image descriptor after its separator, with a local colour table
    // when colours is not empty.
    GifFile& descriptor(int left, int top, int width, int height, const std::vector<uint32_t>& colours = {},
                        bool interlaced = false);
    // The minimum code size byte and the code bytes as sub-blocks of
    // blockSize bytes (the last one shorter) and a terminator.
    GifFile& imageData(int minCodeSize, const Bytes& codeBytes, int blockSize = 255);
    // A whole frame coded with literalCodes.
    GifFile& frame(int left, int top, int width, int height, const std::vector<int>& indices, int minCodeSize = 8,
                   const std::vector<uint32_t>& colours = {});
    GifFile& raw(const Bytes& bytes);
    GifFile& trailer();

    const Bytes& bytes() const { return file; }

private:
    void colourTable(const std::vector<uint32_t>& colours);

    Bytes file;
};

// Sub-blocks of blockSize bytes (the last one shorter) and a terminator.
Bytes subBlocks(const Bytes& data, int blockSize = 255);

} // namespace gifbuilder

#endif
