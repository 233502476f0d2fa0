#ifndef DOVODA_KPBLOCKWRITER_H
#define DOVODA_KPBLOCKWRITER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Collects text in a large block and writes it to a stream whenever the
// room left is too small for the next piece; remembers whether every
// write succeeded. The edge library's text files (matrix dumps, line
// files) are written through it.
class KpBlockWriter {
public:
    static const std::size_t BLOCK_BYTES = std::size_t(1) << 20;
    // The widest "%d" text of an int32, "-2147483648".
    static const std::size_t MAX_DECIMAL_CHARS = 11;

    explicit KpBlockWriter(FILE* file);

    // A place for at least bytes more characters (at most BLOCK_BYTES);
    // after writing there, hand the end of the text to advance().
    char* room(std::size_t bytes);
    void advance(char* newEnd) { end = newEnd; }
    // Writes the block out; false once any write has failed.
    bool flush();

    // Creates or truncates fileName for text writing (mode "w+"), lets
    // fill(writer) produce the text and closes the file; true when the
    // file was created and every write and the close succeeded.
    template <class Fill> static bool writeTextFile(const std::string& fileName, Fill fill);

    // Writes value as printf's "%d" does at out and returns the end of the
    // text (at most MAX_DECIMAL_CHARS characters).
    static char* formatDecimal(char* out, int32_t value);

private:
    FILE* file;
    std::vector<char> block;
    char* end;
    bool ok = true;
};

template <class Fill> bool KpBlockWriter::writeTextFile(const std::string& fileName, Fill fill)
{
    FILE* file = std::fopen(fileName.c_str(), "w+");
    if (file == nullptr) {
        return false;
    }
    bool written = false;
    try {
        KpBlockWriter writer(file);
        fill(writer);
        written = writer.flush();
    } catch (...) {
        std::fclose(file);
        throw;
    }
    return std::fclose(file) == 0 && written;
}

#endif
