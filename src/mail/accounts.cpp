#include "mail/accounts.h"

#include <random>

#include "mail/errors.h"
#include "mail/settings.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

// A filler digit per call of the system's random source, not a clock-seeded
// generator: two scrambles in the same clock tick must not share filler.
char RandomDigit() {
    static std::random_device source;
    std::uniform_int_distribution<int> digit(0, 9);
    return static_cast<char>('0' + digit(source));
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;  // stored passwords are not validated: anything else counts as 0
}

std::string Slot(const char* stem, size_t n) { return stem + std::to_string(n); }

}  // namespace

std::string ScrambleTextWithFiller(int32_t key, std::string_view text, std::string_view filler) {
    std::string digits(filler.substr(0, 2 * FillerDigits));
    digits.resize(2 * FillerDigits, '0');
    std::string result;
    result.reserve(text.size() + digits.size());
    result.append(digits, 0, FillerDigits);
    result.append(text);
    result.append(digits, FillerDigits, FillerDigits);
    const unsigned k = static_cast<uint32_t>(key) & 0xFFu;
    for (size_t j = 1; j <= result.size(); ++j) {
        const unsigned c = static_cast<unsigned char>(result[j - 1]);
        result[j - 1] = static_cast<char>((c + k + j) & 0xFFu);
    }
    return result;
}

std::string ScrambleText(int32_t key, std::string_view text) {
    std::string filler(2 * FillerDigits, '0');
    for (char& c : filler) c = RandomDigit();
    return ScrambleTextWithFiller(key, text, filler);
}

std::string UnscrambleText(int32_t key, std::string_view text) {
    if (text.size() < 2 * static_cast<size_t>(FillerDigits)) return std::string(text);
    const unsigned k = static_cast<uint32_t>(key) & 0xFFu;
    std::string plain(text.substr(FillerDigits, text.size() - 2 * FillerDigits));
    for (size_t i = 0; i < plain.size(); ++i) {
        const size_t j = i + 1 + FillerDigits;  // position in the scrambled text
        const unsigned c = static_cast<unsigned char>(plain[i]);
        plain[i] = static_cast<char>((c - k - j) & 0xFFu);
    }
    return plain;
}

std::string HexEncode(std::string_view text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(text.size() * 2);
    for (unsigned char c : text) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 0x0F];
    }
    return hex;
}

std::string HexDecode(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes += static_cast<char>(HexValue(text[i]) * 16 + HexValue(text[i + 1]));
    return bytes;
}

std::string PortForProtocol(const std::string& port, TProtocol protocol, TSecurity security) {
    if (port != kPortPop3 && port != kPortPop3s && port != kPortImap && port != kPortImaps)
        return port;
    const bool tls = security == TSecurity::Tls;
    if (protocol == TProtocol::Imap) return tls ? kPortImaps : kPortImap;
    return tls ? kPortPop3s : kPortPop3;
}

std::string PortForSecurity(const std::string& port, TSecurity security) {
    if (security == TSecurity::Tls && port == kPortPop3) return kPortPop3s;
    if (security != TSecurity::Tls && port == kPortPop3s) return kPortPop3;
    return port;
}

TOAuthEndpoints OAuthEndpoints(const TOAuthSettings& settings, TProtocol protocol) {
    const bool imap = protocol == TProtocol::Imap;
    const char* port = imap ? kPortImaps : kPortPop3s;
    if (settings.Provider == kProviderGoogle)
        return {"https://accounts.google.com/o/oauth2/v2/auth", "https://oauth2.googleapis.com/token",
                // Google's device flow does not grant the mail scope.
                "", "https://mail.google.com/", imap ? "imap.gmail.com" : "pop.gmail.com", port,
                TSecurity::Tls};
    // Microsoft grants each protocol its own permission: a token for POP3
    // is refused by its IMAP server and the other way round.
    if (settings.Provider == kProviderMicrosoft)
        return {"https://login.microsoftonline.com/common/oauth2/v2.0/authorize",
                "https://login.microsoftonline.com/common/oauth2/v2.0/token",
                "https://login.microsoftonline.com/common/oauth2/v2.0/devicecode",
                imap ? "https://outlook.office.com/IMAP.AccessAsUser.All offline_access"
                     : "https://outlook.office.com/POP.AccessAsUser.All offline_access",
                "outlook.office365.com", port, TSecurity::Tls};
    if (settings.Provider == kProviderCustom)
        return {settings.AuthorizationUrl, settings.TokenUrl, settings.DeviceUrl, settings.Scope,
                "", "", TSecurity::None};
    return {};
}

