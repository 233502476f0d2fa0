#ifndef DOVODA_KPBLOCKWRITER_H
#define DOVODA_KPBLOCKWRITER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Collects text in a large block and writes it to one or more streams
// whenever the room left is too small for the next piece; remembers for
// each stream whether every write succeeded. The edge library's text
// files (matrix dumps, line files) are written through it.
class KpBlockWriter {
public:
    static const std::size_t BLOCK_BYTES = std::size_t(1) << 20;
    // The widest "%d" text of an int32, "-2147483648".
    static const std::size_t MAX_DECIMAL_CHARS = 11;

    explicit KpBlockWriter(std::vector<FILE*> files);

    // A place for at least bytes more characters (at most BLOCK_BYTES);
    // after writing there, hand the end of the text to advance().
    char* room(std::size_t bytes);
    void advance(char* newEnd) { end = newEnd; }
    // Writes the block out to every stream.
    void flush();
    // False once a write to stream i has failed.
    bool isWritten(std::size_t i) const { return ok[i]; }

    // Creates or truncates fileName for text writing (mode "w+"), lets
    // fill(writer) produce the text and closes the file; true when the
    // file was created and every write and the close succeeded.
    template <class Fill> static bool writeTextFile(const std::string& fileName, Fill fill);
    // The same text, produced once, into each of several files; one flag
    // per file.
    template <class Fill>
    static std::vector<bool> writeTextFiles(const std::vector<std::string>& fileNames, Fill fill);

    // Writes value as printf's "%d" does at out and returns the end of the
    // text (at most MAX_DECIMAL_CHARS characters).
    static char* formatDecimal(char* out, int32_t value);

private:
    std::vector<FILE*> files;
    std::vector<bool> ok;
    // Not cleared: only the part written before each flush is read.
    std::unique_ptr<char[]> block;
    char* end;
};

template <class Fill> bool KpBlockWriter::writeTextFile(const std::string& fileName, Fill fill)
{
    return writeTextFiles(std::vector<std::string>{fileName}, fill)[0];
}

template <class Fill>
std::vector<bool> KpBlockWriter::writeTextFiles(const std::vector<std::string>& fileNames, Fill fill)
{
    std::vector<FILE*> files;
    std::vector<std::size_t> opened;
    for (std::size_t i = 0; i < fileNames.size(); ++i) {
        if (FILE* file = std::fopen(fileNames[i].c_str(), "w+")) {
            files.push_back(file);
            opened.push_back(i);
        }
    }
    std::vector<bool> written(fileNames.size(), false);
    if (files.empty()) {
        return written;
    }
    try {
        KpBlockWriter writer(files);
        fill(writer);
        writer.flush();
        for (std::size_t k = 0; k < files.size(); ++k) {
            written[opened[k]] = writer.isWritten(k);
        }
    } catch (...) {
        for (FILE* file : files) {
            std::fclose(file);
        }
        throw;
    }
    for (std::size_t k = 0; k < files.size(); ++k) {
        written[opened[k]] = std::fclose(files[k]) == 0 && written[opened[k]];
    }
    return written;
}

#endif
