// Commands sent ahead of their answers: what CAPA says, answers read in
// order whatever was sent ahead, answers dropped in step, and a window far
// larger than the socket buffers over TLS.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "helpers.h"
#include "mail/mime/mail_message.h"
#include "mail/pop3/pop3_client.h"
#include "mail/net/session_errors.h"
#include "support/scripted_server.h"

namespace kalmuro::test {
namespace {

TEST(Pipelining, WhatCapaSays) {
    struct Case {
        const char* Name;
        std::string Answer;
        bool Listed;
    };
    const std::vector<Case> cases = {
        {"refused", "-ERR Unknown command: CAPA\r\n", false},
        {"not-listed", "+OK\r\nTOP\r\nUIDL\r\n.\r\n", false},
        {"listed", "+OK\r\nTOP\r\nPIPELINING\r\nUIDL\r\n.\r\n", true},
        {"lower-case-with-words", "+OK Capability list follows\r\npipelining now\r\n.\r\n", true},
        {"only-a-prefix", "+OK\r\nPIPELININGX\r\nX-PIPELINING\r\n.\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TScript s = LoggedIn();
        s.Expect("CAPA").Send(c.Answer).Expect("STAT").Line("+OK 2 320");
        TScriptedServer server({s});
        TPop3Client client;
        PointAtAsAlice(client, server.Port());
        client.Login(5000);
        EXPECT_EQ(client.QueryPipelining(), c.Listed);
        // Nothing of the exchange is left for a box to show as a refusal.
        EXPECT_EQ(client.LastReply.TextAsString(), "Logged in.\r\n");
        EXPECT_EQ(client.CountMessages(), 2);  // still in step
        client.Quit();
        ASSERT_TRUE(server.WaitForSessions(1));
        EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
    }
}

TEST(Pipelining, ACapaAnswerWithoutEndClosesTheSession) {
    TScript s = LoggedIn();
    s.Expect("CAPA").Line("+OK").Flood("X-ENDLESS\r\n", 1 << 20);
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.Login(5000);
    EXPECT_THROW(client.QueryPipelining(), EAnswerTooLong);
    EXPECT_FALSE(client.IsConnected());
}

TEST(Pipelining, AnswersAreReadInOrderAndDroppedInStep) {
    TScript s = LoggedIn();
    s.Expect("TOP 1 0").Expect("LIST 1").Expect("RETR 2").Expect("UIDL 9").Expect("NOOP");
    s.Send("+OK\r\nSubject: Uno\r\n\r\n.\r\n+OK 1 120\r\n+OK\r\nline\r\n..dotted\r\n.\r\n"
           "-ERR There's no message 9.\r\n+OK\r\n");
    s.Expect("LIST 2").Line("+OK 2 77");
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.Login(5000);
    for (const char* command : {"TOP 1 0", "LIST 1", "RETR 2", "UIDL 9", "NOOP"})
        client.SendAhead(command);
    EXPECT_EQ(client.AheadCount(), 5u);
    TMailMessage message;
    client.FetchHeader(1, message);
    EXPECT_EQ(message.Subject, "Uno");
    EXPECT_EQ(client.MessageSize(1), 120);
    // Another command than the next one ahead: the rest is read and dropped
    // first, multi-line answers whole.
    EXPECT_EQ(client.MessageSize(2), 77);
    EXPECT_EQ(client.AheadCount(), 0u);
    client.Quit();
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

TEST(Pipelining, AWindowBeyondTheSocketBuffersOverTls) {
    // The server answers everything before it reads a command, through TLS
    // records; the client's small send buffer refuses most of the window.
    constexpr int kMessages = 2500;
    std::string answers;
    for (int n = 1; n <= kMessages; ++n) {
        const std::string k = std::to_string(n);
        answers += "+OK\r\nX-Padding: " + std::string(300, 'p') + "\r\nSubject: Numero " + k +
                   "\r\n\r\n.\r\n+OK " + k + " 400\r\n+OK " + k + " id" + k + "\r\n";
    }
    TScript s;
    s.StartTls();
    for (const TScript::TStep& step : LoggedIn().Steps) s.Steps.push_back(step);
    s.Send(answers);
    TScriptedServer server({s});
    server.SocketBuffer = 4096;
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.TlsCaFile = TestCertificateDir() + "/ca.pem";
    client.Security = TSecurity::Tls;
    client.SocketSendBuffer = 4096;
    client.WindowCommands = 1000000;
    client.WindowBytes = size_t{1} << 30;
    client.Login(5000);
    for (int n = 1; n <= kMessages; ++n) {
        const std::string k = std::to_string(n);
        client.SendAhead("TOP " + k + " 0");
        client.SendAhead("LIST " + k);
        client.SendAhead("UIDL " + k);
    }
    size_t mostPending = 0;
    for (int n = 1; n <= kMessages; ++n) {
        TMailMessage message;
        client.FetchHeader(n, message);
        mostPending = std::max(mostPending, client.PendingOutput());
        ASSERT_EQ(message.Subject, "Numero " + std::to_string(n));
        ASSERT_EQ(client.MessageSize(n), 400);
        std::vector<std::string> uid;
        ASSERT_TRUE(client.MessageUid(uid, n));
        ASSERT_EQ(uid.front(), std::to_string(n) + " id" + std::to_string(n));
    }
    EXPECT_GT(mostPending, 0u);
    client.Quit();
    ASSERT_TRUE(server.WaitForSessions(1));
    const std::vector<std::string> received = server.Received(0);
    ASSERT_EQ(received.size(), 2u + 3u * kMessages + 1u);
    EXPECT_EQ(received.back(), "QUIT");
}

// A command sent early goes out once, right after the header is in, whatever
// became of the header, and its own function reads the answer without
// sending it again; with the command already ahead nothing more is sent; a
// session the header closed sends nothing and the command's own function
// meets the closed connection as it would have.
TEST(SendEarly, TheNextCommandGoesOutOnceAfterTheHeader) {
    struct Case {
        const char* Name;
        std::string TopAnswer;
        bool Ahead;
        bool HeaderFails;
        bool Closed;
    };
    std::string tooLong = "+OK\r\n";
    for (int i = 0; i < 50; ++i) tooLong += "X-Filler: " + std::to_string(i) + "\r\n";
    tooLong += ".\r\n";
    const std::vector<Case> cases = {
        {"header", "+OK\r\nSubject: Uno\r\n\r\n.\r\n", false, false, false},
        {"refused", "-ERR No such message\r\n", false, true, false},
        {"ahead", "+OK\r\nSubject: Uno\r\n\r\n.\r\n", true, false, false},
        {"closed", tooLong, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TScript s = LoggedIn();
        s.Expect("TOP 1 0").Send(c.TopAnswer);
        if (!c.Closed) s.Expect("LIST 1").Line("+OK 1 120").Expect("QUIT").Line("+OK");
        TScriptedServer server({s});
        TPop3Client client;
        PointAtAsAlice(client, server.Port());
        client.MaxHeaderBytes = 200;
        client.Login(5000);
        if (c.Ahead) {
            client.SendAhead("TOP 1 0");
            client.SendAhead("LIST 1");
        }
        TMailMessage message;
        if (c.HeaderFails) {
            EXPECT_ANY_THROW(client.FetchHeader(1, message, "LIST 1"));
        } else {
            client.FetchHeader(1, message, "LIST 1");
            EXPECT_EQ(message.Subject, "Uno");
        }
        // Out before its own function asks for the answer.
        const auto listed = [&server] {
            const std::vector<std::string> got = server.Received();
            return std::count(got.begin(), got.end(), "LIST 1") > 0;
        };
        for (int waited = 0; !c.Closed && !listed() && waited < 2000; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(listed(), !c.Closed);
        if (c.Closed) {
            EXPECT_THROW(client.MessageSize(1), ENotConnected);
        } else {
            EXPECT_EQ(client.MessageSize(1), 120);
            client.Quit();
        }
        ASSERT_TRUE(server.WaitForSessions(1));
        EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
        const std::vector<std::string> got = server.Received(0);
        EXPECT_EQ(std::count(got.begin(), got.end(), "LIST 1"), c.Closed ? 0 : 1);
    }
}

}  // namespace
}  // namespace kalmuro::test
