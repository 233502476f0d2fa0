#include "kpconnectedcomponentsutils.h"

#include "kpexception.h"
#include "kptablememory.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace {

// Markers of the run stream.
constexpr int32_t ROW_END = -1;
constexpr int32_t STREAM_END = -2;
// The stream starts with room for one value per this many pixels, and a
// row is written only when this many values more than the width are free.
constexpr int64_t PIXELS_PER_INITIAL_VALUE = 5;
constexpr int64_t ROW_MARGIN = 10;
// Row lists and node pools start with width + TABLE_MARGIN entries; a row
// list holds at most width + 3 (0, the transitions, width, width + 1).
constexpr int64_t TABLE_MARGIN = 4;
// Growth estimates extrapolate what the rows so far needed, with this much
// to spare.
constexpr double GROWTH_FACTOR = 1.2;
// Labels are odd: 1, 3, 5, ...
constexpr int32_t LABEL_STEP = 2;
constexpr int32_t NO_NODE = -1;
// Widths the stream and the label tables can hold in 32-bit entries.
constexpr int64_t MAX_STREAM_WIDTH = std::numeric_limits<int32_t>::max() - 16;
constexpr int64_t MAX_LABELLING_WIDTH = std::numeric_limits<int32_t>::max() / 4;
// Tables indexed by int32.
constexpr int64_t MAX_INDEX = std::numeric_limits<int32_t>::max();

const char* const CORRUPTED_ADD_RUN = "<KpConnectedComponentsUtils::ADD_RUN()> ComponentList is corrupted";
const char* const CORRUPTED_MERGE = "<KpConnectedComponentsUtils::MERGE()> ComponentList is corrupted";
const char* const NO_MEMORY_COMPONENTS = "Error. Out of memory - D->ComponentList";
const char* const NO_MEMORY_RUN_NODES = "Error. Out of memory - T->R";
const char* const NO_MEMORY_GAP_NODES = "Error. Out of memory - T->C";
const char* const NO_MEMORY_TABLES = "Error. Out of memory - T";
const char* const NO_MEMORY_STREAM = "Error. Out of memory - D->stream";

// The bit changes of every byte value, read from the most significant bit
// on and starting from a 0 bit. LUT holds, for each byte value in turn,
// the count n of changes followed by their n positions (0 = most
// significant bit); indx gives where each value's entry starts, ptr points
// at it, and mask gives the state after the byte: 255 when its least
// significant bit is set, else 0. Built once, in place, on first use.
class TransitionTables {
public:
    static const TransitionTables& instance()
    {
        static const TransitionTables tables;
        return tables;
    }

    std::array<uint8_t, 256 + 1024> LUT{};
    std::array<uint16_t, 256> indx{};
    std::array<const uint8_t*, 256> ptr{};
    std::array<uint8_t, 256> mask{};

private:
    TransitionTables()
    {
        std::size_t next = 0;
        for (int value = 0; value < 256; ++value) {
            indx[value] = static_cast<uint16_t>(next);
            const std::size_t countAt = next++;
            int previous = 0;
            uint8_t changes = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int current = (value >> (7 - bit)) & 1;
                if (current != previous) {
                    LUT[next++] = static_cast<uint8_t>(bit);
                    ++changes;
                    previous = current;
                }
            }
            LUT[countAt] = changes;
            ptr[value] = &LUT[countAt];
            mask[value] = (value & 1) != 0 ? 255 : 0;
        }
    }
};

// Gives the padding bits of a row's last byte the value of the row's last
// pixel, so that no change is found after it.
void extendLastPixel(uint8_t* row, int32_t width, int32_t byteCount)
{
    const int padding = 8 * byteCount - width;
    if (padding == 0) {
        return;
    }
    uint8_t& last = row[byteCount - 1];
    const uint8_t paddingBits = static_cast<uint8_t>((1u << padding) - 1u);
    if ((last >> padding) & 1u) {
        last |= paddingBits;
    } else {
        last &= static_cast<uint8_t>(~paddingBits);
    }
}

