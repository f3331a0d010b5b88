// Folders and the header fetch against the scripted server: what EXAMINE
// reports, headers delivered as they stream, literals split across reads,
// the header caps, and a server that cuts, stalls, floods or garbles.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "mail/imap/imap_client.h"
#include "mail/net/session_errors.h"
#include "support/case_name.h"
#include "support/imap_script.h"
#include "support/peak_memory.h"
#include "support/scripted_server.h"

namespace kalmuro::test {
namespace {

using testcase::RowName;

const std::string kHeader1 =
    "From: Mario <mario@example.org>\r\nSubject: Ciao\r\n\tfolded\r\nDate: Mon, 1 Jul 2024 "
    "10:00:00 +0200\r\n\r\n";
const std::string kHeader2 = "From: x@y.z\r\nSubject: due\r\n\r\n";

const char kFetchLine[] = "UID FETCH 1:* (UID RFC822.SIZE INTERNALDATE BODY.PEEK[HEADER])";

struct TFetched {
    TImapMessageInfo Info;
    std::vector<std::string> Lines;
};

std::vector<TFetched> FetchAll(TImapClient& client, TImapFolder* folder = nullptr) {
    std::vector<TFetched> got;
    THeaderList lines;
    const TImapFolder f = client.ExamineAndFetchHeaders(
        "INBOX", lines, [&](const TImapMessageInfo& info, THeaderList& l) {
            got.push_back({info, l.Lines()});
        });
    if (folder != nullptr) *folder = f;
    return got;
}

TEST(ImapExamine, ReportsFolderAndIsOneRoundTripWithTheFetch) {
    TScript s = ImapLoggedIn();
    // Both commands arrive before any answer: the script would stall
    // otherwise and the read time-out would fail the test.
    s.Expect("a2 EXAMINE \"INBOX\"")
        .Expect(std::string("a3 ") + kFetchLine)
        .Send(ImapFolderAnswer("a2", 2, 1700000001))
        .Send(ImapHeaderFetch(1, 41, 620, kHeader1))
        .Send("* 2 FETCH (FLAGS (\\Seen))\r\n")  // another client's change: no message
        .Send(ImapHeaderFetch(2, 43, 70, kHeader2))
        .Line("a3 OK Fetch completed.")
        .Expect("a4 LOGOUT");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    TImapFolder folder;
    const std::vector<TFetched> got = FetchAll(client, &folder);
    EXPECT_EQ(folder.UidValidity, 1700000001u);
    EXPECT_EQ(folder.Exists, 2u);
    EXPECT_EQ(folder.UidNext, 100u);
    EXPECT_TRUE(folder.ReadOnly);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Info.Number, 1u);
    EXPECT_EQ(got[0].Info.Uid, 41u);
    EXPECT_EQ(got[0].Info.Size, 620);
    EXPECT_EQ(got[0].Info.InternalDate, "17-Jul-2024 02:44:25 +0200");
    EXPECT_EQ(got[0].Info.Fault, THeaderFault::None);
    EXPECT_EQ(got[0].Lines,
              (std::vector<std::string>{"From: Mario <mario@example.org>", "Subject: Ciao",
                                        "\tfolded", "Date: Mon, 1 Jul 2024 10:00:00 +0200"}));
    EXPECT_EQ(got[1].Info.Uid, 43u);
    EXPECT_EQ(got[1].Lines.size(), 2u);
    client.Logout();
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

TEST(ImapExamine, RefusedFolderDeliversNothing) {
    TScript s = ImapLoggedIn();
    s.Expect("a2 EXAMINE \"Nowhere\"")
        .Expect(std::string("a3 ") + kFetchLine)
        .Line("a2 NO [NONEXISTENT] Mailbox doesn't exist: Nowhere")
        .Line("a3 BAD No mailbox selected.")
        .Expect("a4 EXAMINE \"INBOX\"")
        .Send(ImapFolderAnswer("a4", 0, 5));
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    THeaderList lines;
    int calls = 0;
    try {
        client.ExamineAndFetchHeaders("Nowhere", lines,
                                      [&](const TImapMessageInfo&, THeaderList&) { ++calls; });
        FAIL() << "no error";
    } catch (const EProtocolReplyError& e) {
        EXPECT_STREQ(e.what(), "[NONEXISTENT] Mailbox doesn't exist: Nowhere\r\n");
    }
    EXPECT_EQ(calls, 0);
    // Both answers were read: the session goes on in step.
    EXPECT_EQ(client.Examine("INBOX").UidValidity, 5u);
    client.Logout();
}

TEST(ImapFetch, LiteralsSplitAcrossReads) {
    const std::string response = ImapHeaderFetch(1, 9, 620, kHeader1);
    TScript s = ImapLoggedIn();
    s.Expect("a2 EXAMINE \"INBOX\"").Expect(std::string("a3 ") + kFetchLine).Send(
        ImapFolderAnswer("a2", 1, 7));
    // Cut inside the count, right after it, inside a CR LF of the header and
    // before the closing parenthesis.
    size_t from = 0;
    for (size_t cut : {response.find('{') + 2, response.find('}') + 1, response.find("\r\n\t") + 1,
                       response.size() - 3}) {
        s.Send(response.substr(from, cut - from)).Pause(30);
        from = cut;
    }
    s.Send(response.substr(from)).Line("a3 OK done");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    const std::vector<TFetched> got = FetchAll(client);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Lines.size(), 4u);
    EXPECT_EQ(got[0].Lines[2], "\tfolded");
}

TEST(ImapFetch, HeaderOverCapIsCutToWholeLinesAndTheStreamGoesOn) {
    std::string big;
    for (int i = 0; i < 40; ++i) big += "X-Pad-" + std::to_string(100 + i) + ": " + std::string(40, 'p') + "\r\n";
    TScript s = ImapLoggedIn();
    s.Expect("a2 EXAMINE \"INBOX\"")
        .Expect(std::string("a3 ") + kFetchLine)
        .Send(ImapFolderAnswer("a2", 2, 7))
        .Send(ImapHeaderFetch(1, 1, 5000, big + "\r\n"))
        .Send(ImapHeaderFetch(2, 2, 70, kHeader2))
        .Line("a3 OK done");
    TScriptedServer server({s});
    TImapClient client;
    client.MaxHeaderBytes = 500;  // 9 lines of 53 bytes, and part of a tenth
    LogIn(client, server);
    const std::vector<TFetched> got = FetchAll(client);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Info.Fault, THeaderFault::TooLong);
    EXPECT_EQ(got[0].Info.Uid, 1u);
    ASSERT_EQ(got[0].Lines.size(), 9u);
    EXPECT_EQ(got[0].Lines.back(), "X-Pad-108: " + std::string(40, 'p'));
    EXPECT_EQ(got[1].Info.Fault, THeaderFault::None);
    EXPECT_EQ(got[1].Lines.size(), 2u);
    EXPECT_TRUE(client.IsConnected());
}

