#include "engine/setup_dialog.h"

#include <exception>

#include "engine/autostart.h"
#include "engine/form_main.h"
#include "engine/message_files.h"
#include "mail/atomic_file.h"
#include "mail/settings.h"
#include "mail/text.h"

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
    if (options.DecodeUtf8 || !ReadIniString(kSectionSetup, kKeyDecodeUtf8, "").empty())
        WriteIniBool(kSectionSetup, kKeyDecodeUtf8, options.DecodeUtf8);
}

TSetupDialog::TSetupDialog(TFormMain& owner) : Owner(owner) {}

void TSetupDialog::FormCreate() {
    try {
        LoadAccounts(FAccounts);
        FAccountsLoaded = true;
    } catch (const std::exception& e) {
        FAccounts.clear();
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

void TSetupDialog::ReplaceAccount(int32_t row, const TMailAccount& account) {
    if (!FAccountsLoaded || !RowShowsAccount(row)) return;
    TMailAccount& stored = FAccounts[static_cast<size_t>(row - 1)];
    // A certificate accepted for one server says nothing about another.
    const std::string fingerprint =
        account.PopServer == stored.PopServer ? stored.Fingerprint : std::string();
    stored = account;
    stored.Fingerprint = fingerprint;
    FRow = row;
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
        if (FAccountsLoaded) SaveAccounts(FAccounts);
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
