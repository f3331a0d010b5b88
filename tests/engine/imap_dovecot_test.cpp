// IMAP accounts on the real road: a throw-away Dovecot serving the same
// Maildirs over POP3 and IMAP, so that an IMAP check can be held against the
// POP3 check of the same messages, and deletion against what the folders
// hold afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "engine/dovecot_form_test.h"
#include "mail/imap/imap_client.h"
#include "mail/imap/imap_text.h"
#include "mail/mime/header_list.h"
#include "support/dovecot_server.h"

namespace kalmuro::enginetest {
namespace {

using test::TDovecotServer;

class ImapDovecot : public TDovecotFormTest<ImapDovecot> {
protected:
    static void SetUpTestSuite() {
        Server = std::make_unique<TDovecotServer>();
        Server->Imap = true;
        Ready = Server->AddGeneratedUsers(
            {{"anna", 12}, {"bruno", 8}, {"carlo", 8}, {"dora", 8}, {"elsa", 6}}, 90, &Wire);
        Ready = Ready && Server->Start();
    }

    static TMailAccount Imap(const std::string& user) {
        TMailAccount a = Account(user, Server->ImapPort(), user, "pw");
        a.Protocol = TProtocol::Imap;
        return a;
    }
    static TMailAccount Pop3(const std::string& user) {
        return Account(user, Server->Port(), user, "pw");
    }
    // Blocks the senders of the given messages (POP3 numbers, from 1).
    void Block(const std::string& user, std::initializer_list<int> numbers) {
        const std::vector<test::TManifestEntry> manifest = Server->Manifest(user);
        std::string lines;
        for (int n : numbers) lines += manifest[static_cast<size_t>(n - 1)].FromAddress + "\r\n";
        Home.Write("Mittenti.txt", lines);
    }
    // Another client of the same mailbox.
    static void LogIn(TImapClient& c, const std::string& user) {
        c.Host = "127.0.0.1";
        c.Port = Server->ImapPort();
        c.ReadTimeout = 10000;
        c.Username = user;
        c.Password = "pw";
        c.Login(5000);
    }
    // The headers of a folder, by sequence number, read by another client.
    static std::vector<std::string> Folder(const std::string& user, const std::string& folder,
                                           std::vector<uint32_t>* deleted = nullptr) {
        TImapClient c;
        LogIn(c, user);
        std::vector<std::string> headers;
        THeaderList lines;
        c.ExamineAndFetchHeaders(folder, lines, [&](const TImapMessageInfo&, THeaderList& l) {
            headers.push_back(l.Text());
        });
        if (deleted != nullptr) *deleted = c.DeletedUids();
        c.Logout();
        return headers;
    }
    // Maildir keeps the flags in each file's name after ":2,".
    static std::map<std::string, std::string> Flags(const std::string& user) {
        std::map<std::string, std::string> flags;
        for (const char* sub : {"cur", "new"})
            for (const auto& e : std::filesystem::directory_iterator(Server->Maildir(user) + "/" + sub)) {
                const std::string name = e.path().filename().string();
                const size_t info = name.find(":2,");
                flags[name.substr(0, info)] = info == std::string::npos ? "" : name.substr(info + 3);
            }
        return flags;
    }
    std::multiset<std::string> RecycledTexts() const {
        std::multiset<std::string> texts;
        for (const std::string& name : Recycled()) texts.insert(ReadFile(Home.Path("Cestino/" + name)));
        return texts;
    }