TEST(ImapFetch, OverlongHeaderLineDropsItAndTheRest) {
    const std::string header =
        "From: a@b.c\r\nSubject: " + std::string(300, 's') + "\r\nDate: later\r\n\r\n";
    TScript s = ImapLoggedIn();
    s.Expect("a2 EXAMINE \"INBOX\"")
        .Expect(std::string("a3 ") + kFetchLine)
        .Send(ImapFolderAnswer("a2", 1, 7))
        .Send(ImapHeaderFetch(1, 1, 900, header))
        .Line("a3 OK done");
    TScriptedServer server({s});
    TImapClient client;
    client.MaxLineLength = 200;
    LogIn(client, server);
    const std::vector<TFetched> got = FetchAll(client);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Info.Fault, THeaderFault::LineTooLong);
    EXPECT_EQ(got[0].Lines, std::vector<std::string>{"From: a@b.c"});
}

TEST(ImapFetch, HugeHeaderLiteralStaysWithinMemory) {
    // 64-byte lines in 64 KB blocks: 32 MB of header in one literal.
    const std::string unit = "X-Flood: " + std::string(53, 'f') + "\r\n";
    const int64_t bytes = int64_t{32} << 20;
    TScript s = ImapLoggedIn();
    s.Expect("a2 EXAMINE \"INBOX\"")
        .Expect(std::string("a3 ") + kFetchLine)
        .Send(ImapFolderAnswer("a2", 2, 7))
        .Send("* 1 FETCH (UID 1 BODY[HEADER] {" + std::to_string(bytes) + "}\r\n")
        .Flood(unit, bytes)
        .Send(" RFC822.SIZE 99)\r\n")
        .Send(ImapHeaderFetch(2, 2, 70, kHeader2))
        .Line("a3 OK done");
    TScriptedServer server({s});
    TImapClient client;
    client.MaxHeaderBytes = 1 << 20;
    LogIn(client, server);
    std::vector<TFetched> got;
    const int64_t growth = PeakGrowthBytes([&] { got = FetchAll(client); });
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Info.Fault, THeaderFault::TooLong);
    EXPECT_EQ(got[0].Info.Size, 99) << "items after the cut literal are still read";
    EXPECT_EQ(got[0].Lines.size(), (size_t{1} << 20) / unit.size());
    EXPECT_EQ(got[1].Info.Uid, 2u);
    if (growth >= 0) {
        EXPECT_LT(growth, int64_t{24} << 20);
    }
}

