#ifndef DOVODA_KPEDGELINKER_H
#define DOVODA_KPEDGELINKER_H

#include "intmat.h"
#include "kpfarthestpoint.h"
#include "kpimage.h"
#include "kplinkmatrix.h"
#include "point.h"

#include <cstdint>
#include <string>
#include <vector>

// Turns an edge image (dark edges on a white ground) into straight line
// segments. Construction thins the edges to a one-pixel skeleton held in
// pixelLabels; extractLines traces the skeleton into edge lists that end
// at free ends and junctions, fits polylines within a distance tolerance
// and drops duplicates; writeLines writes the polylines as text.
//
// Diagnostic files written into the working directory: "ori.png",
// "bin.png" (not for 1-bit input), "tmp.bmp" and "test.txt" by the
// constructor; "reset.txt", "updated.txt" and "ne.txt" by tracing when it
// finds an edge list. A dump that cannot be written is reported on
// standard error and the work goes on. A linker constructed with
// Diagnostics::Skip writes none of them, so that several linkers can work
// side by side on separate threads.
class KpEdgeLinker {
public:
    enum class Diagnostics { Write, Skip };

    // Takes its own copy of the edge image; the caller's is not changed.
    // Writes the diagnostic files.
    explicit KpEdgeLinker(KpImage edgeImage);
    KpEdgeLinker(KpImage edgeImage, Diagnostics diagnostics);
    ~KpEdgeLinker();
    KpEdgeLinker(const KpEdgeLinker&) = delete;
    KpEdgeLinker& operator=(const KpEdgeLinker&) = delete;

    // --- Tracing -------------------------------------------------------
    // Cuts the skeleton into edge lists: 1, or -1 when no list was kept.
    int32_t traceEdges();
    // Records every skeleton pixel whose ring of neighbours crosses
    // between stroke and background more than 5 times.
    bool markJunctions();
    // The edge list through the untraced pixel (row, col), walked in both
    // directions unless the seed is a junction; its pixels take -label.
    PointList traceFrom(int32_t row, int32_t col, int32_t label);
    // The step from (row, col): junctionCode onto an adjacent junction not
    // taken by this trace, continueCode onto an untraced pixel, stopCode
    // (with (0, 0)) when there is none.
    int32_t nextPoint(int32_t row, int32_t col, int32_t label, int32_t& nextRow, int32_t& nextCol);
    bool isJunction(int32_t row, int32_t col) const;
    // The values of the in-image 8-neighbours of (row, col).
    std::vector<int32_t> neighbourValues(int32_t row, int32_t col) const;
    // Rewrites pixelLabels with list numbers (1 for the first list) and
    // dumps it before ("reset.txt") and after ("updated.txt").
    bool labelEdgeLists();
    // The signed sum of row and column differences of the first size(a)
    // point pairs (at most size(b)). Equal totals do not make two lists
    // equal: duplicates are decided point for point.
    double contourDifference(const PointList& a, const PointList& b) const;
    PointList reversePoints(PointList list) const;

    // --- Fitting -------------------------------------------------------
    // Traces, fits polylines within tolerance pixels (a negative or NaN
    // tolerance counts as 0) and drops duplicate polylines.
    std::vector<PointList> extractLines(double tolerance);
    // Appends one polyline per edge list to segmentLists.
    void fitSegments(double tolerance);
    // The largest distance of the points first..last from the chord of
    // the range (from the first point when the chord's ends coincide);
    // index counts from first. False for a range of fewer than two points.
    bool maxLineDeviation(const std::vector<int32_t>& x, const std::vector<int32_t>& y, int32_t first,
                          int32_t last, double& maxDeviation, int32_t& index, double& chordLength,
                          double& totalSquared) const;
    // The largest value (0 when none is positive) and the index of its
    // first occurrence.
    double maxValue(const std::vector<double>& values, double& maximum, int32_t& index) const;

    // --- Output --------------------------------------------------------
    // One line of "row,col," pairs per polyline, padded with "-2,-2," to
    // the longest; 1 on success, 0 when the file could not be written.
    int32_t writeLines(std::string fileName) const;

