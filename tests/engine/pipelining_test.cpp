// The same checks and deletions one command at a time and with the commands
// sent ahead of their answers: what the user sees and what the server is left
// with must not differ, faults included. And full socket buffers stall
// neither side.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

#include "engine/engine_harness.h"
#include "engine/setup_dialog.h"
#include "mail/atomic_file.h"

namespace kalmuro::enginetest {
namespace {

using test::TCapa;
using test::TFakeMessage;
using test::TFakePop3Server;

struct TOverride {
    std::string Command, Reply;
    bool Close = false;
};

// What one run leaves behind.
struct TOutcome {
    std::vector<std::string> Records, Rows, Boxes, Statuses, Left, Copies;
    std::string Summary;
    bool ErrorFlag = false;
    size_t CapaRequests = 0, LinesAhead = 0;
};

std::string RecordText(const TMessageEntry& m) {
    return std::to_string(m.AccountIndex) + "|" + std::to_string(m.MsgNumber) + "|" +
           std::to_string(m.Size) + "|" + m.UidlText + "|" + m.Sender + "|" + m.FromName + "|" +
           m.FromAddress + "|" + m.Subject + "|" + std::to_string(m.Date) + "|" + m.HeaderText +
           "|" + m.SpamNote + "|" + std::to_string(m.Locked) + std::to_string(m.Secured) +
           std::to_string(m.Selected);
}

// Five messages; the fourth with a body long enough for a copy to fail
// while the others are written.
std::vector<TFakeMessage> Mailbox() {
    std::vector<TFakeMessage> box = FakeMailbox(5);
    box[3].Text += std::string(3000, 'x') + "\r\n";
    return box;
}

// One account (alice) on the server under test, one (bob) that always works.
class TRun {
public:
    TRun(bool pipelined, std::vector<TFakeMessage> box)
        : Server("alice", "secret", std::move(box)), Other("bob", "pw", FakeMailbox(2)) {
        for (TFakePop3Server* s : {&Server, &Other})
            s->Capa = pipelined ? TCapa::Pipelining : TCapa::Plain;
        SaveAccounts({Account("Alice", Server.Port(), "alice", "secret"),
                      Account("Bob", Other.Port(), "bob", "pw")});
        Form.LoadSettings();
        Form.FormShow();
    }
    // Stop is clicked at the first pump after this status text.
    void StopAt(const std::string& text) {
        Screen.OnStatus = [this, text](const std::string& shown) {
            if (shown == text) FClick = true;
        };
        Screen.OnPump = [this] {
            if (!FClick) return;
            FClick = false;
            Form.BitBtnStopClick();
        };
    }
    TOutcome Outcome(const std::string& home) {
        TOutcome o;
        for (const TMessageEntry& m : Form.Messages) o.Records.push_back(RecordText(m));
        for (const TMessageRow& r : Form.List().Rows)
            o.Rows.push_back(std::to_string(r.RecordIndex) + std::to_string(r.Checked) +
                             r.Columns[0] + r.Columns[1] + r.Columns[2] + r.Columns[3]);
        o.Boxes = Screen.BoxMessages();
        o.Statuses = Screen.Statuses;
        o.Summary = Form.StatusText();
        o.ErrorFlag = Form.CheckErrorFlag();
        Server.WaitForSessions(Server.SessionsAccepted());
        for (const TFakeMessage& m : Server.Messages()) o.Left.push_back(m.Uid);
        for (const std::string& name : FolderNames(home + "/Cestino"))
            o.Copies.push_back(name + ":" + ReadFile(home + "/Cestino/" + name));
        o.CapaRequests = Server.CapaRequests();
        o.LinesAhead = Server.LinesAhead();
        return o;
    }

