#include "kpedgelinker.h"

#include "kpbitsperpixelconverter.h"
#include "kpblockwriter.h"
#include "kpchord.h"
#include "kpfarthestpoint.h"
#include "kppixelbuffer.h"
#include "kppointlists.h"
#include "kpskeleton.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Neighbour offsets in stepping order: up, right, down, left, then the
// diagonals up-left, up-right, down-right, down-left.
const int32_t NEIGHBOUR_ROW[8] = {-1, 0, 1, 0, -1, -1, 1, 1};
const int32_t NEIGHBOUR_COL[8] = {0, 1, 0, -1, -1, 1, 1, -1};

// A ring crossing count above this means three or more branches meet.
const int32_t JUNCTION_CROSSINGS = 5;

// The pixelLabels value of a stroke pixel not yet traced.
const int32_t UNTRACED = 1;

// Marks of junctionMask: the pixel is a junction; one of its eight
// neighbours is (so a step from it looks for a junction first).
const uint8_t IS_JUNCTION = 1;
const uint8_t NEXT_TO_JUNCTION = 2;

// The padding pair (-2, -2) of the line file after a polyline's
// vertices, written from a piece of repeated pairs.
const char PADDING_PAIR[] = "-2,-2,";
const std::size_t PADDING_PAIR_CHARS = sizeof PADDING_PAIR - 1;
const std::size_t PADDING_PAIRS_PER_PIECE = 512;

// The largest of a series of values offered in order, and the index of
// its first occurrence; 0 at index 0 when no value is positive.
struct RunningMaximum {
    double maximum = 0.0;
    int32_t index = 0;

    void offer(double value, int32_t position)
    {
        if (value > maximum) {
            maximum = value;
            index = position;
        }
    }
};

// Calls visit(value) for every in-image 8-neighbour of (row, col).
template <class Visit>
void visitNeighbours(const IntMat& labels, int32_t rows, int32_t cols, int32_t row, int32_t col, Visit visit)
{
    for (int k = 0; k < 8; ++k) {
        const int32_t r = row + NEIGHBOUR_ROW[k];
        const int32_t c = col + NEIGHBOUR_COL[k];
        if (r >= 0 && r < rows && c >= 0 && c < cols) {
            visit(labels.get(r, c));
        }
    }
}

// What a step of a trace reads around (row, col): the labels and the
// junction marks, addressed as flat arrays of rows of cols cells, with
// each neighbour tested to lie inside the image (CHECKED) or not (for
// pixels at least two cells from the border, whose neighbours' neighbours
// all lie inside).
enum class StepResult { STOP, CONTINUE, JUNCTION };

template <bool CHECKED>
class TraceStep {
public:
    TraceStep(const int32_t* cells, const std::vector<uint8_t>& junctions, int32_t rows, int32_t cols)
        : cells(cells), junctions(junctions), rows(rows), cols(cols)
    {
    }

    // The step of nextPoint: an adjacent junction not taken by this trace
    // first, then the first untraced neighbour whose only neighbour of
    // this trace is the current pixel, else the last untraced neighbour.
    StepResult from(int32_t row, int32_t col, int32_t label, int32_t& nextRow, int32_t& nextCol) const
    {
        const std::ptrdiff_t here = static_cast<std::ptrdiff_t>(row) * cols + col;
        if (mayTouchJunction(row, col, here)) {
            for (int k = 0; k < 8; ++k) {
                const std::ptrdiff_t at = here + offset(k);
                if (isInside(row + NEIGHBOUR_ROW[k], col + NEIGHBOUR_COL[k]) && (junctions[at] & IS_JUNCTION) != 0 &&
                    cells[at] != -label) {
                    nextRow = row + NEIGHBOUR_ROW[k];
                    nextCol = col + NEIGHBOUR_COL[k];
                    return StepResult::JUNCTION;
                }
            }
        }
        bool remembered = false;
        for (int k = 0; k < 8; ++k) {
            const int32_t r = row + NEIGHBOUR_ROW[k];
            const int32_t c = col + NEIGHBOUR_COL[k];
            const std::ptrdiff_t at = here + offset(k);
            if (!isInside(r, c) || cells[at] != UNTRACED) {
                continue;
            }
            nextRow = r;
            nextCol = c;
            if (countAround(r, c, at, -label) < 2) {
                return StepResult::CONTINUE;
            }
            remembered = true;
        }
        if (remembered) {
            return StepResult::CONTINUE;
        }
        nextRow = 0;
        nextCol = 0;
        return StepResult::STOP;
    }

private:
    bool isInside(int32_t r, int32_t c) const { return !CHECKED || (r >= 0 && r < rows && c >= 0 && c < cols); }
    std::ptrdiff_t offset(int k) const { return static_cast<std::ptrdiff_t>(NEIGHBOUR_ROW[k]) * cols + NEIGHBOUR_COL[k]; }