// Appends the transition columns of one row at out and returns the new
// end. Whole 8-byte words that continue the current state are skipped.
int32_t* appendTransitions(const uint8_t* row, int32_t byteCount, int32_t* out, const TransitionTables& t)
{
    uint8_t state = 0;
    int32_t i = 0;
    while (i < byteCount) {
        const uint64_t uniform = state != 0 ? ~uint64_t{0} : uint64_t{0};
        uint64_t word = 0;
        while (i + 8 <= byteCount && (std::memcpy(&word, row + i, 8), word == uniform)) {
            i += 8;
        }
        if (i == byteCount) {
            break;
        }
        const uint8_t byte = row[i];
        const uint8_t* entry = t.ptr[byte ^ state];
        const int32_t base = 8 * i;
        switch (entry[0]) {
        case 8: out[7] = entry[8] + base; [[fallthrough]];
        case 7: out[6] = entry[7] + base; [[fallthrough]];
        case 6: out[5] = entry[6] + base; [[fallthrough]];
        case 5: out[4] = entry[5] + base; [[fallthrough]];
        case 4: out[3] = entry[4] + base; [[fallthrough]];
        case 3: out[2] = entry[3] + base; [[fallthrough]];
        case 2: out[1] = entry[2] + base; [[fallthrough]];
        case 1: out[0] = entry[1] + base; [[fallthrough]];
        default: break;
        }
        out += entry[0];
        state = t.mask[byte];
        ++i;
    }
    return out;
}

// Makes room for capacity records in the component list.
void reserveComponents(KpLabellingDescriptor& D, int64_t capacity)
{
    kptablememory::reserve(D.ComponentList, capacity, MAX_INDEX, NO_MEMORY_COMPONENTS);
}

// (int)(base + (height + 1 - row) * 1.2 * capacity / (row + 1)): what the
// rows still to come will need if they need what the rows so far did.
int64_t growthEstimate(int64_t base, int32_t height, int32_t row, int64_t capacity)
{
    const double rest = static_cast<double>(height + int64_t{1} - row) * GROWTH_FACTOR *
                        static_cast<double>(capacity) / static_cast<double>(row + int64_t{1});
    const double total = static_cast<double>(base) + rest;
    return total >= static_cast<double>(std::numeric_limits<int64_t>::max())
               ? std::numeric_limits<int64_t>::max()
               : static_cast<int64_t>(total);
}

// Columns shared by two runs [cs, ce) and [ps, pe); 0 when they meet only
// at a corner.
int32_t sharedColumns(int32_t cs, int32_t ce, int32_t ps, int32_t pe)
{
    return std::max(0, std::min(ce, pe) - std::max(cs, ps));
}

// One node of a run list (row, start, end) or of a gap list (row, x1, x2,
// where a negative x2 marks an opened gap), linked by index.
struct Node {
    int32_t row;
    int32_t x1;
    int32_t x2;
    int32_t next;
};

// Nodes handed out from a free list; released lists go back whole. The
// pool's size follows the growth rules, but a node is stored only when it
// is first handed out, in storage reserved for the nodes the image can
// need at once, so that growing neither copies nor touches memory.
class NodePool {
public:
    NodePool(int64_t size, int64_t expectedNodes, const char* text) : text(text)
    {
        kptablememory::reserve(nodes, std::min(expectedNodes, MAX_INDEX), MAX_INDEX, text);
        grow(size);
    }

    void grow(int64_t by)
    {
        poolSize += by;
        freeCount += by;
    }

    // A free node; the caller has made sure that there is one.
    int32_t take()
    {
        --freeCount;
        if (freeHead != NO_NODE) {
            const int32_t node = freeHead;
            freeHead = nodes[node].next;
            return node;
        }
        if (nodes.size() == nodes.capacity()) {
            kptablememory::reserve(nodes, 2 * static_cast<int64_t>(nodes.capacity()) + 1, MAX_INDEX, text);
        }
        nodes.push_back(Node{0, 0, 0, NO_NODE});
        return static_cast<int32_t>(nodes.size()) - 1;
    }

    void release(int32_t head, int32_t tail, int64_t count)
    {
        if (head == NO_NODE) {
            return;
        }
        nodes[tail].next = freeHead;
        freeHead = head;
        freeCount += count;
    }

    int64_t size() const { return poolSize; }

    std::vector<Node> nodes;
    int64_t freeCount = 0;

private:
    int32_t freeHead = NO_NODE;
    int64_t poolSize = 0;
    const char* text;
};

} // namespace

