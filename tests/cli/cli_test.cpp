// The built program on a temporary home: what it prints, its exit status,
// the command line and Ctrl-C.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include <sys/stat.h>

#include "cli/run_program.h"
#include "engine/engine_harness.h"
#include "mail/accounts.h"
#include "support/scripted_server.h"

namespace kalmuro::clitest {
namespace {

using enginetest::Account;
using enginetest::FakeMailbox;
using enginetest::FakeMessage;
using enginetest::TTempHome;
using test::TFakePop3Server;
using test::TScript;
using test::TScriptedServer;

const std::regex kTime("\\d\\d:\\d\\d:\\d\\d");

// The summary with its clock time replaced by "hh:mm:ss".
std::string Masked(const std::string& line) { return std::regex_replace(line, kTime, "hh:mm:ss"); }

class CliTest : public ::testing::Test {
protected:
    TTempHome Home;

    TRunResult Check(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--check", "--home", Home.Dir()};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunKalmuro(args);
    }
};

TEST_F(CliTest, PrintsEveryRowThenTheSummary) {
    TFakePop3Server server(
        "alice", "secret",
        {FakeMessage("Promo <promo@spam.example>", "Saldi", "u1"),
         FakeMessage("Anna Bianchi <anna@example.it>", "Perch\xE8 no?", "u2"),  // Perchè
         FakeMessage("<capo@example.it>", "Tab\there \x1B[31mred", "u3",
                     "Tue, 6 Mar 2007 23:59:00 -0200")});
    SaveAccounts({Account("Alice", server.Port(), "alice", "secret")});
    Home.Write("Mittenti.txt", "PROMO@\r\n");
    Home.Write("MittentiOk.txt", "capo@\r\n");

    const TRunResult r = Check();
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Err, "");
    const std::vector<std::string> lines = r.OutLines();
    ASSERT_EQ(lines.size(), 4u) << r.Out;
    EXPECT_EQ(lines[0],
              "0\t1\tX\tB\tPromo (promo@spam.example)\tSaldi\tLun 5/03/07 13:09\t0k\t"
              "<<< Mittente bloccato: PROMO@ >>>");
    EXPECT_EQ(
        lines[1],
        "0\t2\t-\t-\tAnna Bianchi (anna@example.it)\tPerch\xC3\xA8 no?\tLun 5/03/07 13:09\t0k\t");
    EXPECT_EQ(lines[2],
              "0\t3\t-\tS\tcapo@example.it\tTab here  [31mred\tMer 7/03/07 01:59\t0k\t"
              "<<< Mittente sicuro: capo@ >>>");
    EXPECT_EQ(Masked(lines[3]),
              "3 messaggi nuovi su un totale di 3 messaggi - Ultima verifica alle hh:mm:ss");
}

TEST_F(CliTest, BoxesGoToStderrOnOneLineAndSetTheExitStatus) {
    TFakePop3Server server("alice", "secret", FakeMailbox(2));
    struct Case {
        const char* Name;
        TMailAccount Account;
        std::string Timeout;   // empty: not written
        std::string Override;  // a TOP to refuse, empty: none
        std::vector<std::string> Err;
        std::string Summary;
    };
    const std::vector<Case> cases = {
        {"clean",
         Account("A", server.Port(), "alice", "secret"),
         "",
         "",
         {},
         "2 messaggi nuovi su un totale di 2 messaggi - Ultima verifica alle hh:mm:ss"},
        {"wrong-password",
         Account("A", server.Port(), "alice", "nope"),
         "",
         "",
         {"Errore: Il server ha risposto con l'errore 2:  [AUTH] Authentication failed.",
          "Errore: Impossibile connettersi a 127.0.0.1"},
         "Non ci sono messaggi - Ultima verifica alle hh:mm:ss - Sono stati rilevati errori"},
        {"timeout-abc",
         Account("A", server.Port(), "alice", "secret"),
         "abc",
         "",
         {"Errore: Impossibile completare l'operazione"},
         "Non ci sono messaggi - Ultima verifica alle hh:mm:ss"},
        {"header-refused",
         Account("A", server.Port(), "alice", "secret"),
         "",
         "TOP 1 0",
         {},
         "2 messaggi nuovi su un totale di 2 messaggi - Ultima verifica alle hh:mm:ss"
         " - Sono stati rilevati errori"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EraseIniSection(kSectionSetup);
        SaveAccounts({c.Account});
        if (!c.Timeout.empty()) WriteIniString(kSectionSetup, "Timeout", c.Timeout);
        if (!c.Override.empty()) server.Override(c.Override, "-ERR broken\r\n");
        const TRunResult r = Check();
        EXPECT_EQ(r.ErrLines(), c.Err);
        ASSERT_FALSE(r.OutLines().empty());
        EXPECT_EQ(Masked(r.OutLines().back()), c.Summary);
        const bool failed = !c.Err.empty() || c.Summary.find("errori") != std::string::npos;
        EXPECT_EQ(r.ExitCode, failed ? 1 : 0);
    }
}

TEST_F(CliTest, VerboseAddsTheStatusTexts) {
    TFakePop3Server server("alice", "secret", FakeMailbox(1));
    SaveAccounts({Account("A", server.Port(), "alice", "secret")});
    const TRunResult r = Check({"--verbose"});
    EXPECT_EQ(r.ExitCode, 0);
    const std::vector<std::string> err = r.ErrLines();
    const std::vector<std::string> expected = {
        "Lettura impostazioni dal disco in corso...",
        "Connessione a 127.0.0.1 come utente alice...",
        "Conteggio dei messaggi presenti sul server...",
        "Lettura messaggio 1 su 1 dal server 127.0.0.1...",
        "Disconnessione dal server 127.0.0.1...",
        "Controllo Anti-Spamming...",
        "Nessun messaggio selezionato",
    };
    ASSERT_EQ(err.size(), expected.size() + 1) << r.Err;
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), err.begin()));
    EXPECT_EQ(Masked(err.back()),
              "1 messaggi nuovi su un totale di 1 messaggi - Ultima verifica alle hh:mm:ss");
}

