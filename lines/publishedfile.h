#ifndef DOVODA_PUBLISHEDFILE_H
#define DOVODA_PUBLISHEDFILE_H

#include <functional>
#include <string>

// Result files that appear whole or not at all: the content is written
// to a hidden temporary name in the destination's folder (ending in the
// destination's extension, so that codecs chosen by extension still
// apply) and renamed to the destination once it is complete. On every
// failure the temporary file is removed and the destination is left as
// it was.
class PublishedFile {
public:
    // write(temporaryName) creates the content and returns true when it
    // succeeded; it may also throw. Failures raise std::runtime_error with
    // a message naming the destination.
    static void publish(const std::string& destination, const std::function<bool(const std::string&)>& write);
    // publish() for a text held in memory.
    static void publishText(const std::string& destination, const std::string& text);
};

#endif