    TFakePop3Server Server, Other;
    TRecordingScreen Screen;
    TFormMain Form{Screen};

private:
    bool FClick = false;
};

void ExpectSame(const TOutcome& sequential, const TOutcome& pipelined) {
    EXPECT_EQ(sequential.Records, pipelined.Records);
    EXPECT_EQ(sequential.Rows, pipelined.Rows);
    EXPECT_EQ(sequential.Boxes, pipelined.Boxes);
    EXPECT_EQ(sequential.Statuses, pipelined.Statuses);
    EXPECT_EQ(sequential.Summary, pipelined.Summary);
    EXPECT_EQ(sequential.ErrorFlag, pipelined.ErrorFlag);
    EXPECT_EQ(sequential.Left, pipelined.Left);
    EXPECT_EQ(sequential.Copies, pipelined.Copies);
    // Both asked; only one road sent anything ahead.
    EXPECT_GT(sequential.CapaRequests, 0u);
    EXPECT_EQ(sequential.LinesAhead, 0u);
    EXPECT_GT(pipelined.LinesAhead, 0u);
}

class Pipelining : public ::testing::Test {
protected:
    TTempHome Home;
    TUtcZone Utc;
    void TearDown() override { SetWriteFailureForTesting(-1); }
};

TEST_F(Pipelining, ChecksMatchOneCommandAtATime) {
    struct Case {
        const char* Name;
        std::vector<TOverride> Overrides;
        std::function<void(TFormMain&)> Prepare;
        std::string StopAt;
    };
    const std::string longLine = "+OK\r\nFrom: <a@b.example>\r\nX-Long: " +
                                 std::string(20000, 'y') + "\r\nSubject: Lungo\r\n\r\n.\r\n";
    std::string padding;
    for (int i = 0; i < 50; ++i) padding += "X-Pad: " + std::string(100, 'q') + "\r\n";
    const std::vector<Case> cases = {
        {"plain", {}, {}, ""},
        {"small-window", {}, [](TFormMain& f) { f.Pop3Client1.WindowCommands = 4; }, ""},
        {"top-refused", {{"TOP 2 0", "-ERR broken\r\n"}}, {}, ""},
        {"uidl-refused",
         {{"UIDL 1", "-ERR no\r\n"}, {"UIDL 2", "-ERR no\r\n"}, {"UIDL 5", "-ERR no\r\n"}},
         {},
         ""},
        {"uidl-garbage", {{"UIDL 3", "what?\r\n"}}, {}, ""},
        {"cut-after-top-3", {{"TOP 3 0", "+OK\r\nFrom: <c@d.example>\r\n", true}}, {}, ""},
        {"cut-at-list-2", {{"LIST 2", "", true}}, {}, ""},
        {"cut-at-uidl-4", {{"UIDL 4", "", true}}, {}, ""},
        {"over-long-header-line", {{"TOP 2 0", longLine}}, {}, ""},
        {"header-too-large",
         {{"TOP 2 0", "+OK\r\n" + padding + ".\r\n"}},
         [](TFormMain& f) { f.Pop3Client1.MaxHeaderBytes = 2000; },
         ""},
        {"stop-after-2", {}, {}, "Lettura messaggio 2 su 5 dal server 127.0.0.1..."},
        {"stop-at-last", {}, {}, "Lettura messaggio 5 su 5 dal server 127.0.0.1..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TOutcome outcomes[2];
        for (bool pipelined : {false, true}) {
            TRun run(pipelined, Mailbox());
            for (const TOverride& o : c.Overrides) run.Server.Override(o.Command, o.Reply, o.Close);
            if (c.Prepare) c.Prepare(run.Form);
            if (!c.StopAt.empty()) run.StopAt(c.StopAt);
            run.Screen.Statuses.clear();
            run.Form.CheckMail();
            EXPECT_FALSE(run.Form.Checking);
            outcomes[pipelined] = run.Outcome(Home.Dir());
        }
        ExpectSame(outcomes[0], outcomes[1]);
        EXPECT_FALSE(outcomes[1].Records.empty());
    }
}

// A message's record is appended before its LIST and filled in only once
// LIST and UIDL have answered; a cut anywhere in the first three messages
// leaves, on either road, exactly the records that order of steps builds.
TEST_F(Pipelining, ACutLeavesTheRecordsOfTheOrderOfSteps) {
    std::vector<std::string> full;
    {
        TRun run(false, Mailbox());
        run.Form.CheckMail();
        for (const TMessageEntry& m : run.Form.Messages) full.push_back(RecordText(m));
    }
    ASSERT_EQ(full.size(), 7u);  // Alice's five, then Bob's two
    TMessageEntry bareEntry;
    const std::string bare = RecordText(bareEntry);
    for (int n = 1; n <= 3; ++n) {
        for (const std::string verb : {"TOP", "LIST", "UIDL"}) {
            const std::string k = std::to_string(n);
            const std::string command = verb == "TOP" ? "TOP " + k + " 0" : verb + " " + k;
            SCOPED_TRACE("cut at " + command);
            // What the steps build: the messages before in full; the one
            // cut at TOP or LIST has its account only; cut at UIDL it keeps
            // everything but the id, and the next one has its account only.
            std::vector<std::string> expected(full.begin(), full.begin() + (n - 1));
            if (verb == "UIDL") {
                TRun model(false, Mailbox());
                model.Form.CheckMail();
                TMessageEntry cut = model.Form.Messages[static_cast<size_t>(n - 1)];
                cut.UidlText.clear();
                expected.push_back(RecordText(cut));
            }
            expected.push_back(bare);
            expected.insert(expected.end(), full.begin() + 5, full.end());
            for (bool pipelined : {false, true}) {
                SCOPED_TRACE(pipelined ? "pipelined" : "one at a time");
                TRun run(pipelined, Mailbox());
                run.Server.Override(command, "", true);
                run.Form.CheckMail();
                std::vector<std::string> records;
                for (const TMessageEntry& m : run.Form.Messages) records.push_back(RecordText(m));
                EXPECT_EQ(records, expected);
                EXPECT_EQ(run.Screen.BoxMessages(),
                          std::vector<std::string>{"Rilevati problemi durante la lettura dei messaggi"});
                EXPECT_EQ(run.Form.CheckErrorFlag(), verb != "LIST");
            }
        }
    }
}

TEST_F(Pipelining, DeletionsMatchOneMessageAtATime) {
    struct Case {
        const char* Name;
        bool Copy;
        std::vector<TOverride> Overrides;  // after the check
        std::function<void(TFakePop3Server&)> AfterCheck;
        long long WriteFailure;
        std::string StopAt;
        bool SameStatuses = true;
        size_t Window = 0;  // commands ahead at most; 0: as it comes
    };
    const std::string label = "Verifica esistenza del messaggio Message 4 di User 4 (user4@example.com)";
    const std::vector<Case> cases = {
        {"copies", true, {}, {}, -1, ""},
        {"no-copies", false, {}, {}, -1, ""},
        {"small-window", true, {{"UIDL 2", "-ERR no\r\n"}}, {}, -1, "", true, 2},
        {"uidl-refused-at-3", true, {{"UIDL 3", "-ERR no\r\n"}}, {}, -1, ""},
        {"removed-by-another-client", true, {},
         [](TFakePop3Server& s) {
             std::vector<TFakeMessage> box = s.Messages();
             box.erase(box.begin() + 1);
             s.SetMessages(box);
         },
         -1, ""},
        {"header-changed-at-4", false,
         {{"TOP 4 0", "+OK\r\nFrom: <other@example.com>\r\n\r\n.\r\n"}}, {}, -1, ""},
        {"copy-cannot-be-written", true, {}, {}, 1000, ""},
        {"retr-refused-at-2", true, {{"RETR 2", "-ERR locked\r\n"}}, {}, -1, ""},
        // Every copy is made before the first DELE: messages 2 and 1 show
        // their texts too (their copies are removed again).
        {"dele-refused-at-3", true, {{"DELE 3", "-ERR busy\r\n"}}, {}, -1, "", false},
        {"stop-after-message-4", true, {}, {}, -1, label},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TOutcome outcomes[2];
        for (bool pipelined : {false, true}) {
            std::filesystem::remove_all(Home.Path("Cestino"));
            TRun run(pipelined, Mailbox());
            WriteIniBool(kSectionSetup, "CopyToRecycle", c.Copy);
            run.Form.CheckMail();
            run.Form.ListViewMailBoxesSelectItem(1);  // Alice's
            run.Form.Selezionatutto1Click();
            ASSERT_TRUE(run.Server.WaitForSessions(1));
            for (const TOverride& o : c.Overrides) run.Server.Override(o.Command, o.Reply, o.Close);
            if (c.AfterCheck) c.AfterCheck(run.Server);
            if (!c.StopAt.empty()) run.StopAt(c.StopAt);
            if (c.Window > 0) run.Form.Pop3Client1.WindowCommands = c.Window;
            SetWriteFailureForTesting(c.WriteFailure);
            run.Screen.Boxes.clear();
            run.Screen.Statuses.clear();
            run.Form.DeleteSelectedMessages();
            SetWriteFailureForTesting(-1);
            EXPECT_FALSE(run.Form.Deleting);
            outcomes[pipelined] = run.Outcome(Home.Dir());
            // The texts of each message, whatever their order.
            std::vector<std::string>& statuses = outcomes[pipelined].Statuses;
            statuses.erase(std::remove_if(statuses.begin(), statuses.end(),
                                          [](const std::string& s) {
                                              return s.find(" del messaggio ") == std::string::npos;
                                          }),
                           statuses.end());
            std::sort(statuses.begin(), statuses.end());
        }
        if (!c.SameStatuses) outcomes[1].Statuses = outcomes[0].Statuses;
        ExpectSame(outcomes[0], outcomes[1]);
    }
}

// A QUIT whose answer never comes may have made every deletion final; so
// may a server that commits when the connection drops. On either road,
// every message the server no longer holds has its whole copy.
TEST_F(Pipelining, NoCopyGoesWhoseMessageMayBeGone) {
    using TQuitEnd = TFakePop3Server::TQuitEnd;
    struct Case {
        std::string Name;
        TQuitEnd Quit = TQuitEnd::Answer;
        std::string CloseAfter;  // a command answered, then the connection cut
        bool CommitOnClose = false;
    };
    std::vector<Case> cases = {
        {"quit-committed-answer-lost", TQuitEnd::CommitThenClose, "", false},
        {"quit-never-answered", TQuitEnd::CommitThenHold, "", false},
    };
    for (int n = 1; n <= 5; ++n)
        for (bool commits : {false, true})
            cases.push_back({"cut-after-dele-" + std::to_string(n) + (commits ? "-commits" : ""),
                             TQuitEnd::Answer, "DELE " + std::to_string(n), commits});
    const std::vector<TFakeMessage> box = Mailbox();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        for (bool pipelined : {false, true}) {
            SCOPED_TRACE(pipelined ? "pipelined" : "one at a time");
            std::filesystem::remove_all(Home.Path("Cestino"));
            TRun run(pipelined, box);
            WriteIniString(kSectionSetup, "Timeout", "1");
            run.Form.CheckMail();
            run.Form.ListViewMailBoxesSelectItem(1);  // Alice's
            run.Form.Selezionatutto1Click();
            ASSERT_TRUE(run.Server.WaitForSessions(1));
            run.Server.QuitEnd = c.Quit;
            run.Server.CommitOnClose = c.CommitOnClose;
            if (!c.CloseAfter.empty()) run.Server.CloseAfter(c.CloseAfter);
            run.Screen.Boxes.clear();
            run.Form.DeleteSelectedMessages();
            EXPECT_FALSE(run.Form.Deleting);
            EXPECT_FALSE(run.Screen.BoxMessages().empty());  // the account's error
            run.Server.WaitForSessions(run.Server.SessionsAccepted());
            std::vector<std::string> left, copies;
            for (const TFakeMessage& m : run.Server.Messages()) left.push_back(m.Uid);
            for (const std::string& name : FolderNames(Home.Path("Cestino")))
                copies.push_back(ReadFile(Home.Path("Cestino/" + name)));
            size_t gone = 0;
            for (const TFakeMessage& m : box) {
                if (std::find(left.begin(), left.end(), m.Uid) != left.end()) continue;
                ++gone;
                EXPECT_NE(std::find(copies.begin(), copies.end(), m.Text), copies.end())
                    << "no whole copy of " << m.Uid;
            }
            // The cases are worth something only where messages did go.
            if (c.Quit != TQuitEnd::Answer || c.CommitOnClose) {
                EXPECT_GT(gone, 0u);
            }
        }
    }
}

// A message whose header was refused at the check is blocked as empty; its
// id alone verifies it, and its copy is named from the empty record.
TEST_F(Pipelining, AMessageWithoutHeaderCanBeDeleted) {
    for (bool copy : {true, false}) {
        for (bool pipelined : {false, true}) {
            SCOPED_TRACE(std::string(copy ? "copy" : "no copy") +
                         (pipelined ? ", pipelined" : ", one at a time"));
            std::filesystem::remove_all(Home.Path("Cestino"));
            TRun run(pipelined, Mailbox());
            WriteIniBool(kSectionSetup, "StopEmptyMsg", true);
            WriteIniBool(kSectionSetup, "CopyToRecycle", copy);
            run.Server.Override("TOP 2 0", "-ERR broken\r\n");
            run.Form.CheckMail();
            ASSERT_EQ(run.Form.CountCheckedMessages(), 1);
            const std::string uid = run.Form.Messages[1].UidlText;
            ASSERT_FALSE(uid.empty());
            ASSERT_TRUE(run.Form.Messages[1].HeaderText.empty());
            run.Screen.Boxes.clear();
            run.Form.DeleteSelectedMessages();
            // The question only: no error.
            EXPECT_EQ(run.Screen.BoxMessages(), std::vector<std::string>{DeleteQuestion(copy, 1)});
            run.Server.WaitForSessions(run.Server.SessionsAccepted());
            std::vector<std::string> left;
            for (const TFakeMessage& m : run.Server.Messages()) left.push_back(m.Uid);
            EXPECT_EQ(left, (std::vector<std::string>{"uid-1", "uid-3", "uid-4", "uid-5"}));
            const std::vector<std::string> names = FolderNames(Home.Path("Cestino"));
            if (copy) {
                ASSERT_EQ(names, std::vector<std::string>{"18991230_000000_.eml"});
                EXPECT_EQ(ReadFile(Home.Path("Cestino/" + names[0])), Mailbox()[1].Text);
            } else {
                EXPECT_TRUE(names.empty());
            }
        }
    }
}

TEST_F(Pipelining, RefusedCapaOrTheSettingOffIsTheOldConversation) {
    struct Case {
        const char* Name;
        TCapa Capa;
        bool Setting;
        size_t CapaRequests;
    };
    const std::vector<Case> cases = {
        {"refused", TCapa::Refused, true, 1},
        {"not-listed", TCapa::Plain, true, 1},
        {"setting-off", TCapa::Pipelining, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TFakePop3Server server("alice", "secret", FakeMailbox(3));
        server.Capa = c.Capa;
        TRecordingScreen screen;
        TFormMain form(screen);
        SaveAccounts({Account("Alice", server.Port(), "alice", "secret")});
        WriteIniBool(kSectionSetup, kKeyPipelining, c.Setting);
        form.LoadSettings();
        form.FormShow();
        form.CheckMail();
        ASSERT_TRUE(server.WaitForSessions(1));
        const std::vector<std::string> commands = {
            "USER alice", "PASS secret", "STAT",   "TOP 1 0", "LIST 1", "UIDL 1", "TOP 2 0",
            "LIST 2",     "UIDL 2",      "TOP 3 0", "LIST 3", "UIDL 3", "QUIT"};
        EXPECT_EQ(server.Received(0), commands);
        EXPECT_EQ(server.CapaRequests(), c.CapaRequests);
        EXPECT_EQ(server.LinesAhead(), 0u);
        EXPECT_TRUE(screen.Boxes.empty());
        EXPECT_FALSE(form.CheckErrorFlag());
    }
    EraseIniSection(kSectionSetup);
}

TEST_F(Pipelining, TheSettingsDialogKeepsTheSetting) {
    WriteIniString(kSectionSetup, kKeyPipelining, "0");
    TSetupOptions options;
    ReadSetupOptions(options);
    WriteSetupOptions(options);
    EXPECT_EQ(ReadIniString(kSectionSetup, kKeyPipelining, "missing"), "0");
}

// A message whose header alone fills a couple of kilobytes.
std::vector<TFakeMessage> BulkyMailbox(int n) {
    std::vector<TFakeMessage> box = FakeMailbox(n);
    for (TFakeMessage& m : box) m.Text = "X-Padding: " + std::string(2000, 'p') + "\r\n" + m.Text;
    return box;
}

// One account on the port, and a window of commands far larger than any
// socket buffer, the client's own cut to 4 KB.
void OpenWithEndlessWindow(TFormMain& form, int32_t port) {
    SaveAccounts({Account("Alice", port, "alice", "secret")});
    WriteIniString(kSectionSetup, "Timeout", "20");
    form.LoadSettings();
    form.FormShow();
    form.Pop3Client1.WindowCommands = 1000000;
    form.Pop3Client1.WindowBytes = size_t{1} << 30;
    form.Pop3Client1.SocketSendBuffer = 4096;
}

TEST_F(Pipelining, FullBuffersStallNeitherSide) {
    // Tiny server buffers and a window far larger than any socket buffer:
    // the server blocks writing answers the client has not read and reads
    // nothing meanwhile, so a client that blocked writing the window would
    // wait for ever. The time-out makes such a stall a failure, not a hang.
    constexpr int kMessages = 1500;
    TFakePop3Server server("alice", "secret", BulkyMailbox(kMessages));
    server.Capa = TCapa::Pipelining;
    server.SocketBuffer = 4096;
    TRecordingScreen screen;
    TFormMain form(screen);
    OpenWithEndlessWindow(form, server.Port());
    size_t mostPending = 0;
    screen.OnPump = [&] { mostPending = std::max(mostPending, form.Pop3Client1.PendingOutput()); };
    form.CheckMail();
    EXPECT_TRUE(screen.Boxes.empty());
    EXPECT_FALSE(form.CheckErrorFlag());
    ASSERT_EQ(form.Messages.size(), static_cast<size_t>(kMessages));
    EXPECT_EQ(form.Messages.back().UidlText, "1500 uid-1500");
    // The socket did refuse output while answers were read.
    EXPECT_GT(mostPending, 0u);
}

TEST_F(Pipelining, AServerThatAnswersBeforeReadingStallsNothing) {
    // Every answer at once, before the server reads a single command.
    constexpr int kMessages = 2000;
    std::string answers;
    for (int n = 1; n <= kMessages; ++n) {
        const std::string k = std::to_string(n);
        answers += "+OK\r\nX-Padding: " + std::string(500, 'p') + "\r\nFrom: <u" + k +
                   "@example.com>\r\nSubject: Numero " + k + "\r\n\r\n.\r\n+OK " + k +
                   " 600\r\n+OK " + k + " id" + k + "\r\n";
    }
    test::TScript script = test::LoggedIn();
    script.Expect("STAT").Line("+OK 2000 1200000").Send(answers);
    test::TScriptedServer server({script});
    server.Capa = TCapa::Pipelining;
    server.SocketBuffer = 4096;
    TRecordingScreen screen;
    TFormMain form(screen);
    OpenWithEndlessWindow(form, server.Port());
    form.CheckMail();
    EXPECT_TRUE(screen.Boxes.empty());
    ASSERT_EQ(form.Messages.size(), static_cast<size_t>(kMessages));
    EXPECT_EQ(form.Messages.back().Subject, "Numero 2000");
    ASSERT_TRUE(server.WaitForSessions(1));
    const std::vector<std::string> received = server.Received(0);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.back(), "QUIT");
    EXPECT_TRUE(server.Failures().empty());
}

// A deletion on a server without PIPELINING takes a session a message: CAPA
// is asked in the first only, the answer holding for the rest of the run.
TEST_F(Pipelining, ADeletionAsksCapaOnceAnAccount) {
    for (const TCapa capa : {TCapa::Plain, TCapa::Refused}) {
        TRun run(false, FakeMailbox(4));
        run.Server.Capa = capa;
        WriteIniBool(kSectionSetup, "CopyToRecycle", false);
        run.Form.CheckMail();
        run.Form.ListViewMailBoxesSelectItem(1);  // Alice's
        run.Form.Selezionatutto1Click();
        ASSERT_TRUE(run.Server.WaitForSessions(1));
        const size_t before = run.Server.CapaRequests();
        run.Form.DeleteSelectedMessages();
        // Four sessions of the deletion, then the check that follows it.
        ASSERT_TRUE(run.Server.WaitForSessions(6));
        EXPECT_TRUE(run.Server.Messages().empty());
        EXPECT_EQ(run.Server.CapaRequests() - before, 2u);
        EXPECT_EQ(run.Server.LinesAhead(), 0u);
    }
}

}  // namespace
}  // namespace kalmuro::enginetest
