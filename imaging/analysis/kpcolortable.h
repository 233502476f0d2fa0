#ifndef DOVODA_KPCOLORTABLE_H
#define DOVODA_KPCOLORTABLE_H

#include <cstdint>
#include <vector>

// Gives each distinct 24-bit colour an index, 0, 1, 2, ... in order of
// first appearance, up to a capacity. An open-addressing table: a colour's
// key is byte0 << 16 | byte1 << 8 | byte2, its home slot byte0 ^ byte1 ^
// byte2, and a probe moves one slot on, wrapping at the slot count, until
// it finds the key or an empty slot. The slot count exceeds the capacity,
// so that every probe ends. The colour looked up last is remembered, since
// neighbouring pixels often share one.
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
        if (key != lastKey) {
            lastIndex = lookUp(key, byte0 ^ byte1 ^ byte2);
            lastKey = lastIndex < 0 ? EMPTY : key;
        }
        return lastIndex;
    }

    int kpGetCount() const { return count; }

private:
    static const int32_t EMPTY = -8;

    int lookUp(int32_t key, int homeSlot);

    std::vector<int32_t> keys;
    std::vector<int32_t> indices;
    int count = 0;
    int capacity;
    int32_t lastKey = EMPTY;
    int lastIndex = -1;
};

#endif
