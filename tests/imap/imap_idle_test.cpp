// IDLE: against the scripted server for the exchanges one can write down
// (new mail, a count that did not grow, Stop, a refusal, BYE, a cut, a
// renewal, a poll that must not wait), and against Dovecot, woken by a
// message dropped into the Maildir while the client idles.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "mail/imap/imap_client.h"
#include "mail/net/session_errors.h"
#include "support/dovecot_server.h"
#include "support/imap_script.h"
#include "support/scripted_server.h"

namespace kalmuro::test {
namespace {

using TIdle = TImapClient::TIdleState;

// Logged in, INBOX of three messages examined (a2); the client's IDLE is a3.
TScript Examined() {
    TScript s = ImapLoggedIn("IMAP4rev1 IDLE", "IMAP4rev1 IDLE");
    s.Expect("a2 EXAMINE \"INBOX\"").Send(ImapFolderAnswer("a2", 3, 7));
    return s;
}

int64_t MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

TEST(ImapIdle, TheBlockingWaitEndsOnNewMailTimeOutOrStop) {
    struct TCase {
        const char* Name;
        std::string News;  // what the server says while the client idles
        int32_t Timeout;
        int StopAfterPolls;  // 0: never
        bool Expected;
    };
    for (const TCase& c : {
             TCase{"exists-grows", "* 4 EXISTS\r\n* 1 RECENT\r\n", 5000, 0, true},
             TCase{"expunge-then-new", "* 2 EXPUNGE\r\n* 3 EXISTS\r\n", 5000, 0, true},
             TCase{"flags-and-same-count", "* 1 FETCH (FLAGS (\\Seen))\r\n* 3 EXISTS\r\n", 400, 0,
                   false},
             TCase{"keep-alive-only", "* OK Still here\r\n", 400, 0, false},
             TCase{"stop", "", 5000, 3, false},
         }) {
        SCOPED_TRACE(c.Name);
        TScript s = Examined();
        s.Expect("a3 IDLE").Line("+ idling").Pause(50);
        if (!c.News.empty()) s.Send(c.News);
        s.Expect("DONE").Line("a3 OK Idle completed").Expect("a4 LOGOUT");
        TScriptedServer server({s});
        TImapClient client;
        LogIn(client, server);
        const uint32_t exists = client.Examine("INBOX").Exists;
        int polls = 0;
        const auto start = std::chrono::steady_clock::now();
        const bool news = client.Idle(
            exists, c.Timeout, [&] { return c.StopAfterPolls > 0 && ++polls >= c.StopAfterPolls; });
        EXPECT_EQ(news, c.Expected);
        EXPECT_LT(MsSince(start), 3000);
        EXPECT_EQ(client.IdleState(), TIdle::None);
        EXPECT_EQ(client.LastReply.Text, std::vector<std::string>{"Idle completed"});
        client.Logout();
        ASSERT_TRUE(server.WaitForSessions(1));
        EXPECT_EQ(server.Failures(), std::vector<std::string>{});
    }
}

TEST(ImapIdle, ARefusalByeOrCutEndsTheSessionWithItsError) {
    struct TCase {
        const char* Name;
        TScript Tail;
        const char* Error;
    };
    TScript refused, bye, cut;
    refused.Line("a3 BAD Unknown command IDLE");
    bye.Line("+ idling").Line("* BYE Shutting down").Close();
    cut.Line("+ idling").Send("* 4 EXI").Close();
    for (const TCase& c : {TCase{"refused", refused, "Unknown command IDLE"},
                           TCase{"bye", bye, "Shutting down"}, TCase{"cut", cut, ""}}) {
        SCOPED_TRACE(c.Name);
        TScript s = Examined();
        s.Expect("a3 IDLE");
        s.Steps.insert(s.Steps.end(), c.Tail.Steps.begin(), c.Tail.Steps.end());
        TScriptedServer server({s});
        TImapClient client;
        LogIn(client, server);
        const uint32_t exists = client.Examine("INBOX").Exists;
        try {
            client.Idle(exists, 5000);
            ADD_FAILURE() << "no error";
        } catch (const std::exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.Error), std::string::npos) << e.what();
        }
        EXPECT_FALSE(client.IsConnected());
        EXPECT_EQ(client.IdleState(), TIdle::None);
    }
}

