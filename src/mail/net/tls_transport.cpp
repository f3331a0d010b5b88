#include "mail/net/tls_transport.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <memory>
#include <mutex>

#include "mail/net/tcp_connection.h"

namespace kalmuro {

namespace {

// ---------------------------------------------------------------- socket BIO
// Our own socket callbacks rather than the library's: sends must not raise
// SIGPIPE when the server has gone, and a read must be able to look without
// waiting while the socket itself stays blocking for the fast road.

TTlsTransport* Owner(BIO* bio) { return static_cast<TTlsTransport*>(BIO_get_data(bio)); }

int BioWrite(BIO* bio, const char* data, int size) {
    TTlsTransport* t = Owner(bio);
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = send(t->Fd(), data, static_cast<size_t>(size),
                               MSG_NOSIGNAL | (t->DontWait() ? MSG_DONTWAIT : 0));
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_write(bio);
        else
            t->FLastErrno = errno;
        return -1;
    }
}

int BioRead(BIO* bio, char* buffer, int size) {
    TTlsTransport* t = Owner(bio);
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n =
            recv(t->Fd(), buffer, static_cast<size_t>(size), t->DontWait() ? MSG_DONTWAIT : 0);
        if (n > 0) return static_cast<int>(n);
        if (n == 0) {
            t->FEof = true;
            return 0;
        }
        if (errno == EINTR) continue;
        // EAGAIN also ends a wait bounded by the socket's receive time-out.
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_read(bio);
        else
            t->FLastErrno = errno;
        return -1;
    }
}

long BioCtrl(BIO* bio, int command, long, void*) {
    switch (command) {
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_EOF:
            return Owner(bio)->FEof ? 1 : 0;
        default:
            return 0;
    }
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kalmuro socket");
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_ctrl(m, BioCtrl);
        BIO_meth_set_create(m, BioCreate);
        return m;
    }();
    return method;
}

// ---------------------------------------------------------------- context
// One context per set of trusted authorities: reading the system's store
// costs more than a handshake, and deletion opens a session per message.

struct TContextCache {
    std::mutex Mutex;
    std::string CaFile;
    std::shared_ptr<SSL_CTX> Context;
};

std::string LibraryError(const char* fallback) {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason != nullptr ? reason : fallback;
}

std::shared_ptr<SSL_CTX> ClientContext(const std::string& caFile) {
    // Never destroyed: the library's own clean-up at exit may come first.
    static TContextCache& cache = *new TContextCache;
    std::lock_guard<std::mutex> lock(cache.Mutex);
    if (cache.Context && cache.CaFile == caFile) return cache.Context;
    std::shared_ptr<SSL_CTX> ctx(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!ctx) throw ETlsError("TLS unavailable: " + LibraryError("no context"));
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    const int loaded = caFile.empty()
                           ? SSL_CTX_set_default_verify_paths(ctx.get())
                           : SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr);
    if (loaded != 1)
        throw ETlsError("Cannot read the certificate authorities: " + LibraryError(caFile.c_str()));
    // Whole records in one receive call instead of a header and a body.
    SSL_CTX_set_read_ahead(ctx.get(), 1);
    cache.CaFile = caFile;
    cache.Context = ctx;
    return ctx;
}

// Records every verification error and lets the handshake go on: the
// decision (verified, accepted fingerprint, or refused with the reason) is
// taken once the certificate is known.
int VerifyCallback(int ok, X509_STORE_CTX* store) {
    if (ok) return 1;
    SSL* ssl = static_cast<SSL*>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (ssl != nullptr) {
        auto* t = static_cast<TTlsTransport*>(SSL_get_app_data(ssl));
        if (t != nullptr) t->FVerifyErrors.push_back(X509_STORE_CTX_get_error(store));
    }
    return 1;
}

