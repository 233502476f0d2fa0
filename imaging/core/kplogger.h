#ifndef DOVODA_KPLOGGER_H
#define DOVODA_KPLOGGER_H

#include <cstdarg>
#include <cstdio>
#include <ostream>
#include <string>

// The shared logger of the imaging library. Messages carry a level:
// 1 detail, 2 progress and warnings, 3 failures; a message is written
// when its level reaches the threshold (default 3). Level 4 is never
// written. Output goes to standard error (log type 1), standard output
// (type 2, the default) or a log file opened for appending (type 3).
class KpLogger {
public:
    static KpLogger* kpGetInstance();

    virtual ~KpLogger();
    KpLogger(const KpLogger&) = delete;
    KpLogger& operator=(const KpLogger&) = delete;

    // Selects the output. Type 3 needs a file name; a file that cannot be
    // opened raises code 2 and leaves the logger as it was.
    void kpSetLogType(int type, const char* fileName);
    void kpSetLevel(int level);
    bool kpIsLoggable(int level) const;

    void kpLog(const std::string& value, int level);
    void kpLog(const char* value, int level);
    void kpLog(char value, int level);
    void kpLog(int value, int level);
    void kpLog(short value, int level);
    void kpLog(long value, int level);
    void kpLog(float value, int level);
    void kpLog(double value, int level);

    // Formats with the printf rules straight to the selected output.
    void kpLogFormatted(int level, const char* format, va_list arguments);

private:
    KpLogger();

    template <typename T> void logValue(const T& value, const char* fileFormat, int level);
    void reportInvalidType() const;
    void closeFile();

    int level;
    std::ostream* stream;
    FILE* file;
    int logType;
};

// kpLogPrintf(logger, level, format, ...): the printf form of logging; it
// adds nothing to the text (callers end their lines themselves).
void kpLogPrintf(KpLogger* logger, int level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

#endif