    bool mayTouchJunction(int32_t row, int32_t col, std::ptrdiff_t here) const
    {
        if (junctions.empty()) {
            return false;
        }
        const bool inside = row >= 0 && row < rows && col >= 0 && col < cols;
        return !inside || (junctions[here] & NEXT_TO_JUNCTION) != 0;
    }

    // How many in-image neighbours of (row, col), at index at, hold value.
    int32_t countAround(int32_t row, int32_t col, std::ptrdiff_t at, int32_t value) const
    {
        int32_t count = 0;
        for (int k = 0; k < 8; ++k) {
            count += isInside(row + NEIGHBOUR_ROW[k], col + NEIGHBOUR_COL[k]) && cells[at + offset(k)] == value;
        }
        return count;
    }

    const int32_t* cells;
    const std::vector<uint8_t>& junctions;
    int32_t rows;
    int32_t cols;
};

// Raster position of a point; lists start at the end that comes first.
int64_t rasterKey(const point& p, int32_t cols)
{
    return (static_cast<int64_t>(p.row) - 1) * cols + p.col;
}

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

// Writes pairs padding pairs "-2,-2,".
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

} // namespace

// ---------------------------------------------------------------------
// Construction

KpEdgeLinker::KpEdgeLinker(KpImage edgeImage)
    : image(std::move(edgeImage)), rows(0), cols(0), stopCode(0), continueCode(1), junctionCode(2)
{
    prepareImage();
}

KpEdgeLinker::~KpEdgeLinker() = default;

void KpEdgeLinker::prepareImage()
{
    image.kpSaveImage("ori.png");
    if (image.kpGetDepth() != 1) {
        if (image.kpGetDepth() == 24) {
            image = KpBitsPerPixelConverter::kpDownscaleColor2Gray_average(image);
        }
        image = KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(image, 127);
        image.kpSaveImage("bin.png");
        image = KpSkeleton::kpSkeletonize(image);
    }
    rows = image.kpGetHeight();
    cols = image.kpGetWidth();
    image.kpSaveImage("tmp.bmp");
    pixelLabels.loadFromImage(image.kpReverseImage(), 255);
    dumpLabels({"test.txt"});
}

// Writes pixelLabels, formatted once, into each of the files.
void KpEdgeLinker::dumpLabels(const std::vector<std::string>& fileNames) const
{
    const std::vector<bool> written = pixelLabels.writeTextFiles(fileNames);
    for (std::size_t i = 0; i < fileNames.size(); ++i) {
        if (!written[i]) {
            std::fprintf(stderr, "KpEdgeLinker: warning: could not write the diagnostic file %s\n",
                         fileNames[i].c_str());
        }
    }
}

// ---------------------------------------------------------------------
// Tracing

int32_t KpEdgeLinker::traceEdges()
{
    int32_t label = 1;
    markJunctions();
    // Each trace is walked into one reused list and copied out when kept.
    PointList trace;
    for (int32_t row = 0; row < rows; ++row) {
        const int32_t* cells = pixelLabels.row(row);
        for (int32_t col = 0; col < cols; ++col) {
            if (cells[col] != UNTRACED) {
                continue;
            }
            trace.clear();
            traceInto(trace, row, col, label);
            // Shorter lists are dropped; their pixels keep -label and so
            // share the label of the next trace.
            if (trace.size() > 2) {
                ++label;
                edgeLists.emplace_back(trace.begin(), trace.end());
            }
        }
    }
    if (edgeLists.empty()) {
        return -1;
    }
    // "ne.txt" repeats "updated.txt": one text, written into both.
    numberEdgeLists();
    dumpLabels({"updated.txt", "ne.txt"});
    orientLists();
    kppointlists::removeDuplicates(edgeLists);
    return 1;
}

bool KpEdgeLinker::markJunctions()
{
    KpPixelBuffer::kpAssignLarge(junctionMask, static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols),
                                 uint8_t(0));
    for (int32_t row = 1; row + 1 < rows; ++row) {
        const int32_t* above = pixelLabels.row(row - 1);
        const int32_t* middle = pixelLabels.row(row);
        const int32_t* below = pixelLabels.row(row + 1);
        for (int32_t col = 1; col + 1 < cols; ++col) {
            if (middle[col] != UNTRACED) {
                continue;
            }
            // The ring up, up-left, left, down-left, down, down-right,
            // right, up-right.
            const int32_t around[8] = {above[col],     above[col - 1], middle[col - 1], below[col - 1],
                                       below[col],     below[col + 1], middle[col + 1], above[col + 1]};
            int32_t crossings = 0;
            for (int k = 0; k < 8; ++k) {
                crossings += std::abs(around[(k + 1) % 8] - around[k]);
            }
            if (crossings > JUNCTION_CROSSINGS) {
                junctionRows.push_back(row);
                junctionCols.push_back(col);
                markJunction(row, col);
            }
        }
    }
    return true;
}

