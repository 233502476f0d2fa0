#include "referenceedgemerge.h"

#include "kpedgelinker.h"

#include <algorithm>

namespace referencemerge {

namespace {

// The set bits of a word, counted without a processor instruction that
// the build may not target.
int32_t bitsIn(uint64_t word)
{
    word = word - ((word >> 1) & 0x5555555555555555u);
    word = (word & 0x3333333333333333u) + ((word >> 2) & 0x3333333333333333u);
    word = (word + (word >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<int32_t>((word * 0x0101010101010101u) >> 56);
}

} // namespace

BitMatrix::BitMatrix(int32_t size)
    : n(size), wordsPerRow((static_cast<std::size_t>(size) + 63) / 64),
      words(wordsPerRow * static_cast<std::size_t>(size), 0)
{
}

bool BitMatrix::get(int32_t row, int32_t column) const
{
    return (words[row * wordsPerRow + column / 64] >> (column % 64)) & 1u;
}

void BitMatrix::set(int32_t row, int32_t column, bool value)
{
    uint64_t& word = words[row * wordsPerRow + column / 64];
    const uint64_t bit = uint64_t{1} << (column % 64);
    word = value ? (word | bit) : (word & ~bit);
}

int32_t BitMatrix::rowCount(int32_t row) const
{
    int32_t count = 0;
    for (std::size_t w = 0; w < wordsPerRow; ++w) {
        count += bitsIn(words[row * wordsPerRow + w]);
    }
    return count;
}

std::vector<int32_t> BitMatrix::rowEntries(int32_t row) const
{
    std::vector<int32_t> entries;
    for (int32_t column = 0; column < n; ++column) {
        if (get(row, column)) {
            entries.push_back(column);
        }
    }
    return entries;
}

void BitMatrix::copyRow(int32_t target, int32_t source)
{
    std::copy_n(words.begin() + static_cast<std::ptrdiff_t>(source * wordsPerRow), wordsPerRow,
                words.begin() + static_cast<std::ptrdiff_t>(target * wordsPerRow));
}

namespace {

struct EndInfo {
    double startNode = 0, startDegree = 0, endNode = 0, endDegree = 0, linkedDegree = 0, linkedNode = 0;
};

class Merger {
public:
    explicit Merger(std::vector<PointList> input) { r.lists = std::move(input); }

    MergeResult run(double minLength)
    {
        // Steps 1 to 4: the links of the end pixels and their counts.
        const int32_t n = static_cast<int32_t>(r.lists.size());
        const int32_t N = 2 * n;
        r.nodeLinks = BitMatrix(N);
        r.listLinks = BitMatrix(n);
        for (int32_t u = 0; u < N; ++u) {
            for (int32_t v = u + 1; v < N; ++v) {
                if (!r.lists[u / 2].empty() && !r.lists[v / 2].empty() && endOf(u) == endOf(v)) {
                    r.nodeLinks.set(u, v, true);
                    r.nodeLinks.set(v, u, true);
                    r.listLinks.set(u / 2, v / 2, true);
                    r.listLinks.set(v / 2, u / 2, true);
                }
            }
        }
        recount();
        // Step 5: chain joining.
        for (int32_t k = 0; k < n; ++k) {
            if (r.lists[k].empty() || r.listLinks.get(k, k)) {
                continue;
            }
            const EndInfo info = endLinkInfo(k);
            if (info.startDegree == 1) {
                mergeNodes(lowestLinked(2 * k), 2 * k);
            }
            if (!r.lists[k].empty() && info.endDegree == 1) {
                mergeNodes(lowestLinked(2 * k + 1), 2 * k + 1);
            }
        }
        // Step 6: pruning.
        if (minLength > 0) {
            for (int32_t s = 0; s < n; ++s) {
                const EndInfo info = endLinkInfo(s);
                if (r.lists[s].empty() || !(minLength > polylineLength(r.lists[s]))) {
                    continue;
                }
                if (r.listDegrees[s] == 0 || (r.listDegrees[s] == 1 && r.listLinks.get(s, s))) {
                    removeList(s);
                } else if (info.linkedDegree == 2) {
                    pruneSpur(s);
                } else if (info.linkedDegree == 3) {
                    removeList(s);
                }
            }
        }
        // Step 7: the final pass.
        for (int32_t p = 0; p < n; ++p) {
            if (!r.lists[p].empty() && minLength > polylineLength(r.lists[p]) &&
                (r.listDegrees[p] == 0 || (r.listDegrees[p] == 1 && r.listLinks.get(p, p)))) {
                removeList(p);
            }
        }
        // Step 8: compaction.
        std::vector<PointList> kept;
        for (PointList& list : r.lists) {
            if (!list.empty()) {
                kept.push_back(std::move(list));
            }
        }
        r.lists = std::move(kept);
        return std::move(r);
    }

private:
    point endOf(int32_t node) const
    {
        const PointList& list = r.lists[node / 2];
        return node % 2 == 0 ? list.front() : list.back();
    }

    int32_t lowestLinked(int32_t node) const
    {
        for (int32_t j = 0; j < r.nodeLinks.size(); ++j) {
            if (r.nodeLinks.get(node, j)) {
                return j;
            }
        }
        return node;
    }

    void recount()
    {
        r.nodeDegrees.assign(static_cast<std::size_t>(r.nodeLinks.size()), 0);
        for (int32_t j = 0; j < r.nodeLinks.size(); ++j) {
            r.nodeDegrees[j] = r.nodeLinks.rowCount(j);
        }
        r.listDegrees.assign(static_cast<std::size_t>(r.listLinks.size()), 0);
        for (int32_t j = 0; j < r.listLinks.size(); ++j) {
            r.listDegrees[j] = r.listLinks.rowCount(j);
        }
    }

    static double polylineLength(const PointList& list) { return KpEdgeLinker::polylineLength(list); }

    EndInfo endLinkInfo(int32_t k) const
    {
        EndInfo info;
        if (r.lists[k].empty()) {
            return info;
        }
        info.startNode = 2 * k;
        info.endNode = 2 * k + 1;
        info.startDegree = r.nodeDegrees[2 * k];
        info.endDegree = r.nodeDegrees[2 * k + 1];
        if (info.startDegree == 0 && info.endDegree >= 1) {
            info.linkedDegree = info.endDegree;
            info.linkedNode = info.endNode;
        } else if (info.startDegree >= 1 && info.endDegree == 0) {
            info.linkedDegree = info.startDegree;
            info.linkedNode = info.startNode;
        }
        return info;
    }

    void pruneSpur(int32_t s)
    {
        std::vector<int32_t> neighbours;
        for (int32_t j = 0; j < r.listLinks.size(); ++j) {
            if (r.listLinks.get(s, j)) {
                neighbours.push_back(j);
            }
        }
        if (neighbours.size() == 1) {
            removeList(s);
            return;
        }
        std::vector<int32_t> candidates{s};
        std::vector<double> lengths{polylineLength(r.lists[s])};
        for (int32_t j : neighbours) {
            if (endLinkInfo(j).linkedDegree != 0) {
                candidates.push_back(j);
                lengths.push_back(polylineLength(r.lists[j]));
            }
        }
        double minimum = 100000;
        std::size_t index = 0;
        for (std::size_t i = 0; i < lengths.size(); ++i) {
            if (lengths[i] < minimum) {
                minimum = lengths[i];
                index = i;
            }
        }
        const int32_t victim = candidates[index];
        const int32_t node = static_cast<int32_t>(endLinkInfo(victim).linkedNode);
        std::vector<int32_t> linked;
        for (int32_t j = 0; j < r.nodeLinks.size(); ++j) {
            if (r.nodeLinks.get(node, j)) {
                linked.push_back(j);
            }
        }
        if (linked.size() != 2) {
            r.messages += "attempt to merge other than 2 nodes\n";
        }
        removeList(victim);
        if (linked.size() >= 2) {
            mergeNodes(linked[0], linked[1]);
        }
    }

    // Row and column x become copies of row and column y, and so does x's
    // link count.
    void takeOver(int32_t x, int32_t y)
    {
        r.nodeLinks.copyRow(x, y);
        for (int32_t j = 0; j < r.nodeLinks.size(); ++j) {
            r.nodeLinks.set(j, x, r.nodeLinks.get(j, y));
        }
        r.nodeDegrees[x] = r.nodeDegrees[y];
    }

    bool mergeNodes(int32_t a, int32_t b)
    {
        const int32_t A = a / 2, B = b / 2;
        if (A == B) {
            return false;
        }
        if (!r.nodeLinks.get(a, b)) {
            r.messages += "Attempt to merge nodes that are not connected\n";
        }
        const int32_t sA = 2 * A, eA = 2 * A + 1, sB = 2 * B, eB = 2 * B + 1;
        PointList& listA = r.lists[A];
        const PointList& listB = r.lists[B];
        PointList reversedB(listB.rbegin(), listB.rend());
        if (a == eA && b == sB) {
            listA.insert(listA.end(), listB.begin(), listB.end());
            takeOver(eA, eB);
        } else if (a == sA && b == sB) {
            std::reverse(listA.begin(), listA.end());
            listA.insert(listA.end(), listB.begin(), listB.end());
            takeOver(sA, eA);
            takeOver(eA, eB);
        } else if (a == sA && b == eB) {
            std::reverse(listA.begin(), listA.end());
            listA.insert(listA.end(), reversedB.begin(), reversedB.end());
            takeOver(sA, eA);
            takeOver(eA, sB);
        } else {
            listA.insert(listA.end(), reversedB.begin(), reversedB.end());
            takeOver(eA, sB);
        }
        for (int32_t k = 0; k < r.listLinks.size(); ++k) {
            r.listLinks.set(A, k, r.listLinks.get(A, k) || r.listLinks.get(B, k));
            r.listLinks.set(k, A, r.listLinks.get(k, A) || r.listLinks.get(k, B));
        }
        r.listLinks.set(A, A, false);
        recount();
        return removeList(B);
    }

    bool removeList(int32_t i)
    {
        r.lists[i].clear();
        for (int32_t j = 0; j < r.listLinks.size(); ++j) {
            r.listDegrees[j] -= r.listLinks.get(i, j) ? 1 : 0;
            r.listLinks.set(i, j, false);
            r.listLinks.set(j, i, false);
        }
        r.listDegrees[i] = 0;
        for (int32_t j = 0; j < r.nodeLinks.size(); ++j) {
            r.nodeDegrees[j] -= r.nodeLinks.get(2 * i, j) ? 1 : 0;
            r.nodeDegrees[j] -= r.nodeLinks.get(2 * i + 1, j) ? 1 : 0;
        }
        for (int32_t k = 0; k < r.nodeLinks.size(); ++k) {
            for (int32_t m : {2 * i, 2 * i + 1}) {
                r.nodeLinks.set(m, k, false);
                r.nodeLinks.set(k, m, false);
            }
        }
        return true;
    }

    MergeResult r;
};

} // namespace

MergeResult mergeEdgeLists(std::vector<PointList> lists, double minLength)
{
    return Merger(std::move(lists)).run(minLength);
}

} // namespace referencemerge
