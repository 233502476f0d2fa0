#include "kplinefile.h"

#include "kpblockwriter.h"
#include "kpexception.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

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
            for (std::size_t i = polyline.size(); i < width; ++i) {
                writePair(writer, PADDING, PADDING);
            }
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
