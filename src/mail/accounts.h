// The POP3 accounts of section "Accounts" and the scrambling of their
// passwords. The scrambled form is the stored format shared with files written
// by earlier versions, so the algorithm must not change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kalmuro {

// How a session is protected: none (plain POP3), STLS after the greeting,
// or TLS from the first byte. The values are those stored as "Sicurezza" n.
enum class TSecurity : int32_t { None = 0, Stls = 1, Tls = 2 };

// How the account signs in: user name and password, or an OAuth 2.0 access
// token. The values are those stored as "Accesso" n.
enum class TAccessMethod : int32_t { Password = 0, OAuth = 1 };

// The protocol of the account's mailbox. The values are those stored as
// "Protocollo" n.
enum class TProtocol : int32_t { Pop3 = 0, Imap = 1 };

// What an OAuth account needs to get its tokens. For "google" and
// "microsoft" the endpoints and scopes come from the preset and only the
// client fields are stored; "personalizzato" stores them all.
struct TOAuthSettings {
    std::string Provider;          // "google", "microsoft" or "personalizzato"
    std::string ClientId;
    std::string ClientSecret;      // plain text in memory; stored scrambled
    std::string AuthorizationUrl;  // personalizzato only
    std::string TokenUrl;
    std::string DeviceUrl;         // optional: the device-code endpoint
    std::string Scope;             // separated by spaces
    bool operator==(const TOAuthSettings&) const = default;
};

// The tokens a sign-in or a refresh brought; an empty refresh token means
// the server kept the old one.
struct TOAuthTokens {
    std::string AccessToken;
    int64_t Expiry = 0;  // seconds since the epoch
    std::string RefreshToken;
};

struct TMailAccount {
    std::string AccountName;
    std::string PopServer;
    std::string UserId;
    std::string UserPwd;  // plain text in memory
    std::string Port = "110";
    bool Apop = false;
    bool Active = true;
    TSecurity Security = TSecurity::None;
    // The SHA-256 fingerprint of the one certificate the user accepted for
    // this server although it could not be verified; empty when none.
    std::string Fingerprint;
    // The n of the account's keys in the settings file it was loaded from
    // (0 when it was not loaded): where a later accepted certificate goes.
    int32_t StoredNumber = 0;
    // The password is not in UserPwd but in the desktop's keyring, under the
    // server, port and user the account had when it was loaded; it is read
    // from there when the account is used. Saved as an empty "UserPwd" n.
    bool PasswordInKeyring = false;

    TAccessMethod Access = TAccessMethod::Password;
    TOAuthSettings OAuth;
    // The OAuth refresh token, kept where the password would be: scrambled
    // as "TokenRinnovo" n, or in the keyring (then empty here until read).
    std::string RefreshToken;
    bool RefreshTokenInKeyring = false;
    // The access token lives in memory (and the keyring, when on), never in
    // the settings file; its expiry in seconds since the epoch, 0 = unknown.
    std::string AccessToken;
    int64_t AccessTokenExpiry = 0;

    // IMAP only: the folder checked and cleaned ("Cartella" n).
    TProtocol Protocol = TProtocol::Pop3;
    std::string Folder = "INBOX";

    bool IsOAuth() const { return Access == TAccessMethod::OAuth; }
    bool IsImap() const { return Protocol == TProtocol::Imap; }
};

// An account's position is its account index.
using TArrayOfMailAccount = std::vector<TMailAccount>;

inline constexpr int32_t PasswordKey = 71829;
// The key stems of the two values that protect a session.
inline constexpr const char* kKeySecurity = "Sicurezza";
inline constexpr const char* kKeyFingerprint = "Impronta";
// The key stems of OAuth sign-in; none is written for a password account.
inline constexpr const char* kKeyAccess = "Accesso";
inline constexpr const char* kKeyProvider = "Provider";
inline constexpr const char* kKeyClientId = "IdClient";
inline constexpr const char* kKeyClientSecret = "SegretoClient";
inline constexpr const char* kKeyAuthorizationUrl = "UrlAutorizzazione";
inline constexpr const char* kKeyTokenUrl = "UrlToken";
inline constexpr const char* kKeyDeviceUrl = "UrlDispositivo";
inline constexpr const char* kKeyScope = "Ambito";
inline constexpr const char* kKeyRefreshToken = "TokenRinnovo";
// The key stems of an IMAP account; none is written for a POP3 account.
inline constexpr const char* kKeyProtocol = "Protocollo";
inline constexpr const char* kKeyFolder = "Cartella";
inline constexpr const char* kDefaultFolder = "INBOX";
inline constexpr const char* kProviderGoogle = "google";
inline constexpr const char* kProviderMicrosoft = "microsoft";
inline constexpr const char* kProviderCustom = "personalizzato";
// The usual ports of plain POP3 and of POP3 over TLS.
inline constexpr const char* kPortPop3 = "110";
inline constexpr const char* kPortPop3s = "995";
// The usual ports of IMAP (plain or STARTTLS) and of IMAP over TLS.
inline constexpr const char* kPortImap = "143";
inline constexpr const char* kPortImaps = "993";

