#include "kpedgelinker.h"

#include "kpbitsperpixelconverter.h"
#include "kpchord.h"
#include "kpconnectedcomponents.h"
#include "kpfarthestpoint.h"
#include "kplinefile.h"
#include "kppixelbuffer.h"
#include "kppointlists.h"
#include "kpskeleton.h"
#include "kptablememory.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
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

} // namespace

// ---------------------------------------------------------------------
// Construction

KpEdgeLinker::KpEdgeLinker(KpImage edgeImage) : KpEdgeLinker(std::move(edgeImage), Diagnostics::Write) {}

KpEdgeLinker::KpEdgeLinker(KpImage edgeImage, Diagnostics diagnostics)
    : image(std::move(edgeImage)), rows(0), cols(0), stopCode(0), continueCode(1), junctionCode(2),
      writesDiagnostics(diagnostics == Diagnostics::Write)
{
    prepareImage();
}

KpEdgeLinker::~KpEdgeLinker() = default;

void KpEdgeLinker::prepareImage()
{
    saveDiagnosticImage("ori.png");
    if (image.kpGetDepth() != 1) {
        if (image.kpGetDepth() == 24) {
            image = KpBitsPerPixelConverter::kpDownscaleColor2Gray_average(image);
        }
        image = KpBitsPerPixelConverter::kpDownscaleGray2Binary_global(image, 127);
        saveDiagnosticImage("bin.png");
        image = KpSkeleton::kpSkeletonize(image);
    }
    rows = image.kpGetHeight();
    cols = image.kpGetWidth();
    saveDiagnosticImage("tmp.bmp");
    pixelLabels.loadFromImage(image.kpReverseImage(), 255);
    dumpLabels({"test.txt"});
}

void KpEdgeLinker::saveDiagnosticImage(const char* fileName)
{
    if (writesDiagnostics) {
        image.kpSaveImage(fileName);
    }
}

// Writes pixelLabels, formatted once, into each of the files.
void KpEdgeLinker::dumpLabels(const std::vector<std::string>& fileNames) const
{
    if (!writesDiagnostics) {
        return;
    }
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
    return KpLineFile::write(fileName, segmentLists) ? 1 : 0;
}

// ---------------------------------------------------------------------
// Edge-list graph

namespace {

// The minimum that minValue starts from.
const double NO_MINIMUM = 100000.0;

// Link tables are indexed in 64 bits.
const int64_t MAX_LINKS = std::numeric_limits<int64_t>::max() / 8;
const char* const NO_LINK_MEMORY = "<KpEdgeLinker::mergeEdgeLists()> Error. Out of memory";

// The kpSetPixel value of a white pixel in a 1-bit image.
const uint8_t WHITE_BIT = 1;

// Where a node lies: the first point of list node / 2 for an even node,
// its last point for an odd one.
struct NodePixel {
    int32_t row;
    int32_t col;
    int32_t node;

    bool operator<(const NodePixel& other) const
    {
        return row != other.row ? row < other.row : (col != other.col ? col < other.col : node < other.node);
    }
    bool samePixel(const NodePixel& other) const { return row == other.row && col == other.col; }
};

// Where the group of a node's pixel lies among the sorted nodes.
struct NodeGroup {
    int32_t first = 0;
    int32_t last = 0;
};

bool isStartNode(int32_t node)
{
    return node % 2 == 0;
}

void appendPoints(PointList& target, const PointList& source, bool reversed)
{
    if (reversed) {
        target.insert(target.end(), source.rbegin(), source.rend());
    } else {
        target.insert(target.end(), source.begin(), source.end());
    }
}

} // namespace

int32_t KpEdgeLinker::mergeEdgeLists(double minLength)
{
    linkEnds();
    joinChains();
    if (minLength > 0) {
        pruneShortLists(minLength);
    }
    for (int32_t p = 0; p < static_cast<int32_t>(edgeLists.size()); ++p) {
        if (!edgeLists[p].empty() && minLength > polylineLength(edgeLists[p]) && isIsolated(p)) {
            removeList(p);
        }
    }
    edgeLists.erase(std::remove_if(edgeLists.begin(), edgeLists.end(), [](const PointList& l) { return l.empty(); }),
                    edgeLists.end());
    return 1;
}

