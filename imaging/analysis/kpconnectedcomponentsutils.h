#ifndef DOVODA_KPCONNECTEDCOMPONENTSUTILS_H
#define DOVODA_KPCONNECTEDCOMPONENTSUTILS_H

#include "kpdatarun.h"
#include "kpimage.h"

#include <cstdint>
#include <vector>

// One component as the labelling accumulates and then emits it. While the
// component is open, rowSum and columnSum hold the sums of row x length
// and of length x (start + end - 1) over its runs; when it is emitted they
// become meanRow and meanColumn. Its runs and gaps are (row, start, end)
// triples.
struct KpComponentRecord {
    int32_t area = 0;
    double rowSum = 0.0;
    double columnSum = 0.0;
    float meanRow = 0.0f;
    float meanColumn = 0.0f;
    int32_t boundaryLength = 0; // pixel edges between the component and the rest
    int32_t top = 0;            // first and last row, inclusive
    int32_t bottom = 0;
    int32_t left = 0; // first and last column, inclusive
    int32_t right = 0;
    int32_t seedRow = 0; // the bottom row, and the start of its leftmost run there
    int32_t seedColumn = 0;
    int32_t loopCount = 0; // loops closed around background
    int32_t runCount = 0;
    std::vector<KpDatarun> runs;
    int32_t closedGapCount = 0; // white spans of a row that a run of the next row bridged
    std::vector<KpDatarun> closedGaps;
    int32_t openedGapCount = 0; // white spans that opened below a single run
    std::vector<KpDatarun> openedGaps;
};

// The input and output of one labelling: the source's size, its run
// stream, and the finished records. Entry 0 of ComponentList is never
// used, so its size (the count) starts at 1.
struct KpLabellingDescriptor {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bytesPerRow = 0;
    const uint8_t* imageData = nullptr;
    std::vector<int32_t> stream;
    std::vector<KpComponentRecord> ComponentList;
};

// Labels the 8-connected components of a packed binary image in one
// top-to-bottom sweep over horizontal runs, without a label image.
//
// The run stream describes the image row by row. Each row is 0, the
// columns t1 < t2 < ... < tk at which the pixel differs from the one to
// its left (the value left of column 0 counting as background), then
// width, width + 1 and -1; the stream ends with -2. Read in pairs from the
// second entry, (t1, t2), (t3, t4), ... are the runs of set pixels with
// exclusive ends; when k is odd the last run closes at width.
//
// The sweep compares the runs of each row with those of the row above,
// creates, extends and merges component records, and emits a component as
// soon as a row no longer continues it: components come out ordered by the
// row after their bottom row, then by the start of their leftmost run in
// the bottom row.
class KpConnectedComponentsUtils {
public:
    KpConnectedComponentsUtils() = delete;
    virtual ~KpConnectedComponentsUtils();

    // The run stream of the rows of data (packed, most significant bit
    // first, set bits are foreground) into stream; returns its length. The
    // bits past the width in each row's last byte are overwritten with the
    // row's last pixel. Code 11 for a width the stream cannot hold, code 13
    // when the stream cannot be allocated.
    static int64_t kpExtractRuns(uint8_t* data, int32_t width, int32_t bytesPerRow, int32_t height,
                                 std::vector<int32_t>& stream);

    // Both steps for the set bits of a 1-bit image (code 8 for another
    // depth); the bits past the width in each row may change.
    static KpLabellingDescriptor kpLabelImage(KpImage& image);

    // Labels the stream of D and fills D.ComponentList. Code 5 when D has
    // no image data, code 13 when a table cannot grow.
    static void KpCalcConnectedComponents(KpLabellingDescriptor& D);

private:
    struct Tables;
    struct RowList;

    static void READ_ROW(const KpLabellingDescriptor& D, std::size_t& position, RowList& row);
    static void NEW_COMPONENT(Tables& T, RowList& list, int32_t entry, int32_t row);
    static void ADD_RUN(Tables& T, int32_t entry, int32_t aboveEntry, int32_t row);
    static void SAME_COMPONENT(Tables& T, int32_t label, int32_t entry, int32_t aboveEntry);
    static void MERGE(Tables& T, int32_t label, int32_t aboveLabel, int32_t entry, int32_t aboveEntry,
                      int32_t row);
    static void ADD_GAP(Tables& T, int32_t label, int32_t row, int32_t x1, int32_t x2);
    static void CLOSE_COMPONENTS(KpLabellingDescriptor& D, Tables& T, int32_t row);
    static void GROW_COMPONENT_LIST(KpLabellingDescriptor& D, const Tables& T, int32_t row);
    static void GROW_TABLES(const KpLabellingDescriptor& D, Tables& T, int32_t row);
    static void emitComponent(KpLabellingDescriptor& D, Tables& T, int32_t label, int32_t seedColumn);
    static void walkRowPair(Tables& T, int32_t width, int32_t row);
};

#endif
