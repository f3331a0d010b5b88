#include "mail/auth/oauth_client.h"

#include <openssl/rand.h>
#include <openssl/sha.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "mail/auth/loopback_redirect.h"
#include "mail/auth/sasl.h"

namespace kalmuro {

namespace {

std::function<int64_t()>& Clock() {
    static std::function<int64_t()> clock;
    return clock;
}

std::string Base64Url(std::string_view bytes) {
    std::string text = Base64Encode(bytes);
    for (char& c : text) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    while (!text.empty() && text.back() == '=') text.pop_back();
    return text;
}

std::string RandomBytes(size_t n) {
    std::string bytes(n, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(n)) != 1)
        throw EOAuthError(TOAuthFailure::Provider, "Impossibile generare un valore casuale");
    return bytes;
}

std::string Text(const nlohmann::json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_string()) return {};
    return it->get<std::string>();
}

int64_t Number(const nlohmann::json& object, const char* name, int64_t fallback) {
    const auto it = object.find(name);
    if (it == object.end()) return fallback;
    if (it->is_number_integer()) return it->get<int64_t>();
    // Some servers send numbers as strings.
    if (it->is_string()) {
        const std::string s = it->get<std::string>();
        if (!s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == std::string::npos)
            return std::stoll(s);
    }
    return fallback;
}

nlohmann::json ParseObject(const std::string& body) {
    nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    return parsed.is_object() ? parsed : nlohmann::json();
}

// Raises the error an answer carries; returns its object when it has none.
nlohmann::json CheckedObject(const THttpAnswer& answer) {
    const nlohmann::json object = ParseObject(answer.Body);
    const std::string error = object.is_object() ? Text(object, "error") : "";
    if (!error.empty()) {
        const std::string description = Text(object, "error_description");
        const std::string text = "Il servizio di accesso ha rifiutato la richiesta (" + error + ")" +
                                 (description.empty() ? "" : ": " + description);
        throw EOAuthError(error == "invalid_grant" ? TOAuthFailure::InvalidGrant
                                                   : TOAuthFailure::Provider,
                          text);
    }
    if (answer.Status >= 500)
        throw EOAuthError(TOAuthFailure::Network, "Il servizio di accesso non risponde (errore " +
                                                      std::to_string(answer.Status) + ")");
    if (answer.Status < 200 || answer.Status >= 300 || !object.is_object())
        throw EOAuthError(TOAuthFailure::Provider,
                          "Risposta non valida dal servizio di accesso (stato " +
                              std::to_string(answer.Status) + ")");
    return object;
}

std::vector<std::pair<std::string, std::string>> ClientFields(const TOAuthClientConfig& config) {
    std::vector<std::pair<std::string, std::string>> fields = {{"client_id", config.ClientId}};
    if (!config.ClientSecret.empty()) fields.emplace_back("client_secret", config.ClientSecret);
    return fields;
}

// Sleeps for ms in slices, running the idle hook; false after Stop.
void IdleFor(int64_t ms, const TOAuthWait& wait) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(ms, 50)));
        if (wait.OnIdle) wait.OnIdle();
        if (wait.StopRequested && wait.StopRequested())
            throw EOAuthError(TOAuthFailure::Stopped, "Operazione interrotta");
    }
}

}  // namespace

TOAuthClientConfig OAuthClientConfig(const TMailAccount& account) {
    const TOAuthEndpoints e = OAuthEndpoints(account.OAuth, account.Protocol);
    return {e.AuthorizationUrl, e.TokenUrl, e.DeviceUrl, e.Scope, account.OAuth.ClientId,
            account.OAuth.ClientSecret};
}