// Links every two nodes that lie on one pixel, and their lists. An empty
// list has no end and so no node links.
void KpEdgeLinker::linkEnds()
{
    const int32_t n = static_cast<int32_t>(edgeLists.size());
    // The nodes sorted by pixel, then by number: the nodes of one pixel
    // form a group, and each node's links are the rest of its group.
    std::vector<NodePixel> pixels;
    pixels.reserve(2 * static_cast<std::size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        if (!edgeLists[i].empty()) {
            pixels.push_back(NodePixel{edgeLists[i].front().row, edgeLists[i].front().col, 2 * i});
            pixels.push_back(NodePixel{edgeLists[i].back().row, edgeLists[i].back().col, 2 * i + 1});
        }
    }
    std::sort(pixels.begin(), pixels.end());
    std::vector<NodeGroup> groupOf(2 * static_cast<std::size_t>(n));
    for (std::size_t first = 0; first < pixels.size();) {
        std::size_t last = first + 1;
        while (last < pixels.size() && pixels[last].samePixel(pixels[first])) {
            ++last;
        }
        for (std::size_t k = first; k < last; ++k) {
            groupOf[pixels[k].node] = NodeGroup{static_cast<int32_t>(first), static_cast<int32_t>(last)};
        }
        first = last;
    }
    // Each node's row: the other nodes of its group, in ascending order.
    std::vector<int64_t> nodeStarts(2 * static_cast<std::size_t>(n) + 1, 0);
    for (int32_t u = 0; u < 2 * n; ++u) {
        nodeStarts[u + 1] = nodeStarts[u] + std::max(0, groupOf[u].last - groupOf[u].first - 1);
    }
    std::vector<int32_t> nodeEntries;
    kptablememory::reserve(nodeEntries, nodeStarts.back(), MAX_LINKS, NO_LINK_MEMORY);
    for (int32_t u = 0; u < 2 * n; ++u) {
        for (int32_t k = groupOf[u].first; k < groupOf[u].last; ++k) {
            if (pixels[k].node != u) {
                nodeEntries.push_back(pixels[k].node);
            }
        }
    }
    // Each list's row: the lists of its nodes' rows, once each.
    std::vector<int64_t> listStarts(static_cast<std::size_t>(n) + 1, 0);
    std::vector<int32_t> listEntries;
    kptablememory::reserve(listEntries, nodeStarts.back(), MAX_LINKS, NO_LINK_MEMORY);
    std::vector<int32_t> lists;
    for (int32_t i = 0; i < n; ++i) {
        lists.clear();
        for (int64_t e = nodeStarts[2 * i]; e < nodeStarts[2 * i + 2]; ++e) {
            lists.push_back(nodeEntries[e] / 2);
        }
        std::sort(lists.begin(), lists.end());
        listEntries.insert(listEntries.end(), lists.begin(), std::unique(lists.begin(), lists.end()));
        listStarts[i + 1] = static_cast<int64_t>(listEntries.size());
    }
    nodeLinks.reset(2 * n);
    listLinks.reset(n);
    nodeLinks.fillSymmetric(nodeStarts, nodeEntries);
    listLinks.fillSymmetric(listStarts, listEntries);
    nodeDegrees.assign(static_cast<std::size_t>(2 * n), 0);
    listDegrees.assign(static_cast<std::size_t>(n), 0);
    for (int32_t j = 0; j < 2 * n; ++j) {
        nodeDegrees[j] = nodeLinks.rowCount(j);
    }
    for (int32_t j = 0; j < n; ++j) {
        listDegrees[j] = listLinks.rowCount(j);
    }
}

// Joins every list, not closed on itself, at each end that meets exactly
// one other end.
void KpEdgeLinker::joinChains()
{
    for (int32_t k = 0; k < static_cast<int32_t>(edgeLists.size()); ++k) {
        if (edgeLists[k].empty() || listLinks.get(k, k)) {
            continue;
        }
        double startNode, startDegree, endNode, endDegree, linkedDegree, linkedNode;
        endLinkInfo(k, startNode, startDegree, endNode, endDegree, linkedDegree, linkedNode);
        if (startDegree == 1 && nodeLinks.rowCount(2 * k) > 0) {
            mergeNodes(nodeLinks.row(2 * k).front(), 2 * k);
        }
        if (!edgeLists[k].empty() && endDegree == 1 && nodeLinks.rowCount(2 * k + 1) > 0) {
            mergeNodes(nodeLinks.row(2 * k + 1).front(), 2 * k + 1);
        }
    }
}

