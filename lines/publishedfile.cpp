#include "publishedfile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace {

// Numbers the temporary files of this process.
std::atomic<unsigned long> temporaryCount{0};

// "folder/.name.PID-N.ext" for the destination "folder/name.ext".
std::string temporaryNameFor(const std::string& destination)
{
    const std::size_t slash = destination.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = destination.rfind('.');
    const std::size_t extensionStart = dot == std::string::npos || dot < nameStart ? destination.size() : dot;
    return destination.substr(0, nameStart) + "." + destination.substr(nameStart, extensionStart - nameStart) + "." +
           std::to_string(getpid()) + "-" + std::to_string(++temporaryCount) + destination.substr(extensionStart);
}

bool writeText(const std::string& fileName, const std::string& text)
{
    std::FILE* file = std::fopen(fileName.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

// The reason of the last failed system call, for messages.
std::string lastError()
{
    return errno != 0 ? std::string(": ") + std::strerror(errno) : std::string();
}

} // namespace

void PublishedFile::publish(const std::string& destination, const std::function<bool(const std::string&)>& write)
{
    const std::string temporary = temporaryNameFor(destination);
    try {
        errno = 0;
        if (!write(temporary)) {
            throw std::runtime_error("cannot write " + destination + lastError());
        }
        if (std::rename(temporary.c_str(), destination.c_str()) != 0) {
            throw std::runtime_error("cannot write " + destination + lastError());
        }
    } catch (...) {
        std::remove(temporary.c_str());
        throw;
    }
}

void PublishedFile::publishText(const std::string& destination, const std::string& text)
{
    publish(destination, [&text](const std::string& temporary) { return writeText(temporary, text); });
}
