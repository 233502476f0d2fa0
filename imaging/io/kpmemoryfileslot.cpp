#include "kpmemoryfileslot.h"

#include "kpmemoryfile.h"

KpMemoryFileSlot::KpMemoryFileSlot(int value) : handle(value) {}

KpMemoryFileSlot::~KpMemoryFileSlot()
{
    if (handle >= 0) {
        mem_close(handle);
    }
}
