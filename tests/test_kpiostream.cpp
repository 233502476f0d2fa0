#include "kpexception.h"
#include "kpfilebasedio.h"
#include "kpmemorybasedio.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

const int LITTLE_ENDIAN_ORDER = 0;
const int BIG_ENDIAN_ORDER = 1;

// Opens a reading stream of either kind over the given bytes.
class StreamOverBytes : public ::testing::TestWithParam<bool> {
protected:
    std::unique_ptr<KpIOStream> open(const std::string& content)
    {
        bytes = content;
        if (GetParam()) {
            const std::string name = testsupport::makeTempDir() + "/bytes";
            std::ofstream(name, std::ios::binary) << bytes;
            return std::make_unique<KpFileBasedIO>(name.c_str(), "rb");
        }
        return std::make_unique<KpMemoryBasedIO>(&bytes[0], static_cast<int>(bytes.size()), "r");
    }

    std::string bytes;
};

TEST_P(StreamOverBytes, IntegersFollowTheRequestedByteOrder)
{
    ASSERT_EQ(KpIOStream::kpMachineByteOrder(), LITTLE_ENDIAN_ORDER);
    auto stream = open(std::string("\0\0\0\1\0\1\1\0", 8));
    EXPECT_EQ(stream->kpReadInt(BIG_ENDIAN_ORDER), 1);
    EXPECT_EQ(stream->kpReadShort(BIG_ENDIAN_ORDER), 1);
    EXPECT_EQ(stream->kpReadShort(LITTLE_ENDIAN_ORDER), 1);
    EXPECT_FALSE(stream->kpReadFailed());
    stream = open(std::string("\0\0\0\1", 4));
    EXPECT_EQ(stream->kpReadInt(LITTLE_ENDIAN_ORDER), 1 << 24);
}

TEST_P(StreamOverBytes, AShortIntegerReadGivesZeroAndStaysFailed)
{
    auto stream = open("\x7f\x7f\x7f");
    EXPECT_EQ(stream->kpReadInt(LITTLE_ENDIAN_ORDER), 0);
    EXPECT_TRUE(stream->kpReadFailed());
    stream = open("\x7f\x7f\x7f");
    EXPECT_EQ(stream->kpReadShort(LITTLE_ENDIAN_ORDER), 0x7f7f);
    EXPECT_FALSE(stream->kpReadFailed());
    EXPECT_EQ(stream->kpReadShort(LITTLE_ENDIAN_ORDER), 0);
    EXPECT_TRUE(stream->kpReadFailed());
}

TEST_P(StreamOverBytes, LinesEndAtALineEndOrWithAMarkAtTheEnd)
{
    auto stream = open("one\nab");
    EXPECT_EQ(stream->kpReadLine(), "one\n");
    EXPECT_EQ(stream->kpReadLine(), "ab\xff");
    EXPECT_EQ(stream->kpReadLine(), "");
}

TEST_P(StreamOverBytes, ReadsAreAllOrNothing)
{
    auto stream = open("abc");
    char out[4];
    EXPECT_EQ(stream->kpRead(out, 4), 0);
    stream = open("abc");
    EXPECT_GT(stream->kpRead(out, 3), 0);
    EXPECT_EQ(std::string(out, 3), "abc");
}

INSTANTIATE_TEST_SUITE_P(FileAndMemory, StreamOverBytes, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "File" : "Memory"; });

TEST(MemoryBasedIO, WritesIntegersInTheRequestedOrder)
{
    KpMemoryBasedIO stream(nullptr, 0, "w");
    EXPECT_EQ(stream.kpWriteInt(1, BIG_ENDIAN_ORDER), 4);
    EXPECT_EQ(stream.kpWriteShort(0x0102, LITTLE_ENDIAN_ORDER), 2);
    ASSERT_EQ(stream.kpGetSize(), 6);
    unsigned char* block = stream.kpGetBuffer();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), 6), std::string("\0\0\0\1\2\1", 6));
    stream.kpCloseStream();
    std::free(block);
}

TEST(MemoryBasedIO, AFailedOpenFailsEveryCall)
{
    KpMemoryBasedIO stream(nullptr, 0, "r");
    char out[4];
    EXPECT_EQ(stream.kpRead(out, 1), 0);
    EXPECT_EQ(stream.kpReadLine(out, 4), 0);
    EXPECT_EQ(stream.kpWrite("a", 1), -1);
    EXPECT_EQ(stream.kpGetBuffer(), nullptr);
    EXPECT_EQ(stream.kpGetSize(), 0);
}

TEST(FileBasedIO, AFileThatCannotBeOpenedRaisesCodeTwo)
{
    try {
        KpFileBasedIO stream("/nonexistent/folder/file", "rb");
        FAIL() << "opened a missing file";
    } catch (const KpException& error) {
        EXPECT_EQ(error.kpGetCode(), 2);
        EXPECT_NE(error.kpGetMessage().find(": <KpFileBasedIO::KpFileBasedIO()> Could not open output image file"),
                  std::string::npos);
    }
}

// A full disk shows up at the latest when the file is closed.
TEST(FileBasedIO, AFullDiskIsReportedByAWriteOrTheClose)
{
    std::FILE* probe = std::fopen("/dev/full", "wb");
    if (probe == nullptr) {
        GTEST_SKIP() << "/dev/full is not available";
    }
    std::fclose(probe);
    KpFileBasedIO small("/dev/full", "wb");
    EXPECT_EQ(small.kpWrite("abc", 3), 1);
    EXPECT_FALSE(small.kpCloseStream());
    EXPECT_FALSE(small.kpCloseStream());
    KpFileBasedIO large("/dev/full", "wb");
    const std::vector<char> block(1 << 20, 'x');
    EXPECT_EQ(large.kpWrite(block.data(), static_cast<int>(block.size())), 0);
}

TEST(FileBasedIO, WritesIntegersInTheRequestedOrder)
{
    const std::string name = testsupport::makeTempDir() + "/ints";
    {
        KpFileBasedIO stream(name.c_str(), "wb");
        EXPECT_EQ(stream.kpWriteInt(1, BIG_ENDIAN_ORDER), 1);
        EXPECT_EQ(stream.kpWriteShort(0x0102, LITTLE_ENDIAN_ORDER), 1);
        EXPECT_TRUE(stream.kpCloseStream());
    }
    std::ifstream in(name, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, std::string("\0\0\0\1\2\1", 6));
}

} // namespace
