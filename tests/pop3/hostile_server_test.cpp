// Servers that never end an answer, or send lines longer than any sane one:
// memory stays bounded and the session stays in step or is closed.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "helpers.h"
#include "mail/mime/mail_message.h"
#include "mail/pop3/pop3_client.h"
#include "mail/net/session_errors.h"
#include "support/case_name.h"
#include "support/peak_memory.h"

namespace kalmuro::test {
namespace {

using testcase::RowName;

constexpr int64_t kFloodBytes = int64_t{1} << 30;
// What the client may grow by while refusing an endless answer: the 4 MB
// header block, its interpretation and the allocator's slack (sanitizers
// included), far below the gigabyte the server offers.
constexpr int64_t kCeilingBytes = 96 * 1024 * 1024;

struct TEndless {
    const char* name;
    const char* command;
    std::string start;  // the reply's first bytes, before the flood
    std::string unit;   // repeated for ever
    std::function<void(TPop3Client&)> run;
};

class EndlessAnswer : public ::testing::TestWithParam<TEndless> {};

TEST_P(EndlessAnswer, RaisesWithinMemoryCeilingAndCloses) {
    const TEndless& c = GetParam();
    TScript s = LoggedIn();
    s.Expect(c.command).Send(c.start).Flood(c.unit, kFloodBytes);
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.Login();
    std::string error;
    const int64_t growth = PeakGrowthBytes([&] { error = ErrorText([&] { c.run(client); }); });
    if (growth < 0) GTEST_SKIP() << "no peak-memory reset in this kernel";
    EXPECT_EQ(error, "Server answer too long.");
    EXPECT_LT(growth, kCeilingBytes);
    EXPECT_FALSE(client.IsConnected()) << "an unfinished answer leaves the session out of step";
}

INSTANTIATE_TEST_SUITE_P(
    Pop3, EndlessAnswer,
    ::testing::Values(
        TEndless{"top", "TOP 1 0", "+OK\r\n", "X-Filler: " + std::string(70, 'h') + "\r\n",
                 [](TPop3Client& c) {
                     TMailMessage m;
                     c.FetchHeader(1, m);
                 }},
        TEndless{"top_one_endless_line", "TOP 1 0", "+OK\r\nSubject: x\r\nX-Long: ",
                 std::string(1000, 'l'),
                 [](TPop3Client& c) {
                     TMailMessage m;
                     c.FetchHeader(1, m);
                 }},
        TEndless{"retr", "RETR 1", "+OK\r\n", std::string(76, 'b') + "\r\n",
                 [](TPop3Client& c) {
                     std::string text;
                     c.FetchRaw(1, text, RetrieveLimit(5000));
                 }},
        TEndless{"retr_one_endless_line", "RETR 1", "+OK\r\n", std::string(1000, 'b'),
                 [](TPop3Client& c) {
                     std::string text;
                     c.FetchRaw(1, text, RetrieveLimit(5000));
                 }},
        TEndless{"continuation_lines", "STAT", "+OK-\r\n", "+OK-more\r\n",
                 [](TPop3Client& c) { c.CountMessages(); }},
        TEndless{"blank_lines", "STAT", "", "\r\n", [](TPop3Client& c) { c.CountMessages(); }}),
    RowName);

TEST(EndlessAnswer, HeaderFetchKeepsWhatArrived) {
    TScript s = LoggedIn();
    s.Expect("TOP 1 0")
        .Send("+OK\r\nFrom: Anna <anna@example.org>\r\nSubject: ciao\r\n")
        .Flood("X-Filler: zzzz\r\n", kFloodBytes);
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.MaxHeaderBytes = 100000;
    client.Login();
    TMailMessage m;
    EXPECT_THROW(client.FetchHeader(1, m), EAnswerTooLong);
    EXPECT_EQ(m.Subject, "ciao");
    EXPECT_EQ(m.From.Address, "anna@example.org");
    EXPECT_GT(m.HeaderLines.Count(), 1000u);
}

TEST(LongLines, RetrieveTakesLinesOfAnyLength) {
    const std::string body(20000, 'h');
    TScript s = LoggedIn();
    s.Expect("RETR 1")
        .Send("+OK\r\nSubject: html\r\n\r\n.." + body + "\r\n" + body + "\r\nend\r\n.\r\n")
        .Expect("RETR 1")
        .Send("+OK\r\nSubject: html\r\n\r\n" + body + "\r\n.\r\n")
        .Expect("QUIT");
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.Login();
    std::string text;
    ASSERT_TRUE(client.FetchRaw(1, text, RetrieveLimit(40100)));
    EXPECT_EQ(text, "Subject: html\r\n\r\n." + body + "\r\n" + body + "\r\nend\r\n");
    std::vector<std::string> lines;
    ASSERT_TRUE(client.FetchRaw(1, lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"Subject: html", "", body}));
    client.Quit();
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

TEST(LongLines, RetrieveBeyondItsLimitFails) {
    TScript s = LoggedIn();
    s.Expect("RETR 1").Send("+OK\r\n" + std::string(3000, 'x') + "\r\n.\r\n");
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.Login();
    std::string text;
    EXPECT_THROW(client.FetchRaw(1, text, 2000), EAnswerTooLong);
    EXPECT_FALSE(client.IsConnected());
}

TEST(LongLines, HeaderLineFailsOnlyItsMessageAndKeepsTheSessionInStep) {
    const std::string longLine = "X-Long: " + std::string(20000, 'l');
    TScript s = LoggedIn();
    s.Expect("TOP 1 0")
        .Send("+OK\r\nSubject: first\r\n" + longLine + "\r\nX-After: dropped\r\n\r\n.\r\n")
        .Expect("LIST 1")
        .Line("+OK 1 20100")
        .Expect("QUIT");
    TScriptedServer server({s});
    TPop3Client client;
    PointAtAsAlice(client, server.Port());
    client.Login();
    TMailMessage m;
    EXPECT_THROW(client.FetchHeader(1, m), EMaxLineLengthExceeded);
    EXPECT_EQ(m.Subject, "first");
    EXPECT_EQ(m.HeaderLines.Text(), "Subject: first\r\n");
    EXPECT_EQ(client.MessageSize(1), 20100);
    client.Quit();
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

}  // namespace
}  // namespace kalmuro::test
