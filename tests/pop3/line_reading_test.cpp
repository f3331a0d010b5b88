// Lines, replies, captures and work events over a scripted server.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers.h"
#include "mail/net/session_errors.h"
#include "mail/net/tcp_connection.h"

namespace kalmuro::test {
namespace {

const std::string Closed = "Connection Closed Gracefully.";

// Reads lines until an error; returns the lines and the error text.
std::vector<std::string> ReadAll(TTcpConnection& c, std::string& error) {
    std::vector<std::string> lines;
    try {
        for (int i = 0; i < 100; ++i) lines.push_back(c.ReadLine());
        error = "<none>";
    } catch (const std::exception& e) {
        error = e.what();
    }
    return lines;
}

struct TLineCase {
    const char* Name;
    TScript Script;
    std::vector<std::string> Lines;
};

TEST(ReadLine, LineEndsAndClosesTable) {
    const std::vector<TLineCase> cases = {
        {"crlf", TScript().Send("abc\r\n").Close(), {"abc"}},
        {"bare-lf", TScript().Send("abc\n").Close(), {"abc"}},
        {"cr-cr-lf", TScript().Send("abc\r\r\n").Close(), {"abc\r"}},
        {"bare-cr-ends-nothing", TScript().Send("a\rb\r\n").Close(), {"a\rb"}},
        {"empty-lines", TScript().Send("\r\n\n").Close(), {"", ""}},
        {"split-over-packets",
         TScript().Send("ab").Pause(50).Send("c\r").Pause(50).Send("\nd\r\n").Close(),
         {"abc", "d"}},
        {"lines-then-close", TScript().Send("one\r\ntwo\r\n").Close(), {"one", "two"}},
        {"partial-line-then-close", TScript().Send("one\r\ntw").Close(), {"one"}},
        {"nul-byte-kept",
         TScript().Send(std::string("a\0b\r\n", 5)).Close(),
         {std::string("a\0b", 3)}},
    };
    for (const TLineCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedServer server({c.Script});
        TTcpClient client;
        PointAt(client, server.Port());
        client.OpenConnection();
        std::string error;
        EXPECT_EQ(ReadAll(client, error), c.Lines);
        EXPECT_EQ(error, Closed);
        // The same error again: nothing was lost or invented meanwhile.
        EXPECT_EQ(ErrorText([&] { client.ReadLine(); }), Closed);
    }
}

TEST(ReadLine, MaxLineLengthBoundary) {
    const std::string max(16384, 'x');
    // A CR before the LF counts towards the limit.
    TScriptedServer server({TScript()
                                .Send(max + "\n")
                                .Send(std::string(16383, 'y') + "\r\n")
                                .Send(max + "z\n")
                                .Hold()});
    TTcpClient client;
    PointAt(client, server.Port());
    client.OpenConnection();
    EXPECT_EQ(client.ReadLine(), max);
    EXPECT_EQ(client.ReadLine(), std::string(16383, 'y'));
    const size_t buffered = [&] {
        // Wait until the whole over-long line is in the buffer.
        for (int i = 0; i < 200 && client.InputBufferSize() < 16386; ++i)
            client.ReceiveData(true, 20, false);
        return client.InputBufferSize();
    }();
    ASSERT_EQ(buffered, 16386u);
    EXPECT_THROW(client.ReadLine(), EMaxLineLengthExceeded);
    EXPECT_EQ(client.InputBufferSize(), buffered) << "an over-long line consumes nothing";
    EXPECT_EQ(ErrorText([&] { client.ReadLine(); }), "Max line length exceeded.");
}

TEST(ReadLine, OverLongWithoutLineEndRaisesBeforeReadingMore) {
    TScriptedServer server({TScript().Send(std::string(20000, 'a')).Hold()});
    TTcpClient client;
    PointAt(client, server.Port());
    client.OpenConnection();
    EXPECT_THROW(client.ReadLine(), EMaxLineLengthExceeded);
}

TEST(ReadLine, SplitModeCutsAtMaximum) {
    TScriptedServer server({TScript().Send(std::string(10, 'a') + "bc\r\nnext\r\n").Hold()});
    TTcpClient client;
    PointAt(client, server.Port());
    client.MaxLineLength = 10;
    client.MaxLineAction = TMaxLineAction::maSplit;
    client.OpenConnection();
    EXPECT_EQ(client.ReadLine(), std::string(10, 'a'));
    EXPECT_TRUE(client.ReadLnSplit());
    EXPECT_EQ(client.ReadLine(), "bc");
    EXPECT_FALSE(client.ReadLnSplit());
    EXPECT_EQ(client.ReadLine(), "next");
}

TEST(ReadLine, CallerTimeoutReturnsEmptyAndSetsFlag) {
    TScriptedServer server({TScript().Send("par").Hold()});
    TTcpClient client;
    PointAt(client, server.Port());
    client.OpenConnection();
    EXPECT_EQ(client.ReadLine(100), "");
    EXPECT_TRUE(client.ReadLnTimedOut());
    EXPECT_EQ(client.InputBufferSize(), 3u) << "the partial line stays buffered";
}

TEST(ReadLine, ManySmallReceivesAndCompaction) {
    // More than the compaction threshold in lines, received in tiny chunks:
    // every line must come out intact across buffer moves.
    std::string all;
    std::vector<std::string> expected;
    for (int i = 0; i < 900; ++i) {
        std::string line = "line " + std::to_string(i) + " " + std::string(i % 97, 'q');
        expected.push_back(line);
        all += line + "\r\n";
    }
    ASSERT_GT(all.size(), 40000u);
    for (int32_t chunk : {7, 32768}) {
        SCOPED_TRACE(chunk);
        TScriptedServer server({TScript().Send(all).Close()});
        TTcpClient client;
        PointAt(client, server.Port());
        client.RecvBufferSize = chunk;
        client.OpenConnection();
        std::string error;
        EXPECT_EQ(ReadAll(client, error).size(), 100u);  // ReadAll stops at 100
        std::vector<std::string> rest;
        try {
            for (;;) rest.push_back(client.ReadLine());
        } catch (const EConnClosedGracefully&) {
        }
        ASSERT_EQ(rest.size(), expected.size() - 100);
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), expected.begin() + 100));
    }
}

