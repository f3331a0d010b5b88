// TLS on the POP3 road against the scripted server: POP3 over TLS, STLS and
// its failures (never a password in the clear), a stalled handshake, a cut
// in the middle of a reply, and the certificate checks with an accepted
// fingerprint.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers.h"
#include "mail/pop3/pop3_client.h"
#include "mail/net/session_errors.h"
#include "mail/net/tls_transport.h"
#include "support/scripted_server.h"

namespace kalmuro::test {

namespace {

// A client for alice that trusts the test authority.
void PointSecure(TPop3Client& c, int32_t port, TSecurity security) {
    PointAtAsAlice(c, port);
    c.TlsCaFile = TestCertificateDir() + "/ca.pem";
    c.Security = security;
}

// A TLS handshake with that certificate, then LoggedIn().
TScript SecureLogin(const std::string& certificate = "server.crt") {
    TScript s;
    s.StartTls(certificate);
    for (const TScript::TStep& step : LoggedIn().Steps) s.Steps.push_back(step);
    return s;
}

bool SentInClear(const TTestServerBase& server, const std::string& command) {
    for (const std::string& line : server.Received())
        if (line.rfind(command, 0) == 0) return true;
    return false;
}

TEST(Tls, Pop3sFromTheFirstByte) {
    TScript s = SecureLogin();
    s.Expect("STAT").Line("+OK 2 320").Expect("QUIT").Line("+OK");
    TScriptedServer server({s});
    TPop3Client client;
    PointSecure(client, server.Port(), TSecurity::Tls);
    EXPECT_EQ(client.TlsSessionText(), "");
    client.Login(5000);
    EXPECT_TRUE(client.TlsActive());
    // The floor of the TLS benchmark is compared only on the same protocol
    // and cipher: both must be named.
    const std::string session = client.TlsSessionText();
    EXPECT_EQ(session.rfind("TLSv1.", 0), 0u) << session;
    EXPECT_GT(session.find(' '), 6u) << session;
    EXPECT_LT(session.find(' '), session.size() - 1) << session;
    EXPECT_EQ(client.CountMessages(), 2);
    client.Quit();
    EXPECT_FALSE(client.TlsActive());
    EXPECT_EQ(client.TlsSessionText(), "");
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

TEST(Tls, StlsUpgradesAndApopSignsTheFirstGreeting) {
    const std::string stamp = "<1896.697170952@dbc.mtview.ca.us>";
    TScript s;
    s.Line("+OK ready " + stamp)
        .Expect("STLS")
        .Line("+OK Begin TLS negotiation now.")
        .StartTls()
        .Expect("APOP alice " + ApopDigest(stamp, "secret"))
        .Line("+OK Logged in.");
    TScriptedServer server({s});
    TPop3Client client;
    PointSecure(client, server.Port(), TSecurity::Stls);
    client.APOP = true;
    client.Login(5000);
    EXPECT_TRUE(client.TlsActive());
    client.Quit();
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

// Whatever goes wrong with the upgrade, the login stops there: no USER, no
// PASS, no APOP on the wire, and the connection is closed.
TEST(Tls, AFailedUpgradeNeverSendsTheLogin) {
    struct TCase {
        const char* Name;
        TScript Script;
        std::string Error;
    };
    const std::vector<TCase> cases = {
        {"refused", TScript().Line("+OK ready").Expect("STLS").Line("-ERR [SYS/TEMP] Not now."),
         "The server refused STLS."},
        {"not-offered", TScript().Line("+OK ready").Expect("STLS").Line("-ERR Unknown command."),
         "The server refused STLS."},
        // Plain bytes sent right behind the answer must not pass for TLS ones.
        {"plain-bytes-behind-the-answer",
         TScript().Line("+OK ready").Expect("STLS").Send("+OK\r\n+OK injected\r\n"),
         "Unexpected data before the TLS handshake"},
        {"server-stays-plain",
         TScript().Line("+OK ready").Expect("STLS").Line("+OK").Pause(100).Line(
             "-ERR Unknown command."),
         "TLS handshake failed: "},
        {"server-closes", TScript().Line("+OK ready").Expect("STLS").Line("+OK").Close(),
         "TLS handshake failed: the server closed the connection"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedServer server({c.Script});
        TPop3Client client;
        PointSecure(client, server.Port(), TSecurity::Stls);
        const std::string error = ErrorText([&] { client.Login(5000); });
        EXPECT_EQ(error.substr(0, c.Error.size()), c.Error);
        EXPECT_FALSE(client.IsConnected());
        client.CloseConnection();
        server.Stop();
        EXPECT_FALSE(SentInClear(server, "USER"));
        EXPECT_FALSE(SentInClear(server, "PASS"));
        EXPECT_FALSE(SentInClear(server, "APOP"));
    }
}

TEST(Tls, AStalledHandshakeTimesOut) {
    TScriptedServer server({TScript().Hold()});
    TPop3Client client;
    PointSecure(client, server.Port(), TSecurity::Tls);
    client.ReadTimeout = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorText([&] { client.Login(300); }), "Read Timeout");
    EXPECT_GE(ElapsedMs(start), 290);
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_FALSE(client.IsConnected());
}

TEST(Tls, AStalledHandshakePumpsTheHookAndStopEndsIt) {
    TScriptedServer server({TScript().Hold()});
    TPop3Client client;
    PointSecure(client, server.Port(), TSecurity::Tls);
    client.ReadTimeout = 20000;
    TAntiFreeze antiFreeze;
    antiFreeze.IdleTimeOut = 50;
    int idles = 0;
    antiFreeze.OnIdle = [&] { ++idles; };
    client.AntiFreeze = &antiFreeze;
    client.OnStopRequested = [&] { return idles >= 3; };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorText([&] { client.Login(5000); }), "TLS handshake stopped.");
    EXPECT_EQ(idles, 3);
    EXPECT_LT(ElapsedMs(start), 2000);
    EXPECT_FALSE(client.IsConnected());
}

TEST(Tls, ACutWithoutCloseNotifyIsALostConnection) {
    // In the middle of a multi-line answer, and before a status line: the
    // lines that did arrive are read, then the connection counts as lost.
    TScript retr = SecureLogin();
    retr.Expect("RETR 1").Send("+OK\r\nSubject: x\r\n\r\nhalf a bo").Close();
    TScript stat = SecureLogin();
    stat.Expect("STAT").Close();
    TScriptedServer server({retr, stat});
    const std::string lost = "Socket Error # 10054\r\nConnection reset by peer.";

    TPop3Client client;
    PointSecure(client, server.Port(), TSecurity::Tls);
    client.Login(5000);
    std::vector<std::string> lines;
    EXPECT_EQ(ErrorText([&] { client.FetchRaw(1, lines); }), lost);
    EXPECT_EQ(lines, (std::vector<std::string>{"Subject: x", ""}));
    EXPECT_FALSE(client.IsConnected());

    client.Login(5000);
    EXPECT_EQ(ErrorText([&] { client.CountMessages(); }), lost);
    EXPECT_FALSE(client.IsConnected());
}

TEST(Tls, CertificatesThatFailAndTheAcceptedOne) {
    const std::string selfSigned = OpensslFingerprint("ip-127.0.0.5.crt");
    ASSERT_EQ(selfSigned.size(), 95u) << selfSigned;
    struct TCase {
        const char* Name;
        std::string Certificate;
        std::string Accepted;
        bool Ok;
        TCertificateProblem Problem;
    };
    const std::vector<TCase> cases = {
        {"verified", "server.crt", "", true, {}},
        {"self-signed", "ip-127.0.0.5.crt", "", false, TCertificateProblem::SelfSigned},
        {"name-mismatch", "ip-127.0.0.2.crt", "", false, TCertificateProblem::NameMismatch},
        {"accepted", "ip-127.0.0.5.crt", selfSigned, true, {}},
        {"accepted-typed-in-lower-case-without-colons", "ip-127.0.0.5.crt",
         [&] {
             std::string s;
             for (char c : selfSigned)
                 if (c != ':') s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
             return s;
         }(),
         true, {}},
        {"accepted-refuses-another", "ip-127.0.0.4.crt", selfSigned, false,
         TCertificateProblem::UnknownAuthority},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedServer server({SecureLogin(c.Certificate)});
        TPop3Client client;
        PointSecure(client, server.Port(), TSecurity::Tls);
        client.Fingerprint = c.Accepted;
        TlsLogin(client, c.Ok, c.Problem, c.Certificate);
        client.CloseConnection();
    }
}

TEST(Tls, FingerprintComparison) {
    EXPECT_TRUE(SameFingerprint("AB:CD:01", "abcd01"));
    EXPECT_TRUE(SameFingerprint(" ab cd 01 ", "AB:CD:01"));
    EXPECT_FALSE(SameFingerprint("AB:CD:01", "AB:CD:02"));
    EXPECT_FALSE(SameFingerprint("", ""));
    EXPECT_FALSE(SameFingerprint("AB:CD:0G", "AB:CD:0G"));
    EXPECT_EQ(FingerprintText(std::string("\x01\xAB\xFF", 3)), "01:AB:FF");
}

}  // namespace
}  // namespace kalmuro::test