void KpEdgeLinker::pruneShortLists(double minLength)
{
    for (int32_t s = 0; s < static_cast<int32_t>(edgeLists.size()); ++s) {
        double startNode, startDegree, endNode, endDegree, linkedDegree, linkedNode;
        endLinkInfo(s, startNode, startDegree, endNode, endDegree, linkedDegree, linkedNode);
        if (edgeLists[s].empty() || !(minLength > polylineLength(edgeLists[s]))) {
            continue;
        }
        if (isIsolated(s)) {
            removeList(s);
        } else if (linkedDegree == 2) {
            pruneSpur(s);
        } else if (linkedDegree == 3) {
            removeList(s);
        }
    }
}

// A short list with one free end whose other end meets two more ends:
// the shortest of it and its free-ended neighbours goes, and the two ends
// left at its junction are joined.
void KpEdgeLinker::pruneSpur(int32_t list)
{
    const std::vector<int32_t> neighbours = listLinks.row(list).toVector();
    if (neighbours.size() == 1) {
        removeList(list);
        return;
    }
    std::vector<int32_t> candidates{list};
    std::vector<double> lengths{polylineLength(edgeLists[list])};
    double startNode, startDegree, endNode, endDegree, linkedDegree, linkedNode;
    for (int32_t j : neighbours) {
        endLinkInfo(j, startNode, startDegree, endNode, endDegree, linkedDegree, linkedNode);
        if (linkedDegree != 0) {
            candidates.push_back(j);
            lengths.push_back(polylineLength(edgeLists[j]));
        }
    }
    double minimum = 0.0;
    int32_t index = 0;
    minValue(lengths, minimum, index);
    const int32_t victim = candidates[index];
    endLinkInfo(victim, startNode, startDegree, endNode, endDegree, linkedDegree, linkedNode);
    const std::vector<int32_t> linked = nodeLinks.row(static_cast<int32_t>(linkedNode)).toVector();
    if (linked.size() != 2) {
        std::fputs("attempt to merge other than 2 nodes\n", stdout);
    }
    removeList(victim);
    // With fewer than two ends left at the junction there is nothing to join.
    if (linked.size() >= 2) {
        mergeNodes(linked[0], linked[1]);
    }
}

// An isolated list, or one closed on itself and linked to nothing else.
bool KpEdgeLinker::isIsolated(int32_t list) const
{
    return listDegrees[list] == 0 || (listDegrees[list] == 1 && listLinks.get(list, list));
}

bool KpEdgeLinker::mergeNodes(int32_t a, int32_t b)
{
    const int32_t A = a / 2;
    const int32_t B = b / 2;
    if (A == B) {
        return false;
    }
    if (!nodeLinks.get(a, b)) {
        std::fputs("Attempt to merge nodes that are not connected\n", stdout);
    }
    const int32_t sA = 2 * A;
    const int32_t eA = 2 * A + 1;
    const int32_t sB = 2 * B;
    const int32_t eB = 2 * B + 1;
    PointList& joined = edgeLists[A];
    const PointList& absorbed = edgeLists[B];
    if (isStartNode(a)) {
        // A is walked backwards from its free end to the junction.
        std::reverse(joined.begin(), joined.end());
        takeOver(sA, eA);
    }
    // B is walked away from the junction: forwards from its start,
    // backwards from its end. The junction pixel ends up twice.
    appendPoints(joined, absorbed, !isStartNode(b));
    takeOver(eA, isStartNode(b) ? eB : sB);
    listLinks.orRow(A, B);
    listLinks.orColumn(A, B);
    listLinks.set(A, A, false);
    recountDegrees();
    return removeList(B);
}

