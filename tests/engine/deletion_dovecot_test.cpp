// Deletion on the real road: a throw-away Dovecot on 127.0.0.1 with
// generated and hand-made Maildirs, and a proxy in front of it for a server
// that does not know UIDL. A server that cannot start fails every test.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <map>
#include <set>

#include "engine/dovecot_form_test.h"
#include "mail/pop3/pop3_client.h"
#include "mail/text.h"
#include "support/dovecot_server.h"

namespace kalmuro::enginetest {
namespace {

using test::TDovecotServer;

// Relays POP3 sessions to the real server but answers UIDL itself, with
// the refusal of a server that never had the command (nor CAPA: answers
// must come in the order of the commands for anything to go ahead).
class TUidlRefusingProxy : public test::TTestServerBase {
public:
    explicit TUidlRefusingProxy(int32_t upstreamPort) : FUpstream(upstreamPort) { Start(); }
    ~TUidlRefusingProxy() override { Stop(); }

protected:
    void Serve(int fd, size_t session) override {
        const int up = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(FUpstream));
        if (up < 0 || connect(up, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            if (up >= 0) close(up);
            Fail("proxy: the server cannot be reached");
            return;
        }
        std::string pending;
        char buffer[4096];
        bool clientOpen = true;
        while (!Stopping()) {
            pollfd p[2] = {{clientOpen ? fd : -1, POLLIN, 0}, {up, POLLIN, 0}};
            if (poll(p, 2, 100) <= 0) continue;
            if ((p[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                const ssize_t n = read(up, buffer, sizeof buffer);
                if (n <= 0) break;
                if (clientOpen) SendAll(fd, std::string(buffer, static_cast<size_t>(n)));
            }
            if (clientOpen && (p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                const ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0) {
                    // Let the server finish what it was told (QUIT) first.
                    clientOpen = false;
                    shutdown(up, SHUT_WR);
                    continue;
                }
                pending.append(buffer, static_cast<size_t>(n));
                for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                    const std::string line = pending.substr(0, end + 1);
                    pending.erase(0, end + 1);
                    Record(session, TrimRight(line));
                    if (UpperCase(line).rfind("UIDL", 0) == 0)
                        SendAll(fd, "-ERR Unknown command: UIDL\r\n");
                    else if (UpperCase(TrimRight(line)) == "CAPA")
                        SendAll(fd, "-ERR Unknown command: CAPA\r\n");
                    else
                        SendAll(up, line);
                }
            }
        }
        close(up);
    }

private:
    int32_t FUpstream;
};

// A message file dropped into a Maildir as a delivery agent would, owned
// like its folder.
bool DeliverMessage(const std::string& maildir, const std::string& name, const std::string& text) {
    const std::string path = maildir + "/new/" + name;
    std::ofstream(path, std::ios::binary) << text;
    struct stat folder {};
    return stat((maildir + "/new").c_str(), &folder) == 0 &&
           chown(path.c_str(), folder.st_uid, folder.st_gid) == 0;
}

constexpr const char* kTwin =
    "From: Promo <promo@spam.example>\nSubject: Saldi\nDate: Mon, 5 Mar 2007 14:09:00 +0000\n"
    "Message-ID: <twin@spam.example>\n\nSconti.\n.\n..punti\n";

class DeletionDovecot : public TDovecotFormTest<DeletionDovecot> {
protected:
    static void SetUpTestSuite() {
        Server = std::make_unique<TDovecotServer>();
        Ready = Server->AddGeneratedUsers(
            {{"carla", 8}, {"dario", 4}, {"fabio", 3}, {"gina", 3}, {"ivo", 5}, {"luca", 3}}, 60,
            &Wire);
        // The same mailboxes again for a second road.
        for (const std::string user : {"fabio2", "gina2"})
            Ready = Ready && Server->AddUser(user, "pw") && Server->GenerateMail(user, 3, 80);
        Ready = Ready && Server->AddUser("elena", "pw") &&
                DeliverMessage(Server->Maildir("elena"), "1900000001.M1P1.twin", kTwin) &&
                DeliverMessage(Server->Maildir("elena"), "1900000002.M2P1.twin", kTwin) &&
                Server->Start();
    }

