// The check cycle against the in-process fake mailbox: summaries, boxes,
// the error flag, Stop, and the faults a real server will not produce on
// demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "engine/engine_harness.h"
#include "mail/classify.h"

namespace kalmuro::enginetest {
namespace {

using test::TFakePop3Server;

constexpr const char* kAt = " - Ultima verifica alle 14:09:27";

class CheckCycleTest : public TFormTest {
protected:
    void Load(const TArrayOfMailAccount& accounts) {
        TFormTest::Load(accounts);
        Form.UpdateCommands();  // as the start timer does a second later
    }
    std::unique_ptr<TFakePop3Server> Server(int messages, const std::string& user = "alice",
                                            const std::string& password = "secret") {
        return std::make_unique<TFakePop3Server>(user, password, FakeMailbox(messages));
    }
    const std::string& Summary() const { return Form.StatusText(); }
};

TEST_F(CheckCycleTest, SummaryCountsNewMessagesAgainstThePreviousCheck) {
    auto server = Server(1);
    Load({Account("Alice", server->Port(), "alice", "secret")});
    struct Step {
        const char* Name;
        int Messages;
        std::string Summary;
        std::string Balloon;  // what the tray balloon was given
    };
    const std::vector<Step> steps = {
        {"first", 1, std::string("1 messaggi nuovi su un totale di 1 messaggi") + kAt,
         "1 messaggi nuovi su un totale di 1 messaggi"},
        {"unchanged", 1, std::string("0 messaggi nuovi su un totale di 1 messaggi") + kAt, ""},
        {"grown", 4, std::string("3 messaggi nuovi su un totale di 4 messaggi") + kAt,
         "3 messaggi nuovi su un totale di 4 messaggi"},
        {"shrunk", 2, std::string("2 messaggi") + kAt, ""},
        {"empty", 0, std::string("Non ci sono messaggi") + kAt, ""},
    };
    size_t sessions = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.Name);
        // The server commits a session at its QUIT, which the client never
        // waits for: let it finish before the mailbox changes.
        ASSERT_TRUE(server->WaitForSessions(sessions));
        server->SetMessages(FakeMailbox(step.Messages));
        Form.CheckMail();
        ++sessions;
        EXPECT_EQ(Summary(), step.Summary);
        ASSERT_FALSE(Screen.BalloonTexts.empty());
        EXPECT_EQ(Screen.BalloonTexts.back(), step.Balloon);
        EXPECT_EQ(Form.Messages.size(), static_cast<size_t>(step.Messages));
        EXPECT_TRUE(Screen.Boxes.empty());
        EXPECT_FALSE(Form.CheckErrorFlag());
    }
}

TEST_F(CheckCycleTest, NoBalloonWhenSwitchedOff) {
    auto server = Server(2);
    Load({Account("Alice", server->Port(), "alice", "secret")});
    WriteIniBool(kSectionSetup, "NotifyBalloon", false);
    Form.CheckMail();
    EXPECT_EQ(Summary(), std::string("2 messaggi nuovi su un totale di 2 messaggi") + kAt);
    ASSERT_EQ(Screen.BalloonTexts.size(), 1u);
    EXPECT_EQ(Screen.BalloonTexts[0], "");
}

TEST_F(CheckCycleTest, RecordsHoldWhatTheServerSaid) {
    auto server = Server(2);
    server->SetMessages({FakeMessage("  \"Ufficio vendite\"  <vendite@example.com>",
                                     "  Offerta speciale  ", "abc-1"),
                         FakeMessage("<solo@example.com>", "", "abc-2")});
    Load({Account("Alice", server->Port(), "alice", "secret")});
    Form.CheckMail();
    ASSERT_EQ(Form.Messages.size(), 2u);
    const TMessageEntry& first = Form.Messages[0];
    EXPECT_EQ(first.Sender, "Ufficio vendite (vendite@example.com)");
    EXPECT_EQ(first.FromName, "Ufficio vendite");
    EXPECT_EQ(first.FromAddress, "vendite@example.com");
    EXPECT_EQ(first.Subject, "Offerta speciale");
    EXPECT_EQ(first.UidlText, "1 abc-1");
    EXPECT_EQ(first.MsgNumber, 1);
    EXPECT_EQ(first.AccountIndex, 0);
    EXPECT_EQ(first.Size, static_cast<int32_t>(server->Messages()[0].Text.size()));
    EXPECT_NE(first.Date, 0.0);
    EXPECT_NE(first.HeaderText.find("Subject:   Offerta speciale  \r\n"), std::string::npos);
    EXPECT_FALSE(first.Selected);
    const TMessageEntry& second = Form.Messages[1];
    EXPECT_EQ(second.Sender, "solo@example.com");
    EXPECT_EQ(second.Subject, "");
    EXPECT_EQ(second.UidlText, "2 abc-2");
    ASSERT_EQ(Form.List().Rows.size(), 2u);
    EXPECT_EQ(Form.List().Rows[1].RecordIndex, 1);
}

