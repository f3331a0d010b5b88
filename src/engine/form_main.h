// The main window's behaviour without a single widget: the records of the
// last check, the flags that keep long operations apart, the accounts, rule
// lists and colours, the rows of the message list with the mailbox filter,
// and the check cycle. Everything it shows goes through a TScreen.
//
// The members are split by role over several files: form_main.cpp (state,
// settings, small operations, message boxes), message_list.cpp (rows, filter,
// selection), check_cycle.cpp (the check and its sessions), deletion.cpp,
// rule_commands.cpp and message_view.cpp (the commands on the rows).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/message_list.h"
#include "engine/screen.h"
#include "engine/window_texts.h"
#include "mail/accounts.h"
#include "mail/imap/imap_client.h"
#include "mail/imap/imap_session.h"
#include "mail/message_entry.h"
#include "mail/pop3/pop3_client.h"
#include "mail/net/tls_transport.h"
#include "mail/rule_list.h"

namespace kalmuro {

// The longest wait for a server between two turns of the window's events.
inline constexpr int32_t kIdleSliceMs = 50;

// Default colours of the rows, 0x00BBGGRR.
inline constexpr int32_t kDefaultColorNormal = 0;
inline constexpr int32_t kDefaultColorSelected = 255;
inline constexpr int32_t kDefaultColorLocked = 0xFF0000;
inline constexpr int32_t kDefaultColorSecured = 0x8000;

// Whether a check ends with an automatic deletion of the ticked rows: as
// the "AutoDelete" setting says, never (the check that follows a deletion
// run), or always (the headless check asked for it).
enum class TAutoDeletion { FromSettings, Never, Always };

// The question of the delete command: "Spostare nel Cestino" or "Eliminare
// definitivamente", then " il messaggio selezionato ?" or " i <n> messaggi
// selezionati ?".
std::string DeleteQuestion(bool copyToRecycle, int32_t count);

// Why a message whose unique id is not unique is not deleted.
inline constexpr const char* kAmbiguousUidError =
    "Alcuni messaggi non sono stati eliminati: il server ha dato lo stesso identificativo "
    "(UIDL) a pi\xF9 messaggi, e non si pu\xF2 essere certi di eliminare quello giusto";  // più, può
// Why the ticked messages from one on stay on the server.
inline constexpr const char* kDeleteFailed = "Rilevati errori durante l'eliminazione";
// " <subject> di <sender>" after the status texts of one message.
std::string MessageLabel(const TMessageEntry& entry);
// The IMAP folder of an account no longer holds the messages the check saw
// under those UIDs (UIDVALIDITY changed): nothing of that account is deleted.
std::string FolderChangedError(const std::string& folder, const std::string& host);
// The IMAP server could delete only by erasing other messages too.
std::string ExpungeRefusedError(const std::string& host);
// The IMAP server takes no password login (LOGINDISABLED, and no AUTH=PLAIN):
// on a connection in clear the user is told to protect it.
std::string LoginDisabledError(const std::string& host, bool secure);
// Whether the header block of a whole message (every line followed by CR LF,
// unstuffed) is the one a header fetch stored as headerText; false when
// nothing was stored.
bool SameHeaderBlock(std::string_view headerText, std::string_view messageText);
// The "Timeout" setting (seconds) as milliseconds, kept within range: how
// long a session waits for an answer.
int32_t SessionTimeoutMs();
// The sender as the list shows it: "name (address)", or the non-empty one
// of the two (both trimmed first).
std::string SenderText(const std::string& name, const std::string& address);
// The first part of the check summary: "Non ci sono messaggi" without
// records; otherwise "<added> messaggi nuovi su un totale di <rows> messaggi",
// the first half only when added is not negative.
std::string CheckSummaryText(size_t records, int64_t added, size_t rows);

// "Versione <major>.<minor>.<release>", then " build <build>" when asked;
// empty unless all four parts are given.
std::string VersionText(const std::vector<int32_t>& version, bool withBuild);
// The same for the program's own four-part version.
std::string VersionText(bool withBuild);
// The main window's caption: the title, " - " and the version with build.
std::string MainWindowCaption();
// The maker's site with the page appended, a "/" put in front of a page
// that lacks one.
std::string MakerPageAddress(const std::string& page);

// What the error box says when the desktop could not open a target.
std::string ShellOpenErrorText(const std::string& target, const std::string& parameters);

// The message box's buttons for a button set (0 OK; 1 OK, Annulla; 2 Si, No;
// 3 Si, No, Annulla; any other: none) and a focused-button choice.
struct TMsgBoxButton {
    const char* Caption;
    int32_t Result;
};
struct TMsgBoxRoles {
    std::vector<TMsgBoxButton> Buttons;  // left to right, in tab order
    int32_t FocusIndex = -1;             // the button Enter presses; -1: none
    int32_t EscapeResult = mrCancel;     // the cancel button's result
};
TMsgBoxRoles MsgBoxRoles(int32_t buttons, int32_t focusedButton);

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
    // The IMAP accounts' sessions, with the same anti-freeze and hooks.
    TImapClient ImapClient1;
    TImapMailboxSession ImapSession1{ImapClient1};
    TAntiFreeze AntiFreeze1;
    // Whether a certificate that fails may be accepted by answering the
    // error box. Off on the command line, where nobody is there to answer:
    // the box says instead which settings key to write.
    bool AskToAcceptCertificates = true;

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

