// Where the accounts' passwords live: scrambled in the settings file, or,
// with "Portachiavi" on, in the desktop's keyring, one item per account
// labelled "Kalmuro: <account name>" and found by application, server, port,
// user and kind. Moving them is a save: the keyring first, then the file in
// one replacement, then the items no longer used; a failure anywhere puts
// both back as they were, and a crash between two steps leaves every
// password in at least one of them.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "mail/accounts.h"
#include "secrets/secret_store.h"

namespace kalmuro {

// "Setup": the passwords are in the desktop's keyring (default off; the key
// is written only while it is on).
inline constexpr const char* kKeyKeyring = "Portachiavi";
inline constexpr const char* kSecretLabelPrefix = "Kalmuro: ";

// "Portachiavi" of the settings file. Raises EConvertError for a value that
// is no number.
bool KeyringEnabled(const std::string& path = "");

TSecretAttributes PasswordAttributes(const TMailAccount& account);
// The items of an OAuth account's refresh token and of its cached access
// token (secret: "<expiry> <token>", the expiry in seconds since the epoch).
TSecretAttributes RefreshTokenAttributes(const TMailAccount& account);
TSecretAttributes AccessTokenAttributes(const TMailAccount& account);
std::string AccessTokenSecret(const std::string& token, int64_t expiry);
// False for a secret not of that form.
bool ParseAccessTokenSecret(const std::string& secret, std::string& token, int64_t& expiry);
std::string SecretLabel(const TMailAccount& account);

// "Password non trovata nel portachiavi per <account>".
std::string PasswordNotFoundText(const std::string& accountName);
// What the box says when the keyring cannot be used for the option.
std::string KeyringUnavailableText(const std::string& reason);

// The keyring refused or failed while the passwords were saved; the text is
// the Italian one the user sees.
class EKeyringSaveError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// LoadAccounts; with "Portachiavi" on, every account whose file password is
// empty is marked PasswordInKeyring (nothing is asked of the keyring here).
// A password still in the file, written by an older copy, is used as it is
// and moves into the keyring at the next save.
void LoadAccountsWithSecrets(TArrayOfMailAccount& accounts, const std::string& path = "");

// The password of the keyring's item for the account as it was loaded
// (stored: its server, port and user then). Nothing when the keyring has no
// such item or cannot be reached; why then gets the reason.
std::optional<std::string> ReadKeyringPassword(const TMailAccount& stored,
                                               std::string* why = nullptr);

// Whether the keyring answers; false with the reason when it does not.
bool KeyringReachable(std::string& why);

// Saves the accounts and "Portachiavi" = keyring. loaded: the accounts as
// they were loaded (StoredNumber ties the two), so that the items of renamed,
// moved and deleted accounts follow. A password not yet read from the
// keyring is read only when it has to move. With the keyring off before and
// after, no request reaches it and the file is written exactly as
// SaveAccounts writes it. Raises EKeyringSaveError or EIniWriteError; the
// file and the keyring are then as they were.
void SaveAccountsWithSecrets(const TArrayOfMailAccount& accounts, const TArrayOfMailAccount& loaded,
                             bool keyring, const std::string& path = "");

// Sets the password of account number n (as in "UserPwd" n) where the
// settings keep it: the keyring (and an old password left in the file is
// emptied after), or "UserPwd" n, scrambled, every other byte of the file
// kept. True when it went into the keyring; name gets the account's name.
// Raises std::invalid_argument when no account has that number, and what
// the saves raise.
bool SetStoredPassword(int32_t number, const std::string& password, std::string* name = nullptr,
                       const std::string& path = "");

// Stores the tokens of the account as it was loaded (stored): with the
// keyring on both go there (and a refresh token an older save left in the
// file is erased after); otherwise the refresh token goes to "TokenRinnovo"
// n, scrambled, and the access token nowhere. True when they went to the
// keyring. Raises EKeyringSaveError or EIniWriteError, leaving both as they
// were.
bool StoreOAuthTokens(const TMailAccount& stored, const TOAuthTokens& tokens,
                      const std::string& path = "");
// StoreOAuthTokens, except that a keyring that fails does not cost the
// refresh token: a rotated one may be the only one still valid, so it goes
// to "TokenRinnovo" n (scrambled) instead, where loading finds it and the
// next store that reaches the keyring takes it out again. inFileInstead
// tells that this happened. Raises EIniWriteError only.
bool StoreOAuthTokensKeepingRefresh(const TMailAccount& stored, const TOAuthTokens& tokens,
                                    bool& inFileInstead, const std::string& path = "");
// The keyring's refresh token of the account; nothing when there is none or
// the keyring fails (why gets the reason).
std::optional<std::string> ReadKeyringRefreshToken(const TMailAccount& stored,
                                                   std::string* why = nullptr);
// The keyring's cached access token; false when there is none.
bool ReadKeyringAccessToken(const TMailAccount& stored, std::string& token, int64_t& expiry);

}  // namespace kalmuro
