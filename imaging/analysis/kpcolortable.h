#ifndef DOVODA_KPCOLORTABLE_H
#define DOVODA_KPCOLORTABLE_H

#include <array>
#include <cstdint>
#include <vector>

// Gives each distinct 24-bit colour an index, 0, 1, 2, ... in order of
// first appearance, up to a capacity. An open-addressing table: a colour's
// key is byte0 << 16 | byte1 << 8 | byte2, its home slot byte0 ^ byte1 ^
// byte2, and a probe moves one slot on, wrapping at the slot count, until
// it finds the key or an empty slot. The slot count exceeds the capacity,
// so that every probe ends.
//
// The home slots of many palettes crowd together (the colours of a grid
// XOR to a few values), so the answers of the table are remembered in a
// direct-mapped memo with a well-spread hash; a colour seen before is
// answered from there without probing.
class KpColorTable {
public:
    // slotCount must be greater than capacity and at least 256.
    KpColorTable(int slotCount, int capacity);
    virtual ~KpColorTable();

    // The colour's index; a new colour takes the next index, unless the
    // table already holds capacity colours: then nothing is added and the
    // result is -1.
    int kpIndexOf(uint8_t byte0, uint8_t byte1, uint8_t byte2)
    {
        const int32_t key = (int32_t(byte0) << 16) | (int32_t(byte1) << 8) | int32_t(byte2);
        const uint32_t memo = (uint32_t(key) * MEMO_MULTIPLIER) >> (32 - MEMO_BITS);
        if (memoKeys[memo] == key) {
            return memoIndices[memo];
        }
        return remember(key, memo, lookUp(key, byte0 ^ byte1 ^ byte2));
    }

    int kpGetCount() const { return count; }

private:
    static constexpr int32_t EMPTY = -8;
    static constexpr int MEMO_BITS = 12;
    static constexpr uint32_t MEMO_MULTIPLIER = 0x9E3779B1u;

    int lookUp(int32_t key, int homeSlot);
    int remember(int32_t key, uint32_t memo, int index);

    std::vector<int32_t> keys;
    std::vector<int32_t> indices;
    int count = 0;
    int capacity;
    std::array<int32_t, 1 << MEMO_BITS> memoKeys;
    std::array<int32_t, 1 << MEMO_BITS> memoIndices;
};

#endif
