// kalmuro --check --delete-blocked: the check, one deletion of the ticked
// messages, the second check; against a real Dovecot and a scripted server
// that drops the line during DELE.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "cli/run_program.h"
#include "engine/engine_harness.h"
#include "support/dovecot_server.h"
#include "support/scripted_server.h"

namespace kalmuro::clitest {
namespace {

using enginetest::Account;
using enginetest::FolderNames;
using enginetest::ReadFile;
using enginetest::TTempHome;
using test::LoggedIn;
using test::TScript;

// The rows of one check printed by the program: every line before the
// summary, which ends with the time of the check.
struct TPrintedCheck {
    std::vector<std::vector<std::string>> Rows;  // TAB-separated fields
    std::string Summary;
};

std::vector<TPrintedCheck> PrintedChecks(const std::vector<std::string>& lines) {
    std::vector<TPrintedCheck> checks(1);
    for (const std::string& line : lines) {
        if (line.find("Ultima verifica alle") != std::string::npos) {
            checks.back().Summary = line;
            checks.emplace_back();
        } else {
            std::vector<std::string> fields;
            size_t start = 0;
            for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
                fields.push_back(line.substr(start, tab - start));
            fields.push_back(line.substr(start));
            checks.back().Rows.push_back(fields);
        }
    }
    checks.pop_back();
    return checks;
}

TEST(DeleteBlocked, CleansADovecotMailboxLeavingCopiesInTheRecycleFolder) {
    test::TDovecotServer server;
    ASSERT_TRUE(server.AddUser("nora", "pw") && server.GenerateMail("nora", 12, 71))
        << server.Error();
    const std::vector<test::TManifestEntry> manifest = server.Manifest("nora");
    std::map<int32_t, std::string> wire;  // what RETR delivers, by message number
    for (const test::TManifestEntry& m : manifest) {
        std::string text;
        for (char c : ReadFile(server.Maildir("nora") + "/new/" + m.FileName)) {
            if (c == '\n') text += '\r';
            text += c;
        }
        wire[m.Number] = text;
        ASSERT_EQ(text.size(), static_cast<size_t>(m.Size));
    }
    ASSERT_TRUE(server.Start()) << server.Error();

    TTempHome home;
    SaveAccounts({Account("Nora", server.Port(), "nora", "pw")});
    WriteIniBool(kSectionSetup, "AutoDelete", false);  // asked for on the command line
    home.Write("Mittenti.txt", manifest[2].FromAddress + "\r\n" + manifest[7].FromAddress + "\r\n");

    const TRunResult r = RunKalmuro({"--check", "--delete-blocked", "--home", home.Dir()});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Err, "");
    const std::vector<TPrintedCheck> checks = PrintedChecks(r.OutLines());
    ASSERT_EQ(checks.size(), 2u) << r.Out;
    ASSERT_EQ(checks[0].Rows.size(), manifest.size());

    std::multiset<std::string> expected;
    for (const std::vector<std::string>& row : checks[0].Rows) {
        ASSERT_EQ(row.size(), 9u);
        if (row[2] == "X") expected.insert(wire[std::stoi(row[1])]);
    }
    ASSERT_GE(expected.size(), 2u);
    EXPECT_EQ(checks[1].Rows.size(), manifest.size() - expected.size());
    for (const std::vector<std::string>& row : checks[1].Rows) EXPECT_NE(row[3], "B");
    EXPECT_EQ(checks[1].Summary.rfind(std::to_string(checks[1].Rows.size()) + " messaggi - ", 0),
              0u);

