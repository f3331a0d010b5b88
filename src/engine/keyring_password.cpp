// The password of an account kept in the desktop's keyring, read when the
// account is first used rather than when the settings are loaded.
#include <optional>

#include "engine/form_main.h"
#include "secrets/account_secrets.h"

namespace kalmuro {

bool TFormMain::TakeKeyringPassword(int32_t accountIndex, TMailAccount& account) {
    ShowStatus("Lettura della password di " + account.AccountName + " dal portachiavi...");
    const std::optional<std::string> password = ReadKeyringPassword(account);
    ClearStatus();
    if (!password) {
        FPasswordMissing = true;
        ShowError(PasswordNotFoundText(account.AccountName));
        return false;
    }
    account.UserPwd = *password;
    account.PasswordInKeyring = false;
    // Like a password read from the file, it stays until the settings are
    // loaded again: one request per account and run, not one per session.
    const size_t index = static_cast<size_t>(accountIndex);
    if (index < Accounts.size() && Accounts[index].PasswordInKeyring &&
        PasswordAttributes(Accounts[index]) == PasswordAttributes(account)) {
        Accounts[index].UserPwd = account.UserPwd;
        Accounts[index].PasswordInKeyring = false;
    }
    return true;
}

}  // namespace kalmuro
