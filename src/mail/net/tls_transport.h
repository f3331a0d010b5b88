// TLS over one connected socket, for POP3 over TLS and after STLS: OpenSSL
// with TLS 1.2 at least, the system's certificate authorities (or a file of
// them), SNI, and the server's name checked against its certificate. A
// certificate that cannot be verified is refused unless it is exactly the one
// whose SHA-256 fingerprint the user accepted for the account.
//
// The transport moves raw bytes only; TTcpConnection waits, slices the waits
// for the anti-freeze and reads lines on top of it, as it does for a plain
// socket.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mail/net/session_errors.h"

struct ssl_st;

namespace kalmuro {

// A TLS session that could not be set up: the handshake failed or was
// stopped, or the server refused or garbled the upgrade.
class ETlsError : public EMailError {
public:
    using EMailError::EMailError;
};

// The server answered STLS with -ERR (refused, or unknown to it), or refused
// IMAP's STARTTLS. LastReply holds that answer.
class EStlsRefused : public ETlsError {
public:
    EStlsRefused();
    // The same refusal in another protocol's words.
    explicit EStlsRefused(const std::string& message) : ETlsError(message) {}
};

// Why a certificate could not be verified, most fundamental first.
enum class TCertificateProblem {
    SelfSigned,        // the server's certificate signs itself
    UnknownAuthority,  // no trusted authority issued it
    NameMismatch,      // issued for another name or address
    Expired,
    NotYetValid,
    Other,  // revoked, wrong purpose, bad signature...
};

// The server's certificate could not be verified and is not the accepted one.
class ECertificateError : public ETlsError {
public:
    ECertificateError(TCertificateProblem problem, std::string fingerprint, std::string detail);
    TCertificateProblem Problem;
    // SHA-256 of the certificate, as upper-case hexadecimal pairs joined by
    // ":" (the form `openssl x509 -fingerprint -sha256` prints).
    std::string Fingerprint;
    // The library's own text of the verification error.
    std::string Detail;
};

// "AB:CD:..." of the bytes.
std::string FingerprintText(std::string_view digest);
// Whether two fingerprints name the same certificate: the hexadecimal digits
// compared without regard to case; colons and blanks are ignored, so a value
// typed by hand in either form matches. An empty text matches nothing.
bool SameFingerprint(std::string_view a, std::string_view b);

class TTlsTransport {
public:
    // Prepares a client session on the connected socket fd. serverName is
    // the server as the user typed it: sent as SNI (unless it is an address)
    // and checked against the certificate. caFile empty: the system's
    // authorities (SSL_CERT_FILE and SSL_CERT_DIR are honoured).
    TTlsTransport(int fd, const std::string& serverName, const std::string& caFile);
    ~TTlsTransport();
    TTlsTransport(const TTlsTransport&) = delete;
    TTlsTransport& operator=(const TTlsTransport&) = delete;

    // One step of the handshake without waiting for the socket. Raises
    // ETlsError when the handshake fails.
    enum class TStep { Done, WantRead, WantWrite };
    TStep HandshakeStep();
    // After the handshake: raises ECertificateError unless the certificate
    // was verified or its fingerprint is `accepted`.
    void CheckCertificate(const std::string& accepted) const;

    // Like recv: the count of plain bytes; 0 at the end of the session, with
    // `lost` set when it ended without the server's close-notify or with a
    // TLS failure; -1 with errno (EAGAIN when nothing came in time).
    ssize_t Read(char* buffer, size_t size, bool dontWait, bool& lost);
    // Like send: the count of plain bytes taken, or -1 with errno
    // (ECONNABORTED for a TLS failure; EAGAIN with dontWait when the socket
    // takes nothing now, after which the next Write must start with the same
    // bytes).
    ssize_t Write(const char* data, size_t size, bool dontWait = false);
    // Sends the close-notify, without waiting for the server's.
    void Shutdown();
    // The protocol and cipher agreed, as "TLSv1.3 TLS_AES_256_GCM_SHA384".
    std::string SessionText() const;

    // For the socket's read and write callbacks.
    int Fd() const { return FFd; }
    bool DontWait() const { return FDontWait; }
    bool FEof = false;
    int FLastErrno = 0;

    // Verification errors seen during the handshake (callback bookkeeping).
    std::vector<int> FVerifyErrors;

private:
    int FFd;
    bool FDontWait = false;
    ssl_st* FSsl = nullptr;
};

}  // namespace kalmuro
