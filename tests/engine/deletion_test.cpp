// Deletion against the in-process fake mailbox: the question and the copy
// choice, the conversation and the recycle file, the collision suffix, every
// failure of a message's turn, Stop, and the automatic run with its bound.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "engine/engine_harness.h"
#include "engine/message_files.h"
#include "mail/atomic_file.h"

namespace kalmuro::enginetest {
namespace {

using test::TFakeMessage;
using test::TFakePop3Server;

TEST(MessageFiles, NewFilesReplaceNothingAndFitTheFileSystem) {
    struct Case {
        const char* Name;
        std::vector<std::string> Existing;
        std::string Base, Expected;  // empty Expected: checked below
    };
    const std::string date = "20070305_140900_";
    const std::vector<Case> cases = {
        {"free", {}, "a", "a.eml"},
        {"taken", {"a.eml"}, "a", "a_2.eml"},
        {"plain-free-again", {"a_2.eml"}, "a", "a.eml"},
        {"taken-twice", {"a.eml", "a_2.eml", "a_4.eml"}, "a", "a_3.eml"},
        {"windows-1252-name", {}, "caff\xE8", "caff\xC3\xA8.eml"},  // caffè
        {"too-long-for-the-file-system", {}, date + std::string(400, 'b'), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempHome home;
        for (const std::string& name : c.Existing) home.Write(name, "old");
        std::string path;
        EXPECT_EQ(WriteNewMessageFile(home.Dir(), c.Base, "new\r\n", path), 0);
        const std::string name = path.substr(home.Dir().size() + 1);
        if (!c.Expected.empty()) {
            EXPECT_EQ(name, c.Expected);
        } else {
            EXPECT_LE(name.size(), 255u);
            EXPECT_EQ(name.rfind(date + "bbb", 0), 0u);
        }
        EXPECT_EQ(ReadFile(path), "new\r\n");
        EXPECT_EQ(FolderNames(home.Dir()).size(), c.Existing.size() + 1);
        for (const std::string& old : c.Existing) EXPECT_EQ(ReadFile(home.Path(old)), "old");
    }
    TTempHome home;
    SetWriteFailureForTesting(3);
    std::string path;
    EXPECT_EQ(WriteNewMessageFile(home.Dir(), "a", "longer than three", path), EIO);
    SetWriteFailureForTesting(-1);
    EXPECT_TRUE(FolderNames(home.Dir()).empty());
    EXPECT_EQ(MessageFileContent({"a", "", ".b"}), "a\r\n\r\n.b\r\n");
}

class DeletionTest : public TFormTest {
protected:
    TUtcZone Utc;

    void TearDown() override { SetWriteFailureForTesting(-1); }

    // Loads one account on the server and checks it once.
    void CheckAccount(const TFakePop3Server& server, const std::string& password = "secret") {
        Load({Account("Alice", server.Port(), "alice", password)});
        Form.CheckMail();
        Screen.Boxes.clear();
        Screen.Statuses.clear();
    }
};

TEST_F(DeletionTest, QuestionAndCopyChoice) {
    struct Case {
        const char* Name;
        bool CopySetting;
        bool Shift;
        int Ticked;
        std::string Question;
        bool Copies;
    };
    const std::vector<Case> cases = {
        {"copy-one", true, false, 1, "Spostare nel Cestino il messaggio selezionato ?", true},
        {"copy-shift-three", true, true, 3, "Eliminare definitivamente i 3 messaggi selezionati ?",
         false},
        {"plain-two", false, false, 2, "Eliminare definitivamente i 2 messaggi selezionati ?",
         false},
        {"plain-shift-one", false, true, 1, "Spostare nel Cestino il messaggio selezionato ?",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(Home.Path("Cestino"));
        TFakePop3Server server("alice", "secret", FakeMailbox(3));
        CheckAccount(server);
        WriteIniBool(kSectionSetup, "CopyToRecycle", c.CopySetting);
        for (int row = 0; row < c.Ticked; ++row) Form.SetRowChecked(row, true);
        Screen.ShiftDown = c.Shift;
        const int32_t timerCalls = Screen.TimerCalls;

        Form.DeleteSelectedMessages();
        ASSERT_FALSE(Screen.Boxes.empty());
        const TBox& box = Screen.Boxes.front();
        EXPECT_EQ(box.Title, "Conferma");
        EXPECT_EQ(box.Message, c.Question);
        EXPECT_EQ(box.Buttons, mbYesNo);
        EXPECT_EQ(box.Focused, 1);
        EXPECT_EQ(Screen.Boxes.size(), 1u);
        EXPECT_EQ(server.Messages().size(), static_cast<size_t>(3 - c.Ticked));
        EXPECT_EQ(Recycled().size(), c.Copies ? static_cast<size_t>(c.Ticked) : 0u);
        // The new check has run and the window is back to normal.
        EXPECT_EQ(Form.Messages.size(), static_cast<size_t>(3 - c.Ticked));
        EXPECT_FALSE(Form.Deleting);
        EXPECT_FALSE(Screen.StopVisible);
        EXPECT_GT(Screen.TimerCalls, timerCalls);
    }
}

TEST_F(DeletionTest, NothingTickedOrNoAnswerStartsNoCheck) {
    TFakePop3Server server("alice", "secret", FakeMailbox(2));
    CheckAccount(server);
    Form.DeleteSelectedMessages();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{"Non ci sono messaggi selezionati"});

    Form.SetRowChecked(0, true);
    Screen.Answer = [](const TBox&) { return int32_t{mrNo}; };
    Form.DeleteSelectedMessages();
    EXPECT_EQ(Screen.Boxes.size(), 2u);
    EXPECT_EQ(server.SessionsAccepted(), 1u);  // the first check only
    EXPECT_FALSE(Form.Deleting);
    EXPECT_TRUE(Screen.Commands.Delete);
}

TEST_F(DeletionTest, OneMessageConversationAndItsRecycleFile) {
    TFakeMessage m;
    m.Text =
        "From: Ufficio vendite <vendite@example.com>\r\nSubject: Offerta: sconti del 50%!\r\n"
        "Date: Mon, 5 Mar 2007 14:09:00 +0000\r\n\r\n.riga con punto\r\n.\r\nfine\r\n";
    m.Uid = "id-1";
    TFakePop3Server server("alice", "secret", {m});
    CheckAccount(server);
    Form.SetRowChecked(0, true);
    Screen.Statuses.clear();
    Form.DeleteSelectedMessages();

    EXPECT_EQ(Screen.BoxMessages(),
              std::vector<std::string>{"Spostare nel Cestino il messaggio selezionato ?"});
    const std::string label = " Offerta: sconti del 50%! di Ufficio vendite (vendite@example.com)";
    const std::vector<std::string> statuses(Screen.Statuses.begin(), Screen.Statuses.begin() + 10);
    const std::vector<std::string> expected = {
        "Connessione a 127.0.0.1 come utente alice...",
        "",
        "Verifica esistenza del messaggio" + label,
        "Copia nel cestino del messaggio" + label,
        "Eliminazione del messaggio" + label,
        "",
        "Disconnessione dal server 127.0.0.1...",
        "",
        "Connessione a 127.0.0.1 come utente alice...",  // the new check
        "",
    };
    EXPECT_EQ(statuses, expected);
    const std::vector<std::string> commands = {"USER alice", "PASS secret", "UIDL 1",
                                               "RETR 1",     "DELE 1",      "QUIT"};
    EXPECT_EQ(server.Received(1), commands);

    const std::string name =
        "20070305_140900_Ufficio_vendite_(vendite@example_com)_Offerta_sconti_"
        "del_50%!.eml";
    EXPECT_EQ(Recycled(), std::vector<std::string>{name});
    EXPECT_EQ(ReadFile(Home.Path("Cestino/" + name)), m.Text);
    EXPECT_TRUE(server.Messages().empty());
    EXPECT_EQ(Form.StatusText(), "Non ci sono messaggi - Ultima verifica alle 14:09:27");
}

TEST_F(DeletionTest, CollisionSuffixAndUntrustedNames) {
    const TFakeMessage same = FakeMessage("<a@example.com>", "Uguale", "x");
    TFakeMessage second = same, third = same;
    second.Uid = "y";
    third.Uid = "z";
    TFakeMessage climbing = FakeMessage("<b@example.com>", "../../etc/passwd", "w");
    TFakeMessage longOne = FakeMessage("<c@example.com>", std::string(300, 'x'), "v");
    TFakePop3Server server("alice", "secret", {same, second, third, climbing, longOne});
    CheckAccount(server);
    std::filesystem::create_directory(Home.Path("Cestino"));
    const std::string base = "20070305_130900_a@example_com_Uguale";
    Home.Write("Cestino/" + base + ".eml", "old");
    Home.Write("Cestino/" + base + "_3.eml", "old 3");
    Form.Selezionatutto1Click();
    Form.DeleteSelectedMessages();

    EXPECT_TRUE(server.Messages().empty());
    const std::vector<std::string> names = Recycled();
    ASSERT_EQ(names.size(), 7u);
    EXPECT_EQ(names[0], base + ".eml");
    EXPECT_EQ(names[1], base + "_2.eml");  // the last row goes first
    EXPECT_EQ(names[2], base + "_3.eml");
    EXPECT_EQ(names[3], base + "_4.eml");
    EXPECT_EQ(names[4], base + "_5.eml");
    EXPECT_EQ(names[5], "20070305_130900_b@example_com_etc_passwd.eml");
    const std::string shortened = names[6];
    EXPECT_EQ(ReadFile(Home.Path("Cestino/" + base + ".eml")), "old");
    EXPECT_EQ(ReadFile(Home.Path("Cestino/" + base + "_3.eml")), "old 3");
    EXPECT_EQ(ReadFile(Home.Path("Cestino/" + base + "_5.eml")), same.Text);
    EXPECT_EQ(shortened.rfind("20070305_130900_c@example_com_xxx", 0), 0u);
    EXPECT_LE(shortened.size(), 255u);
    EXPECT_EQ(shortened.substr(shortened.size() - 8), "xxxx.eml");
}

TEST_F(DeletionTest, FailuresKeepTheMessageEndTheWalkAndCloseTheRun) {
    struct Case {
        const char* Name;
        std::string Command, Reply;  // an answer replaced after the check
        bool Close;
        std::function<void(const TTempHome&, TFormMain&)> Prepare;
        std::vector<std::string> Boxes;
        size_t Recycled;
    };
    const std::string failed = "Rilevati errori durante l'eliminazione";
    const std::vector<Case> cases = {
        {"uidl-differs", "UIDL 2", "+OK 2 someone-else\r\n", false, {}, {failed}, 0},
        {"uidl-refused", "UIDL 2", "-ERR no\r\n", false, {}, {failed}, 0},
        {"retr-refused",
         "RETR 2",
         "-ERR no\r\n",
         false,
         {},
         {"Rilevati errori durante la ricezione del messaggio", failed},
         0},
        {"retr-cut",
         "RETR 2",
         "+OK\r\nFrom: x\r\n",
         true,
         {},
         {"Rilevati errori durante la copia del messaggio nel cestino", failed},
         0},
        {"recycle-is-a-file",
         "",
         "",
         false,
         [](const TTempHome& home, TFormMain&) { home.Write("Cestino", "not a folder"); },
         {"Impossibile accedere alla cartella del Cestino", failed},
         0},
        {"write-fails",
         "",
         "",
         false,
         [](const TTempHome&, TFormMain&) { SetWriteFailureForTesting(10); },
         {"Rilevati errori durante la scrittura del messaggio nel cestino", failed},
         0},
        // Errors the turn does not handle reach the general report; the copy
        // made before DELE stays.
        {"uidl-connection-lost", "UIDL 2", "", true, {}, {"Connection Closed Gracefully."}, 0},
        {"dele-refused", "DELE 2", "-ERR busy\r\n", false, {}, {" busy\r\n"}, 1},
        {"dele-connection-lost", "DELE 2", "", true, {}, {"Connection Closed Gracefully."}, 1},
        {"quit-refused",
         "QUIT",
         "-ERR some deleted messages not removed\r\n",
         false,
         {},
         {" some deleted messages not removed\r\n"},
         1},
        {"login-refused",
         "",
         "",
         false,
         [](const TTempHome&, TFormMain& form) { form.Accounts[0].UserPwd = "wrong"; },
         {"Il server ha risposto con l'errore 2:\\n [AUTH] Authentication failed.\\n",
          // the new check's
          "Il server ha risposto con l'errore 2:\\n [AUTH] Authentication failed.\\n",
          "Impossibile connettersi a 127.0.0.1"},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(Home.Path("Cestino"));
        TFakePop3Server server("alice", "secret", FakeMailbox(2));
        CheckAccount(server);
        Form.Selezionatutto1Click();
        if (!c.Command.empty()) server.Override(c.Command, c.Reply, c.Close);
        if (c.Prepare) c.Prepare(Home, Form);
        const int32_t timerCalls = Screen.TimerCalls;

        Form.DeleteBlockedMessages();
        SetWriteFailureForTesting(-1);
        EXPECT_EQ(Screen.BoxMessages(), c.Boxes);
        ASSERT_TRUE(server.WaitForSessions(3));
        EXPECT_EQ(server.SessionsAccepted(), 3u);  // the walk ended at the last row
        EXPECT_EQ(server.Messages().size(), 2u);
        // With commands sent ahead both messages were copied and both DELEs
        // went out: an answer that never came, or a refused QUIT, may still
        // have made them final, so both copies stay.
        const bool batched = test::DefaultCapa() == test::TCapa::Pipelining;
        const bool ambiguous = c.Name == std::string("dele-connection-lost") ||
                               c.Name == std::string("quit-refused");
        EXPECT_EQ(Recycled().size(), batched && ambiguous ? 2u : c.Recycled);
        EXPECT_FALSE(Form.Deleting);
        EXPECT_FALSE(Form.Pop3Client1.IsConnected());
        EXPECT_FALSE(Form.AntiFreeze1.Active);
        EXPECT_FALSE(Screen.StopVisible);
        EXPECT_GT(Screen.TimerCalls, timerCalls);
        // The new check (which cannot log in either after the refusal).
        EXPECT_EQ(Form.Messages.size(), c.Name == std::string("login-refused") ? 0u : 2u);
    }
}

TEST_F(DeletionTest, StopFinishesTheMessageInProgress) {
    TFakePop3Server server("alice", "secret", FakeMailbox(3));
    CheckAccount(server);
    Form.Selezionatutto1Click();
    bool clickWaiting = false;
    Screen.OnStatus = [&](const std::string& text) {
        if (text.rfind("Verifica esistenza", 0) == 0) clickWaiting = true;
    };
    Screen.OnPump = [&] {
        if (clickWaiting) {
            clickWaiting = false;
            Form.BitBtnStopClick();
        }
    };
    Form.DeleteSelectedMessages();
    ASSERT_EQ(server.Messages().size(), 2u);
    EXPECT_EQ(server.Messages()[1].Uid, "uid-2");
    EXPECT_EQ(Recycled().size(), 1u);
    EXPECT_EQ(Form.StatusText(), "2 messaggi - Ultima verifica alle 14:09:27");
}

TEST_F(DeletionTest, AutomaticDeletionRunsOncePerCheck) {
    struct Case {
        const char* Name;
        std::string Override;  // a UIDL refused from the start
        bool StopTheCheck;
        std::vector<std::string> Boxes;
        size_t Sessions, Left, Recycled;
    };
    const std::vector<Case> cases = {
        {"deleted", "", false, {}, 3, 2, 1},
        // Without a unique id the message cannot go; the check after the
        // failed run does not try again.
        {"no-uidl", "UIDL 2", false, {"Rilevati errori durante l'eliminazione"}, 3, 3, 0},
        {"check-stopped", "", true, {}, 1, 3, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove_all(Home.Path("Cestino"));
        TFakePop3Server server("alice", "secret", FakeMailbox(3));
        if (!c.Override.empty()) server.Override(c.Override, "-ERR unsupported\r\n");
        SaveAccounts({Account("Alice", server.Port(), "alice", "secret")});
        WriteIniBool(kSectionSetup, "AutoDelete", true);
        Home.Write("Mittenti.txt", "user2@\r\n");
        Form.LoadSettings();
        Form.FormShow();
        Screen.ShiftDown = true;  // not consulted
        Screen.Boxes.clear();
        Screen.OnStatus = [&](const std::string& text) {
            if (c.StopTheCheck && text.rfind("Lettura messaggio 3", 0) == 0) Form.BitBtnStopClick();
        };
        Form.CheckMail();
        Screen.OnStatus = nullptr;
        EXPECT_EQ(Screen.BoxMessages(), c.Boxes);
        ASSERT_TRUE(server.WaitForSessions(c.Sessions));
        EXPECT_EQ(server.SessionsAccepted(), c.Sessions);
        EXPECT_EQ(server.Messages().size(), c.Left);
        // With commands sent ahead both messages were copied and both DELEs
        // went out: an answer that never came, or a refused QUIT, may still
        // have made them final, so both copies stay.
        const bool batched = test::DefaultCapa() == test::TCapa::Pipelining;
        const bool ambiguous = c.Name == std::string("dele-connection-lost") ||
                               c.Name == std::string("quit-refused");
        EXPECT_EQ(Recycled().size(), batched && ambiguous ? 2u : c.Recycled);
        EXPECT_FALSE(Form.Deleting);
        EXPECT_FALSE(Form.Checking);
    }
}

TEST_F(DeletionTest, OpenRecycleFolder) {
    Form.BitBtnRecycleClick();
    EXPECT_EQ(Screen.ShellTargets, std::vector<std::string>{Home.Dir() + "/Cestino"});
    EXPECT_TRUE(Screen.Boxes.empty());
    Screen.ShellSucceeds = false;
    Form.Apricestino1Click();
    EXPECT_EQ(Screen.BoxMessages(),
              std::vector<std::string>{"Rilevato un errore durante l'esecuzione di\\n" +
                                       Home.Dir() + "/Cestino "});
}

}  // namespace
}  // namespace kalmuro::enginetest
