// A test authorization server on 127.0.0.1, over HTTPS with the test CA's
// server.crt: the authorization endpoint (answers with the redirect at
// once, as a user who consents would), the token endpoint (codes with PKCE,
// refreshes that rotate refresh tokens, the device-code grant), the device
// endpoint and an introspection endpoint for a mail server. Access tokens
// are HS256 JWTs signed with kAuthSigningKey, expiring after ExpirySeconds.
// It can be told to answer invalid_grant, a 500, or nothing at all.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kalmuro::test {

inline constexpr const char* kAuthSigningKey = "kalmuro-test-signing-key-0123456789";

class TTestAuthServer {
public:
    enum class TMode { Normal, InvalidGrant, ServerError, Stall };

    explicit TTestAuthServer(std::string user = "alice@example.org");
    ~TTestAuthServer();
    TTestAuthServer(const TTestAuthServer&) = delete;
    TTestAuthServer& operator=(const TTestAuthServer&) = delete;

    int32_t Port() const { return FPort; }
    std::string Url(const std::string& path) const;

    std::atomic<TMode> Mode{TMode::Normal};
    std::atomic<int> ExpirySeconds{600};
    std::atomic<bool> Rotate{true};
    // The authorization endpoint redirects with error=access_denied, or
    // with a state of its own.
    std::atomic<bool> Deny{false};
    std::atomic<bool> WrongState{false};
    // Device-code polls answered authorization_pending before the grant.
    std::atomic<int> PendingPolls{1};

    // The refresh token now valid (older ones get invalid_grant).
    std::string RefreshToken() const;
    void SetRefreshToken(const std::string& token);
    // Every access token issued, in order.
    std::vector<std::string> AccessTokens() const;
    // Requests per path ("/token"...), and the grant_type of each token request.
    size_t Requests(const std::string& path) const;
    std::vector<std::string> Grants() const;
    // A JWT for user expiring at exp (seconds since the epoch).
    static std::string MakeJwt(const std::string& user, int64_t exp);
    // Whether the token is one of this server's, signed and unexpired.
    bool Valid(const std::string& token) const;

private:
    void AcceptLoop();
    void Serve(int fd);
    std::string Issue(bool withRefresh);

    std::string FUser;
    int FListen = -1;
    int32_t FPort = 0;
    void* FContext = nullptr;  // SSL_CTX
    std::atomic<bool> FStopping{false};
    std::thread FThread;
    std::vector<std::thread> FWorkers;
    mutable std::mutex FMutex;
    std::map<std::string, size_t> FRequests;
    std::vector<std::string> FGrants, FAccessTokens;
    std::string FRefresh;
    int FSerial = 0;
    // The codes handed out: code -> (challenge, redirect).
    std::map<std::string, std::pair<std::string, std::string>> FCodes;
    int FPolls = 0;
};

// The stand-in browser: fetches the authorization address (trusting the
// test CA), follows its redirect to the loopback listener, and returns the
// page that answered, or "error: ..." when a step failed.
std::string BrowseAndFollow(const std::string& address);

}  // namespace kalmuro::test
