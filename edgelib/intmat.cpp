#include "intmat.h"

#include "kpblockwriter.h"
#include "kplogger.h"
#include "kppixelbuffer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The widest cell text, "-2147483648", and the cells formatted between
// two checks of the room left in a block.
constexpr std::size_t MAX_CELL_CHARS = KpBlockWriter::MAX_DECIMAL_CHARS;
constexpr int32_t CELLS_PER_CHECK = 4096;
// Values whose "%3d" text is exactly three characters wide.
constexpr int32_t NARROW_MIN = -99;
constexpr int32_t NARROW_MAX = 999;

// The texts of the three-character values ("%3d" right-aligns in three
// characters), four bytes apart so that one fixed-size copy places a
// cell. Every other value is wider than three characters and written as
// its plain decimal text.
using NarrowTexts = std::array<std::array<char, 4>, NARROW_MAX - NARROW_MIN + 1>;

const NarrowTexts& narrowTexts()
{
    static const NarrowTexts texts = [] {
        NarrowTexts table{};
        for (int32_t v = NARROW_MIN; v <= NARROW_MAX; ++v) {
            char* text = table[static_cast<std::size_t>(v - NARROW_MIN)].data();
            char* end = KpBlockWriter::formatDecimal(text, v);
            const std::ptrdiff_t pad = 3 - (end - text);
            std::memmove(text + pad, text, static_cast<std::size_t>(end - text));
            std::memset(text, ' ', static_cast<std::size_t>(pad));
        }
        return table;
    }();
    return texts;
}

// The text of eight cells of 0 (the digits of single-digit cells are
// added to it).
const char EIGHT_ZEROS[] = "  0  0  0  0  0  0  0  0";
const std::size_t EIGHT_CELLS_CHARS = 3 * 8;

// Formats the cells of a label map quickly: runs of eight single-digit
// cells (most of a map) from one pattern, the other narrow cells from the
// table and wide ones as decimals.
class CellFormatter {
public:
    // Formats count cells at out; out needs count * MAX_CELL_CHARS + 1
    // bytes of room (a narrow cell copies one byte past its text).
    static char* format(char* out, const int32_t* cells, int32_t count)
    {
        int32_t i = 0;
        for (; i + 8 <= count; i += 8) {
            out = areSingleDigits(cells + i) ? formatSingleDigits(out, cells + i) : formatEach(out, cells + i, 8);
        }
        return formatEach(out, cells + i, count - i);
    }

private:
    static bool areSingleDigits(const int32_t* cells)
    {
        uint32_t any = 0;
        for (int k = 0; k < 8; ++k) {
            any |= static_cast<uint32_t>(cells[k]);
        }
        return any <= 9;
    }

    static char* formatSingleDigits(char* out, const int32_t* cells)
    {
        std::memcpy(out, EIGHT_ZEROS, EIGHT_CELLS_CHARS);
        for (int k = 0; k < 8; ++k) {
            out[3 * k + 2] = static_cast<char>(out[3 * k + 2] + cells[k]);
        }
        return out + EIGHT_CELLS_CHARS;
    }

    static char* formatEach(char* out, const int32_t* cells, int32_t count)
    {
        const NarrowTexts& narrow = narrowTexts();
        for (int32_t i = 0; i < count; ++i) {
            const uint32_t slot = static_cast<uint32_t>(cells[i]) - static_cast<uint32_t>(NARROW_MIN);
            if (slot < narrow.size()) {
                std::memcpy(out, narrow[slot].data(), 4);
                out += 3;
            } else {
                out = KpBlockWriter::formatDecimal(out, cells[i]);
            }
        }
        return out;
    }
};

// The eight cells of each byte of a binary row, most significant bit
// first: clear and set bits give the cells of the pixel scales 0 and 255.
std::vector<std::array<int32_t, 8>> cellsOfBits(int32_t clearCell, int32_t setCell)
{
    std::vector<std::array<int32_t, 8>> cells(256);
    for (int byte = 0; byte < 256; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            cells[static_cast<std::size_t>(byte)][static_cast<std::size_t>(bit)] =
                (byte & (0x80 >> bit)) != 0 ? setCell : clearCell;
        }
    }
    return cells;
}

} // namespace

IntMat::IntMat() : m_row(0), m_col(0), m_data(nullptr) {}

