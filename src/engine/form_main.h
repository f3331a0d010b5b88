// The main window's behaviour without a single widget: the records of the
// last check, the flags that keep long operations apart, the accounts, rule
// lists and colours, the rows of the message list with the mailbox filter,
// and the check cycle. Everything it shows goes through a TScreen.
//
// The members are split by role over several files: form_main.cpp (state,
// settings, small operations, message boxes), message_list.cpp (rows, filter,
// selection), check_cycle.cpp (the check and its sessions).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "engine/message_list.h"
#include "engine/screen.h"
#include "mail/accounts.h"
#include "mail/message_entry.h"
#include "mail/pop3/pop3_client.h"
#include "mail/rule_list.h"

namespace kalmuro {

// The application title: caption prefix, tray tip and balloon title.
inline constexpr const char* kAppTitle = "Quorvane Kalmuro";

// The fixed titles of the three message boxes.
inline constexpr const char* kTitleInformation = "Informazione";
inline constexpr const char* kTitleConfirmation = "Conferma";
inline constexpr const char* kTitleError = "Errore";

// Default colours of the rows, 0x00BBGGRR.
inline constexpr int32_t kDefaultColorNormal = 0;
inline constexpr int32_t kDefaultColorSelected = 255;
inline constexpr int32_t kDefaultColorLocked = 0xFF0000;
inline constexpr int32_t kDefaultColorSecured = 0x8000;

// The sender as the list shows it: "name (address)", or the non-empty one
// of the two (both trimmed first).
std::string SenderText(const std::string& name, const std::string& address);
// The first part of the check summary: "Non ci sono messaggi" without
// records; otherwise "<added> messaggi nuovi su un totale di <rows> messaggi",
// the first half only when added is not negative.
std::string CheckSummaryText(size_t records, int64_t added, size_t rows);

class TFormMain {
public:
    explicit TFormMain(TScreen& screen);
    ~TFormMain();
    TFormMain(const TFormMain&) = delete;
    TFormMain& operator=(const TFormMain&) = delete;

    // --- State -----------------------------------------------------------
    TMessageEntries Messages;
    bool Starting = true;  // until the window is first shown
    bool Checking = false;
    bool Deleting = false;
    bool StopFlag = false;

    TArrayOfMailAccount Accounts;
    TRuleList BlockedSenders, SafeSenders, BlockedSubjects, SafeSubjects;
    int32_t ColorNormal = kDefaultColorNormal;
    int32_t ColorSelected = kDefaultColorSelected;
    int32_t ColorLocked = kDefaultColorLocked;
    int32_t ColorSecured = kDefaultColorSecured;

    TPop3Client Pop3Client1;
    TAntiFreeze AntiFreeze1;

    // --- Small operations (form_main.cpp) --------------------------------
    void ShowStatus(const std::string& text);
    void ClearStatus() { ShowStatus(std::string()); }
    void PumpMessages();
    // The text the status bar shows now.
    const std::string& StatusText() const { return FStatusText; }

    int32_t CountCheckedMessages() const { return FList.CheckedCount(); }
    void UpdateCommands();
    // The command state given to the screen by the last UpdateCommands.
    const TCommandState& Commands() const { return FCommands; }

    void ShowStopButton();
    void HideStopButton();
    bool StopButtonVisible() const { return FStopVisible; }
    bool StopButtonEnabled() const { return FStopEnabled; }
    bool StopRequested();
    // The Stop button's click.
    void BitBtnStopClick();

    void SuspendAutoCheck();
    // Re-arms the automatic-check timer from the settings file. A period
    // below one minute counts as one minute, so a hand-edited 0 cannot make
    // the timer fire back to back.
    void ResumeAutoCheck();

    // The window has been shown for the first time.
    void FormShow();

    // Applies the settings file: accounts, rule lists, colours, the delete
    // caption, the mailbox list, the timer. Raises what the settings reads
    // raise; the caller reports it.
    void LoadSettings();

    // --- Message boxes and shell ------------------------------------------
    int32_t ShowMsgBox(const std::string& message, const std::string& title, int32_t buttons,
                       int32_t icon, int32_t focusedButton);
    void ShowInformation(const std::string& message);
    // True exactly when the user answered "Si". focusedButton 2 puts the
    // focus on "No".
    bool AskConfirmation(const std::string& message, int32_t focusedButton);
    void ShowError(const std::string& message);
    // The desktop's "open" action; a failure is shown in the error box.
    void ShellOpen(const std::string& target, const std::string& parameters, bool maximised);
    // The general error report for an error that escaped an operation: a
    // box with the error's own text.
    void ReportError(const std::exception& error);

    // --- Message list (message_list.cpp) -----------------------------------
    const TMessageList& List() const { return FList; }

    // Appends the row of one record when it belongs to the shown mailbox.
    void AddMessageRow(int32_t recordIndex);
    // Rebuilds every row from Messages, then UpdateCommands and
    // ShowSelectionCount.
    void FillMessageList();
    bool IsInSelectedMailbox(int32_t recordIndex) const;
    // The record index of a row; -1 (after the error box) for a row that
    // does not exist.
    int32_t PosMsgInArray(int32_t row);
    void ShowSelectionCount();
    bool RequireHighlightedMessage();

    // The user moved the highlight of the message list (-1: none).
    void SetHighlightedRow(int32_t row);
    int32_t HighlightedRow() const { return FList.HighlightedRow; }
    // The user ticked or unticked a row: the record follows, then the count.
    void SetRowChecked(int32_t row, bool checked);
    // "Seleziona tutto", "Deseleziona tutto", "Inverti selezione".
    void Selezionatutto1Click();
    void Deselezionatutto1Click();
    void Invertiselezione1Click();

    // The user highlighted a mailbox item (-1: none). Refused while a check
    // or a deletion owns the rows.
    void ListViewMailBoxesSelectItem(int32_t item);

    // What a view draws for a row: the text colour (0x00BBGGRR; -1 keeps the
    // list's default) and the tip.
    int32_t RowTextColor(int32_t row) const;
    std::string RowTip(int32_t row) const;

    // --- Check cycle (check_cycle.cpp) ----------------------------------------
    // The whole check over all active accounts. Never raises: an error that
    // escapes the cycle is shown by ReportError after the cycle has closed.
    void CheckMail();
    bool ConnectAccount(int32_t accountIndex);
    void DisconnectServer();
    // Whether the last check set its error flag.
    bool CheckErrorFlag() const { return FCheckError; }
    // Runs at the end of every check, after the closing steps, with the
    // summary on the status bar (the headless check prints the list here).
    std::function<void()> OnCheckEnded;

private:
    void ClearRows();
    void AppendRow(int32_t recordIndex);
    void ApplyRowCheck(int32_t row, bool checked);
    void ShowMailboxes();
    void RunCheckAccounts(bool& errorFlag);
    void ReadAccountMessages(int32_t accountIndex, bool& errorFlag);
    void FinishCheck(size_t previousCount, bool errorFlag);

    TScreen& Screen;
    std::string FStatusText;
    TCommandState FCommands;
    bool FStopVisible = false;
    bool FStopEnabled = true;
    TMessageList FList;
    bool FCheckError = false;
};

}  // namespace kalmuro