// Records the junction at (row, col), an inner pixel, in junctionMask and
// marks its eight neighbours as next to a junction.
void KpEdgeLinker::markJunction(int32_t row, int32_t col)
{
    junctionMask[static_cast<std::size_t>(row) * cols + col] |= IS_JUNCTION;
    for (int k = 0; k < 8; ++k) {
        junctionMask[static_cast<std::size_t>(row + NEIGHBOUR_ROW[k]) * cols + col + NEIGHBOUR_COL[k]] |=
            NEXT_TO_JUNCTION;
    }
}

PointList KpEdgeLinker::traceFrom(int32_t row, int32_t col, int32_t label)
{
    PointList list;
    traceInto(list, row, col, label);
    return list;
}

// The edge list of traceFrom, appended to the empty list given.
void KpEdgeLinker::traceInto(PointList& list, int32_t row, int32_t col, int32_t label)
{
    stopCode = 0;
    continueCode = 1;
    junctionCode = 2;
    list.push_back(point{row, col});
    pixelLabels.set(row, col, -label);
    walk(list, row, col, label);
    if (!isJunction(row, col)) {
        std::reverse(list.begin(), list.end());
        walk(list, row, col, label);
    }
    closeRing(list);
}

// Appends the pixels reached from (row, col) until no step is left or a
// junction is reached, marking each with -label.
void KpEdgeLinker::walk(PointList& list, int32_t row, int32_t col, int32_t label)
{
    int32_t nextRow = 0;
    int32_t nextCol = 0;
    int32_t status = nextPoint(row, col, label, nextRow, nextCol);
    while (status != stopCode) {
        list.push_back(point{nextRow, nextCol});
        pixelLabels.set(nextRow, nextCol, -label);
        if (status == junctionCode) {
            return;
        }
        status = nextPoint(nextRow, nextCol, label, nextRow, nextCol);
    }
}

// A list of four or more points whose ends touch is closed by repeating
// its first point.
void KpEdgeLinker::closeRing(PointList& list) const
{
    if (list.size() >= 4 && std::abs(list.front().row - list.back().row) <= 1 &&
        std::abs(list.front().col - list.back().col) <= 1) {
        list.push_back(list.front());
    }
}

int32_t KpEdgeLinker::nextPoint(int32_t row, int32_t col, int32_t label, int32_t& nextRow, int32_t& nextCol)
{
    const bool awayFromBorder = row >= 2 && row < rows - 2 && col >= 2 && col < cols - 2;
    const int32_t* cells = rows > 0 ? pixelLabels.row(0) : nullptr;
    const StepResult step =
        awayFromBorder ? TraceStep<false>(cells, junctionMask, rows, cols).from(row, col, label, nextRow, nextCol)
                       : TraceStep<true>(cells, junctionMask, rows, cols).from(row, col, label, nextRow, nextCol);
    switch (step) {
    case StepResult::JUNCTION:
        return junctionCode;
    case StepResult::CONTINUE:
        return continueCode;
    case StepResult::STOP:
        break;
    }
    return stopCode;
}

bool KpEdgeLinker::isJunction(int32_t row, int32_t col) const
{
    return isInside(row, col) && !junctionMask.empty() &&
           (junctionMask[static_cast<std::size_t>(row) * cols + col] & IS_JUNCTION) != 0;
}

std::vector<int32_t> KpEdgeLinker::neighbourValues(int32_t row, int32_t col) const
{
    std::vector<int32_t> values;
    visitNeighbours(pixelLabels, rows, cols, row, col, [&values](int32_t value) { values.push_back(value); });
    return values;
}

bool KpEdgeLinker::labelEdgeLists()
{
    numberEdgeLists();
    dumpLabels({"updated.txt"});
    return true;
}

// Clears pixelLabels, dumps it to "reset.txt" and writes the list numbers.
void KpEdgeLinker::numberEdgeLists()
{
    pixelLabels.clear();
    dumpLabels({"reset.txt"});
    for (std::size_t i = 0; i < edgeLists.size(); ++i) {
        for (const point& p : edgeLists[i]) {
            pixelLabels.set(p.row, p.col, static_cast<int32_t>(i + 1));
        }
    }
}

void KpEdgeLinker::orientLists()
{
    for (PointList& list : edgeLists) {
        if (rasterKey(list.front(), cols) > rasterKey(list.back(), cols)) {
            std::reverse(list.begin(), list.end());
        }
    }
}

