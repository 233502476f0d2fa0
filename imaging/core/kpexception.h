#ifndef DOVODA_KPEXCEPTION_H
#define DOVODA_KPEXCEPTION_H

#include <exception>
#include <string>

// The error codes of the imaging library. The numbers are part of the
// interface: callers compare kpGetCode() against them. Code 6 is unused.
enum KpErrorCode : int {
    KP_CODEC_FAILED = 1,        // a codec's library or stream step failed
    KP_CANNOT_OPEN = 2,         // a file could not be opened, or a required file name is missing
    KP_NOT_IMPLEMENTED = 3,     // the operation or the variant is not implemented
    KP_BAD_FILE = 4,            // unknown file format, or a read or write of file content failed
    KP_NO_DATA = 5,             // no pixel data, or a library object could not be created
    KP_INVALID_ARGUMENT = 7,    // wrong kind of image or invalid argument, coordinates outside
    KP_UNSUPPORTED_CONTENT = 8, // content the codec does not support, a decoder failure, a page too far
    KP_TOO_BIG = 9,             // a second image too large for the operation
    KP_BAD_CHANNEL = 10,        // channel index out of range
    KP_UNSUPPORTED_DEPTH = 11,  // unsupported pixel depth or size, or no codec for the file
    KP_MISSING_TAG = 12,        // a TIFF file lacks a required tag
    KP_NO_MEMORY = 13,          // allocation failed, self-assignment, corrupted internal list
    KP_BAD_WEIGHT = 14,         // a weight that is not greater than zero
    KP_BAD_PAGE = 15,           // page number 0 or an invalid page number
};

// The one exception type of the imaging library: a numeric code and a
// message that names the source file and line of the throwing statement,
// as in "kpimage.cpp:42: Image Data is NULL!".
class KpException : public std::exception {
public:
    KpException(int code, const std::string& text, const char* sourceFile, int sourceLine);
    ~KpException() override;

    const char* what() const noexcept override;
    std::string kpGetMessage() const;
    int kpGetCode() const;

private:
    std::string message;
    int code;
};

// Throws a KpException carrying the location of the statement.
#define KP_THROW(code, text) throw KpException((code), (text), __FILE__, __LINE__)

#endif
