// The header-only road of a mailbox check against a POP3 server, timed:
// login, STAT, then for every message TOP n 0, LIST n, UIDL n, then QUIT.
//
//   bench_pop3 --port P --user U --password PW [--host H] [--mode M] [--runs R]
//              [--hook 1] [--pipeline 1] [--window W] [--tls-ca FILE]
//
// Modes:
//   ours   the project's POP3 client; every header is interpreted
//          (sender, subject, date), as a check does. --hook 1 attaches an
//          active idle hook that does nothing, as a front end would. With
//          --pipeline 1 the client asks CAPA and, on a server that lists
//          PIPELINING, sends the commands ahead of their answers in its own
//          window, as the check does.
//   floor  a bare loop with blocking socket calls: the same commands, each
//          reply read up to its end ("\r\n", or "\r\n.\r\n" after TOP) and
//          nothing parsed. What round trips alone cost. With --pipeline 1
//          it asks CAPA after the login, as the program does on that road,
//          and the commands of up to W messages (default 256) are written
//          ahead of their answers, which are read in order as they come:
//          what the link and the server alone cost on the pipelined road.
// --tls-ca FILE makes either mode POP3 over TLS from the first byte, the
// server's certificate verified against the authorities in FILE. The floor
// then drives the library directly with the settings the program's own
// transport uses (TLS 1.2 at least, the library's default ciphers, whole
// records read ahead), so the two agree on protocol and cipher; both print
// them as "tls_session=PROTOCOL CIPHER".
// Each run prints "run=i seconds=S"; the last line is
//   mode=M messages=N median_s=S runs=R
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "mail/mime/mail_message.h"
#include "mail/pop3/pop3_client.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TOptions {
    std::string Host = "127.0.0.1";
    int Port = 110;
    std::string User, Password;
    std::string Mode = "ours";
    int Runs = 1;
    bool Hook = false;
    bool Pipeline = false;
    int Window = 256;
    std::string TlsCa;  // POP3 over TLS when set
};

// Points a client at the server of the options, with generous timeouts.
void Configure(kalmuro::TPop3Client& client, const TOptions& o) {
    client.Host = o.Host;
    client.Port = o.Port;
    client.Username = o.User;
    client.Password = o.Password;
    client.ReadTimeout = 60000;
    if (!o.TlsCa.empty()) {
        client.Security = kalmuro::TSecurity::Tls;
        client.TlsCaFile = o.TlsCa;
    }
}

// The protocol and cipher of the last TLS session, for the report.
std::string TlsSession;

// Runs the road with the project's client; returns the message count.
int RunOurs(const TOptions& o, uint64_t& checksum) {
    kalmuro::TPop3Client client;
    Configure(client, o);
    kalmuro::TAntiFreeze freeze;
    freeze.OnIdle = [] {};
    if (o.Hook) client.AntiFreeze = &freeze;
    client.Login(60000);
    TlsSession = client.TlsSessionText();
    const bool ahead = o.Pipeline && client.QueryPipelining();
    if (o.Pipeline && !ahead) throw std::runtime_error("ours: the server does not list PIPELINING");
    const int count = client.CountMessages();
    std::vector<std::string> uid;
    int next = 1;  // the first message whose commands have not gone out
    for (int n = 1; n <= count; ++n) {
        for (; ahead && next <= count; ++next) {
            const std::string k = std::to_string(next);
            if (!client.AheadRoom(3, 3 * (k.size() + 8))) break;
            client.SendAhead("TOP " + k + " 0");
            client.SendAhead("LIST " + k);
            client.SendAhead("UIDL " + k);
        }
        kalmuro::TMailMessage message;
        try {
            client.FetchHeader(n, message);
        } catch (const kalmuro::EMailError&) {
            throw;
        } catch (const kalmuro::EError&) {
            // A header the parser rejects: the check goes on with the next.
        }
        const int32_t size = client.MessageSize(n);
        client.MessageUid(uid, n);
        // Keep the results alive so that nothing is optimised away.
        checksum += static_cast<uint64_t>(size) + message.From.Address.size() +
                    message.Subject.size() + static_cast<uint64_t>(message.Date) +
                    (uid.empty() ? 0 : uid[0].size());
    }
    client.Quit();
    return count;
}

// The library's error text, for a failure of the floor's own TLS.
std::string TlsError(const char* what) {
    char text[256] = "";
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    ERR_clear_error();
    return std::string("floor: ") + what + ": " + text;
}