double KpEdgeLinker::contourDifference(const PointList& a, const PointList& b) const
{
    const std::size_t count = std::min(a.size(), b.size());
    int64_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        total += (static_cast<int64_t>(a[i].row) - b[i].row) + (static_cast<int64_t>(a[i].col) - b[i].col);
    }
    return static_cast<double>(total);
}

PointList KpEdgeLinker::reversePoints(PointList list) const
{
    std::reverse(list.begin(), list.end());
    return list;
}

// ---------------------------------------------------------------------
// Fitting

std::vector<PointList> KpEdgeLinker::extractLines(double tolerance)
{
    traceEdges();
    fitSegments(tolerance);
    kppointlists::removeDuplicates(segmentLists);
    return segmentLists;
}

void KpEdgeLinker::fitSegments(double tolerance)
{
    // A negative tolerance would split ranges of two points for ever.
    if (!(tolerance >= 0.0)) {
        tolerance = 0.0;
    }
    FitScratch scratch;
    segmentLists.reserve(segmentLists.size() + edgeLists.size());
    for (const PointList& list : edgeLists) {
        segmentLists.push_back(fitPolyline(list, tolerance, scratch));
    }
}

// Works forward from the first point: the range up to the last point is
// cut back at its farthest point until it lies within tolerance, its end
// becomes a vertex and the next range starts there. The farthest points
// are those maxLineDeviation finds, looked up without a full scan.
PointList KpEdgeLinker::fitPolyline(const PointList& list, double tolerance, FitScratch& scratch) const
{
    std::vector<int32_t>& xs = scratch.xs;
    std::vector<int32_t>& ys = scratch.ys;
    if (list.empty()) {
        return PointList();
    }
    // The vertices gather in the scratch list and are copied out once.
    PointList& polyline = scratch.vertices;
    polyline.clear();
    xs.clear();
    ys.clear();
    for (const point& p : list) {
        ys.push_back(p.row);
        xs.push_back(p.col);
    }
    scratch.finder.reset(xs, ys);
    const int32_t n = static_cast<int32_t>(list.size());
    int32_t first = 0;
    int32_t last = n - 1;
    polyline.push_back(point{ys[0], xs[0]});
    while (first < last) {
        double deviation = 0.0;
        int32_t index = scratch.finder.farthest(first, last, deviation);
        // The ends of a range lie on its chord, so a cut range keeps at
        // least two points.
        while (deviation > tolerance) {
            last = first + index;
            index = scratch.finder.farthest(first, last, deviation);
        }
        polyline.push_back(point{ys[last], xs[last]});
        first = last;
        last = n - 1;
    }
    return PointList(polyline.begin(), polyline.end());
}

bool KpEdgeLinker::maxLineDeviation(const std::vector<int32_t>& x, const std::vector<int32_t>& y, int32_t first,
                                    int32_t last, double& maxDeviation, int32_t& index, double& chordLength,
                                    double& totalSquared) const
{
    maxDeviation = 0.0;
    index = 0;
    chordLength = 0.0;
    totalSquared = 0.0;
    const int64_t count = static_cast<int64_t>(last) - first + 1;
    if (count <= 0) {
        std::fputs("Contour of length 0\n", stdout);
        return false;
    }
    if (count == 1) {
        std::fputs("Contour of length 1\n", stdout);
        index = 1;
        chordLength = 1.0;
        return false;
    }
    const KpChord chord(x[first], y[first], x[last], y[last]);
    chordLength = chord.divisor();
    RunningMaximum farthest;
    for (int32_t i = first; i <= last; ++i) {
        const double deviation = chord.deviation(chord.measure(x[i], y[i]));
        farthest.offer(deviation, i - first);
        totalSquared += deviation * deviation;
    }
    maxDeviation = farthest.maximum;
    index = farthest.index;
    return true;
}

double KpEdgeLinker::maxValue(const std::vector<double>& values, double& maximum, int32_t& index) const
{
    RunningMaximum largest;
    for (std::size_t i = 0; i < values.size(); ++i) {
        largest.offer(values[i], static_cast<int32_t>(i));
    }
    maximum = largest.maximum;
    index = largest.index;
    return maximum;
}

// ---------------------------------------------------------------------
// Output

int32_t KpEdgeLinker::writeLines(std::string fileName) const
{
    std::size_t width = 0;
    for (const PointList& polyline : segmentLists) {
        width = std::max(width, polyline.size());
    }
    const bool written = KpBlockWriter::writeTextFile(fileName, [this, width](KpBlockWriter& writer) {
        for (const PointList& polyline : segmentLists) {
            for (const point& vertex : polyline) {
                writePair(writer, vertex.row, vertex.col);
            }
            writePadding(writer, width - polyline.size());
            char* out = writer.room(1);
            *out = '\n';
            writer.advance(out + 1);
        }
    });
    return written ? 1 : 0;
}
