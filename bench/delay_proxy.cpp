// A loopback link with a fixed delay, for the latency benchmark: listens on
// 127.0.0.1, and every connection it accepts is carried to a server on
// 127.0.0.1 with each byte arriving exactly DELAY ms after it was sent, in
// either direction. Bandwidth is unlimited: a chunk read at time t is written
// at t + DELAY whatever came before it, so a long answer costs the delay once,
// not once per read. The TCP handshake of a real link costs a round trip
// before the server accepts: the connection to the server is opened three
// one-way delays after the client's, so the greeting reaches the client two
// round trips after its connect, as it would.
//
//   delay_proxy --listen PORT --target PORT --delay-ms D [--port-file F]
//
// PORT 0 for --listen picks a free port; --port-file receives the port
// number once the proxy is listening. Runs until killed (SIGTERM, SIGINT).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Reading stops while this much waits in one direction, as a full TCP
// window would stop the sender.
constexpr size_t kMaxQueued = size_t{8} << 20;

volatile sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

struct TChunk {
    Clock::time_point Due;
    std::string Bytes;  // empty: the sender's end of stream
};

// One direction of a connection: bytes read from From wait in Queue until
// due, then go to To.
struct TDirection {
    int From = -1, To = -1;
    std::deque<TChunk> Queue;
    size_t Queued = 0;
    size_t Sent = 0;  // of the front chunk
    bool ReadDone = false;   // From said end of stream (or failed)
    bool WriteDone = false;  // To was shut for writing
};

struct TConnection {
    int Client = -1, Server = -1;
    Clock::time_point ConnectAt;  // when the server side is opened
    TDirection Up, Down;          // client -> server, server -> client
    bool Broken = false;

    ~TConnection() {
        if (Client >= 0) close(Client);
        if (Server >= 0) close(Server);
    }
    bool Finished() const { return Broken || (Up.WriteDone && Down.WriteDone); }
};

