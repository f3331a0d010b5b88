#include "engine/form_main.h"

#include <algorithm>
#include <climits>

#include "mail/settings.h"
#include "mail/text.h"
#include "secrets/account_secrets.h"

namespace kalmuro {

TFormMain::TFormMain(TScreen& screen) : Screen(screen) {
    // The client as the window is designed: one-minute replies, an over-long
    // line is an error, and the anti-freeze off until a login succeeds.
    Pop3Client1.ReadTimeout = 60000;
    Pop3Client1.MaxLineAction = TMaxLineAction::maException;
    Pop3Client1.AntiFreeze = &AntiFreeze1;
    Pop3Client1.OnWork = [this](TTcpConnection&, TWorkMode, int64_t) { PumpMessages(); };
    AntiFreeze1.Active = false;
    // A silent server must not hold a click on Stop for longer than this.
    AntiFreeze1.IdleTimeOut = kIdleSliceMs;
    AntiFreeze1.OnIdle = [this] { PumpMessages(); };
    // Stop also ends a TLS handshake that stalls.
    Pop3Client1.OnStopRequested = [this] { return StopPressed(); };
    ImapClient1.ReadTimeout = 60000;
    ImapClient1.MaxLineAction = TMaxLineAction::maException;
    ImapClient1.AntiFreeze = &AntiFreeze1;
    ImapClient1.OnWork = [this](TTcpConnection&, TWorkMode, int64_t) { PumpMessages(); };
    ImapClient1.OnStopRequested = [this] { return StopPressed(); };

    const std::string dir = IncludeBackslash(AppDir());
    BlockedSenders.FileName = dir + "Mittenti.txt";
    SafeSenders.FileName = dir + "MittentiOk.txt";
    BlockedSubjects.FileName = dir + "Oggetti.txt";
    SafeSubjects.FileName = dir + "OggettiOk.txt";
}

TFormMain::~TFormMain() {
    // A session left open by an interrupted account is closed without a word.
    Pop3Client1.OnWork = nullptr;
    AntiFreeze1.OnIdle = nullptr;
    Pop3Client1.OnStopRequested = nullptr;
    Pop3Client1.CloseConnection();
    ImapClient1.OnWork = nullptr;
    ImapClient1.OnStopRequested = nullptr;
    ImapClient1.CloseConnection();
}

void TFormMain::ShowStatus(const std::string& text) {
    FStatusText = text;
    Screen.SetStatusText(text);
    PumpMessages();
}

void TFormMain::PumpMessages() { Screen.PumpMessages(); }

void TFormMain::UpdateCommands() {
    TCommandState state;
    if (!(Starting || Checking || Deleting)) {
        state.Check = !Accounts.empty();
        state.Delete = CountCheckedMessages() > 0;
        state.Setup = true;
        state.Info = true;
    }
    FCommands = state;
    Screen.SetCommandState(state);
    PumpMessages();
}

void TFormMain::ShowStopButton() {
    StopFlag = false;
    FStopEnabled = true;
    FStopVisible = true;
    Screen.SetStopButton(true, true);
}

void TFormMain::HideStopButton() {
    FStopVisible = false;
    Screen.SetStopButton(false, FStopEnabled);
}

bool TFormMain::StopRequested() {
    PumpMessages();
    return StopFlag;
}

void TFormMain::BitBtnStopClick() {
    StopFlag = true;
    FStopEnabled = false;
    Screen.SetStopButton(FStopVisible, false);
    ShowStatus("Interruzione dell'operazione in corso...");
    PumpMessages();
}

void TFormMain::SuspendAutoCheck() { Screen.SetAutoCheckTimer(false, 0); }

void TFormMain::ResumeAutoCheck() {
    const int64_t minutes =
        std::max<int64_t>(1, ReadIniInteger(kSectionSetup, "CheckBoxAutoCheckMinutes", 1));
    const int64_t interval = std::min<int64_t>(minutes * 60000, INT32_MAX);
    const bool enabled = ReadIniBool(kSectionSetup, "CheckBoxAutoCheck", false);
    FAutoCheckIntervalMs = static_cast<int32_t>(interval);
    Screen.SetAutoCheckTimer(enabled, FAutoCheckIntervalMs);
}

void TFormMain::ResumeAutoCheckAfter(std::string& escapedError) {
    try {
        ResumeAutoCheck();
    } catch (const std::exception& e) {
        if (escapedError.empty()) escapedError = e.what();
    }
    if (!escapedError.empty()) ShowError(escapedError);
}

void TFormMain::FormShow() {
    if (!Starting) return;
    Starting = false;
    Screen.SetStartTimer(true);
}

void TFormMain::TimerStartTimer() {
    Screen.SetStartTimer(false);
    try {
        if (ReadIniBool(kSectionSetup, "MinimizeStart", false)) Screen.ToggleMainWindow();
        if (ReadIniBool(kSectionSetup, "CheckStart", false)) CheckMail();
    } catch (const std::exception& e) {
        ReportError(e);
    }
    // Until here the commands stayed off since the window was created.
    UpdateCommands();
}

void TFormMain::TimerAutoCheckTimer() {
    Screen.SetAutoCheckTimer(false, 0);
    try {
        if (!Screen.MainWindowVisible() ||
            !ReadIniBool(kSectionSetup, "CheckBoxAutoCheckIcon", false))
            CheckMail();
    } catch (const std::exception& e) {
        ReportError(e);
        return;
    }
    // Enabled again, so the next turn comes one interval after this one ends.
    Screen.SetAutoCheckTimer(true, FAutoCheckIntervalMs);
}

void TFormMain::LoadSettings() {
    ShowStatus("Lettura impostazioni dal disco in corso...");
    ClearRows();
    Messages.clear();

    Accounts.clear();
    LoadAccountsWithSecrets(Accounts);

    for (TRuleList* list : {&BlockedSenders, &SafeSenders, &BlockedSubjects, &SafeSubjects}) {
        // A missing file leaves the list empty.
        list->LoadFromFile();
    }

    ColorNormal = ReadIniInteger(kSectionSetup, "ColorNormal", kDefaultColorNormal);
    ColorSelected = ReadIniInteger(kSectionSetup, "ColorSelected", kDefaultColorSelected);
    ColorLocked = ReadIniInteger(kSectionSetup, "ColorLocked", kDefaultColorLocked);
    ColorSecured = ReadIniInteger(kSectionSetup, "ColorSecured", kDefaultColorSecured);

    Screen.SetDeleteCaption(
        ReadIniBool(kSectionSetup, "CopyToRecycle", true) ? kCaptionDeleteToRecycle : kCaptionDelete);

    FList.Mailboxes = BuildMailboxItems(Accounts);
    FList.HighlightedMailbox = 0;
    ShowMailboxes();

    ClearStatus();
    ResumeAutoCheck();
    UpdateCommands();
}

int32_t TFormMain::ShowMsgBox(const std::string& message, const std::string& title, int32_t buttons,
                              int32_t icon, int32_t focusedButton) {
    return Screen.ShowMsgBox(message, title, buttons, icon, focusedButton);
}

void TFormMain::ShowInformation(const std::string& message) {
    ShowMsgBox(message, kTitleInformation, mbOk, miInformation, 0);
}

bool TFormMain::AskConfirmation(const std::string& message, int32_t focusedButton) {
    return ShowMsgBox(message, kTitleConfirmation, mbYesNo, miQuestion, focusedButton) == mrYes;
}

void TFormMain::ShowError(const std::string& message) {
    ShowMsgBox(message, kTitleError, mbOk, miWarning, 0);
}

std::string ShellOpenErrorText(const std::string& target, const std::string& parameters) {
    return "Rilevato un errore durante l'esecuzione di\\n" + target + " " + parameters;
}

void TFormMain::ShellOpen(const std::string& target, const std::string& parameters,
                          bool maximised) {
    if (!Screen.OpenWithShell(target, parameters, maximised))
        ShowError(ShellOpenErrorText(target, parameters));
}

void TFormMain::ReportError(const std::exception& error) { ShowError(error.what()); }

}  // namespace kalmuro
