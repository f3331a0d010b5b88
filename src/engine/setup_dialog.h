// The settings dialog's behaviour without widgets: its own working copy of
// the accounts and the grid that shows it, the account editor's fields and
// choices, the options of section "Setup" as the dialog's controls hold
// them, the four colours, and what confirming writes. The dialog's widgets
// fill their controls from here, report every change back and call
// BitBtnOkClick when the user confirms.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/message_list.h"
#include "mail/accounts.h"
#include "mail/auth/oauth_http.h"
#include "mail/mailbox_session.h"

namespace kalmuro {

class TFormMain;

// The grid's column titles, and what its password column shows whatever the
// password.
inline constexpr std::array<const char*, 6> kAccountGridTitles = {
    "Account", "Server POP3", "Nome utente", "Password", "Porta", "APOP"};
inline constexpr const char* kPasswordMask = "************";
inline constexpr const char* kDeleteAccountQuestion = "Eliminare l'account selezionato ?";
inline constexpr const char* kStartAtLoginCaption = "Avvia Kalmuro all'accesso al desktop";
// Followed by the login entry's path.
inline constexpr const char* kStartAtLoginOnError =
    "Impossibile attivare l'avvio all'accesso al desktop:\\n";
inline constexpr const char* kStartAtLoginOffError =
    "Impossibile disattivare l'avvio all'accesso al desktop:\\n";

// The boxes of the two options of IMAP accounts in section "Setup"
// (kKeyMoveToJunk and kKeyImmediateCheck).
inline constexpr const char* kMoveToJunkCaption =
    "IMAP: sposta nella cartella Spam del server invece di eliminare";
inline constexpr const char* kImmediateCheckCaption =
    "Controlla subito i messaggi in arrivo (IMAP)";

// The ranges of the two spin boxes.
struct TSpinRange {
    int32_t Min, Max;
};
inline constexpr TSpinRange kAutoCheckMinutesRange = {1, 1440};
inline constexpr TSpinRange kTimeoutRange = {1, 3600};

// The options of section "Setup" as the dialog's controls hold them. The
// defaults are the controls' design state (boxes unticked, spin boxes at 1),
// which is what a control keeps when its stored value could not be read.
struct TSetupOptions {
    bool CheckStart = false;
    bool AutoCheck = false;
    bool AutoCheckIcon = false;
    std::string AutoCheckMinutes = "1";  // the spin box's text
    bool MinimizeStart = false;
    bool NotifyBalloon = false;
    std::string Timeout = "1";  // the spin box's text
    bool CopyToRecycle = false;
    bool StopEmptyMsg = false;
    bool AutoDelete = false;
    // "Decodifica i testi codificati in UTF-8" ("DecodeUTF8").
    bool DecodeUtf8 = false;
    // "SpostaInSpam": ticked by design too, so that a value that cannot be
    // read never turns a move into the Junk folder into a deletion.
    bool MoveToJunk = true;
    // "AttesaImmediata".
    bool ImmediateCheck = false;
    // "Conserva le password nel portachiavi del sistema" ("Portachiavi"):
    // written with the accounts, since it says where their passwords are.
    bool Keyring = false;
    bool operator==(const TSetupOptions&) const = default;
};

// The four rule-list files the dialog opens in the text editor.
enum class TRuleListFile { BlockedSenders, SafeSenders, BlockedSubjects, SafeSubjects };

// The text a spin box of that range shows for a stored text: the number
// itself when it lies in the range, the nearest bound when it lies outside,
// the lower bound when it is no number at all.
std::string SpinBoxText(const std::string& stored, TSpinRange range);

// Reads the options in the order the dialog sets its controls. A value that
// is no number raises EConvertError; the options read before it keep their
// values in `options`, that one and the later ones their design state.
void ReadSetupOptions(TSetupOptions& options);
// Writes the ten options of section "Setup" in the dialog's order, then
// "DecodeUTF8", "SpostaInSpam" and "AttesaImmediata", each only when it
// differs from its default or is already stored, so that a file that never
// had them keeps its bytes. "Portachiavi" is the accounts' save's to write.
void WriteSetupOptions(const TSetupOptions& options);

// --- The account editor ----------------------------------------------------

// The choices of the editor's lists, in the order of the stored values.
inline constexpr std::array<const char*, 2> kProtocolCaptions = {"POP3", "IMAP"};
inline constexpr std::array<const char*, 2> kAccessCaptions = {"Nome utente e password",
                                                               "OAuth 2.0"};
struct TProviderChoice {
    const char* Provider;  // as stored in "Provider" n
    const char* Caption;
};
inline constexpr std::array<TProviderChoice, 3> kProviderChoices = {
    {{kProviderGoogle, "Google"},
     {kProviderMicrosoft, "Microsoft"},
     {kProviderCustom, "Personalizzato"}}};
inline constexpr const char* kSignInCaption = "Accedi con il browser";
inline constexpr const char* kSignInWaitText = "In attesa dell'accesso nel browser...";
inline constexpr const char* kSignInStoppedText = "Accesso interrotto";
inline constexpr const char* kBrowserNotOpenedText = "Impossibile aprire il browser per l'accesso";

// The label of the server field: "Server POP3" or "Server IMAP".
std::string ServerCaption(TProtocol protocol);
// The mail server a provider's preset names for the protocol; empty for
// "personalizzato" and unknown providers.
std::string PresetServer(const std::string& provider, TProtocol protocol);

// Which of the editor's fields an account shows. The others keep what they
// hold while hidden, so that choosing back brings them back as they were.
struct TAccountFields {
    bool Folder = false;           // "Cartella": IMAP only
    bool Apop = true;              // POP3 with a password only
    bool Password = true;          // not for OAuth
    bool OAuth = false;            // provider, client id and secret, the sign-in
    bool CustomEndpoints = false;  // "personalizzato": the three addresses and the scopes
    bool operator==(const TAccountFields&) const = default;
};
TAccountFields FieldsShown(const TMailAccount& account);

// What a browser sign-in from the editor came to: Text is what the editor
// shows ("Accesso eseguito come <address>", or why not).
struct TSignInOutcome {
    bool Ok = false;
    bool Stopped = false;  // the user ended the wait
    std::string Text;
};

// The account editor's behaviour: what choosing a protocol, a security, a
// login method or a provider does to the other fields, and the browser
// sign-in on the fields as they stand. The editor's widgets write every
// typed field into Fields before calling one of these, and show Fields
// again after.
class TAccountEditor {
public:
    TAccountEditor() = default;
    explicit TAccountEditor(const TMailAccount& account);

