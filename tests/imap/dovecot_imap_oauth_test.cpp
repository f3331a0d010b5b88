// AUTHENTICATE with bearer tokens against a Dovecot whose oauth2 passdb
// checks them itself (HS256 JWTs signed with the test authorization
// server's key): both mechanisms log in, and a refused token leaves the
// server's JSON error in LastChallenge and raises the refusal.
#include <gtest/gtest.h>

#include <string>

#include "mail/auth/oauth_client.h"
#include "mail/auth/sasl.h"
#include "mail/imap/imap_client.h"
#include "mail/net/session_errors.h"
#include "support/auth_server.h"
#include "support/dovecot_server.h"

namespace kalmuro::test {
namespace {

class DovecotImapOAuth : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Server = new TDovecotServer;
        Server->Imap = true;
        Server->OAuthKey = kAuthSigningKey;
        Ready = Server->AddUser("alice", "unused") && Server->GenerateMail("alice", 4, 71) &&
                Server->Start();
    }
    static void TearDownTestSuite() {
        delete Server;
        Server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(Ready) << Server->Error(); }

    static TDovecotServer* Server;
    static bool Ready;
};

TDovecotServer* DovecotImapOAuth::Server = nullptr;
bool DovecotImapOAuth::Ready = false;

TEST_F(DovecotImapOAuth, BearerTokensLogInOrAreRefusedWithTheServersReason) {
    struct TCase {
        const char* Name;
        const char* Mechanism;
        std::string Token;
        bool Accepted;
        const char* Status = "";  // of the refusal's JSON: each mechanism words it its own way
    };
    const int64_t now = OAuthNow();
    for (const TCase& c : {
             TCase{"xoauth2", "XOAUTH2", TTestAuthServer::MakeJwt("alice", now + 600), true},
             TCase{"oauthbearer", "OAUTHBEARER", TTestAuthServer::MakeJwt("alice", now + 600),
                   true},
             TCase{"expired", "XOAUTH2", TTestAuthServer::MakeJwt("alice", now - 60), false, "401"},
             TCase{"other-user", "XOAUTH2", TTestAuthServer::MakeJwt("mallory", now + 600), false,
                   "401"},
             TCase{"forged", "OAUTHBEARER",
                   TTestAuthServer::MakeJwt("alice", now + 600).substr(0, 40) + "x.y", false,
                   "invalid_token"},
         }) {
        SCOPED_TRACE(c.Name);
        TImapClient client;
        client.Host = "127.0.0.1";
        client.Port = Server->ImapPort();
        client.ReadTimeout = 10000;
        client.Connect(5000);
        ASSERT_TRUE(client.HasCapability("AUTH=XOAUTH2"));
        ASSERT_TRUE(client.HasCapability("AUTH=OAUTHBEARER"));
        const std::string response =
            std::string(c.Mechanism) == "XOAUTH2"
                ? XOAuth2Response("alice", c.Token)
                : OAuthBearerResponse("alice", c.Token, client.Host, client.Port);
        if (c.Accepted) {
            client.Authenticate(c.Mechanism, response, std::string());
            EXPECT_EQ(client.Examine("INBOX").Exists, 4u);
        } else {
            EXPECT_THROW(client.Authenticate(c.Mechanism, response, std::string()),
                         EProtocolReplyError);
            EXPECT_EQ(client.LastReply.NumericCode, 2);
            const TSaslOAuthError error = ParseSaslOAuthError(client.LastChallenge);
            EXPECT_TRUE(error.Valid) << client.LastChallenge;
            EXPECT_EQ(error.Status, c.Status);
            // The refused session is still usable for another try.
            EXPECT_TRUE(client.IsConnected());
        }
        client.Logout();
    }
    const std::string log = Server->Log();
    EXPECT_NE(log.find("method=OAUTHBEARER"), std::string::npos);
    EXPECT_NE(log.find("Local validation failed: Token has expired"), std::string::npos) << log;
}

}  // namespace
}  // namespace kalmuro::test
