// The check cycle on the real road: a throw-away Dovecot on 127.0.0.1 with
// generated mailboxes. A server that cannot start fails every test here.
#include <gtest/gtest.h>

#include <set>

#include "engine/engine_harness.h"
#include "mail/text.h"
#include "support/dovecot_server.h"

namespace kalmuro::enginetest {
namespace {

using test::TDovecotServer;
using test::TManifestEntry;

constexpr const char* kAt = " - Ultima verifica alle 14:09:27";

class CheckDovecot : public TFormTest {
protected:
    // One server per test program: stopping one takes seconds.
    static void SetUpTestSuite() {
        Server = new TDovecotServer;
        Ready = Server->AddUser("alice", "secret") && Server->AddUser("bob", "two words") &&
                Server->AddUser("dave", "pw") && Server->GenerateMail("alice", 12, 41) &&
                Server->GenerateMail("bob", 5, 42) && Server->GenerateMail("dave", 10, 43) &&
                Server->Start();
    }
    static void TearDownTestSuite() {
        delete Server;
        Server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(Ready) << Server->Error(); }

    static TMailAccount At(const std::string& name, const std::string& user,
                           const std::string& password, bool active = true) {
        return Account(name, Server->Port(), user, password, active);
    }
    void Load(const TArrayOfMailAccount& accounts) {
        TFormTest::Load(accounts);
        Form.UpdateCommands();
    }

    static TDovecotServer* Server;
    static bool Ready;
};

TDovecotServer* CheckDovecot::Server = nullptr;
bool CheckDovecot::Ready = false;

TEST_F(CheckDovecot, SeveralAccountsOneInactiveOneRefused) {
    const std::vector<TManifestEntry> alice = Server->Manifest("alice");
    const std::vector<TManifestEntry> bob = Server->Manifest("bob");
    ASSERT_EQ(alice.size(), 12u);
    ASSERT_EQ(bob.size(), 5u);
    // One blocked sender in each mailbox.
    Home.Write("Mittenti.txt", alice[2].FromAddress + "\r\n" + bob[1].FromAddress + "\r\n");

    TMailAccount apop = At("Alice", "alice", "secret");
    apop.Apop = true;
    Load({apop, At("Intruso", "bob", "wrong"), At("Dave", "dave", "pw", false),
          At("Bob", "bob", "two words")});
    Form.CheckMail();

    const std::vector<std::string> boxes = {
        "Il server ha risposto con l'errore 2:\\n [AUTH] Authentication failed.\\n",
        "Impossibile connettersi a 127.0.0.1"};
    EXPECT_EQ(Screen.BoxMessages(), boxes);
    ASSERT_EQ(Form.Messages.size(), 17u);
    EXPECT_EQ(Form.StatusText(), std::string("17 messaggi nuovi su un totale di 17 messaggi") +
                                     kAt + " - Sono stati rilevati errori");

    std::set<std::string> uids;
    for (size_t i = 0; i < Form.Messages.size(); ++i) {
        const TMessageEntry& m = Form.Messages[i];
        const bool fromAlice = i < alice.size();
        const TManifestEntry& expected = fromAlice ? alice[i] : bob[i - alice.size()];
        SCOPED_TRACE("message " + std::to_string(i));
        EXPECT_EQ(m.AccountIndex, fromAlice ? 0 : 3);
        EXPECT_EQ(m.MsgNumber, expected.Number);
        EXPECT_EQ(m.Size, expected.Size);
        EXPECT_EQ(Cp1252ToUtf8(m.FromAddress), expected.FromAddress);
        EXPECT_EQ(m.UidlText.rfind(std::to_string(expected.Number) + " ", 0), 0u);
        uids.insert(std::to_string(m.AccountIndex) + m.UidlText);
        EXPECT_NE(m.HeaderText.find("\r\n"), std::string::npos);
    }
    EXPECT_EQ(uids.size(), 17u);

    // The blocked ones are ticked; the count follows the shown mailbox.
    EXPECT_TRUE(Form.Messages[2].Locked);
    EXPECT_TRUE(Form.Messages[12 + 1].Selected);
    EXPECT_EQ(Form.CountCheckedMessages(), 2);
    const std::vector<TMailboxItem> items = {
        {"Tutti gli accounts", -1}, {"Alice", 0}, {"Intruso", 1}, {"Bob", 3}};
    EXPECT_EQ(Screen.Mailboxes, items);
    Form.ListViewMailBoxesSelectItem(3);
    EXPECT_EQ(Form.List().Rows.size(), 5u);
    EXPECT_EQ(Form.CountCheckedMessages(), 1);
    Form.ListViewMailBoxesSelectItem(2);
    EXPECT_EQ(Form.List().Rows.size(), 0u);

    // Nothing changed on the server: nothing is new, the total is Bob's.
    Form.ListViewMailBoxesSelectItem(3);
    Screen.Boxes.clear();
    Form.CheckMail();
    EXPECT_EQ(Form.StatusText(), std::string("0 messaggi nuovi su un totale di 5 messaggi") + kAt +
                                     " - Sono stati rilevati errori");
}

TEST_F(CheckDovecot, StopDuringMessageThreeOfTen) {
    Load({At("Dave", "dave", "pw"), At("Alice", "alice", "secret")});
    bool clickWaiting = false;
    Screen.OnStatus = [&](const std::string& text) {
        if (text == "Lettura messaggio 3 su 10 dal server 127.0.0.1...") clickWaiting = true;
    };
    Screen.OnPump = [&] {
        if (clickWaiting) {
            clickWaiting = false;
            Form.BitBtnStopClick();
        }
    };
    Form.CheckMail();
    ASSERT_EQ(Form.Messages.size(), 3u);
    EXPECT_EQ(Form.Messages[2].MsgNumber, 3);
    EXPECT_NE(Form.Messages[2].UidlText, "");
    EXPECT_EQ(Form.StatusText(), std::string("3 messaggi nuovi su un totale di 3 messaggi") + kAt +
                                     " - Interrotto dall'utente");
    EXPECT_FALSE(Form.Pop3Client1.IsConnected());
    EXPECT_TRUE(Screen.Boxes.empty());
}

TEST_F(CheckDovecot, OneMessageSaysSoInThePlural) {
    ASSERT_TRUE(Server->AddUser("erin", "pw") && Server->GenerateMail("erin", 1, 44));
    Load({At("Erin", "erin", "pw")});
    Form.CheckMail();
    EXPECT_EQ(Form.StatusText(), std::string("1 messaggi nuovi su un totale di 1 messaggi") + kAt);
    EXPECT_EQ(Screen.BalloonTexts.back(), "1 messaggi nuovi su un totale di 1 messaggi");
    EXPECT_FALSE(Form.CheckErrorFlag());
}

}  // namespace
}  // namespace kalmuro::enginetest