    // The server's own folder holds only what is left; the recycle folder
    // holds the rest, byte for byte as delivered.
    const std::string maildir = server.Maildir("nora");
    EXPECT_EQ(FolderNames(maildir + "/cur").size() + FolderNames(maildir + "/new").size(),
              checks[1].Rows.size());
    std::multiset<std::string> copies;
    for (const std::string& name : FolderNames(home.Path("Cestino")))
        copies.insert(ReadFile(home.Path("Cestino/" + name)));
    EXPECT_EQ(copies, expected);
}

TEST(DeleteBlocked, ConnectionLostDuringDele) {
    const std::string message = "From: <promo@spam.example>\r\nSubject: Saldi\r\n\r\nCompra.\r\n";
    auto check = [] {
        TScript s = LoggedIn("+OK");
        s.Expect("STAT").Line("+OK 1 60").Expect("TOP 1 0");
        s.Send("+OK\r\nFrom: <promo@spam.example>\r\nSubject: Saldi\r\n\r\n.\r\n");
        s.Expect("LIST 1").Line("+OK 1 60").Expect("UIDL 1").Line("+OK 1 id1");
        return s.Expect("QUIT").Line("+OK");
    };
    TScript deletion = LoggedIn("+OK");
    deletion.Expect("UIDL 1").Line("+OK 1 id1").Expect("RETR 1");
    deletion.Send("+OK\r\n" + message + ".\r\n").Expect("DELE 1").Close();
    test::TScriptedServer server({check(), deletion, check()});
    TTempHome home;
    SaveAccounts({Account("A", server.Port(), "alice", "secret")});
    home.Write("Mittenti.txt", "promo@\r\n");

    const TRunResult r = RunKalmuro({"--check", "--delete-blocked", "--home", home.Dir()});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "Errore: Connection Closed Gracefully.\n");
    const std::vector<TPrintedCheck> checks = PrintedChecks(r.OutLines());
    ASSERT_EQ(checks.size(), 2u) << r.Out;
    for (const TPrintedCheck& c : checks) {
        ASSERT_EQ(c.Rows.size(), 1u);
        EXPECT_EQ(c.Rows[0][2] + c.Rows[0][3], "XB");  // still there, still blocked
    }
    ASSERT_TRUE(server.WaitForSessions(3));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
    const std::vector<std::string> copies = FolderNames(home.Path("Cestino"));
    ASSERT_EQ(copies.size(), 1u);  // made before DELE, and kept
    EXPECT_EQ(ReadFile(home.Path("Cestino/" + copies[0])), message);
}

TEST(DeleteBlocked, AnErrorInTheFirstCheckFailsTheRun) {
    const std::string header = "From: <promo@spam.example>\r\nSubject: Saldi\r\n\r\n";
    // The first check cannot read the second header; the deletion removes
    // the first message; the second check goes well.
    TScript first = LoggedIn("+OK");
    first.Expect("STAT").Line("+OK 2 120").Expect("TOP 1 0").Send("+OK\r\n" + header + ".\r\n");
    first.Expect("LIST 1").Line("+OK 1 60").Expect("UIDL 1").Line("+OK 1 id1");
    first.Expect("TOP 2 0").Line("-ERR no such header").Expect("LIST 2").Line("+OK 2 60");
    first.Expect("UIDL 2").Line("+OK 2 id2").Expect("QUIT").Line("+OK");
    TScript deletion = LoggedIn("+OK");
    deletion.Expect("UIDL 1").Line("+OK 1 id1").Expect("TOP 1 0").Send("+OK\r\n" + header + ".\r\n");
    deletion.Expect("DELE 1").Line("+OK");
    deletion.Expect("QUIT").Line("+OK");
    TScript second = LoggedIn("+OK");
    second.Expect("STAT").Line("+OK 1 60").Expect("TOP 1 0");
    second.Send("+OK\r\nFrom: <amica@example.org>\r\nSubject: Ciao\r\n\r\n.\r\n");
    second.Expect("LIST 1").Line("+OK 1 60").Expect("UIDL 1").Line("+OK 1 id2");
    second.Expect("QUIT").Line("+OK");
    test::TScriptedServer server({first, deletion, second});
    TTempHome home;
    SaveAccounts({Account("A", server.Port(), "alice", "secret")});
    WriteIniBool(kSectionSetup, "CopyToRecycle", false);
    home.Write("Mittenti.txt", "promo@\r\n");

    const TRunResult r = RunKalmuro({"--check", "--delete-blocked", "--home", home.Dir()});
    const std::vector<TPrintedCheck> checks = PrintedChecks(r.OutLines());
    ASSERT_EQ(checks.size(), 2u) << r.Out << r.Err;
    EXPECT_NE(checks[0].Summary.find(" - Sono stati rilevati errori"), std::string::npos);
    EXPECT_EQ(checks[1].Summary.find(" - Sono stati rilevati errori"), std::string::npos);
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.ExitCode, 1);
    ASSERT_TRUE(server.WaitForSessions(3));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

}  // namespace
}  // namespace kalmuro::clitest
