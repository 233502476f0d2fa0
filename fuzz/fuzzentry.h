#ifndef DOVODA_FUZZENTRY_H
#define DOVODA_FUZZENTRY_H

#include <cstddef>
#include <cstdint>

namespace fuzzentry {

// Feeds bytes to the registry's buffer load, so to every registered
// decoder, and saves what decodes (up to 2^24 pixels) as a PNG file in
// the temporary folder.
// A KpException is the one allowed outcome besides success; anything
// else (a crash, another exception) is a fault.
void loadAndSave(const uint8_t* data, std::size_t size);

} // namespace fuzzentry

#endif