TCertificateProblem ProblemOf(int error) {
    switch (error) {
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            return TCertificateProblem::SelfSigned;
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
            return TCertificateProblem::UnknownAuthority;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return TCertificateProblem::NameMismatch;
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return TCertificateProblem::Expired;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return TCertificateProblem::NotYetValid;
        default:
            return TCertificateProblem::Other;
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The hexadecimal digits of a fingerprint, upper case; empty when the text
// holds anything but digits, colons and blanks.
std::string FingerprintDigits(std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (c == ':' || c == ' ') continue;
        const int v = HexDigit(c);
        if (v < 0) return std::string();
        digits += "0123456789ABCDEF"[v];
    }
    return digits;
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

EStlsRefused::EStlsRefused() : ETlsError("The server refused STLS.") {}

ECertificateError::ECertificateError(TCertificateProblem problem, std::string fingerprint,
                                     std::string detail)
    : ETlsError("Certificate not trusted (" + detail + "). SHA-256 fingerprint: " + fingerprint),
      Problem(problem),
      Fingerprint(std::move(fingerprint)),
      Detail(std::move(detail)) {}

std::string FingerprintText(std::string_view digest) {
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char c : digest) {
        if (!text.empty()) text += ':';
        text += hex[c >> 4];
        text += hex[c & 15];
    }
    return text;
}

bool SameFingerprint(std::string_view a, std::string_view b) {
    const std::string x = FingerprintDigits(a);
    return !x.empty() && x == FingerprintDigits(b);
}

// ---------------------------------------------------------------- transport

TTlsTransport::TTlsTransport(int fd, const std::string& serverName, const std::string& caFile)
    : FFd(fd) {
    const std::shared_ptr<SSL_CTX> ctx = ClientContext(caFile);
    FSsl = SSL_new(ctx.get());  // holds its own reference to the context
    if (FSsl == nullptr) throw ETlsError("TLS unavailable: " + LibraryError("no session"));
    SSL_set_app_data(FSsl, this);
    BIO* bio = BIO_new(SocketMethod());
    if (bio == nullptr) {
        SSL_free(FSsl);
        throw ETlsError("TLS unavailable: " + LibraryError("no socket layer"));
    }
    BIO_set_data(bio, this);
    SSL_set_bio(FSsl, bio, bio);
    SSL_set_verify(FSsl, SSL_VERIFY_PEER, VerifyCallback);
    X509_VERIFY_PARAM* param = SSL_get0_param(FSsl);
    // An address is checked against the certificate's addresses and is
    // never sent as SNI; a name is both.
    if (IsDottedAddress(serverName)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, serverName.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, serverName.c_str(), serverName.size());
        SSL_set_tlsext_host_name(FSsl, serverName.c_str());
    }
    SSL_set_connect_state(FSsl);
    // Output written ahead goes out in parts, from a buffer that may move
    // between the attempts.
    SSL_set_mode(FSsl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
}

TTlsTransport::~TTlsTransport() { SSL_free(FSsl); }

TTlsTransport::TStep TTlsTransport::HandshakeStep() {
    FDontWait = true;
    FLastErrno = 0;
    ERR_clear_error();
    const int rc = SSL_do_handshake(FSsl);
    FDontWait = false;
    if (rc == 1) return TStep::Done;
    switch (SSL_get_error(FSsl, rc)) {
        case SSL_ERROR_WANT_READ:
            return TStep::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return TStep::WantWrite;
        case SSL_ERROR_SYSCALL:
            if (FLastErrno == 0 && ERR_peek_error() == 0)
                throw ETlsError("TLS handshake failed: the server closed the connection");
            [[fallthrough]];
        default:
            break;
    }
    if (ERR_peek_last_error() == 0 && FLastErrno != 0)
        throw ETlsError("TLS handshake failed: " + SocketErrorMessage(WinsockErrorFromErrno(FLastErrno)));
    if (FEof) throw ETlsError("TLS handshake failed: the server closed the connection");
    throw ETlsError("TLS handshake failed: " + LibraryError("unknown error"));
}

void TTlsTransport::CheckCertificate(const std::string& accepted) const {
    X509* cert = SSL_get0_peer_certificate(FSsl);
    if (cert == nullptr)
        throw ECertificateError(TCertificateProblem::Other, std::string(), "no certificate");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha256(), digest, &length);
    const std::string fingerprint =
        FingerprintText(std::string_view(reinterpret_cast<const char*>(digest), length));
    if (FVerifyErrors.empty() && SSL_get_verify_result(FSsl) == X509_V_OK) return;
    // Exactly the certificate the user accepted, whatever its chain says.
    if (SameFingerprint(accepted, fingerprint)) return;
    int worst = FVerifyErrors.empty() ? static_cast<int>(SSL_get_verify_result(FSsl))
                                      : FVerifyErrors.front();
    for (int e : FVerifyErrors)
        if (ProblemOf(e) < ProblemOf(worst)) worst = e;
    throw ECertificateError(ProblemOf(worst), fingerprint, X509_verify_cert_error_string(worst));
}

