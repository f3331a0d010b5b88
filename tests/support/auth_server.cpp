#include "support/auth_server.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "mail/auth/loopback_redirect.h"
#include "mail/auth/oauth_client.h"
#include "mail/auth/sasl.h"
#include "support/scripted_server.h"

namespace kalmuro::test {

namespace {

std::string Base64Url(std::string_view bytes) {
    std::string text = Base64Encode(bytes);
    for (char& c : text) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    while (!text.empty() && text.back() == '=') text.pop_back();
    return text;
}

std::string Hmac(const std::string& data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), kAuthSigningKey, static_cast<int>(std::strlen(kAuthSigningKey)),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), out, &length);
    return std::string(reinterpret_cast<char*>(out), length);
}

int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct TRequest {
    std::string Method, Target, Path, Body;
};

bool ReadRequest(SSL* ssl, TRequest& request) {
    std::string data;
    size_t headerEnd;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        char buffer[4096];
        const int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n <= 0 || data.size() > 65536) return false;
        data.append(buffer, static_cast<size_t>(n));
    }
    const std::string head = data.substr(0, headerEnd);
    size_t length = 0;
    for (size_t at = 0; at < head.size();) {
        const size_t end = std::min(head.find("\r\n", at), head.size());
        std::string line = head.substr(at, end - at);
        for (size_t i = 0; i < line.find(':') && i < line.size(); ++i)
            line[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
        if (line.rfind("content-length:", 0) == 0) length = std::stoul(line.substr(15));
        at = end + 2;
    }
    request.Body = data.substr(headerEnd + 4);
    while (request.Body.size() < length) {
        char buffer[4096];
        const int n = SSL_read(ssl, buffer, sizeof buffer);
        if (n <= 0) return false;
        request.Body.append(buffer, static_cast<size_t>(n));
    }
    const size_t space1 = head.find(' '), space2 = head.find(' ', space1 + 1);
    request.Method = head.substr(0, space1);
    request.Target = head.substr(space1 + 1, space2 - space1 - 1);
    request.Path = request.Target.substr(0, request.Target.find('?'));
    return true;
}

void Answer(SSL* ssl, int status, const std::string& body, const std::string& extra = "") {
    const char* reason = status == 200 ? "OK" : status == 302 ? "Found" : status == 400 ? "Bad Request"
                                                                                         : "Error";
    const std::string text = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                             "\r\nContent-Type: application/json\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\nConnection: close\r\n" + extra +
                             "\r\n" + body;
    SSL_write(ssl, text.data(), static_cast<int>(text.size()));
}

std::string Error(const std::string& code, const std::string& description) {
    return nlohmann::json{{"error", code}, {"error_description", description}}.dump();
}

}  // namespace

TTestAuthServer::TTestAuthServer(std::string user) : FUser(std::move(user)) {
    const std::string dir = TestCertificateDir();
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate_file(context, (dir + "/server.crt").c_str(), SSL_FILETYPE_PEM);
    SSL_CTX_use_PrivateKey_file(context, (dir + "/server.key").c_str(), SSL_FILETYPE_PEM);
    FContext = context;
    FListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(FListen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(FListen, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(FListen, 16) != 0 ||
        getsockname(FListen, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("the test authorization server cannot listen");
    FPort = ntohs(address.sin_port);
    FThread = std::thread([this] { AcceptLoop(); });
}

TTestAuthServer::~TTestAuthServer() {
    FStopping = true;
    shutdown(FListen, SHUT_RDWR);
    FThread.join();
    for (std::thread& t : FWorkers) t.join();
    close(FListen);
    SSL_CTX_free(static_cast<SSL_CTX*>(FContext));
}

std::string TTestAuthServer::Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(FPort) + path;
}

std::string TTestAuthServer::RefreshToken() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FRefresh;
}

void TTestAuthServer::SetRefreshToken(const std::string& token) {
    std::lock_guard<std::mutex> lock(FMutex);
    FRefresh = token;
}

std::vector<std::string> TTestAuthServer::AccessTokens() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FAccessTokens;
}

size_t TTestAuthServer::Requests(const std::string& path) const {
    std::lock_guard<std::mutex> lock(FMutex);
    const auto it = FRequests.find(path);
    return it == FRequests.end() ? 0 : it->second;
}

std::vector<std::string> TTestAuthServer::Grants() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FGrants;
}

std::string TTestAuthServer::MakeJwt(const std::string& user, int64_t exp) {
    const std::string header = Base64Url(R"({"alg":"HS256","typ":"JWT"})");
    const std::string payload = Base64Url(
        nlohmann::json{{"sub", user}, {"email", user}, {"exp", exp}, {"iat", Now()},
                       {"iss", "kalmuro-test"}}
            .dump());
    return header + "." + payload + "." + Base64Url(Hmac(header + "." + payload));
}

bool TTestAuthServer::Valid(const std::string& token) const {
    const size_t last = token.rfind('.');
    if (last == std::string::npos || Base64Url(Hmac(token.substr(0, last))) != token.substr(last + 1))
        return false;
    const size_t first = token.find('.');
    std::string payload = token.substr(first + 1, last - first - 1);
    for (char& c : payload) c = c == '-' ? '+' : c == '_' ? '/' : c;
    while (payload.size() % 4 != 0) payload += '=';
    const auto json = nlohmann::json::parse(Base64Decode(payload).value_or(""), nullptr, false);
    return json.is_object() && json.value("exp", int64_t{0}) > Now();
}