struct TReplyCase {
    const char* Name;
    std::string Bytes;
    int32_t NumericCode;
    std::string TextCode;
    std::vector<std::string> Text;
};

TEST(ReadReply, StatusLinesTable) {
    const std::vector<TReplyCase> cases = {
        {"ok-with-text", "+OK hello there\r\n", 0, "+OK", {"hello there"}},
        {"err-keeps-blank", "-ERR no such\r\n", 0, "-ERR", {" no such"}},
        {"ok-alone", "+OK\r\n", 0, "+OK", {""}},
        {"numeric", "200 fine\r\n", 200, "200", {"fine"}},
        {"blank-lines-first", "\r\n   \r\n\t\r\n+OK x\r\n", 0, "+OK", {"x"}},
        {"trimmed", "  +OK padded  \r\n", 0, "+OK", {"padded"}},
        {"multi-line",
         "250-first\r\n250-second\r\n250 last\r\n",
         250,
         "250",
         {"first", "second", "last"}},
        {"multi-line-ends-on-short", "250-first\r\nok\r\n", 250, "250", {"first", ""}},
    };
    for (const TReplyCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedServer server({TScript().Send(c.Bytes + "SENTINEL\r\n").Hold()});
        TTcpClient client;
        PointAt(client, server.Port());
        client.OpenConnection();
        client.ReadReply();
        EXPECT_EQ(client.LastReply.NumericCode, c.NumericCode);
        EXPECT_EQ(client.LastReply.TextCode, c.TextCode);
        EXPECT_EQ(client.LastReply.Text, c.Text);
        EXPECT_EQ(client.ReadLine(), "SENTINEL") << "the reply consumed too much or too little";
    }
}

