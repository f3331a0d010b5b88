// The loopback redirect of a browser sign-in: a listener on 127.0.0.1 (never
// any other address) at a port the system picks, which takes one request,
// answers it with a short Italian page and closes.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "mail/auth/oauth_http.h"

namespace kalmuro {

// The page the browser shows after the redirect.
inline constexpr const char* kRedirectPage =
    "<!DOCTYPE html><html lang=\"it\"><head><meta charset=\"utf-8\"><title>Kalmuro</title></head>"
    "<body><p>Puoi chiudere questa finestra.</p></body></html>";

// The query of a request target ("/?a=1&b=%20" -> a, b), percent- and
// plus-decoded; a name given twice keeps its first value. Untrusted.
std::map<std::string, std::string> ParseQuery(const std::string& target);

class TLoopbackRedirect {
public:
    // Listens at once; raises EOAuthError (Browser) when it cannot.
    TLoopbackRedirect();
    ~TLoopbackRedirect();
    TLoopbackRedirect(const TLoopbackRedirect&) = delete;
    TLoopbackRedirect& operator=(const TLoopbackRedirect&) = delete;

    int32_t Port() const { return FPort; }
    // "http://127.0.0.1:<port>/"
    std::string RedirectUri() const;
    // Waits for the one request (at most timeoutMs, the idle hook run
    // between slices, Stop honoured), answers it, closes, and returns the
    // query of its target. Raises EOAuthError: Browser after the time-out,
    // Stopped after Stop.
    std::map<std::string, std::string> Wait(int32_t timeoutMs, const TOAuthWait& wait);

private:
    int FListen = -1;
    int32_t FPort = 0;
};

// The code of a redirect whose state is `state`. Raises EOAuthError
// (Browser): the provider's error (access_denied...) with its description,
// a state that does not match, or no code.
std::string CodeFromRedirect(const std::map<std::string, std::string>& query,
                             const std::string& state);

}  // namespace kalmuro