void SetNoDelay(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Reads what From has; false when the connection must be dropped.
bool ReadInto(TDirection& d, Clock::duration delay) {
    char buffer[65536];
    const ssize_t n = recv(d.From, buffer, sizeof buffer, 0);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    const Clock::time_point due = Clock::now() + delay;
    d.Queue.push_back({due, std::string(buffer, static_cast<size_t>(n))});
    d.Queued += static_cast<size_t>(n);
    if (n == 0) d.ReadDone = true;
    return true;
}

// Writes what is due; false when the connection must be dropped.
bool WriteDue(TDirection& d, Clock::time_point now) {
    while (!d.Queue.empty() && d.Queue.front().Due <= now) {
        TChunk& chunk = d.Queue.front();
        if (chunk.Bytes.empty()) {
            shutdown(d.To, SHUT_WR);
            d.WriteDone = true;
            d.Queue.pop_front();
            return true;
        }
        const ssize_t n = send(d.To, chunk.Bytes.data() + d.Sent, chunk.Bytes.size() - d.Sent,
                               MSG_NOSIGNAL);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        d.Sent += static_cast<size_t>(n);
        if (d.Sent < chunk.Bytes.size()) return true;  // the socket is full
        d.Queued -= chunk.Bytes.size();
        d.Sent = 0;
        d.Queue.pop_front();
    }
    return true;
}

bool WaitsToWrite(const TDirection& d, Clock::time_point now) {
    return !d.Queue.empty() && d.Queue.front().Due <= now;
}

[[noreturn]] void Usage() {
    std::fprintf(stderr,
                 "usage: delay_proxy --listen PORT --target PORT --delay-ms D [--port-file F]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    int listenPort = -1, targetPort = -1;
    double delayMs = -1;
    std::string portFile;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--listen")
            listenPort = std::atoi(argv[i + 1]);
        else if (a == "--target")
            targetPort = std::atoi(argv[i + 1]);
        else if (a == "--delay-ms")
            delayMs = std::atof(argv[i + 1]);
        else if (a == "--port-file")
            portFile = argv[i + 1];
        else
            Usage();
    }
    if (argc % 2 == 0 || listenPort < 0 || targetPort <= 0 || delayMs < 0) Usage();
    const auto delay = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(delayMs));

    signal(SIGTERM, OnSignal);
    signal(SIGINT, OnSignal);
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address = Loopback(listenPort);
    socklen_t length = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 64) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("delay_proxy: listen");
        return 1;
    }
    SetNonBlocking(listener);
    if (!portFile.empty()) {
        // Written whole under another name first: a reader never sees half.
        const std::string partial = portFile + ".part";
        std::FILE* f = std::fopen(partial.c_str(), "w");
        if (f == nullptr) {
            std::perror("delay_proxy: port file");
            return 1;
        }
        std::fprintf(f, "%d\n", ntohs(address.sin_port));
        std::fclose(f);
        std::rename(partial.c_str(), portFile.c_str());
    }

    std::vector<std::unique_ptr<TConnection>> connections;
    std::vector<pollfd> fds;
    while (!gStop) {
        const Clock::time_point now = Clock::now();
        // Open the server side of connections whose handshake has "arrived".
        for (auto& c : connections) {
            if (c->Server >= 0 || c->Broken || c->ConnectAt > now) continue;
            c->Server = socket(AF_INET, SOCK_STREAM, 0);
            const sockaddr_in target = Loopback(targetPort);
            if (c->Server < 0 ||
                connect(c->Server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
                c->Broken = true;
                continue;
            }
            SetNoDelay(c->Server);
            SetNonBlocking(c->Server);
            c->Up.To = c->Down.From = c->Server;
        }
        for (auto& c : connections) {
            if (c->Broken) continue;
            if (c->Server >= 0 && (!WriteDue(c->Up, now) || !WriteDue(c->Down, now)))
                c->Broken = true;
        }
        std::erase_if(connections, [](const auto& c) { return c->Finished(); });

        // Wait for input, room to write what is due, or the next due time.
        Clock::time_point wake = now + std::chrono::seconds(1);
        fds.assign(1, pollfd{listener, POLLIN, 0});
        for (auto& c : connections) {
            if (c->Server < 0) {
                if (c->ConnectAt < wake) wake = c->ConnectAt;
            }
            for (TDirection* d : {&c->Up, &c->Down}) {
                short events = 0;
                if (!d->ReadDone && d->Queued < kMaxQueued) events |= POLLIN;
                if (d->From >= 0 && events != 0) fds.push_back({d->From, events, 0});
                if (d->To < 0 || d->Queue.empty()) continue;
                if (WaitsToWrite(*d, now))
                    fds.push_back({d->To, POLLOUT, 0});
                else if (d->Queue.front().Due < wake)
                    wake = d->Queue.front().Due;
            }
        }
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now);
        timespec ts{};
        if (wait.count() > 0) {
            ts.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
            ts.tv_nsec = static_cast<long>(wait.count() % 1000000000);
        }
        if (ppoll(fds.data(), fds.size(), &ts, nullptr) < 0 && errno != EINTR) {
            std::perror("delay_proxy: poll");
            return 1;
        }

        if (fds[0].revents & POLLIN) {
            for (;;) {
                const int fd = accept(listener, nullptr, nullptr);
                if (fd < 0) break;
                SetNoDelay(fd);
                SetNonBlocking(fd);
                auto c = std::make_unique<TConnection>();
                c->Client = fd;
                c->ConnectAt = Clock::now() + 3 * delay;
                c->Up.From = c->Down.To = fd;
                connections.push_back(std::move(c));
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if ((fds[i].events & POLLIN) == 0 || fds[i].revents == 0) continue;
            for (auto& c : connections) {
                for (TDirection* d : {&c->Up, &c->Down})
                    if (d->From == fds[i].fd && !d->ReadDone && !c->Broken && !ReadInto(*d, delay))
                        c->Broken = true;
            }
        }
    }
    return 0;
}