// One row of the stream without its terminator, and a label per entry
// (only the run starts, at odd positions, carry one; 0 for none yet).
struct KpConnectedComponentsUtils::RowList {
    std::vector<int32_t> values;
    std::vector<int32_t> labels;
    int32_t count = 0;
};

// The working state of one labelling.
//
// A merge does not rewrite the labels of the two row lists: the absorbed
// label forwards to the surviving one until the end of the row, when the
// current row's labels are resolved and the absorbed labels return to the
// stack. A component is open while it has runs in the row above or the
// current row, so at most width + 1 are open at once and the labels stay
// below 2 x (width + 2).
struct KpConnectedComponentsUtils::Tables {
    explicit Tables(const KpLabellingDescriptor& D)
        : width(D.width), runNodes(D.width + TABLE_MARGIN, runsAtMost(D), NO_MEMORY_RUN_NODES),
          gapNodes(D.width + TABLE_MARGIN, runsAtMost(D), NO_MEMORY_GAP_NODES)
    {
        const int64_t entries = int64_t{D.width} + TABLE_MARGIN;
        const int64_t openComponents = int64_t{D.width} + 2;
        const int64_t labels = LABEL_STEP * openComponents;
        for (RowList& list : rowLists) {
            kptablememory::resize(list.values, entries, MAX_INDEX, NO_MEMORY_TABLES);
            kptablememory::resize(list.labels, entries, MAX_INDEX, NO_MEMORY_TABLES);
        }
        kptablememory::resize(continued, entries, MAX_INDEX, NO_MEMORY_TABLES);
        for (std::vector<int32_t>* perLabel : {&runHead, &runTail, &gapHead, &gapTail}) {
            kptablememory::resize(*perLabel, labels, MAX_INDEX, NO_MEMORY_TABLES);
            std::fill(perLabel->begin(), perLabel->end(), NO_NODE);
        }
        kptablememory::resize(lastSeen, labels, MAX_INDEX, NO_MEMORY_TABLES);
        kptablememory::resize(forward, labels, MAX_INDEX, NO_MEMORY_TABLES);
        kptablememory::resize(records, labels, MAX_INDEX, NO_MEMORY_TABLES);
        kptablememory::resize(labelStack, openComponents, MAX_INDEX, NO_MEMORY_TABLES);
        for (int32_t i = 0; i < static_cast<int32_t>(labels); ++i) {
            forward[i] = i;
        }
        // Popped from the back: 1 first, then 3, 5, ...
        for (int64_t i = 0; i < openComponents; ++i) {
            labelStack[i] = static_cast<int32_t>(LABEL_STEP * (openComponents - i) - 1);
        }
        mergedLabels.reserve(static_cast<std::size_t>(openComponents));
    }

    // Every row of the stream holds at least twice as many values as runs.
    static int64_t runsAtMost(const KpLabellingDescriptor& D) { return static_cast<int64_t>(D.stream.size()) / 2; }

    int32_t takeLabel()
    {
        const int32_t label = labelStack.back();
        labelStack.pop_back();
        return label;
    }

    // The label a (possibly absorbed) label stands for now.
    int32_t resolve(int32_t label)
    {
        while (forward[label] != label) {
            forward[label] = forward[forward[label]];
            label = forward[label];
        }
        return label;
    }

    // Empties a label's record and lists.
    void resetLabel(int32_t label)
    {
        records[label] = records[0];
        runHead[label] = runTail[label] = NO_NODE;
        gapHead[label] = gapTail[label] = NO_NODE;
    }

    int32_t width;
    int32_t marker = 0; // -row while row is processed; +row once closed in it
    RowList rowLists[2];
    RowList* above = &rowLists[0];
    RowList* current = &rowLists[1];
    std::vector<int32_t> continued; // per entry above: marker of the row that continued it
    std::vector<int32_t> labelStack;
    std::vector<int32_t> runHead;
    std::vector<int32_t> runTail;
    std::vector<int32_t> gapHead;
    std::vector<int32_t> gapTail;
    std::vector<int32_t> lastSeen;
    std::vector<int32_t> forward;
    std::vector<int32_t> mergedLabels;
    std::vector<KpComponentRecord> records; // record 0 stays empty: the reset template
    NodePool runNodes;
    NodePool gapNodes;
};