// A server that fails in the middle of the stream: the fetch raises, the
// session is closed, and no message that did not arrive whole is delivered.
struct TFaultRow {
    const char* name;
    TScript tail;  // after the folder's answer and the first message
    std::string message;  // part of the error's text
    int32_t readTimeout;
    int32_t maxResponse;
};

class FetchFault : public ::testing::TestWithParam<TFaultRow> {};

TEST_P(FetchFault, RaisesAndCloses) {
    const TFaultRow& row = GetParam();
    TScript s = ImapLoggedIn();
    s.Expect("a2 EXAMINE \"INBOX\"")
        .Expect(std::string("a3 ") + kFetchLine)
        .Send(ImapFolderAnswer("a2", 3, 7))
        .Send(ImapHeaderFetch(1, 1, 70, kHeader2));
    for (const TScript::TStep& step : row.tail.Steps) s.Steps.push_back(step);
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    client.ReadTimeout = row.readTimeout;
    if (row.maxResponse > 0) client.MaxResponseBytes = row.maxResponse;
    std::vector<uint32_t> uids;
    THeaderList lines;
    const auto started = std::chrono::steady_clock::now();
    try {
        client.ExamineAndFetchHeaders("INBOX", lines, [&](const TImapMessageInfo& info, THeaderList&) {
            uids.push_back(info.Uid);
        });
        FAIL() << "no error";
    } catch (const EMailError& e) {
        EXPECT_NE(std::string(e.what()).find(row.message), std::string::npos) << e.what();
    }
    EXPECT_EQ(uids, std::vector<uint32_t>{1});
    EXPECT_FALSE(client.IsConnected());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
}

const std::string kPartial = "* 2 FETCH (UID 2 BODY[HEADER] {400}\r\nFrom: cut@here\r\n";
const TFaultRow kFaultRows[] = {
    {"dropped_mid_literal", TScript().Send(kPartial).Close(), "Connection Closed Gracefully.", 3000,
     0},
    {"reset_mid_literal", TScript().Send(kPartial).Pause(100).Reset(), "Socket Error # 10054", 3000, 0},
    {"silent_mid_literal", TScript().Send(kPartial).Hold(), "Read Timeout", 300, 0},
    {"silent_before_tagged", TScript().Hold(), "Read Timeout", 300, 0},
    {"bye_then_close", TScript().Line("* BYE Server shutting down.").Close(), "Server shutting down.",
     3000, 0},
    {"overlong_line", TScript().Send("* 2 FETCH (UID 2 X ").Flood(std::string(64, 'y'), 8 << 20),
     "Server answer too long.", 3000, 65536},
    {"garbage_line", TScript().Line("hello there").Hold(), "Unrecognized IMAP response", 3000, 0},
    {"pop3_answer", TScript().Line("+OK whatever").Hold(), "Unexpected IMAP continuation", 3000, 0},
    {"unknown_tag", TScript().Line("zz9 OK what").Hold(), "Unexpected IMAP tag", 3000, 0},
    {"tag_not_yet_sent", TScript().Line("a7 OK early").Hold(), "Unexpected IMAP tag", 3000, 0},
};
INSTANTIATE_TEST_SUITE_P(Rows, FetchFault, ::testing::ValuesIn(kFaultRows), RowName);

TEST(ImapFetch, AntiFreezeRunsWhileTheServerThinks) {
    TScript s = ImapLoggedIn();
    s.Expect("a2 EXAMINE \"INBOX\"")
        .Expect(std::string("a3 ") + kFetchLine)
        .Send(ImapFolderAnswer("a2", 1, 7))
        .Pause(300)
        .Send(ImapHeaderFetch(1, 1, 70, kHeader2))
        .Line("a3 OK done");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    TAntiFreeze freeze;
    freeze.IdleTimeOut = 20;
    int idles = 0;
    freeze.OnIdle = [&] { ++idles; };
    client.AntiFreeze = &freeze;
    EXPECT_EQ(FetchAll(client).size(), 1u);
    EXPECT_GE(idles, 5);
}

TEST(ImapFetch, HandlerThatRaisesEndsTheSession) {
    TScript s = ImapLoggedIn();
    s.Expect("a2 EXAMINE \"INBOX\"")
        .Expect(std::string("a3 ") + kFetchLine)
        .Send(ImapFolderAnswer("a2", 2, 7))
        .Send(ImapHeaderFetch(1, 1, 70, kHeader2))
        .Send(ImapHeaderFetch(2, 2, 70, kHeader2))
        .Line("a3 OK done");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    THeaderList lines;
    EXPECT_THROW(client.ExamineAndFetchHeaders("INBOX", lines,
                                               [](const TImapMessageInfo&, THeaderList&) {
                                                   throw EMailError("stop");
                                               }),
                 EMailError);
    EXPECT_FALSE(client.IsConnected());
}

}  // namespace
}  // namespace kalmuro::test
