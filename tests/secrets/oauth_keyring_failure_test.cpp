// A keyring that fails while a rotated refresh token is stored: the token
// goes to the settings file instead (the old one in the keyring is dead by
// then), the user is told once a run, the next refresh starts from the
// file's, and a keyring that answers again takes it back out of the file.
#include <cstdlib>

#include "mail/settings.h"
#include "secrets/keyring_harness.h"
#include "support/auth_server.h"

namespace kalmuro::keyringtest {
namespace {

using enginetest::FakeMailbox;
using test::TFakePop3Server;
using test::TTestAuthServer;

constexpr const char* kTold =
    "Il portachiavi del sistema non risponde: il token di rinnovo di Nuvola \xE8 salvato nel "
    "file delle impostazioni";  // è

class OAuthKeyringFailure : public KeyringTest {
protected:
    void SetUp() override {
        KeyringTest::SetUp();
        setenv("SSL_CERT_FILE", (test::TestCertificateDir() + "/ca.pem").c_str(), 1);
        Auth.SetRefreshToken("rt-seed");
        // Shorter than the margin: every check refreshes and rotates.
        Auth.ExpirySeconds = 60;
        Pop3.AcceptTokens([this](const std::string& token) {
            OnDiskAtLogin.push_back(FileToken());
            return Auth.Valid(token);
        });
        TMailAccount a = Account("Nuvola", Pop3.Port(), "alice", "");
        a.Access = TAccessMethod::OAuth;
        a.OAuth = {kProviderCustom, "client-1", "", Auth.Url("/authorize"), Auth.Url("/token"), "",
                   "pop offline_access"};
        a.RefreshToken = "rt-seed";
        SaveInKeyring({a});
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    static std::string FileToken() {
        return ReadIniScrambled(kSectionAccounts, "TokenRinnovo1", "", PasswordKey);
    }
    std::optional<std::string> KeyringToken() { return ReadKeyringRefreshToken(Loaded()[0]); }

    TTestAuthServer Auth{"alice"};
    TFakePop3Server Pop3{"alice", "unused", FakeMailbox(2)};
    std::vector<std::string> OnDiskAtLogin;
};

TEST_F(OAuthKeyringFailure, TheRotatedTokenGoesToTheFileAndBackToTheKeyringLater) {
    ASSERT_EQ(KeyringToken(), std::optional<std::string>("rt-seed"));
    ASSERT_EQ(FileToken(), "");
    {
        enginetest::TRecordingScreen screen;
        TFormMain form{screen};
        form.LoadSettings();
        form.FormShow();
        TCountingStore store;
        store.FailKind = TCountingStore::Stores;
        for (int check = 1; check <= 2; ++check) {
            SCOPED_TRACE("check " + std::to_string(check));
            store.FailAt = store.Count[TCountingStore::Stores] + 1;  // the next store fails
            form.CheckMail();
            EXPECT_EQ(form.Messages.size(), 2u);
            EXPECT_FALSE(form.CheckErrorFlag());
            // The live token is in the file before the session uses the new access token.
            EXPECT_EQ(FileToken(), Auth.RefreshToken());
            ASSERT_EQ(OnDiskAtLogin.size(), static_cast<size_t>(check));
            EXPECT_EQ(OnDiskAtLogin.back(), Auth.RefreshToken());
        }
        EXPECT_EQ(screen.BoxMessages(), std::vector<std::string>{kTold}) << "told once";
        // The second refresh started from the file's token: the server took it.
        EXPECT_EQ(Auth.Grants(), (std::vector<std::string>{"refresh_token", "refresh_token"}));
        EXPECT_EQ(KeyringToken(), std::optional<std::string>("rt-seed"));
    }

    // The next run finds the file's token; the keyring answers again and
    // takes it, and the file holds it no longer.
    enginetest::TRecordingScreen screen;
    TFormMain form{screen};
    form.LoadSettings();
    form.FormShow();
    form.CheckMail();
    EXPECT_EQ(screen.BoxMessages(), std::vector<std::string>{});
    EXPECT_EQ(form.Messages.size(), 2u);
    EXPECT_EQ(Auth.Grants().size(), 3u);
    EXPECT_EQ(KeyringToken(), std::optional<std::string>(Auth.RefreshToken()));
    EXPECT_EQ(ReadIniString(kSectionAccounts, "TokenRinnovo1", "none"), "none");
}

TEST_F(OAuthKeyringFailure, ARefreshWithoutANewRefreshTokenLosesOnlyTheCache) {
    TMailAccount stored = Loaded()[0];
    TCountingStore store;
    store.FailKind = TCountingStore::Stores;
    store.FailAt = 1;
    bool inFile = true;
    EXPECT_FALSE(StoreOAuthTokensKeepingRefresh(stored, {"at-1", 1700000000, ""}, inFile));
    EXPECT_FALSE(inFile);
    EXPECT_EQ(ReadIniString(kSectionAccounts, "TokenRinnovo1", "none"), "none");
    store.FailAt = 2;
    EXPECT_FALSE(StoreOAuthTokensKeepingRefresh(stored, {"at-2", 1700000000, "rt-9"}, inFile));
    EXPECT_TRUE(inFile);
    EXPECT_EQ(FileToken(), "rt-9");
    EXPECT_EQ(ReadFile(IniFileName()).find("at-2"), std::string::npos);
}

}  // namespace
}  // namespace kalmuro::keyringtest
