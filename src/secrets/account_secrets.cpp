#include "secrets/account_secrets.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "mail/atomic_file.h"
#include "mail/settings.h"

namespace kalmuro {

namespace {

std::string KeyringSaveFailedText(const std::string& reason) {
    return "Impossibile salvare le password nel portachiavi del sistema: le impostazioni "
           "restano come erano.\\n(" +
           reason + ")";
}

const TMailAccount* LoadedFor(const TMailAccount& account, const TArrayOfMailAccount& loaded) {
    if (account.StoredNumber == 0) return nullptr;
    for (const TMailAccount& l : loaded)
        if (l.StoredNumber == account.StoredNumber) return &l;
    return nullptr;
}

// The changes one save made to the keyring, each with what it replaced, so
// that a later failure can put them back, the last first.
class TKeyringJournal {
public:
    explicit TKeyringJournal(TSecretStore& store) : FStore(store) {}

    void Store(const TSecretAttributes& attributes, const std::string& label,
               const std::string& secret, const std::string& oldLabel) {
        FDone.push_back({attributes, FStore.Lookup(attributes), oldLabel});
        FStore.Store(attributes, label, secret);
    }
    void Remove(const TSecretAttributes& attributes, const std::string& label) {
        std::optional<std::string> before = FStore.Lookup(attributes);
        if (!before) return;
        FDone.push_back({attributes, std::move(before), label});
        FStore.Remove(attributes);
    }

