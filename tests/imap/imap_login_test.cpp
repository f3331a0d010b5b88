// IMAP sessions up to login against the scripted server: the greeting, the
// capabilities, the choice of LOGIN or AUTHENTICATE, STARTTLS and its
// failures (never a password in clear), other mechanisms, LOGOUT.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/auth/sasl.h"
#include "mail/imap/imap_client.h"
#include "mail/imap/imap_text.h"
#include "mail/net/session_errors.h"
#include "mail/net/tls_transport.h"
#include "support/case_name.h"
#include "support/imap_script.h"
#include "support/scripted_server.h"

namespace kalmuro::test {
namespace {

using testcase::RowName;

void PointAtAsAlice(TImapClient& client, int32_t port) {
    client.Host = "127.0.0.1";
    client.Port = port;
    client.ReadTimeout = 5000;
    client.Username = "alice";
    client.Password = "secret";
}

bool Sent(const TTestServerBase& server, const std::string& prefix) {
    for (const std::string& line : server.Received())
        if (line.find(prefix) != std::string::npos) return true;
    return false;
}

void ExpectClean(const TTestServerBase& server, size_t sessions = 1) {
    ASSERT_TRUE(server.WaitForSessions(sessions));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

TEST(ImapLogin, LoginTakesCapabilitiesFromGreetingAndAnswer) {
    TScript s = ImapLoggedIn("IMAP4rev1 LITERAL+", "IMAP4rev1 MOVE UIDPLUS");
    s.Expect("a2 LOGOUT");
    TScriptedServer server({s});
    TImapClient client;
    EXPECT_EQ(client.Port, 143);
    PointAtAsAlice(client, server.Port());
    client.Login(2000);
    EXPECT_TRUE(client.HasCapability("move"));
    EXPECT_TRUE(client.HasCapability("UIDPLUS"));
    EXPECT_FALSE(client.HasCapability("LITERAL+")) << "replaced by those after login";
    EXPECT_EQ(client.LastReply.NumericCode, 1);
    EXPECT_EQ(client.LastReply.Text,
              std::vector<std::string>{"[CAPABILITY IMAP4rev1 MOVE UIDPLUS] Logged in"});
    client.Logout();
    EXPECT_FALSE(client.IsConnected());
    ExpectClean(server);
}

TEST(ImapLogin, AsksCapabilitiesWhenNotAnnounced) {
    TScriptedServer server({TScript()
                                .Line("* OK ready")
                                .Expect("a1 CAPABILITY")
                                .Line("* CAPABILITY IMAP4rev1 AUTH=PLAIN")
                                .Line("a1 OK done")
                                .Expect("a2 LOGIN \"alice\" \"secret\"")
                                .Line("a2 OK Logged in")
                                .Expect("a3 CAPABILITY")
                                .Line("* CAPABILITY IMAP4rev1 IDLE")
                                .Line("a3 OK done")});
    TImapClient client;
    PointAtAsAlice(client, server.Port());
    client.Login(2000);
    EXPECT_EQ(client.Capabilities(), (std::vector<std::string>{"IMAP4REV1", "IDLE"}));
    client.Logout();
    ExpectClean(server);
}

// How the password goes out for each set of capabilities.
struct TLoginRow {
    const char* name;
    std::string capabilities;
    TImapClient::TLoginMethod method;
    std::string password;
    TScript script;  // after the greeting
};

class PasswordLogin : public ::testing::TestWithParam<TLoginRow> {};

TEST_P(PasswordLogin, SendsTheExpectedLines) {
    const TLoginRow& row = GetParam();
    TScript s;
    s.Line("* OK [CAPABILITY " + row.capabilities + "] ready");
    for (const TScript::TStep& step : row.script.Steps) s.Steps.push_back(step);
    s.Expect("a2 LOGOUT");
    TScriptedServer server({s});
    TImapClient client;
    PointAtAsAlice(client, server.Port());
    client.Password = row.password;
    client.LoginMethod = row.method;
    client.Login(2000);
    client.Logout();
    ExpectClean(server);
}

using M = TImapClient::TLoginMethod;
const std::string kOkCaps = "a1 OK [CAPABILITY IMAP4rev1] done";
const TLoginRow kLoginRows[] = {
    {"plain_with_initial_response", "IMAP4rev1 SASL-IR AUTH=PLAIN", M::Auto, "secret",
     TScript().Expect("a1 AUTHENTICATE PLAIN " + Base64Encode(std::string("\0alice\0secret", 13)))
         .Line(kOkCaps)},
    {"plain_after_continuation_when_login_disabled", "IMAP4rev1 LOGINDISABLED AUTH=PLAIN", M::Auto,
     "secret",
     TScript().Expect("a1 AUTHENTICATE PLAIN").Line("+ ")
         .Expect(Base64Encode(std::string("\0alice\0secret", 13))).Line(kOkCaps)},
    {"login_when_plain_needs_two_trips", "IMAP4rev1 AUTH=PLAIN", M::Auto, "secret",
     TScript().Expect("a1 LOGIN \"alice\" \"secret\"").Line(kOkCaps)},
    {"plain_forced", "IMAP4rev1 AUTH=PLAIN", M::Plain, "secret",
     TScript().Expect("a1 AUTHENTICATE PLAIN").Line("+")
         .Expect(Base64Encode(std::string("\0alice\0secret", 13))).Line(kOkCaps)},
    {"quotes_escaped", "IMAP4rev1", M::Auto, "se\"c\\ret",
     TScript().Expect("a1 LOGIN \"alice\" \"se\\\"c\\\\ret\"").Line(kOkCaps)},
    {"8_bit_password_literal_ahead", "IMAP4rev1 LITERAL+", M::Auto, "perch\xE8",  // perchè
     TScript().Expect("a1 LOGIN \"alice\" {6+}").Expect("perch\xE8").Line(kOkCaps)},
    {"8_bit_password_waits_for_continuation", "IMAP4rev1", M::Auto, "perch\xE8",  // perchè
     TScript().Expect("a1 LOGIN \"alice\" {6}").Line("+ go ahead").Expect("perch\xE8")
         .Line(kOkCaps)},
};
INSTANTIATE_TEST_SUITE_P(Rows, PasswordLogin, ::testing::ValuesIn(kLoginRows), RowName);

TEST(ImapLogin, LineBreakInPasswordCannotStartACommand) {
    // The password goes as a literal: its CR LF is data, not a new command.
    TScriptedServer server({TScript()
                                .Line("* OK [CAPABILITY IMAP4rev1 LITERAL+] ready")
                                .Expect("a1 LOGIN \"alice\" {18+}")
                                .Expect("x")
                                .Expect("a9 DELETE INBOX")
                                .Line("a1 NO [AUTHENTICATIONFAILED] Authentication failed.")
                                .Expect("a2 LOGOUT")});
    TImapClient client;
    PointAtAsAlice(client, server.Port());
    client.Password = "x\r\na9 DELETE INBOX";
    EXPECT_THROW(client.Login(2000), EProtocolReplyError);
    ExpectClean(server);
}

TEST(ImapLogin, RefusalRaisesWithTheServersTextAndLogsOut) {
    TScriptedServer server({TScript()
                                .Line("* OK [CAPABILITY IMAP4rev1] ready")
                                .Expect("a1 LOGIN \"alice\" \"secret\"")
                                .Line("a1 NO [AUTHENTICATIONFAILED] Authentication failed.")
                                .Expect("a2 LOGOUT")});
    TImapClient client;
    PointAtAsAlice(client, server.Port());
    try {
        client.Login(2000);
        FAIL() << "no error";
    } catch (const EProtocolReplyError& e) {
        EXPECT_STREQ(e.what(), "[AUTHENTICATIONFAILED] Authentication failed.\r\n");
        EXPECT_EQ(e.ErrorCode, 2);
    }
    EXPECT_EQ(client.LastReply.NumericCode, 2);
    EXPECT_FALSE(client.IsConnected());
    ExpectClean(server);
}

TEST(ImapLogin, LoginDisabledNeverSendsLogin) {
    for (M method : {M::Auto, M::Login}) {
        TScriptedServer server(
            {TScript().Line("* OK [CAPABILITY IMAP4rev1 LOGINDISABLED STARTTLS] ready")});
        TImapClient client;
        PointAtAsAlice(client, server.Port());
        client.LoginMethod = method;
        EXPECT_THROW(client.Login(2000), ELoginDisabled);
        EXPECT_FALSE(client.IsConnected());
        ASSERT_TRUE(server.WaitForSessions(1));
        // Not even LOGOUT: the connection is closed as after a refused STARTTLS.
        EXPECT_EQ(server.Received(), std::vector<std::string>{});
    }
}

struct TGreetingRow {
    const char* name;
    std::string greeting;
    std::string message;
};

class BadGreeting : public ::testing::TestWithParam<TGreetingRow> {};

TEST_P(BadGreeting, RaisesAndSendsNothing) {
    TScriptedServer server({TScript().Send(GetParam().greeting).Close()});
    TImapClient client;
    PointAtAsAlice(client, server.Port());
    try {
        client.Login(2000);
        FAIL() << "no error";
    } catch (const EMailError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(client.IsConnected());
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_FALSE(Sent(server, "secret"));
}

const TGreetingRow kGreetingRows[] = {
    {"bye", "* BYE Too many connections\r\n", "Too many connections"},
    {"pop3_server", "+OK POP3 ready\r\n", "Unrecognized IMAP"},
    {"tagged", "a1 OK hello\r\n", "Unrecognized IMAP greeting"},
    {"closed_at_once", "", "Connection Closed Gracefully."},
};
INSTANTIATE_TEST_SUITE_P(Rows, BadGreeting, ::testing::ValuesIn(kGreetingRows), RowName);

TEST(ImapLogin, PreauthSkipsTheLogin) {
    TScriptedServer server({TScript()
                                .Line("* PREAUTH [CAPABILITY IMAP4rev1 UIDPLUS] hello alice")
                                .Expect("a1 LOGOUT")});
    TImapClient client;
    PointAtAsAlice(client, server.Port());
    client.Login(2000);
    EXPECT_TRUE(client.HasCapability("UIDPLUS"));
    client.Logout();
    ExpectClean(server);
    EXPECT_FALSE(Sent(server, "LOGIN"));
}

// ---------------------------------------------------------------- TLS

void PointSecure(TImapClient& client, int32_t port, TSecurity security) {
    PointAtAsAlice(client, port);
    client.TlsCaFile = TestCertificateDir() + "/ca.pem";
    client.Security = security;
}

TEST(ImapTls, StartTlsAsksCapabilitiesAgainInsideTls) {
    TScriptedServer server({TScript()
                                .Line("* OK [CAPABILITY IMAP4rev1 STARTTLS AUTH=PLAIN SASL-IR] hi")
                                .Expect("a1 STARTTLS")
                                .Line("a1 OK Begin TLS negotiation now.")
                                .StartTls()
                                .Expect("a2 CAPABILITY")
                                .Line("* CAPABILITY IMAP4rev1 LITERAL+")
                                .Line("a2 OK done")
                                .Expect("a3 LOGIN \"alice\" \"secret\"")
                                .Line("a3 OK [CAPABILITY IMAP4rev1 UIDPLUS] Logged in")
                                .Expect("a4 LOGOUT")});
    TImapClient client;
    PointSecure(client, server.Port(), TSecurity::Stls);
    client.Login(5000);
    EXPECT_TRUE(client.TlsActive());
    client.Logout();
    ExpectClean(server);
}

TEST(ImapTls, ImapsFromTheFirstByte) {
    TScript s;
    s.StartTls();
    for (const TScript::TStep& step : ImapLoggedIn().Steps) s.Steps.push_back(step);
    s.Expect("a2 LOGOUT");
    TScriptedServer server({s});
    TImapClient client;
    PointSecure(client, server.Port(), TSecurity::Tls);
    client.Login(5000);
    EXPECT_TRUE(client.TlsActive());
    client.Logout();
    ExpectClean(server);
}

struct TStartTlsRow {
    const char* name;
    TScript script;
    bool refused;  // EStlsRefused rather than another ETlsError
};

class StartTlsFailure : public ::testing::TestWithParam<TStartTlsRow> {};

TEST_P(StartTlsFailure, NeverLogsInInClear) {
    TScriptedServer server({GetParam().script});
    TImapClient client;
    PointSecure(client, server.Port(), TSecurity::Stls);
    try {
        client.Login(3000);
        FAIL() << "no error";
    } catch (const EStlsRefused&) {
        EXPECT_TRUE(GetParam().refused);
    } catch (const ETlsError& e) {
        EXPECT_FALSE(GetParam().refused) << e.what();
    }
    EXPECT_FALSE(client.IsConnected());
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_FALSE(Sent(server, "LOGIN"));
    EXPECT_FALSE(Sent(server, "AUTHENTICATE"));
    EXPECT_FALSE(Sent(server, "secret"));
}

const TStartTlsRow kStartTlsRows[] = {
    {"refused_no", TScript().Line("* OK [CAPABILITY IMAP4rev1] hi").Expect("a1 STARTTLS")
                       .Line("a1 NO not now"), true},
    {"unknown_bad", TScript().Line("* OK [CAPABILITY IMAP4rev1] hi").Expect("a1 STARTTLS")
                        .Line("a1 BAD unknown command"), true},
    {"handshake_cut", TScript().Line("* OK [CAPABILITY IMAP4rev1 STARTTLS] hi")
                          .Expect("a1 STARTTLS").Line("a1 OK go").Close(), false},
    {"data_injected_after_ok", TScript().Line("* OK [CAPABILITY IMAP4rev1 STARTTLS] hi")
                                   .Expect("a1 STARTTLS")
                                   .Send("a1 OK go\r\n* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n")
                                   .StartTls()
                                   .Expect("a2 CAPABILITY")
                                   .Line("* CAPABILITY IMAP4rev1")
                                   .Line("a2 OK done"),
     false},
    {"preauth_in_clear", TScript().Line("* PREAUTH [CAPABILITY IMAP4rev1] hello"), false},
    {"wrong_certificate", TScript().Line("* OK [CAPABILITY IMAP4rev1 STARTTLS] hi")
                              .Expect("a1 STARTTLS").Line("a1 OK go").StartTls("ip-127.0.0.4.crt"),
     false},
};
INSTANTIATE_TEST_SUITE_P(Rows, StartTlsFailure, ::testing::ValuesIn(kStartTlsRows), RowName);

// ---------------------------------------------------------------- other mechanisms

TEST(ImapAuthenticate, MechanismWithInitialResponseAndErrorChallenge) {
    const std::string token = "user=alice\x01" "auth=Bearer t0k\x01\x01";
    TScriptedServer server(
        {TScript()
             .Line("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] hi")
             .Expect("a1 AUTHENTICATE XOAUTH2 " + Base64Encode(token))
             .Line("+ " + Base64Encode("{\"status\":\"401\"}"))
             .Expect("")
             .Line("a1 NO [AUTHENTICATIONFAILED] Invalid credentials")
             .Expect("a2 LOGOUT")});
    TImapClient client;
    PointAtAsAlice(client, server.Port());
    client.Connect(2000);
    EXPECT_THROW(client.Authenticate("XOAUTH2", token, std::string()), EProtocolReplyError);
    EXPECT_EQ(client.LastChallenge, "{\"status\":\"401\"}");
    EXPECT_EQ(client.LastReply.NumericCode, 2);
    client.Logout();
    ExpectClean(server);
}

TEST(ImapAuthenticate, WithoutSaslIrTheResponseFollowsTheContinuation) {
    TScriptedServer server({TScript()
                                .Line("* OK [CAPABILITY IMAP4rev1 AUTH=OAUTHBEARER] hi")
                                .Expect("a1 AUTHENTICATE OAUTHBEARER")
                                .Line("+ ")
                                .Expect(Base64Encode("n,a=alice,"))
                                .Line("+ " + Base64Encode("{\"status\":\"invalid_token\"}"))
                                .Expect("*")
                                .Line("a1 BAD Authentication cancelled")});
    TImapClient client;
    PointAtAsAlice(client, server.Port());
    client.Connect(2000);
    EXPECT_THROW(client.Authenticate("OAUTHBEARER", "n,a=alice,"), EProtocolReplyError);
    EXPECT_EQ(client.LastChallenge, "{\"status\":\"invalid_token\"}");
    EXPECT_EQ(client.LastReply.NumericCode, 3);
    client.Logout();
    ExpectClean(server);
}

TEST(ImapAuthenticate, EndlessChallengesEndTheSession) {
    TScript s;
    s.Line("* OK [CAPABILITY IMAP4rev1 SASL-IR] hi").Read();
    for (int i = 0; i < 20; ++i) s.Line("+ " + Base64Encode("again")).Read();
    TScriptedServer server({s});
    TImapClient client;
    PointAtAsAlice(client, server.Port());
    client.Connect(2000);
    EXPECT_THROW(client.Authenticate("X-ODD", "a"), EMailError);
    EXPECT_FALSE(client.IsConnected());
}

}  // namespace
}  // namespace kalmuro::test