    // The window has been shown: the first time, the start timer runs.
    void FormShow();
    // The start timer, a second after the first showing: into the tray and
    // a check when the settings say so, then the commands follow the state.
    // A settings value that is no number is reported, and the commands are
    // still enabled.
    void TimerStartTimer();
    // The automatic-check timer: a check, unless the window is on screen and
    // "CheckBoxAutoCheckIcon" wants checks only from the tray; then the
    // interval starts again. A bad settings value is reported and leaves the
    // timer off until it is next re-armed.
    void TimerAutoCheckTimer();

    // Applies the settings file: accounts, rule lists, colours, the delete
    // caption, the mailbox list, the timer. Raises what the settings reads
    // raise; the caller reports it.
    void LoadSettings();

    // --- The window's life (window_life.cpp) -------------------------------
    // The window was created: its geometry and column widths from the
    // settings, the flags, LoadSettings. A bad settings value is reported and
    // the rest still runs.
    void FormCreate();
    // Whether the window may close now: not while a check or a deletion runs
    // (a deletion ends with a check that needs the rule lists).
    bool FormCloseQuery() const { return !Checking && !Deleting; }
    // The window closes: geometry and column widths into the settings.
    void FormClose();
    // Reads "Left", "Top", "Height", "Width", then "WidthCol0".."WidthCol4",
    // each defaulting to the window's current value and applied at once.
    void RestoreWindowGeometry();
    void SaveWindowGeometry();
    // The about window, with the automatic checks held while it is open.
    void ShowInfoWindow();
    // The settings dialog: the timer held, the settings reloaded after OK.
    void BitBtnSetupClick();
    void OpenMakerPage(const std::string& page);
    // The logo of the main window: the maker's home page.
    void Image1Click() { OpenMakerPage(std::string()); }

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

    // Appends a record's row (built already, for the record it names) when
    // the record belongs to the shown mailbox.
    void AddMessageRow(TMessageRow row);
    // Rebuilds every row from Messages, then UpdateCommands and
    // ShowSelectionCount.
    void FillMessageList();
    // The same after a check has classified the records it appended rows
    // for: when the rows are still exactly those records' rows, only their
    // ticks change, and the view is told of all of them again.
    void RefillAfterClassification();
    bool IsInSelectedMailbox(int32_t recordIndex) const;
    // The record index of a row; -1 (after the error box) for a row that
    // does not exist.
    int32_t PosMsgInArray(int32_t row);
    void ShowSelectionCount();
    bool RequireHighlightedMessage();

