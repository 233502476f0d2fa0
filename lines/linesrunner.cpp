#include "linesrunner.h"

#include "imagelines.h"
#include "kpexception.h"
#include "kpimage.h"
#include "kplinefile.h"
#include "overlay.h"
#include "publishedfile.h"
#include "vectorformats.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

namespace {

std::atomic<bool> stopping{false};

std::string fileNameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A library message without the source location it starts with
// ("kppngimage.cpp:120: <KpPNGImage::kpLoadImage()> ...").
std::string withoutSourceLocation(const std::string& message)
{
    const std::size_t first = message.find(':');
    if (first == std::string::npos) {
        return message;
    }
    const std::size_t second = message.find(": ", first + 1);
    const std::string line = message.substr(first + 1, second == std::string::npos ? 0 : second - first - 1);
    if (second == std::string::npos || line.empty() || line.find_first_not_of("0123456789") != std::string::npos) {
        return message;
    }
    return message.substr(second + 2);
}

std::string resultText(const std::string& format, const ImageLines& lines, const std::string& input,
                       const LinesSettings& settings)
{
    if (format == "svg") {
        return vectorformats::svg(lines);
    }
    if (format == "dxf") {
        return vectorformats::dxf(lines);
    }
    return vectorformats::json(lines, fileNameOf(input), settings);
}

} // namespace

LinesRunner::LinesRunner(const LinesOptions& options, const InputList& inputs, ProgressReport& report)
    : options(options), entries(inputs.entries()), report(report)
{
    for (const InputList::Entry& entry : entries) {
        struct stat info;
        if (stat(entry.path.c_str(), &info) == 0) {
            inputFiles.insert({info.st_dev, info.st_ino});
        }
    }
    markNameClashes();
}

void LinesRunner::markNameClashes()
{
    if (options.outputFolder.empty()) {
        return;
    }
    std::map<std::string, std::string> firstWithName;
    for (InputList::Entry& entry : entries) {
        if (!entry.failure.empty()) {
            continue;
        }
        const auto inserted = firstWithName.insert({fileNameOf(entry.path), entry.path});
        if (!inserted.second) {
            entry.failure = "has the same file name as " + inserted.first->second +
                            ", whose results in the output folder it would overwrite";
        }
    }
}

void LinesRunner::requestStop()
{
    stopping.store(true);
}

bool LinesRunner::stopRequested()
{
    return stopping.load();
}

std::string LinesRunner::resultName(const std::string& input, const std::string& suffix) const
{
    if (options.outputFolder.empty()) {
        return input + suffix;
    }
    return options.outputFolder + "/" + fileNameOf(input) + suffix;
}

void LinesRunner::run()
{
    std::atomic<std::size_t> next{0};
    auto work = [this, &next]() {
        for (std::size_t i = next++; i < entries.size() && !stopRequested(); i = next++) {
            processEntry(entries[i]);
        }
    };
    const std::size_t threads = std::min(options.jobs, std::max<std::size_t>(entries.size(), 1));
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threads; ++t) {
        workers.emplace_back(work);
    }
    work();
    for (std::thread& worker : workers) {
        worker.join();
    }
}

void LinesRunner::processEntry(const InputList::Entry& entry)
{
    if (!entry.failure.empty()) {
        report.failed(entry.path, entry.failure);
        return;
    }
    std::string message;
    try {
        processImage(entry.path);
        return;
    } catch (const std::bad_alloc&) {
        message = "out of memory";
    } catch (const std::exception& error) {
        message = withoutSourceLocation(error.what());
    }
    report.failed(entry.path, message);
}

void LinesRunner::processImage(const std::string& input)
{
    KpImage image;
    image.kpLoadImage(input.c_str());
    const ImageLines lines = ImageLines::find(image, options.settings);
    for (const LinesOptions::Format& format : LinesOptions::knownFormats()) {
        if (std::find(options.formats.begin(), options.formats.end(), format.name) == options.formats.end()) {
            continue;
        }
        const std::string destination = resultName(input, format.suffix);
        refuseToOverwriteAnInput(destination);
        if (format.name == "txt") {
            PublishedFile::publish(destination, [&lines](const std::string& temporary) {
                return KpLineFile::write(temporary, lines.polylines);
            });
        } else {
            PublishedFile::publishText(destination, resultText(format.name, lines, input, options.settings));
        }
    }
    if (options.overlay) {
        const std::string destination = resultName(input, LinesOptions::OVERLAY_SUFFIX);
        refuseToOverwriteAnInput(destination);
        KpImage overlay = Overlay::draw(image, lines.polylines);
        PublishedFile::publish(destination, [&overlay](const std::string& temporary) {
            overlay.kpSaveImage(temporary.c_str());
            return true;
        });
    }
    report.succeeded(lines.polylines.size());
}

void LinesRunner::refuseToOverwriteAnInput(const std::string& destination) const
{
    struct stat info;
    if (stat(destination.c_str(), &info) == 0 && inputFiles.count({info.st_dev, info.st_ino}) != 0) {
        throw std::runtime_error("will not overwrite the input " + destination);
    }
}
