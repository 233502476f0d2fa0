#ifndef DOVODA_KPCODECINSTANCE_H
#define DOVODA_KPCODECINSTANCE_H

#include <memory>

// Creates the format registry if it does not exist yet (and with it the
// standard codecs, in their order). Defined with the registry.
void kpCreateImageFactory();

// The one instance of a codec class, created on first use (after the
// registry, so that the standard codecs keep their order) and deleted
// at program exit. Codec classes make it a friend and return it from
// their static kpGetInstance().
template <class Codec> Codec* kpCodecInstance()
{
    static std::unique_ptr<Codec> owner;
    if (!owner) {
        kpCreateImageFactory();
        if (!owner) {
            owner.reset(new Codec());
        }
    }
    return owner.get();
}

#endif
