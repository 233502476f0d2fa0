#ifndef DOVODA_KPEXCEPTION_H
#define DOVODA_KPEXCEPTION_H

#include <exception>
#include <string>

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
