#include "mail/auth/loopback_redirect.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace kalmuro {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Decoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Waits for fd to be readable, slicing for the idle hook; false when the
// deadline passed.
bool WaitReadable(int fd, std::chrono::steady_clock::time_point deadline, const TOAuthWait& wait) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 100)));
        if (ready > 0) return true;
        if (wait.OnIdle) wait.OnIdle();
        if (wait.StopRequested && wait.StopRequested())
            throw EOAuthError(TOAuthFailure::Stopped, "Operazione interrotta");
    }
}

const char* const kTimedOut = "Nessuna risposta dal browser entro il tempo di attesa";

}  // namespace

std::map<std::string, std::string> ParseQuery(const std::string& target) {
    std::map<std::string, std::string> query;
    const size_t mark = target.find('?');
    if (mark == std::string::npos) return query;
    std::string_view rest = std::string_view(target).substr(mark + 1);
    rest = rest.substr(0, rest.find('#'));
    while (!rest.empty()) {
        const size_t amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        const size_t eq = pair.find('=');
        const std::string name = Decoded(pair.substr(0, eq));
        const std::string value = eq == std::string_view::npos ? "" : Decoded(pair.substr(eq + 1));
        if (!name.empty()) query.emplace(name, value);
        if (amp == std::string_view::npos) break;
        rest.remove_prefix(amp + 1);
    }
    return query;
}

TLoopbackRedirect::TLoopbackRedirect() {
    FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (FListen < 0 || bind(FListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(FListen, 4) != 0 ||
        getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const std::string why = std::strerror(errno);
        if (FListen >= 0) close(FListen);
        throw EOAuthError(TOAuthFailure::Browser,
                          "Impossibile attendere la risposta del browser: " + why);
    }
    FPort = ntohs(address.sin_port);
}

TLoopbackRedirect::~TLoopbackRedirect() {
    if (FListen >= 0) close(FListen);
}

std::string TLoopbackRedirect::RedirectUri() const {
    return "http://127.0.0.1:" + std::to_string(FPort) + "/";
}

std::map<std::string, std::string> TLoopbackRedirect::Wait(int32_t timeoutMs,
                                                           const TOAuthWait& wait) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (!WaitReadable(FListen, deadline, wait))
            throw EOAuthError(TOAuthFailure::Browser, kTimedOut);
        const int client = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        // The request line and headers: a browser sends them at once; a
        // connection that says nothing within a few seconds is dropped and
        // the wait goes on (a probe, a preconnect).
        std::string request;
        const auto requestDeadline =
            std::min(deadline, std::chrono::steady_clock::now() + std::chrono::seconds(10));
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384 &&
               WaitReadable(client, requestDeadline, wait)) {
            char buffer[4096];
            const ssize_t n = recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            request.append(buffer, static_cast<size_t>(n));
        }
        const size_t lineEnd = request.find("\r\n");
        const std::string line = request.substr(0, lineEnd);
        if (line.rfind("GET ", 0) != 0) {
            close(client);
            continue;
        }
        const size_t targetEnd = line.find(' ', 4);
        const std::string target = line.substr(4, targetEnd == std::string::npos ? std::string::npos
                                                                                  : targetEnd - 4);
        const std::string body = kRedirectPage;
        const std::string answer =
            "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" +
            body;
        (void)!send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
        close(client);
        close(FListen);
        FListen = -1;
        return ParseQuery(target);
    }
}

std::string CodeFromRedirect(const std::map<std::string, std::string>& query,
                             const std::string& state) {
    const auto value = [&query](const char* name) {
        const auto it = query.find(name);
        return it == query.end() ? std::string() : it->second;
    };
    // The state first: an answer to someone else's request says nothing.
    if (value("state") != state || state.empty())
        throw EOAuthError(TOAuthFailure::Browser,
                          "La risposta del browser non corrisponde alla richiesta di accesso");
    if (const std::string error = value("error"); !error.empty()) {
        const std::string description = value("error_description");
        throw EOAuthError(TOAuthFailure::Browser,
                          (error == "access_denied" ? "Accesso negato (" : "Accesso non riuscito (") +
                              error + ")" + (description.empty() ? "" : ": " + description));
    }
    const std::string code = value("code");
    if (code.empty())
        throw EOAuthError(TOAuthFailure::Browser, "Il browser non ha restituito il codice di accesso");
    return code;
}

}  // namespace kalmuro