KpConnectedComponentsUtils::~KpConnectedComponentsUtils() = default;

// ---------------------------------------------------------------------
// Run extraction

int64_t KpConnectedComponentsUtils::kpExtractRuns(uint8_t* data, int32_t width, int32_t bytesPerRow, int32_t height,
                                                  std::vector<int32_t>& stream)
{
    if (data == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpConnectedComponentsUtils::kpExtractRuns()> Image Data is NULL!");
    }
    const int32_t byteCount = static_cast<int32_t>((int64_t{width} + 7) / 8);
    if (width <= 0 || height <= 0 || bytesPerRow < byteCount) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpConnectedComponentsUtils::kpExtractRuns()> Invalid image size");
    }
    if (width > MAX_STREAM_WIDTH) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpConnectedComponentsUtils::kpExtractRuns()> Image too wide for run labelling");
    }
    const TransitionTables& tables = TransitionTables::instance();
    const int64_t maxValues = static_cast<int64_t>(std::numeric_limits<std::ptrdiff_t>::max() / sizeof(int32_t));
    stream.clear();
    kptablememory::resize(stream, int64_t{width} * height / PIXELS_PER_INITIAL_VALUE, maxValues, NO_MEMORY_STREAM);
    int64_t length = 0;
    for (int32_t y = 0; y < height; ++y) {
        const int64_t free = static_cast<int64_t>(stream.size()) - length;
        if (free < width + ROW_MARGIN) {
            // Grows by at least width + ROW_MARGIN values, and geometrically,
            // so that a busy image is copied a bounded number of times.
            const int64_t size = static_cast<int64_t>(stream.size());
            kptablememory::resize(stream, size + std::max(width + ROW_MARGIN, size / 2), maxValues, NO_MEMORY_STREAM);
        }
        uint8_t* row = data + static_cast<std::size_t>(y) * static_cast<std::size_t>(bytesPerRow);
        extendLastPixel(row, width, byteCount);
        int32_t* out = stream.data() + length;
        *out++ = 0;
        out = appendTransitions(row, byteCount, out, tables);
        *out++ = width;
        *out++ = width + 1;
        *out++ = ROW_END;
        length = out - stream.data();
    }
    // Within the room already there: the stream keeps its storage.
    stream.resize(static_cast<std::size_t>(length));
    stream.push_back(STREAM_END);
    return length + 1;
}

// ---------------------------------------------------------------------
// Labelling

KpLabellingDescriptor KpConnectedComponentsUtils::kpLabelImage(KpImage& image)
{
    if (image.kpGetDepth() != 1) {
        KP_THROW(KP_UNSUPPORTED_CONTENT,
                 "<KpConnectedComponentsUtils::kpLabelImage()> Only supports Two Bit images (Black and White)");
    }
    KpLabellingDescriptor D;
    D.width = image.kpGetWidth();
    D.height = image.kpGetHeight();
    D.bytesPerRow = image.kpGetBytesPerRow();
    D.imageData = image.kpGetData();
    kpExtractRuns(image.kpGetData(), D.width, D.bytesPerRow, D.height, D.stream);
    KpCalcConnectedComponents(D);
    return D;
}

void KpConnectedComponentsUtils::KpCalcConnectedComponents(KpLabellingDescriptor& D)
{
    if (D.imageData == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpConnectedComponentsUtils::KpCalcConnectedComponents()> Image Data is NULL!");
    }
    if (D.width <= 0 || D.height <= 0) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpConnectedComponentsUtils::KpCalcConnectedComponents()> Invalid image size");
    }
    if (D.width > MAX_LABELLING_WIDTH) {
        KP_THROW(KP_UNSUPPORTED_DEPTH,
                 "<KpConnectedComponentsUtils::KpCalcConnectedComponents()> Image too wide for run labelling");
    }
    Tables T(D);
    D.ComponentList.clear();
    reserveComponents(D, int64_t{D.width} + TABLE_MARGIN);
    D.ComponentList.emplace_back(); // entry 0, never used

    std::size_t position = 0;
    READ_ROW(D, position, *T.above);
    for (int32_t i = 1; T.above->values[i] < D.width; i += 2) {
        NEW_COMPONENT(T, *T.above, i, 0);
    }
    for (int32_t row = 1; row < D.height; ++row) {
        T.marker = -row;
        READ_ROW(D, position, *T.current);
        std::fill_n(T.current->labels.begin(), T.current->count, 0);
        GROW_TABLES(D, T, row);
        // A row that ended in background: its sentinel run moves to
        // width + 1, out of reach of a run that ends at width.
        if (T.above->count % 2 == 1) {
            T.above->values[T.above->count - 2] = D.width + 1;
        }
        walkRowPair(T, D.width, row);
        CLOSE_COMPONENTS(D, T, row);
        for (int32_t i = 1; T.current->values[i] < D.width; i += 2) {
            T.current->labels[i] = T.resolve(T.current->labels[i]);
        }
        for (int32_t label : T.mergedLabels) {
            T.forward[label] = label;
            T.labelStack.push_back(label);
        }
        T.mergedLabels.clear();
        std::swap(T.above, T.current);
    }
    T.marker = -D.height;
    CLOSE_COMPONENTS(D, T, D.height);
}

