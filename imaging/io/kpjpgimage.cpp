#include "kpjpgimage.h"

#include "kpbitsperpixelconverter.h"
#include "kpcodecinstance.h"
#include "kpexception.h"
#include "kpfilecloser.h"
#include "kplogger.h"
#include "kpoutputfile.h"
#include "kppixelbuffer.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

// Every libjpeg call that may raise a library error runs inside one of
// the small "guarded" functions below: each sets the error manager's
// return point and holds nothing but plain values, so the library's
// longjmp never crosses a C++ object with a destructor. The C++ holders
// (the library records, the files, the pixel buffers) live in the callers.

namespace {

const int DEFAULT_QUALITY = 95;
const int DETAIL_LEVEL = 1;
const int WARNING_LEVEL = 2;
const int FAILURE_LEVEL = 3;

// Bytes the memory source hands the library per refill.
const std::size_t SOURCE_CHUNK_BYTES = 4096;
// What the memory source hands the library once the data is exhausted:
// an end-of-image marker, as often as it is asked.
const JOCTET END_OF_IMAGE[2] = {0xFF, 0xD9};
// Rows handed to the library per read call.
const int ROWS_PER_READ = 16;

// JFIF density units.
const int DENSITY_NO_UNIT = 0;
const int DENSITY_PER_INCH = 1;
const int DENSITY_PER_CENTIMETRE = 2;
const float CENTIMETRES_PER_INCH = 2.54f;
const float LARGEST_DENSITY = 65535.0f;

// A CMYK pixel is darkened by its K channel only when K lies this far
// below each of C, M and Y.
const int CMYK_MARGIN = 16;

const char* const DECOMPRESSION_ERROR = "<KpJPGImage::kpLoadImage()> Decompression Error!";
const char* const NO_PIXEL_MEMORY = "<KpJPGImage::kpLoadImage()> Unable to allocate Memory";
const char* const UNSUPPORTED_TYPE = "<KpJPGImage::kpLoadImage()> Unsupported tiff type";

KpLogger* logger()
{
    return KpLogger::kpGetInstance();
}

// The library's standard error manager with a return point. A library
// error outputs its message, keeps it for the exception, and leaves
// through the return point.
struct ErrorManager {
    jpeg_error_mgr library;
    std::jmp_buf returnPoint;
    char message[JMSG_LENGTH_MAX];
};

ErrorManager* errorManagerOf(j_common_ptr info)
{
    return reinterpret_cast<ErrorManager*>(info->err);
}

// Library messages go to the log at level 1 and to standard output.
void outputMessage(j_common_ptr info)
{
    char text[JMSG_LENGTH_MAX] = {};
    (*info->err->format_message)(info, text);
    kpLogPrintf(logger(), DETAIL_LEVEL, "%s", text);
    std::printf("dbg: %s\n", text);
}

[[noreturn]] void exitToReturnPoint(j_common_ptr info)
{
    ErrorManager* errors = errorManagerOf(info);
    (*info->err->format_message)(info, errors->message);
    (*info->err->output_message)(info);
    std::longjmp(errors->returnPoint, 1);
}

jpeg_error_mgr* installErrorManager(ErrorManager* errors)
{
    std::memset(errors->message, 0, sizeof errors->message);
    jpeg_error_mgr* library = jpeg_std_error(&errors->library);
    library->error_exit = exitToReturnPoint;
    library->output_message = outputMessage;
    return library;
}

// The memory source: the library's source record followed by the
// caller's buffer (not copied) and the offset of its next unread byte.
struct MemorySource {
    jpeg_source_mgr library;
    const JOCTET* data;
    std::size_t size;
    std::size_t position;
};

MemorySource* memorySourceOf(j_decompress_ptr info)
{
    return reinterpret_cast<MemorySource*>(info->src);
}

void initMemorySource(j_decompress_ptr info)
{
    memorySourceOf(info)->position = 0;
}

// Data that ends early is not an error of the source: the library gets
// an end-of-image marker and a warning, and decides what is missing.
boolean fillFromMemory(j_decompress_ptr info)
{
    MemorySource* source = memorySourceOf(info);
    if (source->position < source->size) {
        const std::size_t chunk = std::min(SOURCE_CHUNK_BYTES, source->size - source->position);
        source->library.next_input_byte = source->data + source->position;
        source->library.bytes_in_buffer = chunk;
        source->position += chunk;
    } else {
        WARNMS(info, JWRN_JPEG_EOF);
        source->library.next_input_byte = END_OF_IMAGE;
        source->library.bytes_in_buffer = sizeof END_OF_IMAGE;
    }
    return TRUE;
}

void skipInMemory(j_decompress_ptr info, long count)
{
    if (count <= 0) {
        return;
    }
    MemorySource* source = memorySourceOf(info);
    const std::size_t skip = static_cast<std::size_t>(count);
    if (skip <= source->library.bytes_in_buffer) {
        source->library.next_input_byte += skip;
        source->library.bytes_in_buffer -= skip;
        return;
    }
    // Past the buffer: move the position and let the next read refill.
    const std::size_t beyond = skip - source->library.bytes_in_buffer;
    source->position += std::min(beyond, source->size - source->position);
    source->library.bytes_in_buffer = 0;
}

void termMemorySource(j_decompress_ptr) {}

// Allocated from the decompressor's permanent pool, so it goes with it.
void useMemorySource(j_decompress_ptr info, const JOCTET* data, std::size_t size)
{
    MemorySource* source = static_cast<MemorySource*>(
        (*info->mem->alloc_small)(reinterpret_cast<j_common_ptr>(info), JPOOL_PERMANENT, sizeof(MemorySource)));
    source->library.init_source = initMemorySource;
    source->library.fill_input_buffer = fillFromMemory;
    source->library.skip_input_data = skipInMemory;
    source->library.resync_to_restart = jpeg_resync_to_restart;
    source->library.term_source = termMemorySource;
    source->library.next_input_byte = nullptr;
    source->library.bytes_in_buffer = 0;
    source->data = data;
    source->size = size;
    source->position = 0;
    info->src = &source->library;
}

// Where the encoded bytes come from: a file read by the library's own
// source, or a buffer read by the memory source.
struct JpegSource {
    FILE* file;
    const JOCTET* data;
    std::size_t size;
};

bool createDecompressGuarded(j_decompress_ptr info, ErrorManager* errors)
{
    if (setjmp(errors->returnPoint)) {
        return false;
    }
    jpeg_create_decompress(info);
    return true;
}

bool readHeaderGuarded(j_decompress_ptr info, ErrorManager* errors, const JpegSource* source)
{
    if (setjmp(errors->returnPoint)) {
        return false;
    }
    if (source->file != nullptr) {
        jpeg_stdio_src(info, source->file);
    } else {
        useMemorySource(info, source->data, source->size);
    }
    jpeg_read_header(info, TRUE);
    jpeg_calc_output_dimensions(info);
    return true;
}

// Decodes every row into pixels, rowBytes apart.
bool readPixelsGuarded(j_decompress_ptr info, ErrorManager* errors, JSAMPLE* pixels, std::size_t rowBytes)
{
    if (setjmp(errors->returnPoint)) {
        return false;
    }
    jpeg_start_decompress(info);
    JSAMPROW rows[ROWS_PER_READ];
    while (info->output_scanline < info->output_height) {
        const JDIMENSION first = info->output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(ROWS_PER_READ, info->output_height - first);
        for (JDIMENSION i = 0; i < count; ++i) {
            rows[i] = pixels + (first + i) * rowBytes;
        }
        jpeg_read_scanlines(info, rows, count);
    }
    jpeg_finish_decompress(info);
    return true;
}

// The decompression record and its error manager, destroyed exactly once
// whatever path the decode takes.
class Decompressor {
public:
    Decompressor()
    {
        std::memset(&info, 0, sizeof info);
        info.err = installErrorManager(&errors);
        if (!createDecompressGuarded(&info, &errors)) {
            jpeg_destroy_decompress(&info);
            KP_THROW(KP_INVALID_ARGUMENT, DECOMPRESSION_ERROR);
        }
    }
    ~Decompressor() { jpeg_destroy_decompress(&info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct info;
    ErrorManager errors;
};

// Gray, colour and CMYK output; two components (or four that are not
// CMYK) have no pixel store here.
bool isSupportedOutput(const jpeg_decompress_struct& info)
{
    return info.output_components == 1 || info.output_components == 3 ||
           (info.output_components == 4 && info.out_color_space == JCS_CMYK);
}

// CMYK to RGB: a pixel whose K lies well below C, M and Y is darkened by
// K (each of C, M, Y times K / 256, rounded down); any other keeps its
// C, M, Y bytes.
std::unique_ptr<uint8_t[]> rgbFromCmyk(const uint8_t* cmyk, JDIMENSION width, JDIMENSION height)
{
    std::unique_ptr<uint8_t[]> rgb =
        KpPixelBuffer::kpAllocate(static_cast<int64_t>(width) * 3, height, NO_PIXEL_MEMORY);
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    uint8_t* target = rgb.get();
    for (std::size_t i = 0; i < pixels; ++i, cmyk += 4, target += 3) {
        const int c = cmyk[0];
        const int m = cmyk[1];
        const int y = cmyk[2];
        const int k = cmyk[3];
        if (k < c - CMYK_MARGIN && k < m - CMYK_MARGIN && k < y - CMYK_MARGIN) {
            target[0] = static_cast<uint8_t>(c * k / 256);
            target[1] = static_cast<uint8_t>(m * k / 256);
            target[2] = static_cast<uint8_t>(y * k / 256);
        } else {
            target[0] = static_cast<uint8_t>(c);
            target[1] = static_cast<uint8_t>(m);
            target[2] = static_cast<uint8_t>(y);
        }
    }
    return rgb;
}

void setResolution(const jpeg_decompress_struct& info, KpImageHead& head)
{
    head.xResolution = info.X_density;
    head.yResolution = info.Y_density;
    switch (info.density_unit) {
    case DENSITY_NO_UNIT:
        head.resolutionInDpi = 0;
        break;
    case DENSITY_PER_INCH:
        head.resolutionInDpi = 1;
        break;
    case DENSITY_PER_CENTIMETRE:
        head.xResolution *= CENTIMETRES_PER_INCH;
        head.yResolution *= CENTIMETRES_PER_INCH;
        head.resolutionInDpi = 1;
        break;
    default:
        break;
    }
}

KpImage decode(const JpegSource& source)
{
    Decompressor jpeg;
    if (!readHeaderGuarded(&jpeg.info, &jpeg.errors, &source)) {
        KP_THROW(KP_INVALID_ARGUMENT, DECOMPRESSION_ERROR);
    }
    if (!isSupportedOutput(jpeg.info)) {
        KP_THROW(KP_NOT_IMPLEMENTED, UNSUPPORTED_TYPE);
    }
    const JDIMENSION width = jpeg.info.output_width;
    const JDIMENSION height = jpeg.info.output_height;
    const int64_t rowBytes = static_cast<int64_t>(width) * jpeg.info.output_components;
    std::unique_ptr<uint8_t[]> pixels = KpPixelBuffer::kpAllocate(rowBytes, height, NO_PIXEL_MEMORY);
    if (!readPixelsGuarded(&jpeg.info, &jpeg.errors, pixels.get(), static_cast<std::size_t>(rowBytes))) {
        KP_THROW(KP_INVALID_ARGUMENT, DECOMPRESSION_ERROR);
    }
    int components = jpeg.info.output_components;
    if (jpeg.info.out_color_space == JCS_CMYK) {
        pixels = rgbFromCmyk(pixels.get(), width, height);
        components = 3;
    }
    KpImageHead head;
    head.width = static_cast<int32_t>(width);
    head.height = static_cast<int32_t>(height);
    head.channels = components;
    head.depth = 8 * components;
    head.format = KpImageHead::kpFormatOf(head.depth);
    setResolution(jpeg.info, head);
    KpImage image(pixels.release(), head);
    if (jpeg.errors.library.num_warnings > 0) {
        image.kpSetHasWarnings(true);
        logger()->kpLog("Warning opening jpeg!", WARNING_LEVEL);
    }
    return image;
}

// What the encoder writes: the rows of a depth-8 or depth-24 image.
struct EncodeSettings {
    JDIMENSION width;
    JDIMENSION height;
    int components;
    J_COLOR_SPACE colorSpace;
    UINT16 xDensity;
    UINT16 yDensity;
    int quality;
};

bool createCompressGuarded(j_compress_ptr info, ErrorManager* errors)
{
    if (setjmp(errors->returnPoint)) {
        return false;
    }
    jpeg_create_compress(info);
    return true;
}

bool writeGuarded(j_compress_ptr info, ErrorManager* errors, FILE* file, const EncodeSettings* settings,
                  JSAMPARRAY rows)
{
    if (setjmp(errors->returnPoint)) {
        return false;
    }
    jpeg_stdio_dest(info, file);
    info->image_width = settings->width;
    info->image_height = settings->height;
    info->input_components = settings->components;
    info->in_color_space = settings->colorSpace;
    jpeg_set_defaults(info);
    info->density_unit = DENSITY_PER_INCH;
    info->X_density = settings->xDensity;
    info->Y_density = settings->yDensity;
    jpeg_set_quality(info, settings->quality, TRUE);
    jpeg_start_compress(info, TRUE);
    while (info->next_scanline < info->image_height) {
        jpeg_write_scanlines(info, rows + info->next_scanline, info->image_height - info->next_scanline);
    }
    jpeg_finish_compress(info);
    return true;
}

class Compressor {
public:
    Compressor()
    {
        std::memset(&info, 0, sizeof info);
        info.err = installErrorManager(&errors);
        if (!createCompressGuarded(&info, &errors)) {
            jpeg_destroy_compress(&info);
            KP_THROW(KP_CODEC_FAILED, std::string("<KpJPGImage::kpSaveImage()> ") + errors.message);
        }
    }
    ~Compressor() { jpeg_destroy_compress(&info); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    jpeg_compress_struct info;
    ErrorManager errors;
};

// A resolution as a JFIF density: truncated, and held to the field's
// range (a negative or undefined resolution becomes 0).
UINT16 densityOf(float resolution)
{
    if (!(resolution >= 0.0f)) {
        return 0;
    }
    return static_cast<UINT16>(std::min(resolution, LARGEST_DENSITY));
}

std::string nameOf(const char* fileName)
{
    return fileName == nullptr ? "" : fileName;
}

std::unique_ptr<KpOutputFile> openOutput(const char* fileName)
{
    const std::string name = nameOf(fileName);
    try {
        return std::unique_ptr<KpOutputFile>(new KpOutputFile(
            fileName, KP_CANNOT_OPEN, "<KpJPGImage::kpSaveImage()> can't open file for output: " + name));
    } catch (const KpException&) {
        kpLogPrintf(logger(), FAILURE_LEVEL, "\ncan't open file for output: %s\n", name.c_str());
        throw;
    }
}

std::vector<JSAMPROW> rowPointers(const KpImage& image)
{
    std::vector<JSAMPROW> rows(static_cast<std::size_t>(image.kpGetHeight()));
    for (std::size_t y = 0; y < rows.size(); ++y) {
        rows[y] = image.kpGetData() + y * static_cast<std::size_t>(image.kpGetBytesPerRow());
    }
    return rows;
}

void encode(const char* fileName, const KpImage& image, int quality)
{
    const bool gray = image.kpGetDepth() == 8;
    if (!gray && image.kpGetDepth() != 24) {
        KP_THROW(KP_NOT_IMPLEMENTED, "<KpJPGImage::kpSaveImage()> Unsupported image depth");
    }
    const EncodeSettings settings = {static_cast<JDIMENSION>(image.kpGetWidth()),
                                     static_cast<JDIMENSION>(image.kpGetHeight()),
                                     gray ? 1 : 3,
                                     gray ? JCS_GRAYSCALE : JCS_RGB,
                                     densityOf(image.kpGetXResolution()),
                                     densityOf(image.kpGetYResolution()),
                                     quality};
    std::vector<JSAMPROW> rows = rowPointers(image);
    std::unique_ptr<KpOutputFile> file = openOutput(fileName);
    Compressor jpeg;
    if (!writeGuarded(&jpeg.info, &jpeg.errors, file->kpGetFile(), &settings, rows.data())) {
        KP_THROW(KP_CODEC_FAILED, std::string("<KpJPGImage::kpSaveImage()> ") + jpeg.errors.message);
    }
    if (!file->kpClose()) {
        KP_THROW(KP_BAD_FILE, "<KpJPGImage::kpSaveImage()> The output file could not be completed.");
    }
}

} // namespace

KpJPGImage* KpJPGImage::kpGetInstance()
{
    return kpCodecInstance<KpJPGImage>();
}

KpJPGImage::KpJPGImage() : KpSinglePageImage("Jpeg", "jpeg,jpg", 5, "KpJPGImage") {}

KpJPGImage::~KpJPGImage() = default;

bool KpJPGImage::kpSupportImageFile(const char* fileName)
{
    const std::string text = "<KpJPGImage::kpSupportImageFile()> Can't open " + nameOf(fileName) + "\n";
    return kpSupportFileHead(fileName, KP_CANNOT_OPEN, text, text);
}

bool KpJPGImage::kpSupportImageFile(unsigned char* buffer, int size)
{
    return buffer != nullptr && size >= 2 &&
           ((buffer[0] == 0xFF && buffer[1] == 0xD8) || (buffer[0] == 0xD8 && buffer[1] == 0xFF));
}

KpImage KpJPGImage::kpLoadImage(const char* fileName)
{
    KpFileHolder file(fileName == nullptr ? nullptr : std::fopen(fileName, "rb"));
    if (!file) {
        kpLogPrintf(logger(), FAILURE_LEVEL, "Can't open %s\n", nameOf(fileName).c_str());
        KP_THROW(KP_CANNOT_OPEN, "<KpJPGImage::kpLoadImage()> Cannot open file!");
    }
    return decode(JpegSource{file.get(), nullptr, 0});
}

KpImage KpJPGImage::kpLoadImage(unsigned char* buffer, int size)
{
    const std::size_t length = buffer == nullptr || size < 0 ? 0 : static_cast<std::size_t>(size);
    return decode(JpegSource{nullptr, buffer, length});
}

void KpJPGImage::kpSaveImage(const char* fileName, KpImage& image)
{
    kpSaveImage(fileName, image, DEFAULT_QUALITY);
}

void KpJPGImage::kpSaveImage(const char* fileName, KpImage& image, int quality)
{
    if (image.kpGetData() == nullptr) {
        KP_THROW(KP_NO_DATA, "<KpJPGImage::kpSaveImage()> Image Data is NULL!");
    }
    if (image.kpGetDepth() == 1) {
        encode(fileName, KpBitsPerPixelConverter::kpConvertImage(image, 2), quality);
    } else {
        encode(fileName, image, quality);
    }
}

void KpJPGImage::kpCheckFilePageNumber(int page)
{
    if (page <= 0) {
        logger()->kpLog("JPEG Page number can't be 0 (zero)", FAILURE_LEVEL);
        KP_THROW(KP_BAD_PAGE, "<KpJPGImage::kpLoadImageAtPage()> JPEG Page number can't be 0 (zero).");
    }
}