std::string TTestAuthServer::Issue(bool withRefresh) {
    // Called with FMutex held.
    const std::string access = MakeJwt(FUser, Now() + ExpirySeconds.load());
    FAccessTokens.push_back(access);
    nlohmann::json answer = {{"access_token", access},
                             {"token_type", "Bearer"},
                             {"expires_in", ExpirySeconds.load()}};
    if (withRefresh) {
        FRefresh = "rt-" + std::to_string(++FSerial);
        answer["refresh_token"] = FRefresh;
    }
    return answer.dump();
}

void TTestAuthServer::AcceptLoop() {
    while (!FStopping) {
        pollfd p{FListen, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const int fd = accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        FWorkers.emplace_back([this, fd] {
            Serve(fd);
            close(fd);
        });
    }
}

void TTestAuthServer::Serve(int fd) {
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(FContext));
    SSL_set_fd(ssl, fd);
    TRequest request;
    if (SSL_accept(ssl) != 1 || !ReadRequest(ssl, request)) {
        SSL_free(ssl);
        return;
    }
    const auto form = ParseQuery("?" + request.Body);
    const auto field = [&form](const char* name) {
        const auto it = form.find(name);
        return it == form.end() ? std::string() : it->second;
    };
    std::unique_lock<std::mutex> lock(FMutex);
    ++FRequests[request.Path];
    if (request.Path == "/authorize") {
        const auto query = ParseQuery(request.Target);
        const auto q = [&query](const char* name) {
            const auto it = query.find(name);
            return it == query.end() ? std::string() : it->second;
        };
        const std::string code = "code-" + std::to_string(++FSerial);
        FCodes[code] = {q("code_challenge"), q("redirect_uri")};
        const std::string state = WrongState ? "forged" : q("state");
        const std::string target =
            q("redirect_uri") + "?" +
            (Deny ? FormEncode({{"error", "access_denied"},
                                {"error_description", "The user denied access"},
                                {"state", state}})
                  : FormEncode({{"code", code}, {"state", state}}));
        lock.unlock();
        Answer(ssl, 302, "", "Location: " + target + "\r\n");
    } else if (request.Path == "/token" || request.Path == "/devicecode") {
        if (request.Path == "/token") FGrants.push_back(field("grant_type"));
        const TMode mode = Mode;
        if (mode == TMode::Stall) {
            lock.unlock();
            while (!FStopping) {
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 50) > 0) {
                    char c;
                    if (recv(fd, &c, 1, MSG_PEEK) <= 0) break;  // the client gave up
                }
            }
        } else if (mode == TMode::ServerError) {
            lock.unlock();
            Answer(ssl, 500, "<html>Internal Server Error</html>");
        } else if (request.Path == "/devicecode") {
            FPolls = 0;
            lock.unlock();
            Answer(ssl, 200,
                   nlohmann::json{{"device_code", "dev-1"},
                                  {"user_code", "KLMR-2468"},
                                  {"verification_uri", Url("/device")},
                                  {"interval", 1},
                                  {"expires_in", 60}}
                       .dump());
        } else {
            const std::string grant = field("grant_type");
            std::string body;
            int status = 200;
            if (field("client_id").empty()) {
                status = 400;
                body = Error("invalid_client", "no client");
            } else if (grant == "authorization_code") {
                const auto it = FCodes.find(field("code"));
                if (it == FCodes.end() || it->second.second != field("redirect_uri") ||
                    CodeChallengeS256(field("code_verifier")) != it->second.first) {
                    status = 400;
                    body = Error("invalid_grant", "bad code or verifier");
                } else {
                    FCodes.erase(it);
                    body = Issue(true);
                }
            } else if (grant == "refresh_token") {
                if (mode == TMode::InvalidGrant || field("refresh_token") != FRefresh) {
                    status = 400;
                    body = Error("invalid_grant", "Token has been expired or revoked.");
                } else {
                    body = Issue(Rotate);
                }
            } else if (grant == "urn:ietf:params:oauth:grant-type:device_code") {
                if (FPolls++ < PendingPolls) {
                    status = 400;
                    body = Error("authorization_pending", "waiting");
                } else {
                    body = Issue(true);
                }
            } else {
                status = 400;
                body = Error("unsupported_grant_type", grant);
            }
            lock.unlock();
            Answer(ssl, status, body);
        }
    } else if (request.Path == "/introspect") {
        lock.unlock();
        const std::string token = field("token");
        Answer(ssl, 200,
               Valid(token) ? nlohmann::json{{"active", true}, {"username", FUser},
                                             {"email", FUser}}
                                  .dump()
                            : nlohmann::json{{"active", false}}.dump());
    } else {
        lock.unlock();
        Answer(ssl, 404, Error("not_found", request.Path));
    }
    SSL_shutdown(ssl);
    SSL_free(ssl);
}

std::string BrowseAndFollow(const std::string& address) {
    auto fetch = [](const std::string& url, std::string& location) {
        CURL* easy = curl_easy_init();
        std::string body;
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_CAINFO, (TestCertificateDir() + "/ca.pem").c_str());
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 10000L);
        curl_easy_setopt(
            easy, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* t) {
                static_cast<std::string*>(t)->append(d, s * n);
                return s * n;
            });
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
        const CURLcode result = curl_easy_perform(easy);
        char* redirect = nullptr;
        curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &redirect);
        location = redirect != nullptr ? redirect : "";
        curl_easy_cleanup(easy);
        if (result != CURLE_OK) return std::string("error: ") + curl_easy_strerror(result);
        return body;
    };
    std::string location;
    const std::string first = fetch(address, location);
    if (first.rfind("error:", 0) == 0) return first;
    if (location.empty()) return "error: no redirect";
    std::string ignored;
    return fetch(location, ignored);
}

}  // namespace kalmuro::test