// Compares the runs of the current row with those of the row above, left
// to right, and creates, extends or joins components where they touch.
void KpConnectedComponentsUtils::walkRowPair(Tables& T, int32_t width, int32_t row)
{
    const int32_t* cv = T.current->values.data();
    int32_t* cl = T.current->labels.data();
    const int32_t* av = T.above->values.data();
    const int32_t* al = T.above->labels.data();
    int32_t c = 1;
    int32_t p = 1;
    while (cv[c] < width) {
        const int32_t cs = cv[c];
        const int32_t ce = cv[c + 1];
        const int32_t ps = av[p];
        const int32_t pe = av[p + 1];
        if (pe < cs) {
            p += 2;
            continue;
        }
        if (ce < ps) {
            if (cl[c] == 0) {
                NEW_COMPONENT(T, *T.current, c, row);
            }
            c += 2;
            continue;
        }
        // The runs share a column or meet at a corner.
        if (cl[c] == 0) {
            ADD_RUN(T, c, p, row);
        } else {
            const int32_t label = T.resolve(cl[c]);
            const int32_t aboveLabel = T.resolve(al[p]);
            if (label != aboveLabel) {
                MERGE(T, label, aboveLabel, c, p, row);
            } else {
                SAME_COMPONENT(T, label, c, p);
            }
            ADD_GAP(T, label, row - 1, av[p - 1], ps);
        }
        if (ce > pe) {
            p += 2;
        } else {
            c += 2;
        }
    }
}

void KpConnectedComponentsUtils::READ_ROW(const KpLabellingDescriptor& D, std::size_t& position, RowList& row)
{
    const int32_t* stream = D.stream.data();
    const std::size_t length = D.stream.size();
    const int32_t capacity = static_cast<int32_t>(row.values.size());
    int32_t* values = row.values.data();
    int32_t count = 0;
    bool increasing = true;
    while (position < length && stream[position] >= 0 && count < capacity) {
        const int32_t value = stream[position++];
        increasing &= count < 2 || value > values[count - 1];
        values[count++] = value;
    }
    const bool wellFormed = increasing && position < length && stream[position] == ROW_END && count >= 3 &&
                            values[0] == 0 && values[count - 2] == D.width && values[count - 1] == D.width + 1;
    if (!wellFormed) {
        KP_THROW(KP_INVALID_ARGUMENT, "<KpConnectedComponentsUtils::READ_ROW()> Malformed run stream");
    }
    ++position;
    row.count = count;
}

void KpConnectedComponentsUtils::NEW_COMPONENT(Tables& T, RowList& list, int32_t entry, int32_t row)
{
    const int32_t label = T.takeLabel();
    const int32_t start = list.values[entry];
    const int32_t end = list.values[entry + 1];
    list.labels[entry] = label;
    const int32_t length = end - start;
    KpComponentRecord& record = T.records[label];
    record.area = length;
    record.rowSum = static_cast<double>(length) * row;
    record.columnSum = static_cast<double>(length) * (int64_t{start} + end - 1);
    record.boundaryLength = 2 * length + 2;
    record.top = record.bottom = row;
    record.left = start;
    record.right = end - 1;
    record.runCount = 1;
    record.loopCount = 0;
    const int32_t node = T.runNodes.take();
    T.runNodes.nodes[node] = Node{row, start, end, NO_NODE};
    T.runHead[label] = T.runTail[label] = node;
    T.gapHead[label] = T.gapTail[label] = NO_NODE;
}

