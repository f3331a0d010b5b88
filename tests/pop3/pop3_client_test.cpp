// POP3 conversations against a scripted server.
#include "mail/pop3/pop3_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "helpers.h"
#include "mail/mime/mail_message.h"
#include "mail/net/session_errors.h"

namespace kalmuro::test {
namespace {

TEST(Apop, DigestAndTimestamp) {
    // The example exchange of the POP3 standard.
    EXPECT_EQ(ApopDigest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf"),
              "c4c9334bac560ecc979e58001b3e22fb");
    struct TCase {
        const char* Greeting;
        const char* Stamp;
    };
    for (const TCase& c :
         {TCase{"POP3 ready <1896.697@dbc.example>", "<1896.697@dbc.example>"},
          TCase{"ready <3b9f.1.6b1.odoX+/Rq==@vm> now", "<3b9f.1.6b1.odoX+/Rq==@vm>"},
          TCase{"> odd <a> b", "<a>"}, TCase{"<<a>>", "<<a>"}, TCase{"no stamp", ""},
          TCase{"open <only", ""}, TCase{"close only>", ""}, TCase{"", ""}}) {
        EXPECT_EQ(ApopTimestamp(c.Greeting), c.Stamp) << c.Greeting;
    }
}

TEST(Login, UserPassSuccess) {
    TScript s = LoggedIn();
    s.Expect("QUIT");
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    EXPECT_EQ(client.Port, server.Port());
    client.Login(2000);
    EXPECT_EQ(client.LastReply.NumericCode, 1);
    EXPECT_EQ(client.LastReply.TextCode, "1");
    EXPECT_EQ(client.LastReply.Text, std::vector<std::string>{"Logged in."});
    client.Quit();
    EXPECT_FALSE(client.IsConnected());
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
    EXPECT_EQ(client.LastReply.Text, std::vector<std::string>{"Logged in."})
        << "the QUIT answer is never read";
}

TEST(Login, DefaultPortIs110) { EXPECT_EQ(TPop3Client().Port, 110); }

TEST(Login, ApopSuccessWithBlankLinesBeforeGreeting) {
    TScriptedServer server(
        {TScript()
             .Send("\r\n\r\n+OK POP3 ready <1896.697170952@dbc.mtview.ca.us>\r\n")
             .Expect("APOP mrose c4c9334bac560ecc979e58001b3e22fb")
             .Line("+OK maildrop has 1 message")});
    TPop3Client client;
    PointAt(client, server.Port());
    client.Username = "mrose";
    client.Password = "tanstaaf";
    client.APOP = true;
    client.Login();
    client.Quit();
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty());
    EXPECT_EQ(server.Received().back(), "QUIT");
}

struct TLoginFailure {
    const char* Name;
    TScript Script;
    bool Apop;
    std::string Message;
    int32_t ReplyCode;  // LastReply.NumericCode afterwards
    std::vector<std::string> ReplyText;
};

TEST(Login, FailuresCloseTheSessionWithQuit) {
    const std::string noStamp = "Server do not support APOP (no timestamp)";
    const std::vector<TLoginFailure> cases = {
        {"pass-refused",
         TScript()
             .Line("+OK hi")
             .Expect("USER alice")
             .Line("+OK")
             .Expect("PASS secret")
             .Line("-ERR [AUTH] Authentication failed."),
         false,
         " [AUTH] Authentication failed.\r\n",
         2,
         {" [AUTH] Authentication failed."}},
        {"user-refused",
         TScript().Line("+OK hi").Expect("USER alice").Line("-ERR go away"),
         false,
         " go away\r\n",
         2,
         {" go away"}},
        {"greeting-refused",
         TScript().Line("-ERR [IN-USE] too many"),
         false,
         " [IN-USE] too many\r\n",
         2,
         {" [IN-USE] too many"}},
        {"apop-refused",
         TScript().Line("+OK hi <1.2@x>").Read().Line("-ERR [AUTH] Authentication failed."),
         true,
         " [AUTH] Authentication failed.\r\n",
         2,
         {" [AUTH] Authentication failed."}},
        {"apop-greeting-without-text", TScript().Line("+OK"), true, noStamp, 1, {""}},
        {"apop-no-closing-bracket",
         TScript().Line("+OK hello <1.2@x"),
         true,
         noStamp,
         1,
         {"hello <1.2@x"}},
        {"apop-no-stamp", TScript().Line("+OK hello"), true, noStamp, 1, {"hello"}},
        {"unrecognized-greeting",
         TScript().Line("+OKAY fine"),
         false,
         "Unrecognized POP3 Response Header:\n\"Y fine\r\n\"",
         0,
         {"Y fine"}},
        {"close-during-greeting",
         TScript().Send("+OK hal").Close(),
         false,
         "Connection Closed Gracefully.",
         0,
         {}},
    };
    for (const TLoginFailure& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedServer server({c.Script});
        TPop3Client client;
        PointAtAsAlice(client, server.Port());
        client.APOP = c.Apop;
        EXPECT_EQ(ErrorText([&] { client.Login(); }), c.Message);
        EXPECT_FALSE(client.IsConnected());
        EXPECT_EQ(client.LastReply.NumericCode, c.ReplyCode);
        EXPECT_EQ(client.LastReply.Text, c.ReplyText);
        ASSERT_TRUE(server.WaitForSessions(1));
        EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
        const std::vector<std::string> got = server.Received();
        if (std::string(c.Name) != "close-during-greeting") {
            EXPECT_TRUE(!got.empty() && got.back() == "QUIT") << "QUIT was not sent";
        }
    }
}

TEST(Login, RefusalIsAProtocolErrorWithCode2) {
    TScriptedServer server({TScript().Line("-ERR busy")});
    TPop3Client client;
    PointAt(client, server.Port());
    try {
        client.Login();
        ADD_FAILURE() << "no error";
    } catch (const EProtocolReplyError& e) {
        EXPECT_EQ(e.ErrorCode, 2);
    }
}

// One command on a logged-in session: what the client sends, what the
// server answers, and what the call returns or raises.
struct TCommandCase {
    const char* Name;
    std::function<std::string(TPop3Client&)> Call;  // the result as text
    std::string Sent;
    std::string Reply;  // raw bytes
    std::string Result;
};

std::string Num(int32_t v) { return std::to_string(v); }

TEST(Commands, RepliesTable) {
    auto stat = [](TPop3Client& c) { return Num(c.CountMessages()); };
    auto list2 = [](TPop3Client& c) { return Num(c.MessageSize(2)); };
    auto uidl2 = [](TPop3Client& c) {
        std::vector<std::string> l = {"untouched"};
        const bool ok = c.MessageUid(l, 2);
        std::string r = ok ? "true" : "false";
        for (const std::string& s : l) r += "|" + s;
        return r;
    };
    auto dele3 = [](TPop3Client& c) {
        return std::string(c.DeleteMessageOnServer(3) ? "true" : "false");
    };
    const std::vector<TCommandCase> cases = {
        {"stat", stat, "STAT", "+OK 5 1234\r\n", "5"},
        {"stat-empty-mailbox", stat, "STAT", "+OK 0 0\r\n", "0"},
        {"stat-no-text", stat, "STAT", "+OK\r\n", "0"},
        {"stat-lower-case", stat, "STAT", "+ok 3 99\r\n", "3"},
        {"stat-count-without-size", stat, "STAT", "+OK 5\r\n", "'' is not a valid integer value"},
        {"stat-not-a-number", stat, "STAT", "+OK x 12\r\n", "'x' is not a valid integer value"},
        {"stat-refused", stat, "STAT", "-ERR locked\r\n", " locked\r\n"},
        {"stat-refused-lower-case", stat, "STAT", "-err locked\r\n", " locked\r\n"},
        {"list", list2, "LIST 2", "+OK 2 624\r\n", "624"},
        {"list-size-only", list2, "LIST 2", "+OK 624\r\n", "624"},
        {"list-trailing-word", list2, "LIST 2", "+OK 2 624 octets\r\n", "-1"},
        {"list-no-text", list2, "LIST 2", "+OK\r\n", "-1"},
        {"list-no-such", list2, "LIST 2", "-ERR There's no message 2.\r\n",
         " There's no message 2.\r\n"},
        {"uidl", uidl2, "UIDL 2", "+OK 2 000000026b18da57\r\n", "true|2 000000026b18da57"},
        {"uidl-deleted", uidl2, "UIDL 2", "-ERR Message is deleted.\r\n", "false|untouched"},
        {"uidl-plus-chars", uidl2, "UIDL 2", "+OK 2 a+/=b\r\n", "true|2 a+/=b"},
        {"dele", dele3, "DELE 3", "+OK Marked to be deleted.\r\n", "true"},
        {"dele-refused", dele3, "DELE 3", "-ERR Message is deleted.\r\n",
         " Message is deleted.\r\n"},
        {"unrecognized", stat, "STAT", "OK 5 5\r\n",
         "Unrecognized POP3 Response Header:\n\" 5\r\n\""},
        {"ok-glued-to-letters", stat, "STAT", "+OKAY 1 1\r\n",
         "Unrecognized POP3 Response Header:\n\"Y 1 1\r\n\""},
    };
    for (const TCommandCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScript s = LoggedIn();
        // A second command proves the session is still in step afterwards.
        s.Expect(c.Sent).Send(c.Reply).Expect("NOOP").Line("+OK still here");
        TScriptedServer server({s});
        TPop3Client client;
        PointAtAsAlice(client, server.Port());
        client.Login();
        EXPECT_EQ(ErrorText([&] { throw std::runtime_error(c.Call(client)); }), c.Result);
        EXPECT_EQ(client.SendCommand("NOOP", {1}), 1);
        EXPECT_EQ(client.LastReply.Text, std::vector<std::string>{"still here"});
        client.Quit();
        ASSERT_TRUE(server.WaitForSessions(1));
        EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
    }
}

TEST(Commands, RefusalsRaiseProtocolErrorsWithCode2) {
    TScript s = LoggedIn();
    s.Expect("STAT").Line("-ERR no").Expect("TOP 1 0").Line("-ERR no");
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.Login();
    EXPECT_THROW(client.CountMessages(), EProtocolReplyError);
    TMailMessage m;
    EXPECT_THROW(client.FetchHeader(1, m), EProtocolReplyError);
    EXPECT_EQ(client.LastReply.NumericCode, 2);
    EXPECT_EQ(m.HeaderLines.Count(), 0u);
}

TEST(FetchHeader, TakesEverythingUpToTheDotLine) {
    TScript s = LoggedIn();
    s.Expect("TOP 7 0")
        .Send(
            "+OK\r\n"
            "From: =?ISO-8859-1?Q?Jos=E9?= <jose@example.com>\r\n"
            "Subject: long subject\r\n"
            " folded\r\n"
            "..X-Dots: two\r\n"
            "\r\n"
            "body line from a server that ignores the 0\r\n"
            ".\r\n")
        .Expect("STAT")
        .Line("+OK 1 10");
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    int begins = 0, works = 0, ends = 0;
    client.OnWorkBegin = [&](TTcpConnection&, TWorkMode, int64_t) { ++begins; };
    client.OnWork = [&](TTcpConnection&, TWorkMode, int64_t) { ++works; };
    client.OnWorkEnd = [&](TTcpConnection&, TWorkMode) { ++ends; };
    client.Login();
    TMailMessage m;
    EXPECT_TRUE(client.FetchHeader(7, m));
    EXPECT_EQ(m.HeaderLines.Lines(),
              (std::vector<std::string>{"From: =?ISO-8859-1?Q?Jos=E9?= <jose@example.com>",
                                        "Subject: long subject", " folded", "..X-Dots: two",
                                        "body line from a server that ignores the 0"}));
    EXPECT_EQ(m.From.Address, "jose@example.com");
    EXPECT_EQ(m.From.Name, "Jos\xE9");  // José
    EXPECT_EQ(m.Subject, "long subject folded");
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(works, 7) << "one per line read inside the header work";
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(client.CountMessages(), 1);
}

TEST(FetchHeader, InterpretationErrorLeavesSessionInStep) {
    TScript s = LoggedIn();
    s.Expect("TOP 1 0")
        .Send("+OK\r\nSubject: =?ISO-8859-1?Q?bad=ZZ?=\r\nFrom: a@b\r\n\r\n.\r\n")
        .Expect("LIST 1")
        .Line("+OK 1 99");
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    int ends = 0;
    client.OnWorkEnd = [&](TTcpConnection&, TWorkMode) { ++ends; };
    client.Login();
    TMailMessage m;
    EXPECT_THROW(client.FetchHeader(1, m), EError);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(m.HeaderLines.Count(), 2u);
    EXPECT_EQ(client.MessageSize(1), 99);
}

struct TBrokenAnswer {
    const char* Name;
    TScript Tail;  // after "TOP 1 0" was read
    std::string Error;
};

TEST(FetchHeader, BrokenAnswersTable) {
    const std::vector<TBrokenAnswer> cases = {
        {"close-mid-line", TScript().Send("+OK\r\nFrom: a@b\r\nSubj").Close(),
         "Connection Closed Gracefully."},
        {"close-before-dot", TScript().Send("+OK\r\nFrom: a@b\r\n").Close(),
         "Connection Closed Gracefully."},
        {"silent", TScript().Send("+OK\r\nFrom: a@b\r\n").Hold(), "Read Timeout"},
        {"over-long-line",
         TScript().Send("+OK\r\nX: " + std::string(17000, 'a') + "\r\n.\r\n").Hold(),
         "Max line length exceeded."},
        {"reset", TScript().Send("+OK\r\nFrom: a@b\r\n").Pause(50).Reset(),
         "Socket Error # 10054\r\nConnection reset by peer."},
    };
    for (const TBrokenAnswer& c : cases) {
        SCOPED_TRACE(c.Name);
        TScript s = LoggedIn();
        s.Expect("TOP 1 0");
        s.Steps.insert(s.Steps.end(), c.Tail.Steps.begin(), c.Tail.Steps.end());
        TScriptedServer server({s});
        TPop3Client client;
        PointAtAsAlice(client, server.Port());
        client.Login();
        client.ReadTimeout = 300;
        TMailMessage m;
        EXPECT_EQ(ErrorText([&] { client.FetchHeader(1, m); }), c.Error);
        client.Quit();  // never raises on a dead session
        EXPECT_FALSE(client.IsConnected());
    }
}

TEST(FetchHeader, TimeoutLeavesSessionOutOfStep) {
    // The rest of an answer that timed out is read as the next reply.
    TScript s = LoggedIn();
    s.Expect("TOP 1 0")
        .Send("+OK\r\nFrom: a@b\r\n")
        .Pause(1000)
        .Send("Subject: late\r\n.\r\n")
        .Expect("STAT")
        .Line("+OK 1 1");
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.Login();
    client.ReadTimeout = 200;
    TMailMessage m;
    EXPECT_THROW(client.FetchHeader(1, m), EReadTimeout);
    client.ReadTimeout = 2000;
    EXPECT_EQ(ErrorText([&] { client.CountMessages(); }),
              "Unrecognized POP3 Response Header:\n\"ect: late\r\n\"");
    EXPECT_TRUE(client.IsConnected()) << "outside Login the session stays open";
}

TEST(FetchRaw, UnstuffsAndAppends) {
    TScript s = LoggedIn();
    s.Expect("RETR 4")
        .Send("+OK 60 octets\r\nSubject: x\r\n\r\n..\r\n...\r\n.x\r\n. \r\nend\r\n.\r\n")
        .Expect("RETR 5")
        .Line("-ERR There's no message 5.")
        .Expect("RETR 6")
        .Send("+OK\r\nonly half")
        .Close();
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.Login();
    std::vector<std::string> lines = {"kept"};
    EXPECT_TRUE(client.FetchRaw(4, lines));
    EXPECT_EQ(lines,
              (std::vector<std::string>{"kept", "Subject: x", "", ".", "..", ".x", ". ", "end"}));
    std::vector<std::string> none = {"kept"};
    EXPECT_FALSE(client.FetchRaw(5, none));
    EXPECT_EQ(none, std::vector<std::string>{"kept"});
    std::vector<std::string> half;
    EXPECT_THROW(client.FetchRaw(6, half), EConnClosedGracefully);
}

TEST(Quit, WithoutConnectionSendsNothing) {
    TPop3Client client;
    int disconnects = 0;
    client.OnDisconnected = [&](TTcpConnection&) { ++disconnects; };
    EXPECT_NO_THROW(client.Quit());
    EXPECT_EQ(disconnects, 1);
}

TEST(Quit, AfterPeerClosedRaisesNothing) {
    TScript s = LoggedIn();
    s.Close();
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.Login();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NO_THROW(client.Quit());
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_EQ(server.Received().back(), "PASS secret") << "no QUIT on a closed session";
}

TEST(Commands, WithoutConnectionRaiseNotConnected) {
    TPop3Client client;
    EXPECT_EQ(ErrorText([&] { client.CountMessages(); }), "Not Connected");
    TMailMessage m;
    EXPECT_EQ(ErrorText([&] { client.FetchHeader(1, m); }), "Not Connected");
}

TEST(FakeServer, WholeSessionWithDeletion) {
    // The fake mailbox serves whole cycles to other test programs; check it
    // against the client once here.
    std::vector<TFakeMessage> box = {
        {"Subject: one\r\nFrom: a@b\r\n\r\nbody\r\n.dot\r\n", "uid-1", false},
        {"Subject: two\r\n\r\nbody two\r\n", "uid-2", false},
    };
    TFakePop3Server server("alice", "secret", box);
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.APOP = true;
    server.Timestamp = "<42.17@fake>";
    client.Login();
    EXPECT_EQ(client.CountMessages(), 2);
    EXPECT_EQ(client.MessageSize(1), static_cast<int32_t>(box[0].Text.size()));
    std::vector<std::string> uid;
    EXPECT_TRUE(client.MessageUid(uid, 2));
    EXPECT_EQ(uid, std::vector<std::string>{"2 uid-2"});
    TMailMessage m;
    client.FetchHeader(1, m);
    EXPECT_EQ(m.Subject, "one");
    std::vector<std::string> raw;
    client.FetchRaw(1, raw);
    EXPECT_EQ(raw, (std::vector<std::string>{"Subject: one", "From: a@b", "", "body", ".dot"}));
    client.DeleteMessageOnServer(1);
    EXPECT_FALSE(client.MessageUid(uid, 1));
    client.Quit();
    ASSERT_TRUE(server.WaitForSessions(1));
    ASSERT_EQ(server.Messages().size(), 1u);
    EXPECT_EQ(server.Messages()[0].Uid, "uid-2");
}

}  // namespace
}  // namespace kalmuro::test
