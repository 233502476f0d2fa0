#ifndef DOVODA_KPSTREAMSAVER_H
#define DOVODA_KPSTREAMSAVER_H

#include <functional>

class KpIOStream;

// The two places a stream encoder (a codec's kpSaveImage(stream, image))
// writes to: a new file, removed again when any write or the close
// fails, and a new memory block that belongs to the caller.
class KpStreamSaver {
public:
    using Encoder = std::function<void(KpIOStream&)>;

    KpStreamSaver() = delete;
    virtual ~KpStreamSaver();

    // Opens fileName (failure: code 2), runs encode on it and closes it; a
    // close that fails raises code 4 with a text naming className.
    static void kpSaveToFile(const char* fileName, const char* className, const Encoder& encode);
    // Runs encode on a new memory block and hands it over in *block and
    // *size; the caller releases it with free(). Nothing is handed over,
    // and nothing is left allocated, when encode raises.
    static void kpSaveToMemory(const Encoder& encode, unsigned char** block, int* size);
};

#endif
