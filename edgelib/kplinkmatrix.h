#ifndef DOVODA_KPLINKMATRIX_H
#define DOVODA_KPLINKMATRIX_H

#include <cstdint>
#include <vector>

// A square matrix of booleans held by its true entries: for every row the
// ascending columns that are true, and for every column the ascending rows,
// so that a row or a column is read or rewritten in time proportional to
// its true entries rather than to the size. Every change is exact: the
// matrix need not be symmetric.
//
// The entries of all rows and columns share one block of storage: a row
// that outgrows its room moves to the end of the block, so that changing
// the matrix allocates nothing per row.
//
// The matrix also keeps the rows whose count of true entries changed (or
// that a caller marked) since the last takeChangedRows(), so that counts
// kept beside it can be brought up to date without a full recount.
class KpLinkMatrix {
public:
    // The true entries of one row or column, ascending; valid until the
    // matrix changes.
    class Entries {
    public:
        Entries(const int32_t* first, const int32_t* last) : first(first), last(last) {}
        const int32_t* begin() const { return first; }
        const int32_t* end() const { return last; }
        std::size_t size() const { return static_cast<std::size_t>(last - first); }
        bool empty() const { return first == last; }
        int32_t front() const { return *first; }
        std::vector<int32_t> toVector() const { return std::vector<int32_t>(first, last); }

    private:
        const int32_t* first;
        const int32_t* last;
    };

    // size x size, all false; no row is marked.
    void reset(int32_t size);
    int32_t size() const { return static_cast<int32_t>(rows.size()); }

    bool get(int32_t row, int32_t column) const;
    void set(int32_t row, int32_t column, bool value);
    Entries row(int32_t r) const { return entriesOf(rows[r]); }
    Entries column(int32_t c) const { return entriesOf(columns[c]); }
    int32_t rowCount(int32_t r) const { return rows[r].size; }
    // True entries in all.
    int64_t count() const { return entryCount; }

    // Row target becomes a copy of row source.
    void copyRow(int32_t target, int32_t source);
    // Column target becomes a copy of column source.
    void copyColumn(int32_t target, int32_t source);
    // Row (column) target becomes its union with row (column) source.
    void orRow(int32_t target, int32_t source);
    void orColumn(int32_t target, int32_t source);
    void clearRow(int32_t r);
    void clearColumn(int32_t c);
    // Makes an all-false matrix a symmetric one given row by row: the
    // ascending true columns of row r are entries[rowStarts[r]] up to
    // entries[rowStarts[r + 1] - 1] (rowStarts holds size + 1 offsets).
    void fillSymmetric(const std::vector<int64_t>& rowStarts, const std::vector<int32_t>& entries);

    void markRow(int32_t r);
    // The rows marked since the last call, each once.
    std::vector<int32_t> takeChangedRows();

private:
    // Where the ascending entries of one row or column lie in the storage.
    struct Span {
        int64_t offset = 0;
        int32_t size = 0;
        int32_t capacity = 0;
    };

    Entries entriesOf(const Span& span) const;
    bool assign(Span& span, int32_t value, bool present);
    void moveToEnd(Span& span, int32_t capacity);
    void replaceRow(int32_t target, const std::vector<int32_t>& columnsOfRow);
    void replaceColumn(int32_t target, const std::vector<int32_t>& rowsOfColumn);
    void setSpan(Span& span, const std::vector<int32_t>& values);
    static std::vector<int32_t> unionOf(Entries a, Entries b);

    std::vector<Span> rows;
    std::vector<Span> columns;
    std::vector<int32_t> storage;
    int64_t entryCount = 0;
    std::vector<int32_t> changed;
    std::vector<uint8_t> isChanged;
};

#endif
