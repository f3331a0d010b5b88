// The real road against a throw-away Dovecot POP3 server on 127.0.0.1.
// A server that cannot start fails every test here with its log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "helpers.h"
#include "mail/datetime.h"
#include "mail/mime/mail_message.h"
#include "mail/pop3/pop3_client.h"
#include "mail/net/session_errors.h"
#include "mail/text.h"
#include "support/dovecot_server.h"

namespace kalmuro::test {
namespace {

constexpr int32_t MessageCount = 60;

class Dovecot : public ::testing::Test {
protected:
    // One server per test program: stopping one takes seconds.
    static void SetUpTestSuite() {
        Server = new TDovecotServer;
        Server->UidlIsFileName = true;
        Ready = Server->AddUser("alice", "secret") && Server->AddUser("carol", "two words") &&
                Server->AddUser("dave", "pw") && Server->GenerateMail("alice", MessageCount, 11) &&
                Server->GenerateMail("dave", 5, 12) && Server->Start();
    }
    static void TearDownTestSuite() {
        delete Server;
        Server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(Ready) << Server->Error(); }

    static void Point(TPop3Client& c, const std::string& user, const std::string& password) {
        PointAt(c, Server->Port());
        c.Username = user;
        c.Password = password;
    }

    static TDovecotServer* Server;
    static bool Ready;
};

TDovecotServer* Dovecot::Server = nullptr;
bool Dovecot::Ready = false;

TEST_F(Dovecot, LoginsTable) {
    struct TCase {
        const char* Name;
        std::string User, Password;
        bool Apop;
        bool Ok;
    };
    for (const TCase& c : {TCase{"user-pass", "alice", "secret", false, true},
                           TCase{"apop", "alice", "secret", true, true},
                           TCase{"password-with-blank", "carol", "two words", false, true},
                           TCase{"apop-with-blank", "carol", "two words", true, true},
                           TCase{"wrong-password", "alice", "Secret", false, false},
                           TCase{"unknown-user", "mallory", "secret", false, false},
                           TCase{"apop-wrong", "alice", "nope", true, false},
                           TCase{"after-failures", "alice", "secret", false, true}}) {
        SCOPED_TRACE(c.Name);
        TPop3Client client;
        Point(client, c.User, c.Password);
        client.APOP = c.Apop;
        const auto start = std::chrono::steady_clock::now();
        if (c.Ok) {
            ASSERT_NO_THROW(client.Login(5000)) << Server->Log();
            EXPECT_EQ(client.LastReply.Text, std::vector<std::string>{"Logged in."});
            client.Quit();
        } else {
            try {
                client.Login(5000);
                ADD_FAILURE() << "logged in";
            } catch (const EProtocolReplyError& e) {
                EXPECT_EQ(e.ErrorCode, 2);
                EXPECT_STREQ(e.what(), " [AUTH] Authentication failed.\r\n");
            }
            EXPECT_EQ(client.LastReply.NumericCode, 2);
            EXPECT_FALSE(client.IsConnected());
        }
        EXPECT_LT(ElapsedMs(start), 1500) << "no penalty after failed logins";
    }
}

TEST_F(Dovecot, ListingAgainstManifest) {
    const std::vector<TManifestEntry> manifest = Server->Manifest("alice");
    ASSERT_EQ(manifest.size(), static_cast<size_t>(MessageCount));
    TPop3Client client;
    Point(client, "alice", "secret");
    client.Login(5000);
    ASSERT_EQ(client.CountMessages(), MessageCount);
    std::set<std::string> uids;
    for (const TManifestEntry& e : manifest) {
        SCOPED_TRACE(e.Number);
        EXPECT_EQ(client.MessageSize(e.Number), e.Size);
        std::vector<std::string> uid;
        ASSERT_TRUE(client.MessageUid(uid, e.Number));
        ASSERT_EQ(uid.size(), 1u);
        EXPECT_EQ(uid[0], std::to_string(e.Number) + " " + e.FileName);
        uids.insert(uid[0]);
    }
    EXPECT_EQ(uids.size(), manifest.size());
    // Out of range.
    EXPECT_EQ(ErrorText([&] { client.MessageSize(MessageCount + 1); }),
              " There's no message " + std::to_string(MessageCount + 1) + ".\r\n");
    std::vector<std::string> uid = {"kept"};
    EXPECT_FALSE(client.MessageUid(uid, 0));
    EXPECT_EQ(uid, std::vector<std::string>{"kept"});
    client.Quit();
}

TEST_F(Dovecot, HeadersAgainstManifest) {
    const std::vector<TManifestEntry> manifest = Server->Manifest("alice");
    TPop3Client client;
    Point(client, "alice", "secret");
    client.Login(5000);
    int folded = 0, dated = 0;
    for (const TManifestEntry& e : manifest) {
        SCOPED_TRACE(std::to_string(e.Number) + " " + e.SubjectForm + " " + e.FromForm + " " +
                     e.DateForm);
        TMailMessage m;
        try {
            ASSERT_TRUE(client.FetchHeader(e.Number, m));
        } catch (const EMailError&) {
            throw;
        } catch (const EError&) {
            // An interpretation error still reads the whole answer.
        }
        // Every header line came through: TOP's octets are the lines with
        // CR LF plus the blank line that ends the block.
        EXPECT_EQ(static_cast<int32_t>(m.HeaderLines.Text().size()) + 2, e.HeaderSize);
        EXPECT_EQ(m.From.Address, e.FromAddress);
        // Only ISO and WINDOWS character sets are decoded, and blanks between
        // encoded words stay: compare the forms that rule leaves intact.
        static const std::set<std::string> plainForms = {"ascii",         "latin1-q",    "latin1-b",
                                                         "lower-charset", "long-folded", "empty",
                                                         "none",          "spam"};
        if (plainForms.count(e.SubjectForm)) {
            EXPECT_EQ(m.Subject, Utf8ToCp1252(e.Subject.value_or("")));
        }
        if (e.Folded) ++folded;
        if (e.DateUtc && (e.DateForm == "rfc5322" || e.DateForm == "no-weekday")) {
            // The date is local time: compare with the same instant read by
            // the C library.
            const time_t t = static_cast<time_t>(*e.DateUtc);
            tm local{};
            localtime_r(&t, &local);
            TDateTime expected = 0, time = 0;
            ASSERT_TRUE(
                TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, expected));
            ASSERT_TRUE(TryEncodeTime(local.tm_hour, local.tm_min, local.tm_sec, 0, time));
            EXPECT_NEAR(m.Date, expected + time, 1.0 / 86400 / 2);
            ++dated;
        }
    }
    EXPECT_GT(folded, 0) << "the generator should fold some subjects";
    EXPECT_GT(dated, 0);
    client.Quit();
}

TEST_F(Dovecot, RetrKeepsDotLines) {
    const std::vector<TManifestEntry> manifest = Server->Manifest("alice");
    TPop3Client client;
    Point(client, "alice", "secret");
    client.Login(5000);
    int checked = 0;
    for (const TManifestEntry& e : manifest) {
        if (e.DotLines == 0) continue;
        SCOPED_TRACE(e.Number);
        std::vector<std::string> lines;
        ASSERT_TRUE(client.FetchRaw(e.Number, lines));
        // The file as generated, with LF line ends.
        std::string path;
        for (const char* sub : {"/new/", "/cur/"})
            for (const auto& f :
                 std::filesystem::directory_iterator(Server->Maildir("alice") + sub))
                if (f.path().filename().string().rfind(e.FileName, 0) == 0) path = f.path();
        ASSERT_FALSE(path.empty());
        std::ifstream in(path, std::ios::binary);
        std::vector<std::string> expected;
        for (std::string l; std::getline(in, l);) expected.push_back(l);
        EXPECT_EQ(lines, expected);
        EXPECT_NE(std::find(lines.begin(), lines.end(), "."), lines.end());
        ++checked;
    }
    EXPECT_GT(checked, 0);
    client.Quit();
}

TEST_F(Dovecot, DeleteIsFinalOnlyAfterQuit) {
    auto uids = [&](int32_t& count) {
        TPop3Client c;
        Point(c, "dave", "pw");
        c.Login(5000);
        count = c.CountMessages();
        std::vector<std::string> all;
        for (int32_t n = 1; n <= count; ++n) {
            std::vector<std::string> u;
            c.MessageUid(u, n);
            all.push_back(u.at(0).substr(u.at(0).find(' ') + 1));
        }
        c.Quit();
        return all;
    };
    int32_t count = 0;
    const std::vector<std::string> before = uids(count);
    ASSERT_EQ(count, 5);

    {  // A dropped connection keeps the message.
        TPop3Client c;
        Point(c, "dave", "pw");
        c.Login(5000);
        EXPECT_TRUE(c.DeleteMessageOnServer(2));
        EXPECT_EQ(ErrorText([&] { c.DeleteMessageOnServer(2); }), " Message is deleted.\r\n");
        c.CloseConnection();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(uids(count), before);

    {  // QUIT makes it final.
        TPop3Client c;
        Point(c, "dave", "pw");
        c.Login(5000);
        EXPECT_TRUE(c.DeleteMessageOnServer(2));
        c.Quit();
    }
    // The server commits after reading QUIT; give it a moment.
    std::vector<std::string> after;
    for (int i = 0; i < 40; ++i) {
        after = uids(count);
        if (count == 4) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::vector<std::string> expected = before;
    expected.erase(expected.begin() + 1);
    EXPECT_EQ(after, expected) << "the other messages keep their ids, renumbered";
}

}  // namespace
}  // namespace kalmuro::test