    size_t Mark() const { return FDone.size(); }
    // Undoes the changes after mark. The failure that led here is what the
    // user is told; one of the undo is passed over.
    void UndoTo(size_t mark) noexcept {
        while (FDone.size() > mark) {
            const TChange& change = FDone.back();
            try {
                if (change.Before)
                    FStore.Store(change.Attributes, change.Label, *change.Before);
                else
                    FStore.Remove(change.Attributes);
            } catch (...) {
            }
            FDone.pop_back();
        }
    }

private:
    struct TChange {
        TSecretAttributes Attributes;
        std::optional<std::string> Before;
        std::string Label;
    };
    TSecretStore& FStore;
    std::vector<TChange> FDone;
};

// The settings file as it was, to be put back whole.
class TFileBackup {
public:
    explicit TFileBackup(const std::string& path)
        : FPath(path.empty() ? IniFileName() : path), FError(ReadWholeFile(FPath, FContent)) {}
    void Restore() const {
        if (FError == 0)
            WriteFileAtomically(FPath, FContent);
        else if (FError == ENOENT)
            unlink(FPath.c_str());
    }

private:
    std::string FPath;
    std::string FContent;
    int FError;
};

bool Contains(const std::vector<TSecretAttributes>& list, const TSecretAttributes& attributes) {
    return std::find(list.begin(), list.end(), attributes) != list.end();
}

}  // namespace

bool KeyringEnabled(const std::string& path) {
    return ReadIniBool(kSectionSetup, kKeyKeyring, false, path);
}

TSecretAttributes PasswordAttributes(const TMailAccount& account) {
    return {account.PopServer, account.Port, account.UserId, kSecretKindPassword};
}

TSecretAttributes RefreshTokenAttributes(const TMailAccount& account) {
    return {account.PopServer, account.Port, account.UserId, kSecretKindRefreshToken};
}

TSecretAttributes AccessTokenAttributes(const TMailAccount& account) {
    return {account.PopServer, account.Port, account.UserId, kSecretKindAccessToken};
}

std::string SecretLabel(const TMailAccount& account) {
    return kSecretLabelPrefix + account.AccountName;
}

std::string PasswordNotFoundText(const std::string& accountName) {
    return "Password non trovata nel portachiavi per " + accountName;
}

std::string KeyringUnavailableText(const std::string& reason) {
    return "Il portachiavi del sistema non risponde: le password restano nel file delle "
           "impostazioni.\\n(" +
           reason + ")";
}

void LoadAccountsWithSecrets(TArrayOfMailAccount& accounts, const std::string& path) {
    TArrayOfMailAccount loaded;
    LoadAccounts(loaded, path);
    if (KeyringEnabled(path))
        for (TMailAccount& a : loaded) {
            if (a.IsOAuth()) {
                if (a.RefreshToken.empty()) a.RefreshTokenInKeyring = true;
            } else if (a.UserPwd.empty()) {
                a.PasswordInKeyring = true;
            }
        }
    accounts = std::move(loaded);
}

std::optional<std::string> ReadKeyringPassword(const TMailAccount& stored, std::string* why) {
    try {
        std::optional<std::string> secret = SecretStore().Lookup(PasswordAttributes(stored));
        if (!secret && why != nullptr) *why = "no such item";
        return secret;
    } catch (const ESecretError& e) {
        if (why != nullptr) *why = e.what();
        return std::nullopt;
    }
}

bool KeyringReachable(std::string& why) {
    try {
        SecretStore().Probe();
        return true;
    } catch (const ESecretError& e) {
        why = e.what();
        return false;
    }
}

namespace {

// One kind of secret an account may keep in the keyring: its password, or
// the refresh token of an OAuth account. A save moves each kind the same way.
struct TSecretSlot {
    TSecretAttributes (*Attributes)(const TMailAccount&);
    std::string TMailAccount::*Value;
    bool TMailAccount::*InKeyring;
    bool (*Applies)(const TMailAccount&);
};

const TSecretSlot kSecretSlots[] = {
    {PasswordAttributes, &TMailAccount::UserPwd, &TMailAccount::PasswordInKeyring,
     [](const TMailAccount& a) { return !a.IsOAuth(); }},
    // An account not signed in yet has no token to keep anywhere.
    {RefreshTokenAttributes, &TMailAccount::RefreshToken, &TMailAccount::RefreshTokenInKeyring,
     [](const TMailAccount& a) {
         return a.IsOAuth() && (a.RefreshTokenInKeyring || !a.RefreshToken.empty());
     }},
};

}  // namespace

void SaveAccountsWithSecrets(const TArrayOfMailAccount& accounts,
                             const TArrayOfMailAccount& loaded, bool keyring,
                             const std::string& path) {
    const bool wasOn = KeyringEnabled(path);
    if (!wasOn && !keyring) {
        // The keyring is none of this save's business.
        SaveAccounts(accounts, path);
        return;
    }
    TSecretStore& store = SecretStore();
    TKeyringJournal journal(store);
    TArrayOfMailAccount saved = accounts;
    // 1. Every secret that is to be in the keyring goes there first.
    try {
        for (const TSecretSlot& slot : kSecretSlots)
            for (TMailAccount& a : saved) {
                if (!slot.Applies(a)) continue;
                std::string& value = a.*slot.Value;
                bool& inKeyring = a.*slot.InKeyring;
                const TMailAccount* before = LoadedFor(a, loaded);
                if (inKeyring) {
                    if (before == nullptr) continue;
                    // An item whose account kept its server, port, user and
                    // name stays as it is, unread.
                    if (keyring && slot.Attributes(*before) == slot.Attributes(a) &&
                        SecretLabel(*before) == SecretLabel(a))
                        continue;
                    std::optional<std::string> secret = store.Lookup(slot.Attributes(*before));
                    // A missing item has nothing to move: the account stays
                    // without it, as it was.
                    if (!secret) {
                        if (!keyring) inKeyring = false;
                        continue;
                    }
                    value = std::move(*secret);
                    inKeyring = false;
                }
                if (!keyring) continue;
                journal.Store(slot.Attributes(a), SecretLabel(a), value,
                              SecretLabel(before != nullptr ? *before : a));
                value.clear();
                inKeyring = true;
            }
    } catch (const ESecretError& e) {
        journal.UndoTo(0);
        throw EKeyringSaveError(KeyringSaveFailedText(e.what()));
    }
    const size_t stored = journal.Mark();

    // 2. The file, in one replacement: the accounts and the option together.
    const TFileBackup backup(path);
    try {
        TIniEdit edit(path);
        edit.ReplaceSection(kSectionAccounts, AccountEntries(saved));
        if (keyring)
            edit.SetValue(kSectionSetup, kKeyKeyring, "1");
        else
            edit.EraseKey(kSectionSetup, kKeyKeyring);
        edit.Save();
    } catch (...) {
        journal.UndoTo(0);
        throw;
    }

    // 3. The items the file no longer names: a deleted account's, a moved
    // one's old place, all of them when the secrets went back to the file.
    // An account's cached access token goes with them: it is only a copy.
    if (!wasOn) return;
    std::vector<TSecretAttributes> keep;
    if (keyring)
        for (const TSecretSlot& slot : kSecretSlots)
            for (const TMailAccount& a : saved)
                if (slot.Applies(a)) {
                    keep.push_back(slot.Attributes(a));
                    if (a.IsOAuth()) keep.push_back(AccessTokenAttributes(a));
                }
    try {
        for (const TMailAccount& l : loaded) {
            // Only the kinds the loaded account could have left behind.
            std::vector<TSecretAttributes> kinds = {PasswordAttributes(l)};
            if (l.IsOAuth()) kinds = {RefreshTokenAttributes(l), AccessTokenAttributes(l)};
            for (const TSecretAttributes& attributes : kinds) {
                if (Contains(keep, attributes)) continue;
                journal.Remove(attributes, SecretLabel(l));
                keep.push_back(attributes);  // once is enough
            }
        }
    } catch (const ESecretError& e) {
        // In an order that never leaves a secret nowhere: the removed
        // items back, then the old file, then the new items out.
        journal.UndoTo(stored);
        backup.Restore();
        journal.UndoTo(0);
        throw EKeyringSaveError(KeyringSaveFailedText(e.what()));
    }
}

bool SetStoredPassword(int32_t number, const std::string& password, std::string* name,
                       const std::string& path) {
    TArrayOfMailAccount accounts;
    LoadAccountsWithSecrets(accounts, path);
    const auto account = std::find_if(accounts.begin(), accounts.end(),
                                      [number](const auto& a) { return a.StoredNumber == number; });
    if (account == accounts.end())
        throw std::invalid_argument("nessun account con il numero " + std::to_string(number));
    if (name != nullptr) *name = account->AccountName;
    const std::string key = "UserPwd" + std::to_string(number);
    if (!KeyringEnabled(path)) {
        WriteIniScrambled(kSectionAccounts, key, password, PasswordKey, path);
        return false;
    }
    TKeyringJournal journal(SecretStore());
    try {
        journal.Store(PasswordAttributes(*account), SecretLabel(*account), password,
                      SecretLabel(*account));
    } catch (const ESecretError& e) {
        journal.UndoTo(0);
        throw EKeyringSaveError(KeyringSaveFailedText(e.what()));
    }
    // An older copy's password in the file would win over the keyring's.
    try {
        if (!ReadIniString(kSectionAccounts, key, "", path).empty())
            WriteIniString(kSectionAccounts, key, "", path);
    } catch (...) {
        journal.UndoTo(0);
        throw;
    }
    return true;
}

}  // namespace kalmuro

