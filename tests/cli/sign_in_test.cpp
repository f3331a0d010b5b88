// kalmuro --sign-in N against the test authorization server: the device
// flow, the browser flow, the gone grant named by a check, and no token on
// either stream.
#include <gtest/gtest.h>

#include <future>

#include "mail/accounts.h"
#include "mail/settings.h"
#include "run_program.h"
#include "support/auth_server.h"
#include "support/scripted_server.h"
#include "support/temp_home.h"

namespace kalmuro::clitest {
namespace {

class SignInCli : public ::testing::Test {
protected:
    void SetUp() override {
        TMailAccount a;
        a.AccountName = "Nuvola";
        a.PopServer = "127.0.0.1";
        a.UserId = "alice";
        a.Port = "1";
        a.Access = TAccessMethod::OAuth;
        a.OAuth = {kProviderCustom, "client-1", "", Auth.Url("/authorize"), Auth.Url("/token"),
                   Auth.Url("/devicecode"), "pop offline_access"};
        SetHomeDir(Home.Dir());
        SaveAccounts({a});
        SetHomeDir("");
    }
    TRunResult Run(const std::vector<std::string>& args,
                   const std::function<void(const std::string&)>& onOut = {}) {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"--home", Home.Dir()});
        return RunKalmuro(all, {}, 30000, "/dev/null",
                          {"SSL_CERT_FILE=" + test::TestCertificateDir() + "/ca.pem"},
                          KALMURO_EXE, onOut);
    }
    void ExpectNoTokenIn(const TRunResult& r) {
        for (const std::string& token : Auth.AccessTokens()) {
            EXPECT_EQ(r.Out.find(token), std::string::npos);
            EXPECT_EQ(r.Err.find(token), std::string::npos);
        }
        EXPECT_EQ(r.Out.find(Auth.RefreshToken()), std::string::npos);
        SetHomeDir(Home.Dir());
        EXPECT_EQ(ReadIniScrambled(kSectionAccounts, "TokenRinnovo1", "", PasswordKey),
                  Auth.RefreshToken());
        SetHomeDir("");
    }
    testing::TempHome Home;
    test::TTestAuthServer Auth{"alice"};
};

TEST_F(SignInCli, TheDeviceFlowPrintsTheCodeAndStoresTheRefreshToken) {
    const TRunResult r = Run({"--sign-in", "1"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("inserire il codice KLMR-2468"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Accesso eseguito come alice"), std::string::npos) << r.Out;
    ExpectNoTokenIn(r);
}

TEST_F(SignInCli, WithoutADeviceEndpointTheAddressIsPrintedForTheBrowser) {
    SetHomeDir(Home.Dir());
    TArrayOfMailAccount accounts;
    LoadAccounts(accounts);
    accounts[0].OAuth.DeviceUrl.clear();
    SaveAccounts(accounts);
    SetHomeDir("");
    const std::string prompt = "Aprire nel browser questo indirizzo:\n";
    std::future<std::string> page;
    const TRunResult r = Run({"--sign-in", "1"}, [&](const std::string& out) {
        const size_t at = out.find(prompt);
        const size_t end = at == std::string::npos ? at : out.find('\n', at + prompt.size());
        if (end == std::string::npos || page.valid()) return;
        // The user's browser, while the program waits on its redirect.
        page = std::async(std::launch::async, test::BrowseAndFollow,
                          out.substr(at + prompt.size(), end - at - prompt.size()));
    });
    ASSERT_TRUE(page.valid()) << r.Out << r.Err;
    EXPECT_EQ(page.get().rfind("error:", 0), std::string::npos);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("Accesso eseguito come alice"), std::string::npos) << r.Out;
    ExpectNoTokenIn(r);
}

TEST_F(SignInCli, AGoneGrantMakesTheCheckNameTheCommand) {
    ASSERT_EQ(Run({"--sign-in", "1"}).ExitCode, 0);
    Auth.Mode = test::TTestAuthServer::TMode::InvalidGrant;
    const TRunResult r = Run({"--check", "--verbose"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("Accesso scaduto per Nuvola: eseguire kalmuro --sign-in 1"),
              std::string::npos)
        << r.Err;
    for (const std::string& token : Auth.AccessTokens()) EXPECT_EQ(r.Err.find(token), std::string::npos);
}

TEST_F(SignInCli, BadNumbersAndAPasswordAccountAreRefused) {
    EXPECT_EQ(Run({"--sign-in", "x"}).ExitCode, 2);
    EXPECT_EQ(Run({"--sign-in", "1", "--check"}).ExitCode, 2);
    const TRunResult r = Run({"--sign-in", "7"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("nessun account con il numero 7"), std::string::npos) << r.Err;
}

}  // namespace
}  // namespace kalmuro::clitest