    // The user moved the highlight of the message list (-1: none). Like a
    // tick, it is a change of the rows: their ticks reach the records and the
    // status bar shows the count.
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
    // After OnCheckEnded it may start the automatic deletion (see
    // TAutoDeletion); that deletion's own check never deletes again, so one
    // check started by the user or a timer leads to at most one automatic
    // run.
    void CheckMail(TAutoDeletion autoDeletion = TAutoDeletion::FromSettings);
    bool ConnectAccount(int32_t accountIndex);
    // ConnectAccount for the single-message commands (delete, view, save):
    // a connection that failed before the server said anything would
    // otherwise end the command without a word, so it says
    // "Impossibile connettersi a <server>".
    bool ConnectAccountForMessage(int32_t accountIndex);
    void DisconnectServer();
    // The box of a secure connection that failed (Italian, naming the
    // server): the certificate with its reason and fingerprint, with the
    // question whether to accept it; a refused STLS; any other TLS failure.
    // True when the user accepted the certificate: it is stored as the
    // account's "Impronta" and the login may be tried again. Given the
    // session's server, its last answer, and the fingerprint to set when the
    // user accepts the certificate.
    bool ReportTlsFailure(int32_t accountIndex, const ETlsError& error, const std::string& host,
                          const TServerReply& reply, std::string& fingerprint);
    // ConnectAccount for an IMAP account: the same boxes, the same token
    // refreshes, ImapSession1 opened on the account's folder.
    bool ConnectImapAccount(int32_t accountIndex);
    // ConnectImapAccount saying "Impossibile connettersi a <server>" when it
    // failed without a word, as ConnectAccountForMessage does.
    bool ConnectImapAccountForMessage(int32_t accountIndex);
    // Ends the IMAP session with LOGOUT.
    void DisconnectImap();
    // Reads the password of an account whose password is in the keyring into
    // account, and keeps it in Accounts for the rest of the run. When the
    // keyring has none or cannot be reached, the box says so for this
    // account and the connection is not tried.
    bool TakeKeyringPassword(int32_t accountIndex, TMailAccount& account);
    // Puts a usable access token into account (and Accounts): the cached one
    // while it has more than five minutes left and force is off, else a
    // refresh, whose rotated refresh token is stored before anything else.
    // On failure the box says why for this account (a gone grant asks for a
    // new sign-in where the screen can run one) and false is returned.
    bool TakeAccessToken(int32_t accountIndex, TMailAccount& account, bool force);
    // The same before a session, the window pumped meanwhile.
    bool TakeAccessTokenPumped(int32_t accountIndex, TMailAccount& account);
    // The browser sign-in of the account at accountIndex: the system browser
    // opened on the provider's page through the screen, a wait of at most
    // five minutes on the loopback redirect (Stop ends it), the code
    // exchanged and the tokens stored. Returns the Italian outcome
    // ("Accesso eseguito come <address>" or the error); ok tells which.
    std::string SignInWithBrowser(int32_t accountIndex, bool& ok);
    // Stores the tokens of a refresh or a sign-in where the account's secrets
    // live; a keyring that fails keeps the refresh token in the file, which
    // the box says once a run.
    void StoreTokens(const TMailAccount& stored, const TOAuthTokens& tokens);
    // Whether the user pressed Stop during the operation that is running.
    bool StopPressed() const { return FStopVisible && StopFlag; }
    // Whether the last check set its error flag.
    bool CheckErrorFlag() const { return FCheckError; }
    // Runs at the end of every check, after the closing steps, with the
    // summary on the status bar (the headless check prints the list here).
    std::function<void()> OnCheckEnded;

    // --- Deletion and recycle folder (deletion.cpp) ---------------------------
    // "Elimina": asks, then deletes the ticked rows, last first, and checks
    // again. Shift inverts the "CopyToRecycle" choice. Never raises.
    void DeleteSelectedMessages();
    // The automatic deletion: the ticked rows without a question, copies as
    // "CopyToRecycle" says, then a check that deletes nothing by itself.
    // Never raises.
    void DeleteBlockedMessages();
    // Verifies the message of one row by its UIDL reply, copies it into the
    // recycle folder when asked (written whole and flushed first), and
    // deletes it. True exactly when the server accepted DELE. A POP3 error
    // the steps do not handle is raised after the connection was ended.
    bool DeleteMessage(int32_t row, bool copyToRecycle);
    void OpenRecycleFolder();
    void BitBtnEliminaClick() { DeleteSelectedMessages(); }
    void BitBtnRecycleClick() { OpenRecycleFolder(); }
    void Apricestino1Click() { OpenRecycleFolder(); }

