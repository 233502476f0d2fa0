#include "vectorformats.h"

#include <charconv>
#include <cstdio>

namespace vectorformats {

namespace {

// Pixel centres lie half a pixel inside the view box.
const char* const SVG_HEAD_FORMAT =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\">\n"
    "<g fill=\"none\" stroke=\"#000000\" stroke-width=\"1\" stroke-linecap=\"round\" stroke-linejoin=\"round\""
    " transform=\"translate(0.5 0.5)\">\n";
const char* const SVG_TAIL = "</g>\n</svg>\n";

// A DXF group: its code on one line, its value on the next.
void group(std::string& out, int code, const std::string& value)
{
    char codeText[16];
    std::snprintf(codeText, sizeof codeText, "%3d\n", code);
    out += codeText;
    out += value;
    out += '\n';
}

void dxfPoint(std::string& out, double x, double y)
{
    group(out, 10, number(x));
    group(out, 20, number(y));
    group(out, 30, "0");
}

void dxfHeader(std::string& out, const ImageLines& lines)
{
    group(out, 0, "SECTION");
    group(out, 2, "HEADER");
    group(out, 9, "$ACADVER");
    group(out, 1, "AC1009");
    group(out, 9, "$EXTMIN");
    dxfPoint(out, 0, 0);
    group(out, 9, "$EXTMAX");
    dxfPoint(out, lines.width > 0 ? lines.width - 1 : 0, lines.height > 0 ? lines.height - 1 : 0);
    group(out, 0, "ENDSEC");
}

// The polyline's header entity carries a dummy point and the flag that
// vertices follow (66 = 1); 70 = 0 marks it open, a closed line repeating
// its first vertex at the end.
void dxfPolyline(std::string& out, const PointList& polyline, int height)
{
    group(out, 0, "POLYLINE");
    group(out, 8, "0");
    group(out, 66, "1");
    dxfPoint(out, 0, 0);
    group(out, 70, "0");
    for (const point& vertex : polyline) {
        group(out, 0, "VERTEX");
        group(out, 8, "0");
        dxfPoint(out, vertex.col, height - 1 - vertex.row);
    }
    group(out, 0, "SEQEND");
    group(out, 8, "0");
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string jsonSettings(const LinesSettings& settings)
{
    return "{\"preset\": " + jsonString(settings.preset) + ", \"sigma\": " + number(settings.detector.sigma) +
           ", \"highFraction\": " + number(settings.detector.highFraction) +
           ", \"lowRatio\": " + number(settings.detector.lowRatio) + ", \"tolerance\": " +
           number(settings.tolerance) + ", \"minLength\": " + number(settings.minLength) + "}";
}

} // namespace

template <typename T> std::string shortestText(T value)
{
    char text[32];
    const std::to_chars_result end = std::to_chars(text, text + sizeof text, value);
    return std::string(text, end.ptr);
}

std::string number(double value)
{
    return shortestText(value);
}

std::string number(float value)
{
    return shortestText(value);
}

std::string svg(const ImageLines& lines)
{
    char head[512];
    std::snprintf(head, sizeof head, SVG_HEAD_FORMAT, lines.width, lines.height, lines.width, lines.height);
    std::string out = head;
    for (const PointList& polyline : lines.polylines) {
        out += "<polyline points=\"";
        for (std::size_t i = 0; i < polyline.size(); ++i) {
            out += (i == 0 ? "" : " ") + std::to_string(polyline[i].col) + "," + std::to_string(polyline[i].row);
        }
        out += "\"/>\n";
    }
    return out + SVG_TAIL;
}

std::string dxf(const ImageLines& lines)
{
    std::string out;
    dxfHeader(out, lines);
    group(out, 0, "SECTION");
    group(out, 2, "ENTITIES");
    for (const PointList& polyline : lines.polylines) {
        dxfPolyline(out, polyline, lines.height);
    }
    group(out, 0, "ENDSEC");
    group(out, 0, "EOF");
    return out;
}

std::string json(const ImageLines& lines, const std::string& imageName, const LinesSettings& settings)
{
    std::string out = "{\"image\": " + jsonString(imageName) + ", \"width\": " + std::to_string(lines.width) +
                      ", \"height\": " + std::to_string(lines.height) + ",\n \"parameters\": " +
                      jsonSettings(settings) + ",\n \"polylines\": [";
    for (std::size_t i = 0; i < lines.polylines.size(); ++i) {
        out += i == 0 ? "\n  [" : ",\n  [";
        const PointList& polyline = lines.polylines[i];
        for (std::size_t k = 0; k < polyline.size(); ++k) {
            out += (k == 0 ? "[" : ", [") + std::to_string(polyline[k].col) + ", " +
                   std::to_string(polyline[k].row) + "]";
        }
        out += "]";
    }
    return out + (lines.polylines.empty() ? "]}\n" : "\n ]}\n");
}

} // namespace vectorformats
