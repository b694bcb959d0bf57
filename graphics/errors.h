#pragma once
// The error classes every layer raises. Each carries the message text the user sees.
#include <stdexcept>
#include <string>

// Base of every error the program raises itself; the top-level handler catches this.
class EImbrixError : public std::runtime_error {
public:
    explicit EImbrixError(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

#define IMBRIX_ERROR_CLASS(Name, Base)                                            \
    class Name : public Base {                                                    \
    public:                                                                       \
        explicit Name(const std::string& message) : Base(message) {}              \
    }

IMBRIX_ERROR_CLASS(EInvalidGraphic, EImbrixError);
IMBRIX_ERROR_CLASS(EInvalidGraphicOperation, EImbrixError);
IMBRIX_ERROR_CLASS(EColorConversionError, EImbrixError);
IMBRIX_ERROR_CLASS(EGraphicCompression, EImbrixError);
IMBRIX_ERROR_CLASS(EJPEG, EInvalidGraphic);  // a JPEG file that cannot be read is an invalid graphic
IMBRIX_ERROR_CLASS(EConvertError, EImbrixError);
IMBRIX_ERROR_CLASS(EOutOfResources, EImbrixError);
IMBRIX_ERROR_CLASS(EStreamError, EImbrixError);
IMBRIX_ERROR_CLASS(EReadError, EStreamError);
IMBRIX_ERROR_CLASS(EWriteError, EStreamError);
IMBRIX_ERROR_CLASS(EFOpenError, EStreamError);
IMBRIX_ERROR_CLASS(EFCreateError, EStreamError);

#undef IMBRIX_ERROR_CLASS

// Checked arithmetic and indexing failures carry fixed texts.
class ERangeError : public EImbrixError {
public:
    ERangeError() : EImbrixError("Range check error") {}
};
class EIntOverflow : public EImbrixError {
public:
    EIntOverflow() : EImbrixError("Integer overflow") {}
};
class EZeroDivide : public EImbrixError {
public:
    EZeroDivide() : EImbrixError("Floating point division by zero") {}
};

inline constexpr const char* kStreamReadError = "Stream read error";
inline constexpr const char* kStreamWriteError = "Stream write error";

// printf-style formatting for message templates such as "Unknown picture file extension (.%s)".
std::string FormatMessage(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
