#ifndef DOVODA_KPOUTPUTFILE_H
#define DOVODA_KPOUTPUTFILE_H

#include <cstdio>
#include <string>

// The file a codec saves into. It is opened for binary writing at
// construction and closed on every path. Unless kpClose() reported a
// complete file, the holder removes what was written when it goes, so
// that a failed save leaves no half-written file behind. Only a regular
// file that the holder opened is removed: a device, a pipe or a
// terminal named as the output stays where it is.
class KpOutputFile {
public:
    // Raises openFailureCode with openFailureText when the file cannot
    // be opened (a null name included).
    KpOutputFile(const char* fileName, int openFailureCode, const std::string& openFailureText);
    ~KpOutputFile();
    KpOutputFile(const KpOutputFile&) = delete;
    KpOutputFile& operator=(const KpOutputFile&) = delete;

    std::FILE* kpGetFile() const { return file; }
    // Closes the file: true when every buffered byte reached it, which
    // marks the save as complete; false leaves the file to be removed.
    bool kpClose();

private:
    std::string name;
    std::FILE* file;
    bool regular = false;
    bool complete = false;
};

#endif
