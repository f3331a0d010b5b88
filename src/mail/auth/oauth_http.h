// HTTPS requests to an authorization server, through libcurl's multi
// interface so that the caller's idle hook runs while the answer is awaited
// and a Stop ends the wait. Certificates and host names are always verified,
// against the system's authorities (SSL_CERT_FILE and SSL_CERT_DIR honoured
// as for POP3 over TLS); plain http:// is refused before anything is sent.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "mail/errors.h"

namespace kalmuro {

// Why an OAuth step failed. Network: the server could not be reached, or
// did not answer in time; a check reports it as a connection failure and
// tries again next time. InvalidGrant: the grant is gone, only a new sign-in
// helps. Stopped: the user ended the wait.
enum class TOAuthFailure { Network, InvalidGrant, Provider, Insecure, Stopped, Browser };

// The message is the Italian text the user is shown; it never holds a token.
class EOAuthError : public EMailError {
public:
    EOAuthError(TOAuthFailure failure, const std::string& message)
        : EMailError(message), Failure(failure) {}
    TOAuthFailure Failure;
};

// How a request waits: the time-out of the whole request in ms, the idle
// hook run between slices of at most 100 ms, and the question whether the
// user pressed Stop.
struct TOAuthWait {
    int32_t TimeoutMs = 60000;
    std::function<void()> OnIdle;
    std::function<bool()> StopRequested;
};

struct THttpAnswer {
    long Status = 0;
    std::string Body;  // untrusted
};

// application/x-www-form-urlencoded: name=value pairs, percent-encoded.
std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields);
std::string PercentEncode(const std::string& text);
// The host of an address ("https://host:port/path" -> "host"), for messages.
std::string UrlHost(const std::string& url);
// Whether the address is https:// (any case).
bool IsHttpsUrl(const std::string& url);

// POSTs the form to url. Raises EOAuthError: Insecure for a non-https
// address, Network when the server cannot be reached, the TLS check fails or
// the time-out passes, Stopped after Stop. Any HTTP status is an answer.
THttpAnswer HttpPostForm(const std::string& url,
                         const std::vector<std::pair<std::string, std::string>>& fields,
                         const TOAuthWait& wait);

}  // namespace kalmuro
