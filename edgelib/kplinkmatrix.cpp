#include "kplinkmatrix.h"

#include "kptablememory.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace {

// The room a row gets when it first outgrows a room of 0.
const int32_t FIRST_ROOM = 2;
const int64_t MAX_TABLE = std::numeric_limits<int32_t>::max();
const int64_t MAX_STORAGE = std::numeric_limits<int64_t>::max() / 8;
const char* const NO_MEMORY = "<KpLinkMatrix> Error. Out of memory";

} // namespace

void KpLinkMatrix::reset(int32_t size)
{
    for (std::vector<Span>* spans : {&rows, &columns}) {
        spans->clear();
        kptablememory::reserve(*spans, size, MAX_TABLE, NO_MEMORY);
        spans->resize(static_cast<std::size_t>(size));
    }
    storage.clear();
    entryCount = 0;
    changed.clear();
    isChanged.assign(static_cast<std::size_t>(size), 0);
}

KpLinkMatrix::Entries KpLinkMatrix::entriesOf(const Span& span) const
{
    const int32_t* first = storage.data() + span.offset;
    return Entries(first, first + span.size);
}

bool KpLinkMatrix::get(int32_t row, int32_t column) const
{
    const Entries e = entriesOf(rows[row]);
    return std::binary_search(e.begin(), e.end(), column);
}

void KpLinkMatrix::set(int32_t row, int32_t column, bool value)
{
    if (assign(rows[row], column, value)) {
        assign(columns[column], row, value);
        entryCount += value ? 1 : -1;
        markRow(row);
    }
}

// Puts value into, or takes it out of, the ascending entries of a span;
// true when they changed.
bool KpLinkMatrix::assign(Span& span, int32_t value, bool present)
{
    int32_t* first = storage.data() + span.offset;
    int32_t* at = std::lower_bound(first, first + span.size, value);
    const bool there = at != first + span.size && *at == value;
    if (present == there) {
        return false;
    }
    const int64_t index = at - first;
    if (!present) {
        std::copy(at + 1, first + span.size, at);
        --span.size;
        return true;
    }
    if (span.size == span.capacity) {
        moveToEnd(span, std::max(FIRST_ROOM, 2 * span.capacity));
        first = storage.data() + span.offset;
    }
    std::copy_backward(first + index, first + span.size, first + span.size + 1);
    first[index] = value;
    ++span.size;
    return true;
}

// Gives a span room for capacity entries at the end of the storage; its
// old room is left unused.
void KpLinkMatrix::moveToEnd(Span& span, int32_t capacity)
{
    const int64_t offset = static_cast<int64_t>(storage.size());
    storage.resize(static_cast<std::size_t>(offset + capacity));
    std::copy_n(storage.begin() + span.offset, span.size, storage.begin() + offset);
    span.offset = offset;
    span.capacity = capacity;
}

void KpLinkMatrix::setSpan(Span& span, const std::vector<int32_t>& values)
{
    const int32_t count = static_cast<int32_t>(values.size());
    if (count > span.capacity) {
        span.size = 0;
        moveToEnd(span, count);
    }
    std::copy(values.begin(), values.end(), storage.begin() + span.offset);
    span.size = count;
}

void KpLinkMatrix::copyRow(int32_t target, int32_t source)
{
    replaceRow(target, row(source).toVector());
}

void KpLinkMatrix::copyColumn(int32_t target, int32_t source)
{
    replaceColumn(target, column(source).toVector());
}

void KpLinkMatrix::orRow(int32_t target, int32_t source)
{
    replaceRow(target, unionOf(row(target), row(source)));
}

void KpLinkMatrix::orColumn(int32_t target, int32_t source)
{
    replaceColumn(target, unionOf(column(target), column(source)));
}

std::vector<int32_t> KpLinkMatrix::unionOf(Entries a, Entries b)
{
    std::vector<int32_t> result;
    result.reserve(a.size() + b.size());
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(result));
    return result;
}

void KpLinkMatrix::clearRow(int32_t r)
{
    replaceRow(r, {});
}

void KpLinkMatrix::clearColumn(int32_t c)
{
    replaceColumn(c, {});
}

void KpLinkMatrix::replaceRow(int32_t target, const std::vector<int32_t>& columnsOfRow)
{
    for (int32_t c : row(target).toVector()) {
        assign(columns[c], target, false);
    }
    entryCount += static_cast<int64_t>(columnsOfRow.size()) - rows[target].size;
    setSpan(rows[target], columnsOfRow);
    for (int32_t c : columnsOfRow) {
        assign(columns[c], target, true);
    }
    markRow(target);
}

void KpLinkMatrix::replaceColumn(int32_t target, const std::vector<int32_t>& rowsOfColumn)
{
    for (int32_t r : column(target).toVector()) {
        assign(rows[r], target, false);
        markRow(r);
    }
    entryCount += static_cast<int64_t>(rowsOfColumn.size()) - columns[target].size;
    setSpan(columns[target], rowsOfColumn);
    for (int32_t r : rowsOfColumn) {
        assign(rows[r], target, true);
        markRow(r);
    }
}

void KpLinkMatrix::fillSymmetric(const std::vector<int64_t>& rowStarts, const std::vector<int32_t>& entries)
{
    // The rows take the entries as given; the columns, the same entries
    // once more after them.
    const int64_t total = static_cast<int64_t>(entries.size());
    kptablememory::reserve(storage, 2 * total, MAX_STORAGE, NO_MEMORY);
    storage.assign(entries.begin(), entries.end());
    storage.insert(storage.end(), entries.begin(), entries.end());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const int32_t count = static_cast<int32_t>(rowStarts[r + 1] - rowStarts[r]);
        rows[r] = Span{rowStarts[r], count, count};
        columns[r] = Span{total + rowStarts[r], count, count};
    }
    entryCount = total;
}

void KpLinkMatrix::markRow(int32_t r)
{
    if (isChanged[r] == 0) {
        isChanged[r] = 1;
        changed.push_back(r);
    }
}

std::vector<int32_t> KpLinkMatrix::takeChangedRows()
{
    for (int32_t r : changed) {
        isChanged[r] = 0;
    }
    std::vector<int32_t> taken;
    taken.swap(changed);
    return taken;
}
