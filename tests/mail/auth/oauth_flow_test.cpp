// The OAuth client against the test authorization server over HTTPS: the
// browser flow through the stand-in browser, the device flow, refreshes that
// rotate, and every way the server or the browser can fail.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>

#include "mail/auth/loopback_redirect.h"
#include "mail/auth/oauth_client.h"
#include "support/auth_server.h"
#include "support/scripted_server.h"

namespace kalmuro::test {
namespace {

class OAuthFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The test CA as the system's trust store, as a user would set it.
        setenv("SSL_CERT_FILE", (TestCertificateDir() + "/ca.pem").c_str(), 1);
        Config = {Server.Url("/authorize"), Server.Url("/token"), Server.Url("/devicecode"),
                  "pop offline_access", "client-1", ""};
        Wait.TimeoutMs = 5000;
    }
    void TearDown() override { unsetenv("SSL_CERT_FILE"); }

    // One browser sign-in: the listener, the stand-in browser in its own
    // thread, the wait, the code and the exchange.
    TOAuthTokens SignIn(std::string* page = nullptr) {
        TLoopbackRedirect listener;
        const std::string verifier = MakeCodeVerifier();
        const std::string state = MakeState();
        const std::string address = AuthorizationAddress(Config, listener.RedirectUri(), state,
                                                         CodeChallengeS256(verifier));
        auto browser = std::async(std::launch::async, [address] { return BrowseAndFollow(address); });
        const auto query = listener.Wait(5000, Wait);
        const std::string shown = browser.get();
        if (page != nullptr) *page = shown;
        const std::string code = CodeFromRedirect(query, state);
        return ExchangeAuthorizationCode(Config, code, verifier, listener.RedirectUri(), Wait);
    }

    static TOAuthFailure FailureOf(const std::function<void()>& f, std::string* text = nullptr) {
        try {
            f();
        } catch (const EOAuthError& e) {
            if (text != nullptr) *text = e.what();
            return e.Failure;
        }
        ADD_FAILURE() << "no EOAuthError";
        return TOAuthFailure::Provider;
    }

    TTestAuthServer Server;
    TOAuthClientConfig Config;
    TOAuthWait Wait;
};

TEST_F(OAuthFlowTest, BrowserSignInGetsSignedTokensAndThePageSaysSo) {
    std::string page;
    const TOAuthTokens tokens = SignIn(&page);
    EXPECT_NE(page.find("Puoi chiudere questa finestra"), std::string::npos) << page;
    EXPECT_TRUE(Server.Valid(tokens.AccessToken));
    EXPECT_EQ(tokens.RefreshToken, Server.RefreshToken());
    EXPECT_NEAR(static_cast<double>(tokens.Expiry), static_cast<double>(OAuthNow() + 600), 5);
    EXPECT_EQ(AddressInToken(tokens.AccessToken), "alice@example.org");
    // One GET for the browser, one POST for the code.
    EXPECT_EQ(Server.Requests("/authorize"), 1u);
    EXPECT_EQ(Server.Grants(), std::vector<std::string>{"authorization_code"});
}

TEST_F(OAuthFlowTest, AWrongVerifierIsRefused) {
    TLoopbackRedirect listener;
    const std::string state = MakeState();
    const std::string address =
        AuthorizationAddress(Config, listener.RedirectUri(), state, CodeChallengeS256("right"));
    auto browser = std::async(std::launch::async, [address] { return BrowseAndFollow(address); });
    const std::string code = CodeFromRedirect(listener.Wait(5000, Wait), state);
    browser.get();
    EXPECT_EQ(FailureOf([&] {
                  ExchangeAuthorizationCode(Config, code, "wrong", listener.RedirectUri(), Wait);
              }),
              TOAuthFailure::InvalidGrant);
}

TEST_F(OAuthFlowTest, AForgedStateAndADeniedConsentEndTheSignInWithoutAnExchange) {
    struct TCase {
        bool Deny, Forge;
        const char* Text;
    };
    for (const TCase& c :
         {TCase{false, true, "La risposta del browser non corrisponde alla richiesta di accesso"},
          TCase{true, false, "Accesso negato (access_denied): The user denied access"}}) {
        Server.Deny = c.Deny;
        Server.WrongState = c.Forge;
        std::string text;
        EXPECT_EQ(FailureOf([&] { SignIn(); }, &text), TOAuthFailure::Browser);
        EXPECT_EQ(text, c.Text);
    }
    EXPECT_EQ(Server.Grants(), std::vector<std::string>{});
}

TEST_F(OAuthFlowTest, RefreshesRotateAndAnOldRefreshTokenIsAGoneGrant) {
    const TOAuthTokens first = SignIn();
    const TOAuthTokens second = RefreshAccessToken(Config, first.RefreshToken, Wait);
    EXPECT_TRUE(Server.Valid(second.AccessToken));
    EXPECT_NE(second.RefreshToken, first.RefreshToken);
    EXPECT_FALSE(second.RefreshToken.empty());
    std::string text;
    EXPECT_EQ(FailureOf([&] { RefreshAccessToken(Config, first.RefreshToken, Wait); }, &text),
              TOAuthFailure::InvalidGrant);
    EXPECT_EQ(text, "Il servizio di accesso ha rifiutato la richiesta (invalid_grant): Token has "
                    "been expired or revoked.");
    Server.Rotate = false;
    EXPECT_EQ(RefreshAccessToken(Config, second.RefreshToken, Wait).RefreshToken, "");
}

