#include "kplinkmatrix.h"

#include <algorithm>
#include <iterator>

namespace {

// Puts value into, or takes it out of, an ascending set; true when the set
// changed.
bool assign(std::vector<int32_t>& set, int32_t value, bool present)
{
    const auto at = std::lower_bound(set.begin(), set.end(), value);
    const bool there = at != set.end() && *at == value;
    if (present == there) {
        return false;
    }
    if (present) {
        set.insert(at, value);
    } else {
        set.erase(at);
    }
    return true;
}

std::vector<int32_t> unionOf(const std::vector<int32_t>& a, const std::vector<int32_t>& b)
{
    std::vector<int32_t> result;
    result.reserve(a.size() + b.size());
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(result));
    return result;
}

} // namespace

void KpLinkMatrix::reset(int32_t size)
{
    rows.assign(static_cast<std::size_t>(size), {});
    columns.assign(static_cast<std::size_t>(size), {});
    entries = 0;
    changed.clear();
    isChanged.assign(static_cast<std::size_t>(size), 0);
}

bool KpLinkMatrix::get(int32_t row, int32_t column) const
{
    return std::binary_search(rows[row].begin(), rows[row].end(), column);
}

void KpLinkMatrix::set(int32_t row, int32_t column, bool value)
{
    if (assign(rows[row], column, value)) {
        assign(columns[column], row, value);
        entries += value ? 1 : -1;
        markRow(row);
    }
}

void KpLinkMatrix::copyRow(int32_t target, int32_t source)
{
    replaceRow(target, rows[source]);
}

void KpLinkMatrix::copyColumn(int32_t target, int32_t source)
{
    replaceColumn(target, columns[source]);
}

void KpLinkMatrix::orRow(int32_t target, int32_t source)
{
    replaceRow(target, unionOf(rows[target], rows[source]));
}

void KpLinkMatrix::orColumn(int32_t target, int32_t source)
{
    replaceColumn(target, unionOf(columns[target], columns[source]));
}

void KpLinkMatrix::clearRow(int32_t r)
{
    replaceRow(r, {});
}

void KpLinkMatrix::clearColumn(int32_t c)
{
    replaceColumn(c, {});
}

void KpLinkMatrix::replaceRow(int32_t target, std::vector<int32_t> columnsOfRow)
{
    for (int32_t c : rows[target]) {
        assign(columns[c], target, false);
    }
    entries += static_cast<int64_t>(columnsOfRow.size()) - static_cast<int64_t>(rows[target].size());
    rows[target] = std::move(columnsOfRow);
    for (int32_t c : rows[target]) {
        assign(columns[c], target, true);
    }
    markRow(target);
}

void KpLinkMatrix::replaceColumn(int32_t target, std::vector<int32_t> rowsOfColumn)
{
    for (int32_t r : columns[target]) {
        assign(rows[r], target, false);
        markRow(r);
    }
    entries += static_cast<int64_t>(rowsOfColumn.size()) - static_cast<int64_t>(columns[target].size());
    columns[target] = std::move(rowsOfColumn);
    for (int32_t r : columns[target]) {
        assign(rows[r], target, true);
        markRow(r);
    }
}

void KpLinkMatrix::fill(std::vector<std::pair<int32_t, int32_t>> trueEntries)
{
    std::sort(trueEntries.begin(), trueEntries.end());
    trueEntries.erase(std::unique(trueEntries.begin(), trueEntries.end()), trueEntries.end());
    // Taken in (row, column) order, every row and every column is filled
    // in ascending order.
    for (const auto& entry : trueEntries) {
        rows[entry.first].push_back(entry.second);
        columns[entry.second].push_back(entry.first);
    }
    entries += static_cast<int64_t>(trueEntries.size());
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
