#ifndef DOVODA_KPMEMORYFILE_H
#define DOVODA_KPMEMORYFILE_H

// A table of 20 file-like handles over memory blocks. Mode "r" reads the
// caller's buffer in place; "w" writes a new block that grows; "a"
// appends to the caller's buffer (which must come from malloc, as it may
// be reallocated) or to a new block. On misuse a call returns -1 and sets
// errno (EBADF-like 77 for a bad handle or mode, 22 for an invalid
// argument, 122 when memory cannot be obtained). Sizes and positions are
// never negative and never pass the largest int.
//
// mem_read is all or nothing: n, or 0 with the position unchanged.
// mem_gets skips line ends at the position, copies up to the next "\n"
// or the end of the data (at most n - 1 bytes, zero-terminated), then
// consumes the one "\n" that ended the line; 0 when nothing is left.
// mem_seek past the end of a write block grows it with zero bytes; on a
// read block only the position moves, and reads there return nothing.
// mem_close frees the slot but not the block: the block of a "w" or "a"
// handle, taken with mem_get_buffer, belongs to the caller (free()).
int mem_open(unsigned char* buffer, int size, const char* mode);
int mem_read(int handle, void* destination, int n);
int mem_gets(int handle, char* destination, int n);
int mem_write(int handle, const void* source, int n);
int mem_seek(int handle, int offset, int origin);
int mem_size(int handle);
int mem_get_buffer(int handle, unsigned char** buffer, int* size);
int mem_flush();
int mem_close(int handle);

#endif