IntMat::IntMat(int32_t rows, int32_t cols) : IntMat()
{
    resize(rows, cols);
    clear();
}

IntMat::IntMat(IntMat&& other) noexcept : m_row(other.m_row), m_col(other.m_col), m_data(other.m_data)
{
    other.m_row = 0;
    other.m_col = 0;
    other.m_data = nullptr;
}

IntMat& IntMat::operator=(IntMat&& other) noexcept
{
    if (this != &other) {
        release();
        std::swap(m_row, other.m_row);
        std::swap(m_col, other.m_col);
        std::swap(m_data, other.m_data);
    }
    return *this;
}

IntMat::~IntMat()
{
    release();
}

void IntMat::release()
{
    delete[] m_data;
    m_data = nullptr;
    m_row = 0;
    m_col = 0;
}

// Replaces the cells by rows x cols cells, not filled; no cells when
// either is 0.
void IntMat::resize(int32_t rows, int32_t cols)
{
    assert(rows >= 0 && cols >= 0);
    release();
    const std::size_t cells = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    m_data = cells == 0 ? nullptr : new int32_t[cells];
    KpPixelBuffer::kpAdviseHugePages(m_data, cells * sizeof(int32_t));
    m_row = rows;
    m_col = cols;
}

int32_t IntMat::loadFromImage(KpImage image, int32_t divisor)
{
    assert(divisor != 0);
    const int32_t height = image.kpGetHeight();
    const int32_t width = image.kpGetWidth();
    resize(height, width);
    if (m_data == nullptr) {
        return 1;
    }
    // One accessor call makes the checks of the pixel scale (a 1-bit or
    // 8-bit store with data); the rows are then read directly.
    image.kpGetPixelScale(0, 0);
    std::array<int32_t, 256> quotient;
    for (int32_t v = 0; v < 256; ++v) {
        quotient[static_cast<std::size_t>(v)] = v / divisor;
    }
    const int32_t bytesPerRow = image.kpGetBytesPerRow();
    const bool binary = image.kpGetDepth() == 1;
    const std::vector<std::array<int32_t, 8>> expanded = binary ? cellsOfBits(quotient[0], quotient[255])
                                                                : std::vector<std::array<int32_t, 8>>();
    for (int32_t r = 0; r < height; ++r) {
        const uint8_t* source = image.kpGetData() + static_cast<std::size_t>(r) * bytesPerRow;
        int32_t* cells = m_data + static_cast<std::size_t>(r) * m_col;
        if (binary) {
            for (int32_t c = 0; c < width; c += 8) {
                const std::size_t count = static_cast<std::size_t>(std::min(8, width - c));
                std::memcpy(cells + c, expanded[source[c / 8]].data(), count * sizeof(int32_t));
            }
        } else {
            for (int32_t c = 0; c < width; ++c) {
                cells[c] = quotient[source[c]];
            }
        }
    }
    return 1;
}

int32_t IntMat::clear()
{
    if (m_data != nullptr) {
        std::fill_n(m_data, static_cast<std::size_t>(m_row) * m_col, 0);
    }
    return 1;
}

int32_t IntMat::writeText(std::string fileName) const
{
    return writeTextFiles({fileName})[0] ? 1 : 0;
}

std::vector<bool> IntMat::writeTextFiles(const std::vector<std::string>& fileNames) const
{
    const std::vector<bool> written = KpBlockWriter::writeTextFiles(fileNames, [this](KpBlockWriter& writer) {
        for (int32_t r = 0; r < m_row; ++r) {
            const int32_t* cells = m_data + static_cast<std::size_t>(r) * m_col;
            for (int32_t c = 0; c < m_col; c += CELLS_PER_CHECK) {
                const int32_t count = std::min(CELLS_PER_CHECK, m_col - c);
                char* out = writer.room(static_cast<std::size_t>(count) * MAX_CELL_CHARS + 1);
                writer.advance(CellFormatter::format(out, cells + c, count));
            }
            char* out = writer.room(2);
            out[0] = ';';
            out[1] = '\n';
            writer.advance(out + 2);
        }
    });
    for (std::size_t i = 0; i < fileNames.size(); ++i) {
        if (!written[i]) {
            kpLogPrintf(KpLogger::kpGetInstance(), 3, "IntMat::writeText() could not write %s\n",
                        fileNames[i].c_str());
        }
    }
    return written;
}