TEST_F(CliTest, SettingsProblemsBeforeTheCheck) {
    const TRunResult none = Check();
    EXPECT_EQ(none.ExitCode, 0);
    EXPECT_EQ(none.Out, "");
    EXPECT_EQ(none.Err, "kalmuro: nessun account in " + Home.Path("kalmuro.ini") + "\n");

    SaveAccounts({Account("A", 110, "alice", "secret")});
    WriteIniString(kSectionSetup, "ColorNormal", "nero");
    const TRunResult bad = Check();
    EXPECT_EQ(bad.ExitCode, 1);
    EXPECT_EQ(bad.Out, "");
    EXPECT_EQ(bad.Err, "Errore: 'nero' is not a valid integer value\n");
}

TEST_F(CliTest, ASettingsFileThatCannotBeReadIsAnError) {
    // A folder where the file should be: not "no accounts" and success.
    std::filesystem::create_directory(Home.Path("kalmuro.ini"));
    const TRunResult r = Check();
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err,
              "Errore: Cannot open file \"" + Home.Path("kalmuro.ini") + "\". Is a directory\n");
}

TEST_F(CliTest, CommandLine) {
    const TRunResult version = RunKalmuro({"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out, "kalmuro 1.0.0.1\n");

    struct Case {
        const char* Name;
        std::vector<std::string> Args;
    };
    std::vector<Case> cases = {
        {"home-without-dir", {"--check", "--home"}},
        {"home-empty", {"--check", "--home", ""}},
        {"home-missing", {"--check", "--home", Home.Path("none")}},
        {"home-twice", {"--check", "--home", Home.Dir(), "--home", Home.Dir()}},
        {"check-twice", {"--check", "--check"}},
        {"unknown", {"--check", "--delete-everything"}},
        {"delete-without-check", {"--delete-blocked", "--home", Home.Dir()}},
        {"delete-twice", {"--check", "--delete-blocked", "--delete-blocked"}},
        {"version-with-more", {"--version", "--check"}},
        {"positional", {"check"}},
        {"verbose-without-check", {"--verbose"}},
    };
#if !KALMURO_WITH_DESKTOP
    // Without the window there is nothing to run without a command.
    cases.push_back({"nothing", {}});
    cases.push_back({"home-without-check", {"--home", Home.Dir()}});
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const TRunResult r = RunKalmuro(c.Args);
        EXPECT_EQ(r.ExitCode, 2);
        EXPECT_EQ(r.Out, "");
        EXPECT_NE(r.Err.find("uso: kalmuro --check [--home CARTELLA] [--verbose]"),
                  std::string::npos)
            << r.Err;
    }
}

TEST_F(CliTest, HelpListsEveryOptionOnStdout) {
    const TRunResult help = RunKalmuro({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_EQ(help.Err, "");
    for (const char* option : {"--check", "--delete-blocked", "--home", "--verbose",
                               "--scramble-password", "--version", "--help"}) {
        SCOPED_TRACE(option);
        EXPECT_NE(help.Out.find(std::string("\n  ") + option + " "), std::string::npos)
            << help.Out;
    }
    // Only on its own, as --version.
    const TRunResult more = RunKalmuro({"--help", "--check"});
    EXPECT_EQ(more.ExitCode, 2);
    EXPECT_EQ(more.Out, "");
}

TEST_F(CliTest, ScramblePasswordPrintsWhatLoadAccountsReadsBack) {
    const std::string input = Home.Path("password.txt");
    std::ofstream(input, std::ios::binary) << "pass w\xC3\xB6rd \r\nnext line\n";  // wörd, UTF-8
    const TRunResult r = RunKalmuro({"--scramble-password"}, {}, 30000, input);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    ASSERT_EQ(r.Out.size(), 2 * (10 + 10) + 1) << r.Out;
    EXPECT_EQ(UnscrambleText(PasswordKey, HexDecode(r.Out.substr(0, r.Out.size() - 1))),
              "pass w\xF6rd ");  // wörd, Windows-1252
}

TEST_F(CliTest, CtrlCActsAsTheStopButton) {
    // Message 3's header comes late, so that Ctrl-C lands while it is read.
    TScript script = test::LoggedIn("+OK");
    script.Expect("STAT").Line("+OK 10 5000");
    for (int n = 1; n <= 3; ++n) {
        const std::string k = std::to_string(n);
        script.Expect("TOP " + k + " 0");
        if (n == 3) script.Pause(1500);
        script.Send("+OK\r\nFrom: <m" + k + "@example.com>\r\nSubject: Numero " + k +
                    "\r\n\r\n.\r\n");
        script.Expect("LIST " + k).Line("+OK " + k + " 500");
        script.Expect("UIDL " + k).Line("+OK " + k + " id" + k);
    }
    script.Expect("QUIT").Line("+OK bye");
    TScriptedServer server({script});
    TFakePop3Server untouched("bob", "pw", FakeMailbox(2));
    SaveAccounts({Account("A", server.Port(), "alice", "secret"),
                  Account("B", untouched.Port(), "bob", "pw")});

    bool sent = false;
    const TRunResult r = RunKalmuro(
        {"--check", "--verbose", "--home", Home.Dir()}, [&](const std::string& err, pid_t pid) {
            if (!sent && err.find("Lettura messaggio 3 su 10") != std::string::npos) {
                sent = true;
                kill(pid, SIGINT);
            }
        });
    ASSERT_TRUE(sent);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Err.find("Interruzione dell'operazione in corso..."), std::string::npos);
    const std::vector<std::string> lines = r.OutLines();
    ASSERT_EQ(lines.size(), 4u) << r.Out;
    EXPECT_EQ(lines[2], "0\t3\t-\t-\tm3@example.com\tNumero 3\tSab 30/12/99 00:00\t0k\t");
    EXPECT_EQ(Masked(lines[3]),
              "3 messaggi nuovi su un totale di 3 messaggi - Ultima verifica alle hh:mm:ss"
              " - Interrotto dall'utente");
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
    EXPECT_EQ(server.Received(0).back(), "QUIT");
    EXPECT_EQ(untouched.SessionsAccepted(), 0u);
}

}  // namespace
}  // namespace kalmuro::clitest

