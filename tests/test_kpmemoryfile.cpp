#include "kpmemoryfile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int SLOT_COUNT = 20;

// A read handle over a copy of text that lives as long as the fixture.
class MemoryRead : public ::testing::Test {
protected:
    int open(const std::string& text)
    {
        bytes.assign(text.begin(), text.end());
        handle = mem_open(bytes.data(), static_cast<int>(bytes.size()), "r");
        return handle;
    }
    void TearDown() override
    {
        if (handle >= 0) {
            mem_close(handle);
        }
    }
    // Every line mem_gets hands out, until it reports nothing left.
    std::vector<std::string> lines(int n)
    {
        std::vector<std::string> result;
        std::vector<char> line(n + 1, 'X');
        while (mem_gets(handle, line.data(), n) > 0) {
            result.push_back(line.data());
        }
        return result;
    }

    std::vector<unsigned char> bytes;
    int handle = -1;
};

TEST(MemoryFileTable, TwentyOneOpensFailAndTheLowestFreedSlotIsReused)
{
    unsigned char byte = 0;
    std::vector<int> handles;
    for (int i = 0; i < SLOT_COUNT; ++i) {
        handles.push_back(mem_open(&byte, 1, "r"));
        EXPECT_EQ(handles.back(), i);
    }
    EXPECT_EQ(mem_open(&byte, 1, "r"), -1);
    EXPECT_EQ(mem_close(handles[3]), 0);
    EXPECT_EQ(mem_close(handles[7]), 0);
    EXPECT_EQ(mem_open(&byte, 1, "r"), 3);
    for (int i = 0; i < SLOT_COUNT; ++i) {
        if (i != 7) {
            mem_close(i);
        }
    }
    EXPECT_EQ(mem_close(7), -1);
    EXPECT_EQ(errno, 77);
}

TEST(MemoryFileTable, MisuseIsRefusedWithTheErrorNumber)
{
    unsigned char byte = 0;
    struct Case {
        const char* what;
        unsigned char* buffer;
        int size;
        const char* mode;
    } cases[] = {
        {"unknown mode", &byte, 1, "x"},
        {"no mode", &byte, 1, nullptr},
        {"read without a buffer", nullptr, 0, "r"},
        {"write over a caller's buffer", &byte, 1, "w"},
        {"negative size", &byte, -1, "r"},
    };
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(mem_open(c.buffer, c.size, c.mode), -1) << c.what;
        EXPECT_EQ(errno, 22) << c.what;
    }
    const int writer = mem_open(nullptr, 0, "w");
    const int reader = mem_open(&byte, 1, "r");
    char out[4];
    EXPECT_EQ(mem_read(writer, out, 1), -1);
    EXPECT_EQ(errno, 77);
    EXPECT_EQ(mem_gets(writer, out, 4), -1);
    EXPECT_EQ(mem_write(reader, "a", 1), -1);
    EXPECT_EQ(errno, 77);
    EXPECT_EQ(mem_read(SLOT_COUNT, out, 1), -1);
    mem_close(reader);
    unsigned char* block = nullptr;
    int size = 0;
    mem_get_buffer(writer, &block, &size);
    mem_close(writer);
    std::free(block);
}

TEST_F(MemoryRead, ReadIsAllOrNothing)
{
    open("123456789");
    char out[10] = {};
    EXPECT_EQ(mem_read(handle, out, 10), 0);
    EXPECT_EQ(mem_read(handle, out, 9), 9);
    EXPECT_EQ(std::string(out, 9), "123456789");
    EXPECT_EQ(mem_read(handle, out, 1), 0);
}

TEST_F(MemoryRead, LinesSkipLeadingLineEndsAndConsumeOneTrailingLineEnd)
{
    struct Case {
        const char* what;
        std::string text;
        int n;
        std::vector<std::string> expected;
    } cases[] = {
        {"header with an empty line", "P6\n\n640 480\n", 8, {"P6", "640 480"}},
        {"last lines shorter than n", "ab\ncd", 80, {"ab", "cd"}},
        {"a line longer than n - 1 continues", "abcdef\ngh\n", 4, {"abc", "def", "gh"}},
        {"only line ends", "\n\n\n", 8, {}},
        {"empty", "", 8, {}},
    };
    for (const Case& c : cases) {
        open(c.text);
        EXPECT_EQ(lines(c.n), c.expected) << c.what;
        TearDown();
        handle = -1;
    }
}

