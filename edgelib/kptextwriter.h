#ifndef DOVODA_KPTEXTWRITER_H
#define DOVODA_KPTEXTWRITER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// A text file written in large blocks: text is gathered in a buffer and
// handed to the stream a block at a time. Any failure (creating the file,
// writing a block, closing) is remembered and reported by close().
class KpTextWriter {
public:
    // Creates or truncates fileName for text writing.
    explicit KpTextWriter(const std::string& fileName);
    ~KpTextWriter();
    KpTextWriter(const KpTextWriter&) = delete;
    KpTextWriter& operator=(const KpTextWriter&) = delete;

    // The decimal digits of value, with a minus sign when negative, as
    // printf's "%d" writes them.
    void appendInt(int32_t value);
    void appendChar(char c);

    // Writes what is buffered and closes the file; true when the file was
    // created and everything was written and closed without error.
    bool close();

    // Writes the digits of value ("%d") at text and returns their count
    // (at most 11).
    static int formatInt(int32_t value, char* text);

private:
    static const std::size_t BLOCK_BYTES = 1 << 16;
    // Room for the longest item appended at once.
    static const std::size_t ITEM_BYTES = 16;

    void makeRoom();
    void flushBlock();

    FILE* file;
    bool failed;
    std::unique_ptr<char[]> buffer;
    std::size_t used;
};

#endif
