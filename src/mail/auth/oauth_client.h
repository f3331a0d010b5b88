// The OAuth 2.0 client of a mail account: the authorization-code flow with
// PKCE (S256) and a loopback redirect, the device-code flow, and refreshes.
// Every request goes through HttpPostForm; every answer is untrusted JSON.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "mail/accounts.h"
#include "mail/auth/oauth_http.h"

namespace kalmuro {

// What a flow needs of the account: its provider's endpoints and its client.
struct TOAuthClientConfig {
    std::string AuthorizationUrl, TokenUrl, DeviceUrl, Scope;
    std::string ClientId, ClientSecret;
};
TOAuthClientConfig OAuthClientConfig(const TMailAccount& account);

// The clock the expiry is reckoned by, in seconds since the epoch; tests
// may move it.
int64_t OAuthNow();
void SetOAuthClockForTesting(std::function<int64_t()> clock);

// A token endpoint's answer. Success: the tokens (Expiry from expires_in,
// an hour when absent). Otherwise EOAuthError: InvalidGrant for
// "invalid_grant", Provider for any other error or an answer that is no
// token, with the error's code and description in the text.
TOAuthTokens ParseTokenAnswer(const THttpAnswer& answer, int64_t now);

// PKCE: a verifier of 43 characters from the system's random source, and
// its S256 challenge.
std::string MakeCodeVerifier();
std::string CodeChallengeS256(const std::string& verifier);
// A random value for "state".
std::string MakeState();

// The address the browser opens.
std::string AuthorizationAddress(const TOAuthClientConfig& config, const std::string& redirectUri,
                                 const std::string& state, const std::string& challenge);

// How long a browser sign-in waits for the user: five minutes.
inline constexpr int32_t kBrowserSignInWaitMs = 5 * 60 * 1000;
// The browser sign-in of the authorization-code flow: a loopback listener,
// the provider's page handed to openBrowser, a wait of at most
// kBrowserSignInWaitMs for the redirect, and the code exchanged for tokens.
// Nothing when there is no browser to open or it could not be opened; a
// failure on the way raises (EOAuthError, or the listener's own error).
std::optional<TOAuthTokens> SignInThroughBrowser(
    const TOAuthClientConfig& config, const std::function<bool(const std::string&)>& openBrowser,
    const TOAuthWait& wait);

// One POST each.
TOAuthTokens ExchangeAuthorizationCode(const TOAuthClientConfig& config, const std::string& code,
                                       const std::string& verifier, const std::string& redirectUri,
                                       const TOAuthWait& wait);
TOAuthTokens RefreshAccessToken(const TOAuthClientConfig& config, const std::string& refreshToken,
                                const TOAuthWait& wait);

// The device-code flow: what to show the user, then polling until they
// have signed in, the code expired, or Stop.
struct TDeviceAuthorization {
    std::string DeviceCode, UserCode, VerificationUri, Message;
    int32_t IntervalSeconds = 5;
    int32_t ExpiresInSeconds = 900;
};
TDeviceAuthorization StartDeviceAuthorization(const TOAuthClientConfig& config,
                                              const TOAuthWait& wait);
// Polls at the interval the server asks (more slowly after "slow_down"),
// each wait sliced for the idle hook. Raises EOAuthError as ParseTokenAnswer
// and Browser for a code that expired or was declined.
TOAuthTokens PollDeviceToken(const TOAuthClientConfig& config, const TDeviceAuthorization& device,
                             const TOAuthWait& wait);

// The e-mail address an ID token or an access token in JWT form names
// ("email", "preferred_username" or "upn"), without checking its signature:
// it is only shown. Empty when there is none.
std::string AddressInToken(const std::string& jwt);

}  // namespace kalmuro
