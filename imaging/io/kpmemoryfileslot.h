#ifndef DOVODA_KPMEMORYFILESLOT_H
#define DOVODA_KPMEMORYFILESLOT_H

// Holds a handle of the memory-file table (kpmemoryfile.h) and closes it
// when it goes, however a decode or an encode ends, so that the table's
// few slots are never lost. A negative handle (a failed mem_open) is
// held as it is and closes nothing.
class KpMemoryFileSlot {
public:
    explicit KpMemoryFileSlot(int handle);
    ~KpMemoryFileSlot();
    KpMemoryFileSlot(const KpMemoryFileSlot&) = delete;
    KpMemoryFileSlot& operator=(const KpMemoryFileSlot&) = delete;

    int kpGetHandle() const { return handle; }

private:
    int handle;
};

#endif