    TMailAccount Fields;

    TAccountFields Shown() const { return FieldsShown(Fields); }
    // A change of protocol moves a usual port to the protocol's own (993 or
    // 143 for IMAP), and a preset's server to the preset's server of that
    // protocol; an empty folder becomes "INBOX".
    void SetProtocol(TProtocol protocol);
    // As "Sicurezza" always did for POP3 (110 <-> 995); for IMAP 993 with
    // TLS, 143 with the others. A port typed by hand stays.
    void SetSecurity(TSecurity security);
    // Choosing OAuth without a provider picks the preset whose server the
    // account already names, else "personalizzato", which changes nothing.
    void SetAccess(TAccessMethod access);
    // A preset fills the server, the port and TLS from the first byte.
    void SetProvider(const std::string& provider);

    // Runs the authorization-code flow on the fields as they are now: the
    // address opened with openBrowser, a wait of at most five minutes on
    // the loopback redirect (wait's hook and Stop honoured, its time-out for
    // each request), the code exchanged. On success the tokens stay with
    // Fields until the account is saved, and an empty user name becomes the
    // address the provider named. Never raises.
    TSignInOutcome SignInWithBrowser(const std::function<bool(const std::string&)>& openBrowser,
                                     const TOAuthWait& wait);

    // The account to save: Fields, without a password when it signs in with
    // OAuth, and without tokens that were granted to another client or
    // token endpoint than the one it now names (they would be sent there).
    TMailAccount Result() const;

private:
    // The client and token endpoint the tokens in Fields were granted to.
    std::string FGrantedTo;
};

class TSetupDialog {
public:
    // owner: the main window, whose colours the dialog starts from and whose
    // message boxes and shell it uses.
    explicit TSetupDialog(TFormMain& owner);

