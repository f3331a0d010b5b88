#include "support/scripted_server.h"

#include "mail/auth/sasl.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "mail/text.h"

namespace kalmuro::test {

namespace {

sockaddr_in Loopback(int32_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

int ListenOnLoopback(int backlog, int32_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("test server: socket() failed");
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a = Loopback(0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        throw std::runtime_error("test server: cannot listen on 127.0.0.1");
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

std::string Md5Hex(const std::string& input) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(input.data(), input.size(), digest, &length, EVP_md5(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

// Moves the first whole line out of pending (without its CR LF or LF).
bool TakeLine(std::string& pending, std::string& line) {
    const size_t lf = pending.find('\n');
    if (lf == std::string::npos) return false;
    line = pending.substr(0, lf);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pending.erase(0, lf + 1);
    return true;
}

// Splits a message into lines without their line ends.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

void AppendStuffed(std::string& out, const std::string& line) {
    if (!line.empty() && line[0] == '.') out += '.';
    out += line;
    out += "\r\n";
}

// The server's side of a TLS session on fd, or null when the client's
// handshake failed.
SSL* AcceptTls(int fd, const std::string& certificate) {
    const std::string dir = TestCertificateDir();
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_server_method()),
                                                          SSL_CTX_free);
    if (!ctx || SSL_CTX_use_certificate_chain_file(ctx.get(), (dir + "/" + certificate).c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx.get(), (dir + "/server.key").c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("test server: cannot load " + certificate);
    SSL* ssl = SSL_new(ctx.get());
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) != 1) {
        SSL_free(ssl);
        ERR_clear_error();
        return nullptr;
    }
    return ssl;
}

}  // namespace

const std::string& TestCertificateDir() {
    struct TDir {
        std::string Path;
        TDir() {
            // A client that goes away would otherwise end the test program
            // with SIGPIPE: the TLS library writes without MSG_NOSIGNAL.
            std::signal(SIGPIPE, SIG_IGN);
            char name[] = "/tmp/kc.XXXXXX";
            if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
            Path = name;
            const std::string command = "'" + std::string(KALMURO_SOURCE_DIR) +
                                        "/scripts/dovecot/make_certs.sh' '" + Path + "' 2>&1";
            if (std::system(command.c_str()) != 0)
                throw std::runtime_error("make_certs.sh failed in " + Path);
        }
        ~TDir() {
            std::error_code ignored;
            std::filesystem::remove_all(Path, ignored);
        }
    };
    static const TDir dir;
    return dir.Path;
}

// The fingerprint `openssl x509` prints for a certificate of the test folder.
std::string OpensslFingerprint(const std::string& certificate) {
    const std::string command = "openssl x509 -noout -fingerprint -sha256 -in '" +
                                TestCertificateDir() + "/" + certificate + "'";
    FILE* p = popen(command.c_str(), "r");
    std::string out;
    char buf[256];
    while (p != nullptr && fgets(buf, sizeof buf, p) != nullptr) out += buf;
    if (p != nullptr) pclose(p);
    const size_t eq = out.find('=');
    if (eq == std::string::npos) return out;
    out.erase(0, eq + 1);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// ---------------------------------------------------------------- TScript

TScript& TScript::Add(TStep::TKind kind, std::string text, int32_t ms) {
    Steps.push_back({kind, std::move(text), ms});
    return *this;
}
TScript& TScript::Send(std::string bytes) { return Add(TStep::Send, std::move(bytes)); }
TScript& TScript::Line(std::string text) { return Send(std::move(text) + "\r\n"); }
TScript& TScript::Expect(std::string line) { return Add(TStep::Expect, std::move(line)); }
TScript& TScript::Read() { return Add(TStep::Read); }
TScript& TScript::Pause(int32_t ms) { return Add(TStep::Pause, {}, ms); }
TScript& TScript::Close() { return Add(TStep::Close); }
TScript& TScript::Reset() { return Add(TStep::Reset); }
TScript& TScript::Hold() { return Add(TStep::Hold); }
TScript& TScript::StartTls(std::string certificate) {
    return Add(TStep::StartTls, std::move(certificate));
}
TScript& TScript::Flood(std::string unit, int64_t totalBytes) {
    Add(TStep::Flood, std::move(unit));
    Steps.back().Bytes = totalBytes;
    return *this;
}

TScript LoggedIn(const std::string& welcome) {
    TScript s;
    s.Line("+OK ready").Expect("USER alice").Line("+OK").Expect("PASS secret").Line(welcome);
    return s;
}

// ---------------------------------------------------------------- base

TCapa DefaultCapa() {
    const char* value = std::getenv("KALMURO_TEST_PIPELINING");
    return value != nullptr && std::string(value) == "1" ? TCapa::Pipelining : TCapa::Plain;
}

void TTestServerBase::SetCapaSasl(std::string mechanisms) {
    std::lock_guard<std::mutex> lock(FSaslMutex);
    FSasl = std::move(mechanisms);
}

bool TTestServerBase::AnswerCapa(int fd, const std::string& line, ssl_st* tls) {
    if (!SameText(line, "CAPA")) return false;
    ++FCapaRequests;
    std::string sasl;
    {
        std::lock_guard<std::mutex> lock(FSaslMutex);
        if (!FSasl.empty()) sasl = "SASL " + FSasl + "\r\n";
    }
    switch (Capa.load()) {
        case TCapa::Refused:
            SendAll(fd, "-ERR Unknown command: CAPA\r\n", tls);
            break;
        case TCapa::Plain:
            SendAll(fd, "+OK\r\nCAPA\r\nTOP\r\nUIDL\r\n" + sasl + "USER\r\n.\r\n", tls);
            break;
        case TCapa::Pipelining:
            SendAll(fd,
                    "+OK\r\nCAPA\r\nTOP\r\nUIDL\r\nRESP-CODES\r\nPIPELINING\r\n" + sasl +
                        "USER\r\n.\r\n",
                    tls);
            break;
    }
    return true;
}

TTestServerBase::TTestServerBase() { FListen = ListenOnLoopback(16, FPort); }

TTestServerBase::~TTestServerBase() { Stop(); }

void TTestServerBase::Start() {
    FAcceptThread = std::thread([this] { AcceptLoop(); });
}

void TTestServerBase::AcceptLoop() {
    while (!FStopping) {
        pollfd p{FListen, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        const int fd = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        if (const int size = SocketBuffer; size > 0) {
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
            setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        }
        std::lock_guard<std::mutex> lock(FMutex);
        const size_t session = FAccepted++;
        FConnections.push_back(fd);
        FWorkers.emplace_back([this, fd, session] {
            Serve(fd, session);
            std::lock_guard<std::mutex> lock(FMutex);
            for (auto it = FConnections.begin(); it != FConnections.end(); ++it)
                if (*it == fd) {
                    FConnections.erase(it);
                    break;
                }
            close(fd);
            ++FEnded;
            FChanged.notify_all();
        });
    }
}

void TTestServerBase::Stop() {
    if (FStopping.exchange(true)) return;
    if (FAcceptThread.joinable()) FAcceptThread.join();
    {
        // Wakes every worker blocked in a read; each closes its own socket.
        std::lock_guard<std::mutex> lock(FMutex);
        for (int fd : FConnections) shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& t : FWorkers)
        if (t.joinable()) t.join();
    if (FListen >= 0) close(FListen);
    FListen = -1;
}

std::vector<std::string> TTestServerBase::Received() const {
    std::lock_guard<std::mutex> lock(FMutex);
    std::vector<std::string> lines;
    for (const auto& r : FReceived) lines.push_back(r.second);
    return lines;
}

std::vector<std::string> TTestServerBase::Received(size_t session) const {
    std::lock_guard<std::mutex> lock(FMutex);
    std::vector<std::string> lines;
    for (const auto& r : FReceived)
        if (r.first == session) lines.push_back(r.second);
    return lines;
}

std::vector<std::string> TTestServerBase::Failures() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FFailures;
}

bool TTestServerBase::WaitForSessions(size_t count, int32_t timeoutMs) const {
    std::unique_lock<std::mutex> lock(FMutex);
    return FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return FEnded >= count; });
}

size_t TTestServerBase::SessionsAccepted() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FAccepted;
}

bool TTestServerBase::SendAll(int fd, const std::string& bytes, ssl_st* tls) {
    if (tls != nullptr)
        return bytes.empty() || SSL_write(tls, bytes.data(), static_cast<int>(bytes.size())) > 0;
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool TTestServerBase::RecvLine(int fd, std::string& line, std::string& pending, ssl_st* tls) {
    for (;;) {
        if (TakeLine(pending, line)) {
            if (pending.find('\n') != std::string::npos) ++FLinesAhead;
            return true;
        }
        char buf[4096];
        const ssize_t n = tls != nullptr ? SSL_read(tls, buf, sizeof buf) : recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        pending.append(buf, static_cast<size_t>(n));
    }
}

void TTestServerBase::Record(size_t session, const std::string& line) {
    std::lock_guard<std::mutex> lock(FMutex);
    FReceived.emplace_back(session, line);
}

void TTestServerBase::Fail(const std::string& what) {
    std::lock_guard<std::mutex> lock(FMutex);
    FFailures.push_back(what);
}

// ---------------------------------------------------------------- scripted

TScriptedServer::TScriptedServer(std::vector<TScript> scripts) : FScripts(std::move(scripts)) {
    Start();
}

TScriptedServer::~TScriptedServer() { Stop(); }

void TScriptedServer::Serve(int fd, size_t session) {
    if (session >= FScripts.size()) return;
    std::string pending, line;
    std::unique_ptr<SSL, decltype(&SSL_free)> tls(nullptr, SSL_free);
    auto readRest = [&] {
        while (RecvLine(fd, line, pending, tls.get()))
            if (!AnswerCapa(fd, line, tls.get())) Record(session, line);
    };
    for (const TScript::TStep& step : FScripts[session].Steps) {
        switch (step.Kind) {
            case TScript::TStep::StartTls:
                tls.reset(AcceptTls(fd, step.Text));
                if (!tls) {
                    Fail("session " + std::to_string(session) + ": TLS handshake failed");
                    return;
                }
                break;
            case TScript::TStep::Send:
                if (!SendAll(fd, step.Text, tls.get())) {
                    Fail("session " + std::to_string(session) + ": client gone before send");
                    return;
                }
                break;
            case TScript::TStep::Expect:
            case TScript::TStep::Read: {
                bool got;
                while ((got = RecvLine(fd, line, pending, tls.get())) &&
                       !(step.Kind == TScript::TStep::Expect && step.Text == line) &&
                       AnswerCapa(fd, line, tls.get())) {
                }
                if (!got) {
                    if (step.Kind == TScript::TStep::Expect)
                        Fail("session " + std::to_string(session) + ": expected \"" + step.Text +
                             "\", client closed");
                    return;
                }
                Record(session, line);
                if (step.Kind == TScript::TStep::Expect && line != step.Text)
                    Fail("session " + std::to_string(session) + ": expected \"" + step.Text +
                         "\", got \"" + line + "\"");
                break;
            }
            case TScript::TStep::Pause: {
                const auto until =
                    std::chrono::steady_clock::now() + std::chrono::milliseconds(step.Ms);
                while (!Stopping() && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                break;
            }
            case TScript::TStep::Close:
                // A FIN, not a reset: whatever the client sends afterwards is
                // still read, so unread input never turns the close into a RST.
                shutdown(fd, SHUT_WR);
                readRest();
                return;
            case TScript::TStep::Reset: {
                linger l{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                return;
            }
            case TScript::TStep::Flood: {
                std::string block;
                while (block.size() < 65536) block += step.Text;
                // Whole blocks, so that the unit's pattern never breaks.
                for (int64_t sent = 0; sent < step.Bytes && !Stopping();
                     sent += static_cast<int64_t>(block.size()))
                    if (!SendAll(fd, block, tls.get())) return;
                break;
            }
            case TScript::TStep::Hold:
                while (!Stopping()) {
                    pollfd p{fd, POLLIN, 0};
                    if (poll(&p, 1, 20) <= 0) continue;
                    char buf[4096];
                    const ssize_t n = recv(fd, buf, sizeof buf, 0);
                    if (n <= 0) return;
                    pending.append(buf, static_cast<size_t>(n));
                    while (TakeLine(pending, line))
                        if (!AnswerCapa(fd, line)) Record(session, line);
                }
                return;
        }
    }
    readRest();
}

// ---------------------------------------------------------------- fake mailbox

TFakePop3Server::TFakePop3Server(std::string user, std::string password,
                                 std::vector<TFakeMessage> messages)
    : FUser(std::move(user)), FPassword(std::move(password)), FMessages(std::move(messages)) {
    Start();
}

TFakePop3Server::~TFakePop3Server() { Stop(); }

void TFakePop3Server::Override(const std::string& command, std::string rawReply, bool close) {
    std::lock_guard<std::mutex> lock(FBoxMutex);
    FOverrides[command] = {std::move(rawReply), close};
}

void TFakePop3Server::CloseAfter(const std::string& command) {
    std::lock_guard<std::mutex> lock(FBoxMutex);
    FCloseAfter.insert(command);
}

std::vector<TFakeMessage> TFakePop3Server::Messages() const {
    std::lock_guard<std::mutex> lock(FBoxMutex);
    return FMessages;
}

void TFakePop3Server::SetMessages(std::vector<TFakeMessage> messages) {
    std::lock_guard<std::mutex> lock(FBoxMutex);
    FMessages = std::move(messages);
}

void TFakePop3Server::AcceptTokens(std::function<bool(const std::string&)> check) {
    std::lock_guard<std::mutex> lock(FBoxMutex);
    FTokenCheck = std::move(check);
}

void TFakePop3Server::Serve(int fd, size_t session) {
    std::string stamp;
    {
        std::lock_guard<std::mutex> lock(FBoxMutex);
        stamp = Timestamp;
    }
    if (!SendAll(fd, "+OK POP3 fake server ready. " + stamp + "\r\n")) return;
    std::string pending, line, user;
    bool loggedIn = false;
    std::vector<TFakeMessage> box;
    auto reply = [&](const std::string& text) { return SendAll(fd, text + "\r\n"); };
    auto commit = [&] {
        std::lock_guard<std::mutex> lock(FBoxMutex);
        FMessages.clear();
        for (const TFakeMessage& m : box)
            if (!m.Deleted) FMessages.push_back(m);
    };
    // However the session ends after login, a server that commits anyway.
    struct TEnd {
        std::function<void()> Run;
        ~TEnd() { Run(); }
    } end{[&] {
        if (loggedIn && CommitOnClose) commit();
    }};
    // The message n refers to, or an error already answered.
    auto pick = [&](const std::string& arg, TFakeMessage*& m) {
        int32_t n = 0;
        try {
            size_t used = 0;
            n = std::stoi(arg, &used);
            if (used != arg.size()) throw std::invalid_argument(arg);
        } catch (...) {
            reply("-ERR Invalid message number: " + arg);
            return false;
        }
        if (n < 1 || static_cast<size_t>(n) > box.size()) {
            reply("-ERR There's no message " + arg + ".");
            return false;
        }
        m = &box[static_cast<size_t>(n - 1)];
        if (m->Deleted) {
            reply("-ERR Message is deleted.");
            return false;
        }
        return true;
    };
    while (RecvLine(fd, line, pending)) {
        {
            std::lock_guard<std::mutex> lock(FBoxMutex);
            if (FOverrides.count(line) == 0 && AnswerCapa(fd, line)) continue;
        }
        Record(session, line);
        {
            std::unique_lock<std::mutex> lock(FBoxMutex);
            auto it = FOverrides.find(line);
            if (it != FOverrides.end()) {
                const TOverride o = it->second;
                lock.unlock();
                SendAll(fd, o.Reply);
                if (o.Close) return;
                continue;
            }
        }
        std::istringstream words(line);
        std::string command, arg1, arg2;
        words >> command >> arg1 >> arg2;
        command = UpperCase(command);
        if (command == "QUIT") {
            if (loggedIn) {
                commit();
                loggedIn = false;
                if (QuitEnd == TQuitEnd::CommitThenClose) return;
                if (QuitEnd == TQuitEnd::CommitThenHold) {
                    while (!Stopping() && RecvLine(fd, line, pending)) {
                    }
                    return;
                }
                reply("+OK Logging out, messages deleted.");
                return;
            }
            reply("+OK Logging out");
            return;
        }
        bool closeAfter = false;
        {
            std::lock_guard<std::mutex> lock(FBoxMutex);
            closeAfter = FCloseAfter.count(line) > 0;
        }
        if (!loggedIn) {
            bool ok = false;
            if (command == "USER") {
                user = line.size() > 5 ? line.substr(5) : "";
                reply("+OK");
                continue;
            } else if (command == "PASS") {
                if (user.empty()) {
                    reply("-ERR No username given.");
                    continue;
                }
                ok = user == FUser && line.size() > 5 && line.substr(5) == FPassword;
            } else if (command == "APOP") {
                ok = arg1 == FUser && arg2 == Md5Hex(stamp + FPassword);
            } else if (command == "AUTH" && (UpperCase(arg1) == "XOAUTH2" ||
                                             UpperCase(arg1) == "OAUTHBEARER")) {
                std::function<bool(const std::string&)> check;
                {
                    std::lock_guard<std::mutex> lock(FBoxMutex);
                    check = FTokenCheck;
                }
                if (!check) {
                    reply("-ERR Unsupported authentication mechanism.");
                    continue;
                }
                reply("+ ");
                if (!RecvLine(fd, line, pending)) return;
                Record(session, line);
                const std::string decoded = Base64Decode(line).value_or("");
                const size_t bearer = decoded.find("auth=Bearer ");
                const size_t end = decoded.find('\x01', bearer == std::string::npos ? 0 : bearer);
                const std::string token =
                    bearer == std::string::npos || end == std::string::npos
                        ? std::string()
                        : decoded.substr(bearer + 12, end - bearer - 12);
                const bool named = decoded.find(UpperCase(arg1) == "XOAUTH2" ? "user=" + FUser + "\x01"
                                                                              : "a=" + FUser + ",") !=
                                   std::string::npos;
                ok = named && check(token);
                if (!ok) {
                    reply("+ " + Base64Encode(R"({"status":"401","schemes":"bearer"})"));
                    if (!RecvLine(fd, line, pending)) return;
                    Record(session, line);
                }
            } else {
                reply("-ERR Unknown command.");
                continue;
            }
            if (!ok) {
                reply("-ERR [AUTH] Authentication failed.");
                continue;
            }
            loggedIn = true;
            std::lock_guard<std::mutex> lock(FBoxMutex);
            box = FMessages;
            for (TFakeMessage& m : box) m.Deleted = false;
            reply("+OK Logged in.");
            continue;
        }
        TFakeMessage* m = nullptr;
        if (command == "STAT") {
            size_t count = 0, octets = 0;
            for (const TFakeMessage& x : box)
                if (!x.Deleted) {
                    ++count;
                    octets += x.Text.size();
                }
            reply("+OK " + std::to_string(count) + " " + std::to_string(octets));
        } else if ((command == "LIST" || command == "UIDL") && arg1.empty()) {
            std::string out = "+OK\r\n";
            for (size_t i = 0; i < box.size(); ++i)
                if (!box[i].Deleted)
                    out += std::to_string(i + 1) + " " +
                           (command == "LIST" ? std::to_string(box[i].Text.size()) : box[i].Uid) +
                           "\r\n";
            SendAll(fd, out + ".\r\n");
        } else if (command == "LIST") {
            if (pick(arg1, m)) reply("+OK " + arg1 + " " + std::to_string(m->Text.size()));
        } else if (command == "UIDL") {
            if (pick(arg1, m)) reply("+OK " + arg1 + " " + m->Uid);
        } else if (command == "TOP" || command == "RETR") {
            if (!pick(arg1, m)) continue;
            int32_t bodyLines = -1;  // all
            if (command == "TOP") {
                try {
                    bodyLines = std::stoi(arg2);
                } catch (...) {
                    reply("-ERR Noise after message number: " + arg2);
                    continue;
                }
            }
            std::string out = "+OK\r\n";
            bool inBody = false;
            int32_t sent = 0;
            for (const std::string& l : SplitLines(m->Text)) {
                if (inBody && bodyLines >= 0 && sent >= bodyLines) break;
                AppendStuffed(out, l);
                if (inBody) ++sent;
                if (l.empty()) inBody = true;
            }
            if (!inBody && command == "TOP") out += "\r\n";
            SendAll(fd, out + ".\r\n");
        } else if (command == "DELE") {
            if (pick(arg1, m)) {
                m->Deleted = true;
                reply("+OK Marked to be deleted.");
            }
        } else if (command == "RSET") {
            for (TFakeMessage& x : box) x.Deleted = false;
            reply("+OK");
        } else if (command == "NOOP") {
            reply("+OK");
        } else {
            reply("-ERR Unknown command: " + command);
        }
        if (closeAfter) return;
    }
}

// ---------------------------------------------------------------- ports

int32_t RefusedPort() {
    int32_t port = 0;
    const int fd = ListenOnLoopback(1, port);
    close(fd);
    return port;
}

TBlackHoleListener::TBlackHoleListener() {
    // A backlog of 0 admits one queued connection; once the filler holds it
    // the kernel drops further SYNs and their connects hang.
    FListen = ListenOnLoopback(0, FPort);
    FFiller = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(FPort);
    if (FFiller < 0 || connect(FFiller, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("black hole listener: filler connect failed");
}

TBlackHoleListener::~TBlackHoleListener() {
    if (FFiller >= 0) close(FFiller);
    if (FListen >= 0) close(FListen);
}

}  // namespace kalmuro::test
