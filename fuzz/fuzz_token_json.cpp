// Feeds arbitrary bytes, as a token endpoint's answer, to the parser of
// token answers (with the HTTP status taken from the first byte), to the
// parser of a mail server's SASL error, and, as the payload of a JWT, to
// the reader of the address a token names. Every one of them must either
// give a sound result or raise the error it is documented to raise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mail/auth/oauth_client.h"
#include "mail/auth/sasl.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

constexpr int64_t kNow = 1'800'000'000;
constexpr long kStatuses[] = {200, 201, 204, 302, 400, 401, 403, 429, 500, 503, 0, 199};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const long status = kStatuses[data[0] % (sizeof kStatuses / sizeof kStatuses[0])];
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        const kalmuro::TOAuthTokens tokens = kalmuro::ParseTokenAnswer({status, body}, kNow);
        // Only a success with a token gets here, and its expiry is bounded.
        Check(status >= 200 && status < 300);
        Check(!tokens.AccessToken.empty() && tokens.AccessToken.size() < size);
        Check(tokens.RefreshToken.size() < size);
        Check(tokens.Expiry >= kNow && tokens.Expiry <= kNow + 365LL * 86400);
    } catch (const kalmuro::EOAuthError& e) {
        Check(e.Failure == kalmuro::TOAuthFailure::InvalidGrant ||
              e.Failure == kalmuro::TOAuthFailure::Provider ||
              e.Failure == kalmuro::TOAuthFailure::Network);
        Check(e.what()[0] != '\0');
    }

    const kalmuro::TSaslOAuthError error = kalmuro::ParseSaslOAuthError(body);
    if (!error.Valid) Check(error.Status.empty() && error.Scope.empty() && error.Schemes.empty());

    std::string payload = kalmuro::Base64Encode(body);
    for (char& c : payload) c = c == '+' ? '-' : c == '/' ? '_' : c;
    const std::string address = kalmuro::AddressInToken("eyJhbGciOiJub25lIn0." + payload + ".sig");
    Check(address.size() <= body.size());
    return 0;
}