void KpConnectedComponentsUtils::ADD_RUN(Tables& T, int32_t entry, int32_t aboveEntry, int32_t row)
{
    const int32_t label = T.resolve(T.above->labels[aboveEntry]);
    if (label <= 0) {
        KP_THROW(KP_NO_MEMORY, CORRUPTED_ADD_RUN);
    }
    T.current->labels[entry] = label;
    const int32_t start = T.current->values[entry];
    const int32_t end = T.current->values[entry + 1];
    const int32_t length = end - start;
    KpComponentRecord& record = T.records[label];
    record.area += length;
    record.rowSum += static_cast<double>(length) * row;
    record.columnSum += static_cast<double>(length) * (int64_t{start} + end - 1);
    record.left = std::min(record.left, start);
    record.right = std::max(record.right, end - 1);
    record.bottom = row;
    ++record.runCount;
    const int32_t node = T.runNodes.take();
    T.runNodes.nodes[node] = Node{row, start, end, T.runHead[label]};
    T.runHead[label] = node;
    const int32_t aboveStart = T.above->values[aboveEntry];
    const int32_t aboveEnd = T.above->values[aboveEntry + 1];
    record.boundaryLength += 2 * length + 2 - 2 * sharedColumns(start, end, aboveStart, aboveEnd);
    T.lastSeen[label] = T.marker;
    if (T.continued[aboveEntry] == T.marker) {
        // The previous run of this row continued the same run above: the
        // span between the two opened below it.
        ADD_GAP(T, label, row, T.current->values[entry - 1], -start);
    } else {
        T.continued[aboveEntry] = T.marker;
    }
}

void KpConnectedComponentsUtils::SAME_COMPONENT(Tables& T, int32_t label, int32_t entry, int32_t aboveEntry)
{
    KpComponentRecord& record = T.records[label];
    ++record.loopCount;
    record.boundaryLength -= 2 * sharedColumns(T.current->values[entry], T.current->values[entry + 1],
                                               T.above->values[aboveEntry], T.above->values[aboveEntry + 1]);
}

void KpConnectedComponentsUtils::MERGE(Tables& T, int32_t label, int32_t aboveLabel, int32_t entry,
                                       int32_t aboveEntry, int32_t row)
{
    if (label <= 0 || aboveLabel <= 0) {
        KP_THROW(KP_NO_MEMORY, CORRUPTED_MERGE);
    }
    KpComponentRecord& q = T.records[label];
    const KpComponentRecord& r = T.records[aboveLabel];
    q.area += r.area;
    q.rowSum += r.rowSum;
    q.columnSum += r.columnSum;
    q.loopCount += r.loopCount;
    q.runCount += r.runCount;
    q.boundaryLength += r.boundaryLength -
                        2 * sharedColumns(T.current->values[entry], T.current->values[entry + 1],
                                          T.above->values[aboveEntry], T.above->values[aboveEntry + 1]);
    q.top = std::min(q.top, r.top);
    q.left = std::min(q.left, r.left);
    q.right = std::max(q.right, r.right);
    q.bottom = row;
    q.closedGapCount += r.closedGapCount;
    q.openedGapCount += r.openedGapCount;

    T.runNodes.nodes[T.runTail[label]].next = T.runHead[aboveLabel];
    T.runTail[label] = T.runTail[aboveLabel];
    if (T.gapHead[label] == NO_NODE) {
        T.gapHead[label] = T.gapHead[aboveLabel];
        T.gapTail[label] = T.gapTail[aboveLabel];
    } else if (T.gapHead[aboveLabel] != NO_NODE) {
        T.gapNodes.nodes[T.gapTail[label]].next = T.gapHead[aboveLabel];
        T.gapTail[label] = T.gapTail[aboveLabel];
    }
    T.resetLabel(aboveLabel);
    T.forward[aboveLabel] = label;
    T.mergedLabels.push_back(aboveLabel);
}