TEST_F(OAuthFlowTest, AServerErrorAndAStallAreNetworkFailuresAndStopEndsTheWait) {
    Server.SetRefreshToken("rt-x");
    Server.Mode = TTestAuthServer::TMode::ServerError;
    EXPECT_EQ(FailureOf([&] { RefreshAccessToken(Config, "rt-x", Wait); }), TOAuthFailure::Network);

    Server.Mode = TTestAuthServer::TMode::Stall;
    Wait.TimeoutMs = 700;
    int idles = 0;
    Wait.OnIdle = [&idles] { ++idles; };
    auto start = std::chrono::steady_clock::now();
    std::string text;
    EXPECT_EQ(FailureOf([&] { RefreshAccessToken(Config, "rt-x", Wait); }, &text),
              TOAuthFailure::Network);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    EXPECT_GE(idles, 3) << "the idle hook runs while the answer is awaited";
    EXPECT_NE(text.find("127.0.0.1"), std::string::npos) << text;

    Wait.TimeoutMs = 60000;
    start = std::chrono::steady_clock::now();
    Wait.StopRequested = [start] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300);
    };
    EXPECT_EQ(FailureOf([&] { RefreshAccessToken(Config, "rt-x", Wait); }), TOAuthFailure::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

TEST_F(OAuthFlowTest, PlainHttpIsRefusedBeforeAnythingIsSentAndAnUntrustedServerToo) {
    Config.TokenUrl = "http://127.0.0.1:" + std::to_string(Server.Port()) + "/token";
    EXPECT_EQ(FailureOf([&] { RefreshAccessToken(Config, "rt", Wait); }), TOAuthFailure::Insecure);
    EXPECT_EQ(Server.Requests("/token"), 0u);
    // Without the test CA the certificate cannot be verified: never sent.
    Config.TokenUrl = Server.Url("/token");
    setenv("SSL_CERT_FILE", "/nonexistent/ca.pem", 1);
    setenv("SSL_CERT_DIR", "/nonexistent", 1);
    EXPECT_EQ(FailureOf([&] { RefreshAccessToken(Config, "rt", Wait); }), TOAuthFailure::Network);
    unsetenv("SSL_CERT_DIR");
    EXPECT_EQ(Server.Requests("/token"), 0u);
}

TEST_F(OAuthFlowTest, DeviceFlowPollsUntilGranted) {
    Server.PendingPolls = 1;
    const TDeviceAuthorization device = StartDeviceAuthorization(Config, Wait);
    EXPECT_EQ(device.UserCode, "KLMR-2468");
    EXPECT_EQ(device.VerificationUri, Server.Url("/device"));
    const TOAuthTokens tokens = PollDeviceToken(Config, device, Wait);
    EXPECT_TRUE(Server.Valid(tokens.AccessToken));
    EXPECT_EQ(tokens.RefreshToken, Server.RefreshToken());
    EXPECT_EQ(Server.Grants().size(), 2u);  // pending, then granted
}

TEST(LoopbackRedirect, ListensOnLoopbackOnlyAndTimesOut) {
    TLoopbackRedirect listener;
    EXPECT_EQ(listener.RedirectUri(), "http://127.0.0.1:" + std::to_string(listener.Port()) + "/");
    TOAuthWait wait;
    std::string text;
    try {
        listener.Wait(200, wait);
        ADD_FAILURE() << "no time-out";
    } catch (const EOAuthError& e) {
        EXPECT_EQ(e.Failure, TOAuthFailure::Browser);
    }
}

TEST(OAuthParsing, QueriesAndTokenAnswers) {
    const auto q = ParseQuery("/?code=a%2Fb+c&state=s&state=t&empty&x=%zz#frag");
    EXPECT_EQ(q.at("code"), "a/b c");
    EXPECT_EQ(q.at("state"), "s");
    EXPECT_EQ(q.at("empty"), "");
    EXPECT_EQ(q.at("x"), "%zz");
    EXPECT_EQ(ParseQuery("/").size(), 0u);

    struct TCase {
        long Status;
        const char* Body;
        bool Ok;
        TOAuthFailure Failure;
    };
    for (const TCase& c : {
             TCase{200, R"({"access_token":"a","expires_in":"30"})", true, {}},
             TCase{200, R"({"access_token":"a"})", true, {}},
             TCase{200, R"({"token_type":"Bearer"})", false, TOAuthFailure::Provider},
             TCase{200, "not json", false, TOAuthFailure::Provider},
             TCase{400, R"({"error":"invalid_grant"})", false, TOAuthFailure::InvalidGrant},
             TCase{401, R"({"error":"invalid_client"})", false, TOAuthFailure::Provider},
             TCase{503, "<html>", false, TOAuthFailure::Network},
             TCase{302, "", false, TOAuthFailure::Provider},
         }) {
        SCOPED_TRACE(c.Body);
        try {
            const TOAuthTokens t = ParseTokenAnswer({c.Status, c.Body}, 1000);
            EXPECT_TRUE(c.Ok);
            EXPECT_EQ(t.AccessToken, "a");
            EXPECT_EQ(t.Expiry, std::string(c.Body).find("30") != std::string::npos ? 1030 : 4600);
        } catch (const EOAuthError& e) {
            EXPECT_FALSE(c.Ok);
            EXPECT_EQ(e.Failure, c.Failure);
        }
    }
}

}  // namespace
}  // namespace kalmuro::test
