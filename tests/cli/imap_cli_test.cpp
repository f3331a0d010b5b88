// The command line with an IMAP account: --check prints what it prints for
// the POP3 account of the same mailbox, and --delete-blocked cleans it, the
// blocked messages moved into the server's Junk folder.
#include <gtest/gtest.h>

#include "cli/run_program.h"
#include "engine/engine_harness.h"
#include "mail/imap/imap_client.h"
#include "mail/mime/header_list.h"
#include "support/dovecot_server.h"

namespace kalmuro::clitest {
namespace {

using enginetest::Account;
using enginetest::TTempHome;

// Every line but the summaries, which hold the time of the check.
std::vector<std::string> Rows(const TRunResult& r) {
    std::vector<std::string> rows;
    for (const std::string& line : r.OutLines())
        if (line.find("Ultima verifica alle") == std::string::npos) rows.push_back(line);
    return rows;
}

size_t FolderSize(const test::TDovecotServer& server, const std::string& user,
                  const std::string& folder) {
    TImapClient c;
    c.Host = "127.0.0.1";
    c.Port = server.ImapPort();
    c.ReadTimeout = 10000;
    c.Username = user;
    c.Password = "pw";
    c.Login(5000);
    const size_t exists = c.Examine(folder).Exists;
    c.Logout();
    return exists;
}

TEST(ImapCommandLine, CheckPrintsWhatPop3PrintsAndDeleteBlockedMovesIntoJunk) {
    test::TDovecotServer server;
    server.Imap = true;
    ASSERT_TRUE(server.AddUser("olga", "pw") && server.GenerateMail("olga", 10, 77) && server.Start())
        << server.Error();
    const std::vector<test::TManifestEntry> manifest = server.Manifest("olga");
    TTempHome home;
    WriteIniBool(kSectionSetup, "AutoDelete", false);
    WriteIniBool(kSectionSetup, "CopyToRecycle", false);
    home.Write("Mittenti.txt", manifest[1].FromAddress + "\r\n" + manifest[8].FromAddress + "\r\n");

    SaveAccounts({Account("Olga", server.Port(), "olga", "pw")});
    const TRunResult pop3 = RunKalmuro({"--check", "--home", home.Dir()});
    TMailAccount imap = Account("Olga", server.ImapPort(), "olga", "pw");
    imap.Protocol = TProtocol::Imap;
    SaveAccounts({imap});
    const TRunResult check = RunKalmuro({"--check", "--home", home.Dir()});
    EXPECT_EQ(check.ExitCode, pop3.ExitCode);
    EXPECT_EQ(check.Err, "");
    EXPECT_EQ(Rows(check), Rows(pop3));
    ASSERT_EQ(Rows(check).size(), 10u);

    const TRunResult clean = RunKalmuro({"--check", "--delete-blocked", "--home", home.Dir()});
    EXPECT_EQ(clean.ExitCode, 0);
    EXPECT_EQ(clean.Err, "");
    const std::vector<std::string> rows = Rows(clean);
    size_t ticked = 0;
    for (size_t i = 0; i < 10 && i < rows.size(); ++i)
        if (rows[i].find("\tX\t") != std::string::npos) ++ticked;
    ASSERT_GE(ticked, 2u);
    EXPECT_EQ(rows.size(), 10u + (10u - ticked)) << clean.Out;
    EXPECT_EQ(FolderSize(server, "olga", "INBOX"), 10u - ticked);
    EXPECT_EQ(FolderSize(server, "olga", "Junk"), ticked);
}

}  // namespace
}  // namespace kalmuro::clitest
