// Push for IMAP accounts: against Dovecot, a message dropped into the
// Maildir asks for a check of its account, at most once a minute, and still
// after a renewal; against the scripted server, a failing server is tried
// again after a pause that grows, a server without IDLE is left alone, and a
// Poll from the pump while a connection opens does nothing. The clock is
// the test's, so that minutes pass at once.
#include "engine/imap_push.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "engine/engine_harness.h"
#include "mail/auth/oauth_client.h"
#include "support/dovecot_server.h"
#include "support/imap_script.h"
#include "support/scripted_server.h"

namespace kalmuro::enginetest {
namespace {

using test::TDovecotServer;
using test::TScript;
using test::TScriptedServer;

TMailAccount ImapAccount(const std::string& name, int32_t port, const std::string& user,
                         const std::string& password, bool active = true) {
    TMailAccount a = Account(name, port, user, password, active);
    a.Protocol = TProtocol::Imap;
    return a;
}

class ImapPushTest : public ::testing::Test {
protected:
    ImapPushTest() {
        Push.Clock = [this] { return Clock; };
        Push.Credentials = [](int32_t, TMailAccount&) { return true; };
    }
    // Polls (real time passing, the test's clock not) until done() or 10 s.
    template <class F>
    bool PollUntil(F done, int32_t ms = 10000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            Push.Poll();
            usleep(20000);
        }
        return true;
    }

