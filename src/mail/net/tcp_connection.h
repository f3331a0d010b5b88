// One TCP connection to one server, driven in strict request/reply order on
// the caller's thread: opening with a time-out, the input buffer, lines,
// replies, multi-line captures and reading progress.
//
// Everything the server sends is untrusted: lines are bounded by
// MaxLineLength, and nothing read is ever interpreted beyond the reply code.
#pragma once

#include <cstddef>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kalmuro {

class TTlsTransport;

enum class TWorkMode { wmRead, wmWrite };
enum class TMaxLineAction { maException, maSplit };

// The last reply read: NumericCode (1 = +OK, 2 = -ERR on a POP3 session),
// TextCode and the text lines (status line from its fifth character on).
class TServerReply {
public:
    int32_t NumericCode = 0;
    std::string TextCode;
    std::vector<std::string> Text;

    void Clear();
    // Every text line followed by CR LF: the message of a refused reply.
    std::string TextAsString() const;
};

// Keeps the user interface alive while a connection waits: while Active, every
// wait for data is cut into slices of at most IdleTimeOut ms and OnIdle runs
// after each slice that saw no data; the timed connect runs it between its
// steps too. It acts only on the thread that created it.
class TAntiFreeze {
public:
    TAntiFreeze();
    bool Active = true;
    int32_t IdleTimeOut = 250;
    std::function<void()> OnIdle;

    // True when a wait should be sliced for this hook on the calling thread.
    bool Engaged() const;
    // Runs OnIdle when engaged.
    void DoIdle() const;

private:
    std::thread::id Owner;
};

class TTcpConnection {
public:
    TTcpConnection();
    virtual ~TTcpConnection();
    TTcpConnection(const TTcpConnection&) = delete;
    TTcpConnection& operator=(const TTcpConnection&) = delete;

    // Longest wait for more received data in ms; 0 = no limit.
    int32_t ReadTimeout = 0;
    // Largest chunk taken from the socket by one receive call.
    int32_t RecvBufferSize = 32768;
    int32_t SendBufferSize = 32768;
    // When above 0, the socket's own send buffer in bytes instead of the
    // system's growing one: lets tests fill it at once.
    int32_t SocketSendBuffer = 0;
    // Longest line ReadLine accepts (0 = no limit) and what a longer one causes.
    int32_t MaxLineLength = 16384;
    TMaxLineAction MaxLineAction = TMaxLineAction::maException;
    // Most bytes one reply may take, blank lines and continuation lines
    // included: a server that never ends its reply cannot grow us without
    // limit. Beyond it the reply raises and the connection is closed.
    int64_t MaxReplyBytes = 65536;

    // The anti-freeze serving this connection (not owned); none by default.
    TAntiFreeze* AntiFreeze = nullptr;

    std::function<void(TTcpConnection&, TWorkMode, int64_t countMax)> OnWorkBegin;
    std::function<void(TTcpConnection&, TWorkMode, int64_t count)> OnWork;
    std::function<void(TTcpConnection&, TWorkMode)> OnWorkEnd;
    std::function<void(TTcpConnection&)> OnDisconnected;

    // The last reply read; survives closing and reopening.
    TServerReply LastReply;

    // Certificate authorities to trust instead of the system's (a PEM file);
    // empty for the system's.
    std::string TlsCaFile;
    // Asked after every idle slice of a TLS handshake: true ends it.
    std::function<bool()> OnStopRequested;

    // Turns the open connection into a TLS session: the handshake (each wait
    // bounded by ReadTimeout and sliced for the anti-freeze), then the
    // certificate, verified for serverName or equal to the accepted
    // fingerprint. On any failure the connection is closed and ETlsError
    // (ECertificateError for the certificate), EReadTimeout or a socket
    // error is raised. Everything read and sent afterwards goes through TLS.
    void StartTls(const std::string& serverName, const std::string& accepted = std::string());
    bool TlsActive() const { return FTls != nullptr; }
    // The protocol and cipher of the TLS session ("TLSv1.3 TLS_AES_..."), or
    // empty without one.
    std::string TlsSessionText() const;

