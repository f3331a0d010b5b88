#include "mail/net/tcp_connection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "mail/net/session_errors.h"
#include "mail/net/tls_transport.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

// Consumed bytes are moved out of the input buffer once this many gathered.
constexpr size_t CompactThreshold = 32768;

[[noreturn]] void RaiseSocketError(int err) {
    const int32_t number = WinsockErrorFromErrno(err);
    if (!SocketErrorText(number).empty()) throw ESocketError(number);
    throw ESocketError(number, std::strerror(err));
}

std::string SocketErrorMessageFromErrno(int err) {
    const int32_t number = WinsockErrorFromErrno(err);
    if (!SocketErrorText(number).empty()) return SocketErrorMessage(number);
    return "Socket Error # " + std::to_string(number) + "\r\n" + std::strerror(err);
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Parses a dotted address into network order; false when it is not one.
bool ParseDotted(std::string_view text, uint32_t& address) {
    uint32_t result = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        size_t end = part < 3 ? text.find('.', start) : text.size();
        if (end == std::string_view::npos) return false;
        std::string_view digits = text.substr(start, end - start);
        if (digits.empty()) return false;
        uint32_t value = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return false;
            value = value * 10 + static_cast<uint32_t>(c - '0');
            if (value > 255) return false;
        }
        result = (result << 8) | value;
        start = end + 1;
    }
    address = htonl(result);
    return true;
}

std::string AddressText(const sockaddr_in& a) {
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a.sin_addr, buf, sizeof buf);
    return buf;
}

}  // namespace

// ---------------------------------------------------------------- replies

void TServerReply::Clear() {
    NumericCode = 0;
    TextCode.clear();
    Text.clear();
}

std::string TServerReply::TextAsString() const {
    std::string r;
    for (const std::string& line : Text) {
        r += line;
        r += "\r\n";
    }
    return r;
}

// ---------------------------------------------------------------- anti-freeze

TAntiFreeze::TAntiFreeze() : Owner(std::this_thread::get_id()) {}

bool TAntiFreeze::Engaged() const { return Active && std::this_thread::get_id() == Owner; }

void TAntiFreeze::DoIdle() const {
    if (Engaged() && OnIdle) OnIdle();
}

// ---------------------------------------------------------------- addresses

bool IsDottedAddress(std::string_view text) {
    uint32_t address;
    return ParseDotted(text, address);
}

std::string ResolveHost(const std::string& host) {
    if (SameText(host, "LOCALHOST")) return "127.0.0.1";
    if (IsDottedAddress(host)) return host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        if (found) freeaddrinfo(found);
        // Every lookup failure reads as an unknown host to the user.
        throw ESocketError(11001);
    }
    std::string text = AddressText(*reinterpret_cast<const sockaddr_in*>(found->ai_addr));
    freeaddrinfo(found);
    return text;
}

// ---------------------------------------------------------------- connection

TTcpConnection::TTcpConnection() = default;

TTcpConnection::~TTcpConnection() { CloseSocket(); }

void TTcpConnection::CloseSocket() {
    DropOutput();
    if (FTls) {
        FTls->Shutdown();
        FTls.reset();
    }
    if (FSocket >= 0) {
        shutdown(FSocket, SHUT_WR);
        close(FSocket);
        FSocket = -1;
    }
}

void TTcpConnection::CloseConnection() {
    FClosedGracefully = true;
    CloseSocket();
    FHandler = false;
    if (OnDisconnected) OnDisconnected(*this);
}

