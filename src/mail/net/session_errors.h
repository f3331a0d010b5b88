// Errors of the TCP connection, the line and reply layer and the sessions of
// both protocols.
// Every class derives from EMailError and carries exactly the text the user
// is shown; numbers follow the Windows socket numbering so that the messages
// are the same on every platform.
#pragma once

#include <cstdint>
#include <string>

#include "mail/errors.h"

namespace kalmuro {

// "Already connected.": opening while a connection is open.
class EAlreadyConnected : public EMailError {
public:
    EAlreadyConnected();
};

// "Cannot allocate socket."
class EInvalidSocket : public EMailError {
public:
    EInvalidSocket();
};

// "Could not bind socket. Address and port are already in use."
class ECouldNotBindSocket : public EMailError {
public:
    ECouldNotBindSocket();
};

// "Socket Error # %d\r\n%s": a failed socket call or name lookup. LastError
// is the Windows socket error number (see WinsockErrorFromErrno).
class ESocketError : public EMailError {
public:
    explicit ESocketError(int32_t lastError);
    // A number outside the table keeps the system's own text.
    ESocketError(int32_t lastError, const std::string& text);
    int32_t LastError;
};

// "Connect timed out."
class EConnectTimeout : public EMailError {
public:
    EConnectTimeout();
};

// A timed connect that failed: the message is the socket error's message.
class EConnectError : public EMailError {
public:
    using EMailError::EMailError;
};

// "Read Timeout"
class EReadTimeout : public EMailError {
public:
    EReadTimeout();
};

// Errors the owner may treat as an ordinary end of a session.
class ESilentError : public EMailError {
public:
    using EMailError::EMailError;
};

// "Connection Closed Gracefully.": a read needs data after the peer closed.
class EConnClosedGracefully : public ESilentError {
public:
    EConnClosedGracefully();
};

// "Not Connected": reading or sending without a connection.
class ENotConnected : public EMailError {
public:
    ENotConnected();
};

// "Max line length exceeded."
class EMaxLineLengthExceeded : public EMailError {
public:
    EMaxLineLengthExceeded();
};

// A reply, header block or message longer than the client takes from a
// server: "Server answer too long." The connection has been closed.
class EAnswerTooLong : public EMailError {
public:
    EAnswerTooLong();
};

// A reply whose code the command does not allow. The message is the reply's
// text lines, each followed by CR LF; ErrorCode is the reply's numeric code
// (2 for a POP3 -ERR).
class EProtocolReplyError : public EMailError {
public:
    EProtocolReplyError(int32_t errorCode, const std::string& message);
    int32_t ErrorCode;
};

// The server refused the OAuth access token (or the SASL exchange): the
// Italian text names the JSON error's status, when it sent one, and the
// server's own words. TokenRefused tells a refused token, which a refresh
// may mend, from a refused mechanism.
class EOAuthRefused : public EMailError {
public:
    EOAuthRefused(const std::string& status, const std::string& serverText, bool tokenRefused);
    bool TokenRefused;
};

// CAPA's SASL line lists neither XOAUTH2 nor OAUTHBEARER: nothing was sent.
class ENoOAuthMechanism : public EMailError {
public:
    ENoOAuthMechanism();
};

// The fixed text of a Windows socket error number, empty when it has none.
std::string SocketErrorText(int32_t number);
// "Socket Error # %d\r\n%s" for that number.
std::string SocketErrorMessage(int32_t number);
// The Windows socket number of a POSIX errno value; values without a
// counterpart are returned unchanged.
int32_t WinsockErrorFromErrno(int err);

}  // namespace kalmuro
