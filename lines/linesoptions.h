#ifndef DOVODA_LINESOPTIONS_H
#define DOVODA_LINESOPTIONS_H

#include "linessettings.h"

#include <cstddef>
#include <string>
#include <vector>

// The command line of dovoda-lines.
struct LinesOptions {
    std::vector<std::string> inputs;
    // Empty: the results go beside each input.
    std::string outputFolder;
    // Among "txt", "svg", "dxf", "json"; each at most once, in this order.
    std::vector<std::string> formats;
    bool overlay = false;
    LinesSettings settings;
    std::size_t jobs = 1;
    std::size_t shardIndex = 1;
    std::size_t shardCount = 1;
    bool quiet = false;

    // A vector format and the suffix of its result file.
    struct Format {
        std::string name;
        std::string suffix;
    };
    // Every vector format, in the order their files are written.
    static const std::vector<Format>& knownFormats();
    // The suffix of the overlay images.
    static const char* const OVERLAY_SUFFIX;

    // Fills options from the command line. Returns -1 when the run is to
    // go on; otherwise the exit status after the help or version text (0)
    // or a message about a bad command line (2) has been printed.
    static int parse(int argc, char** argv, LinesOptions& options);
};

#endif