void StoreRefreshTokenInFile(const TMailAccount& account, const std::string& token,
                             const std::string& path) {
    const std::string key = Slot(kKeyRefreshToken, static_cast<size_t>(account.StoredNumber));
    TIniEdit edit(path);
    if (token.empty())
        edit.EraseKey(kSectionAccounts, key);
    else
        edit.SetValue(kSectionAccounts, key, HexEncode(ScrambleText(PasswordKey, token)));
    edit.Save();
}

void StoreAcceptedFingerprint(const TMailAccount& account, const std::string& path) {
    WriteIniString(kSectionAccounts, Slot(kKeyFingerprint, static_cast<size_t>(account.StoredNumber)),
                   account.Fingerprint, path);
}

void LoadAccounts(TArrayOfMailAccount& accounts, const std::string& path) {
    TArrayOfMailAccount loaded;
    const size_t slots =
        static_cast<size_t>(ReadIniSection(kSectionAccounts, nullptr, nullptr, path)) / 3;
    for (size_t n = 1; n <= slots; ++n) {
        const std::string server =
            Trim(ReadIniString(kSectionAccounts, Slot("PopServer", n), "", path));
        const std::string user = Trim(ReadIniString(kSectionAccounts, Slot("UserId", n), "", path));
        const std::string password =
            Trim(ReadIniScrambled(kSectionAccounts, Slot("UserPwd", n), "", PasswordKey, path));
        if (server.empty() || user.empty()) continue;
        TMailAccount a;
        a.PopServer = server;
        a.UserId = user;
        a.UserPwd = password;
        a.Port = ReadIniString(kSectionAccounts, Slot("Porta", n), "110", path);
        a.Apop = ReadIniBool(kSectionAccounts, Slot("APOP", n), false, path);
        a.Active = ReadIniBool(kSectionAccounts, Slot("Attivo", n), true, path);
        a.AccountName = ReadIniString(kSectionAccounts, Slot("Account", n), user, path);
        const std::string security = ReadIniString(kSectionAccounts, Slot(kKeySecurity, n), "0", path);
        const int32_t value = StrToInt(security);
        if (value < 0 || value > 2)
            throw EConvertError("'" + security + "' is not a valid security value");
        a.Security = static_cast<TSecurity>(value);
        a.Fingerprint = ReadIniString(kSectionAccounts, Slot(kKeyFingerprint, n), "", path);
        a.StoredNumber = static_cast<int32_t>(n);
        const std::string access = ReadIniString(kSectionAccounts, Slot(kKeyAccess, n), "0", path);
        const int32_t method = StrToInt(access);
        if (method < 0 || method > 1)
            throw EConvertError("'" + access + "' is not a valid access value");
        a.Access = static_cast<TAccessMethod>(method);
        const std::string protocol =
            ReadIniString(kSectionAccounts, Slot(kKeyProtocol, n), "0", path);
        const int32_t kind = StrToInt(protocol);
        if (kind < 0 || kind > 1)
            throw EConvertError("'" + protocol + "' is not a valid protocol value");
        a.Protocol = static_cast<TProtocol>(kind);
        if (a.IsImap()) {
            // A folder's name may hold blanks of its own: kept as typed.
            a.Folder = ReadIniString(kSectionAccounts, Slot(kKeyFolder, n), kDefaultFolder, path);
            if (Trim(a.Folder).empty()) a.Folder = kDefaultFolder;
        }
        if (a.IsOAuth()) {
            const auto read = [&](const char* stem) {
                return Trim(ReadIniString(kSectionAccounts, Slot(stem, n), "", path));
            };
            a.OAuth.Provider = read(kKeyProvider);
            a.OAuth.ClientId = read(kKeyClientId);
            a.OAuth.ClientSecret = Trim(
                ReadIniScrambled(kSectionAccounts, Slot(kKeyClientSecret, n), "", PasswordKey, path));
            a.OAuth.AuthorizationUrl = read(kKeyAuthorizationUrl);
            a.OAuth.TokenUrl = read(kKeyTokenUrl);
            a.OAuth.DeviceUrl = read(kKeyDeviceUrl);
            a.OAuth.Scope = read(kKeyScope);
            a.RefreshToken = Trim(
                ReadIniScrambled(kSectionAccounts, Slot(kKeyRefreshToken, n), "", PasswordKey, path));
        }
        loaded.push_back(std::move(a));
    }
    accounts = std::move(loaded);
}

