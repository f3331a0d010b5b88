// The window's check and deletion over secure connections: a Dovecot with
// POP3 over TLS and STLS, the certificate box with its question, the
// accepted certificate stored and used, Stop in a stalled handshake, a
// refused STLS; and the UTF-8 option of the check.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/engine_harness.h"
#include "mail/settings.h"
#include "support/dovecot_server.h"
#include "support/scripted_server.h"

namespace kalmuro::enginetest {
namespace {

using test::TDovecotServer;

class SecureCheck : public TFormTest {
protected:
    static void SetUpTestSuite() {
        Server = new TDovecotServer;
        Server->Tls = true;
        Ready = Server->AddUser("alice", "secret") && Server->AddUser("bob", "pw") &&
                Server->AddUser("carol", "pw") && Server->GenerateMail("alice", 6, 51) &&
                Server->GenerateMail("bob", 4, 52) && Server->GenerateMail("carol", 3, 53) &&
                Server->Start();
        // The system's store, as the program uses it, holds the test authority.
        if (Ready) setenv("SSL_CERT_FILE", Server->CaFile().c_str(), 1);
    }
    static void TearDownTestSuite() {
        unsetenv("SSL_CERT_FILE");
        delete Server;
        Server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(Ready) << Server->Error(); }

    static TMailAccount At(const std::string& name, const std::string& host, TSecurity security,
                           const std::string& user = "bob", const std::string& password = "pw") {
        TMailAccount a = Account(name, security == TSecurity::Tls ? Server->TlsPort()
                                                                  : Server->Port(),
                                 user, password);
        a.PopServer = host;
        a.Security = security;
        return a;
    }