    // Loads the accounts and the options, takes the colours from the main
    // window, and highlights the first grid row. A value that cannot be read
    // is shown in the error box and the dialog still opens. When the accounts
    // cannot be read, the grid stays empty and the accounts cannot be edited,
    // so that confirming never replaces stored accounts the dialog could not
    // show.
    void FormCreate();

    TSetupOptions Options;
    // "Avvia Kalmuro all'accesso al desktop": whether the desktop's login
    // entry is there (autostart.h), read from the file itself when the dialog
    // opens; never stored in the settings file.
    bool StartAtLogin = false;
    // The four colour pickers, 0x00BBGGRR.
    TRowColors Colors{};

    const TArrayOfMailAccount& Accounts() const { return FAccounts; }
    bool AccountsEditable() const { return FAccountsLoaded; }

    // The grid's texts: row 0 the titles, then one row per account, or one
    // empty row when there is none.
    std::vector<std::array<std::string, 6>> GridRows() const;
    int32_t RowCount() const;
    // The highlighted grid row; 0 is the title row, which shows no account.
    int32_t Row() const { return FRow; }
    void SetRow(int32_t row);
    // Whether grid row r shows an account.
    bool RowShowsAccount(int32_t row) const;

    // A new account as the editor starts it: port "110", active, the rest
    // empty.
    static TMailAccount NewAccount();
    // Appends the account as the editor gave it and highlights its row.
    void AddAccount(const TMailAccount& account);
    // The account grid row r shows (r must show one).
    const TMailAccount& AccountAt(int32_t row) const;
    // The account of row r as the editor shows it: a password kept in the
    // keyring is read from there first (a failure is shown in the error box,
    // and the editor's password stays empty).
    TMailAccount AccountForEditing(int32_t row);
    // Replaces the account of row r and highlights that row again; nothing
    // happens when r shows no account. The editor shows no certificate: the
    // accepted one stays with the account while its server stays the same,
    // and goes when the server changes. An empty password for an account
    // whose password is still unread in the keyring leaves it there.
    void ReplaceAccount(int32_t row, const TMailAccount& account);
    // "Elimina": asks, then deletes the highlighted row's account.
    void BitBtnDelClick();
    // Removes the account of row r; the row then highlights the account that
    // moved into it, else the new last one.
    void DeleteAccountRow(int32_t row);

    // Opens a rule list in the desktop's text editor without waiting; a
    // missing list is created empty first, so that the editor has a file to
    // open and save.
    void OpenRuleList(TRuleListFile list);

    // The user ticked or unticked the keyring box; returns what it is to
    // show. Ticking it when the keyring does not answer is refused with a
    // box that says why.
    bool SetKeyringOption(bool on);

    // The browser sign-in of the account being edited (see
    // TAccountEditor::SignInWithBrowser), with the dialog's time-out, the
    // window pumped while it waits, and OpenBrowser to open the address;
    // the outcome is also shown in a box, unless the user ended the wait.
    TSignInOutcome SignInWithBrowser(TAccountEditor& editor,
                                     const std::function<bool()>& stopRequested);
    // The desktop's opener of a web address; false when it failed.
    std::function<bool(const std::string&)> OpenBrowser;

    // The only-when-minimised box may be changed only while the automatic
    // check is on.
    bool AutoCheckIconEnabled() const { return Options.AutoCheck; }

    // Writes the accounts with their passwords where "Portachiavi" says
    // (unless they failed to load: the option then stays as stored), then the
    // ten options, then the four colours as integers. A refused write, or a
    // keyring that fails, is shown in the error box and the writes stop
    // there; what was written stays. Then the login entry is written or
    // removed when the box changed (and rewritten while it stays on, should
    // the program's command have changed); a failure there has a box of its
    // own. The dialog closes with OK either way, so that the main window
    // reloads what the file holds.
    void BitBtnOkClick();

private:
    TFormMain& Owner;
    TArrayOfMailAccount FAccounts;
    // As loaded: where the keyring's items of the accounts are.
    TArrayOfMailAccount FLoadedAccounts;
    bool FAccountsLoaded = false;
    int32_t FRow = 1;
    bool FStartAtLoginShown = false;
};

}  // namespace kalmuro