void KpConnectedComponentsUtils::ADD_GAP(Tables& T, int32_t label, int32_t row, int32_t x1, int32_t x2)
{
    // A row can add more gaps than GROW_TABLES keeps free (up to one per
    // run of either row), so the pool also grows on demand.
    if (T.gapNodes.freeCount == 0) {
        T.gapNodes.grow(int64_t{T.width} + 1);
    }
    const int32_t node = T.gapNodes.take();
    T.gapNodes.nodes[node] = Node{row, x1, x2, T.gapHead[label]};
    if (T.gapHead[label] == NO_NODE) {
        T.gapTail[label] = node;
    }
    T.gapHead[label] = node;
    KpComponentRecord& record = T.records[label];
    if (x2 < 1) {
        ++record.openedGapCount;
    } else {
        ++record.closedGapCount;
    }
}

void KpConnectedComponentsUtils::CLOSE_COMPONENTS(KpLabellingDescriptor& D, Tables& T, int32_t row)
{
    GROW_COMPONENT_LIST(D, T, row);
    const int32_t* values = T.above->values.data();
    const int32_t* labels = T.above->labels.data();
    for (int32_t i = 1; values[i] < D.width; i += 2) {
        const int32_t label = T.resolve(labels[i]);
        if (T.lastSeen[label] == T.marker || T.lastSeen[label] == row) {
            continue; // continued in this row, or already closed
        }
        emitComponent(D, T, label, values[i]);
        T.lastSeen[label] = row;
    }
}

// Appends the finished record of label to the component list with its
// means, seed, runs and gaps, and frees the label and its nodes.
void KpConnectedComponentsUtils::emitComponent(KpLabellingDescriptor& D, Tables& T, int32_t label,
                                               int32_t seedColumn)
{
    D.ComponentList.push_back(T.records[label]);
    KpComponentRecord& out = D.ComponentList.back();
    out.meanColumn = static_cast<float>(out.columnSum / (2.0 * out.area));
    out.meanRow = static_cast<float>(out.rowSum / out.area);
    out.seedRow = out.bottom;
    out.seedColumn = seedColumn;

    const std::vector<Node>& runs = T.runNodes.nodes;
    kptablememory::reserve(out.runs, out.runCount, MAX_INDEX, NO_MEMORY_COMPONENTS);
    for (int32_t n = T.runHead[label]; n != NO_NODE; n = runs[n].next) {
        out.runs.emplace_back(runs[n].row, runs[n].x1, runs[n].x2);
    }
    T.runNodes.release(T.runHead[label], T.runTail[label], out.runCount);

    const std::vector<Node>& gaps = T.gapNodes.nodes;
    kptablememory::reserve(out.closedGaps, out.closedGapCount, MAX_INDEX, NO_MEMORY_COMPONENTS);
    kptablememory::reserve(out.openedGaps, out.openedGapCount, MAX_INDEX, NO_MEMORY_COMPONENTS);
    for (int32_t n = T.gapHead[label]; n != NO_NODE; n = gaps[n].next) {
        if (gaps[n].x2 < 1) {
            out.openedGaps.emplace_back(gaps[n].row, gaps[n].x1, -gaps[n].x2);
        } else {
            out.closedGaps.emplace_back(gaps[n].row, gaps[n].x1, gaps[n].x2);
        }
    }
    T.gapNodes.release(T.gapHead[label], T.gapTail[label], int64_t{out.closedGapCount} + out.openedGapCount);

    T.resetLabel(label);
    T.labelStack.push_back(label);
}

void KpConnectedComponentsUtils::GROW_COMPONENT_LIST(KpLabellingDescriptor& D, const Tables& T, int32_t row)
{
    const int64_t half = T.above->count / 2;
    const int64_t capacity = static_cast<int64_t>(D.ComponentList.capacity());
    const int64_t count = static_cast<int64_t>(D.ComponentList.size());
    if (capacity - count >= half) {
        return;
    }
    reserveComponents(D, capacity + growthEstimate(half, D.height, row, capacity));
}

void KpConnectedComponentsUtils::GROW_TABLES(const KpLabellingDescriptor& D, Tables& T, int32_t row)
{
    const int64_t entries = T.current->count;
    if (T.runNodes.freeCount < entries) {
        T.runNodes.grow(growthEstimate(entries, D.height, row, T.runNodes.size()));
    }
    if (T.gapNodes.freeCount < D.width / 2 + 1) {
        T.gapNodes.grow(int64_t{D.width} + 1);
    }
}
