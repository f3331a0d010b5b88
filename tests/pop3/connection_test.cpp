// Opening, waiting, the idle hook and closing of a TCP connection.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "helpers.h"
#include "mail/net/session_errors.h"
#include "mail/net/tcp_connection.h"

namespace kalmuro::test {
namespace {

using Clock = std::chrono::steady_clock;

TEST(SocketErrors, TextsAndMessages) {
    struct TCase {
        int32_t Number;
        const char* Message;
    };
    for (const TCase& c : {
             TCase{10061, "Socket Error # 10061\r\nConnection refused."},
             TCase{10035, "Socket Error # 10035\r\nOperation would block. "},  // trailing blank
             TCase{10066, "Socket Error # 10066\r\nDirectory not empty"},      // no full stop
             TCase{11001, "Socket Error # 11001\r\nHost not found."},
             TCase{10000, "Socket Error # 10000\r\n"},  // not in the table
         }) {
        EXPECT_EQ(SocketErrorMessage(c.Number), c.Message);
        EXPECT_EQ(ESocketError(c.Number).what(), std::string(c.Message));
    }
}

TEST(SocketErrors, ErrnoMapsToWindowsNumbers) {
    struct TCase {
        int Errno;
        int32_t Number;
    };
    for (const TCase& c :
         {TCase{ECONNREFUSED, 10061}, TCase{ECONNRESET, 10054}, TCase{ETIMEDOUT, 10060},
          TCase{EHOSTUNREACH, 10065}, TCase{ENETUNREACH, 10051}, TCase{EADDRINUSE, 10048},
          TCase{ECONNABORTED, 10053}, TCase{EPIPE, 10058}, TCase{EAGAIN, 10035},
          TCase{ENOENT, ENOENT}}) {
        SCOPED_TRACE(c.Errno);
        EXPECT_EQ(WinsockErrorFromErrno(c.Errno), c.Number);
    }
}

TEST(Resolve, DottedAddressTable) {
    struct TCase {
        const char* Text;
        bool Dotted;
    };
    for (const TCase& c :
         {TCase{"127.0.0.1", true}, TCase{"001.002.003.004", true}, TCase{"255.255.255.255", true},
          TCase{"256.0.0.1", false}, TCase{"1.2.3", false}, TCase{"1.2.3.4.5", false},
          TCase{"1..2.3", false}, TCase{"a.b.c.d", false}, TCase{"1.2.3.-4", false},
          TCase{" 1.2.3.4", false}, TCase{"1.2.3.", false}, TCase{"", false},
          TCase{"99999999999.1.1.1", false}}) {
        EXPECT_EQ(IsDottedAddress(c.Text), c.Dotted) << c.Text;
    }
}

TEST(Resolve, NamesAndFailures) {
    EXPECT_EQ(ResolveHost("LOCALHOST"), "127.0.0.1");
    EXPECT_EQ(ResolveHost("LocalHost"), "127.0.0.1");
    EXPECT_EQ(ResolveHost("010.0.0.1"), "010.0.0.1");
    try {
        ResolveHost("no-such-host.invalid");
        ADD_FAILURE() << "no error";
    } catch (const ESocketError& e) {
        EXPECT_EQ(e.LastError, 11001);
        EXPECT_STREQ(e.what(), "Socket Error # 11001\r\nHost not found.");
    }
}

TEST(Connect, LeadingZerosAreDecimal) {
    TScriptedServer server({TScript().Line("+OK hi")});
    TTcpClient client;
    PointAt(client, server.Port());
    client.Host = "127.000.000.001";
    client.OpenConnection(2000);
    EXPECT_EQ(client.PeerAddress, "127.0.0.1");
    EXPECT_EQ(client.PeerPort, server.Port());
    EXPECT_EQ(client.ReadLine(), "+OK hi");
}

TEST(Connect, RefusedTable) {
    // The timed connect reports the refusal as EConnectError, the blocking
    // one as ESocketError; both carry the socket error message.
    const std::string refused = "Socket Error # 10061\r\nConnection refused.";
    for (int32_t timeout : {1000, 0, -1}) {
        SCOPED_TRACE(timeout);
        TTcpClient client;
        PointAt(client, RefusedPort());
        try {
            client.OpenConnection(timeout);
            ADD_FAILURE() << "connected";
        } catch (const EConnectError& e) {
            EXPECT_EQ(timeout, 1000);
            EXPECT_EQ(e.what(), refused);
        } catch (const ESocketError& e) {
            EXPECT_NE(timeout, 1000);
            EXPECT_EQ(e.LastError, 10061);
            EXPECT_EQ(e.what(), refused);
        }
        EXPECT_FALSE(client.IsConnected());
    }
}

TEST(Connect, NeverAcceptedTimesOutAndPumps) {
    TBlackHoleListener hole;
    TAntiFreeze freeze;
    int idles = 0;
    freeze.OnIdle = [&] { ++idles; };
    TTcpClient client;
    PointAt(client, hole.Port());
    client.AntiFreeze = &freeze;
    const auto start = Clock::now();
    EXPECT_EQ(ErrorText([&] { client.OpenConnection(600); }), "Connect timed out.");
    const int64_t ms = ElapsedMs(start);
    EXPECT_GE(ms, 600);
    EXPECT_LT(ms, 2000);
    EXPECT_GE(idles, 3) << "the hook runs between the connect steps";
    EXPECT_FALSE(client.IsConnected());
}

TEST(Connect, ActiveHookLimitsAnUnboundedConnect) {
    // With the hook active even "no time-out" gets the timed connect, so the
    // hook keeps running while a server never answers; the hook gives up here.
    TBlackHoleListener hole;
    TAntiFreeze freeze;
    freeze.IdleTimeOut = 20;
    int idles = 0;
    TTcpClient client;
    freeze.OnIdle = [&] {
        if (++idles == 10) client.CloseConnection();
    };
    PointAt(client, hole.Port());
    client.AntiFreeze = &freeze;
    EXPECT_THROW(client.OpenConnection(0), EConnectTimeout);
    EXPECT_GE(idles, 10);
}

TEST(Connect, AlreadyConnected) {
    TScriptedServer server({TScript().Hold()});
    TTcpClient client;
    PointAt(client, server.Port());
    client.OpenConnection();
    EXPECT_EQ(ErrorText([&] { client.OpenConnection(); }), "Already connected.");
    EXPECT_TRUE(client.IsConnected()) << "the open connection is untouched";
}

TEST(Read, TimeoutWithAndWithoutHook) {
    struct TCase {
        const char* Name;
        bool Hook;
        bool Active;
        int MinIdles, MaxIdles;
    };
    for (const TCase& c :
         {TCase{"no-hook", false, false, 0, 0}, TCase{"inactive", true, false, 0, 0},
          TCase{"active", true, true, 2, 4}}) {
        SCOPED_TRACE(c.Name);
        TScriptedServer server({TScript().Line("+OK").Hold()});
        TAntiFreeze freeze;
        freeze.Active = c.Active;
        int idles = 0;
        freeze.OnIdle = [&] { ++idles; };
        TTcpClient client;
        PointAt(client, server.Port());
        client.ReadTimeout = 700;
        if (c.Hook) client.AntiFreeze = &freeze;
        client.OpenConnection();
        EXPECT_EQ(client.ReadLine(), "+OK");
        const auto start = Clock::now();
        EXPECT_EQ(ErrorText([&] { client.ReadLine(); }), "Read Timeout");
        EXPECT_GE(ElapsedMs(start), 690);
        EXPECT_GE(idles, c.MinIdles);
        EXPECT_LE(idles, c.MaxIdles);
        EXPECT_TRUE(client.IsConnected()) << "a time-out leaves the socket open";
    }
}

TEST(Read, UnlimitedWaitPumpsUntilDataArrives) {
    TScriptedServer server({TScript().Pause(400).Line("+OK late")});
    TAntiFreeze freeze;
    freeze.IdleTimeOut = 50;
    int idles = 0;
    freeze.OnIdle = [&] { ++idles; };
    TTcpClient client;
    PointAt(client, server.Port());
    client.ReadTimeout = 0;
    client.AntiFreeze = &freeze;
    client.OpenConnection();
    EXPECT_EQ(client.ReadLine(), "+OK late");
    EXPECT_GE(idles, 4);
}

TEST(Read, HookThatClosesEndsAnUnlimitedWait) {
    TScriptedServer server({TScript().Hold()});
    TAntiFreeze freeze;
    freeze.IdleTimeOut = 10;
    TTcpClient client;
    int idles = 0;
    freeze.OnIdle = [&] {
        if (++idles == 5) client.CloseConnection();
    };
    PointAt(client, server.Port());
    client.ReadTimeout = 0;
    client.AntiFreeze = &freeze;
    client.OpenConnection();
    EXPECT_EQ(ErrorText([&] { client.ReadLine(); }), "Not Connected");
    EXPECT_EQ(idles, 5);
}

TEST(Read, HookOfAnotherThreadIsNotRun) {
    TScriptedServer server({TScript().Hold()});
    TAntiFreeze* freeze = nullptr;
    std::thread([&] { freeze = new TAntiFreeze; }).join();
    std::unique_ptr<TAntiFreeze> owner(freeze);
    int idles = 0;
    freeze->IdleTimeOut = 10;
    freeze->OnIdle = [&] { ++idles; };
    TTcpClient client;
    PointAt(client, server.Port());
    client.ReadTimeout = 200;
    client.AntiFreeze = freeze;
    client.OpenConnection();
    EXPECT_THROW(client.ReadLine(), EReadTimeout);
    EXPECT_EQ(idles, 0);
}

TEST(Disconnect, PeerCloseNoticedByIsConnected) {
    TScriptedServer server({TScript().Line("+OK bye").Line("tail").Close()});
    TTcpClient client;
    PointAt(client, server.Port());
    int disconnects = 0;
    client.OnDisconnected = [&](TTcpConnection&) { ++disconnects; };
    client.OpenConnection();
    EXPECT_EQ(client.ReadLine(), "+OK bye");
    bool connected = true;
    for (int i = 0; i < 200 && connected; ++i) {
        connected = client.IsConnected();
        if (connected) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(connected);
    EXPECT_EQ(disconnects, 1);
    EXPECT_TRUE(client.ClosedGracefully());
    // Bytes that arrived before the close are still readable.
    EXPECT_EQ(client.ReadLine(), "tail");
    EXPECT_EQ(ErrorText([&] { client.ReadLine(); }), "Connection Closed Gracefully.");
    EXPECT_EQ(ErrorText([&] { client.SendLine("NOOP"); }), "Connection Closed Gracefully.");
}

TEST(Disconnect, NotConnectedBeforeOpenAndAfterClose) {
    TTcpClient client;
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(ErrorText([&] { client.ReadLine(); }), "Not Connected");
    EXPECT_EQ(ErrorText([&] { client.SendLine("X"); }), "Not Connected");
    TScriptedServer server({TScript().Line("+OK")});
    PointAt(client, server.Port());
    client.OpenConnection();
    client.CloseConnection();
    EXPECT_FALSE(client.IsConnected());
    EXPECT_EQ(ErrorText([&] { client.ReadLine(); }), "Not Connected");
    client.CloseConnection();  // twice is harmless
}

// A peer that stops reading cannot hold a write for ever: the command waits
// as a read would, up to ReadTimeout, and then fails.
TEST(SendLine, APeerThatStopsReadingTimesOut) {
    TScriptedServer server({TScript().Line("+OK").Pause(3000)});
    TTcpClient client;
    PointAt(client, server.Port());
    client.SocketSendBuffer = 4096;
    client.OpenConnection();
    EXPECT_EQ(client.ReadLine(), "+OK");
    client.ReadTimeout = 300;
    const std::string line(1000, 'x');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(
        {
            for (int i = 0; i < 100000; ++i) client.SendLine(line);
        },
        EReadTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
}

TEST(Disconnect, ResetByPeerIsASocketError) {
    TScriptedServer server({TScript().Expect("HELLO").Reset()});
    TTcpClient client;
    PointAt(client, server.Port());
    client.OpenConnection();
    client.SendLine("HELLO");
    ASSERT_TRUE(server.WaitForSessions(1));
    try {
        client.ReadLine();
        ADD_FAILURE() << "no error";
    } catch (const ESocketError& e) {
        EXPECT_EQ(e.LastError, 10054);
        EXPECT_STREQ(e.what(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
}

TEST(Reply, LastReplySurvivesCloseAndFailedOpen) {
    TScriptedServer server({TScript().Line("+OK first session")});
    TTcpClient client;
    PointAt(client, server.Port());
    client.OpenConnection();
    client.ReadReply();
    client.CloseConnection();
    client.Port = RefusedPort();
    EXPECT_THROW(client.OpenConnection(500), EConnectError);
    EXPECT_EQ(client.LastReply.Text, std::vector<std::string>{"first session"});
    EXPECT_EQ(client.LastReply.TextCode, "+OK");
}

TEST(Reply, OpeningEmptiesTheInputBuffer) {
    TScriptedServer server({TScript().Send("+OK one\r\nleftover\r\n"), TScript().Line("+OK two")});
    TTcpClient client;
    PointAt(client, server.Port());
    client.OpenConnection();
    EXPECT_EQ(client.ReadLine(), "+OK one");
    // Make sure the leftover line is buffered before closing.
    for (int i = 0; i < 100 && client.InputBufferSize() == 0; ++i)
        client.ReceiveData(true, 10, false);
    ASSERT_GT(client.InputBufferSize(), 0u);
    client.CloseConnection();
    client.OpenConnection();
    EXPECT_EQ(client.ReadLine(), "+OK two");
}

}  // namespace
}  // namespace kalmuro::test
