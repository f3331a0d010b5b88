// kalmuro --check --delete-blocked --verbose for an OAuth account on a
// Dovecot that checks the bearer tokens itself (POP3 over TLS): the refresh
// before the session, the deletion, and not one token, access or refresh,
// on either stream.
#include <gtest/gtest.h>

#include "cli/run_program.h"
#include "engine/engine_harness.h"
#include "mail/auth/sasl.h"
#include "mail/settings.h"
#include "support/auth_server.h"
#include "support/dovecot_server.h"

namespace kalmuro::clitest {
namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(OAuthDovecotCli, CheckAndDeletionWithoutATokenInTheOutput) {
    test::TDovecotServer server;
    server.Tls = true;
    server.OAuthKey = test::kAuthSigningKey;
    ASSERT_TRUE(server.AddUser("alice", "unused") && server.GenerateMail("alice", 5, 97) &&
                server.Start())
        << server.Error();
    test::TTestAuthServer auth{"alice"};
    auth.SetRefreshToken("rt-seed");

    enginetest::TTempHome home;
    TMailAccount a = enginetest::Account("Nuvola", server.TlsPort(), "alice", "");
    a.PopServer = "localhost";
    a.Security = TSecurity::Tls;
    a.Access = TAccessMethod::OAuth;
    a.OAuth = {kProviderCustom, "client-1", "", auth.Url("/authorize"), auth.Url("/token"), "",
               "pop offline_access"};
    a.RefreshToken = "rt-seed";
    SaveAccounts({a});
    WriteIniBool(kSectionSetup, "AutoDelete", false);
    const std::vector<test::TManifestEntry> manifest = server.Manifest("alice");
    ASSERT_EQ(manifest.size(), 5u);
    size_t blocked = 0;
    for (const test::TManifestEntry& m : manifest) blocked += m.FromAddress == manifest[1].FromAddress;
    home.Write("Mittenti.txt", manifest[1].FromAddress + "\r\n");

    const TRunResult r =
        RunKalmuro({"--check", "--delete-blocked", "--verbose", "--home", home.Dir()}, {}, 30000,
                   "/dev/null", {"SSL_CERT_FILE=" + server.CaFile()});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(Count(r.Out, "Ultima verifica alle"), 2u) << r.Out;
    EXPECT_EQ(Count(server.Log(), "method=XOAUTH2, "), 3u) << "check, deletion, check";
    const std::string maildir = server.Maildir("alice");
    EXPECT_EQ(enginetest::FolderNames(maildir + "/cur").size() +
                  enginetest::FolderNames(maildir + "/new").size(),
              5u - blocked);
    EXPECT_EQ(enginetest::FolderNames(home.Path("Cestino")).size(), blocked);

    ASSERT_EQ(auth.Grants(), std::vector<std::string>{"refresh_token"});
    std::vector<std::string> secrets = auth.AccessTokens();
    // The wire form too, as the login sends it.
    for (const std::string& token : auth.AccessTokens())
        secrets.push_back(Base64Encode(XOAuth2Response("alice", token)));
    secrets.push_back("rt-seed");
    secrets.push_back(auth.RefreshToken());
    for (const std::string& secret : secrets) {
        EXPECT_EQ(r.Out.find(secret), std::string::npos) << secret;
        EXPECT_EQ(r.Err.find(secret), std::string::npos) << secret;
    }
    EXPECT_EQ(ReadIniScrambled(kSectionAccounts, "TokenRinnovo1", "", PasswordKey),
              auth.RefreshToken());
}

}  // namespace
}  // namespace kalmuro::clitest