TEST_F(CheckCycleTest, StatusTextsOfOneMessage) {
    auto server = Server(1);
    Load({Account("Alice", server->Port(), "alice", "secret")});
    Screen.Statuses.clear();
    Form.CheckMail();
    const std::vector<std::string> expected = {
        "Connessione a 127.0.0.1 come utente alice...",
        "",
        "Conteggio dei messaggi presenti sul server...",
        "",
        "Lettura messaggio 1 su 1 dal server 127.0.0.1...",
        "",
        "Disconnessione dal server 127.0.0.1...",
        "",
        "Controllo Anti-Spamming...",
        "",
        "Nessun messaggio selezionato",
        std::string("1 messaggi nuovi su un totale di 1 messaggi") + kAt,
    };
    EXPECT_EQ(Screen.Statuses, expected);
    ASSERT_TRUE(server->WaitForSessions(1));
    const std::vector<std::string> sent = server->Received(0);
    const std::vector<std::string> commands = {"USER alice", "PASS secret", "STAT", "TOP 1 0",
                                               "LIST 1",     "UIDL 1",      "QUIT"};
    EXPECT_EQ(sent, commands);
}

TEST_F(CheckCycleTest, NothingHappensWithoutAccounts) {
    Load({});
    Screen.Statuses.clear();
    Form.CheckMail();
    EXPECT_TRUE(Screen.Statuses.empty());
    EXPECT_FALSE(Form.Checking);
    EXPECT_FALSE(Screen.Commands.Check);
}

TEST_F(CheckCycleTest, InactiveAccountsAreNeverContacted) {
    auto server = Server(3);
    Load({Account("Alice", server->Port(), "alice", "secret", false),
          Account("Bob", server->Port(), "alice", "secret", false)});
    EXPECT_TRUE(Screen.Commands.Check);  // enabled although no account is active
    Form.CheckMail();
    EXPECT_EQ(server->SessionsAccepted(), 0u);
    EXPECT_EQ(Summary(), std::string("Non ci sono messaggi") + kAt);
    EXPECT_TRUE(Screen.Boxes.empty());
}

TEST_F(CheckCycleTest, WrongPasswordShowsTwoBoxesAndGoesOn) {
    auto refusing = Server(2);
    auto good = Server(3, "bob", "pw");
    Load({Account("Alice", refusing->Port(), "alice", "wrong"),
          Account("Bob", good->Port(), "bob", "pw")});
    Form.CheckMail();
    const std::vector<std::string> boxes = {
        "Il server ha risposto con l'errore 2:\\n [AUTH] Authentication failed.\\n",
        "Impossibile connettersi a 127.0.0.1"};
    EXPECT_EQ(Screen.BoxMessages(), boxes);
    for (const TBox& box : Screen.Boxes) {
        EXPECT_EQ(box.Title, "Errore");
        EXPECT_EQ(box.Buttons, mbOk);
        EXPECT_EQ(box.Icon, miWarning);
    }
    EXPECT_EQ(Form.Messages.size(), 3u);
    EXPECT_EQ(Form.Messages[0].AccountIndex, 1);
    EXPECT_TRUE(Form.CheckErrorFlag());
    EXPECT_EQ(Summary(), std::string("3 messaggi nuovi su un totale di 3 messaggi") + kAt +
                             " - Sono stati rilevati errori");
}