// The port to show after the user picked a security: "110" becomes "995"
// with TLS from the first byte, "995" becomes "110" with the others; any
// other port stays as typed.
std::string PortForSecurity(const std::string& port, TSecurity security);
// The same after a change of protocol or security: any of the four usual
// ports becomes the usual one of the protocol and security chosen (993 for
// IMAP over TLS, 143 for the other IMAP choices); any other port stays.
std::string PortForProtocol(const std::string& port, TProtocol protocol, TSecurity security);
// The endpoints, scopes and server of a provider. Custom is the account's
// own fields; an unknown provider gives all empty.
struct TOAuthEndpoints {
    std::string AuthorizationUrl, TokenUrl, DeviceUrl, Scope;
    std::string PopServer, Port;
    TSecurity Security = TSecurity::None;
};
// The preset of "google" or "microsoft" (Microsoft through the "common"
// tenant, for consumer and work mailboxes alike); for any other provider the
// account's own URLs and scopes.
// IMAP gets the provider's IMAP server, port and permission.
TOAuthEndpoints OAuthEndpoints(const TOAuthSettings& settings,
                               TProtocol protocol = TProtocol::Pop3);
// Writes "TokenRinnovo" n (StoredNumber) scrambled into the settings file,
// every other byte kept; an empty token erases the key. Raises EIniWriteError.
void StoreRefreshTokenInFile(const TMailAccount& account, const std::string& token,
                             const std::string& path = "");

// Writes "Impronta" n of the account (its StoredNumber) into the settings
// file: the certificate the user accepted. Raises EIniWriteError.
void StoreAcceptedFingerprint(const TMailAccount& account, const std::string& path = "");

// Random digits put before and after a password when it is scrambled.
inline constexpr int FillerDigits = 5;

// Fills accounts from the settings file: keys / 3 slots are tried, a slot whose
// trimmed server or user is empty is skipped without leaving a hole. accounts
// is replaced only when the whole load succeeds; a conversion error of "APOP",
// "Attivo" or "Sicurezza" (a value other than 0, 1 or 2 included) leaves it
// unchanged. So does an "Accesso" or a "Protocollo" other than 0 or 1.
void LoadAccounts(TArrayOfMailAccount& accounts, const std::string& path = "");
// Erases section "Accounts" and writes every account numbered from 1, seven
// keys each, values untrimmed, then "Sicurezza" n when the account is
// protected and "Impronta" n when it has an accepted certificate: a file
// without either is written exactly as before they existed. Raises
// EIniWriteError when a write fails.
void SaveAccounts(const TArrayOfMailAccount& accounts, const std::string& path = "");
// The keys and values SaveAccounts writes into section "Accounts", in order;
// an account whose password is in the keyring gets an empty "UserPwd" n.
std::vector<std::pair<std::string, std::string>> AccountEntries(
    const TArrayOfMailAccount& accounts);

// FillerDigits random digits, the text, FillerDigits more, then every byte at
// position j (from 1) becomes (c + (key & 0xFF) + j) mod 256. The digits come
// from the system's random source.
std::string ScrambleText(int32_t key, std::string_view text);
// The same with the 2 * FillerDigits filler digits given (the first five go in
// front, the last five behind); for tests and reproducible output.
std::string ScrambleTextWithFiller(int32_t key, std::string_view text, std::string_view filler);
// Undoes ScrambleText; a text shorter than 2 * FillerDigits is returned as it is.
std::string UnscrambleText(int32_t key, std::string_view text);

// Two upper-case hexadecimal digits per byte, high digit first.
std::string HexEncode(std::string_view text);
// Pairs of digits from the start; a last odd digit is ignored; a character
// that is not a hexadecimal digit counts as 0.
std::string HexDecode(std::string_view text);

}  // namespace kalmuro
