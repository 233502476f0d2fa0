#include "kplogger.h"

#include "kpexception.h"

#include <cstdarg>
#include <iostream>

namespace {

const int LOG_TO_STDERR = 1;
const int LOG_TO_STDOUT = 2;
const int LOG_TO_FILE = 3;
const int NEVER_LOGGED = 4;

// printf-style conversions of the values written to a log file.
const char* fileText(const std::string& value) { return value.c_str(); }
const char* fileText(const char* value) { return value; }
template <typename T> T fileText(T value) { return value; }

} // namespace

KpLogger* KpLogger::kpGetInstance()
{
    static KpLogger instance;
    return &instance;
}

KpLogger::KpLogger() : level(3), stream(&std::cout), file(nullptr), logType(LOG_TO_STDOUT) {}

KpLogger::~KpLogger()
{
    closeFile();
}

void KpLogger::closeFile()
{
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
}

void KpLogger::kpSetLogType(int type, const char* fileName)
{
    if (type == LOG_TO_FILE) {
        if (fileName == nullptr) {
            KP_THROW(KP_CANNOT_OPEN, "<KpLogger::kpSetLogType()> Must provide log file name.");
        }
        FILE* opened = std::fopen(fileName, "a");
        if (opened == nullptr) {
            KP_THROW(KP_CANNOT_OPEN, std::string("<KpLogger::kpSetLogType()> Could not open log file ") + fileName);
        }
        closeFile();
        file = opened;
    } else {
        if (logType == LOG_TO_FILE) {
            closeFile();
        }
        if (type == LOG_TO_STDERR) {
            stream = &std::cerr;
        } else if (type == LOG_TO_STDOUT) {
            stream = &std::cout;
        }
    }
    logType = type;
}

void KpLogger::kpSetLevel(int newLevel)
{
    level = newLevel;
}

bool KpLogger::kpIsLoggable(int messageLevel) const
{
    return messageLevel != NEVER_LOGGED && messageLevel >= level;
}

void KpLogger::reportInvalidType() const
{
    std::cout << "Logger error! Invalid log output type. " << logType << std::endl;
}

template <typename T> void KpLogger::logValue(const T& value, const char* fileFormat, int messageLevel)
{
    if (!kpIsLoggable(messageLevel)) {
        return;
    }
    if (logType == LOG_TO_STDERR || logType == LOG_TO_STDOUT) {
        *stream << value << std::endl;
    } else if (logType == LOG_TO_FILE) {
        if (file != nullptr) {
            std::fprintf(file, fileFormat, fileText(value));
        }
    } else {
        reportInvalidType();
    }
}

void KpLogger::kpLog(const std::string& value, int l) { logValue(value, "%s\n", l); }
void KpLogger::kpLog(const char* value, int l) { logValue(value, "%s\n", l); }
void KpLogger::kpLog(char value, int l) { logValue(value, "%c\n", l); }
void KpLogger::kpLog(int value, int l) { logValue(value, "%d\n", l); }
void KpLogger::kpLog(short value, int l) { logValue(static_cast<int>(value), "%d\n", l); }
void KpLogger::kpLog(long value, int l) { logValue(value, "%ld\n", l); }
void KpLogger::kpLog(float value, int l) { logValue(value, "%f\n", l); }
void KpLogger::kpLog(double value, int l) { logValue(value, "%e\n", l); }

void KpLogger::kpLogFormatted(int messageLevel, const char* format, va_list arguments)
{
    if (!kpIsLoggable(messageLevel)) {
        return;
    }
    if (logType == LOG_TO_STDERR) {
        std::vfprintf(stderr, format, arguments);
    } else if (logType == LOG_TO_STDOUT) {
        std::cout.flush();
        std::vfprintf(stdout, format, arguments);
    } else if (logType == LOG_TO_FILE) {
        if (file != nullptr) {
            std::vfprintf(file, format, arguments);
        }
    } else {
        reportInvalidType();
    }
}

void kpLogPrintf(KpLogger* logger, int level, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    logger->kpLogFormatted(level, format, arguments);
    va_end(arguments);
}