TEST(SendCommand, AllowedCodes) {
    TScriptedServer server({TScript()
                                .Expect("ONE")
                                .Line("200 yes")
                                .Expect("TWO")
                                .Line("500 refused")
                                .Line("")
                                .Expect("THREE")
                                .Line("500 any")});
    TTcpClient client;
    PointAt(client, server.Port());
    client.OpenConnection();
    EXPECT_EQ(client.SendCommand("ONE", {200, 201}), 200);
    try {
        client.SendCommand("TWO", {200});
        ADD_FAILURE() << "no error";
    } catch (const EProtocolReplyError& e) {
        EXPECT_EQ(e.ErrorCode, 500);
        EXPECT_STREQ(e.what(), "refused\r\n");
    }
    EXPECT_EQ(client.SendCommand("THREE", {}), 500) << "an empty list accepts every reply";
    client.CloseConnection();
    EXPECT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty());
}

TEST(CaptureLines, TerminatorAndUnstuffing) {
    const std::string answer = "first\r\n. \r\n..\r\n...\r\n.x\r\n\r\n.\r\nafter\r\n";
    struct TCase {
        bool Unstuff;
        std::vector<std::string> Lines;
    };
    for (const TCase& c : {TCase{true, {"pre", "first", ". ", ".", "..", ".x", ""}},
                           TCase{false, {"pre", "first", ". ", "..", "...", ".x", ""}}}) {
        SCOPED_TRACE(c.Unstuff);
        TScriptedServer server({TScript().Send(answer).Hold()});
        TTcpClient client;
        PointAt(client, server.Port());
        client.OpenConnection();
        std::vector<std::string> lines = {"pre"};  // appended to, not replaced
        client.CaptureLines(lines, ".", c.Unstuff);
        EXPECT_EQ(lines, c.Lines);
        EXPECT_EQ(client.ReadLine(), "after");
    }
}

TEST(WorkEvents, CaptureReportsRunningTotalsOnce) {
    TScriptedServer server({TScript().Send("+OK\r\nab\r\ncde\n.\r\n+OK\r\nx\r\n.\r\n").Hold()});
    TTcpClient client;
    PointAt(client, server.Port());
    std::vector<std::string> events;
    client.OnWorkBegin = [&](TTcpConnection&, TWorkMode m, int64_t) {
        events.push_back(m == TWorkMode::wmRead ? "begin" : "begin-write");
    };
    client.OnWork = [&](TTcpConnection&, TWorkMode m, int64_t n) {
        events.push_back((m == TWorkMode::wmRead ? "work " : "write ") + std::to_string(n));
    };
    client.OnWorkEnd = [&](TTcpConnection&, TWorkMode) { events.push_back("end"); };
    client.OpenConnection();
    client.ReadReply();  // outside any work: no event
    std::vector<std::string> lines;
    client.CaptureLines(lines);
    EXPECT_EQ(events, (std::vector<std::string>{"begin", "work 4", "work 8", "work 11", "end"}));

    // Nested work: only the outermost begin and end fire.
    events.clear();
    client.BeginWork(TWorkMode::wmRead);
    client.ReadReply();
    client.CaptureLines(lines);
    client.EndWork(TWorkMode::wmRead);
    EXPECT_EQ(events, (std::vector<std::string>{"begin", "work 5", "work 8", "work 11", "end"}));
}

TEST(WorkEvents, EndedWhenCaptureFails) {
    TScriptedServer server({TScript().Send("line\r\nhalf").Close()});
    TTcpClient client;
    PointAt(client, server.Port());
    int begins = 0, ends = 0;
    client.OnWorkBegin = [&](TTcpConnection&, TWorkMode, int64_t) { ++begins; };
    client.OnWorkEnd = [&](TTcpConnection&, TWorkMode) { ++ends; };
    client.OpenConnection();
    std::vector<std::string> lines;
    EXPECT_THROW(client.CaptureLines(lines), EConnClosedGracefully);
    EXPECT_EQ(lines, std::vector<std::string>{"line"});
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);
    // Depth is back to zero: a new begin fires again.
    client.BeginWork(TWorkMode::wmRead);
    EXPECT_EQ(begins, 2);
    client.EndWork(TWorkMode::wmRead);
}

}  // namespace
}  // namespace kalmuro::test
