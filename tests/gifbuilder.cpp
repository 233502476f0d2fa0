#include "gifbuilder.h"

#include <algorithm>
#include <stdexcept>

namespace gifbuilder {

namespace {

void putLittleEndian16(Bytes& out, int value)
{
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

// The packed-field bits of a colour table of this many entries.
int tableBits(std::size_t entries)
{
    for (int bits = 0; bits < 8; ++bits) {
        if (std::size_t(2) << bits == entries) {
            return bits;
        }
    }
    throw std::invalid_argument("a colour table holds 2 to 256 entries, a power of two");
}

} // namespace

Bytes packCodes(const std::vector<Code>& codes)
{
    Bytes out;
    uint64_t pending = 0;
    int bits = 0;
    for (const Code& code : codes) {
        pending |= uint64_t(code.value) << bits;
        bits += code.width;
        while (bits >= 8) {
            out.push_back(static_cast<uint8_t>(pending));
            pending >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) {
        out.push_back(static_cast<uint8_t>(pending));
    }
    return out;
}

std::vector<Code> literalCodes(const std::vector<int>& indices, int minCodeSize)
{
    const int width = minCodeSize + 1;
    const int clear = 1 << minCodeSize;
    const int interval = std::max(clear - 2, 1);
    std::vector<Code> codes;
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (i % interval == 0) {
            codes.push_back({clear, width});
        }
        codes.push_back({indices[i], width});
    }
    if (indices.empty()) {
        codes.push_back({clear, width});
    }
    codes.push_back({clear + 1, width});
    return codes;
}

Bytes subBlocks(const Bytes& data, int blockSize)
{
    Bytes out;
    for (std::size_t done = 0; done < data.size(); done += std::size_t(blockSize)) {
        const std::size_t length = std::min<std::size_t>(std::size_t(blockSize), data.size() - done);
        out.push_back(static_cast<uint8_t>(length));
        out.insert(out.end(), data.begin() + long(done), data.begin() + long(done + length));
    }
    out.push_back(0);
    return out;
}

GifFile::GifFile(int width, int height, const std::vector<uint32_t>& colours, const std::string& signature)
    : file(signature.begin(), signature.end())
{
    putLittleEndian16(file, width);
    putLittleEndian16(file, height);
    file.push_back(colours.empty() ? 0x70 : static_cast<uint8_t>(0xF0 | tableBits(colours.size())));
    file.push_back(0);
    file.push_back(0);
    colourTable(colours);
}

void GifFile::colourTable(const std::vector<uint32_t>& colours)
{
    for (uint32_t colour : colours) {
        file.push_back(static_cast<uint8_t>(colour >> 16));
        file.push_back(static_cast<uint8_t>(colour >> 8));
        file.push_back(static_cast<uint8_t>(colour));
    }
}

GifFile& GifFile::descriptor(int left, int top, int width, int height, const std::vector<uint32_t>& colours,
                             bool interlaced)
{
    file.push_back(0x2C);
    putLittleEndian16(file, left);
    putLittleEndian16(file, top);
    putLittleEndian16(file, width);
    putLittleEndian16(file, height);
    const uint8_t table = colours.empty() ? 0 : static_cast<uint8_t>(0x80 | tableBits(colours.size()));
    file.push_back(static_cast<uint8_t>(table | (interlaced ? 0x40 : 0)));
    colourTable(colours);
    return *this;
}

GifFile& GifFile::imageData(int minCodeSize, const Bytes& codeBytes, int blockSize)
{
    file.push_back(static_cast<uint8_t>(minCodeSize));
    return raw(subBlocks(codeBytes, blockSize));
}

GifFile& GifFile::frame(int left, int top, int width, int height, const std::vector<int>& indices, int minCodeSize,
                        const std::vector<uint32_t>& colours)
{
    descriptor(left, top, width, height, colours);
    return imageData(minCodeSize, packCodes(literalCodes(indices, minCodeSize)));
}

GifFile& GifFile::raw(const Bytes& bytes)
{
    file.insert(file.end(), bytes.begin(), bytes.end());
    return *this;
}

GifFile& GifFile::trailer()
{
    file.push_back(0x3B);
    return *this;
}

} // namespace gifbuilder
