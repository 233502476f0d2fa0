#include "kpcolortable.h"

KpColorTable::KpColorTable(int slotCount, int tableCapacity)
    : keys(static_cast<std::size_t>(slotCount), EMPTY), indices(static_cast<std::size_t>(slotCount), -1),
      capacity(tableCapacity)
{
    memoKeys.fill(EMPTY);
    memoIndices.fill(-1);
}

KpColorTable::~KpColorTable() = default;

int KpColorTable::lookUp(int32_t key, int homeSlot)
{
    const std::size_t slots = keys.size();
    std::size_t slot = static_cast<std::size_t>(homeSlot);
    while (keys[slot] != EMPTY && keys[slot] != key) {
        slot = slot + 1 == slots ? 0 : slot + 1;
    }
    if (keys[slot] == key) {
        return indices[slot];
    }
    if (count == capacity) {
        return -1;
    }
    keys[slot] = key;
    indices[slot] = count;
    return count++;
}

// A colour the table refused is not remembered: it stays refused, and the
// table does not change any more once it is full.
int KpColorTable::remember(int32_t key, uint32_t memo, int index)
{
    if (index >= 0) {
        memoKeys[memo] = key;
        memoIndices[memo] = index;
    }
    return index;
}
