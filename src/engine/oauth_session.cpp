// The tokens of OAuth accounts around a session: refreshed before it when
// they are about to expire, once more when the server refuses one, and a new
// browser sign-in offered when the grant itself is gone. A check never opens
// a browser by itself: only the user's "Si" does.
#include <optional>

#include "engine/form_main.h"
#include "engine/setup_dialog.h"
#include "mail/auth/oauth_client.h"
#include "mail/settings.h"
#include "mail/text.h"
#include "secrets/account_secrets.h"

namespace kalmuro {

namespace {

// A token with less left than this is refreshed before a session.
constexpr int64_t kRefreshMargin = 5 * 60;

std::string SignInCommandText(const TMailAccount& account) {
    return "Accesso scaduto per " + account.AccountName + ": eseguire kalmuro --sign-in " +
           std::to_string(account.StoredNumber);
}

}  // namespace

void TFormMain::StoreTokens(const TMailAccount& stored, const TOAuthTokens& tokens) {
    try {
        bool inFile = false;
        StoreOAuthTokensKeepingRefresh(stored, tokens, inFile);
        // Said once a run: the next refresh would say it again and again.
        if (inFile && !FTokenInFileTold) {
            FTokenInFileTold = true;
            ShowError("Il portachiavi del sistema non risponde: il token di rinnovo di " +
                      stored.AccountName + " \xE8 salvato nel file delle impostazioni");  // è
        }
    } catch (const std::exception& e) {
        ShowError(e.what());
    }
}

bool TFormMain::TakeAccessTokenPumped(int32_t accountIndex, TMailAccount& account) {
    // The token endpoint may take a while: the window stays responsive.
    const bool wasActive = AntiFreeze1.Active;
    AntiFreeze1.Active = true;
    const bool ready = TakeAccessToken(accountIndex, account, false);
    AntiFreeze1.Active = wasActive;
    return ready;
}

bool TFormMain::TakeAccessToken(int32_t accountIndex, TMailAccount& account, bool force) {
    const size_t index = static_cast<size_t>(accountIndex);
    const TMailAccount stored = Accounts.at(index);
    const int64_t now = OAuthNow();
    if (!force && account.AccessToken.empty() && KeyringEnabled()) {
        std::string token;
        int64_t expiry = 0;
        if (ReadKeyringAccessToken(stored, token, expiry)) {
            account.AccessToken = token;
            account.AccessTokenExpiry = expiry;
        }
    }
    if (!force && !account.AccessToken.empty() && account.AccessTokenExpiry - now > kRefreshMargin)
        return true;
    if (account.RefreshTokenInKeyring) {
        const std::optional<std::string> token = ReadKeyringRefreshToken(stored);
        if (token) {
            account.RefreshToken = *token;
            account.RefreshTokenInKeyring = false;
        }
    }
    FPasswordMissing = true;  // every failure below has its own box
    if (account.RefreshToken.empty()) {
        if (Screen.CanSignIn() &&
            ShowMsgBox("Accesso scaduto per " + account.AccountName + ": accedere di nuovo?",
                       kAppTitle, mbYesNo, miQuestion, 0) == mrYes) {
            bool ok = false;
            const std::string outcome = SignInWithBrowser(accountIndex, ok);
            if (!ok) ShowError(outcome);
            if (ok) account = Accounts.at(index);
            FPasswordMissing = !ok;
            return ok;
        }
        ShowError(SignInCommandText(account));
        return false;
    }
    ShowStatus("Rinnovo dell'accesso di " + account.AccountName + "...");
    TOAuthWait wait;
    wait.TimeoutMs = Pop3Client1.ReadTimeout;
    wait.OnIdle = [this] { PumpMessages(); };
    wait.StopRequested = [this] { return StopPressed(); };
    TOAuthTokens tokens;
    try {
        tokens = RefreshAccessToken(OAuthClientConfig(account), account.RefreshToken, wait);
    } catch (const EOAuthError& e) {
        ClearStatus();
        if (e.Failure == TOAuthFailure::Stopped) return false;
        if (e.Failure != TOAuthFailure::InvalidGrant) {
            ShowError(e.what());
            return false;
        }
        // Not worth retrying: only a new sign-in brings a new grant.
        account.RefreshToken.clear();
        Accounts[index].RefreshToken.clear();
        Accounts[index].RefreshTokenInKeyring = false;
        Accounts[index].AccessToken.clear();
        account.AccessToken.clear();
        account.RefreshTokenInKeyring = false;
        return TakeAccessToken(accountIndex, account, true);
    }
    ClearStatus();
    // A rotated refresh token replaces the old one before it could be lost.
    StoreTokens(stored, tokens);
    account.AccessToken = tokens.AccessToken;
    account.AccessTokenExpiry = tokens.Expiry;
    if (!tokens.RefreshToken.empty()) account.RefreshToken = tokens.RefreshToken;
    TMailAccount& kept = Accounts[index];
    kept.AccessToken = account.AccessToken;
    kept.AccessTokenExpiry = account.AccessTokenExpiry;
    kept.RefreshToken = account.RefreshToken;
    kept.RefreshTokenInKeyring = false;
    FPasswordMissing = false;
    return true;
}

std::string TFormMain::SignInWithBrowser(int32_t accountIndex, bool& ok) {
    ok = false;
    const size_t index = static_cast<size_t>(accountIndex);
    TMailAccount& account = Accounts.at(index);
    const TOAuthClientConfig config = OAuthClientConfig(account);
    TOAuthWait wait;
    wait.TimeoutMs = SessionTimeoutMs();
    wait.OnIdle = [this] { PumpMessages(); };
    wait.StopRequested = [this] { return StopFlag; };
    try {
        const std::optional<TOAuthTokens> signedIn = SignInThroughBrowser(
            config,
            [this](const std::string& address) {
                if (!Screen.OpenWithShell(address, "", false)) return false;
                ShowStatus(kSignInWaitText);
                return true;
            },
            wait);
        if (!signedIn) return kBrowserNotOpenedText;
        const TOAuthTokens& tokens = *signedIn;
        ClearStatus();
        StoreTokens(account, tokens);
        account.AccessToken = tokens.AccessToken;
        account.AccessTokenExpiry = tokens.Expiry;
        account.RefreshToken = tokens.RefreshToken;
        account.RefreshTokenInKeyring = false;
        ok = true;
        std::string who = AddressInToken(tokens.AccessToken);
        return "Accesso eseguito come " + (who.empty() ? account.UserId : who);
    } catch (const std::exception& e) {
        ClearStatus();
        return e.what();
    }
}

}  // namespace kalmuro