#if KALMURO_WITH_DESKTOP
namespace kalmuro::clitest {
namespace {

// Without a display the window cannot open: one line that says so and
// points at --check, status 2, never an abort. A display that is named but
// does not answer ends the same way.
TEST(CliWindowTest, WithoutADisplayTheWindowRefusesInOneLine) {
    testing::TempHome home;
    const std::vector<std::string> noDisplay = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    struct Case {
        const char* Name;
        std::vector<std::string> Args, Env;
    };
    const std::vector<Case> cases = {
        {"no-display", {}, noDisplay},
        {"no-display-home", {"--home", home.Dir()}, noDisplay},
        {"dead-display", {}, {"DISPLAY=:9999", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const TRunResult r = RunKalmuro(c.Args, {}, 30000, "/dev/null", c.Env);
        EXPECT_EQ(r.ExitCode, 2) << r.Err;
        EXPECT_EQ(r.Out, "");
        ASSERT_EQ(r.ErrLines().size(), 1u) << r.Err;
        EXPECT_NE(r.Err.find("kalmuro --check"), std::string::npos) << r.Err;
        EXPECT_NE(r.Err.find("display"), std::string::npos) << r.Err;
    }
    EXPECT_EQ(testing::CountFiles(home.Dir()), 0u);  // nothing was written
}

// The window comes from a module beside the program: a copy of the program
// without it cannot open the window and says so in one line, while the
// check, which never needs the module, still runs.
TEST(CliWindowTest, AProgramWithoutItsWindowModuleSaysSoAndStillChecks) {
    if (access("/usr/local/lib/kalmuro/kalmuro-desktop.so", F_OK) == 0)
        GTEST_SKIP() << "an installed module would be found";
    testing::TempHome home;
    const std::string copy = home.Dir() + "/kalmuro";
    {
        std::ifstream in(KALMURO_EXE, std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_EQ(chmod(copy.c_str(), 0755), 0);
    const TRunResult window = RunKalmuro({}, {}, 30000, "/dev/null", {"DISPLAY=:9999"}, copy);
    EXPECT_EQ(window.ExitCode, 2) << window.Err;
    ASSERT_EQ(window.ErrLines().size(), 1u) << window.Err;
    EXPECT_NE(window.Err.find("impossibile aprire la finestra"), std::string::npos) << window.Err;
    EXPECT_NE(window.Err.find("kalmuro-desktop.so"), std::string::npos) << window.Err;
    const TRunResult check = RunKalmuro({"--check"}, {}, 30000, "/dev/null", {}, copy);
    EXPECT_EQ(check.ExitCode, 0) << check.Err;
    EXPECT_NE(check.Err.find("nessun account"), std::string::npos) << check.Err;
}

}  // namespace
}  // namespace kalmuro::clitest
#endif