// A close by the peer is only seen by a read; this looks without waiting. Any
// bytes the peer sent before closing are moved into the input buffer first,
// so that they stay readable after the socket is closed.
void TTcpConnection::NoticePeerClose() {
    if (FSocket < 0 || FClosedGracefully) return;
    pollfd p{FSocket, POLLIN | POLLRDHUP, 0};
    if (poll(&p, 1, 0) <= 0) return;
    if (!(p.revents & (POLLRDHUP | POLLHUP | POLLERR))) return;
    for (;;) {
        if (FInput.size() < FInputEnd + 4096) FInput.resize(FInputEnd + 4096);
        const ssize_t n = RawReceive(FInput.data() + FInputEnd, 4096, true);
        if (n > 0) {
            FInputEnd += static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            FClosedGracefully = true;
        else if (errno == EINTR)
            continue;
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            FClosedGracefully = true;
        return;
    }
}

bool TTcpConnection::IsConnected() {
    NoticePeerClose();
    CheckForDisconnect(false, false);
    return FHandler && FSocket >= 0;
}

void TTcpConnection::CheckForDisconnect(bool raise, bool ignoreBuffer) {
    bool disconnected;
    if (FClosedGracefully || !FHandler) {
        if (FHandler && FSocket >= 0) {
            CloseSocket();
            if (OnDisconnected) OnDisconnected(*this);
        }
        disconnected = FHandler;
    } else {
        disconnected = FSocket < 0;
    }
    if (disconnected && raise && (InputBufferSize() == 0 || ignoreBuffer)) {
        if (FLost) throw ESocketError(10054);
        throw EConnClosedGracefully();
    }
}

// Waits up to timeout ms (negative: no limit) for the socket to become ready.
TTcpConnection::TWait TTcpConnection::WaitFor(short events, int32_t timeout) {
    int64_t remaining = timeout;
    for (;;) {
        if (FSocket < 0) return TWait::Closed;  // the hook closed us
        pollfd p{FSocket, events, 0};
        const int64_t started = NowMs();
        const int rc = poll(&p, 1, remaining < 0 ? -1 : static_cast<int>(remaining));
        if (rc > 0) return TWait::Ready;
        if (rc < 0 && errno != EINTR) RaiseSocketError(errno);
        if (remaining >= 0) remaining = std::max<int64_t>(0, remaining - (NowMs() - started));
        if (remaining == 0) return TWait::TimedOut;
    }
}

// The wait for data is the receive call itself, bounded by the socket's
// receive time-out: one system call per chunk on the hot road. With an engaged
// anti-freeze each call waits one slice at most and the hook runs after every
// slice that brought nothing; only time spent waiting counts against the
// time-out, not the time the hook takes.
int32_t TTcpConnection::ReceiveData(bool raiseWhenDisconnected, int32_t timeout,
                                    bool raiseOnTimeout) {
    if (timeout == -1) timeout = ReadTimeout == 0 ? -2 : ReadTimeout;
    CheckForDisconnect(raiseWhenDisconnected, false);
    if (!(FHandler && FSocket >= 0)) {
        if (raiseWhenDisconnected) throw ENotConnected();
        return 0;
    }
    // Commands queued ahead keep going out while their answers come in.
    while (PendingOutput() > 0 && SendQueued(false)) {
    }
    const size_t chunk = static_cast<size_t>(std::max<int32_t>(1, RecvBufferSize));
    const bool sliced = AntiFreeze != nullptr && AntiFreeze->Engaged();
    const int64_t slice = sliced ? std::max<int32_t>(1, AntiFreeze->IdleTimeOut) : 0;
    int64_t remaining = timeout < 0 ? -1 : timeout;
    int32_t count = 0;
    do {
        if (FInput.size() < FInputEnd + chunk) FInput.resize(FInputEnd + chunk);
        const bool justLook = remaining == 0;
        if (!justLook) {
            int64_t wait = remaining < 0 ? slice : remaining;  // 0: no limit
            if (sliced && wait > slice) wait = slice;
            SetReceiveTimeout(static_cast<int32_t>(wait));
        }
        const int64_t started = remaining > 0 ? NowMs() : 0;
        ssize_t n = RawReceive(FInput.data() + FInputEnd, chunk, justLook);
        if (n < 0) {
            const int err = errno;
            if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) {
                if (remaining > 0)
                    remaining = std::max<int64_t>(0, remaining - (NowMs() - started));
                if (err == EINTR) continue;
                if (sliced) {
                    AntiFreeze->DoIdle();
                    if (FSocket < 0) {  // the hook closed the connection
                        if (raiseWhenDisconnected) throw ENotConnected();
                        return 0;
                    }
                }
                if (remaining == 0) {
                    if (raiseOnTimeout) throw EReadTimeout();
                    return -1;
                }
                continue;
            }
            FClosedGracefully = false;
            const int32_t number = WinsockErrorFromErrno(err);
            if (number == 10058 || number == 10053) {
                CloseSocket();
                if (InputBufferSize() == 0) throw ESocketError(number);
                n = 0;
            } else {
                RaiseSocketError(err);
            }
        } else {
            FClosedGracefully = n == 0;
        }
        FInputEnd += static_cast<size_t>(n);
        count = static_cast<int32_t>(n);
        CheckForDisconnect(raiseWhenDisconnected, false);
    } while (count == 0 && FHandler && FSocket >= 0);
    return count;
}