TEST_F(CheckCycleTest, RefusedConnectionNeverShowsAnEarlierServersReply) {
    auto refusing = Server(1);
    Load({Account("Alice", refusing->Port(), "alice", "wrong"),
          Account("Nobody", test::RefusedPort(), "x", "y")});
    Form.CheckMail();
    const std::vector<std::string> boxes = {
        "Il server ha risposto con l'errore 2:\\n [AUTH] Authentication failed.\\n",
        "Impossibile connettersi a 127.0.0.1", "Impossibile connettersi a 127.0.0.1"};
    EXPECT_EQ(Screen.BoxMessages(), boxes);
}

TEST_F(CheckCycleTest, SettingsThatAreNoNumbersEndEachAccountsTurn) {
    auto server = Server(2);
    struct Case {
        const char* Name;
        std::string Timeout;  // empty: not written
        std::string Port;     // empty: the server's
    };
    const std::vector<Case> cases = {
        {"timeout-letters", "abc", ""}, {"timeout-empty-value", " ", ""},
        {"port-letters", "", "pop"},    {"port-out-of-range", "", "65646"},
        {"port-zero", "", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TMailAccount first = Account("A", server->Port(), "alice", "secret");
        TMailAccount second = first;
        if (!c.Port.empty()) first.Port = second.Port = c.Port;
        EraseIniSection(kSectionSetup);
        if (!c.Timeout.empty()) WriteIniString(kSectionSetup, "Timeout", c.Timeout);
        Load({first, second});
        Screen.Boxes.clear();
        Form.CheckMail();
        const std::vector<std::string> boxes(2, "Impossibile completare l'operazione");
        EXPECT_EQ(Screen.BoxMessages(), boxes);
        EXPECT_FALSE(Form.CheckErrorFlag());
        EXPECT_EQ(Summary(), std::string("Non ci sono messaggi") + kAt);
    }
    EXPECT_EQ(server->SessionsAccepted(), 0u);
}

TEST_F(CheckCycleTest, FailingHeaderFetchStillStoresTheRecord) {
    auto server = Server(3);
    server->Override("TOP 2 0", "-ERR Message is broken.\r\n");
    Load({Account("Alice", server->Port(), "alice", "secret")});
    Form.CheckMail();
    ASSERT_EQ(Form.Messages.size(), 3u);
    const TMessageEntry& broken = Form.Messages[1];
    EXPECT_EQ(broken.Sender, "");
    EXPECT_EQ(broken.Subject, "");
    EXPECT_EQ(broken.Date, 0.0);
    EXPECT_EQ(broken.HeaderText, "");
    EXPECT_EQ(broken.MsgNumber, 2);
    EXPECT_EQ(broken.UidlText, "2 uid-2");
    EXPECT_GT(broken.Size, 0);
    EXPECT_EQ(Form.List().Rows[1].Columns[mcDate], "Sab 30/12/99 00:00");
    EXPECT_TRUE(Screen.Boxes.empty());
    EXPECT_TRUE(Form.CheckErrorFlag());
    EXPECT_EQ(Summary(), std::string("3 messaggi nuovi su un totale di 3 messaggi") + kAt +
                             " - Sono stati rilevati errori");
}

TEST_F(CheckCycleTest, UidlRefusedLeavesEmptyIdsWithoutError) {
    auto server = Server(3);
    for (int n = 1; n <= 3; ++n)
        server->Override("UIDL " + std::to_string(n), "-ERR Unknown command: UIDL\r\n");
    Load({Account("Alice", server->Port(), "alice", "secret")});
    Form.CheckMail();
    ASSERT_EQ(Form.Messages.size(), 3u);
    for (const TMessageEntry& m : Form.Messages) {
        EXPECT_EQ(m.UidlText, "");
        EXPECT_NE(m.Sender, "");
    }
    EXPECT_TRUE(Screen.Boxes.empty());
    EXPECT_FALSE(Form.CheckErrorFlag());
    EXPECT_EQ(Summary(), std::string("3 messaggi nuovi su un totale di 3 messaggi") + kAt);
}

TEST_F(CheckCycleTest, UidlCutOffSetsTheFlagAndLosesTheRestOfTheAccount) {
    auto server = Server(4);
    server->Override("UIDL 2", "", /*close=*/true);
    auto other = Server(1, "bob", "pw");
    Load({Account("Alice", server->Port(), "alice", "secret"),
          Account("Bob", other->Port(), "bob", "pw")});
    Form.CheckMail();
    // Message 2 is stored without its id; message 3 finds the connection gone
    // (its header fetch sets the flag, its LIST ends the account).
    ASSERT_EQ(Form.Messages.size(), 4u);
    EXPECT_EQ(Form.Messages[1].UidlText, "");
    EXPECT_EQ(Form.Messages[1].MsgNumber, 2);
    EXPECT_EQ(Form.Messages[2].MsgNumber, 0);
    EXPECT_EQ(Form.Messages[3].AccountIndex, 1);
    const std::vector<std::string> boxes = {"Rilevati problemi durante la lettura dei messaggi"};
    EXPECT_EQ(Screen.BoxMessages(), boxes);
    EXPECT_TRUE(Form.CheckErrorFlag());
}

TEST_F(CheckCycleTest, ConnectionLostInTheMiddleOfAnAccount) {
    auto server = Server(5);
    server->Override("LIST 3", "", /*close=*/true);
    auto other = Server(2, "bob", "pw");
    Load({Account("Alice", server->Port(), "alice", "secret"),
          Account("Bob", other->Port(), "bob", "pw")});
    Form.CheckMail();
    const std::vector<std::string> boxes = {"Rilevati problemi durante la lettura dei messaggi"};
    EXPECT_EQ(Screen.BoxMessages(), boxes);
    // Messages 1 and 2, the half-read message 3, then Bob's two.
    ASSERT_EQ(Form.Messages.size(), 5u);
    EXPECT_EQ(Form.Messages[1].UidlText, "2 uid-2");
    EXPECT_EQ(Form.Messages[2].AccountIndex, 0);
    EXPECT_EQ(Form.Messages[2].MsgNumber, 0);
    EXPECT_EQ(Form.Messages[2].Size, 0);
    EXPECT_EQ(Form.Messages[3].AccountIndex, 1);
    EXPECT_EQ(Form.Messages[4].UidlText, "2 uid-2");
    // The list rebuilt at the end shows the half-read record too.
    EXPECT_EQ(Form.List().Rows.size(), 5u);
    EXPECT_FALSE(Form.CheckErrorFlag());
    EXPECT_EQ(Summary(), std::string("5 messaggi nuovi su un totale di 5 messaggi") + kAt);
    EXPECT_FALSE(Form.Checking);
}

TEST_F(CheckCycleTest, StopDuringMessageThreeOfTen) {
    auto server = Server(10);
    auto other = Server(2, "bob", "pw");
    Load({Account("Alice", server->Port(), "alice", "secret"),
          Account("Bob", other->Port(), "bob", "pw")});
    bool clickWaiting = false;
    Screen.OnStatus = [&](const std::string& text) {
        if (text == "Lettura messaggio 3 su 10 dal server 127.0.0.1...") clickWaiting = true;
    };
    bool stopWasEnabled = false;
    Screen.OnPump = [&] {
        if (!clickWaiting) return;
        clickWaiting = false;
        stopWasEnabled = Screen.StopVisible && Screen.StopEnabled;
        Form.BitBtnStopClick();
    };
    Form.CheckMail();
    EXPECT_TRUE(stopWasEnabled);
    ASSERT_EQ(Form.Messages.size(), 3u);
    EXPECT_EQ(Form.Messages[2].UidlText, "3 uid-3");
    ASSERT_TRUE(server->WaitForSessions(1));
    const std::vector<std::string> sent = server->Received(0);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "QUIT");
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "TOP 4 0"), 0);
    EXPECT_EQ(other->SessionsAccepted(), 0u);
    EXPECT_EQ(Summary(), std::string("3 messaggi nuovi su un totale di 3 messaggi") + kAt +
                             " - Interrotto dall'utente");
    EXPECT_TRUE(std::count(Screen.Statuses.begin(), Screen.Statuses.end(),
                           "Interruzione dell'operazione in corso..."));
    EXPECT_FALSE(Screen.StopVisible);
    EXPECT_FALSE(Form.Checking);
    // The flag outlives the check until the next one shows the button.
    EXPECT_TRUE(Form.StopRequested());
    Screen.OnStatus = nullptr;
    Screen.OnPump = nullptr;
    Form.CheckMail();
    EXPECT_EQ(Form.Messages.size(), 12u);
    EXPECT_EQ(Summary(), std::string("9 messaggi nuovi su un totale di 12 messaggi") + kAt);
}