    // True while a socket is allocated; notices (and completes) a close by
    // the peer first, without raising.
    bool IsConnected();
    // Receives once into the input buffer (see the .cpp for the contract).
    // timeout -1 = ReadTimeout. Returns the byte count, 0 after a close,
    // -1 on a time-out that does not raise.
    int32_t ReceiveData(bool raiseWhenDisconnected = true, int32_t timeout = -1,
                        bool raiseOnTimeout = true);
    // Sends text followed by CR LF (after any output queued before it), as
    // Flush does: each wait bounded by ReadTimeout and sliced for the
    // anti-freeze.
    void SendLine(std::string_view text);
    // Output written ahead of the answers. QueueLine appends text and CR LF
    // to what is still to go out and returns its mark: the count of bytes
    // queued on this connection up to its end. Flush sends what the socket
    // takes without waiting, and waits only while the bytes up to `mark`
    // are not all out (each wait bounded by ReadTimeout and sliced for the
    // anti-freeze), taking in whatever arrives meanwhile: a write never
    // blocks while answers wait to be read, so neither side can stall the
    // other on full buffers. Every receive also sends what it can first.
    uint64_t QueueLine(std::string_view text);
    void Flush(uint64_t mark = 0);
    // Bytes queued and not yet handed to the socket.
    size_t PendingOutput() const { return FOutput.size() - FOutputPos; }
    // Closes the socket; raises nothing. Keeps LastReply and the buffer.
    virtual void CloseConnection();

    // The next line without its LF and a CR right before it.
    std::string ReadLine(int32_t timeout = -1, int32_t maximum = -1);
    // The same line without a copy of its own: valid until the next read.
    std::string_view ReadLineView(int32_t timeout = -1, int32_t maximum = -1);
    // Whether the last ReadLine cut its line at the maximum (maSplit) or
    // ended by a caller-given time-out.
    bool ReadLnSplit() const { return FReadLnSplit; }
    bool ReadLnTimedOut() const { return FReadLnTimedOut; }

    // Reads one reply (blank lines skipped) into LastReply.
    void ReadReply();
    // Reads a reply through the protocol's wrapper and checks its code:
    // an empty list accepts every reply. Returns the numeric code.
    int32_t GetResponse(std::initializer_list<int32_t> allowed);
    // SendLine, then GetResponse.
    int32_t SendCommand(std::string_view line, std::initializer_list<int32_t> allowed);
    // Appends lines up to the terminator line (exact match) to the list;
    // with unstuff a leading ".." loses one dot.
    void CaptureLines(std::vector<std::string>& lines, std::string_view terminator = ".",
                      bool unstuff = true);
    // Appends a dot-terminated answer to text as one block: every line
    // dot-unstuffed and followed by CR LF, lines of any length. Over maximum
    // bytes of text the connection is closed (the rest of the answer can no
    // longer be told from the next reply) and EAnswerTooLong is raised.
    void CaptureText(std::string& text, int64_t maximum);
    // Consumes everything up to and including the next LF. False when more
    // than maximum bytes went by without one (those are consumed).
    bool DiscardLine(int64_t maximum);
    // Bytes consumed from the input buffer since the connection object was
    // made: what a reading step took, whatever it kept.
    uint64_t ConsumedBytes() const { return FConsumedTotal; }

    // Reading progress, nested per mode.
    void BeginWork(TWorkMode mode, int64_t countMax = 0);
    void DoWork(TWorkMode mode, int64_t count);
    void EndWork(TWorkMode mode);

