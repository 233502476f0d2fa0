#ifndef DOVODA_LINESRUNNER_H
#define DOVODA_LINESRUNNER_H

#include "inputlist.h"
#include "linesoptions.h"
#include "progressreport.h"

#include <set>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// Processes the images of an input list on options.jobs threads, each
// image on one thread from loading to its last result file, so that at
// most that many images are held at once and the results do not depend
// on the number of threads. Every result file is written whole under a
// temporary name and renamed; no input is ever overwritten.
class LinesRunner {
public:
    LinesRunner(const LinesOptions& options, const InputList& inputs, ProgressReport& report);

    // Returns when every entry has been processed or a stop was requested.
    void run();

    // Lets the threads finish the images they hold and take no other;
    // safe to call from a signal handler.
    static void requestStop();
    static bool stopRequested();

private:
    // The name of an input's result file with this suffix.
    std::string resultName(const std::string& input, const std::string& suffix) const;

    using FileIdentity = std::pair<dev_t, ino_t>;

    void work();
    void processEntry(const InputList::Entry& entry);
    void processImage(const std::string& input);
    void refuseToOverwriteAnInput(const std::string& destination) const;
    // With an output folder, a later input whose file name equals an
    // earlier one's would overwrite its results: it fails instead.
    void markNameClashes();

    const LinesOptions& options;
    std::vector<InputList::Entry> entries;
    ProgressReport& report;
    std::set<FileIdentity> inputFiles;
};

#endif
