#include "kpexception.h"

#include <gtest/gtest.h>

namespace {

struct MessageCase {
    const char* name;
    const char* sourceFile;
    int sourceLine;
    const char* expected;
};

const MessageCase MESSAGE_CASES[] = {
    {"backslashPath", "c:\\src\\imaging\\kpimage.cpp", 42, "kpimage.cpp:42: Image Data is NULL!"},
    {"forwardSlashPath", "/home/build/imaging/core/kpimage.cpp", 42, "kpimage.cpp:42: Image Data is NULL!"},
    {"mixedSeparators", "a/b\\c/kpimage.cpp", 7, "kpimage.cpp:7: Image Data is NULL!"},
    {"plainName", "kpimage.cpp", 42, "kpimage.cpp:42: Image Data is NULL!"},
    {"lineZeroLeavesOutLine", "kpimage.cpp", 0, "kpimage.cppImage Data is NULL!"},
    {"nullFileStartsWithLine", nullptr, 42, ":42: Image Data is NULL!"},
    {"onlyText", nullptr, 0, "Image Data is NULL!"},
};

TEST(KpException, MessageNamesFileAndLine)
{
    for (const MessageCase& c : MESSAGE_CASES) {
        KpException e(5, "Image Data is NULL!", c.sourceFile, c.sourceLine);
        EXPECT_STREQ(e.what(), c.expected) << c.name;
        EXPECT_EQ(e.kpGetMessage(), c.expected) << c.name;
        EXPECT_EQ(e.kpGetCode(), 5) << c.name;
    }
}

TEST(KpException, CopyKeepsMessageAndCode)
{
    KpException original(13, "Self Assignment Attempted!", "x.cpp", 3);
    KpException copy(original);
    EXPECT_EQ(copy.kpGetMessage(), "x.cpp:3: Self Assignment Attempted!");
    EXPECT_EQ(copy.kpGetCode(), 13);
}

TEST(KpException, ThrowMacroUsesThisFile)
{
    try {
        KP_THROW(7, "Out Of Bound!!");
        FAIL() << "nothing thrown";
    } catch (const std::exception& e) {
        std::string message = e.what();
        EXPECT_EQ(message.rfind("test_kpexception.cpp:", 0), 0u) << message;
        EXPECT_NE(message.find(": Out Of Bound!!"), std::string::npos) << message;
    }
}

} // namespace
