// OAuth accounts on the real road: a Dovecot whose oauth2 passdb checks the
// bearer tokens itself (HS256 JWTs of the test authorization server, over
// POP3S), the engine refreshing them through that authorization server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "engine/engine_harness.h"
#include "mail/auth/oauth_client.h"
#include "mail/settings.h"
#include "support/auth_server.h"
#include "support/dovecot_server.h"

namespace kalmuro::enginetest {
namespace {

using test::TDovecotServer;
using test::TTestAuthServer;

class OAuthDovecot : public TFormTest {
protected:
    static void SetUpTestSuite() { StartServer("xoauth2 oauthbearer"); }
    static void StartServer(const char* mechanisms) {
        Server = new TDovecotServer;
        Server->Tls = true;
        Server->OAuthKey = test::kAuthSigningKey;
        Server->OAuthMechanisms = mechanisms;
        Ready = Server->AddUser("alice", "unused-password") &&
                Server->GenerateMail("alice", 6, 61) && Server->Start();
    }
    static void TearDownTestSuite() {
        delete Server;
        Server = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(Ready) << Server->Error();
        // One authority signed the mail server's and the token endpoint's certificates.
        setenv("SSL_CERT_FILE", Server->CaFile().c_str(), 1);
        Auth.SetRefreshToken("rt-seed");
        TMailAccount a = Account("Nuvola", Server->TlsPort(), "alice", "");
        a.PopServer = "localhost";
        a.Security = TSecurity::Tls;
        a.Access = TAccessMethod::OAuth;
        a.OAuth = {kProviderCustom, "client-1", "", Auth.Url("/authorize"), Auth.Url("/token"), "",
                   "pop offline_access"};
        a.RefreshToken = "rt-seed";
        Load({a});
        Form.UpdateCommands();
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    // Every text the program showed or wrote, searched for every token issued.
    void ExpectNoTokenShown() {
        std::vector<std::string> texts = Screen.BoxMessages();
        texts.insert(texts.end(), Screen.Statuses.begin(), Screen.Statuses.end());
        texts.insert(texts.end(), Screen.BalloonTexts.begin(), Screen.BalloonTexts.end());
        texts.push_back(ReadFile(IniFileName()));
        for (const TMessageEntry& m : Form.Messages) texts.push_back(m.HeaderText);
        for (const std::string& token : Auth.AccessTokens())
            for (const std::string& text : texts)
                EXPECT_EQ(text.find(token), std::string::npos) << text;
    }
    // Logins the server took with a token, as its log says.
    static size_t TokenLogins(const std::string& mechanism = "XOAUTH2") {
        const std::string log = Server->Log();
        const std::string line = "Login: user=<alice>, method=" + mechanism + ",";
        size_t count = 0;
        for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1))
            ++count;
        return count;
    }

    TTestAuthServer Auth{"alice"};
    static TDovecotServer* Server;
    static bool Ready;
};

TDovecotServer* OAuthDovecot::Server = nullptr;
bool OAuthDovecot::Ready = false;

TEST_F(OAuthDovecot, CheckAndDeletionWithAValidToken) {
    const size_t loginsBefore = TokenLogins();
    Home.Write("Oggetti.txt", std::string());
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    ASSERT_EQ(Form.Messages.size(), 6u);
    EXPECT_FALSE(Form.CheckErrorFlag());
    EXPECT_EQ(Auth.Grants(), std::vector<std::string>{"refresh_token"});

    Form.SetRowChecked(1, true);
    Form.DeleteSelectedMessages();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{
                                        "Spostare nel Cestino il messaggio selezionato ?"});
    EXPECT_EQ(Form.Messages.size(), 5u);
    EXPECT_EQ(Recycled().size(), 1u);
    // The token of the check served the deletion and its new check too.
    EXPECT_EQ(Auth.Grants().size(), 1u);
    EXPECT_EQ(TokenLogins() - loginsBefore, 3u) << Server->Log();
    ExpectNoTokenShown();
}

TEST_F(OAuthDovecot, AnExpiredTokenIsRefreshedBeforeTheSession) {
    Auth.ExpirySeconds = 1;
    Form.CheckMail();
    ASSERT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    const size_t messages = Form.Messages.size();
    ASSERT_GT(messages, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_FALSE(Auth.Valid(Auth.AccessTokens().back())) << "the first token is gone";
    Auth.ExpirySeconds = 600;
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    EXPECT_EQ(Form.Messages.size(), messages);
    EXPECT_EQ(Auth.Grants(), (std::vector<std::string>{"refresh_token", "refresh_token"}));
    // Refreshed before the session: the server never saw the dead token.
    EXPECT_EQ(Server->Log().find("Token has expired"), std::string::npos) << Server->Log();
    ExpectNoTokenShown();
}

TEST_F(OAuthDovecot, ARejectedTokenIsRefreshedOnceThenTheRefusalIsShown) {
    // A token that looks alive to the program but is not one the server takes.
    Form.Accounts[0].AccessToken = "not-a-token-of-this-server";
    Form.Accounts[0].AccessTokenExpiry = OAuthNow() + 3600;
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    EXPECT_GT(Form.Messages.size(), 0u);
    EXPECT_EQ(Auth.Grants().size(), 1u) << "one refresh after the refusal";

    // Tokens the server rejects every time (expired as they are issued):
    // one refresh after the refusal, then the server's answer in the box.
    Auth.ExpirySeconds = -30;
    Form.Accounts[0].AccessTokenExpiry = 0;
    Screen.Boxes.clear();
    Form.CheckMail();
    EXPECT_EQ(Auth.Grants().size(), 3u) << "the one before the session and one after the refusal";
    ASSERT_EQ(Screen.BoxMessages().size(), 1u);
    EXPECT_EQ(Screen.BoxMessages()[0], "Accesso OAuth rifiutato dal server (401): [AUTH] "
                                       "Authentication failed.");
    EXPECT_TRUE(Form.CheckErrorFlag());
    EXPECT_NE(Server->Log().find("Local validation failed: Token has expired"), std::string::npos);
    ExpectNoTokenShown();
}

// A server whose CAPA lists OAUTHBEARER alone: the same check and deletion
// sign in with it.
class OAuthBearerDovecot : public OAuthDovecot {
protected:
    static void SetUpTestSuite() { StartServer("oauthbearer"); }
};

TEST_F(OAuthBearerDovecot, CheckAndDeletionSignInWithOAuthBearer) {
    Home.Write("Oggetti.txt", std::string());
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    ASSERT_EQ(Form.Messages.size(), 6u);
    Form.SetRowChecked(1, true);
    Form.DeleteSelectedMessages();
    EXPECT_EQ(Form.Messages.size(), 5u);
    EXPECT_EQ(Recycled().size(), 1u);
    EXPECT_EQ(TokenLogins("OAUTHBEARER"), 3u) << Server->Log();
    EXPECT_EQ(TokenLogins("XOAUTH2"), 0u);
    ExpectNoTokenShown();
}

}  // namespace
}  // namespace kalmuro::enginetest
