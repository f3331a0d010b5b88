// Checks of OAuth accounts: the engine refreshes a token about to expire
// before the session and stores a rotated refresh token first, refreshes
// once more when the mail server refuses a token, asks for a new sign-in
// when the grant is gone, reports a token endpoint that fails like a
// connection that fails, and never shows a token.
#include <cstdlib>
#include <future>

#include "engine/engine_harness.h"
#include "mail/auth/oauth_client.h"
#include "mail/settings.h"
#include "support/auth_server.h"

namespace kalmuro::enginetest {
namespace {

using test::TFakePop3Server;
using test::TTestAuthServer;

// A screen that can sign in: its "browser" is the stand-in one.
class TSignInScreen : public TRecordingScreen {
public:
    bool Interactive = false;
    bool CanSignIn() override { return Interactive; }
    bool OpenWithShell(const std::string& target, const std::string& p, bool m) override {
        TRecordingScreen::OpenWithShell(target, p, m);
        Browser = std::async(std::launch::async, [target] { return test::BrowseAndFollow(target); });
        return true;
    }
    std::future<std::string> Browser;
};

class OAuthCheck : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SSL_CERT_FILE", (test::TestCertificateDir() + "/ca.pem").c_str(), 1);
        Auth.SetRefreshToken("rt-seed");
        Pop3.AcceptTokens([this](const std::string& token) {
            ++Logins;
            // The rotated token is on disk before the session uses the new one.
            SeenOnDisk.push_back(ReadIniScrambled(kSectionAccounts, "TokenRinnovo1", "", PasswordKey));
            return Reject > 0 ? (--Reject, false) : Auth.Valid(token);
        });
        TMailAccount a = Account("Nuvola", Pop3.Port(), "alice", "");
        a.Access = TAccessMethod::OAuth;
        a.OAuth = {kProviderCustom, "client-1", "", Auth.Url("/authorize"), Auth.Url("/token"), "",
                   "pop offline_access"};
        a.RefreshToken = "rt-seed";
        SaveAccounts({a});
        Form.LoadSettings();
        Form.FormShow();
        Form.UpdateCommands();
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    void ExpectNoTokenShown() {
        for (const std::string& token : Auth.AccessTokens()) {
            for (const std::string& text : Screen.BoxMessages())
                EXPECT_EQ(text.find(token), std::string::npos) << text;
            for (const std::string& text : Screen.Statuses)
                EXPECT_EQ(text.find(token), std::string::npos) << text;
        }
    }

    TTempHome Home;
    TSignInScreen Screen;
    TFormMain Form{Screen};
    TTestAuthServer Auth{"alice"};
    TFakePop3Server Pop3{"alice", "unused", FakeMailbox(2)};
    int Logins = 0, Reject = 0;
    std::vector<std::string> SeenOnDisk;
};

TEST_F(OAuthCheck, AnExpiredTokenIsRefreshedAndTheRotatedOneStoredBeforeTheSession) {
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    EXPECT_EQ(Form.Messages.size(), 2u);
    EXPECT_EQ(Auth.Grants(), std::vector<std::string>{"refresh_token"});
    ASSERT_EQ(SeenOnDisk.size(), 1u);
    EXPECT_EQ(SeenOnDisk[0], Auth.RefreshToken());
    EXPECT_NE(SeenOnDisk[0], "rt-seed");
    // A second check within the token's life asks nothing of the server.
    Form.CheckMail();
    EXPECT_EQ(Auth.Grants().size(), 1u);
    EXPECT_EQ(Logins, 2);
    // The access token is never written to the file.
    EXPECT_EQ(ReadFile(IniFileName()).find(Auth.AccessTokens().back()), std::string::npos);
    ExpectNoTokenShown();
}

TEST_F(OAuthCheck, ARefusedTokenIsRefreshedOnceThenTheRefusalIsShown) {
    Reject = 1;
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    EXPECT_EQ(Auth.Grants().size(), 2u);
    EXPECT_EQ(Form.Messages.size(), 2u);

    Reject = 100;
    Screen.Boxes.clear();
    Form.CheckMail();
    EXPECT_EQ(Auth.Grants().size(), 3u) << "one refresh after the refusal, not more";
    ASSERT_EQ(Screen.BoxMessages().size(), 1u);
    EXPECT_EQ(Screen.BoxMessages()[0], "Accesso OAuth rifiutato dal server (401): [AUTH] "
                                       "Authentication failed.");
    EXPECT_TRUE(Form.CheckErrorFlag());
    for (const std::string& line : Pop3.Received()) EXPECT_NE(line.rfind("USER", 0), 0u) << line;
    ExpectNoTokenShown();
}

TEST_F(OAuthCheck, AGoneGrantNamesTheCommandWithoutAWindowAndIsNotRetried) {
    Auth.Mode = TTestAuthServer::TMode::InvalidGrant;
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{
                                        "Accesso scaduto per Nuvola: eseguire kalmuro --sign-in 1"});
    EXPECT_EQ(Auth.Grants().size(), 1u);
    EXPECT_EQ(Pop3.SessionsAccepted(), 0u);
    EXPECT_TRUE(Form.CheckErrorFlag());
    EXPECT_TRUE(Screen.ShellTargets.empty()) << "a check never opens a browser by itself";
}

