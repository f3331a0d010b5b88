// In-process POP3 servers for tests, on 127.0.0.1 at a port the system picks.
//
// TScriptedServer plays fixed conversations, one script per accepted
// connection, byte for byte: what a real server won't do (silence, a close in
// the middle of a line, an over-long line, a reply that is neither +OK nor
// -ERR...). TFakePop3Server is a small but complete POP3 mailbox with fault
// injection, for tests that drive whole check or delete cycles.
//
// Both serve on a background thread; the test drives the client on its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct ssl_st;

namespace kalmuro::test {

// The certificates of scripts/dovecot/make_certs.sh, made once per test
// program in a folder removed at its end: ca.pem, server.crt (localhost and
// 127.0.0.1), server.key and the ip-*.crt of every failure. Raises when
// they cannot be made.
const std::string& TestCertificateDir();
// The SHA-256 fingerprint `openssl x509` prints for a certificate of that
// folder ("AB:CD:...").
std::string OpensslFingerprint(const std::string& certificate);

// One conversation, as the server sees it.
class TScript {
public:
    struct TStep {
        enum TKind { Send, Expect, Read, Pause, Close, Reset, Hold, StartTls, Flood } Kind;
        std::string Text;
        int32_t Ms = 0;
        int64_t Bytes = 0;
    };

    // Sends bytes exactly as given.
    TScript& Send(std::string bytes);
    // Sends text followed by CR LF.
    TScript& Line(std::string text);
    // Reads one line from the client (CR LF or LF stripped); a different
    // line is recorded as a failure.
    TScript& Expect(std::string line);
    // Reads one line, whatever it is.
    TScript& Read();
    TScript& Pause(int32_t ms);
    // Closes the connection (FIN) at once.
    TScript& Close();
    // Closes with a reset (RST).
    TScript& Reset();
    // Sends `unit` over and over, about totalBytes in all, as fast as the
    // client takes it; the client hanging up ends it without a failure.
    TScript& Flood(std::string unit, int64_t totalBytes);
    // Stays silent and keeps the connection until the client closes it or
    // the server stops.
    TScript& Hold();
    // Answers the client's TLS handshake with a certificate of
    // TestCertificateDir() (and server.key); every later step goes through
    // TLS. Close then cuts the session without a close-notify.
    TScript& StartTls(std::string certificate = "server.crt");

    // After the last step the server keeps reading (and recording) lines
    // until the client closes, then closes its side.
    std::vector<TStep> Steps;

private:
    TScript& Add(TStep::TKind kind, std::string text = {}, int32_t ms = 0);
};

// A session up to a successful USER/PASS login as alice (password "secret"),
// the server's last answer being `welcome`.
TScript LoggedIn(const std::string& welcome = "+OK Logged in.");

// What a server answers to CAPA: a refusal, a list without PIPELINING, or
// one with it.
enum class TCapa { Refused, Plain, Pipelining };
// The answer servers give unless told otherwise: Plain, so that scripted
// conversations stay one command at a time; KALMURO_TEST_PIPELINING=1 in the
// environment makes it Pipelining, for a run of every test on that road.
TCapa DefaultCapa();

// A listener thread that hands every accepted connection to Serve().
class TTestServerBase {
public:
    TTestServerBase();
    // CAPA is answered by the server itself at any point of a conversation
    // (a script may still expect it) and is neither recorded nor a failure:
    // conversations read the same whether the client asks it or not.
    std::atomic<TCapa> Capa{DefaultCapa()};
    // The mechanisms of a "SASL" line in the CAPA answer ("XOAUTH2
    // OAUTHBEARER"); empty (the default): no such line.
    void SetCapaSasl(std::string mechanisms);
    // How many times CAPA was asked, over all sessions.
    size_t CapaRequests() const { return FCapaRequests; }
    // How many lines were already waiting, whole, when the line before them
    // was taken: commands the client sent ahead of their answers.
    size_t LinesAhead() const { return FLinesAhead; }
    // When set, the size of both socket buffers of every accepted
    // connection: small buffers fill at once.
    std::atomic<int32_t> SocketBuffer{0};
    virtual ~TTestServerBase();
    TTestServerBase(const TTestServerBase&) = delete;
    TTestServerBase& operator=(const TTestServerBase&) = delete;

    int32_t Port() const { return FPort; }
    // Every line the clients sent, in order, over all sessions.
    std::vector<std::string> Received() const;
    // Lines of one session (0-based, in accept order).
    std::vector<std::string> Received(size_t session) const;
    // Mismatched expectations and other protocol surprises.
    std::vector<std::string> Failures() const;
    // Waits until `count` sessions have ended (client closed or script done
    // and closed). False after timeoutMs.
    bool WaitForSessions(size_t count, int32_t timeoutMs = 5000) const;
    size_t SessionsAccepted() const;
    // Stops accepting, closes every connection and joins the threads.
    void Stop();

protected:
    // Starts the accept thread; derived constructors call it last.
    void Start();
    virtual void Serve(int fd, size_t session) = 0;

