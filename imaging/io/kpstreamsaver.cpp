#include "kpstreamsaver.h"

#include "kpexception.h"
#include "kpfilebasedio.h"
#include "kpmemorybasedio.h"
#include "kpoutputfile.h"

#include <cstdlib>
#include <string>

KpStreamSaver::~KpStreamSaver() = default;

void KpStreamSaver::kpSaveToFile(const char* fileName, const char* className, const Encoder& encode)
{
    KpOutputFile file(fileName, KP_CANNOT_OPEN, "<KpFileBasedIO::KpFileBasedIO()> Could not open output image file");
    KpFileBasedIO stream(file.kpGetFile());
    encode(stream);
    if (!stream.kpCloseStream() || !file.kpClose()) {
        KP_THROW(KP_BAD_FILE, "<" + std::string(className) + "::kpSaveImage()> Could not finish writing " +
                                  fileName + " (disk full or stream closed).");
    }
}

void KpStreamSaver::kpSaveToMemory(const Encoder& encode, unsigned char** block, int* size)
{
    KpMemoryBasedIO stream(nullptr, 0, "w");
    try {
        encode(stream);
    } catch (...) {
        std::free(stream.kpGetBuffer());
        throw;
    }
    *block = stream.kpGetBuffer();
    *size = stream.kpGetSize();
}
