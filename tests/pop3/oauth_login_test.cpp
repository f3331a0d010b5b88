// OAuth logins against scripted servers: the two-line XOAUTH2 exchange, a
// token refused with the JSON continuation, a server that offers only
// OAUTHBEARER, and one that offers neither. No exchange ever falls back to
// USER/PASS, and no error text carries the token.
#include <gtest/gtest.h>

#include "helpers.h"
#include "mail/auth/sasl.h"
#include "mail/pop3/pop3_client.h"
#include "mail/net/session_errors.h"

namespace kalmuro::test {
namespace {

const char* const kToken = "ya29.SECRET-token";

void PointAtWithToken(TPop3Client& client, int32_t port) {
    PointAt(client, port);
    client.Username = "alice@example.org";
    client.Password = "never-sent";
    client.Access = TAccessMethod::OAuth;
    client.AccessToken = kToken;
}

std::string Answer(const std::string& response) { return Base64Encode(response); }

void ExpectNoPasswordOrTokenIn(const TTestServerBase& server, const std::string& error) {
    for (const std::string& line : server.Received()) {
        EXPECT_NE(line.rfind("USER", 0), 0u) << line;
        EXPECT_NE(line.rfind("PASS", 0), 0u) << line;
    }
    EXPECT_EQ(error.find(kToken), std::string::npos) << error;
}

TEST(OAuthLogin, XOAuth2InTheTwoLineForm) {
    for (const char* sasl : {"XOAUTH2 OAUTHBEARER PLAIN", ""}) {  // listed, or no SASL line
        SCOPED_TRACE(sasl);
        TScriptedServer server({TScript()
                                    .Line("+OK ready")
                                    .Expect("AUTH XOAUTH2")
                                    .Line("+ ")
                                    .Expect(Answer(XOAuth2Response("alice@example.org", kToken)))
                                    .Line("+OK Logged in.")
                                    .Expect("QUIT")});
        server.SetCapaSasl(sasl);
        TPop3Client client;
        PointAtWithToken(client, server.Port());
        client.Login(2000);
        EXPECT_EQ(client.LastReply.NumericCode, 1);
        client.Quit();
        ASSERT_TRUE(server.WaitForSessions(1));
        EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
        ExpectNoPasswordOrTokenIn(server, "");
    }
}

TEST(OAuthLogin, ARefusedTokenIsAnsweredWithAnEmptyLineAndReportedWithItsStatus) {
    const std::string json = R"({"status":"401","schemes":"bearer","scope":"https://mail"})";
    TScriptedServer server({TScript()
                                .Line("+OK ready")
                                .Expect("AUTH XOAUTH2")
                                .Line("+")
                                .Read()
                                .Line("+ " + Base64Encode(json))
                                .Expect("")
                                .Line("-ERR [AUTH] Authentication failed.")
                                .Expect("QUIT")});
    server.SetCapaSasl("XOAUTH2");
    TPop3Client client;
    PointAtWithToken(client, server.Port());
    bool tokenRefused = false;
    const std::string error = ErrorText([&] {
        try {
            client.Login(2000);
        } catch (const EOAuthRefused& e) {
            tokenRefused = e.TokenRefused;
            throw;
        }
    });
    EXPECT_EQ(error, "Accesso OAuth rifiutato dal server (401): [AUTH] Authentication failed.");
    EXPECT_TRUE(tokenRefused);
    EXPECT_EQ(client.LastReply.NumericCode, 2);
    EXPECT_EQ(client.LastReply.Text, std::vector<std::string>{"[AUTH] Authentication failed."});
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
    ExpectNoPasswordOrTokenIn(server, error);
}

TEST(OAuthLogin, OnlyOAuthBearerListedIsUsedWithHostAndPort) {
    TScriptedServer server(
        {TScript().Line("+OK ready").Expect("AUTH OAUTHBEARER").Line("+ ").Read().Line("+OK in")});
    server.SetCapaSasl("PLAIN OAUTHBEARER");
    TPop3Client client;
    PointAtWithToken(client, server.Port());
    client.Login(2000);
    client.Quit();
    ASSERT_TRUE(server.WaitForSessions(1));
    const std::vector<std::string> lines = server.Received();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(Base64Decode(lines[1]),
              OAuthBearerResponse("alice@example.org", kToken, "127.0.0.1", server.Port()));
}

TEST(OAuthLogin, NeitherMechanismListedIsAClearErrorBeforeAnythingIsSent) {
    TScriptedServer server({TScript().Line("+OK ready").Expect("QUIT")});
    server.SetCapaSasl("PLAIN LOGIN");
    TPop3Client client;
    PointAtWithToken(client, server.Port());
    const std::string error = ErrorText([&] { client.Login(2000); });
    EXPECT_EQ(error,
              "Il server non offre l'accesso OAuth 2.0: n\xE9 XOAUTH2 n\xE9 OAUTHBEARER tra i suoi "
              "metodi SASL");
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
    EXPECT_EQ(server.Received(), std::vector<std::string>{"QUIT"});
}

TEST(OAuthLogin, AServerRefusingTheMechanismEndsWithTheServersWordsAndNoToken) {
    TScriptedServer server({TScript()
                                .Line("+OK ready")
                                .Expect("AUTH XOAUTH2")
                                .Line("-ERR Unsupported authentication mechanism.")
                                .Expect("QUIT")});
    TPop3Client client;
    PointAtWithToken(client, server.Port());
    const std::string error = ErrorText([&] { client.Login(2000); });
    EXPECT_EQ(error, "Accesso OAuth rifiutato dal server: Unsupported authentication mechanism.");
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_EQ(server.Received(), (std::vector<std::string>{"AUTH XOAUTH2", "QUIT"}));
}

TEST(OAuthLogin, AFinalErrWithoutJsonIsARefusedToken) {
    TScriptedServer server({TScript()
                                .Line("+OK ready")
                                .Expect("AUTH XOAUTH2")
                                .Line("+ ")
                                .Read()
                                .Line("-ERR [AUTH] Invalid credentials")});
    TPop3Client client;
    PointAtWithToken(client, server.Port());
    try {
        client.Login(2000);
        ADD_FAILURE() << "logged in";
    } catch (const EOAuthRefused& e) {
        EXPECT_TRUE(e.TokenRefused);
        EXPECT_STREQ(e.what(), "Accesso OAuth rifiutato dal server: [AUTH] Invalid credentials");
    }
}

}  // namespace
}  // namespace kalmuro::test
