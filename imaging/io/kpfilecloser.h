#ifndef DOVODA_KPFILECLOSER_H
#define DOVODA_KPFILECLOSER_H

#include <cstdio>
#include <memory>

// Closes a standard file when its holder goes, on every path. For files
// that are only read: a written file's close must be checked, which
// KpOutputFile does.
struct KpFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

using KpFileHolder = std::unique_ptr<std::FILE, KpFileCloser>;

#endif