// The floor: one blocking socket, no parsing beyond finding a reply's end;
// over TLS the library reads and writes the socket itself.
class TBareSession {
public:
    TBareSession(const std::string& host, int port, const std::string& tlsCa) {
        Fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (Fd < 0 || inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1 ||
            connect(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            throw std::runtime_error("floor: cannot connect to " + host);
        Buffer.resize(1 << 16);
        if (!tlsCa.empty()) StartTls(host, tlsCa);
    }
    ~TBareSession() {
        if (Ssl != nullptr) {
            SSL_shutdown(Ssl);  // the close-notify, as the program sends it
            SSL_free(Ssl);
        }
        if (Ctx != nullptr) SSL_CTX_free(Ctx);
        close(Fd);
    }

    // Sends a command and reads its reply; multi: a +OK reply runs to ".".
    // Returns the first byte of the reply ('+' or '-').
    char Command(const std::string& line, bool multi) {
        if (!line.empty()) {
            const std::string block = line + "\r\n";
            if (Send(block.data(), block.size(), false) != static_cast<ssize_t>(block.size()))
                throw std::runtime_error("floor: send failed");
        }
        size_t used = 0;
        for (;;) {
            if (used == Buffer.size()) Buffer.resize(Buffer.size() * 2);
            const ssize_t n = Receive(Buffer.data() + used, Buffer.size() - used, false);
            if (n <= 0) throw std::runtime_error("floor: connection closed");
            used += static_cast<size_t>(n);
            if (used < 2 || Buffer[used - 2] != '\r' || Buffer[used - 1] != '\n') continue;
            if (!multi || Buffer[0] == '-') break;
            if (used >= 5 && std::memcmp(Buffer.data() + used - 5, "\r\n.\r\n", 5) == 0) break;
        }
        Total += used;
        return Buffer[0];
    }

    // TOP n 0, LIST n and UIDL n for n = 1..count, the commands of at most
    // window messages ahead of the answers read; sends never block, so
    // neither side can wait for the other with full buffers.
    void Pipelined(int count, int window) {
        // The library reads and writes the socket itself: it must not block.
        if (Ssl != nullptr) SetBlocking(false);
        std::string out;
        size_t used = 0, at = 0;  // bytes in Buffer; start of the next answer
        int next = 1, done = 1, part = 0;  // part: 0 TOP, 1 LIST, 2 UIDL
        while (done <= count) {
            for (; next <= count && next - done < window; ++next) {
                const std::string number = std::to_string(next);
                out += "TOP " + number + " 0\r\nLIST " + number + "\r\nUIDL " + number + "\r\n";
            }
            // Records the library holds already are read without a wait.
            const bool held = Ssl != nullptr && SSL_has_pending(Ssl) == 1;
            pollfd p{Fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
            const int ready = poll(&p, 1, held ? 0 : 60000);
            if (ready < 0 || (ready == 0 && !held)) throw std::runtime_error("floor: no answer");
            if ((p.revents & POLLOUT) != 0) {
                const ssize_t n = Send(out.data(), out.size(), true);
                if (n < 0 && errno != EAGAIN) throw std::runtime_error("floor: send failed");
                if (n > 0) out.erase(0, static_cast<size_t>(n));
            }
            if (!held && (p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
            if (used == Buffer.size()) Buffer.resize(Buffer.size() * 2);
            const ssize_t n = Receive(Buffer.data() + used, Buffer.size() - used, true);
            if (n == 0) throw std::runtime_error("floor: connection closed");
            if (n < 0) continue;
            used += static_cast<size_t>(n);
            // Every whole answer in the buffer, in order.
            const std::string_view data(Buffer.data(), used);
            for (;;) {
                size_t end = data.find("\r\n", at);
                if (end == std::string_view::npos) break;
                if (part == 0 && data[at] == '+') {
                    end = data.find("\r\n.\r\n", end);
                    if (end == std::string_view::npos) break;
                    end += 3;
                }
                at = end + 2;
                if (++part == 3) {
                    part = 0;
                    ++done;
                }
            }
            Total += at;
            std::memmove(Buffer.data(), Buffer.data() + at, used - at);
            used -= at;
            at = 0;
        }
        if (Ssl != nullptr) SetBlocking(true);
    }

    // "PROTOCOL CIPHER" of the TLS session; empty without one.
    std::string Session() const {
        if (Ssl == nullptr) return std::string();
        return std::string(SSL_get_version(Ssl)) + " " + SSL_get_cipher_name(Ssl);
    }

    size_t Total = 0;

private:
    // The program's transport settings: TLS 1.2 at least, the library's
    // default ciphers, the certificate verified for the address (an address
    // gets no SNI), whole records read ahead.
    void StartTls(const std::string& host, const std::string& tlsCa) {
        Ctx = SSL_CTX_new(TLS_client_method());
        if (Ctx == nullptr) throw std::runtime_error(TlsError("no context"));
        SSL_CTX_set_min_proto_version(Ctx, TLS1_2_VERSION);
        if (SSL_CTX_load_verify_locations(Ctx, tlsCa.c_str(), nullptr) != 1)
            throw std::runtime_error(TlsError("cannot read the authorities"));
        SSL_CTX_set_read_ahead(Ctx, 1);
        SSL_CTX_set_verify(Ctx, SSL_VERIFY_PEER, nullptr);
        Ssl = SSL_new(Ctx);
        if (Ssl == nullptr || SSL_set_fd(Ssl, Fd) != 1)
            throw std::runtime_error(TlsError("no session"));
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(Ssl), host.c_str());
        SSL_set_mode(Ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        if (SSL_connect(Ssl) != 1) throw std::runtime_error(TlsError("handshake failed"));
    }

    void SetBlocking(bool blocking) {
        const int flags = fcntl(Fd, F_GETFL);
        fcntl(Fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK);
    }

    // As send and recv: a count, 0 at the end, -1 with errno (EAGAIN when
    // dontWait and nothing can move now). Over TLS dontWait is the socket's
    // own non-blocking state.
    ssize_t Send(const char* data, size_t size, bool dontWait) {
        if (Ssl == nullptr)
            return send(Fd, data, size, MSG_NOSIGNAL | (dontWait ? MSG_DONTWAIT : 0));
        const int n = SSL_write(Ssl, data, static_cast<int>(size));
        return n > 0 ? n : TlsFailure(n);
    }
    ssize_t Receive(char* buffer, size_t size, bool dontWait) {
        if (Ssl == nullptr) return recv(Fd, buffer, size, dontWait ? MSG_DONTWAIT : 0);
        const int n = SSL_read(Ssl, buffer, static_cast<int>(size));
        return n > 0 ? n : TlsFailure(n);
    }
    ssize_t TlsFailure(int rc) {
        const int error = SSL_get_error(Ssl, rc);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            errno = EAGAIN;
            return -1;
        }
        if (error == SSL_ERROR_ZERO_RETURN) return 0;
        throw std::runtime_error(TlsError("read or write failed"));
    }

    int Fd = -1;
    std::vector<char> Buffer;
    SSL_CTX* Ctx = nullptr;
    SSL* Ssl = nullptr;
};

int RunFloor(const TOptions& o, uint64_t& checksum, int count) {
    TBareSession s(o.Host, o.Port, o.TlsCa);
    TlsSession = s.Session();
    s.Command("", false);  // greeting
    s.Command("USER " + o.User, false);
    if (s.Command("PASS " + o.Password, false) != '+')
        throw std::runtime_error("floor: login refused");
    // The program asks CAPA only on its pipelined road.
    if (o.Pipeline) s.Command("CAPA", true);
    s.Command("STAT", false);
    if (o.Pipeline) {
        s.Pipelined(count, o.Window);
    } else {
        for (int n = 1; n <= count; ++n) {
            const std::string number = std::to_string(n);
            s.Command("TOP " + number + " 0", true);
            s.Command("LIST " + number, false);
            s.Command("UIDL " + number, false);
        }
    }
    s.Command("QUIT", false);
    checksum += s.Total;
    return count;
}

// The floor parses nothing, not even STAT: it asks a client for the count once.
int CountOnce(const TOptions& o) {
    kalmuro::TPop3Client client;
    Configure(client, o);
    client.Login(60000);
    const int count = client.CountMessages();
    client.Quit();
    return count;
}

[[noreturn]] void Usage() {
    std::fprintf(stderr,
                 "usage: bench_pop3 --port P --user U --password PW [--host H]"
                 " [--mode ours|floor] [--runs R] [--hook 1] [--pipeline 1] [--window W]"
                 " [--tls-ca FILE]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) Usage();
        const std::string v = argv[++i];
        if (a == "--port")
            o.Port = std::atoi(v.c_str());
        else if (a == "--user")
            o.User = v;
        else if (a == "--password")
            o.Password = v;
        else if (a == "--host")
            o.Host = v;
        else if (a == "--mode")
            o.Mode = v;
        else if (a == "--runs")
            o.Runs = std::max(1, std::atoi(v.c_str()));
        else if (a == "--hook")
            o.Hook = v == "1";
        else if (a == "--pipeline")
            o.Pipeline = v == "1";
        else if (a == "--window")
            o.Window = std::max(1, std::atoi(v.c_str()));
        else if (a == "--tls-ca")
            o.TlsCa = v;
        else
            Usage();
    }
    if (o.User.empty() || (o.Mode != "ours" && o.Mode != "floor")) Usage();
    try {
        const int known = o.Mode == "floor" ? CountOnce(o) : 0;
        std::vector<double> seconds;
        uint64_t checksum = 0;
        int messages = 0;
        for (int run = 1; run <= o.Runs; ++run) {
            const auto start = Clock::now();
            messages = o.Mode == "ours" ? RunOurs(o, checksum) : RunFloor(o, checksum, known);
            const double s = std::chrono::duration<double>(Clock::now() - start).count();
            seconds.push_back(s);
            std::printf("run=%d seconds=%.4f\n", run, s);
        }
        std::sort(seconds.begin(), seconds.end());
        if (!TlsSession.empty()) std::printf("tls_session=%s\n", TlsSession.c_str());
        std::printf("mode=%s pipeline=%d messages=%d median_s=%.4f runs=%d checksum=%llu\n",
                    o.Mode.c_str(), o.Pipeline ? 1 : 0, messages, seconds[seconds.size() / 2], o.Runs,
                    static_cast<unsigned long long>(checksum));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_pop3: %s\n", e.what());
        return 1;
    }
    return 0;
}