    void Load(const std::vector<std::string>& users, int32_t port = 0) {
        TArrayOfMailAccount accounts;
        for (const std::string& user : users)
            accounts.push_back(Account(user, port != 0 ? port : Server->Port(), user, "pw"));
        TFormTest::Load(accounts);
    }
    // Account index and unique id (without the message number) of every
    // record.
    std::set<std::string> Uids() const {
        std::set<std::string> uids;
        for (const TMessageEntry& m : Form.Messages)
            uids.insert(std::to_string(m.AccountIndex) + " " +
                        m.UidlText.substr(m.UidlText.find(' ') + 1));
        return uids;
    }
    TUtcZone Utc;
};

TEST_F(DeletionDovecot, BlockedMessagesGoWithAndWithoutCopies) {
    for (const auto& [user, copy] : {std::pair{"carla", true}, std::pair{"dario", false}}) {
        SCOPED_TRACE(user);
        std::filesystem::remove_all(Home.Path("Cestino"));
        const std::vector<test::TManifestEntry> manifest = Server->Manifest(user);
        Home.Write("Mittenti.txt",
                   manifest[1].FromAddress + "\r\n" + manifest.back().FromAddress + "\r\n");
        WriteIniBool(kSectionSetup, "CopyToRecycle", copy);
        Load({user});
        Form.CheckMail();
        ASSERT_EQ(Form.Messages.size(), manifest.size());
        std::set<std::string> kept = Uids(), gone;
        std::multiset<std::string> copies;
        for (const TMessageEntry& m : Form.Messages) {
            if (!m.Selected) continue;
            const std::string uid = "0 " + m.UidlText.substr(m.UidlText.find(' ') + 1);
            kept.erase(uid);
            gone.insert(uid);
            copies.insert(Wire[user][static_cast<size_t>(m.MsgNumber - 1)]);
        }
        ASSERT_GE(gone.size(), 2u);
        Screen.Boxes.clear();

        Form.DeleteSelectedMessages();
        ASSERT_EQ(Screen.Boxes.size(), 1u);  // the question
        EXPECT_EQ(Uids(), kept);             // the new check
        std::multiset<std::string> written;
        for (const std::string& name : Recycled()) {
            EXPECT_EQ(name.substr(name.size() - 4), ".eml");
            written.insert(ReadFile(Home.Path("Cestino/" + name)));
        }
        EXPECT_EQ(written, copy ? copies : std::multiset<std::string>{});
    }
}

TEST_F(DeletionDovecot, TwinsGetTheSuffix) {
    Home.Write("Mittenti.txt", "promo@spam.example\r\n");
    Load({"elena"});
    Form.CheckMail();
    ASSERT_EQ(Form.CountCheckedMessages(), 2);
    Form.DeleteSelectedMessages();
    EXPECT_TRUE(Form.Messages.empty());
    const std::string base = "20070305_140900_Promo_(promo@spam_example)_Saldi";
    EXPECT_EQ(Recycled(), (std::vector<std::string>{base + ".eml", base + "_2.eml"}));
    for (const std::string& name : Recycled())
        EXPECT_EQ(ReadFile(Home.Path("Cestino/" + name)), test::CrLfText(kTwin));
}

TEST_F(DeletionDovecot, TwoAccountsUnderAllAccountsLastRowFirst) {
    // One session per message one command at a time; one per account when
    // the commands go ahead.
    struct Case {
        const char* Name;
        bool Pipelining;
        std::vector<std::string> Logins;
    } const cases[] = {
        {"sequential", false,
         {"gina...", "gina...", "gina...", "fabio...", "fabio...", "fabio...", "fabio...",
          "gina..."}},
        {"pipelined", true, {"gina...", "fabio...", "fabio...", "gina..."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteIniBool(kSectionSetup, "CopyToRecycle", false);
        WriteIniBool(kSectionSetup, kKeyPipelining, c.Pipelining);
        const std::string suffix = c.Pipelining ? "2" : "";
        Load({"fabio" + suffix, "gina" + suffix});
        Form.CheckMail();
        ASSERT_EQ(Form.List().Rows.size(), 6u);
        Form.Selezionatutto1Click();
        Screen.Statuses.clear();
        Screen.Boxes.clear();
        Form.DeleteSelectedMessages();
        std::vector<std::string> logins;
        for (const std::string& text : Screen.Statuses)
            if (text.rfind("Connessione a 127.0.0.1 come utente ", 0) == 0)
                logins.push_back(text.substr(36, text.size() - 36 - suffix.size() - 3) + "...");
        EXPECT_EQ(logins, c.Logins);
        EXPECT_EQ(Form.StatusText(), "Non ci sono messaggi - Ultima verifica alle 14:09:27");
        EXPECT_TRUE(Screen.Boxes.size() == 1u && Screen.Boxes[0].Title == "Conferma");
    }
}

TEST_F(DeletionDovecot, MessageRemovedByAnotherClientStaysAlone) {
    Load({"ivo"});
    Form.CheckMail();
    ASSERT_EQ(Form.Messages.size(), 5u);
    Form.SetRowChecked(0, true);
    Form.SetRowChecked(2, true);
    const std::set<std::string> before = Uids();
    const std::string removed = "0 " + Form.Messages[2].UidlText.substr(2);

    TPop3Client other;
    other.Host = "127.0.0.1";
    other.Port = Server->Port();
    other.Username = "ivo";
    other.Password = "pw";
    other.ReadTimeout = 10000;
    other.Login(10000);
    other.DeleteMessageOnServer(3);
    other.SendCommand("QUIT", {1});
    other.CloseConnection();

    Screen.Boxes.clear();
    Form.DeleteSelectedMessages();
    EXPECT_EQ(Screen.BoxMessages(),
              (std::vector<std::string>{"Spostare nel Cestino i 2 messaggi selezionati ?",
                                        "Rilevati errori durante l'eliminazione"}));
    std::set<std::string> after = before;
    after.erase(removed);
    EXPECT_EQ(Uids(), after);  // message 1 was never reached
    EXPECT_TRUE(Recycled().empty());
}

TEST_F(DeletionDovecot, ServerWithoutUidlKeepsEverythingAndStops) {
    TUidlRefusingProxy proxy(Server->Port());
    Home.Write("Mittenti.txt", Server->Manifest("luca")[1].FromAddress + "\r\n");
    WriteIniBool(kSectionSetup, "AutoDelete", true);
    Load({"luca"}, proxy.Port());
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(),
              std::vector<std::string>{"Rilevati errori durante l'eliminazione"});
    ASSERT_TRUE(proxy.WaitForSessions(3));
    EXPECT_EQ(proxy.SessionsAccepted(), 3u);  // check, the one run, check
    EXPECT_EQ(Form.Messages.size(), 3u);
    EXPECT_GE(Form.CountCheckedMessages(), 1);
    for (const std::string& line : proxy.Received()) EXPECT_NE(line.rfind("DELE", 0), 0u) << line;
    EXPECT_FALSE(Form.Deleting);
}

}  // namespace
}  // namespace kalmuro::enginetest