TEST_F(MemoryRead, GetsReportsTheCountAndZeroTerminates)
{
    open("P6\n\n640 480\n");
    char line[8];
    std::memset(line, 'X', sizeof line);
    EXPECT_EQ(mem_gets(handle, line, 8), 2);
    EXPECT_STREQ(line, "P6");
    EXPECT_EQ(mem_gets(handle, line, 8), 7);
    EXPECT_STREQ(line, "640 480");
    EXPECT_EQ(mem_gets(handle, line, 8), 0);
}

// A binary header ends with exactly one line end: a first pixel byte of
// 10 belongs to the pixels.
TEST_F(MemoryRead, PixelBytesAfterTheLastHeaderLineStayUnread)
{
    open(std::string("P5\n1 2\n255\n\x0a\x0b", 13));
    char line[80];
    for (const char* expected : {"P5", "1 2", "255"}) {
        mem_gets(handle, line, 80);
        EXPECT_STREQ(line, expected);
    }
    unsigned char pixels[2] = {};
    EXPECT_EQ(mem_read(handle, pixels, 2), 2);
    EXPECT_EQ(pixels[0], 10);
    EXPECT_EQ(pixels[1], 11);
}

TEST_F(MemoryRead, SeekPastTheEndOfAReadBlockOnlyMovesThePosition)
{
    open("abc");
    EXPECT_EQ(mem_seek(handle, 100, 0), 100);
    char out[2];
    EXPECT_EQ(mem_read(handle, out, 1), 0);
    EXPECT_EQ(mem_gets(handle, out, 2), 0);
    EXPECT_EQ(mem_size(handle), 3);
    EXPECT_EQ(mem_seek(handle, -2, 2), 1);
    EXPECT_EQ(mem_read(handle, out, 2), 2);
    EXPECT_EQ(std::string(out, 2), "bc");
}

TEST_F(MemoryRead, NegativeAndOverflowingPositionsAreRefused)
{
    open("abc");
    mem_seek(handle, 2, 0);
    struct Case {
        int offset;
        int origin;
    } cases[] = {{-1, 0}, {-3, 1}, {-4, 2}, {INT_MAX, 1}, {INT_MAX, 2}, {0, 3}};
    for (const Case& c : cases) {
        errno = 0;
        EXPECT_EQ(mem_seek(handle, c.offset, c.origin), -1) << c.offset << " from " << c.origin;
        EXPECT_EQ(errno, 22);
    }
    char out[1];
    EXPECT_EQ(mem_read(handle, out, 1), 1);
    EXPECT_EQ(out[0], 'c');
}

// Takes the block of a write handle and closes it.
std::string takeBlock(int handle)
{
    unsigned char* block = nullptr;
    int size = -1;
    EXPECT_EQ(mem_get_buffer(handle, &block, &size), 0);
    std::string bytes(reinterpret_cast<char*>(block), static_cast<std::size_t>(size));
    mem_close(handle);
    std::free(block);
    return bytes;
}

TEST(MemoryWrite, WritesGrowTheBlock)
{
    const int handle = mem_open(nullptr, 0, "w");
    EXPECT_EQ(mem_write(handle, "abc", 3), 3);
    EXPECT_EQ(mem_write(handle, "defg", 4), 4);
    EXPECT_EQ(mem_size(handle), 7);
    EXPECT_EQ(takeBlock(handle), "abcdefg");
}

TEST(MemoryWrite, SeekingPastTheEndZeroFillsTheGap)
{
    const int handle = mem_open(nullptr, 0, "w");
    mem_write(handle, "ab", 2);
    EXPECT_EQ(mem_seek(handle, 3, 1), 5);
    EXPECT_EQ(mem_size(handle), 2);
    EXPECT_EQ(mem_write(handle, "z", 1), 1);
    mem_seek(handle, 0, 0);
    mem_write(handle, "A", 1);
    EXPECT_EQ(takeBlock(handle), std::string("Ab\0\0\0z", 6));
}

TEST(MemoryWrite, AppendAddsToTheCallersBlockWhereverThePositionIs)
{
    unsigned char* block = static_cast<unsigned char*>(std::malloc(3));
    std::memcpy(block, "xyz", 3);
    const int handle = mem_open(block, 3, "a");
    mem_seek(handle, 0, 0);
    EXPECT_EQ(mem_write(handle, "12", 2), 2);
    EXPECT_EQ(mem_size(handle), 5);
    EXPECT_EQ(takeBlock(handle), "xyz12");
}

} // namespace