ssize_t TTcpConnection::RawReceive(char* buffer, size_t size, bool dontWait) {
    if (FTls) return FTls->Read(buffer, size, dontWait, FLost);
    return recv(FSocket, buffer, size, dontWait ? MSG_DONTWAIT : 0);
}

void TTcpConnection::DropOutput() {
    FOutput.clear();
    FOutputPos = 0;
}

bool TTcpConnection::SendQueued(bool raise) {
    const size_t left = PendingOutput();
    if (left == 0 || FSocket < 0) return false;
    const char* data = FOutput.data() + FOutputPos;
    const ssize_t n = FTls ? FTls->Write(data, left, true)
                           : send(FSocket, data, left, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) {
        const int err = n < 0 ? errno : EPIPE;
        if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR || !raise) return false;
        const int32_t number = WinsockErrorFromErrno(err);
        if (number == 10058 || number == 10053 || number == 10054) CloseSocket();
        RaiseSocketError(err);
    }
    FOutputPos += static_cast<size_t>(n);
    FSentTotal += static_cast<uint64_t>(n);
    if (FOutputPos == FOutput.size()) {
        DropOutput();
    } else if (FOutputPos >= CompactThreshold) {
        // The TLS layer accepts the rest from a moved buffer.
        FOutput.erase(0, FOutputPos);
        FOutputPos = 0;
    }
    DoWork(TWorkMode::wmWrite, n);
    return true;
}

uint64_t TTcpConnection::QueueLine(std::string_view text) {
    CheckForDisconnect(true, true);
    if (!(FHandler && FSocket >= 0)) throw ENotConnected();
    FOutput.append(text);
    FOutput.append("\r\n");
    FQueuedTotal += text.size() + 2;
    return FQueuedTotal;
}

void TTcpConnection::Flush(uint64_t mark) {
    while (SendQueued(FSentTotal < mark)) {
    }
    const bool sliced = AntiFreeze != nullptr && AntiFreeze->Engaged();
    const int64_t slice = sliced ? std::max<int32_t>(1, AntiFreeze->IdleTimeOut) : -1;
    int64_t remaining = ReadTimeout == 0 ? -1 : ReadTimeout;
    // What arrives meanwhile is taken in up to a bound: a server that sends
    // without end must not grow the buffer without end either.
    constexpr size_t kInputWhileWriting = size_t{4} << 20;
    while (FSentTotal < mark) {
        CheckForDisconnect(true, true);
        if (FSocket < 0) throw ENotConnected();
        const bool room = InputBufferSize() < kInputWhileWriting;
        int64_t wait = remaining;
        if (sliced && (wait < 0 || wait > slice)) wait = slice;
        pollfd p{FSocket, static_cast<short>(POLLOUT | (room ? POLLIN : 0)), 0};
        const int64_t started = NowMs();
        const int rc = poll(&p, 1, static_cast<int>(std::min<int64_t>(wait, INT32_MAX)));
        if (rc < 0) {
            if (errno == EINTR) continue;
            RaiseSocketError(errno);
        }
        if (rc > 0) {
            if ((p.revents & (POLLOUT | POLLERR | POLLHUP)) && SendQueued(true)) continue;
            if (room && (p.revents & (POLLIN | POLLERR | POLLHUP))) {
                ReceiveData(true, 0, false);
                continue;
            }
        }
        if (remaining > 0) remaining = std::max<int64_t>(0, remaining - (NowMs() - started));
        if (sliced) {
            AntiFreeze->DoIdle();
            if (FSocket < 0) throw ENotConnected();  // the hook closed us
        }
        if (remaining == 0) throw EReadTimeout();
    }
}

void TTcpConnection::SetReceiveTimeout(int32_t ms) {
    if (ms == FReceiveTimeout) return;
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    if (setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) RaiseSocketError(errno);
    FReceiveTimeout = ms;
}

void TTcpConnection::SendLine(std::string_view text) {
    // Every write takes the one road of the queued output: it goes out as
    // the socket takes it, and a peer that stops reading holds it no longer
    // than a read would wait, while whatever the peer sends is taken in.
    Flush(QueueLine(text));
}