    TUtcZone Utc;
};

TEST_F(ImapDovecot, RowsEqualThoseOfPop3AndNoFlagChanges) {
    Block("anna", {3, 7});
    const std::map<std::string, std::string> before = Flags("anna");
    Load({Pop3("anna")});
    Form.CheckMail();
    ASSERT_EQ(Form.Messages.size(), 12u);
    const TMessageEntries pop3 = Form.Messages;
    const std::vector<TMessageRow> pop3Rows = Form.List().Rows;
    const std::vector<std::string> pop3Statuses = Screen.Statuses;

    Screen.Statuses.clear();
    Load({Imap("anna")});
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    ASSERT_EQ(Form.Messages.size(), pop3.size());
    std::set<std::string> ids;
    for (size_t i = 0; i < pop3.size(); ++i) {
        SCOPED_TRACE("message " + std::to_string(i + 1));
        const TMessageEntry& a = Form.Messages[i];
        const TMessageEntry& b = pop3[i];
        EXPECT_EQ(a.Sender, b.Sender);
        EXPECT_EQ(a.Subject, b.Subject);
        EXPECT_EQ(a.FromAddress, b.FromAddress);
        EXPECT_EQ(a.HeaderText, b.HeaderText);
        EXPECT_EQ(a.Date, b.Date);
        EXPECT_EQ(a.Size, b.Size);
        EXPECT_EQ(a.MsgNumber, b.MsgNumber);
        EXPECT_EQ(a.Locked, b.Locked);
        EXPECT_EQ(a.Selected, b.Selected);
        EXPECT_EQ(a.SpamNote, b.SpamNote);
        // "<n> <UIDVALIDITY>.<UID>"
        const std::string id = a.UidlText.substr(a.UidlText.find(' ') + 1);
        uint32_t validity = 0, uid = 0;
        EXPECT_EQ(a.UidlText.substr(0, a.UidlText.find(' ')), std::to_string(i + 1));
        EXPECT_TRUE(ParseImapUniqueId(id, validity, uid)) << a.UidlText;
        ids.insert(id);
        EXPECT_EQ(Form.List().Rows[i].Columns, pop3Rows[i].Columns);
        EXPECT_EQ(Form.List().Rows[i].Checked, pop3Rows[i].Checked);
    }
    EXPECT_EQ(ids.size(), 12u);
    EXPECT_EQ(Form.CountCheckedMessages(), 2);
    // The same texts on the status bar, message by message.
    EXPECT_EQ(Screen.Statuses, pop3Statuses);
    // Not a flag changed: \Seen least of all.
    EXPECT_EQ(Flags("anna"), before);
}

TEST_F(ImapDovecot, CopiesThenMoveIntoJunk) {
    Block("bruno", {2, 5});
    WriteIniBool(kSectionSetup, "CopyToRecycle", true);
    const std::vector<std::string> inbox = Folder("bruno", "INBOX");
    Load({Imap("bruno")});
    Form.CheckMail(TAutoDeletion::Always);
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    // The check after the deletion sees six.
    ASSERT_EQ(Form.Messages.size(), 6u);
    EXPECT_EQ(RecycledTexts(), (std::multiset<std::string>{Wire["bruno"][1], Wire["bruno"][4]}));
    const std::vector<std::string> junk = Folder("bruno", "Junk");
    EXPECT_EQ(junk, (std::vector<std::string>{inbox[1], inbox[4]}));
    std::vector<std::string> kept = inbox;
    kept.erase(kept.begin() + 4);
    kept.erase(kept.begin() + 1);
    EXPECT_EQ(Folder("bruno", "INBOX"), kept);
}

TEST_F(ImapDovecot, WithoutCopiesOrJunkTheMessagesAreExpungedAndAnotherClientsStay) {
    // Another client marked message 4 \Deleted and left it there: it is not
    // ours to expunge.
    {
        TImapClient other;
        LogIn(other, "carlo");
        other.Select("INBOX");
        THeaderList lines;
        std::vector<uint32_t> uids;
        other.FetchHeaders(lines, [&](const TImapMessageInfo& info, THeaderList&) { uids.push_back(info.Uid); });
        ASSERT_EQ(uids.size(), 8u);
        other.MarkDeleted({uids[3]});
        other.Logout();
    }
    Block("carlo", {1, 6, 8});
    WriteIniBool(kSectionSetup, "CopyToRecycle", false);
    WriteIniBool(kSectionSetup, "SpostaInSpam", false);
    const std::vector<std::string> inbox = Folder("carlo", "INBOX");
    Load({Imap("carlo")});
    Form.CheckMail();
    ASSERT_EQ(Form.CountCheckedMessages(), 3);
    Form.DeleteSelectedMessages();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{"Eliminare definitivamente i 3 messaggi selezionati ?"});
    EXPECT_EQ(Form.Messages.size(), 5u);
    EXPECT_TRUE(Recycled().empty());
    EXPECT_TRUE(Folder("carlo", "Junk").empty());
    std::vector<uint32_t> deleted;
    EXPECT_EQ(Folder("carlo", "INBOX", &deleted),
              (std::vector<std::string>{inbox[1], inbox[2], inbox[3], inbox[4], inbox[6]}));
    EXPECT_EQ(deleted.size(), 1u) << "the other client's message keeps its mark";
}

TEST_F(ImapDovecot, AMessageChangedSinceTheCheckStays) {
    Block("dora", {2, 3});
    WriteIniBool(kSectionSetup, "CopyToRecycle", false);
    Load({Imap("dora")});
    Form.CheckMail();
    ASSERT_EQ(Form.CountCheckedMessages(), 2);
    // The record of message 3 holds another header than the server's now.
    Form.Messages[2].HeaderText = "From: someone@else.example\r\n";
    const std::vector<std::string> inbox = Folder("dora", "INBOX");
    Form.DeleteSelectedMessages();
    // Rows go last first: message 3 fails, so message 2 is never reached.
    EXPECT_EQ(Screen.BoxMessages(),
              (std::vector<std::string>{"Eliminare definitivamente i 2 messaggi selezionati ?",
                                        "Rilevati errori durante l'eliminazione"}));
    EXPECT_EQ(Folder("dora", "INBOX"), inbox);
    EXPECT_EQ(Folder("dora", "Junk").size(), 0u);
}

TEST_F(ImapDovecot, AFolderTheServerDoesNotHaveIsNamedAndNothingOfItIsDeleted) {
    Block("elsa", {1, 2});
    WriteIniBool(kSectionSetup, "CopyToRecycle", true);
    TMailAccount typo = Imap("elsa");
    typo.Folder = "Archvio";
    Load({typo, Imap("elsa")});
    Form.CheckMail();
    const std::string named = "Cartella Archvio non trovata sul server 127.0.0.1: ";
    std::vector<std::string> boxes = Screen.BoxMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].substr(0, named.size()), named) << boxes[0];
    EXPECT_NE(boxes[0].find("Mailbox doesn't exist: Archvio"), std::string::npos) << boxes[0];
    EXPECT_TRUE(Form.CheckErrorFlag());
    ASSERT_EQ(Form.Messages.size(), 6u) << "the second account is still checked";
    ASSERT_EQ(Form.CountCheckedMessages(), 2);

    // The folder of the ticked rows' account gone wrong before the deletion.
    const std::vector<std::string> inbox = Folder("elsa", "INBOX");
    Form.Accounts[1].Folder = "Archvio";
    Screen.Boxes.clear();
    Form.DeleteSelectedMessages();
    boxes = Screen.BoxMessages();
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "Spostare nel Cestino i 2 messaggi selezionati ?");
    EXPECT_EQ(boxes[1].substr(0, named.size()), named) << boxes[1];
    EXPECT_EQ(Folder("elsa", "INBOX"), inbox);
    EXPECT_TRUE(Folder("elsa", "Junk").empty());
    EXPECT_TRUE(Recycled().empty());
}

