// The settings dialog without widgets: the grid texts, the working copy of
// the accounts and the highlight after each change, the options as read and
// as written, the guard on accounts that failed to load, refused writes and
// the rule-list files.
#include "engine/setup_dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/engine_harness.h"
#include "mail/atomic_file.h"
#include "mail/text.h"
#include "support/ini_text.h"

namespace kalmuro::enginetest {
namespace {

using testing::WithPasswordsShown;

class SetupDialogTest : public TFormTest {
protected:
    TSetupDialog Dialog{Form};

    std::string Ini() const { return ReadFile(IniFileName()); }
    void Open() {
        Screen.Boxes.clear();
        Dialog.FormCreate();
    }
    std::vector<std::string> Column(size_t column) const {
        std::vector<std::string> texts;
        for (const auto& row : Dialog.GridRows()) texts.push_back(row[column]);
        return texts;
    }
};

TEST_F(SetupDialogTest, GridShowsTitlesMaskedPasswordsAndOneEmptyRowWithoutAccounts) {
    Load({});
    Open();
    const auto empty = Dialog.GridRows();
    ASSERT_EQ(empty.size(), 2u);
    EXPECT_EQ(empty[0][0], "Account");
    EXPECT_EQ(empty[0][5], "APOP");
    EXPECT_EQ(empty[1], (std::array<std::string, 6>{}));
    EXPECT_FALSE(Dialog.RowShowsAccount(1));

    TMailAccount a = Account("Casa", 995, "mario", "");
    a.Apop = true;
    a.Port = "0110x";  // shown as typed
    TMailAccount b = Account("Ufficio & co", 110, "m.rossi", std::string(40, 'x'), false);
    Load({a, b});
    Open();
    const auto rows = Dialog.GridRows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (std::array<std::string, 6>{"Account", "Server POP3", "Nome utente",
                                                   "Password", "Porta", "APOP"}));
    EXPECT_EQ(rows[1], (std::array<std::string, 6>{"Casa", "127.0.0.1", "mario", "************",
                                                   "0110x", "Si"}));
    EXPECT_EQ(rows[2], (std::array<std::string, 6>{"Ufficio & co", "127.0.0.1", "m.rossi",
                                                   "************", "110", "No"}));
    EXPECT_EQ(Dialog.Row(), 1);
}

TEST_F(SetupDialogTest, AddEditDeleteThenConfirmWritesAccountsThenOptionsThenColours) {
    Home.Write("kalmuro.ini", "[Setup]\r\nLeft=10\r\nTimeout=90\r\n");
    SaveAccounts({Account("Uno", 110, "u1", "p1"), Account("Due", 110, "u2", "p2"),
                  Account("Tre", 110, "u3", "p3")});
    Form.LoadSettings();
    Form.ColorLocked = 0x123456;  // the dialog starts from the window's colours
    Open();
    EXPECT_TRUE(Screen.Boxes.empty());

    TMailAccount added = TSetupDialog::NewAccount();
    EXPECT_EQ(added.Port, "110");
    EXPECT_TRUE(added.Active);
    EXPECT_FALSE(added.Apop);
    EXPECT_EQ(added.AccountName + added.PopServer + added.UserId + added.UserPwd, "");
    added.AccountName = "Nuovo";
    added.PopServer = " pop.example.com ";  // taken as typed
    added.UserId = "nuovo";
    added.UserPwd = "s3gr\xE8to";  // s3grèto
    added.Apop = true;
    Dialog.AddAccount(added);
    EXPECT_EQ(Dialog.Row(), 4);

    TMailAccount edited = Dialog.AccountAt(1);
    edited.AccountName = "Uno bis";
    edited.Active = false;
    Dialog.ReplaceAccount(1, edited);
    EXPECT_EQ(Dialog.Row(), 1);

    Dialog.SetRow(2);
    Dialog.BitBtnDelClick();
    ASSERT_EQ(Screen.Boxes.size(), 1u);
    EXPECT_EQ(Screen.Boxes[0].Message, "Eliminare l'account selezionato ?");
    EXPECT_EQ(Screen.Boxes[0].Title, "Conferma");
    EXPECT_EQ(Dialog.Row(), 2);  // "Tre" moved up into it
    EXPECT_EQ(Column(0), (std::vector<std::string>{"Account", "Uno bis", "Tre", "Nuovo"}));

    Dialog.Options.AutoCheck = true;
    Dialog.Options.AutoCheckMinutes = "15";
    Dialog.Options.Timeout = "120";
    Dialog.Options.AutoDelete = true;
    Dialog.BitBtnOkClick();
    EXPECT_EQ(Screen.Boxes.size(), 1u);
    EXPECT_EQ(WithPasswordsShown(Ini()),
              "[Setup]\r\nLeft=10\r\nTimeout=120\r\n"
              "CheckStart=0\r\nCheckBoxAutoCheck=1\r\nCheckBoxAutoCheckIcon=0\r\n"
              "CheckBoxAutoCheckMinutes=15\r\nMinimizeStart=0\r\nNotifyBalloon=1\r\n"
              "CopyToRecycle=1\r\nStopEmptyMsg=0\r\nAutoDelete=1\r\n"
              "ColorNormal=0\r\nColorSelected=255\r\nColorLocked=1193046\r\n"
              "ColorSecured=32768\r\n"
              "[Accounts]\r\n"
              "PopServer1=127.0.0.1\r\nUserId1=u1\r\nUserPwd1=<p1>\r\nPorta1=110\r\n"
              "APOP1=0\r\nAttivo1=0\r\nAccount1=Uno bis\r\n"
              "PopServer2=127.0.0.1\r\nUserId2=u3\r\nUserPwd2=<p3>\r\nPorta2=110\r\n"
              "APOP2=0\r\nAttivo2=1\r\nAccount2=Tre\r\n"
              "PopServer3= pop.example.com \r\nUserId3=nuovo\r\nUserPwd3=<s3gr\xE8to>\r\n"
              "Porta3=110\r\nAPOP3=1\r\nAttivo3=1\r\nAccount3=Nuovo\r\n");
}

TEST_F(SetupDialogTest, DeletingMovesTheHighlightAsTheRowsMove) {
    struct Case {
        const char* Name;
        int32_t Accounts, Deleted, Row;
        std::vector<std::string> Names;
    };
    const std::vector<Case> cases = {
        {"first-of-three", 3, 1, 1, {"Account", "A2", "A3"}},
        {"middle-of-three", 3, 2, 2, {"Account", "A1", "A3"}},
        {"last-of-three", 3, 3, 2, {"Account", "A1", "A2"}},
        {"only-one", 1, 1, 0, {"Account", ""}},
        {"title-row", 2, 0, 1, {"Account", "A1", "A2"}},
        {"past-the-end", 2, 3, 1, {"Account", "A1", "A2"}},
        {"empty-row", 0, 1, 1, {"Account", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TArrayOfMailAccount accounts;
        for (int i = 1; i <= c.Accounts; ++i)
            accounts.push_back(Account("A" + std::to_string(i), 110, "u", "p"));
        SaveAccounts(accounts);
        TSetupDialog dialog(Form);
        dialog.FormCreate();
        dialog.DeleteAccountRow(c.Deleted);
        EXPECT_EQ(dialog.Row(), c.Row);
        std::vector<std::string> names;
        for (const auto& row : dialog.GridRows()) names.push_back(row[0]);
        EXPECT_EQ(names, c.Names);
        // Nothing of a deleted account is left in any cell.
        if (c.Accounts == 1) {
            EXPECT_EQ(dialog.GridRows()[1], (std::array<std::string, 6>{}));
        }
    }
}

TEST_F(SetupDialogTest, DeleteAnsweredNoOrWithoutAccountsChangesNothing) {
    Load({Account("A1", 110, "u", "p")});
    Open();
    Screen.Answer = [](const TBox&) { return mrNo; };
    Dialog.BitBtnDelClick();
    EXPECT_EQ(Dialog.Accounts().size(), 1u);

    Load({});
    Open();
    Screen.Answer = nullptr;
    Dialog.BitBtnDelClick();
    EXPECT_EQ(Screen.BoxMessages(),
              (std::vector<std::string>{"Eliminare l'account selezionato ?"}));
    EXPECT_EQ(Dialog.GridRows().size(), 2u);
    // Editing an empty row does nothing either.
    Dialog.ReplaceAccount(1, Account("X", 110, "x", "x"));
    EXPECT_TRUE(Dialog.Accounts().empty());
}

TEST_F(SetupDialogTest, OptionsReadWithTheirDefaultsAndSpinBoxesKeptInRange) {
    Open();
    TSetupOptions defaults;
    defaults.AutoCheckMinutes = "1";
    defaults.NotifyBalloon = true;
    defaults.Timeout = "60";
    defaults.CopyToRecycle = true;
    EXPECT_EQ(Dialog.Options, defaults);
    const TRowColors& colors = Dialog.Colors;
    EXPECT_EQ((std::array{colors.Normal, colors.Selected, colors.Locked, colors.Secured}),
              (std::array{0, 255, 0xFF0000, 0x8000}));
    EXPECT_FALSE(Dialog.AutoCheckIconEnabled());

    struct Case {
        const char* Name;
        std::string Stored;
        TSpinRange Range;
        std::string Shown;
    };
    const std::vector<Case> cases = {
        {"in-range", "15", kAutoCheckMinutesRange, "15"},
        {"upper-bound", "1440", kAutoCheckMinutesRange, "1440"},
        {"too-big", "5000", kAutoCheckMinutesRange, "1440"},
        {"zero", "0", kTimeoutRange, "1"},
        {"negative", "-5", kTimeoutRange, "1"},
        {"hex", "$10", kTimeoutRange, "16"},
        {"letters", "abc", kTimeoutRange, "1"},
        {"empty", "", kTimeoutRange, "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(SpinBoxText(c.Stored, c.Range), c.Shown);
    }
}

TEST_F(SetupDialogTest, AValueThatIsNoNumberLeavesItAndTheLaterOptionsAsDesigned) {
    Home.Write("kalmuro.ini",
               "[Setup]\r\nCheckStart=1\r\nCheckBoxAutoCheck=1\r\nCheckBoxAutoCheckMinutes=30\r\n"
               "MinimizeStart=si\r\nNotifyBalloon=1\r\nTimeout=90\r\nCopyToRecycle=1\r\n");
    Open();
    EXPECT_EQ(Screen.BoxMessages(),
              (std::vector<std::string>{"'si' is not a valid integer value"}));
    EXPECT_EQ(Screen.Boxes[0].Title, "Errore");
    TSetupOptions expected;
    expected.CheckStart = true;
    expected.AutoCheck = true;
    expected.AutoCheckMinutes = "30";
    EXPECT_EQ(Dialog.Options, expected);
    EXPECT_TRUE(Dialog.AutoCheckIconEnabled());
}

TEST_F(SetupDialogTest, AccountsThatFailToLoadAreNeitherShownNorErasedOnConfirm) {
    SaveAccounts({Account("A1", 110, "u1", "p1"), Account("A2", 110, "u2", "p2")});
    WriteIniString(kSectionAccounts, "APOP2", "forse");
    const std::string accounts = Ini();
    Open();
    EXPECT_EQ(Screen.BoxMessages(),
              (std::vector<std::string>{"'forse' is not a valid integer value"}));
    EXPECT_FALSE(Dialog.AccountsEditable());
    EXPECT_EQ(Dialog.GridRows().size(), 2u);
    Dialog.AddAccount(Account("X", 110, "x", "x"));
    EXPECT_TRUE(Dialog.Accounts().empty());

    Dialog.Options.StopEmptyMsg = true;
    Dialog.BitBtnOkClick();
    const std::string after = Ini();
    EXPECT_EQ(after.substr(0, accounts.size()), accounts);
    EXPECT_NE(after.find("StopEmptyMsg=1\r\n"), std::string::npos);
}

TEST_F(SetupDialogTest, ARefusedWriteIsShownAndWhatWasWrittenStays) {
    SaveAccounts({Account("A1", 110, "u1", "p1")});
    Open();
    Dialog.AddAccount(Account("A2", 110, "u2", "p2"));
    // The accounts go through; the first option no longer fits.
    SaveAccounts(Dialog.Accounts(), Home.Path("scratch.ini"));
    SetWriteFailureForTesting(static_cast<long long>(ReadFile(Home.Path("scratch.ini")).size()));
    Dialog.BitBtnOkClick();
    SetWriteFailureForTesting(-1);
    EXPECT_EQ(Screen.BoxMessages(),
              (std::vector<std::string>{"Unable to write to " + IniFileName()}));
    TArrayOfMailAccount stored;
    LoadAccounts(stored);
    EXPECT_EQ(stored.size(), 2u);
    EXPECT_EQ(Ini().find("[Setup]"), std::string::npos);

    // A file that may not be written at all stays as it was.
    const std::string before = Ini();
    ASSERT_EQ(chmod(IniFileName().c_str(), 0444), 0);
    Screen.Boxes.clear();
    Dialog.BitBtnOkClick();
    EXPECT_EQ(Screen.BoxMessages(),
              (std::vector<std::string>{"Unable to write to " + IniFileName()}));
    EXPECT_EQ(Ini(), before);
}

TEST_F(SetupDialogTest, RuleListsOpenInTheEditorAndAMissingOneIsCreatedEmpty) {
    Load({});
    Home.Write("Oggetti.txt", "viagra\r\n");
    Open();
    const std::vector<std::pair<TRuleListFile, const char*>> lists = {
        {TRuleListFile::BlockedSenders, "Mittenti.txt"},
        {TRuleListFile::SafeSenders, "MittentiOk.txt"},
        {TRuleListFile::BlockedSubjects, "Oggetti.txt"},
        {TRuleListFile::SafeSubjects, "OggettiOk.txt"},
    };
    for (const auto& [list, name] : lists) Dialog.OpenRuleList(list);
    std::vector<std::string> expected;
    for (const auto& [list, name] : lists) expected.push_back(Home.Path(name));
    EXPECT_EQ(Screen.ShellTargets, expected);
    EXPECT_EQ(ReadFile(Home.Path("Mittenti.txt")), "");
    EXPECT_EQ(ReadFile(Home.Path("Oggetti.txt")), "viagra\r\n");
    EXPECT_TRUE(Screen.Boxes.empty());

    Screen.ShellSucceeds = false;
    Dialog.OpenRuleList(TRuleListFile::SafeSubjects);
    EXPECT_EQ(Screen.BoxMessages(),
              (std::vector<std::string>{"Rilevato un errore durante l'esecuzione di\\n" +
                                        Home.Path("OggettiOk.txt") + " "}));
}

TEST_F(SetupDialogTest, AccountWithEmptyServerIsSavedThenGoneAndRemovedAtTheNextConfirm) {
    Load({Account("A1", 110, "u1", "p1")});
    Open();
    TMailAccount blank = TSetupDialog::NewAccount();
    blank.AccountName = "Vuoto";
    blank.UserId = "utente";
    Dialog.AddAccount(blank);
    Dialog.BitBtnOkClick();
    EXPECT_NE(Ini().find("PopServer2=\r\nUserId2=utente\r\n"), std::string::npos);

    TSetupDialog again(Form);
    again.FormCreate();
    EXPECT_EQ(again.GridRows().size(), 2u);
    again.BitBtnOkClick();
    EXPECT_EQ(Ini().find("PopServer2"), std::string::npos);
    EXPECT_EQ(Ini().find("Vuoto"), std::string::npos);
}

}  // namespace
}  // namespace kalmuro::enginetest