    // --- Block and accept commands (rule_commands.cpp) -------------------------
    // Each adds the highlighted message's sender address or subject to its
    // list after a question, sorts and saves the list and classifies the
    // records again (the rows keep their ticks). Never raise.
    void Bloccamittente1Click();
    void Bloccaoggetto1Click();
    void Accettasempreilmittente1Click();
    void Accettasempreloggetto1Click();

    // --- Viewing and saving (message_view.cpp) ----------------------------------
    // The header as the check stored it, or the whole message from the
    // server, in the viewer. Never raises.
    void ShowMessageText(int32_t row, bool headerOnly);
    // The whole message from the server into a file the user chooses.
    // Never raises.
    void SaveMessageToFile(int32_t row);
    void Visualizzalintestazionedelmessaggio1Click();
    void Visualizzamessaggio1Click();
    void Salva1Click();
    void ListViewMsgDblClick();
    // Whether the commands that use the POP3 client take effect now: not
    // while a check or a deletion owns the client. A view may grey them out.
    bool ServerCommandsAllowed() const { return !Checking && !Deleting; }

private:
    // What the login of either protocol needs of its session: the client
    // (its server, its last answer), the fingerprint to set when the user
    // accepts a certificate, the token to replace after a refusal, and the
    // step that connects and logs in (it throws on failure). With
    // RefusalNeedsCode only an answer with an error code is shown as the
    // server's refusal, so that a greeting is never taken for one.
    struct TSessionOpening {
        TTcpClient& Client;
        const std::string& User;
        std::string& Fingerprint;
        std::string& AccessToken;
        std::function<void()> Open;
        bool RefusalNeedsCode = false;
    };
    // Logs in, with the boxes of a refused certificate (accepted: the login
    // again), a refused token (one fresh token, one more try) and the
    // server's refusal; the window pumps during a TLS handshake.
    bool OpenSession(int32_t accountIndex, TMailAccount& account,
                     const TSessionOpening& opening);
    struct TRuleCommand;
    void RunRuleCommand(const TRuleCommand& command);
    // One deletion run, the commands off and the timer held while it lasts:
    // copyChoice gives "CopyToRecycle" for the run, or nothing when no row is
    // to go; every run that started ends with a check.
    void RunDeletion(TAutoDeletion checkAfter,
                     const std::function<std::optional<bool>()>& copyChoice);
    void WalkTickedRows(bool copyToRecycle);
    // The copy of one message in the recycle folder, whole and flushed to
    // disk; false (after its error box) when there is none. With boxes the
    // error texts go there instead of on screen; written gets the file's
    // path.
    bool CopyToRecycleFolder(const TMessageEntry& entry,
                             std::vector<std::string>* boxes = nullptr,
                             std::string* written = nullptr);
    // The second half of it: the fetched message text checked against the
    // stored header and written whole into the recycle folder.
    bool StoreRecycleCopy(const TMessageEntry& entry, const std::string& text,
                          std::vector<std::string>* boxes, std::string* written);
    // The ticked messages of one IMAP account in one session: SELECT with
    // UIDVALIDITY checked, one fetch that verifies them all (the whole
    // messages when copies are made, else the headers), then one removal of
    // those verified up to the first that was not. False when the walk ends
    // here.
    bool DeleteImapBatch(const std::vector<TMessageEntry>& batch, bool copyToRecycle);
    bool AccountIsImap(int32_t accountIndex) const;
    // Deletes from a ticked row on: the message of that row in a session of
    // its own, or, with gather on a server that takes commands ahead, with
    // the ticked rows of the same account that follow it in the walk (row
    // is moved to the last of them; ambiguous ids among them are passed
    // over and noted). False when the walk ends here.
    bool DeleteFromRow(int64_t& row, bool copyToRecycle, bool& ambiguous, bool gather);
    std::vector<TMessageEntry> BatchFromRow(const TMessageEntry& first, int64_t& row,
                                            bool& ambiguous);
    // One account's messages in one session, each step's commands together:
    // UIDL, then RETR for the copies (or the header check), then DELE of
    // those that passed, then QUIT awaited. False when the walk ends here.
    bool DeleteBatch(const std::vector<TMessageEntry>& batch, bool copyToRecycle);
    // Sends command(i) ahead for i < count as the window allows (an
    // empty command sends nothing) and calls answer(i) for i < max(count,
    // turns), in order, until it returns false (answer reads the reply
    // itself); then drops what is still ahead.
    void ReadAheadInOrder(size_t count,
                          const std::function<std::string(size_t)>& command,
                          const std::function<bool(size_t)>& answer, size_t turns = 0);
    // DELE of the first count messages of the batch, read in order. A
    // refusal keeps every message from the refused one on; a lost
    // connection deletes nothing, unless the server commits what it was
    // asked, so every copy whose DELE went out stays. Raises what it met.
    void DeleteVerified(const std::vector<TMessageEntry>& batch, size_t count,
                        const std::vector<std::string>& copies);
    // Removes the copies of the messages [from, to) of a batch: messages
    // that stay on the server and that one at a time would never have been
    // copied.
    void KeepAfter(const std::vector<std::string>& copies, size_t from, size_t to);
    // UIDL of the record's number gives the reply the check stored.
    bool UidUnchanged(const TMessageEntry& entry);
    // RETR of the record's number into one text, bounded by the size the
    // check listed (see RetrieveLimit); as FetchRaw.
    bool FetchWholeMessage(const TMessageEntry& entry, std::string& text);
    // The same for a record of an IMAP account: the folder opened read-only
    // (UIDVALIDITY unchanged) and the message fetched by its UID.
    bool FetchImapMessage(const TMessageEntry& entry, std::string& text);
    // The single-message commands' session, for either protocol; failed
    // ends it while an error is on its way up.
    bool ConnectForMessage(int32_t accountIndex);
    void DisconnectAfterMessage(int32_t accountIndex, bool failed);
    // The header fetch of the record's number gives the header it stored.
    bool HeaderUnchanged(const TMessageEntry& entry);
    // Whether another record of the same account has the same unique id.
    bool UidIsAmbiguous(int32_t recordIndex) const;
    void CommitAndDisconnect();
    // Resumes the timer, then shows the error that escaped a command (or the
    // timer's own), if any.
    void ResumeAutoCheckAfter(std::string& escapedError);
    // Ends the session while another error is on its way up; a failing QUIT
    // just closes the socket.
    void EndSessionAfterError();
    void ClearRows();
    void AppendRow(int32_t recordIndex);
    void ApplyRowCheck(int32_t row, bool checked);
    void ShowMailboxes();
    void RunCheckAccounts(bool& errorFlag);
    void ReadAccountMessages(int32_t accountIndex, bool& errorFlag);
    // The check of an IMAP account over ImapSession1: one record and row per
    // message as the headers stream in.
    void ReadImapMessages(int32_t accountIndex, bool& errorFlag);
    // The last ConnectAccount stopped short for want of the password, and
    // said so already.
    bool FPasswordMissing = false;
    bool FTokenInFileTold = false;
    // "DecodeUTF8" as read at the start of the running check.
    bool FDecodeUtf8 = false;
    // "Pipelining" as read at the start of the running check or deletion.
    bool FPipelining = true;
    // After the login: CAPA, when "Pipelining" is on; whether commands may
    // go ahead of their answers in this session.
    bool SessionTakesPipelining();
    // Whether the running deletion has swept the recycle folder of leftovers.
    bool FRecycleSwept = false;
    // The accounts whose server said no to that during the running deletion:
    // their later sessions (one a message) skip asking again.
    std::vector<int32_t> FSequentialAccounts;
    // Sends the commands of messages next.. ahead while the window has
    // room; returns the first message not sent.
    int32_t SendCheckAhead(int32_t next, int32_t count);
    // Reads and drops the answers still ahead; on failure the connection is
    // closed without another word.
    void DropAheadQuietly();
    void FinishCheck(size_t previousCount, bool errorFlag);

    TScreen& Screen;
    std::string FStatusText;
    TCommandState FCommands;
    bool FStopVisible = false;
    bool FStopEnabled = true;
    TMessageList FList;
    bool FCheckError = false;
    // The interval ResumeAutoCheck last armed the timer with.
    int32_t FAutoCheckIntervalMs = 60000;
    // The save dialog's folder: the Documents folder from its first use on.
    std::string FSaveInitialDir;
};

}  // namespace kalmuro
