// Viewing a message's header or whole text, and saving it, against the fake
// mailbox.
#include <gtest/gtest.h>

#include "engine/engine_harness.h"

namespace kalmuro::enginetest {
namespace {

using test::TFakePop3Server;

class MessageViewTest : public TFormTest {
protected:
    TUtcZone Utc;
    TFakePop3Server Server{"alice", "secret", FakeMailbox(2)};

    void SetUp() override {
        Load({Account("Alice", Server.Port(), "alice", "secret")});
        Form.CheckMail();
        Form.SetHighlightedRow(1);
        Screen.Boxes.clear();
        Screen.Statuses.clear();
    }
    // The lines of message 2 as the server holds them.
    std::vector<std::string> MessageLines() const {
        return SplitRuleLines(Server.Messages()[1].Text);
    }
};

TEST_F(MessageViewTest, HeaderNeedsNoServer) {
    Server.Stop();
    const int32_t timerCalls = Screen.TimerCalls;
    Form.Visualizzalintestazionedelmessaggio1Click();
    Form.ListViewMsgDblClick();
    Form.SetHighlightedRow(-1);
    Form.ListViewMsgDblClick();  // nothing, not even a box
    const std::vector<std::string> header = {"From: User 2 <user2@example.com>",
                                             "Subject: Message 2",
                                             "Date: Mon, 5 Mar 2007 14:09:00 +0100"};
    ASSERT_EQ(Screen.Viewers.size(), 2u);
    for (const TRecordingScreen::TViewer& viewer : Screen.Viewers) {
        EXPECT_EQ(viewer.Caption, "Messaggio originale");
        EXPECT_EQ(viewer.Lines, header);
    }
    EXPECT_TRUE(Screen.Boxes.empty());
    EXPECT_EQ(Screen.TimerCalls, timerCalls + 4);  // suspended and resumed each time
}

TEST_F(MessageViewTest, WholeMessage) {
    struct Case {
        const char* Name;
        std::string Reply;  // replaces the answer to RETR 2; empty: none
        bool Close;
        bool Viewer;
        bool Empty;
        std::vector<std::string> Boxes;
    };
    const std::vector<Case> cases = {
        {"read", "", false, true, false, {}},
        {"refused", "-ERR no\r\n", false, true, true, {}},
        {"cut", "+OK\r\nFrom: x\r\n", true, false, false, {"Connection Closed Gracefully."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        if (!c.Reply.empty()) Server.Override("RETR 2", c.Reply, c.Close);
        Screen.Viewers.clear();
        Screen.Boxes.clear();
        Screen.Statuses.clear();
        bool connectedWhileShown = true;
        Screen.OnViewer = [&] { connectedWhileShown = Form.Pop3Client1.IsConnected(); };
        const size_t sessions = Server.SessionsAccepted();
        Form.Visualizzamessaggio1Click();

        EXPECT_EQ(Screen.BoxMessages(), c.Boxes);
        ASSERT_EQ(Screen.Viewers.size(), c.Viewer ? 1u : 0u);
        if (c.Viewer) {
            EXPECT_EQ(Screen.Viewers[0].Lines,
                      c.Empty ? std::vector<std::string>{} : MessageLines());
            EXPECT_FALSE(connectedWhileShown);
        }
        EXPECT_EQ(Screen.Statuses[2], "Lettura del messaggio dal server 127.0.0.1 in corso...");
        ASSERT_TRUE(Server.WaitForSessions(sessions + 1));
        EXPECT_EQ(Server.Received(sessions).at(2), "RETR 2");
        EXPECT_FALSE(Form.Pop3Client1.IsConnected());
        EXPECT_FALSE(Form.AntiFreeze1.Active);
    }
}

TEST_F(MessageViewTest, SaveFlows) {
    struct Case {
        const char* Name;
        std::string Choice;    // empty: cancel
        std::string Existing;  // empty: no file there
        bool Replace;
        std::string Reply;  // replaces the answer to RETR 2
        bool Close;
        std::vector<std::string> Boxes;
        bool Contacted;
        bool Saved;  // else the file holds Existing, or is absent
    };
    const std::string ask = "Il file scelto esiste gi\xE0. Sostituirlo ?";  // già
    const std::vector<Case> cases = {
        {"new-file", "out.eml", "", false, "", false, {}, true, true},
        {"cancelled", "", "", false, "", false, {}, false, false},
        {"keep-existing", "out.eml", "old", false, "", false, {ask}, false, false},
        {"replace-existing", "out.eml", "old", true, "", false, {ask}, true, true},
        {"unwritable",
         "none/out.eml",
         "",
         false,
         "",
         false,
         {"Impossibile salvare il messaggio"},
         true,
         false},
        // Replaced answers last: an override stays for the server's life.
        // The old file goes only when a whole new one takes its place.
        {"refused-keeps-old",
         "out.eml",
         "old",
         true,
         "-ERR no\r\n",
         false,
         {ask, "Rilevati errori durante la ricezione del messaggio"},
         true,
         false},
        {"cut-keeps-old",
         "out.eml",
         "old",
         true,
         "+OK\r\nFrom: x\r\n",
         true,
         {ask, "Impossibile leggere il messaggio dal server"},
         true,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::filesystem::remove(Home.Path("out.eml"));
        if (!c.Existing.empty()) Home.Write("out.eml", c.Existing);
        if (!c.Reply.empty()) Server.Override("RETR 2", c.Reply, c.Close);
        Screen.SaveChoice = c.Choice.empty() ? "" : Home.Path(c.Choice);
        Screen.Answer = [&](const TBox& box) {
            return int32_t{box.Buttons == mbYesNo ? (c.Replace ? mrYes : mrNo) : mrOk};
        };
        Screen.Boxes.clear();
        const size_t sessions = Server.SessionsAccepted();
        Form.Salva1Click();

        EXPECT_EQ(Screen.BoxMessages(), c.Boxes);
        EXPECT_EQ(Server.SessionsAccepted(), sessions + (c.Contacted ? 1 : 0));
        const std::string content = ReadFile(Home.Path(c.Choice.empty() ? "out.eml" : c.Choice));
        EXPECT_EQ(content, c.Saved ? Server.Messages()[1].Text : c.Existing);
        // Nothing else is left behind (kalmuro.ini is the other file).
        EXPECT_EQ(FolderNames(Home.Dir()).size(), content.empty() ? 1u : 2u);
    }
    // Every dialog starts where the first one did.
    ASSERT_EQ(Screen.SaveDialogs.size(), cases.size());
    const TSaveDialogRequest& first = Screen.SaveDialogs.front();
    EXPECT_EQ(first.Title, "Salva il messaggio su file...");
    EXPECT_EQ(first.Filter, "E-mail|*.eml");
    EXPECT_EQ(first.DefaultExt, "eml");
    EXPECT_EQ(first.InitialDir, "/home/utente/Documenti");
    EXPECT_EQ(first.FileName, "20070305_130900_User_2_(user2@example_com)_Message_2");
    Screen.Documents = "/altrove";
    Screen.SaveChoice.clear();
    Form.Salva1Click();
    EXPECT_EQ(Screen.SaveDialogs.back().InitialDir, "/home/utente/Documenti");
}

TEST_F(MessageViewTest, AnUnreachableServerIsSaid) {
    Form.Accounts[0].Port = std::to_string(test::RefusedPort());
    const std::string box = "Impossibile connettersi a 127.0.0.1";
    Form.Visualizzamessaggio1Click();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{box});
    EXPECT_TRUE(Screen.Viewers.empty());

    Screen.Boxes.clear();
    Screen.SaveChoice = Home.Path("out.eml");
    Form.Salva1Click();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{box});
    EXPECT_FALSE(std::filesystem::exists(Home.Path("out.eml")));
}

TEST_F(MessageViewTest, ServerCommandsWaitWhileACheckRuns) {
    Screen.SaveChoice = Home.Path("out.eml");
    bool tried = false;
    Screen.OnStatus = [&](const std::string& text) {
        if (tried || text.rfind("Lettura messaggio 2 su 2", 0) != 0) return;
        tried = true;
        Form.SetHighlightedRow(0);
        EXPECT_FALSE(Form.ServerCommandsAllowed());
        Form.Visualizzamessaggio1Click();
        Form.Salva1Click();
        Form.Visualizzalintestazionedelmessaggio1Click();  // needs no server
    };
    Form.CheckMail();
    ASSERT_TRUE(tried);
    EXPECT_TRUE(Screen.Boxes.empty());  // the check was not disturbed
    EXPECT_EQ(Screen.Viewers.size(), 1u);
    EXPECT_TRUE(Screen.SaveDialogs.empty());
    EXPECT_EQ(Form.Messages.size(), 2u);
    EXPECT_TRUE(Form.ServerCommandsAllowed());
}

}  // namespace
}  // namespace kalmuro::enginetest
