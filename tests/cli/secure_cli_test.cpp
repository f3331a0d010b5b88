// kalmuro --check and --delete-blocked over POP3 over TLS and STLS against a
// Dovecot, and the certificate message that says which key to set.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/run_program.h"
#include "engine/engine_harness.h"
#include "support/dovecot_server.h"
#include "support/scripted_server.h"

namespace kalmuro::clitest {
namespace {

using enginetest::Account;
using enginetest::TTempHome;

TEST(SecureCli, CheckAndDeleteOverTlsAndTheCertificateKey) {
    test::TDovecotServer server;
    server.Tls = true;
    ASSERT_TRUE(server.AddUser("nora", "pw") && server.GenerateMail("nora", 6, 81) &&
                server.Start())
        << server.Error();
    const std::vector<test::TManifestEntry> manifest = server.Manifest("nora");
    // The child finds the test authority where it looks for the system's.
    setenv("SSL_CERT_FILE", server.CaFile().c_str(), 1);
    TTempHome home;

    // POP3 over TLS by name, one blocked sender deleted, then STLS.
    TMailAccount account = Account("Nora", server.TlsPort(), "nora", "pw");
    account.PopServer = "localhost";
    account.Security = TSecurity::Tls;
    SaveAccounts({account});
    home.Write("Mittenti.txt", manifest[1].FromAddress + "\r\n");
    TRunResult r = RunKalmuro({"--check", "--delete-blocked", "--home", home.Dir()});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_NE(r.Out.find("6 messaggi nuovi su un totale di 6 messaggi"), std::string::npos)
        << r.Out;
    const size_t left = manifest.size() - enginetest::FolderNames(home.Path("Cestino")).size();
    EXPECT_LT(left, manifest.size());

    account.Security = TSecurity::Stls;
    account.Port = std::to_string(server.Port());
    SaveAccounts({account});
    r = RunKalmuro({"--check", "--home", home.Dir()});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find(std::to_string(left) + " messaggi nuovi"), std::string::npos) << r.Out;

    // A certificate signed by itself: the message names the key to write,
    // and once it is written the check goes through.
    account.PopServer = "127.0.0.5";
    SaveAccounts({account});
    r = RunKalmuro({"--check", "--home", home.Dir()});
    EXPECT_EQ(r.ExitCode, 1);
    const std::string fingerprint = test::OpensslFingerprint("ip-127.0.0.5.crt");
    EXPECT_NE(r.Err.find("Il certificato del server 127.0.0.5 \xC3\xA8 autofirmato."),  // è
              std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find("scrivere Impronta1=" + fingerprint + " nella sezione [Accounts]"),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(ReadIniString("Accounts", "Impronta1", "none"), "none");

    WriteIniString("Accounts", "Impronta1", fingerprint);
    r = RunKalmuro({"--check", "--home", home.Dir()});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    unsetenv("SSL_CERT_FILE");
}

}  // namespace
}  // namespace kalmuro::clitest