TEST_F(CheckCycleTest, CommandsAreOffAndStopShownWhileChecking) {
    auto server = Server(2);
    Load({Account("Alice", server->Port(), "alice", "secret")});
    TCommandState during{true, true, true, true};
    bool stopDuring = false, busyDuring = false;
    Screen.OnStatus = [&](const std::string& text) {
        if (text.rfind("Lettura messaggio 2", 0) != 0) return;
        during = Screen.Commands;
        stopDuring = Screen.StopVisible;
        busyDuring = Screen.ListsBusy;
    };
    Form.CheckMail();
    EXPECT_EQ(during, TCommandState{});
    EXPECT_TRUE(stopDuring);
    EXPECT_TRUE(busyDuring);
    EXPECT_FALSE(Screen.StopVisible);
    EXPECT_FALSE(Screen.ListsBusy);
    EXPECT_EQ(Screen.Commands, (TCommandState{true, false, true, true}));
}

TEST_F(CheckCycleTest, ASecondCheckFromANestedHandlerReturnsAtOnce) {
    auto server = Server(3);
    Load({Account("Alice", server->Port(), "alice", "secret")});
    int nested = 0;
    Screen.OnPump = [&] {
        if (Form.Checking && nested < 5) {
            ++nested;
            Form.CheckMail();
        }
    };
    Form.CheckMail();
    EXPECT_EQ(nested, 5);
    EXPECT_EQ(server->SessionsAccepted(), 1u);
    EXPECT_EQ(Form.Messages.size(), 3u);
}