    TTempHome Home;
    int64_t Clock = 1'000'000;
    std::vector<int32_t> Asked;
    bool Busy = false;
    TImapPush Push{[this](int32_t index) {
        if (Busy) return false;
        Asked.push_back(index);
        return true;
    }};
};

void DropMessage(const std::string& maildir, const std::string& name) {
    const std::string tmp = maildir + "/tmp/" + name;
    std::ofstream(tmp) << "From: Push <push@example.org>\nSubject: " << name << "\n\nHello.\n";
    struct stat owner {};
    ASSERT_EQ(stat(maildir.c_str(), &owner), 0);
    ASSERT_EQ(chown(tmp.c_str(), owner.st_uid, owner.st_gid), 0);
    ASSERT_EQ(std::rename(tmp.c_str(), (maildir + "/new/" + name).c_str()), 0);
}

TEST_F(ImapPushTest, NewMailOnDovecotAsksForACheckAtMostOnceAMinuteAndAfterRenewals) {
    TDovecotServer server;
    server.Imap = true;
    ASSERT_TRUE(server.AddUser("alice", "secret") && server.GenerateMail("alice", 2, 91) &&
                server.Start())
        << server.Error();
    // Only the active IMAP account is watched.
    TMailAccount pop3 = Account("Posta", server.Port(), "alice", "secret");
    pop3.Protocol = TProtocol::Pop3;
    Push.RenewMs = 5000;
    Push.SetAccounts({pop3, ImapAccount("Spento", server.ImapPort(), "alice", "secret", false),
                      ImapAccount("Imap", server.ImapPort(), "alice", "secret")},
                     true);
    EXPECT_EQ(Push.Watched(), std::vector<int32_t>{2});
    ASSERT_TRUE(PollUntil([&] { return Push.Idling(2); })) << Push.LastError(2);
    EXPECT_EQ(Asked, std::vector<int32_t>{});

    const std::string maildir = server.Maildir("alice");
    DropMessage(maildir, "1800000000.M1P1.one");
    ASSERT_TRUE(PollUntil([&] { return !Asked.empty(); }));
    EXPECT_EQ(Asked, std::vector<int32_t>{2});

    // Within the minute: remembered, not asked.
    Clock += 1000;
    DropMessage(maildir, "1800000001.M2P1.two");
    PollUntil([] { return false; }, 1500);
    EXPECT_EQ(Asked.size(), 1u);
    // The window is busy when the minute is up: asked again later.
    Clock += 60000;
    Busy = true;
    Push.Poll();
    EXPECT_EQ(Asked.size(), 1u);
    Busy = false;
    Push.Poll();
    EXPECT_EQ(Asked, (std::vector<int32_t>{2, 2}));

    // Renewed (DONE, IDLE again) past RenewMs, and still woken after it.
    Clock += 6000;
    Push.Poll();
    EXPECT_FALSE(Push.Idling(2)) << "the renewal is under way";
    ASSERT_TRUE(PollUntil([&] { return Push.Idling(2); })) << Push.LastError(2);
    Clock += 60000;
    DropMessage(maildir, "1800000002.M3P1.three");
    ASSERT_TRUE(PollUntil([&] { return Asked.size() == 3; }));
    EXPECT_EQ(Push.LastError(2), "");

    // Off: the connection ends and nothing is watched.
    Push.SetAccounts({pop3, ImapAccount("Imap", server.ImapPort(), "alice", "secret")}, false);
    EXPECT_EQ(Push.Watched(), std::vector<int32_t>{});
    // One login served it all: a renewal is DONE and IDLE on the same
    // connection; turning push off ended it.
    std::string log;
    for (int i = 0; i < 150 && log.find("imap(alice)") == std::string::npos; ++i) {
        usleep(20000);
        log = server.Log();
    }
    EXPECT_NE(log.find("Info: Disconnected:"), std::string::npos) << log;
    size_t logins = 0;
    for (size_t at = log.find("imap-login: Info: Login: user=<alice>"); at != std::string::npos;
         at = log.find("imap-login: Info: Login: user=<alice>", at + 1))
        ++logins;
    EXPECT_EQ(logins, 1u) << log;
}

TEST_F(ImapPushTest, AFailingServerIsTriedAgainAfterAGrowingPauseAndOneWithoutIdleNever) {
    // Three sessions that end at once, the first slow to greet.
    TScript slow, bye;
    slow.Pause(300).Line("* BYE Too busy");
    bye.Line("* BYE Too busy");
    TScriptedServer failing({slow, bye, bye, bye});
    // A server without IDLE.
    TScript noIdle = test::ImapLoggedIn("IMAP4rev1", "IMAP4rev1");
    noIdle.Expect("a2 LOGOUT");
    TScriptedServer plain({noIdle});

    Push.FirstPauseMs = 1000;
    int pumped = 0;
    Push.OnIdle = [&] {
        ++pumped;
        Push.Poll();  // from the pump: returns at once
    };
    Push.SetAccounts({ImapAccount("Occupato", failing.Port(), "alice", "secret"),
                      ImapAccount("Semplice", plain.Port(), "alice", "secret")},
                     true);
    struct TStep {
        int64_t At;  // ms after the start
        size_t Sessions;
    };
    const int64_t start = Clock;
    // Tries at 0, 1000, 3000 (pause 1000 then 2000), 7000 (then 4000).
    for (const TStep& step : {TStep{0, 1}, TStep{999, 1}, TStep{1000, 2}, TStep{2999, 2},
                              TStep{3000, 3}, TStep{6999, 3}, TStep{7000, 4}}) {
        SCOPED_TRACE(step.At);
        Clock = start + step.At;
        Push.Poll();
        EXPECT_TRUE(failing.WaitForSessions(step.Sessions, 2000));
        EXPECT_EQ(failing.SessionsAccepted(), step.Sessions);
        EXPECT_NE(Push.LastError(0).find("Too busy"), std::string::npos) << Push.LastError(0);
    }
    EXPECT_GT(pumped, 0) << "the slow greeting was waited for with the pump running";
    // The server without IDLE was logged into once and then left alone.
    EXPECT_TRUE(plain.WaitForSessions(1));
    EXPECT_EQ(plain.SessionsAccepted(), 1u);
    EXPECT_EQ(plain.Failures(), std::vector<std::string>{});
    EXPECT_FALSE(Push.Idling(1));
    EXPECT_EQ(Asked, std::vector<int32_t>{});
}

TEST(PushCredentials, TakeOnlyWhatNeedsNoOne) {
    TMailAccount password = Account("A", 143, "u", "pw");
    TMailAccount target = password;
    target.UserPwd.clear();
    EXPECT_TRUE(PushCredentials(password, target));
    EXPECT_EQ(target.UserPwd, "pw");

    TMailAccount oauth = Account("B", 993, "u", "");
    oauth.Access = TAccessMethod::OAuth;
    for (const int64_t left : {int64_t{-10}, int64_t{30}, int64_t{600}}) {
        SCOPED_TRACE(left);
        oauth.AccessToken = "token";
        oauth.AccessTokenExpiry = OAuthNow() + left;
        TMailAccount into = oauth;
        into.AccessToken.clear();
        EXPECT_EQ(PushCredentials(oauth, into), left == 600);
        EXPECT_EQ(into.AccessToken, left == 600 ? "token" : "");
    }
    oauth.AccessToken.clear();
    EXPECT_FALSE(PushCredentials(oauth, oauth)) << "no token: the check signs in, not the push";
}

}  // namespace
}  // namespace kalmuro::enginetest