    // Helpers for Serve (thread-safe); with tls, through that TLS session.
    bool SendAll(int fd, const std::string& bytes, ssl_st* tls = nullptr);
    // Reads one line (without its CR LF); false when the client closed.
    bool RecvLine(int fd, std::string& line, std::string& pending, ssl_st* tls = nullptr);
    void Record(size_t session, const std::string& line);
    // When line is CAPA: answers it as Capa says and returns true.
    bool AnswerCapa(int fd, const std::string& line, ssl_st* tls = nullptr);
    void Fail(const std::string& what);
    bool Stopping() const { return FStopping; }

private:
    void AcceptLoop();

    int FListen = -1;
    int32_t FPort = 0;
    std::atomic<bool> FStopping{false};
    std::thread FAcceptThread;
    mutable std::mutex FMutex;
    mutable std::condition_variable FChanged;
    std::vector<std::thread> FWorkers;
    std::vector<int> FConnections;
    std::vector<std::pair<size_t, std::string>> FReceived;
    std::vector<std::string> FFailures;
    std::atomic<size_t> FCapaRequests{0};
    mutable std::mutex FSaslMutex;
    std::string FSasl;
    std::atomic<size_t> FLinesAhead{0};
    size_t FAccepted = 0;
    size_t FEnded = 0;
};

// Serves scripts[i] to the i-th connection; later connections are closed at
// once.
class TScriptedServer : public TTestServerBase {
public:
    explicit TScriptedServer(std::vector<TScript> scripts);
    ~TScriptedServer() override;

protected:
    void Serve(int fd, size_t session) override;

private:
    std::vector<TScript> FScripts;
};

// One message of a fake mailbox: its text with CR LF line ends, not stuffed.
struct TFakeMessage {
    std::string Text;
    std::string Uid;
    bool Deleted = false;
};

// A POP3 mailbox: USER/PASS, APOP, STAT, LIST [n], UIDL [n], TOP n k, RETR,
// DELE, RSET, NOOP, QUIT. Deletions become final at QUIT only.
class TFakePop3Server : public TTestServerBase {
public:
    TFakePop3Server(std::string user, std::string password, std::vector<TFakeMessage> messages);
    ~TFakePop3Server() override;

    // The greeting's time stamp, with its angle brackets.
    std::string Timestamp = "<1896.697170952@dbc.mtview.ca.us>";
    // Replaces the answer to one command line (exact, upper-case command as
    // sent, e.g. "UIDL 3") with raw bytes; `close` drops the connection after.
    void Override(const std::string& command, std::string rawReply, bool close = false);
    // How a QUIT after login ends: answered, or the deletions made final
    // and then the answer lost (the connection closed), or never sent (the
    // connection held until the client gives up).
    enum class TQuitEnd { Answer, CommitThenClose, CommitThenHold };
    std::atomic<TQuitEnd> QuitEnd{TQuitEnd::Answer};
    // A server that makes the deletions final whenever a session ends after
    // login, QUIT or not: the worst a client may meet.
    std::atomic<bool> CommitOnClose{false};
    // Answers the command line as usual, then closes the connection.
    void CloseAfter(const std::string& command);
    // Messages left after every committed QUIT.
    std::vector<TFakeMessage> Messages() const;
    // Replaces the mailbox (between sessions).
    void SetMessages(std::vector<TFakeMessage> messages);
    // Takes AUTH XOAUTH2 and OAUTHBEARER for the user with a token this
    // accepts; a refused one gets the JSON error continuation. Set before
    // the first session.
    void AcceptTokens(std::function<bool(const std::string&)> check);

protected:
    void Serve(int fd, size_t session) override;

private:
    struct TOverride {
        std::string Reply;
        bool Close;
    };
    std::string FUser, FPassword;
    std::function<bool(const std::string&)> FTokenCheck;
    mutable std::mutex FBoxMutex;
    std::vector<TFakeMessage> FMessages;
    std::map<std::string, TOverride> FOverrides;
    std::set<std::string> FCloseAfter;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
int32_t RefusedPort();

// A listener whose accept queue is full, so that a connect to it never
// completes: tests the connect time-out without an unroutable address.
class TBlackHoleListener {
public:
    TBlackHoleListener();
    ~TBlackHoleListener();
    TBlackHoleListener(const TBlackHoleListener&) = delete;
    TBlackHoleListener& operator=(const TBlackHoleListener&) = delete;
    int32_t Port() const { return FPort; }

private:
    int FListen = -1;
    int FFiller = -1;
    int32_t FPort = 0;
};

}  // namespace kalmuro::test