    static TDovecotServer* Server;
    static bool Ready;
};

TDovecotServer* SecureCheck::Server = nullptr;
bool SecureCheck::Ready = false;

TEST_F(SecureCheck, CheckAndDeletionOverPop3sAndStls) {
    Home.Write("Oggetti.txt", std::string());
    TMailAccount alice = At("Alice", "localhost", TSecurity::Tls, "alice", "secret");
    TMailAccount bob = At("Bob", "127.0.0.1", TSecurity::Stls);
    bob.Apop = true;
    Load({alice, bob});
    Form.CheckMail();
    EXPECT_TRUE(Screen.Boxes.empty()) << Screen.Boxes.front().Message;
    ASSERT_EQ(Form.Messages.size(), 10u);
    EXPECT_FALSE(Form.AntiFreeze1.Active);

    // One message of each account ticked and deleted, then the new check.
    Form.SetRowChecked(0, true);
    Form.SetRowChecked(7, true);
    Form.DeleteSelectedMessages();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{
                                        "Spostare nel Cestino i 2 messaggi selezionati ?"});
    EXPECT_EQ(Form.Messages.size(), 8u);
    EXPECT_EQ(Recycled().size(), 2u);
}

// Each loopback address serves its own certificate.
TEST_F(SecureCheck, CertificateBoxesInTheWindow) {
    struct TCase {
        const char* Name;
        std::string Host, Certificate, Reason;
        TSecurity Security;
    };
    for (const TCase& c :
         {TCase{"name-mismatch", "127.0.0.2", "ip-127.0.0.2.crt", "\xE8 intestato a un altro server",
                TSecurity::Tls},
          TCase{"expired", "127.0.0.3", "ip-127.0.0.3.crt", "\xE8 scaduto", TSecurity::Stls},
          TCase{"unknown-authority", "127.0.0.4", "ip-127.0.0.4.crt",
                "\xE8 rilasciato da un'autorit\xE0 sconosciuta", TSecurity::Tls},
          TCase{"not-yet-valid", "127.0.0.6", "ip-127.0.0.6.crt", "non \xE8 ancora valido",
                TSecurity::Tls}}) {
        SCOPED_TRACE(c.Name);
        Screen.Boxes.clear();
        Screen.Answer = [](const TBox&) { return mrNo; };
        Load({At("Casa", c.Host, c.Security)});
        Form.CheckMail();
        const std::string fingerprint = test::OpensslFingerprint(c.Certificate);
        ASSERT_EQ(Screen.Boxes.size(), 2u);
        EXPECT_EQ(Screen.Boxes[0].Message,
                  "Il certificato del server " + c.Host + " " + c.Reason +
                      ".\\nImpronta SHA-256: " + fingerprint +
                      "\\n\\nAccettare comunque questo certificato per l'account Casa ?");
        EXPECT_EQ(Screen.Boxes[0].Title, "Errore");
        EXPECT_EQ(Screen.Boxes[0].Buttons, mbYesNo);
        EXPECT_EQ(Screen.Boxes[0].Focused, 2);
        EXPECT_EQ(Screen.Boxes[1].Message, "Impossibile connettersi a " + c.Host);
        EXPECT_TRUE(Form.Messages.empty());
        EXPECT_EQ(ReadIniString("Accounts", "Impronta1", "none"), "none");
        EXPECT_FALSE(Form.AntiFreeze1.Active);
    }
}

TEST_F(SecureCheck, AnAcceptedCertificateIsStoredAndOnlyItPasses) {
    const std::string selfSigned = test::OpensslFingerprint("ip-127.0.0.5.crt");
    // A mailbox no other test deletes from.
    Load({At("Casa", "127.0.0.5", TSecurity::Tls, "carol")});
    Form.CheckMail();  // answered "Si"
    ASSERT_EQ(Screen.Boxes.size(), 1u);
    EXPECT_EQ(Screen.Boxes[0].Message.substr(0, 60),
              "Il certificato del server 127.0.0.5 \xE8 autofirmato.\\nImpronta");
    EXPECT_EQ(ReadIniString("Accounts", "Impronta1", ""), selfSigned);
    EXPECT_EQ(Form.Accounts[0].Fingerprint, selfSigned);
    EXPECT_EQ(Form.Messages.size(), 3u);  // the same check went on

    Screen.Boxes.clear();
    Form.LoadSettings();
    Form.CheckMail();
    EXPECT_TRUE(Screen.Boxes.empty());
    EXPECT_EQ(Form.Messages.size(), 3u);

    // The same account pointed at a server with another certificate.
    WriteIniString("Accounts", "PopServer1", "127.0.0.4");
    Form.LoadSettings();
    Screen.Answer = [](const TBox&) { return mrNo; };
    Form.CheckMail();
    ASSERT_EQ(Screen.Boxes.size(), 2u);
    EXPECT_NE(Screen.Boxes[0].Message.find("autorit\xE0 sconosciuta"), std::string::npos);
    EXPECT_NE(Screen.Boxes[0].Message.find(test::OpensslFingerprint("ip-127.0.0.4.crt")),
              std::string::npos);
    EXPECT_EQ(ReadIniString("Accounts", "Impronta1", ""), selfSigned);
}

TEST_F(TFormTest, StopEndsAStalledHandshakeWithoutABox) {
    test::TScriptedServer server({test::TScript().Hold()});
    TMailAccount a = Account("Lento", server.Port(), "alice", "secret");
    a.Security = TSecurity::Tls;
    Load({a});
    int pumps = 0;
    Screen.OnPump = [&] {
        if (Screen.StopVisible && Form.Pop3Client1.IsConnected() && ++pumps == 3)
            Form.BitBtnStopClick();
    };
    const auto start = std::chrono::steady_clock::now();
    Form.CheckMail();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(Screen.Boxes.empty()) << Screen.Boxes.front().Message;
    EXPECT_NE(Form.StatusText().find("Interrotto dall'utente"), std::string::npos);
    EXPECT_FALSE(Form.AntiFreeze1.Active);
}

TEST_F(TFormTest, ARefusedStlsSaysSoAndSendsNoLogin) {
    test::TScriptedServer server(
        {test::TScript().Line("+OK ready").Expect("STLS").Line("-ERR Not now.")});
    TMailAccount a = Account("Casa", server.Port(), "alice", "secret");
    a.Security = TSecurity::Stls;
    Load({a});
    Form.CheckMail();
    EXPECT_EQ(Screen.BoxMessages(),
              (std::vector<std::string>{
                  "Il server 127.0.0.1 non consente la connessione sicura (STARTTLS):\\nNot now.",
                  "Impossibile connettersi a 127.0.0.1"}));
    server.Stop();
    for (const std::string& line : server.Received()) {
        EXPECT_NE(line.substr(0, 4), "USER");
        EXPECT_NE(line.substr(0, 4), "PASS");
    }
}

TEST_F(TFormTest, Utf8SubjectsAndNamesFollowTheOption) {
    test::TFakePop3Server server(
        "alice", "secret",
        {FakeMessage("=?UTF-8?Q?Jos=C3=A9?= <jose@example.com>", "=?UTF-8?B?Q2Fmw6kg0Jw=?=",
                     "u1")});
    Load({Account("Casa", server.Port(), "alice", "secret")});
    Form.CheckMail();
    ASSERT_EQ(Form.Messages.size(), 1u);
    EXPECT_EQ(Form.Messages[0].Subject, "=?UTF-8?B?Q2Fmw6kg0Jw=?=");
    EXPECT_EQ(Form.Messages[0].FromName, "=?UTF-8?Q?Jos=C3=A9?=");

    WriteIniBool("Setup", "DecodeUTF8", true);
    Form.CheckMail();
    ASSERT_EQ(Form.Messages.size(), 1u);
    EXPECT_EQ(Form.Messages[0].Subject, "Caf\xE9 ?");    // Café and a Cyrillic letter
    EXPECT_EQ(Form.Messages[0].FromName, "Jos\xE9");     // José
    EXPECT_EQ(Form.Messages[0].Sender, "Jos\xE9 (jose@example.com)");
}

}  // namespace
}  // namespace kalmuro::enginetest
