#ifndef DOVODA_KPLINKMATRIX_H
#define DOVODA_KPLINKMATRIX_H

#include <cstdint>
#include <utility>
#include <vector>

// A square matrix of booleans held by its true entries: for every row the
// ascending columns that are true, and for every column the ascending rows,
// so that a row or a column is read or rewritten in time proportional to
// its true entries rather than to the size. Every change is exact: the
// matrix need not be symmetric.
//
// The matrix also keeps the rows whose count of true entries changed (or
// that a caller marked) since the last takeChangedRows(), so that counts
// kept beside it can be brought up to date without a full recount.
class KpLinkMatrix {
public:
    // size x size, all false; no row is marked.
    void reset(int32_t size);
    int32_t size() const { return static_cast<int32_t>(rows.size()); }

    bool get(int32_t row, int32_t column) const;
    void set(int32_t row, int32_t column, bool value);
    // Ascending columns of the true entries of a row, and ascending rows of
    // the true entries of a column.
    const std::vector<int32_t>& row(int32_t r) const { return rows[r]; }
    const std::vector<int32_t>& column(int32_t c) const { return columns[c]; }
    int32_t rowCount(int32_t r) const { return static_cast<int32_t>(rows[r].size()); }
    // True entries in all.
    int64_t count() const { return entries; }

    // Row target becomes a copy of row source.
    void copyRow(int32_t target, int32_t source);
    // Column target becomes a copy of column source.
    void copyColumn(int32_t target, int32_t source);
    // Row (column) target becomes its union with row (column) source.
    void orRow(int32_t target, int32_t source);
    void orColumn(int32_t target, int32_t source);
    void clearRow(int32_t r);
    void clearColumn(int32_t c);
    // Sets these (row, column) entries, which may repeat, in a matrix that
    // is all false.
    void fill(std::vector<std::pair<int32_t, int32_t>> trueEntries);

    void markRow(int32_t r);
    // The rows marked since the last call, each once.
    std::vector<int32_t> takeChangedRows();

private:
    void replaceRow(int32_t target, std::vector<int32_t> columnsOfRow);
    void replaceColumn(int32_t target, std::vector<int32_t> rowsOfColumn);

    std::vector<std::vector<int32_t>> rows;
    std::vector<std::vector<int32_t>> columns;
    int64_t entries = 0;
    std::vector<int32_t> changed;
    std::vector<uint8_t> isChanged;
};

#endif
