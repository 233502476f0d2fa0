#ifndef DOVODA_INPUTLIST_H
#define DOVODA_INPUTLIST_H

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

// The images of a run, in a fixed order: the inputs as given, each
// folder replaced by the images in it (by name), "-" by the paths read
// from standard input (one per line, files or folders). An input that
// cannot be listed stays in its place with the reason, to be reported
// as that input's failure.
class InputList {
public:
    struct Entry {
        std::string path;
        // Empty for an input to process.
        std::string failure;
    };

    InputList(const std::vector<std::string>& arguments, std::istream& standardInput);

    const std::vector<Entry>& entries() const { return entryList; }

    // Keeps only the index-th (from 1) of count slices: the entries whose
    // position in the list, counted from 0, leaves index - 1 when divided
    // by count. The slices of 1..count cover the list exactly once.
    void keepShard(std::size_t index, std::size_t count);

private:
    void addArgument(const std::string& argument);
    void addFolder(const std::string& folder);

    std::vector<Entry> entryList;
};

#endif
