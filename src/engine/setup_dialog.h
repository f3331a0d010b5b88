// The settings dialog's behaviour without widgets: its own working copy of
// the accounts and the grid that shows it, the options of section "Setup" as
// the dialog's controls hold them, the four colours, and what confirming
// writes. The dialog's widgets fill their controls from here, report every
// change back and call BitBtnOkClick when the user confirms.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/message_list.h"
#include "mail/accounts.h"

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
// "DecodeUTF8" when it is on or already stored, so that a file that never
// had it keeps its bytes.
void WriteSetupOptions(const TSetupOptions& options);

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
    // Replaces the account of row r and highlights that row again; nothing
    // happens when r shows no account. The editor shows no certificate: the
    // accepted one stays with the account while its server stays the same,
    // and goes when the server changes.
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

    // The only-when-minimised box may be changed only while the automatic
    // check is on.
    bool AutoCheckIconEnabled() const { return Options.AutoCheck; }

    // Writes the accounts (unless they failed to load), then the ten options,
    // then the four colours as integers. A refused write is shown in the error
    // box and the writes stop there; what was written stays. Then the login
    // entry is written or removed when the box changed (and rewritten while
    // it stays on, should the program's command have changed); a failure
    // there has a box of its own. The dialog
    // closes with OK either way, so that the main window reloads what the file
    // holds.
    void BitBtnOkClick();

private:
    TFormMain& Owner;
    TArrayOfMailAccount FAccounts;
    bool FAccountsLoaded = false;
    int32_t FRow = 1;
    bool FStartAtLoginShown = false;
};

}  // namespace kalmuro
