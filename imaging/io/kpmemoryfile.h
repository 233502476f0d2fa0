#ifndef DOVODA_KPMEMORYFILE_H
#define DOVODA_KPMEMORYFILE_H

// A table of 20 file-like handles over memory blocks. Mode "r" reads the
// caller's buffer in place; "w" writes a new block that grows; "a"
// appends to the caller's buffer (or a new block). On misuse a call
// returns -1 and sets errno (EBADF-like 77 for a bad handle or mode, 22
// for an invalid argument, 122 when memory cannot be obtained).
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
