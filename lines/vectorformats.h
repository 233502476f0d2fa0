#ifndef DOVODA_VECTORFORMATS_H
#define DOVODA_VECTORFORMATS_H

#include "imagelines.h"
#include "linessettings.h"

#include <string>

// The texts of the vector files written for one image.
namespace vectorformats {

// SVG: one <polyline> per line in the image's pixel coordinates (x the
// column, y the row, pixel centres at whole numbers) with the image size
// as the view box, black 1-pixel strokes without fill.
std::string svg(const ImageLines& lines);

// DXF R12 (ASCII): one POLYLINE with its VERTEX entities per line, x the
// column and y = height - 1 - row, so that the drawing stands upright.
std::string dxf(const ImageLines& lines);

// JSON: the image's name and size, the settings and the polylines as
// arrays of [x, y] (x the column, y the row).
std::string json(const ImageLines& lines, const std::string& imageName, const LinesSettings& settings);

// The shortest decimal text that reads back as the same value.
std::string number(double value);
std::string number(float value);

} // namespace vectorformats

#endif