TEST(ImapIdle, PollsNeverWaitAndARenewalSendsIdleAgainAfterTheAnswer) {
    TScript s = Examined();
    s.Expect("a3 IDLE").Pause(100).Line("+ idling");
    s.Expect("DONE").Line("a3 OK Idle completed");
    s.Expect("a4 IDLE").Line("+ idling").Pause(100).Line("* 5 EXISTS");
    s.Expect("DONE").Line("a4 OK Idle completed").Expect("a5 LOGOUT");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    client.StartIdle(client.Examine("INBOX").Exists);
    const auto poll = [&client](TIdle until) {
        bool news = false;
        for (int i = 0; i < 200 && client.IdleState() != until && !news; ++i) {
            const auto start = std::chrono::steady_clock::now();
            news = client.PollIdle(0);
            EXPECT_LT(MsSince(start), 50) << "a poll without a timeout does not wait";
            usleep(10000);
        }
        return news;
    };
    EXPECT_EQ(client.IdleState(), TIdle::Starting);
    EXPECT_FALSE(poll(TIdle::Idling));
    ASSERT_EQ(client.IdleState(), TIdle::Idling);
    client.RenewIdle();
    EXPECT_EQ(client.IdleState(), TIdle::Ending);
    // The renewal's own IDLE, then the news it brings.
    EXPECT_TRUE(poll(TIdle::None));
    EXPECT_EQ(client.IdleState(), TIdle::Idling);
    client.EndIdle();
    EXPECT_FALSE(poll(TIdle::None));
    EXPECT_EQ(client.IdleState(), TIdle::None);
    client.Logout();
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_EQ(server.Failures(), std::vector<std::string>{});
}

// Delivers a message as a mail server would: written in tmp/, then renamed
// into new/, owned as the rest of the Maildir.
void DropMessage(const std::string& maildir, const std::string& name, const std::string& subject) {
    const std::string tmp = maildir + "/tmp/" + name, target = maildir + "/new/" + name;
    std::ofstream(tmp) << "From: Push <push@example.org>\nSubject: " << subject
                       << "\nDate: Thu, 10 Dec 2026 12:00:00 +0000\n\nHello.\n";
    struct stat owner {};
    ASSERT_EQ(stat(maildir.c_str(), &owner), 0);
    ASSERT_EQ(chown(tmp.c_str(), owner.st_uid, owner.st_gid), 0);
    ASSERT_EQ(std::rename(tmp.c_str(), target.c_str()), 0);
}

TEST(ImapIdleDovecot, AMessageDroppedIntoTheMaildirWakesTheIdle) {
    TDovecotServer server;
    server.Imap = true;
    ASSERT_TRUE(server.AddUser("alice", "secret") && server.GenerateMail("alice", 3, 81) &&
                server.Start())
        << server.Error();
    TImapClient client;
    client.Host = "127.0.0.1";
    client.Port = server.ImapPort();
    client.ReadTimeout = 10000;
    client.Username = "alice";
    client.Password = "secret";
    client.Login(5000);
    ASSERT_TRUE(client.HasCapability("IDLE"));
    const uint32_t exists = client.Examine("INBOX").Exists;
    ASSERT_EQ(exists, 3u);

    // Nothing new: the wait runs out.
    EXPECT_FALSE(client.Idle(exists, 300));

    // The non-blocking road, as the window drives it.
    client.StartIdle(exists);
    for (int i = 0; i < 100 && client.IdleState() != TIdle::Idling; ++i) client.PollIdle(50);
    ASSERT_EQ(client.IdleState(), TIdle::Idling);
    DropMessage(server.Maildir("alice"), "1800000000.M1P1.push", "First push");
    bool news = false;
    const auto start = std::chrono::steady_clock::now();
    while (!news && MsSince(start) < 10000) news = client.PollIdle(100);
    EXPECT_TRUE(news) << "no EXISTS within 10 s";
    client.EndIdle();
    for (int i = 0; i < 100 && client.IdleState() != TIdle::None; ++i) client.PollIdle(50);
    EXPECT_EQ(client.IdleState(), TIdle::None);

    // The blocking road; the folder now holds four.
    EXPECT_EQ(client.Examine("INBOX").Exists, 4u);
    bool dropped = false;
    EXPECT_TRUE(client.Idle(4, 10000, [&] {
        if (!dropped) DropMessage(server.Maildir("alice"), "1800000001.M2P1.push", "Second push");
        dropped = true;
        return false;
    }));
    EXPECT_EQ(client.Examine("INBOX").Exists, 5u);
    client.Logout();
}

}  // namespace
}  // namespace kalmuro::test