ssize_t TTlsTransport::Read(char* buffer, size_t size, bool dontWait, bool& lost) {
    FDontWait = dontWait;
    FLastErrno = 0;
    ERR_clear_error();
    const int n = SSL_read(FSsl, buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    FDontWait = false;
    if (n > 0) return n;
    switch (SSL_get_error(FSsl, n)) {
        case SSL_ERROR_ZERO_RETURN:
            return 0;  // the server's close-notify: an orderly end
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            errno = EAGAIN;
            return -1;
        case SSL_ERROR_SYSCALL:
            if (FLastErrno != 0 && !FEof) {
                errno = FLastErrno;
                return -1;
            }
            break;
        default:
            break;
    }
    // Cut without close-notify, or a record that failed: what came before
    // stays readable, but the session cannot pass for complete.
    ERR_clear_error();
    lost = true;
    return 0;
}

ssize_t TTlsTransport::Write(const char* data, size_t size, bool dontWait) {
    FLastErrno = 0;
    ERR_clear_error();
    FDontWait = dontWait;
    const int n = SSL_write(FSsl, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    FDontWait = false;
    if (n > 0) return n;
    const int error = SSL_get_error(FSsl, n);
    ERR_clear_error();
    if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ) {
        errno = EAGAIN;
        return -1;
    }
    errno = error == SSL_ERROR_SYSCALL && FLastErrno != 0 ? FLastErrno : ECONNABORTED;
    return -1;
}

void TTlsTransport::Shutdown() {
    if (SSL_is_init_finished(FSsl)) {
        FDontWait = true;
        SSL_shutdown(FSsl);
        FDontWait = false;
    }
    ERR_clear_error();
}

std::string TTlsTransport::SessionText() const {
    return std::string(SSL_get_version(FSsl)) + " " + SSL_get_cipher_name(FSsl);
}

// ---------------------------------------------------------------- connection
// The connection's side of TLS lives here, next to the transport it drives.

void TTcpConnection::StartTls(const std::string& serverName, const std::string& accepted) {
    CheckForDisconnect(true, true);
    if (!(FHandler && FSocket >= 0)) throw ENotConnected();
    try {
        // Bytes that came in the clear after the STLS answer would be read
        // as if they had come through TLS.
        if (InputBufferSize() != 0) throw ETlsError("Unexpected data before the TLS handshake");
        auto tls = std::make_unique<TTlsTransport>(FSocket, serverName, TlsCaFile);
        const bool sliced = AntiFreeze != nullptr && AntiFreeze->Engaged();
        const int64_t slice = sliced ? std::max<int32_t>(1, AntiFreeze->IdleTimeOut) : -1;
        int64_t remaining = ReadTimeout == 0 ? -1 : ReadTimeout;
        for (;;) {
            const TTlsTransport::TStep step = tls->HandshakeStep();
            if (step == TTlsTransport::TStep::Done) break;
            int64_t wait = remaining;
            if (sliced && (wait < 0 || wait > slice)) wait = slice;
            const int64_t started = NowMs();
            const TWait result = WaitFor(
                step == TTlsTransport::TStep::WantRead ? POLLIN : POLLOUT,
                static_cast<int32_t>(std::min<int64_t>(wait, INT32_MAX)));
            if (result == TWait::Closed) throw ENotConnected();
            if (result == TWait::Ready) continue;
            if (remaining > 0) remaining = std::max<int64_t>(0, remaining - (NowMs() - started));
            if (sliced) {
                AntiFreeze->DoIdle();
                if (FSocket < 0) throw ENotConnected();  // the hook closed us
                if (OnStopRequested && OnStopRequested())
                    throw ETlsError("TLS handshake stopped.");
            }
            if (remaining == 0) throw EReadTimeout();
        }
        tls->CheckCertificate(accepted);
        FTls = std::move(tls);
    } catch (...) {
        // Nothing more is said over a session that failed to become secure.
        CloseConnection();
        throw;
    }
}

std::string TTcpConnection::TlsSessionText() const {
    return FTls ? FTls->SessionText() : std::string();
}

}  // namespace kalmuro
