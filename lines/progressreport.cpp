#include "progressreport.h"

#include <algorithm>
#include <cmath>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const char* const PROGRAM = "dovoda-lines";
// The bar is redrawn at most this often, and at the end.
const std::chrono::milliseconds REDRAW_INTERVAL(100);
const int DEFAULT_COLUMNS = 80;
// Room taken by the count, rate and time left beside the bar.
const int TEXT_COLUMNS = 44;
const int MIN_BAR_COLUMNS = 10;
const int MAX_BAR_COLUMNS = 40;

int terminalColumns(std::FILE* stream)
{
    struct winsize size;
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return DEFAULT_COLUMNS;
}

// "1:05" or "2:03:10".
std::string clockText(double seconds)
{
    const long whole = std::lround(std::max(0.0, seconds));
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

} // namespace

ProgressReport::ProgressReport(std::FILE* stream, std::size_t total, Display display)
    : stream(stream), total(total), display(display), start(Clock::now()), lastDrawn(start)
{
    std::lock_guard<std::mutex> guard(lock);
    drawBar(true);
}

double ProgressReport::elapsedSeconds() const
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void ProgressReport::succeeded(std::size_t polylines)
{
    std::lock_guard<std::mutex> guard(lock);
    ++done;
    polylineCount += polylines;
    drawBar(false);
}

void ProgressReport::failed(const std::string& input, const std::string& message)
{
    std::lock_guard<std::mutex> guard(lock);
    ++done;
    ++failedCount;
    clearBar();
    std::fprintf(stream, "%s: %s: %s\n", PROGRAM, input.c_str(), message.c_str());
    drawBar(true);
}

void ProgressReport::finish()
{
    std::lock_guard<std::mutex> guard(lock);
    clearBar();
    if (display.summary) {
        const double seconds = elapsedSeconds();
        std::fprintf(stream, "%s: %zu of %zu images done, %zu failed, %zu polylines, %.1f s (%.2f images/s)\n",
                     PROGRAM, done - failedCount, total, failedCount, polylineCount, seconds,
                     seconds > 0.0 ? done / seconds : 0.0);
    }
    std::fflush(stream);
}

std::size_t ProgressReport::failures() const
{
    std::lock_guard<std::mutex> guard(lock);
    return failedCount;
}

// [=====>     ]  37/100  4.2 images/s  0:15 left
void ProgressReport::drawBar(bool force)
{
    const Clock::time_point now = Clock::now();
    if (!display.bar || (!force && now - lastDrawn < REDRAW_INTERVAL && done < total)) {
        return;
    }
    lastDrawn = now;
    const int barColumns =
        std::clamp(terminalColumns(stream) - TEXT_COLUMNS, MIN_BAR_COLUMNS, MAX_BAR_COLUMNS);
    const int filled = total == 0 ? barColumns : static_cast<int>(barColumns * done / total);
    std::string bar(static_cast<std::size_t>(filled), '=');
    if (filled < barColumns) {
        bar += '>';
        bar.append(static_cast<std::size_t>(barColumns - filled - 1), ' ');
    }
    const double seconds = elapsedSeconds();
    const double rate = seconds > 0.0 ? done / seconds : 0.0;
    const std::string left = done > 0 && rate > 0.0 ? clockText((total - done) / rate) + " left" : "";
    std::fprintf(stream, "\r[%s] %zu/%zu  %.1f images/s  %s\033[K", bar.c_str(), done, total, rate, left.c_str());
    std::fflush(stream);
    barShown = true;
}

void ProgressReport::clearBar()
{
    if (barShown) {
        std::fputs("\r\033[K", stream);
        barShown = false;
    }
}