int64_t OAuthNow() {
    if (Clock()) return Clock()();
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void SetOAuthClockForTesting(std::function<int64_t()> clock) { Clock() = std::move(clock); }

TOAuthTokens ParseTokenAnswer(const THttpAnswer& answer, int64_t now) {
    const nlohmann::json object = CheckedObject(answer);
    TOAuthTokens tokens;
    tokens.AccessToken = Text(object, "access_token");
    if (tokens.AccessToken.empty())
        throw EOAuthError(TOAuthFailure::Provider,
                          "Risposta non valida dal servizio di accesso (nessun token)");
    const int64_t lifetime = Number(object, "expires_in", 3600);
    tokens.Expiry = now + std::max<int64_t>(0, std::min<int64_t>(lifetime, 365LL * 86400));
    tokens.RefreshToken = Text(object, "refresh_token");
    return tokens;
}

std::string MakeCodeVerifier() { return Base64Url(RandomBytes(32)); }

std::string CodeChallengeS256(const std::string& verifier) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    return Base64Url(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
}

std::string MakeState() { return Base64Url(RandomBytes(16)); }

std::string AuthorizationAddress(const TOAuthClientConfig& config, const std::string& redirectUri,
                                 const std::string& state, const std::string& challenge) {
    const char separator = config.AuthorizationUrl.find('?') == std::string::npos ? '?' : '&';
    return config.AuthorizationUrl + separator +
           FormEncode({{"response_type", "code"},
                       {"client_id", config.ClientId},
                       {"redirect_uri", redirectUri},
                       {"scope", config.Scope},
                       {"state", state},
                       {"code_challenge", challenge},
                       {"code_challenge_method", "S256"},
                       // Google hands out a refresh token only when asked.
                       {"access_type", "offline"},
                       {"prompt", "consent"}});
}

TOAuthTokens ExchangeAuthorizationCode(const TOAuthClientConfig& config, const std::string& code,
                                       const std::string& verifier, const std::string& redirectUri,
                                       const TOAuthWait& wait) {
    auto fields = ClientFields(config);
    fields.insert(fields.begin(), {{"grant_type", "authorization_code"},
                                   {"code", code},
                                   {"redirect_uri", redirectUri},
                                   {"code_verifier", verifier}});
    return ParseTokenAnswer(HttpPostForm(config.TokenUrl, fields, wait), OAuthNow());
}

std::optional<TOAuthTokens> SignInThroughBrowser(
    const TOAuthClientConfig& config, const std::function<bool(const std::string&)>& openBrowser,
    const TOAuthWait& wait) {
    TLoopbackRedirect listener;
    const std::string verifier = MakeCodeVerifier();
    const std::string state = MakeState();
    const std::string address =
        AuthorizationAddress(config, listener.RedirectUri(), state, CodeChallengeS256(verifier));
    if (!openBrowser || !openBrowser(address)) return std::nullopt;
    const auto query = listener.Wait(kBrowserSignInWaitMs, wait);
    const std::string code = CodeFromRedirect(query, state);
    return ExchangeAuthorizationCode(config, code, verifier, listener.RedirectUri(), wait);
}

TOAuthTokens RefreshAccessToken(const TOAuthClientConfig& config, const std::string& refreshToken,
                                const TOAuthWait& wait) {
    auto fields = ClientFields(config);
    fields.insert(fields.begin(),
                  {{"grant_type", "refresh_token"}, {"refresh_token", refreshToken}});
    return ParseTokenAnswer(HttpPostForm(config.TokenUrl, fields, wait), OAuthNow());
}

TDeviceAuthorization StartDeviceAuthorization(const TOAuthClientConfig& config,
                                              const TOAuthWait& wait) {
    auto fields = ClientFields(config);
    fields.emplace_back("scope", config.Scope);
    const nlohmann::json object = CheckedObject(HttpPostForm(config.DeviceUrl, fields, wait));
    TDeviceAuthorization device;
    device.DeviceCode = Text(object, "device_code");
    device.UserCode = Text(object, "user_code");
    device.VerificationUri = Text(object, "verification_uri");
    if (device.VerificationUri.empty()) device.VerificationUri = Text(object, "verification_url");
    device.Message = Text(object, "message");
    device.IntervalSeconds =
        static_cast<int32_t>(std::clamp<int64_t>(Number(object, "interval", 5), 1, 60));
    device.ExpiresInSeconds =
        static_cast<int32_t>(std::clamp<int64_t>(Number(object, "expires_in", 900), 1, 3600));
    if (device.DeviceCode.empty() || device.UserCode.empty() || device.VerificationUri.empty())
        throw EOAuthError(TOAuthFailure::Provider,
                          "Risposta non valida dal servizio di accesso (codice del dispositivo)");
    return device;
}

TOAuthTokens PollDeviceToken(const TOAuthClientConfig& config, const TDeviceAuthorization& device,
                             const TOAuthWait& wait) {
    int64_t interval = device.IntervalSeconds;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(device.ExpiresInSeconds);
    auto fields = ClientFields(config);
    fields.insert(fields.begin(), {{"grant_type", "urn:ietf:params:oauth:grant-type:device_code"},
                                   {"device_code", device.DeviceCode}});
    while (std::chrono::steady_clock::now() < end) {
        IdleFor(interval * 1000, wait);
        const THttpAnswer answer = HttpPostForm(config.TokenUrl, fields, wait);
        const nlohmann::json object = ParseObject(answer.Body);
        const std::string error = object.is_object() ? Text(object, "error") : "";
        if (error == "authorization_pending") continue;
        if (error == "slow_down") {
            interval += 5;
            continue;
        }
        if (error == "expired_token" || error == "access_denied")
            throw EOAuthError(TOAuthFailure::Browser,
                              error == "expired_token"
                                  ? "Il codice di accesso \xE8 scaduto: ripetere l'accesso"  // è
                                  : "Accesso negato dall'utente");
        return ParseTokenAnswer(answer, OAuthNow());
    }
    throw EOAuthError(TOAuthFailure::Browser,
                      "Il codice di accesso \xE8 scaduto: ripetere l'accesso");  // è
}

std::string AddressInToken(const std::string& jwt) {
    const size_t first = jwt.find('.');
    const size_t second = first == std::string::npos ? first : jwt.find('.', first + 1);
    if (second == std::string::npos) return {};
    std::string payload = jwt.substr(first + 1, second - first - 1);
    for (char& c : payload) {
        if (c == '-') c = '+';
        if (c == '_') c = '/';
    }
    const std::optional<std::string> json = Base64Decode(payload);
    if (!json) return {};
    const nlohmann::json object = ParseObject(*json);
    if (!object.is_object()) return {};
    for (const char* name : {"email", "preferred_username", "upn"})
        if (std::string value = Text(object, name); !value.empty()) return value;
    return {};
}

}  // namespace kalmuro
