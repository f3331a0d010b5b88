// The secure road against a throw-away Dovecot: POP3 over TLS and STLS with
// a verified certificate, a check and a deletion over each, and every
// certificate failure with the accepted-fingerprint way out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers.h"
#include "mail/mime/mail_message.h"
#include "mail/pop3/pop3_client.h"
#include "mail/net/tls_transport.h"
#include "support/dovecot_server.h"
#include "support/scripted_server.h"

namespace kalmuro::test {

namespace {

class DovecotTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Server = new TDovecotServer;
        Server->Tls = true;
        Ready = Server->AddUser("alice", "secret") && Server->AddUser("bob", "pw") &&
                Server->GenerateMail("alice", 8, 21) && Server->GenerateMail("bob", 8, 22) &&
                Server->Start();
    }
    static void TearDownTestSuite() {
        delete Server;
        Server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(Ready) << Server->Error(); }

    static void Point(TPop3Client& c, const std::string& host, TSecurity security,
                      const std::string& user = "alice", const std::string& password = "secret") {
        c.Host = host;
        c.Port = security == TSecurity::Tls ? Server->TlsPort() : Server->Port();
        c.ReadTimeout = 5000;
        c.Username = user;
        c.Password = password;
        c.Security = security;
        c.TlsCaFile = Server->CaFile();
    }

    static TDovecotServer* Server;
    static bool Ready;
};

TDovecotServer* DovecotTls::Server = nullptr;
bool DovecotTls::Ready = false;

// A check (STAT, TOP, LIST, UIDL of every message) and the deletion of the
// first message, made final by QUIT, over each kind of session.
TEST_F(DovecotTls, CheckAndDeleteOverEachSecurity) {
    struct TCase {
        const char* Name;
        std::string Host;
        TSecurity Security;
        bool Apop;
    };
    int32_t expected = 8;
    for (const TCase& c : {TCase{"pop3s-by-name", "localhost", TSecurity::Tls, false},
                           TCase{"stls-by-address", "127.0.0.1", TSecurity::Stls, false},
                           TCase{"stls-apop", "localhost", TSecurity::Stls, true}}) {
        SCOPED_TRACE(c.Name);
        TPop3Client client;
        Point(client, c.Host, c.Security);
        client.APOP = c.Apop;
        ASSERT_NO_THROW(client.Login(5000)) << Server->Log();
        EXPECT_TRUE(client.TlsActive());
        ASSERT_EQ(client.CountMessages(), expected);
        for (int32_t n = 1; n <= expected; ++n) {
            TMailMessage message;
            client.FetchHeader(n, message);
            EXPECT_FALSE(message.HeaderLines.Count() == 0);
            EXPECT_GT(client.MessageSize(n), 0);
            std::vector<std::string> uid;
            EXPECT_TRUE(client.MessageUid(uid, n));
        }
        std::vector<std::string> raw;
        EXPECT_TRUE(client.FetchRaw(1, raw));
        EXPECT_FALSE(raw.empty());
        EXPECT_TRUE(client.DeleteMessageOnServer(1));
        client.Quit();
        --expected;

        TPop3Client again;
        Point(again, c.Host, c.Security);
        again.Login(5000);
        EXPECT_EQ(again.CountMessages(), expected);
        again.Quit();
    }
}

// Each address of the server has its own certificate.
TEST_F(DovecotTls, CertificateFailures) {
    const std::string selfSigned = OpensslFingerprint("ip-127.0.0.5.crt");
    struct TCase {
        const char* Name;
        std::string Host;
        TSecurity Security;
        std::string Accepted;
        bool Ok;
        TCertificateProblem Problem;
        std::string Certificate;
    };
    for (const TCase& c : {
             TCase{"name-mismatch", "127.0.0.2", TSecurity::Tls, "", false,
                   TCertificateProblem::NameMismatch, "ip-127.0.0.2.crt"},
             TCase{"name-mismatch-stls", "127.0.0.2", TSecurity::Stls, "", false,
                   TCertificateProblem::NameMismatch, "ip-127.0.0.2.crt"},
             TCase{"expired", "127.0.0.3", TSecurity::Tls, "", false,
                   TCertificateProblem::Expired, "ip-127.0.0.3.crt"},
             TCase{"unknown-authority", "127.0.0.4", TSecurity::Tls, "", false,
                   TCertificateProblem::UnknownAuthority, "ip-127.0.0.4.crt"},
             TCase{"self-signed", "127.0.0.5", TSecurity::Stls, "", false,
                   TCertificateProblem::SelfSigned, "ip-127.0.0.5.crt"},
             TCase{"not-yet-valid", "127.0.0.6", TSecurity::Tls, "", false,
                   TCertificateProblem::NotYetValid, "ip-127.0.0.6.crt"},
             TCase{"accepted", "127.0.0.5", TSecurity::Tls, selfSigned, true, {}, ""},
             TCase{"accepted-over-stls", "127.0.0.5", TSecurity::Stls, selfSigned, true, {}, ""},
             TCase{"accepted-refuses-another", "127.0.0.4", TSecurity::Tls, selfSigned, false,
                   TCertificateProblem::UnknownAuthority, "ip-127.0.0.4.crt"},
         }) {
        SCOPED_TRACE(c.Name);
        TPop3Client client;
        Point(client, c.Host, c.Security, "bob", "pw");
        client.Fingerprint = c.Accepted;
        if (TlsLogin(client, c.Ok, c.Problem, c.Certificate)) {
            EXPECT_EQ(client.CountMessages(), 8);
            client.Quit();
        }
    }
}

}  // namespace
}  // namespace kalmuro::test
