// Moving passwords between the settings file and a real keyring: the option
// on and off, the accounts edited in between, an old file's password, a
// failure on either side, and --set-password's store.
#include <functional>

#include "mail/atomic_file.h"
#include "mail/errors.h"
#include "mail/settings.h"
#include "secrets/keyring_harness.h"
#include "support/ini_text.h"

namespace kalmuro::keyringtest {
namespace {

using testing::WithPasswordsShown;

const TArrayOfMailAccount kThree = {
    Account("Casa", 110, "mario", "uno"),
    Account("Ufficio", 995, "m.rossi", "perch\xE9"),  // perché
    Account("Vecchia", 110, "nonna", "tre"),
};

TEST_F(KeyringTest, OnMovesEveryPasswordOutOfTheFileAndOffBringsThemBack) {
    SaveAccounts(kThree);
    const std::string before = WithPasswordsShown(ReadFile(IniFileName()));
    SaveInKeyring(kThree);

    std::vector<TItem> expected;
    for (const TMailAccount& a : kThree) expected.push_back(ItemOf(a, a.UserPwd));
    EXPECT_EQ(Items(), expected);
    const std::string file = ReadFile(IniFileName());
    for (const char* line : {"\r\nUserPwd1=\r\n", "\r\nUserPwd2=\r\n", "\r\nUserPwd3=\r\n",
                             "[Setup]\r\nPortachiavi=1\r\n"})
        EXPECT_NE(file.find(line), std::string::npos) << line;
    for (const TMailAccount& a : Loaded()) {
        EXPECT_TRUE(a.PasswordInKeyring);
        EXPECT_EQ(a.UserPwd, "");
    }
    EXPECT_EQ(ReadKeyringPassword(Loaded()[1]), std::optional<std::string>("perch\xE9"));

    const TArrayOfMailAccount loaded = Loaded();
    SaveAccountsWithSecrets(loaded, loaded, false);
    EXPECT_EQ(Items(), std::vector<TItem>{});
    // The section "Setup" it had to create stays, empty, before the
    // accounts written after it.
    EXPECT_EQ(WithPasswordsShown(ReadFile(IniFileName())), "[Setup]\r\n" + before);
}

// The dialog's edits with the keyring on: every password follows its
// account, and no item is left where no account is.
TEST_F(KeyringTest, PasswordsFollowRenamedMovedRenumberedAndDeletedAccounts) {
    struct TCase {
        const char* Name;
        std::function<void(TArrayOfMailAccount&)> Edit;
    };
    const TCase cases[] = {
        {"rename", [](auto& a) { a[0].AccountName = "Casa mia"; }},
        {"server", [](auto& a) { a[1].PopServer = "localhost"; }},
        {"user", [](auto& a) { a[2].UserId = "nonna2"; }},
        {"port", [](auto& a) { a[0].Port = "1110"; }},
        {"delete-first", [](auto& a) { a.erase(a.begin()); }},
        {"reorder", [](auto& a) { std::swap(a[0], a[2]); }},
        {"new-password", [](auto& a) { a[1].UserPwd = "nuova", a[1].PasswordInKeyring = false; }},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ClearKeyring();
        SaveInKeyring(kThree);
        const TArrayOfMailAccount loaded = Loaded();
        TArrayOfMailAccount edited = loaded;
        c.Edit(edited);
        SaveAccountsWithSecrets(edited, loaded, true);

        TArrayOfMailAccount want = kThree;
        c.Edit(want);
        std::vector<TItem> expected;
        for (const TMailAccount& a : want) expected.push_back(ItemOf(a, a.UserPwd));
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Items(), expected);
        const TArrayOfMailAccount reloaded = Loaded();
        ASSERT_EQ(reloaded.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i)
            EXPECT_EQ(ReadKeyringPassword(reloaded[i]), std::optional(want[i].UserPwd)) << i;
    }
}

TEST_F(KeyringTest, AnOldFilesPasswordIsUsedAndMovesWhileUntouchedItemsAreNotEvenRead) {
    SaveInKeyring({kThree[0], kThree[1]});
    // An older copy wrote account 1's password into the file again.
    WriteIniScrambled(kSectionAccounts, "UserPwd1", "dal file", PasswordKey);
    TArrayOfMailAccount loaded = Loaded();
    EXPECT_EQ(loaded[0].UserPwd, "dal file");
    EXPECT_FALSE(loaded[0].PasswordInKeyring);
    EXPECT_TRUE(loaded[1].PasswordInKeyring);

    TCountingStore store;
    SaveAccountsWithSecrets(loaded, loaded, true);
    // One look at what it replaces and one write, for account 1 only.
    EXPECT_EQ(store.Count[TCountingStore::Lookups], 1);
    EXPECT_EQ(store.Count[TCountingStore::Stores], 1);
    EXPECT_EQ(store.Count[TCountingStore::Removes], 0);
    EXPECT_EQ(Items(), (std::vector<TItem>{ItemOf(kThree[0], "dal file"),
                                           ItemOf(kThree[1], kThree[1].UserPwd)}));
    EXPECT_NE(ReadFile(IniFileName()).find("\r\nUserPwd1=\r\n"), std::string::npos);
}

// A failure on either side, at any step, leaves the file byte for byte and
// every item as they were.
TEST_F(KeyringTest, AFailureOnEitherSideLeavesBothAsTheyWere) {
    struct TCase {
        const char* Name;
        bool StartOn, TurnOn;
        bool FileFails;
        TCountingStore::TKind FailKind;
        int FailAt;
    };
    const TCase cases[] = {
        {"on, file write fails", false, true, true, TCountingStore::Any, 0},
        {"on, second store fails", false, true, false, TCountingStore::Stores, 2},
        {"off, file write fails", true, false, true, TCountingStore::Any, 0},
        {"off, a removal fails after the file", true, false, false, TCountingStore::Removes, 2},
        {"move, file write fails", true, true, true, TCountingStore::Any, 0},
        {"move, removal of the old place fails", true, true, false, TCountingStore::Removes, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ClearKeyring();
        if (c.StartOn)
            SaveInKeyring(kThree);
        else
            SaveAccounts(kThree);
        const std::string file = ReadFile(IniFileName());
        const std::vector<TItem> items = Items();
        const TArrayOfMailAccount loaded = Loaded();
        TArrayOfMailAccount edited = loaded;
        edited[2].PopServer = "altrove";
        {
            TCountingStore store;
            store.FailKind = c.FailKind;
            store.FailAt = c.FailAt;
            if (c.FileFails) SetWriteFailureForTesting(0);
            EXPECT_ANY_THROW(SaveAccountsWithSecrets(edited, loaded, c.TurnOn));
            SetWriteFailureForTesting(-1);
            EXPECT_GT(store.Total(), 0);
        }
        EXPECT_EQ(ReadFile(IniFileName()), file);
        EXPECT_EQ(Items(), items);
    }
}

TEST_F(KeyringTest, WithTheOptionOffNoRequestReachesTheKeyring) {
    const std::string handWritten =
        "; written by hand\r\n[Setup]\r\nTimeout=30\r\n[Accounts]\r\nPopServer1=a\r\n"
        "UserId1=b\r\nUserPwd1=" +
        HexEncode(ScrambleText(PasswordKey, "pw")) + "\r\n";
    Home.Write("kalmuro.ini", handWritten);
    TArrayOfMailAccount loaded = Loaded();
    SaveAccounts(loaded);
    const std::string bySaveAccounts = WithPasswordsShown(ReadFile(IniFileName()));
    Home.Write("kalmuro.ini", handWritten);
    TCountingStore store;
    store.FailAt = 1;  // any request would raise
    SaveAccountsWithSecrets(loaded, Loaded(), false);
    EXPECT_EQ(WithPasswordsShown(ReadFile(IniFileName())), bySaveAccounts);
    EXPECT_EQ(store.Total(), 0);
}

TEST_F(KeyringTest, SetStoredPasswordWritesWhereTheSettingsSay) {
    SaveAccounts({kThree[0], kThree[1]});
    const std::string file = WithPasswordsShown(ReadFile(IniFileName()));
    std::string name;
    EXPECT_FALSE(SetStoredPassword(2, "nuova", &name));
    EXPECT_EQ(name, "Ufficio");
    std::string want = file;
    want.replace(want.find("<perch\xE9>"), 8, "<nuova>");
    EXPECT_EQ(WithPasswordsShown(ReadFile(IniFileName())), want);
    EXPECT_EQ(Items(), std::vector<TItem>{});
    EXPECT_THROW(SetStoredPassword(3, "x"), std::invalid_argument);

    // With the keyring on, account 1's old password left in the file goes.
    WriteIniBool(kSectionSetup, kKeyKeyring, true);
    EXPECT_TRUE(SetStoredPassword(1, "nel portachiavi"));
    EXPECT_EQ(Items(), std::vector<TItem>{ItemOf(kThree[0], "nel portachiavi")});
    EXPECT_NE(ReadFile(IniFileName()).find("\r\nUserPwd1=\r\n"), std::string::npos);
    // A file that cannot be written then takes the item back.
    WriteIniScrambled(kSectionAccounts, "UserPwd1", "dal file", PasswordKey);
    SetWriteFailureForTesting(0);
    EXPECT_THROW(SetStoredPassword(1, "persa"), EIniWriteError);
    SetWriteFailureForTesting(-1);
    EXPECT_EQ(Items(), std::vector<TItem>{ItemOf(kThree[0], "nel portachiavi")});
}

}  // namespace
}  // namespace kalmuro::keyringtest
