#ifndef DOVODA_PROGRESSREPORT_H
#define DOVODA_PROGRESSREPORT_H

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

// What a run tells on standard error: one line per failed input
// ("dovoda-lines: <input>: <message>"), a progress bar with the count,
// the rate and the time left while it runs (only on a terminal), and a
// one-line summary at the end. Safe to call from several threads.
class ProgressReport {
public:
    struct Display {
        bool bar;
        bool summary;
    };

    ProgressReport(std::FILE* stream, std::size_t total, Display display);

    void succeeded(std::size_t polylines);
    void failed(const std::string& input, const std::string& message);
    // Clears the bar and writes the summary.
    void finish();

    std::size_t failures() const;

private:
    using Clock = std::chrono::steady_clock;

    double elapsedSeconds() const;
    void drawBar(bool force);
    void clearBar();

    std::FILE* stream;
    std::size_t total;
    Display display;
    Clock::time_point start;
    Clock::time_point lastDrawn;
    mutable std::mutex lock;
    std::size_t done = 0;
    std::size_t failedCount = 0;
    std::size_t polylineCount = 0;
    bool barShown = false;
};

#endif