TEST_F(OAuthCheck, AGoneGrantInTheWindowAsksAndSignsInAgainThroughTheBrowser) {
    Auth.Mode = TTestAuthServer::TMode::InvalidGrant;
    Screen.Interactive = true;
    std::string asked;
    Screen.Answer = [&asked](const TBox& box) {
        asked = box.Message;
        return box.Buttons == mbYesNo ? mrYes : mrOk;
    };
    Form.CheckMail();
    EXPECT_EQ(asked, "Accesso scaduto per Nuvola: accedere di nuovo?");
    ASSERT_EQ(Screen.ShellTargets.size(), 1u);
    EXPECT_NE(Screen.Browser.get().find("Puoi chiudere questa finestra"), std::string::npos);
    EXPECT_EQ(Form.Messages.size(), 2u);
    EXPECT_EQ(Auth.Grants(), (std::vector<std::string>{"refresh_token", "authorization_code"}));
    EXPECT_EQ(ReadIniScrambled(kSectionAccounts, "TokenRinnovo1", "", PasswordKey),
              Auth.RefreshToken());
}

TEST_F(OAuthCheck, ATokenEndpointThatFailsIsAConnectionFailureRetriedNextTime) {
    Auth.Mode = TTestAuthServer::TMode::ServerError;
    Form.CheckMail();
    ASSERT_EQ(Screen.BoxMessages().size(), 1u);
    EXPECT_EQ(Screen.BoxMessages()[0], "Il servizio di accesso non risponde (errore 500)");
    EXPECT_TRUE(Form.CheckErrorFlag());
    EXPECT_EQ(Pop3.SessionsAccepted(), 0u);
    Auth.Mode = TTestAuthServer::TMode::Normal;
    Form.CheckMail();
    EXPECT_EQ(Form.Messages.size(), 2u);
    EXPECT_FALSE(Form.CheckErrorFlag());
}

TEST_F(OAuthCheck, BrowserSignInReportsTheAddressAndStoresTheTokens) {
    bool ok = false;
    EXPECT_EQ(Form.SignInWithBrowser(0, ok), "Accesso eseguito come alice");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Screen.ShellTargets.size(), 1u);
    Screen.Browser.get();
    EXPECT_EQ(ReadIniScrambled(kSectionAccounts, "TokenRinnovo1", "", PasswordKey),
              Auth.RefreshToken());
    // The token from the sign-in serves the next check without a refresh.
    Form.CheckMail();
    EXPECT_EQ(Auth.Grants(), std::vector<std::string>{"authorization_code"});
    EXPECT_EQ(Form.Messages.size(), 2u);
}

}  // namespace
}  // namespace kalmuro::enginetest