// Node X takes over node Y: row and column X become copies of row and
// column Y, and so does X's link count.
void KpEdgeLinker::takeOver(int32_t node, int32_t from)
{
    nodeLinks.copyRow(node, from);
    nodeLinks.copyColumn(node, from);
    nodeDegrees[node] = nodeDegrees[from];
    nodeLinks.markRow(node);
}

// Every link count becomes the true count of its row again; only rows
// changed since the last recount can differ from it.
void KpEdgeLinker::recountDegrees()
{
    for (int32_t j : nodeLinks.takeChangedRows()) {
        nodeDegrees[j] = nodeLinks.rowCount(j);
    }
    for (int32_t j : listLinks.takeChangedRows()) {
        listDegrees[j] = listLinks.rowCount(j);
    }
}

void KpEdgeLinker::endLinkInfo(int32_t list, double& startNode, double& startDegree, double& endNode,
                               double& endDegree, double& linkedDegree, double& linkedNode) const
{
    startNode = startDegree = endNode = endDegree = linkedDegree = linkedNode = 0.0;
    if (edgeLists[list].empty()) {
        return;
    }
    startNode = 2.0 * list;
    endNode = 2.0 * list + 1.0;
    startDegree = nodeDegrees[2 * list];
    endDegree = nodeDegrees[2 * list + 1];
    if (startDegree == 0 && endDegree >= 1) {
        linkedDegree = endDegree;
        linkedNode = endNode;
    } else if (startDegree >= 1 && endDegree == 0) {
        linkedDegree = startDegree;
        linkedNode = startNode;
    }
}

bool KpEdgeLinker::removeList(int32_t list)
{
    PointList().swap(edgeLists[list]);
    for (int32_t j : listLinks.row(list)) {
        --listDegrees[j];
        listLinks.markRow(j);
    }
    listLinks.clearRow(list);
    listLinks.clearColumn(list);
    listDegrees[list] = 0;
    listLinks.markRow(list);
    for (int32_t m : {2 * list, 2 * list + 1}) {
        for (int32_t j : nodeLinks.row(m)) {
            --nodeDegrees[j];
            nodeLinks.markRow(j);
        }
    }
    for (int32_t m : {2 * list, 2 * list + 1}) {
        nodeLinks.clearRow(m);
        nodeLinks.clearColumn(m);
    }
    return true;
}

double KpEdgeLinker::polylineLength(const PointList& list)
{
    double length = 0.0;
    for (std::size_t i = 1; i < list.size(); ++i) {
        const int64_t dr = static_cast<int64_t>(list[i].row) - list[i - 1].row;
        const int64_t dc = static_cast<int64_t>(list[i].col) - list[i - 1].col;
        length += std::sqrt(static_cast<double>(dr * dr + dc * dc));
    }
    return length;
}

std::vector<int32_t> KpEdgeLinker::countTrueRows(std::vector<std::vector<bool>> matrix) const
{
    std::vector<int32_t> counts;
    counts.reserve(matrix.size());
    for (std::vector<bool>& row : matrix) {
        counts.push_back(countTrue(std::move(row)));
    }
    return counts;
}

int32_t KpEdgeLinker::countTrue(std::vector<bool> row) const
{
    return static_cast<int32_t>(std::count(row.begin(), row.end(), true));
}

double KpEdgeLinker::minValue(std::vector<double> values, double& minimum, int32_t& index) const
{
    minimum = NO_MINIMUM;
    index = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (values[i] < minimum) {
            minimum = values[i];
            index = static_cast<int32_t>(i);
        }
    }
    return minimum;
}

// ---------------------------------------------------------------------
// Small components

KpImage KpEdgeLinker::removeSmallComponents(KpImage image, int32_t minArea)
{
    // The components are found before any pixel changes, so the image
    // itself can take the repainting.
    KpConnectedComponents components;
    components.kpCreateConnectedComponents(image);
    for (int32_t i = 0; i < components.kpGetComponentCount(); ++i) {
        const KpComponent& component = components.kpGetComponent(i);
        if (component.kpGetArea() >= minArea) {
            continue;
        }
        for (const KpDatarun& run : component.kpGetRuns()) {
            for (int32_t x = run.start; x < run.end; ++x) {
                image.kpSetPixel(x, run.row, WHITE_BIT);
            }
        }
    }
    return image;
}
