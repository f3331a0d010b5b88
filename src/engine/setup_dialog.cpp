#include "engine/setup_dialog.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "engine/autostart.h"
#include "engine/form_main.h"
#include "engine/message_files.h"
#include "mail/atomic_file.h"
#include "mail/auth/oauth_client.h"
#include "mail/settings.h"
#include "mail/text.h"
#include "secrets/account_secrets.h"

namespace kalmuro {

std::string SpinBoxText(const std::string& stored, TSpinRange range) {
    int32_t value = 0;
    if (!TryStrToInt(stored, value)) return IntToStr(range.Min);
    if (value < range.Min) value = range.Min;
    if (value > range.Max) value = range.Max;
    return IntToStr(value);
}

void ReadSetupOptions(TSetupOptions& options) {
    // Field by field, so that a read that raises leaves the rest as designed.
    options = TSetupOptions{};
    options.CheckStart = ReadIniBool(kSectionSetup, "CheckStart", false);
    options.AutoCheck = ReadIniBool(kSectionSetup, "CheckBoxAutoCheck", false);
    options.AutoCheckIcon = ReadIniBool(kSectionSetup, "CheckBoxAutoCheckIcon", false);
    options.AutoCheckMinutes = SpinBoxText(
        ReadIniString(kSectionSetup, "CheckBoxAutoCheckMinutes", "1"), kAutoCheckMinutesRange);
    options.MinimizeStart = ReadIniBool(kSectionSetup, "MinimizeStart", false);
    options.NotifyBalloon = ReadIniBool(kSectionSetup, "NotifyBalloon", true);
    options.Timeout = SpinBoxText(ReadIniString(kSectionSetup, "Timeout", "60"), kTimeoutRange);
    options.CopyToRecycle = ReadIniBool(kSectionSetup, "CopyToRecycle", true);
    options.StopEmptyMsg = ReadIniBool(kSectionSetup, "StopEmptyMsg", false);
    options.AutoDelete = ReadIniBool(kSectionSetup, "AutoDelete", false);
    options.DecodeUtf8 = ReadIniBool(kSectionSetup, kKeyDecodeUtf8, false);
    options.MoveToJunk = ReadIniBool(kSectionSetup, kKeyMoveToJunk, true);
    options.ImmediateCheck = ReadIniBool(kSectionSetup, kKeyImmediateCheck, false);
    options.Keyring = KeyringEnabled();
}

void WriteSetupOptions(const TSetupOptions& options) {
    WriteIniBool(kSectionSetup, "CheckStart", options.CheckStart);
    WriteIniBool(kSectionSetup, "CheckBoxAutoCheck", options.AutoCheck);
    WriteIniBool(kSectionSetup, "CheckBoxAutoCheckIcon", options.AutoCheckIcon);
    WriteIniString(kSectionSetup, "CheckBoxAutoCheckMinutes", options.AutoCheckMinutes);
    WriteIniBool(kSectionSetup, "MinimizeStart", options.MinimizeStart);
    WriteIniBool(kSectionSetup, "NotifyBalloon", options.NotifyBalloon);
    WriteIniString(kSectionSetup, "Timeout", options.Timeout);
    WriteIniBool(kSectionSetup, "CopyToRecycle", options.CopyToRecycle);
    WriteIniBool(kSectionSetup, "StopEmptyMsg", options.StopEmptyMsg);
    WriteIniBool(kSectionSetup, "AutoDelete", options.AutoDelete);
    // Later options: written once they differ from what a missing key means.
    const auto writeLater = [](const char* key, bool value, bool byDefault) {
        if (value != byDefault || !ReadIniString(kSectionSetup, key, "").empty())
            WriteIniBool(kSectionSetup, key, value);
    };
    writeLater(kKeyDecodeUtf8, options.DecodeUtf8, false);
    writeLater(kKeyMoveToJunk, options.MoveToJunk, true);
    writeLater(kKeyImmediateCheck, options.ImmediateCheck, false);
}

std::string ServerCaption(TProtocol protocol) {
    return protocol == TProtocol::Imap ? "Server IMAP" : "Server POP3";
}

std::string PresetServer(const std::string& provider, TProtocol protocol) {
    TOAuthSettings settings;
    settings.Provider = provider;
    return OAuthEndpoints(settings, protocol).PopServer;
}

TAccountFields FieldsShown(const TMailAccount& account) {
    TAccountFields shown;
    shown.Folder = account.IsImap();
    shown.Apop = !account.IsImap() && !account.IsOAuth();
    shown.Password = !account.IsOAuth();
    shown.OAuth = account.IsOAuth();
    shown.CustomEndpoints = account.IsOAuth() && account.OAuth.Provider == kProviderCustom;
    return shown;
}

namespace {

// Whom an account's tokens belong to: its client at its token endpoint.
std::string GrantHolder(const TMailAccount& account) {
    if (!account.IsOAuth()) return {};
    return account.OAuth.ClientId + '\n' + OAuthEndpoints(account.OAuth).TokenUrl;
}

bool IsHttps(const std::string& url) { return UpperCase(url.substr(0, 8)) == "HTTPS://"; }

}  // namespace

TAccountEditor::TAccountEditor(const TMailAccount& account)
    : Fields(account), FGrantedTo(GrantHolder(account)) {}

void TAccountEditor::SetProtocol(TProtocol protocol) {
    const TProtocol before = Fields.Protocol;
    Fields.Protocol = protocol;
    if (Fields.IsOAuth()) {
        const std::string preset = PresetServer(Fields.OAuth.Provider, before);
        if (!preset.empty() && Fields.PopServer == preset)
            Fields.PopServer = PresetServer(Fields.OAuth.Provider, protocol);
    }
    Fields.Port = PortForProtocol(Fields.Port, protocol, Fields.Security);
    if (Fields.Folder.empty()) Fields.Folder = kDefaultFolder;
}

void TAccountEditor::SetSecurity(TSecurity security) {
    Fields.Security = security;
    Fields.Port = Fields.IsImap() ? PortForProtocol(Fields.Port, TProtocol::Imap, security)
                                  : PortForSecurity(Fields.Port, security);
}

void TAccountEditor::SetAccess(TAccessMethod access) {
    Fields.Access = access;
    if (!Fields.IsOAuth() || !Fields.OAuth.Provider.empty()) return;
    Fields.OAuth.Provider = kProviderCustom;
    for (const char* preset : {kProviderGoogle, kProviderMicrosoft})
        if (SameText(Trim(Fields.PopServer), PresetServer(preset, Fields.Protocol)))
            Fields.OAuth.Provider = preset;
}

void TAccountEditor::SetProvider(const std::string& provider) {
    Fields.OAuth.Provider = provider;
    const TOAuthEndpoints preset = OAuthEndpoints(Fields.OAuth, Fields.Protocol);
    if (preset.PopServer.empty()) return;
    Fields.PopServer = preset.PopServer;
    Fields.Security = preset.Security;
    Fields.Port = preset.Port;
}

TSignInOutcome TAccountEditor::SignInWithBrowser(
    const std::function<bool(const std::string&)>& openBrowser, const TOAuthWait& wait) {
    TSignInOutcome outcome;
    const TOAuthClientConfig config = OAuthClientConfig(Fields);
    if (Trim(config.ClientId).empty()) {
        outcome.Text = "Indicare l'ID client prima di accedere";
        return outcome;
    }
    if (config.AuthorizationUrl.empty() || config.TokenUrl.empty()) {
        outcome.Text = "Indicare gli indirizzi di autorizzazione e del token prima di accedere";
        return outcome;
    }
    // Refused here rather than after the user has consented in the browser.
    if (!IsHttps(config.AuthorizationUrl) || !IsHttps(config.TokenUrl)) {
        outcome.Text = "Gli indirizzi del servizio di accesso devono iniziare con https://";
        return outcome;
    }
    try {
        const std::optional<TOAuthTokens> signedIn =
            SignInThroughBrowser(config, openBrowser, wait);
        if (!signedIn) {
            outcome.Text = kBrowserNotOpenedText;
            return outcome;
        }
        const TOAuthTokens& tokens = *signedIn;
        Fields.AccessToken = tokens.AccessToken;
        Fields.AccessTokenExpiry = tokens.Expiry;
        Fields.RefreshToken = tokens.RefreshToken;
        Fields.RefreshTokenInKeyring = false;
        FGrantedTo = GrantHolder(Fields);
        // The address the provider vouches for, untrusted text like any
        // other: it is only shown, and stored as typed text would be.
        const std::string who = AddressInToken(tokens.AccessToken);
        if (Trim(Fields.UserId).empty() && !who.empty()) Fields.UserId = who;
        outcome.Ok = true;
        outcome.Text = "Accesso eseguito come " + (who.empty() ? Fields.UserId : who);
    } catch (const EOAuthError& e) {
        outcome.Stopped = e.Failure == TOAuthFailure::Stopped;
        outcome.Text = outcome.Stopped ? kSignInStoppedText : e.what();
    } catch (const std::exception& e) {
        outcome.Text = e.what();
    }
    return outcome;
}

TMailAccount TAccountEditor::Result() const {
    TMailAccount account = Fields;
    if (account.IsOAuth()) account.UserPwd.clear();
    if (GrantHolder(account) != FGrantedTo) {
        account.RefreshToken.clear();
        account.RefreshTokenInKeyring = false;
        account.AccessToken.clear();
        account.AccessTokenExpiry = 0;
    }
    return account;
}

TSetupDialog::TSetupDialog(TFormMain& owner) : Owner(owner) {}

void TSetupDialog::FormCreate() {
    try {
        LoadAccountsWithSecrets(FAccounts);
        FLoadedAccounts = FAccounts;
        FAccountsLoaded = true;
    } catch (const std::exception& e) {
        FAccounts.clear();
        FLoadedAccounts.clear();
        FAccountsLoaded = false;
        Owner.ShowError(e.what());
    }
    FRow = 1;
    try {
        ReadSetupOptions(Options);
    } catch (const std::exception& e) {
        Owner.ShowError(e.what());
    }
    // What the rows show now, not what the file may hold since.
    Colors = {Owner.ColorNormal, Owner.ColorSelected, Owner.ColorLocked, Owner.ColorSecured};
    StartAtLogin = FStartAtLoginShown = AutostartEnabled();
}

std::vector<std::array<std::string, 6>> TSetupDialog::GridRows() const {
    std::vector<std::array<std::string, 6>> rows;
    rows.reserve(FAccounts.size() + 1);
    std::array<std::string, 6>& titles = rows.emplace_back();
    for (size_t i = 0; i < titles.size(); ++i) titles[i] = kAccountGridTitles[i];
    for (const TMailAccount& a : FAccounts)
        rows.push_back(
            {a.AccountName, a.PopServer, a.UserId, kPasswordMask, a.Port, a.Apop ? "Si" : "No"});
    if (FAccounts.empty()) rows.emplace_back();
    return rows;
}

int32_t TSetupDialog::RowCount() const {
    return FAccounts.empty() ? 2 : static_cast<int32_t>(FAccounts.size()) + 1;
}

void TSetupDialog::SetRow(int32_t row) {
    if (row >= 0 && row < RowCount()) FRow = row;
}

bool TSetupDialog::RowShowsAccount(int32_t row) const {
    return row > 0 && row <= static_cast<int32_t>(FAccounts.size());
}

TMailAccount TSetupDialog::NewAccount() {
    TMailAccount account;
    account.Port = "110";
    account.Active = true;
    return account;
}

void TSetupDialog::AddAccount(const TMailAccount& account) {
    if (!FAccountsLoaded) return;
    FAccounts.push_back(account);
    FRow = static_cast<int32_t>(FAccounts.size());
}

const TMailAccount& TSetupDialog::AccountAt(int32_t row) const {
    return FAccounts.at(static_cast<size_t>(row - 1));
}

TMailAccount TSetupDialog::AccountForEditing(int32_t row) {
    TMailAccount account = AccountAt(row);
    if (!account.PasswordInKeyring) return account;
    // The item is where the account was when loaded, whatever it says now.
    const auto loaded = std::find_if(
        FLoadedAccounts.begin(), FLoadedAccounts.end(),
        [&account](const TMailAccount& a) { return a.StoredNumber == account.StoredNumber; });
    std::optional<std::string> password;
    if (loaded != FLoadedAccounts.end()) password = ReadKeyringPassword(*loaded);
    if (!password) {
        Owner.ShowError(PasswordNotFoundText(account.AccountName));
        return account;
    }
    account.UserPwd = *password;
    account.PasswordInKeyring = false;
    return account;
}

void TSetupDialog::ReplaceAccount(int32_t row, const TMailAccount& account) {
    if (!FAccountsLoaded || !RowShowsAccount(row)) return;
    TMailAccount& stored = FAccounts[static_cast<size_t>(row - 1)];
    // A certificate accepted for one server says nothing about another.
    const std::string fingerprint =
        account.PopServer == stored.PopServer ? stored.Fingerprint : std::string();
    const bool unread = stored.PasswordInKeyring && account.UserPwd.empty();
    stored = account;
    stored.Fingerprint = fingerprint;
    stored.PasswordInKeyring = unread;
    FRow = row;
}

TSignInOutcome TSetupDialog::SignInWithBrowser(TAccountEditor& editor,
                                               const std::function<bool()>& stopRequested) {
    TOAuthWait wait;
    wait.TimeoutMs = StrToInt(SpinBoxText(Options.Timeout, kTimeoutRange)) * 1000;
    wait.OnIdle = [this] { Owner.PumpMessages(); };
    wait.StopRequested = stopRequested;
    const TSignInOutcome outcome = editor.SignInWithBrowser(OpenBrowser, wait);
    // A wait the user ended needs no box to say so.
    if (outcome.Ok)
        Owner.ShowInformation(outcome.Text);
    else if (!outcome.Stopped)
        Owner.ShowError(outcome.Text);
    return outcome;
}

bool TSetupDialog::SetKeyringOption(bool on) {
    std::string why;
    if (on && !KeyringReachable(why)) {
        Owner.ShowError(KeyringUnavailableText(why));
        on = false;
    }
    Options.Keyring = on;
    return on;
}

void TSetupDialog::BitBtnDelClick() {
    if (Owner.AskConfirmation(kDeleteAccountQuestion, 1)) DeleteAccountRow(FRow);
}

void TSetupDialog::DeleteAccountRow(int32_t row) {
    if (!FAccountsLoaded || !RowShowsAccount(row)) return;
    FAccounts.erase(FAccounts.begin() + (row - 1));
    // With no account left this is the title row: nothing is highlighted.
    FRow = RowShowsAccount(row) ? row : row - 1;
}

void TSetupDialog::OpenRuleList(TRuleListFile list) {
    const TRuleList* lists[] = {&Owner.BlockedSenders, &Owner.SafeSenders, &Owner.BlockedSubjects,
                                &Owner.SafeSubjects};
    const std::string& path = lists[static_cast<int>(list)]->FileName;
    // An editor asked to open a missing file would refuse; an empty list
    // file reads as the empty list it stands for. A failure to create it
    // shows as the shell's own failure below.
    if (!PathExists(path)) WriteNewFile(path, "");
    Owner.ShellOpen(path, "", true);
}

void TSetupDialog::BitBtnOkClick() {
    try {
        if (FAccountsLoaded) SaveAccountsWithSecrets(FAccounts, FLoadedAccounts, Options.Keyring);
        WriteSetupOptions(Options);
        WriteIniInteger(kSectionSetup, "ColorNormal", Colors.Normal);
        WriteIniInteger(kSectionSetup, "ColorSelected", Colors.Selected);
        WriteIniInteger(kSectionSetup, "ColorLocked", Colors.Locked);
        WriteIniInteger(kSectionSetup, "ColorSecured", Colors.Secured);
    } catch (const std::exception& e) {
        Owner.ShowError(e.what());
    }
    // An entry the user never touched here stays as it is.
    if (!StartAtLogin && !FStartAtLoginShown) return;
    if (SetAutostart(StartAtLogin) != 0)
        Owner.ShowError((StartAtLogin ? kStartAtLoginOnError : kStartAtLoginOffError) +
                        AutostartFilePath());
}

}  // namespace kalmuro
