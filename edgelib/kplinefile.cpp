#include "kplinefile.h"

#include "kpblockwriter.h"
#include "kpexception.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

// Writes "row,col," as two "%d," texts.
void writePair(KpBlockWriter& writer, int32_t row, int32_t col)
{
    char* out = writer.room(2 * KpBlockWriter::MAX_DECIMAL_CHARS + 2);
    out = KpBlockWriter::formatDecimal(out, row);
    *out++ = ',';
    out = KpBlockWriter::formatDecimal(out, col);
    *out++ = ',';
    writer.advance(out);
}

// The padding pairs "-2,-2," after a polyline's vertices are copied from
// a piece of repeated pairs.
const char PADDING_PAIR[] = "-2,-2,";
const std::size_t PADDING_PAIR_CHARS = sizeof PADDING_PAIR - 1;
const std::size_t PADDING_PAIRS_PER_PIECE = 512;

const std::string& paddingPiece()
{
    static const std::string piece = [] {
        std::string text;
        for (std::size_t i = 0; i < PADDING_PAIRS_PER_PIECE; ++i) {
            text += PADDING_PAIR;
        }
        return text;
    }();
    return piece;
}

// Writes pairs padding pairs.
void writePadding(KpBlockWriter& writer, std::size_t pairs)
{
    const std::string& piece = paddingPiece();
    while (pairs > 0) {
        const std::size_t count = std::min(pairs, PADDING_PAIRS_PER_PIECE);
        char* out = writer.room(count * PADDING_PAIR_CHARS);
        std::memcpy(out, piece.data(), count * PADDING_PAIR_CHARS);
        writer.advance(out + count * PADDING_PAIR_CHARS);
        pairs -= count;
    }
}

[[noreturn]] void badLine(const std::string& fileName, std::size_t lineNumber)
{
    KP_THROW(KP_BAD_FILE, "<KpLineFile::read()> " + fileName + ": line " + std::to_string(lineNumber) +
                              " is not a list of comma-terminated row,col pairs.");
}

// The integers of one text line, each followed by a comma; false when the
// text is anything else.
bool parseNumbers(const std::string& text, std::vector<int32_t>& numbers)
{
    numbers.clear();
    const char* p = text.c_str();
    while (*p != '\0') {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(p, &end, 10);
        if (end == p || *end != ',' || errno == ERANGE || value < INT32_MIN || value > INT32_MAX ||
            std::strchr(" \t+", *p) != nullptr) {
            return false;
        }
        numbers.push_back(static_cast<int32_t>(value));
        p = end + 1;
    }
    return true;
}

// The vertices of one line up to the first padding pair.
PointList polylineOf(const std::vector<int32_t>& numbers)
{
    PointList polyline;
    for (std::size_t i = 0; i + 1 < numbers.size(); i += 2) {
        if (numbers[i] == KpLineFile::PADDING && numbers[i + 1] == KpLineFile::PADDING) {
            break;
        }
        polyline.push_back(point{numbers[i], numbers[i + 1]});
    }
    return polyline;
}

} // namespace

bool KpLineFile::write(const std::string& fileName, const std::vector<PointList>& polylines)
{
    std::size_t width = 0;
    for (const PointList& polyline : polylines) {
        width = std::max(width, polyline.size());
    }
    return KpBlockWriter::writeTextFile(fileName, [&polylines, width](KpBlockWriter& writer) {
        for (const PointList& polyline : polylines) {
            for (const point& vertex : polyline) {
                writePair(writer, vertex.row, vertex.col);
            }
            writePadding(writer, width - polyline.size());
            char* out = writer.room(1);
            *out = '\n';
            writer.advance(out + 1);
        }
    });
}

std::vector<PointList> KpLineFile::read(const std::string& fileName)
{
    std::ifstream file(fileName);
    if (!file) {
        KP_THROW(KP_CANNOT_OPEN, "<KpLineFile::read()> Cannot open " + fileName);
    }
    std::vector<PointList> polylines;
    std::vector<int32_t> numbers;
    std::string text;
    for (std::size_t lineNumber = 1; std::getline(file, text); ++lineNumber) {
        // A line written in text mode on a platform that ends lines with CR LF.
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        if (!parseNumbers(text, numbers) || numbers.size() % 2 != 0) {
            badLine(fileName, lineNumber);
        }
        polylines.push_back(polylineOf(numbers));
    }
    return polylines;
}