    // Bytes received and not yet consumed.
    size_t InputBufferSize() const { return FInputEnd - FInputPos; }
    // Whether the peer has closed its side (or this side closed).
    bool ClosedGracefully() const { return FClosedGracefully; }

protected:
    // Gives LastReply its protocol meaning after ReadReply; returns NumericCode.
    virtual int32_t ReadResponse();
    // Opens a connection to an IPv4 address already resolved.
    void Connect(const std::string& address, int32_t port, int32_t timeout);
    // The disconnect check: closes the socket once the peer has closed, and
    // raises "Connection Closed Gracefully." when asked to and the buffer
    // holds nothing (or ignoreBuffer).
    void CheckForDisconnect(bool raise, bool ignoreBuffer);
    // Consumes n bytes of the input buffer and reports read progress.
    void Consume(size_t n);
    // Appends bytes to the input buffer as if received: lets tests and the
    // fuzzer drive the line and reply reading without a socket.
    void AppendInput(std::string_view bytes);
    // The bytes received and not yet consumed, valid until the next read or
    // Consume: lets a protocol read framing of its own (counted literals).
    std::string_view InputView() const {
        return std::string_view(FInput.data() + FInputPos, FInputEnd - FInputPos);
    }

private:
    void CloseSocket();
    // The 1-based position of the first LF in the unread bytes, searching
    // from `searched` on (bytes before it were searched already); 0 if none.
    size_t FindLineEnd(size_t searched) const;
    // One receive of raw bytes, through TLS once it is up; as recv, with a
    // TLS session that ended without close-notify reading as a close and
    // marking the connection lost.
    ssize_t RawReceive(char* buffer, size_t size, bool dontWait);
    // One send of queued output without waiting: true when bytes went out.
    // A failed send raises when asked to; otherwise the output stays for a
    // Flush that needs it to raise.
    bool SendQueued(bool raise);
    void DropOutput();
    void TimedConnect(const void* addr, int32_t timeout);
    enum class TWait { Ready, TimedOut, Closed };
    TWait WaitFor(short events, int32_t timeout);
    void NoticePeerClose();
    // Sets the socket's receive time-out (0 = none) when it differs.
    void SetReceiveTimeout(int32_t ms);

    int FSocket = -1;
    bool FHandler = false;
    bool FClosedGracefully = false;
    std::unique_ptr<TTlsTransport> FTls;
    // The TLS session was cut (no close-notify) or failed: a read that needs
    // more than the buffer holds is a lost connection, not an orderly end.
    bool FLost = false;
    // The input buffer: bytes [FInputPos, FInputEnd) of FInput are unread;
    // FInput only grows, so appending never zero-fills twice.
    std::vector<char> FInput;
    size_t FInputPos = 0;
    size_t FInputEnd = 0;
    int32_t FReceiveTimeout = 0;
    // The last line read, kept for ReadLineView: one buffer for all lines.
    std::string FLine;
    bool FReadLnSplit = false;
    bool FReadLnTimedOut = false;
    uint64_t FConsumedTotal = 0;
    // Output still to go: bytes [FOutputPos, end) of FOutput; the totals
    // queued and sent since the connection opened give the marks.
    std::string FOutput;
    size_t FOutputPos = 0;
    uint64_t FQueuedTotal = 0;
    uint64_t FSentTotal = 0;
    int32_t FWorkDepth[2] = {0, 0};
    int64_t FWorkTotal[2] = {0, 0};

public:
    // The addresses the socket reports after connecting.
    std::string LocalAddress, PeerAddress;
    int32_t LocalPort = 0, PeerPort = 0;
};

// Adds the server and its opening to the connection.
class TTcpClient : public TTcpConnection {
public:
    std::string Host;
    int32_t Port = 0;

    // Resolves Host and connects; timeout in ms (-1 or 0: see the .cpp).
    void OpenConnection(int32_t timeout = -1);
};

// "LOCALHOST" (any case) becomes 127.0.0.1, a dotted address stays as it is,
// any other name is looked up. Raises ESocketError (11001) on failure.
std::string ResolveHost(const std::string& host);
// Four parts cut at the first three dots, each a decimal 0..255.
bool IsDottedAddress(std::string_view text);

}  // namespace kalmuro
