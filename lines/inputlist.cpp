#include "inputlist.h"

#include "kpexception.h"
#include "kpimagefactory.h"
#include "linesoptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {

const char* const STANDARD_INPUT = "-";

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A folder entry to process: an image by extension or content, or a file
// that cannot even be examined (its failure is then reported). Hidden
// files (the temporary results among them), folders, devices and the
// overlays of an earlier run are left out.
bool isImageEntry(const std::string& folder, const std::string& name)
{
    if (name.empty() || name[0] == '.' || endsWith(name, LinesOptions::OVERLAY_SUFFIX)) {
        return false;
    }
    const std::string path = folder + "/" + name;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return true;
    }
    if (!S_ISREG(info.st_mode)) {
        return false;
    }
    try {
        return KpImageFactory::kpGetInstance()->kpFindImageObject(path.c_str()) != nullptr;
    } catch (const KpException&) {
        return true;
    }
}

} // namespace

InputList::InputList(const std::vector<std::string>& arguments, std::istream& standardInput)
{
    for (const std::string& argument : arguments) {
        if (argument != STANDARD_INPUT) {
            addArgument(argument);
            continue;
        }
        std::string line;
        while (std::getline(standardInput, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!line.empty()) {
                addArgument(line);
            }
        }
    }
}

void InputList::addArgument(const std::string& argument)
{
    struct stat info;
    if (stat(argument.c_str(), &info) != 0) {
        entryList.push_back({argument, std::strerror(errno)});
    } else if (S_ISDIR(info.st_mode)) {
        addFolder(argument);
    } else {
        entryList.push_back({argument, std::string()});
    }
}

void InputList::addFolder(const std::string& folder)
{
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        entryList.push_back({folder, std::strerror(errno)});
        return;
    }
    const std::string prefix = endsWith(folder, "/") ? folder.substr(0, folder.size() - 1) : folder;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        if (isImageEntry(prefix, entry->d_name)) {
            names.push_back(entry->d_name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        entryList.push_back({prefix + "/" + name, std::string()});
    }
}

void InputList::keepShard(std::size_t index, std::size_t count)
{
    std::vector<Entry> kept;
    for (std::size_t i = index - 1; i < entryList.size(); i += count) {
        kept.push_back(entryList[i]);
    }
    entryList.swap(kept);
}