void SaveAccounts(const TArrayOfMailAccount& accounts, const std::string& path) {
    // One replacement of the file rather than one per key: the same result,
    // all or nothing, and one flush to disk instead of seven per account.
    ReplaceIniSection(kSectionAccounts, AccountEntries(accounts), path);
}

std::vector<std::pair<std::string, std::string>> AccountEntries(
    const TArrayOfMailAccount& accounts) {
    std::vector<std::pair<std::string, std::string>> entries;
    entries.reserve(accounts.size() * 7);
    for (size_t i = 0; i < accounts.size(); ++i) {
        const TMailAccount& a = accounts[i];
        const size_t n = i + 1;
        entries.emplace_back(Slot("PopServer", n), a.PopServer);
        entries.emplace_back(Slot("UserId", n), a.UserId);
        entries.emplace_back(
            Slot("UserPwd", n),
            a.PasswordInKeyring ? std::string() : HexEncode(ScrambleText(PasswordKey, a.UserPwd)));
        entries.emplace_back(Slot("Porta", n), a.Port);
        entries.emplace_back(Slot("APOP", n), a.Apop ? "1" : "0");
        entries.emplace_back(Slot("Attivo", n), a.Active ? "1" : "0");
        entries.emplace_back(Slot("Account", n), a.AccountName);
        if (a.Security != TSecurity::None)
            entries.emplace_back(Slot(kKeySecurity, n),
                                 std::to_string(static_cast<int32_t>(a.Security)));
        if (!a.Fingerprint.empty()) entries.emplace_back(Slot(kKeyFingerprint, n), a.Fingerprint);
        if (a.IsImap()) {
            entries.emplace_back(Slot(kKeyProtocol, n), "1");
            entries.emplace_back(Slot(kKeyFolder, n), a.Folder.empty() ? kDefaultFolder : a.Folder);
        }
        if (!a.IsOAuth()) continue;
        const auto put = [&](const char* stem, const std::string& value) {
            if (!value.empty()) entries.emplace_back(Slot(stem, n), value);
        };
        const auto putScrambled = [&](const char* stem, const std::string& value) {
            if (!value.empty())
                entries.emplace_back(Slot(stem, n), HexEncode(ScrambleText(PasswordKey, value)));
        };
        entries.emplace_back(Slot(kKeyAccess, n), "1");
        put(kKeyProvider, a.OAuth.Provider);
        put(kKeyClientId, a.OAuth.ClientId);
        putScrambled(kKeyClientSecret, a.OAuth.ClientSecret);
        // A preset's endpoints come from the program, so that a provider's
        // move reaches every account with the next version.
        if (a.OAuth.Provider == kProviderCustom) {
            put(kKeyAuthorizationUrl, a.OAuth.AuthorizationUrl);
            put(kKeyTokenUrl, a.OAuth.TokenUrl);
            put(kKeyDeviceUrl, a.OAuth.DeviceUrl);
            put(kKeyScope, a.OAuth.Scope);
        }
        if (!a.RefreshTokenInKeyring) putScrambled(kKeyRefreshToken, a.RefreshToken);
    }
    return entries;
}

}  // namespace kalmuro