TEST_F(CheckCycleTest, BlockedMessagesAreTickedWhenTheListIsRebuilt) {
    auto server = Server(3);
    Home.Write("Oggetti.txt", "message 2\r\n");
    Home.Write("MittentiOk.txt", "USER3@\r\n");
    Load({Account("Alice", server->Port(), "alice", "secret")});
    std::vector<bool> ticksWhileReading;
    Screen.OnStatus = [&](const std::string& text) {
        if (text == kClassifyStatus)
            for (const TMessageRow& row : Form.List().Rows)
                ticksWhileReading.push_back(row.Checked);
    };
    Form.CheckMail();
    EXPECT_EQ(ticksWhileReading, std::vector<bool>(3, false));
    const auto& rows = Form.List().Rows;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_FALSE(rows[0].Checked);
    EXPECT_TRUE(rows[1].Checked);
    EXPECT_EQ(Form.Messages[1].SpamNote, "<<< Oggetto bloccato: message 2 >>>");
    EXPECT_TRUE(Form.Messages[2].Secured);
    EXPECT_EQ(Form.CountCheckedMessages(), 1);
    EXPECT_TRUE(Screen.Commands.Delete);
    EXPECT_EQ(Form.RowTextColor(1), kDefaultColorSelected);
    EXPECT_EQ(Form.RowTextColor(2), kDefaultColorSecured);
}

TEST_F(CheckCycleTest, TheTotalCountsOnlyTheShownMailbox) {
    auto alice = Server(3);
    auto bob = Server(2, "bob", "pw");
    Home.Write("Mittenti.txt", "user1@\r\n");
    Load({Account("Alice", alice->Port(), "alice", "secret"),
          Account("Bob", bob->Port(), "bob", "pw")});
    ASSERT_EQ(Screen.Mailboxes.size(), 3u);
    EXPECT_TRUE(Screen.PanelVisible);
    Form.ListViewMailBoxesSelectItem(2);  // Bob
    Form.CheckMail();
    EXPECT_EQ(Summary(), std::string("5 messaggi nuovi su un totale di 2 messaggi") + kAt);
    // Alice's and Bob's message 1 are both blocked, only Bob's row counts.
    EXPECT_TRUE(Form.Messages[0].Selected);
    EXPECT_TRUE(Form.Messages[3].Selected);
    EXPECT_EQ(Form.CountCheckedMessages(), 1);
    Form.ListViewMailBoxesSelectItem(0);
    EXPECT_EQ(Form.List().Rows.size(), 5u);
    EXPECT_EQ(Form.CountCheckedMessages(), 2);
}