    // --- Edge-list graph -------------------------------------------------
    // Treats the ends of the edge lists as nodes (2i the first point of
    // list i, 2i + 1 its last) linked when they lie on one pixel. Joins the
    // lists whose ends meet only each other; with a positive minLength
    // also removes short isolated lists, short closed loops and short
    // spurs at three-way junctions, joining the two lists left at such a
    // junction. Empty lists are dropped. Always 1.
    int32_t mergeEdgeLists(double minLength);
    // Joins the list of node b onto the list of node a at those nodes and
    // removes b's list: false when both nodes belong to one list.
    bool mergeNodes(int32_t a, int32_t b);
    // The nodes of a list and their link counts; linkedDegree and
    // linkedNode are those of its one linked end when the other end is
    // free, else 0. All 0 for an empty list.
    void endLinkInfo(int32_t list, double& startNode, double& startDegree, double& endNode, double& endDegree,
                     double& linkedDegree, double& linkedNode) const;
    // Empties a list (it keeps its place) and drops its links. Always true.
    bool removeList(int32_t list);
    // The summed lengths of the steps between consecutive points.
    static double polylineLength(const PointList& list);
    // The true entries of each row.
    std::vector<int32_t> countTrueRows(std::vector<std::vector<bool>> matrix) const;
    int32_t countTrue(std::vector<bool> row) const;
    // The smallest value below 100000 and the index of its first
    // occurrence (100000 at index 0 when there is none).
    double minValue(std::vector<double> values, double& minimum, int32_t& index) const;

    // --- Small components ----------------------------------------------
    // A copy of a 1-bit image in which the 8-connected black components of
    // fewer than minArea pixels are painted white. Code 8 for another
    // depth, code 5 without pixel data.
    static KpImage removeSmallComponents(KpImage image, int32_t minArea);

    const KpImage& getImage() const { return image; }
    const std::vector<PointList>& getEdgeLists() const { return edgeLists; }
    const std::vector<PointList>& getSegmentLists() const { return segmentLists; }
    const std::vector<int32_t>& getJunctionRows() const { return junctionRows; }
    const std::vector<int32_t>& getJunctionCols() const { return junctionCols; }
    int32_t getRows() const { return rows; }
    int32_t getCols() const { return cols; }
    const IntMat& getPixelLabels() const { return pixelLabels; }
    void setEdgeLists(std::vector<PointList> lists) { edgeLists = std::move(lists); }
    // The links and link counts left by the last mergeEdgeLists: entry
    // [u][v] of the node links is true when nodes u and v meet, [i][j] of
    // the list links when an end of list i meets an end of list j.
    const KpLinkMatrix& getNodeLinks() const { return nodeLinks; }
    const KpLinkMatrix& getListLinks() const { return listLinks; }
    const std::vector<int32_t>& getNodeDegrees() const { return nodeDegrees; }
    const std::vector<int32_t>& getListDegrees() const { return listDegrees; }

private:
    void prepareImage();
    void saveDiagnosticImage(const char* fileName);
    void dumpLabels(const std::vector<std::string>& fileNames) const;
    void numberEdgeLists();
    void traceInto(PointList& list, int32_t row, int32_t col, int32_t label);
    void markJunction(int32_t row, int32_t col);
    void walk(PointList& list, int32_t row, int32_t col, int32_t label);
    void closeRing(PointList& list) const;
    void orientLists();
    // Arrays reused while fitting one list after another.
    struct FitScratch {
        std::vector<int32_t> xs;
        std::vector<int32_t> ys;
        PointList vertices;
        KpFarthestPoint finder;
    };
    PointList fitPolyline(const PointList& list, double tolerance, FitScratch& scratch) const;
    bool isInside(int32_t row, int32_t col) const { return row >= 0 && row < rows && col >= 0 && col < cols; }
    void linkEnds();
    void joinChains();
    void pruneShortLists(double minLength);
    void pruneSpur(int32_t list);
    bool isIsolated(int32_t list) const;
    void takeOver(int32_t node, int32_t from);
    void recountDegrees();

    KpImage image;
    std::vector<PointList> edgeLists;
    std::vector<PointList> segmentLists;
    std::vector<int32_t> junctionRows;
    std::vector<int32_t> junctionCols;
    int32_t rows;
    int32_t cols;
    int32_t stopCode;
    int32_t continueCode;
    int32_t junctionCode;
    KpLinkMatrix nodeLinks;
    KpLinkMatrix listLinks;
    std::vector<int32_t> nodeDegrees;
    std::vector<int32_t> listDegrees;
    IntMat pixelLabels;
    // Index of the junction lists: one byte per pixel marking junctions and
    // their neighbours, so a lookup costs one read however many junctions
    // there are.
    std::vector<uint8_t> junctionMask;
    bool writesDiagnostics;
};

#endif
