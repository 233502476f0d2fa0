#include "kpimagefactory.h"

#include "kpbmpimage.h"
#include "kpcodecinstance.h"
#include "kpexception.h"
#include "kpgifimage.h"
#include "kpjpgimage.h"
#include "kplogger.h"
#include "kppbmimage.h"
#include "kppngimage.h"
#include "kpppmimage.h"
#include "kptiffimage.h"

#include <iostream>
#include <memory>

namespace {

const int LOG_LEVEL = 2;
const char* const EXTENSION_SEPARATORS = ",";
const char* const TRY_OTHERS = "\nWill try other image objects to load image\n";

template <class Codec> KpBaseImage* standardCodec()
{
    return kpCodecInstance<Codec>();
}

// The standard codecs in registration order, which is also the order of
// the content tests.
KpBaseImage* (*const STANDARD_CODECS[])() = {
    &standardCodec<KpPPMImage>,
    &standardCodec<KpJPGImage>,
    &standardCodec<KpBMPImage>,
    &standardCodec<KpTIFFImage>,
    &standardCodec<KpGIFImage>,
    &standardCodec<KpPNGImage>,
    &standardCodec<KpPBMImage>,
};

void logLine(const std::string& text)
{
    KpLogger::kpGetInstance()->kpLog(text, LOG_LEVEL);
}

// The text after the last "." of a file name, or the whole name.
std::string extensionOf(const char* fileName)
{
    const std::string name(fileName);
    const std::string::size_type dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

void logPreferredCodec(const KpBaseImage* codec)
{
    logLine("Over riding image type..Using " + codec->kpGetName() + "\n");
}

void logPreferredFailure(const char* what, const KpException& error)
{
    logLine(std::string(what) + error.kpGetMessage() + "\n");
    logLine(TRY_OTHERS);
}

} // namespace

KpImageFactory* KpImageFactory::kpGetInstance()
{
    static std::unique_ptr<KpImageFactory> instance;
    if (!instance) {
        instance.reset(new KpImageFactory());
        for (KpBaseImage* (*create)() : STANDARD_CODECS) {
            create();
        }
    }
    return instance.get();
}

void kpCreateImageFactory()
{
    KpImageFactory::kpGetInstance();
}

KpImageFactory::KpImageFactory() = default;

KpImageFactory::~KpImageFactory() = default;

void KpImageFactory::kpRegisterImage(KpBaseImage* codec)
{
    kpGetInstance()->insert(codec);
}

void KpImageFactory::insert(KpBaseImage* codec)
{
    auto place = imageObjects.begin();
    while (place != imageObjects.end() && (*place)->kpGetPriority() <= codec->kpGetPriority()) {
        ++place;
    }
    if (place != imageObjects.end()) {
        std::cout << codec->kpGetName() << " " << codec->kpGetPriority() << "\n"
                  << (*place)->kpGetName() << " * " << (*place)->kpGetPriority() << "\n";
    }
    imageObjects.insert(place, codec);
    std::vector<std::string> tokens;
    kpTokenize(codec->kpGetExtensions(), tokens, EXTENSION_SEPARATORS);
    for (const std::string& token : tokens) {
        extensionMap[token] = codec;
    }
}

void KpImageFactory::kpTokenize(const std::string& text, std::vector<std::string>& tokens,
                                const std::string& separators)
{
    std::string::size_type start = text.find_first_not_of(separators);
    while (start != std::string::npos) {
        const std::string::size_type end = text.find_first_of(separators, start);
        tokens.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        start = end == std::string::npos ? end : text.find_first_not_of(separators, end);
    }
}

KpBaseImage* KpImageFactory::kpFindImageObject(const char* fileName)
{
    KpBaseImage* byExtension = nullptr;
    const auto entry = extensionMap.find(extensionOf(fileName));
    if (entry != extensionMap.end()) {
        byExtension = entry->second;
        if (byExtension->kpSupportImageFile(fileName)) {
            return byExtension;
        }
    }
    for (KpBaseImage* codec : imageObjects) {
        if (codec->kpSupportImageFile(fileName)) {
            return codec;
        }
    }
    return byExtension;
}

KpBaseImage* KpImageFactory::kpFindImageObject(unsigned char* buffer, int size)
{
    for (KpBaseImage* codec : imageObjects) {
        if (codec->kpSupportImageFile(buffer, size)) {
            return codec;
        }
    }
    return nullptr;
}

KpBaseImage* KpImageFactory::codecOrThrow(const char* fileName, const char* operation)
{
    KpBaseImage* codec = kpFindImageObject(fileName);
    if (codec == nullptr) {
        KP_THROW(KP_UNSUPPORTED_DEPTH,
                 "<KpImageFactory::" + std::string(operation) + "()> Unsupported file format " + fileName);
    }
    return codec;
}

KpBaseImage* KpImageFactory::codecOrThrow(unsigned char* buffer, int size, const char* operation)
{
    KpBaseImage* codec = kpFindImageObject(buffer, size);
    if (codec == nullptr) {
        KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImageFactory::" + std::string(operation) + "()> Unsupported image buffer");
    }
    return codec;
}

KpImage KpImageFactory::kpLoadImage(const char* fileName, KpBaseImage* preferredCodec)
{
    if (preferredCodec != nullptr) {
        logPreferredCodec(preferredCodec);
        try {
            return preferredCodec->kpLoadImage(fileName);
        } catch (const KpException& error) {
            logPreferredFailure("Error loading image : ", error);
        }
    }
    KpBaseImage* codec = codecOrThrow(fileName, "kpLoadImage");
    kpLogPrintf(KpLogger::kpGetInstance(), LOG_LEVEL, "loading image with %s\n", codec->kpGetName().c_str());
    return codec->kpLoadImage(fileName);
}

KpImage KpImageFactory::kpLoadImage(unsigned char* buffer, int size, KpBaseImage* preferredCodec)
{
    if (preferredCodec != nullptr) {
        logPreferredCodec(preferredCodec);
        try {
            if (preferredCodec->kpSupportImageFile(buffer, size)) {
                return preferredCodec->kpLoadImage(buffer, size);
            }
        } catch (const KpException& error) {
            logPreferredFailure("Error loading image : ", error);
        }
    }
    return codecOrThrow(buffer, size, "kpLoadImage")->kpLoadImage(buffer, size);
}

KpImage KpImageFactory::kpLoadImageAtPage(const char* fileName, int page)
{
    KpBaseImage* codec = codecOrThrow(fileName, "kpLoadImageAtPage");
    logLine("loading image with " + codec->kpGetName());
    return codec->kpLoadImageAtPage(fileName, page);
}

KpImage KpImageFactory::kpLoadImageAtPage(unsigned char* buffer, int size, int page)
{
    return codecOrThrow(buffer, size, "kpLoadImageAtPage")->kpLoadImageAtPage(buffer, size, page);
}

int KpImageFactory::kpGetTotalPages(const char* fileName)
{
    KpBaseImage* codec = kpFindImageObject(fileName);
    return codec == nullptr ? 0 : codec->kpGetTotalPages(fileName);
}

int KpImageFactory::kpGetTotalPages(unsigned char* buffer, int size)
{
    KpBaseImage* codec = kpFindImageObject(buffer, size);
    return codec == nullptr ? 0 : codec->kpGetTotalPages(buffer, size);
}

void KpImageFactory::kpSaveImage(KpImage& image, const char* fileName, KpBaseImage* preferredCodec)
{
    if (preferredCodec != nullptr) {
        logPreferredCodec(preferredCodec);
        try {
            preferredCodec->kpSaveImage(fileName, image);
            return;
        } catch (const KpException& error) {
            logPreferredFailure("Error saving image : ", error);
        }
    }
    const std::string ext = extensionOf(fileName);
    for (KpBaseImage* codec : imageObjects) {
        if (codec->kpSupportExtension(ext)) {
            codec->kpSaveImage(fileName, image);
            return;
        }
    }
    KP_THROW(KP_UNSUPPORTED_DEPTH, "<KpImageFactory::kpSaveImage()> Unsupported file format " + ext);
}

void KpImageFactory::kpListImageTypes()
{
    logLine("Supported Image types:\n ");
    if (imageObjects.empty()) {
        logLine("No supported image types!!");
        return;
    }
    for (const KpBaseImage* codec : imageObjects) {
        kpLogPrintf(KpLogger::kpGetInstance(), LOG_LEVEL, "Name = %s, Ext = %s\n", codec->kpGetName().c_str(),
                    codec->kpGetExtensions().c_str());
    }
}