TEST_F(ImapDovecot, ViewAndSaveFetchTheMessageWithoutMarkingItSeen) {
    Load({Imap("anna")});
    Form.CheckMail();
    ASSERT_EQ(Form.Messages.size(), 12u);
    const std::map<std::string, std::string> before = Flags("anna");
    Form.ShowMessageText(4, false);
    ASSERT_EQ(Screen.Viewers.size(), 1u);
    EXPECT_EQ(Screen.Viewers[0].Text, Wire["anna"][4]);
    Screen.SaveChoice = Home.Path("saved.eml");
    Form.SaveMessageToFile(6);
    EXPECT_EQ(ReadFile(Home.Path("saved.eml")), Wire["anna"][6]);
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{});
    EXPECT_EQ(Flags("anna"), before);
    EXPECT_FALSE(Form.ImapClient1.IsConnected());
}

// STARTTLS on the IMAP port of a Dovecot with TLS: the check goes through
// the protected session, with the test authority trusted as the system's.
TEST(ImapDovecotTls, StartTlsThenTheCheck) {
    TDovecotServer server;
    server.Imap = true;
    server.Tls = true;
    ASSERT_TRUE(server.AddUser("rita", "pw") && server.GenerateMail("rita", 4, 97) && server.Start())
        << server.Error();
    setenv("SSL_CERT_FILE", server.CaFile().c_str(), 1);
    TTempHome home;
    TRecordingScreen screen;
    {
        TFormMain form(screen);
        TMailAccount a = Account("Rita", server.ImapPort(), "rita", "pw");
        a.Protocol = TProtocol::Imap;
        a.Security = TSecurity::Stls;
        SaveAccounts({a});
        form.LoadSettings();
        form.FormShow();
        form.CheckMail();
        EXPECT_EQ(screen.BoxMessages(), std::vector<std::string>{});
        EXPECT_EQ(form.Messages.size(), 4u);
    }
    unsetenv("SSL_CERT_FILE");
}

}  // namespace
}  // namespace kalmuro::enginetest
