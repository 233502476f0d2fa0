#ifndef DOVODA_KPGIFIMAGE_H
#define DOVODA_KPGIFIMAGE_H

#include "kpcodecinstance.h"
#include "kpgifarray.h"
#include "kpsinglepageimage.h"

// GIF files, read and written by our own decoder and writer; no library is
// involved. Single-page.
//
// Reading (through the decoding utilities of kpgifutilities.h): GIF87a and
// GIF89a files with the upper-case signature. Every frame of an animated
// file is pasted whole onto a white image of the logical screen's size, in
// file order, without disposal or transparency, so a file loads as one
// 24-bit colour image of 200 dpi. A frame whose data ends early is
// recovered as far as its damaged code stream allows.
// Writing: a single-frame GIF87a file. The image first goes through
// KpBitsPerPixelConverter::kpReduceColors (binary and gray images become
// colour; more than 256 colours are mapped onto a fixed colour cube). The
// colours, in order of first appearance, fill a 256-entry global table and
// the same local table; the data is not compressed: every pixel is one
// 9-bit code, with a clear code before every 254th pixel, so that the codes
// never grow wider. Images wider or higher than 65535 pixels are refused
// (code 11).
class KpGIFImage : public KpSinglePageImage {
public:
    // The writer's encoder settings, the same for every file it writes.
    struct KpEncoderSettings {
        int colourBits = 8;
        int clearCode = 256;
        int endCode = 257;
        int tableExponent = 8; // a colour table of 2^8 entries
        int codeWidth = 9;
    };

    // The image part of a file being written: its descriptor, colour list,
    // the palette index of every pixel and the data as sub-blocks.
    class KpLocalGIFImage {
    public:
        // Indexes the colours of a 24-bit image (code 7 beyond 256 colours)
        // and encodes its data.
        KpLocalGIFImage(const KpImage& image, const KpEncoderSettings& settings);
        virtual ~KpLocalGIFImage();
        KpLocalGIFImage(const KpLocalGIFImage&) = delete;
        KpLocalGIFImage& operator=(const KpLocalGIFImage&) = delete;

        // The colour list padded with black to the table size, as red,
        // green, blue bytes.
        void kpAppendColourTable(KpGIFArray<unsigned char>& file) const;
        // The descriptor (after the image separator), the local colour
        // table, the minimum code size and the data sub-blocks with their
        // terminator.
        void kpAppendTo(KpGIFArray<unsigned char>& file) const;

        // Colours as red << 16 | green << 8 | blue, in order of first
        // appearance.
        const KpGIFArray<long>& kpGetColours() const { return colours; }
        const KpGIFArray<unsigned char>& kpGetIndices() const { return indices; }

    private:
        void makeLocalImage(const KpImage& image);
        void writeDescriptor();
        void encodeData();

        const KpEncoderSettings settings;
        int32_t left = 0;
        int32_t top = 0;
        int32_t imageWidth;
        int32_t imageHeight;
        KpGIFArray<unsigned char> descriptor;
        KpGIFArray<long> colours;
        KpGIFArray<unsigned char> indices;
        KpGIFArray<unsigned char> dataBlocks;
    };

    // A whole file being written: the logical screen and its one image.
    class KpGlobalGIFImage {
    public:
        // image must be of depth 24 (code 7) and at most 65535 pixels wide
        // and high (code 11); it is read here and not kept.
        explicit KpGlobalGIFImage(const KpImage& image);
        virtual ~KpGlobalGIFImage();
        KpGlobalGIFImage(const KpGlobalGIFImage&) = delete;
        KpGlobalGIFImage& operator=(const KpGlobalGIFImage&) = delete;

        // The bytes of the file, from the signature to the trailer.
        void kpAssembleFile(KpGIFArray<unsigned char>& file) const;

    private:
        const KpEncoderSettings settings;
        const int32_t screenWidth;
        const int32_t screenHeight;
        const int64_t pixelCount;
        // The size of every array that holds the whole data or file.
        const int64_t outputCapacity;
        KpLocalGIFImage localImage;
        const int colourBits;
        KpGIFArray<unsigned char> screenDescriptor;
    };

    static KpGIFImage* kpGetInstance();
    ~KpGIFImage() override;

    bool kpSupportImageFile(const char* fileName) override;
    // True for the six bytes "GIF87a" or "GIF89a" in either case.
    bool kpSupportImageFile(unsigned char* buffer, int size) override;
    void kpSaveImage(const char* fileName, KpImage& image) override;
    KpImage kpLoadImage(unsigned char* buffer, int size) override;
    KpImage kpLoadImage(const char* fileName) override;

private:
    KpGIFImage();
    friend KpGIFImage* kpCodecInstance<KpGIFImage>();
};

#endif