TEST_F(CheckCycleTest, ABadSettingAfterTheAccountsStillClosesTheCycle) {
    auto server = Server(1);
    struct Case {
        const char* Name;
        const char* Key;
        const char* Value;
    };
    const std::vector<Case> cases = {
        {"balloon", "NotifyBalloon", "yes"},
        {"empty-message-test", "StopEmptyMsg", "on"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EraseIniSection(kSectionSetup);
        Load({Account("Alice", server->Port(), "alice", "secret")});
        WriteIniString(kSectionSetup, c.Key, c.Value);
        Screen.Boxes.clear();
        Form.CheckMail();
        EXPECT_FALSE(Form.Checking);
        EXPECT_FALSE(Screen.StopVisible);
        EXPECT_FALSE(Screen.ListsBusy);
        EXPECT_TRUE(Screen.Commands.Check);
        const std::vector<std::string> boxes = {std::string("'") + c.Value +
                                                "' is not a valid integer value"};
        EXPECT_EQ(Screen.BoxMessages(), boxes);
        // Nothing is left half-done: the next check runs normally.
        EraseIniSection(kSectionSetup);
        Screen.Boxes.clear();
        Form.CheckMail();
        EXPECT_TRUE(Screen.Boxes.empty());
        EXPECT_EQ(Form.Messages.size(), 1u);
    }
}

TEST_F(CheckCycleTest, ConnectAccountClosesTheOpenSessionFirst) {
    auto server = Server(1);
    Load({Account("Alice", server->Port(), "alice", "secret")});
    ASSERT_TRUE(Form.ConnectAccount(0));
    EXPECT_TRUE(Form.AntiFreeze1.Active);
    ASSERT_TRUE(Form.ConnectAccount(0));
    ASSERT_TRUE(server->WaitForSessions(1));
    EXPECT_EQ(server->Received(0).back(), "QUIT");
    Form.DisconnectServer();
    EXPECT_FALSE(Form.AntiFreeze1.Active);
    EXPECT_FALSE(Form.Pop3Client1.IsConnected());
    ASSERT_TRUE(server->WaitForSessions(2));
    EXPECT_EQ(server->Received(1).back(), "QUIT");
}

}  // namespace
// The rows appended while the check ran are kept once the records are
// classified: they must be exactly what building them anew gives, ticks
// included, and the view must be told of all of them again.
TEST_F(CheckCycleTest, RowsKeptAfterTheClassificationAreThoseARebuildGives) {
    auto server = Server(6);
    Load({Account("Alice", server->Port(), "alice", "secret")});
    Form.BlockedSubjects.Lines = {"Message 2", "Message 5"};
    Form.SafeSenders.Lines = {"user5@"};
    const int32_t resets = Screen.RowsResets, appended = Screen.RowsAppendedTotal;
    Form.CheckMail();
    // Emptied at the start, six rows as they came, then all six again.
    EXPECT_EQ(Screen.RowsResets, resets + 2);
    EXPECT_EQ(Screen.RowsAppendedTotal, appended + 12);
    const std::vector<TMessageRow> kept = Form.List().Rows;
    ASSERT_EQ(kept.size(), 6u);
    Form.FillMessageList();
    const std::vector<TMessageRow>& rebuilt = Form.List().Rows;
    ASSERT_EQ(rebuilt.size(), kept.size());
    for (size_t r = 0; r < kept.size(); ++r) {
        EXPECT_EQ(kept[r].RecordIndex, rebuilt[r].RecordIndex) << r;
        EXPECT_EQ(kept[r].Checked, rebuilt[r].Checked) << r;
        EXPECT_EQ(kept[r].Columns, rebuilt[r].Columns) << r;
    }
    EXPECT_TRUE(kept[1].Checked);
    EXPECT_FALSE(kept[4].Checked);  // the safe sender comes first
    EXPECT_EQ(Form.List().CheckedCount(), 1);
}

}  // namespace kalmuro::enginetest