void TTcpConnection::Consume(size_t n) {
    FConsumedTotal += n;
    FInputPos += n;
    if (FInputPos == FInputEnd) {
        FInputPos = FInputEnd = 0;
    } else if (FInputPos >= CompactThreshold) {
        std::memmove(FInput.data(), FInput.data() + FInputPos, FInputEnd - FInputPos);
        FInputEnd -= FInputPos;
        FInputPos = 0;
    }
    DoWork(TWorkMode::wmRead, static_cast<int64_t>(n));
}

void TTcpConnection::AppendInput(std::string_view bytes) {
    // An empty view may carry no pointer at all, which memcpy must not get.
    if (bytes.empty()) return;
    if (FInput.size() < FInputEnd + bytes.size()) FInput.resize(FInputEnd + bytes.size());
    std::memcpy(FInput.data() + FInputEnd, bytes.data(), bytes.size());
    FInputEnd += bytes.size();
}

size_t TTcpConnection::FindLineEnd(size_t searched) const {
    const char* base = FInput.data() + FInputPos;
    const size_t available = InputBufferSize();
    if (available <= searched) return 0;
    const void* lf = std::memchr(base + searched, '\n', available - searched);
    return lf ? static_cast<size_t>(static_cast<const char*>(lf) - base) + 1 : 0;
}

std::string TTcpConnection::ReadLine(int32_t timeout, int32_t maximum) {
    return std::string(ReadLineView(timeout, maximum));
}

std::string_view TTcpConnection::ReadLineView(int32_t timeout, int32_t maximum) {
    if (maximum == -1) maximum = MaxLineLength;
    FReadLnSplit = false;
    FReadLnTimedOut = false;
    size_t searched = 0;  // bytes of the unread part already searched
    for (;;) {
        const char* base = FInput.data() + FInputPos;
        const size_t available = InputBufferSize();
        const size_t p = FindLineEnd(searched);
        searched = available;
        if (maximum > 0) {
            const size_t max = static_cast<size_t>(maximum);
            if ((p > 0 && p - 1 > max) || (p == 0 && available > max)) {
                if (MaxLineAction == TMaxLineAction::maException) throw EMaxLineLengthExceeded();
                FReadLnSplit = true;
                FLine.assign(base, max);
                Consume(max);
                return FLine;
            }
        }
        if (p == 0) {
            CheckForDisconnect(true, true);
            const int32_t n = ReceiveData(true, timeout, timeout == -1);
            // A close seen by this receive must raise on the next turn, not
            // pass for an empty line.
            if (n <= 0 && !FClosedGracefully) {
                FReadLnTimedOut = true;
                FLine.clear();
                return FLine;
            }
            continue;
        }
        size_t length = p - 1;
        if (length > 0 && base[length - 1] == '\r') --length;
        FLine.assign(base, length);
        Consume(p);
        return FLine;
    }
}

void TTcpConnection::ReadReply() {
    // Blank lines and continuation lines all count against MaxReplyBytes.
    const uint64_t start = FConsumedTotal;
    auto nextLine = [this, start] {
        for (;;) {
            const std::string_view line = TrimView(ReadLineView());
            if (MaxReplyBytes > 0 && FConsumedTotal - start > static_cast<uint64_t>(MaxReplyBytes)) {
                CloseConnection();
                throw EAnswerTooLong();
            }
            if (!line.empty()) return line;
        }
    };
    // The usual reply is one line, read into the reply's own strings without
    // a copy of its own; LastReply changes only once the whole reply is in.
    std::string_view status = nextLine();
    std::vector<std::string> more;
    if (status.size() > 3 && status[3] == '-') {
        more.emplace_back(status);
        const std::string end = more.front().substr(0, 3) + " ";
        for (;;) {
            const std::string_view line = nextLine();
            more.emplace_back(line);
            if (line.size() < 4 || SameText(line.substr(0, 4), end)) break;
        }
        status = more.front();
    }
    std::string_view code = TrimView(status.substr(0, 4));
    if (code.size() == 4 && code.back() == '-') code.remove_suffix(1);
    LastReply.TextCode.assign(code);
    int32_t number = 0;
    LastReply.NumericCode = TryStrToInt(code, number) ? number : 0;
    const auto textOf = [](std::string_view line) {
        return line.size() > 4 ? line.substr(4) : std::string_view();
    };
    if (more.empty()) {
        LastReply.Text.resize(1);
        LastReply.Text.front().assign(textOf(status));
        return;
    }
    LastReply.Text.clear();
    for (const std::string& line : more) LastReply.Text.emplace_back(textOf(line));
}

