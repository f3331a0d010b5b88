// The keyring where the user meets it: checks and deletions in the window's
// engine and on the command line, --set-password into each store, an item
// that is missing, a keyring that is locked (KeyringLocked, a run of its own)
// or cannot be reached (KeyringAbsent, run without a session bus), and the
// library not even loaded while the option is off.
#include "cli/run_program.h"
#include "engine/setup_dialog.h"
#include "mail/settings.h"
#include "secrets/keyring_harness.h"

namespace kalmuro::keyringtest {
namespace {

using clitest::RunKalmuro;
using clitest::TRunResult;
using enginetest::FakeMailbox;
using test::TFakePop3Server;

class KeyringUse : public KeyringTest {
protected:
    enginetest::TRecordingScreen Screen;
    TFormMain Form{Screen};
    TFakePop3Server Casa{"mario", "uno", FakeMailbox(2)};
    TFakePop3Server Ufficio{"m.rossi", "perch\xE9", FakeMailbox(3)};  // perché
    TArrayOfMailAccount Accounts{Account("Casa", Casa.Port(), "mario", "uno"),
                                 Account("Ufficio", Ufficio.Port(), "m.rossi", "perch\xE9")};

    void Check() {
        Screen.Boxes.clear();
        Form.LoadSettings();
        Form.CheckMail();
    }
    size_t RowsOf(int32_t account) const {
        return static_cast<size_t>(
            std::count_if(Form.Messages.begin(), Form.Messages.end(),
                          [account](const TMessageEntry& e) { return e.AccountIndex == account; }));
    }
    std::string Stdin(const std::string& text) const {
        Home.Write("stdin.txt", text);
        return Home.Path("stdin.txt");
    }
};

TEST_F(KeyringUse, EachPasswordIsReadWhenItsAccountIsUsedAndAMissingOneStopsOnlyThatAccount) {
    SaveInKeyring(Accounts);
    TCountingStore store;
    Form.LoadSettings();
    EXPECT_EQ(store.Total(), 0);  // loading asks nothing
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    EXPECT_EQ(RowsOf(0), 2u);
    EXPECT_EQ(RowsOf(1), 3u);
    Form.CheckMail();
    EXPECT_EQ(store.Count[TCountingStore::Lookups], 2);  // once per account and run

    Shell("secret-tool clear application kalmuro user mario");
    Check();
    EXPECT_EQ(Screen.BoxMessages(),
              std::vector<std::string>{"Password non trovata nel portachiavi per Casa"});
    EXPECT_EQ(RowsOf(0), 0u);
    EXPECT_EQ(RowsOf(1), 3u);
    EXPECT_NE(Form.StatusText().find("Sono stati rilevati errori"), std::string::npos);
}

TEST_F(KeyringUse, TheDialogShowsTheKeyringsPasswordAndMovesItWithTheServer) {
    SaveInKeyring(Accounts);
    TSetupDialog dialog(Form);
    dialog.FormCreate();
    EXPECT_TRUE(dialog.Options.Keyring);
    TMailAccount edited = dialog.AccountForEditing(2);
    EXPECT_EQ(edited.UserPwd, "perch\xE9");
    // Only the server changes, the editor's password left empty.
    edited = dialog.AccountAt(2);
    edited.PopServer = "localhost";
    dialog.ReplaceAccount(2, edited);
    dialog.BitBtnOkClick();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    Accounts[1].PopServer = "localhost";
    EXPECT_EQ(Items(),
              (std::vector<TItem>{ItemOf(Accounts[0], "uno"), ItemOf(Accounts[1], "perch\xE9")}));
    Check();
    EXPECT_EQ(RowsOf(1), 3u);
}

TEST_F(KeyringUse, SetPasswordThenCheckAndDeleteFromTheCommandLine) {
    Accounts[0].UserPwd.clear();
    SaveAccounts({Accounts[0]});
    WriteIniBool(kSectionSetup, kKeyKeyring, true);
    Home.Write("Mittenti.txt", "user2@example.com\r\n");
    const TRunResult set =
        RunKalmuro({"--set-password", "1", "--home", Home.Dir()}, {}, 30000, Stdin("uno\n"));
    EXPECT_EQ(set.ExitCode, 0) << set.Err;
    EXPECT_EQ(set.Out, "Password dell'account 1 (Casa) salvata nel portachiavi del sistema\n");
    EXPECT_EQ(Items(), std::vector<TItem>{ItemOf(Accounts[0], "uno")});

    const TRunResult check = RunKalmuro({"--check", "--delete-blocked", "--home", Home.Dir()});
    EXPECT_EQ(check.ExitCode, 0) << check.Err;
    EXPECT_EQ(check.Err, "");
    EXPECT_EQ(Casa.Messages().size(), 1u);
    EXPECT_EQ(ReadIniString(kSectionAccounts, "UserPwd1", "?"), "");
}

TEST_F(KeyringUse, WithTheOptionOffThePasswordGoesIntoTheFileAndTheLibraryIsNeverLoaded) {
    SaveAccounts({Account("Casa", Casa.Port(), "mario", "vecchia")});
    const TRunResult set =
        RunKalmuro({"--set-password", "1", "--home", Home.Dir()}, {}, 30000, Stdin("uno\r\n"));
    EXPECT_EQ(set.ExitCode, 0) << set.Err;
    EXPECT_EQ(set.Out, "Password dell'account 1 (Casa) salvata in " + IniFileName() + "\n");
    EXPECT_EQ(ReadIniScrambled(kSectionAccounts, "UserPwd1", "", PasswordKey), "uno");
    EXPECT_EQ(Items(), std::vector<TItem>{});

    // The dynamic loader's own account of what it loaded.
    const auto loads = [this] {
        return RunKalmuro({"--check", "--home", Home.Dir()}, {}, 30000, "/dev/null",
                          {"LD_DEBUG=libs"});
    };
    const TRunResult off = loads();
    EXPECT_EQ(off.ExitCode, 0);
    EXPECT_EQ(off.Err.find("libsecret"), std::string::npos);
    EXPECT_EQ(off.Err.find("libgio"), std::string::npos);
    SaveInKeyring({Accounts[0]});
    const TRunResult on = loads();
    EXPECT_EQ(on.ExitCode, 0);
    EXPECT_NE(on.Err.find("libsecret-1.so.0"), std::string::npos);
}

// A keyring locked with no way to ask for its password: its accounts say
// so, an account whose password is still in the file is checked.
using KeyringLocked = KeyringUse;

TEST_F(KeyringLocked, OnlyTheAccountsInTheKeyringFail) {
    SaveInKeyring(Accounts);
    WriteIniScrambled(kSectionAccounts, "UserPwd1", "uno", PasswordKey);
    LockKeyring();
    Check();
    EXPECT_EQ(Screen.BoxMessages(),
              std::vector<std::string>{"Password non trovata nel portachiavi per Ufficio"});
    EXPECT_EQ(RowsOf(0), 2u);
    EXPECT_EQ(RowsOf(1), 0u);
}

// No session bus at all.
using KeyringAbsent = KeyringUse;

TEST_F(KeyringAbsent, TheOptionIsRefusedWithTheReasonAndNothingChanges) {
    SaveAccounts(Accounts);
    const std::string file = ReadFile(IniFileName());
    TSetupDialog dialog(Form);
    dialog.FormCreate();
    EXPECT_FALSE(dialog.SetKeyringOption(true));
    EXPECT_FALSE(dialog.Options.Keyring);
    ASSERT_EQ(Screen.Boxes.size(), 1u);
    EXPECT_EQ(Screen.Boxes[0].Message.rfind("Il portachiavi del sistema non risponde: le password "
                                            "restano nel file delle impostazioni.\\n(",
                                            0),
              0u);
    // Had the box been ticked anyway, confirming would change nothing.
    dialog.Options.Keyring = true;
    dialog.BitBtnOkClick();
    EXPECT_EQ(Screen.Boxes.size(), 2u);
    EXPECT_EQ(ReadFile(IniFileName()), file);
}

TEST_F(KeyringAbsent, EachAccountInTheKeyringSaysSoAndTheOthersAreChecked) {
    Accounts[1].PasswordInKeyring = true;  // saved with an empty password
    SaveAccounts(Accounts);
    WriteIniBool(kSectionSetup, kKeyKeyring, true);
    const TRunResult r = RunKalmuro({"--check", "--home", Home.Dir()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("Password non trovata nel portachiavi per Ufficio"), std::string::npos)
        << r.Err;
    EXPECT_EQ(r.OutLines().size(), 3u) << r.Out;  // two rows and the summary
}

}  // namespace
}  // namespace kalmuro::keyringtest