namespace kalmuro {

std::string AccessTokenSecret(const std::string& token, int64_t expiry) {
    return std::to_string(expiry) + " " + token;
}

bool ParseAccessTokenSecret(const std::string& secret, std::string& token, int64_t& expiry) {
    const size_t blank = secret.find(' ');
    if (blank == std::string::npos || blank == 0 || blank + 1 >= secret.size()) return false;
    int64_t value = 0;
    for (size_t i = 0; i < blank; ++i) {
        if (secret[i] < '0' || secret[i] > '9' || value > INT64_MAX / 10 - 9) return false;
        value = value * 10 + (secret[i] - '0');
    }
    expiry = value;
    token = secret.substr(blank + 1);
    return true;
}

bool StoreOAuthTokens(const TMailAccount& stored, const TOAuthTokens& tokens,
                      const std::string& path) {
    if (!KeyringEnabled(path)) {
        // The refresh token is the one thing that must outlive the run: a
        // rotated one replaces the old at once, before it is used.
        if (!tokens.RefreshToken.empty()) StoreRefreshTokenInFile(stored, tokens.RefreshToken, path);
        return false;
    }
    TKeyringJournal journal(SecretStore());
    try {
        if (!tokens.RefreshToken.empty())
            journal.Store(RefreshTokenAttributes(stored), SecretLabel(stored), tokens.RefreshToken,
                          SecretLabel(stored));
        if (!tokens.AccessToken.empty())
            journal.Store(AccessTokenAttributes(stored), SecretLabel(stored),
                          AccessTokenSecret(tokens.AccessToken, tokens.Expiry),
                          SecretLabel(stored));
    } catch (const ESecretError& e) {
        journal.UndoTo(0);
        throw EKeyringSaveError(KeyringSaveFailedText(e.what()));
    }
    // A token an older save left in the file would outlive the keyring's.
    try {
        const std::string key = kKeyRefreshToken + std::to_string(stored.StoredNumber);
        if (!tokens.RefreshToken.empty() && !ReadIniString(kSectionAccounts, key, "", path).empty())
            StoreRefreshTokenInFile(stored, "", path);
    } catch (...) {
        journal.UndoTo(0);
        throw;
    }
    return true;
}

bool StoreOAuthTokensKeepingRefresh(const TMailAccount& stored, const TOAuthTokens& tokens,
                                    bool& inFileInstead, const std::string& path) {
    inFileInstead = false;
    try {
        return StoreOAuthTokens(stored, tokens, path);
    } catch (const EKeyringSaveError&) {
        // Without a new refresh token only the access token's cache is lost.
        if (tokens.RefreshToken.empty()) return false;
        StoreRefreshTokenInFile(stored, tokens.RefreshToken, path);
        inFileInstead = true;
        return false;
    }
}

std::optional<std::string> ReadKeyringRefreshToken(const TMailAccount& stored, std::string* why) {
    try {
        std::optional<std::string> secret = SecretStore().Lookup(RefreshTokenAttributes(stored));
        if (!secret && why != nullptr) *why = "no such item";
        return secret;
    } catch (const ESecretError& e) {
        if (why != nullptr) *why = e.what();
        return std::nullopt;
    }
}

bool ReadKeyringAccessToken(const TMailAccount& stored, std::string& token, int64_t& expiry) {
    try {
        const std::optional<std::string> secret = SecretStore().Lookup(AccessTokenAttributes(stored));
        return secret && ParseAccessTokenSecret(*secret, token, expiry);
    } catch (const ESecretError&) {
        return false;  // only a cache: a refresh gets a new one
    }
}

}  // namespace kalmuro