int32_t TTcpConnection::ReadResponse() {
    ReadReply();
    return LastReply.NumericCode;
}

int32_t TTcpConnection::GetResponse(std::initializer_list<int32_t> allowed) {
    const int32_t code = ReadResponse();
    if (allowed.size() > 0 && std::find(allowed.begin(), allowed.end(), code) == allowed.end())
        throw EProtocolReplyError(code, LastReply.TextAsString());
    return code;
}

int32_t TTcpConnection::SendCommand(std::string_view line,
                                    std::initializer_list<int32_t> allowed) {
    SendLine(line);
    return GetResponse(allowed);
}

void TTcpConnection::CaptureLines(std::vector<std::string>& lines, std::string_view terminator,
                                  bool unstuff) {
    BeginWork(TWorkMode::wmRead);
    try {
        for (;;) {
            std::string line = ReadLine();
            if (line == terminator) break;
            if (unstuff && line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
            lines.push_back(std::move(line));
        }
    } catch (...) {
        EndWork(TWorkMode::wmRead);
        throw;
    }
    EndWork(TWorkMode::wmRead);
}

// Lines are cut out of the input buffer straight into text; a line still
// waiting for its LF goes over in pieces once it fills kPieceBytes, keeping
// its last byte back in case it is the CR of the CR LF. The buffer therefore
// stays small whatever the line length.
void TTcpConnection::CaptureText(std::string& text, int64_t maximum) {
    constexpr size_t kPieceBytes = 65536;
    const size_t limit = text.size() + static_cast<size_t>(std::max<int64_t>(0, maximum));
    bool inLine = false;  // part of the current line is in text already
    auto tooLong = [&] {
        if (text.size() <= limit) return;
        CloseConnection();
        throw EAnswerTooLong();
    };
    BeginWork(TWorkMode::wmRead);
    try {
        size_t searched = 0;
        for (;;) {
            const char* base = FInput.data() + FInputPos;
            const size_t available = InputBufferSize();
            if (const size_t end = FindLineEnd(searched)) {
                const size_t p = end - 1;
                size_t length = p;
                if (length > 0 && base[length - 1] == '\r') --length;
                std::string_view line(base, length);
                if (!inLine && line == ".") {
                    Consume(p + 1);
                    break;
                }
                if (!inLine && line.size() >= 2 && line[0] == '.' && line[1] == '.')
                    line.remove_prefix(1);
                text.append(line);
                text.append("\r\n");
                Consume(p + 1);
                inLine = false;
                searched = 0;
                tooLong();
                continue;
            }
            searched = available;
            if (available > kPieceBytes) {
                std::string_view piece(base, available - 1);
                if (!inLine && piece[0] == '.' && piece[1] == '.') piece.remove_prefix(1);
                text.append(piece);
                Consume(available - 1);
                inLine = true;
                searched = InputBufferSize();
                tooLong();
            }
            CheckForDisconnect(true, true);
            ReceiveData(true, -1, true);
        }
    } catch (...) {
        EndWork(TWorkMode::wmRead);
        throw;
    }
    EndWork(TWorkMode::wmRead);
}

bool TTcpConnection::DiscardLine(int64_t maximum) {
    uint64_t dropped = 0;
    for (;;) {
        const size_t available = InputBufferSize();
        if (const size_t end = FindLineEnd(0)) {
            Consume(end);
            return true;
        }
        Consume(available);
        dropped += available;
        if (maximum >= 0 && dropped > static_cast<uint64_t>(maximum)) return false;
        CheckForDisconnect(true, true);
        ReceiveData(true, -1, true);
    }
}

void TTcpConnection::BeginWork(TWorkMode mode, int64_t countMax) {
    const int m = static_cast<int>(mode);
    if (++FWorkDepth[m] == 1) {
        FWorkTotal[m] = 0;
        if (OnWorkBegin) OnWorkBegin(*this, mode, countMax);
    }
}

void TTcpConnection::DoWork(TWorkMode mode, int64_t count) {
    const int m = static_cast<int>(mode);
    if (FWorkDepth[m] < 1) return;
    FWorkTotal[m] += count;
    if (OnWork) OnWork(*this, mode, FWorkTotal[m]);
}

void TTcpConnection::EndWork(TWorkMode mode) {
    const int m = static_cast<int>(mode);
    if (FWorkDepth[m] < 1) return;
    if (FWorkDepth[m] == 1 && OnWorkEnd) OnWorkEnd(*this, mode);
    --FWorkDepth[m];
}

// ---------------------------------------------------------------- opening

void TTcpConnection::Connect(const std::string& host, int32_t port, int32_t timeout) {
    if (FHandler && FSocket >= 0) throw EAlreadyConnected();
    FHandler = true;
    FInputPos = FInputEnd = 0;
    FClosedGracefully = false;
    FLost = false;
    DropOutput();
    FQueuedTotal = FSentTotal = 0;
    FSocket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FSocket < 0) throw EInvalidSocket();
    FReceiveTimeout = 0;  // a new socket waits without limit
    if (SocketSendBuffer > 0)
        setsockopt(FSocket, SOL_SOCKET, SO_SNDBUF, &SocketSendBuffer, sizeof SocketSendBuffer);
    try {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = 0;
        if (bind(FSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            if (errno == EADDRINUSE) throw ECouldNotBindSocket();
            RaiseSocketError(errno);
        }
        const std::string address = ResolveHost(host);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(static_cast<uint16_t>(port));
        if (!ParseDotted(address, peer.sin_addr.s_addr)) throw ESocketError(11001);
        if (timeout != -1 && timeout != 0) {
            TimedConnect(&peer, timeout);
        } else if (AntiFreeze != nullptr && AntiFreeze->Engaged()) {
            TimedConnect(&peer, 120000);
        } else {
            if (connect(FSocket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
                int err = errno;
                // An interrupted blocking connect goes on in the background.
                if (err == EINTR) {
                    WaitFor(POLLOUT, -1);
                    socklen_t len = sizeof err;
                    getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &err, &len);
                }
                if (err != 0) RaiseSocketError(err);
            }
        }
        sockaddr_in a{};
        socklen_t len = sizeof a;
        if (getsockname(FSocket, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
            LocalAddress = AddressText(a);
            LocalPort = ntohs(a.sin_port);
        }
        len = sizeof a;
        if (getpeername(FSocket, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
            PeerAddress = AddressText(a);
            PeerPort = ntohs(a.sin_port);
        }
    } catch (...) {
        CloseSocket();
        throw;
    }
}

// A non-blocking connect waited for in steps of at most 125 ms, pumping the
// anti-freeze between steps; a completion is noticed at once.
void TTcpConnection::TimedConnect(const void* addr, int32_t timeout) {
    const int flags = fcntl(FSocket, F_GETFL);
    fcntl(FSocket, F_SETFL, flags | O_NONBLOCK);
    int err = 0;
    if (connect(FSocket, static_cast<const sockaddr*>(addr), sizeof(sockaddr_in)) != 0) {
        err = errno;
        if (err == EINPROGRESS || err == EINTR) {
            int32_t step = 125;
            if (AntiFreeze != nullptr && AntiFreeze->Engaged())
                step = std::min<int32_t>(std::max<int32_t>(1, AntiFreeze->IdleTimeOut), 125);
            int32_t remaining = timeout;
            bool done = false;
            while (step < remaining && !done) {
                done = WaitFor(POLLOUT, step) != TWait::TimedOut;
                remaining -= step;
                if (!done && AntiFreeze != nullptr) AntiFreeze->DoIdle();
            }
            if (!done) done = WaitFor(POLLOUT, remaining) != TWait::TimedOut;
            if (!done || FSocket < 0) {
                CloseSocket();
                throw EConnectTimeout();
            }
            socklen_t len = sizeof err;
            if (getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        }
    }
    if (err != 0) throw EConnectError(SocketErrorMessageFromErrno(err));
    fcntl(FSocket, F_SETFL, flags);
}

void TTcpClient::OpenConnection(int32_t timeout) { Connect(Host, Port, timeout); }

}  // namespace kalmuro
