// Error classes shared by every layer. Each carries exactly the text the user
// is shown; the top-level handlers display what() unchanged.
#pragma once

#include <stdexcept>
#include <string>

namespace kalmuro {

// The general error class with a message text (Windows-1252 bytes).
class EError : public std::runtime_error {
public:
    explicit EError(const std::string& message) : std::runtime_error(message) {}
};

// A text the integer conversion rejects: "'%s' is not a valid integer value".
class EConvertError : public EError {
public:
    using EError::EError;
};

// A file that cannot be opened or created ("Cannot open file ..." /
// "Cannot create file ...").
class EFileError : public EError {
public:
    using EError::EError;
};
class EFOpenError : public EFileError {
public:
    using EFileError::EFileError;
};
class EFCreateError : public EFileError {
public:
    using EFileError::EFileError;
};

// The settings file refused a write: "Unable to write to %s".
class EIniWriteError : public EError {
public:
    using EError::EError;
};

// Base of every error raised by the POP3 client and the header parser.
class EMailError : public EError {
public:
    using EError::EError;
};

}  // namespace kalmuro
