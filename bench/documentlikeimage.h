#ifndef DOVODA_DOCUMENTLIKEIMAGE_H
#define DOVODA_DOCUMENTLIKEIMAGE_H

#include "kpimage.h"

#include <cstdint>

namespace benchsupport {

// An 8-bit image like a scanned page: a light, unevenly lit ground with
// lines of dark glyph-like strokes, dark blocks holding light strokes, a
// shaded picture area and pixel noise, drawn from a fixed seed so that
// every run sees the same pixels. Glyphs keep their size (about 12 pixels
// high) whatever the size of the page.
KpImage makeDocumentLikeImage(int width, int height, uint32_t seed = 2024);

} // namespace benchsupport

#endif
