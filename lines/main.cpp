// dovoda-lines: finds the edges of many images, side by side on every
// core, and writes their fitted polylines as SVG, DXF, JSON or DoVoda's
// line-file text, optionally with an overlay image.
//
//   dovoda-lines [options] INPUT...      (dovoda-lines --help)
#include "inputlist.h"
#include "kpimagefactory.h"
#include "kplogger.h"
#include "linesoptions.h"
#include "linesrunner.h"
#include "progressreport.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <unistd.h>

namespace {

const int EXIT_ALL_DONE = 0;
const int EXIT_SOME_FAILED = 1;
// The threshold at which the shared logger writes nothing: failures are
// reported per input instead.
const int LOG_NOTHING = 4;
// A run stopped by a signal exits with 128 + the signal's number.
const int EXIT_SIGNAL_BASE = 128;

volatile std::sig_atomic_t stopSignal = 0;

void stopOnSignal(int signal)
{
    stopSignal = signal;
    LinesRunner::requestStop();
}

// The first INT or TERM lets the images being processed finish (so no
// result is left half-written); a second one ends the program at once.
void handleStopSignals()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = stopOnSignal;
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool makeOutputFolder(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "dovoda-lines: %s: cannot create the output folder: %s\n", folder.c_str(),
                     error.message().c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    LinesOptions options;
    const int status = LinesOptions::parse(argc, argv, options);
    if (status >= 0) {
        return status;
    }
    if (!options.outputFolder.empty() && !makeOutputFolder(options.outputFolder)) {
        return EXIT_SOME_FAILED;
    }
    // The registry and the logger are set up here, before any thread.
    KpLogger::kpGetInstance()->kpSetLevel(LOG_NOTHING);
    KpImageFactory::kpGetInstance();

    InputList inputs(options.inputs, std::cin);
    inputs.keepShard(options.shardIndex, options.shardCount);
    const bool terminal = isatty(fileno(stderr)) != 0;
    ProgressReport report(stderr, inputs.entries().size(), {terminal && !options.quiet, !options.quiet});
    handleStopSignals();
    LinesRunner(options, inputs, report).run();
    report.finish();
    if (stopSignal != 0) {
        return EXIT_SIGNAL_BASE + stopSignal;
    }
    return report.failures() == 0 ? EXIT_ALL_DONE : EXIT_SOME_FAILED;
}
