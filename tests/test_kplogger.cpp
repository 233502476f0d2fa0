#include "kplogger.h"

#include "kpexception.h"
#include "testsupport.h"

#include <gtest/gtest.h>

namespace {

using testsupport::readFile;

// Restores the shared logger's defaults after each test.
class KpLoggerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        logger->kpSetLogType(2, nullptr);
        logger->kpSetLevel(3);
    }
    KpLogger* logger = KpLogger::kpGetInstance();
};

TEST_F(KpLoggerTest, IsOneSharedInstance)
{
    EXPECT_EQ(KpLogger::kpGetInstance(), logger);
}

TEST_F(KpLoggerTest, DefaultThresholdFiltersBelowThree)
{
    testing::internal::CaptureStdout();
    logger->kpLog(5, 2);
    logger->kpLog(5, 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "5\n");
}

TEST_F(KpLoggerTest, LevelFourIsNeverWritten)
{
    logger->kpSetLevel(1);
    EXPECT_FALSE(logger->kpIsLoggable(4));
    EXPECT_TRUE(logger->kpIsLoggable(1));
    testing::internal::CaptureStdout();
    logger->kpLog("hidden", 4);
    kpLogPrintf(logger, 4, "hidden %d\n", 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(KpLoggerTest, StandardErrorType)
{
    logger->kpSetLogType(1, nullptr);
    testing::internal::CaptureStderr();
    logger->kpLog(std::string("to stderr"), 3);
    kpLogPrintf(logger, 3, "n=%d\n", 4);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr\nn=4\n");
}

TEST_F(KpLoggerTest, FileTypeUsesPrintfFormatsAndAppends)
{
    std::string path = testsupport::makeTempDir() + "/log.txt";
    logger->kpSetLogType(3, path.c_str());
    logger->kpLog("text", 3);
    logger->kpLog('c', 3);
    logger->kpLog(7, 3);
    logger->kpLog(static_cast<short>(-2), 3);
    logger->kpLog(9L, 3);
    logger->kpLog(1.5f, 3);
    logger->kpLog(1.5, 3);
    kpLogPrintf(logger, 3, "%s-%d", "formatted", 1);
    logger->kpSetLogType(2, nullptr); // closes the file
    const std::string expected = "text\nc\n7\n-2\n9\n1.500000\n1.500000e+00\nformatted-1";
    EXPECT_EQ(readFile(path), expected);

    logger->kpSetLogType(3, path.c_str()); // reopens for appending
    logger->kpLog("again", 3);
    logger->kpSetLogType(2, nullptr);
    EXPECT_EQ(readFile(path), expected + "again\n");
}

TEST_F(KpLoggerTest, FileTypeWithoutNameRaisesCodeTwo)
{
    try {
        logger->kpSetLogType(3, nullptr);
        FAIL() << "nothing thrown";
    } catch (const KpException& e) {
        EXPECT_EQ(e.kpGetCode(), 2);
        EXPECT_NE(e.kpGetMessage().find("<KpLogger::kpSetLogType()> Must provide log file name."), std::string::npos);
    }
    testing::internal::CaptureStdout();
    logger->kpLog("still stdout", 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "still stdout\n");
}

TEST_F(KpLoggerTest, UnopenableFileRaisesCodeTwoAndKeepsOutput)
{
    std::string good = testsupport::makeTempDir() + "/log.txt";
    logger->kpSetLogType(3, good.c_str());
    try {
        logger->kpSetLogType(3, "/nonexistent-folder/log.txt");
        FAIL() << "nothing thrown";
    } catch (const KpException& e) {
        EXPECT_EQ(e.kpGetCode(), 2);
        EXPECT_NE(e.kpGetMessage().find("/nonexistent-folder/log.txt"), std::string::npos);
    }
    logger->kpLog("kept", 3);
    logger->kpSetLogType(2, nullptr);
    EXPECT_EQ(readFile(good), "kept\n");
}

TEST_F(KpLoggerTest, InvalidTypeReportsInsteadOfWriting)
{
    logger->kpSetLogType(9, nullptr);
    testing::internal::CaptureStdout();
    logger->kpLog(5, 3);
    kpLogPrintf(logger, 3, "dropped");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Logger error! Invalid log output type. 9\nLogger error! Invalid log output type. 9\n");
}

} // namespace
