// The IMAP client against a throw-away Dovecot serving IMAP and POP3 on the
// same Maildirs: the IMAP check gives what POP3 gives, opening a folder to
// look changes no flag, and the removal commands touch only what they name.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "mail/imap/imap_client.h"
#include "mail/imap/imap_text.h"
#include "mail/mime/header_list.h"
#include "mail/pop3/pop3_client.h"
#include "mail/net/session_errors.h"
#include "support/dovecot_server.h"

namespace kalmuro::test {
namespace {

constexpr int32_t kAliceMessages = 60;

class DovecotImap : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Server = new TDovecotServer;
        Server->Imap = true;
        Ready = Server->AddUser("alice", "secret") && Server->AddUser("bob", "pw") &&
                Server->AddUser("carol", "pw") && Server->AddUser("dave", "pw") &&
                Server->AddUser("erin", "pw") &&
                Server->GenerateMail("alice", kAliceMessages, 21) &&
                Server->GenerateMail("bob", 10, 22) && Server->GenerateMail("carol", 10, 23) &&
                Server->GenerateMail("dave", 10, 24) && Server->GenerateMail("erin", 8, 25) &&
                Server->Start();
    }
    static void TearDownTestSuite() {
        delete Server;
        Server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(Ready) << Server->Error(); }

    static void LogIn(TImapClient& c, const std::string& user, const std::string& password = "pw") {
        c.Host = "127.0.0.1";
        c.Port = Server->ImapPort();
        c.ReadTimeout = 10000;
        c.Username = user;
        c.Password = password;
        c.Login(5000);
    }

    // The UIDs of a folder in sequence order, with their headers.
    struct TListed {
        uint32_t Uid;
        int64_t Size;
        std::vector<std::string> Lines;
    };
    static std::vector<TListed> Listing(TImapClient& c, const std::string& mailbox,
                                        TImapFolder* folder = nullptr) {
        std::vector<TListed> listed;
        THeaderList lines;
        const TImapFolder f = c.ExamineAndFetchHeaders(
            mailbox, lines, [&](const TImapMessageInfo& info, THeaderList& l) {
                EXPECT_EQ(info.Number, listed.size() + 1);
                listed.push_back({info.Uid, info.Size, l.Lines()});
            });
        if (folder != nullptr) *folder = f;
        return listed;
    }
    static std::set<uint32_t> Uids(const std::vector<TListed>& listed) {
        std::set<uint32_t> uids;
        for (const TListed& m : listed) uids.insert(m.Uid);
        return uids;
    }

    static TDovecotServer* Server;
    static bool Ready;
};

TDovecotServer* DovecotImap::Server = nullptr;
bool DovecotImap::Ready = false;

TEST_F(DovecotImap, CheckGivesPop3SizesHeadersAndIds) {
    TPop3Client pop;
    pop.Host = "127.0.0.1";
    pop.Port = Server->Port();
    pop.ReadTimeout = 10000;
    pop.Username = "alice";
    pop.Password = "secret";
    pop.Login(5000);
    ASSERT_EQ(pop.CountMessages(), kAliceMessages);
    std::vector<int32_t> sizes;
    std::vector<std::vector<std::string>> headers;
    std::vector<std::string> uidls;
    for (int32_t n = 1; n <= kAliceMessages; ++n) {
        sizes.push_back(pop.MessageSize(n));
        THeaderList lines;
        pop.FetchHeaderLines(n, lines);
        headers.push_back(lines.Lines());
        std::string uidl;
        ASSERT_TRUE(pop.MessageUid(uidl, n));
        uidls.push_back(uidl.substr(uidl.find(' ') + 1));
    }
    pop.Quit();

    TImapClient imap;
    LogIn(imap, "alice", "secret");
    TImapFolder folder;
    const std::vector<TListed> listed = Listing(imap, "INBOX", &folder);
    imap.Logout();
    EXPECT_EQ(folder.Exists, static_cast<uint32_t>(kAliceMessages));
    EXPECT_TRUE(folder.ReadOnly);
    ASSERT_NE(folder.UidValidity, 0u);
    ASSERT_EQ(listed.size(), static_cast<size_t>(kAliceMessages));
    std::set<std::string> ids;
    for (size_t i = 0; i < listed.size(); ++i) {
        SCOPED_TRACE("message " + std::to_string(i + 1));
        EXPECT_EQ(listed[i].Size, sizes[i]);
        EXPECT_EQ(listed[i].Lines, headers[i]);
        // The server's POP3 UIDL is the UID and UIDVALIDITY in hexadecimal:
        // both protocols name the same message.
        char hex[32];
        std::snprintf(hex, sizeof hex, "%08x%08x", listed[i].Uid, folder.UidValidity);
        EXPECT_EQ(uidls[i], hex);
        ids.insert(ImapUniqueId(folder.UidValidity, listed[i].Uid));
    }
    EXPECT_EQ(ids.size(), listed.size());
}

TEST_F(DovecotImap, WholeMessageEqualsPop3Retrieve) {
    TImapClient imap;
    LogIn(imap, "alice", "secret");
    const std::vector<TListed> listed = Listing(imap, "INBOX");
    ASSERT_GE(listed.size(), 8u);
    TPop3Client pop;
    pop.Host = "127.0.0.1";
    pop.Port = Server->Port();
    pop.ReadTimeout = 10000;
    pop.Username = "alice";
    pop.Password = "secret";
    pop.Login(5000);
    for (int32_t n = 1; n <= 8; ++n) {
        std::string viaPop, viaImap;
        ASSERT_TRUE(pop.FetchRaw(n, viaPop, RetrieveLimit(-1)));
        ASSERT_TRUE(imap.FetchMessage(listed[n - 1].Uid, viaImap, RetrieveLimit(listed[n - 1].Size)));
        EXPECT_EQ(viaImap, viaPop) << "message " << n;
        EXPECT_EQ(static_cast<int64_t>(viaImap.size()), listed[n - 1].Size);
    }
    pop.Quit();
    imap.Logout();
}

TEST_F(DovecotImap, LookingChangesNoFlag) {
    TImapClient imap;
    LogIn(imap, "erin");
    const std::vector<TListed> listed = Listing(imap, "INBOX");
    ASSERT_EQ(listed.size(), 8u);
    std::string text;
    for (const TListed& m : listed) ASSERT_TRUE(imap.FetchMessage(m.Uid, text, 1 << 20));
    imap.Logout();
    // Maildir keeps the flags in the file names: ":2,S" once seen.
    size_t files = 0;
    for (const char* sub : {"cur", "new"})
        for (const auto& entry : std::filesystem::directory_iterator(Server->Maildir("erin") + "/" + sub)) {
            ++files;
            const std::string name = entry.path().filename().string();
            const size_t info = name.find(":2,");
            if (info != std::string::npos) {
                EXPECT_EQ(name.substr(info + 3).find_first_of("SFRTD"), std::string::npos) << name;
            }
        }
    EXPECT_EQ(files, 8u);
    TImapClient again;
    LogIn(again, "erin");
    again.Select("INBOX");
    EXPECT_TRUE(again.DeletedUids().empty());
    again.Logout();
}

TEST_F(DovecotImap, MoveToJunk) {
    TImapClient imap;
    LogIn(imap, "bob");
    ASSERT_TRUE(imap.HasCapability("MOVE"));
    const std::vector<TListed> before = Listing(imap, "INBOX");
    ASSERT_EQ(before.size(), 10u);
    const std::string junk = imap.FindSpecialUse("\\Junk");
    EXPECT_EQ(junk, "Junk");
    imap.Select("INBOX");
    imap.MoveUids({before[2].Uid, before[6].Uid}, junk);
    EXPECT_EQ(imap.ExpungedCount(), 2u);
    const std::vector<TListed> after = Listing(imap, "INBOX");
    std::set<uint32_t> expected = Uids(before);
    expected.erase(before[2].Uid);
    expected.erase(before[6].Uid);
    EXPECT_EQ(Uids(after), expected);
    const std::vector<TListed> moved = Listing(imap, junk);
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[0].Lines, before[2].Lines);
    EXPECT_EQ(moved[1].Lines, before[6].Lines);
    imap.Logout();
}

TEST_F(DovecotImap, StoreAndUidExpungeRemoveOnlyTheGivenUids) {
    TImapClient imap;
    LogIn(imap, "carol");
    ASSERT_TRUE(imap.HasCapability("UIDPLUS"));
    const std::vector<TListed> before = Listing(imap, "INBOX");
    ASSERT_EQ(before.size(), 10u);
    const TImapFolder folder = imap.Select("INBOX");
    EXPECT_FALSE(folder.ReadOnly);
    imap.DeleteUids({before[1].Uid, before[3].Uid, before[4].Uid});
    EXPECT_EQ(imap.ExpungedCount(), 3u);
    std::set<uint32_t> expected = Uids(before);
    for (size_t i : {1, 3, 4}) expected.erase(before[i].Uid);
    EXPECT_EQ(Uids(Listing(imap, "INBOX")), expected);
    // A UID that is gone is simply not found when verified again.
    THeaderList lines;
    EXPECT_FALSE(imap.FetchHeader(before[1].Uid, lines));
    EXPECT_TRUE(imap.FetchHeader(before[0].Uid, lines));
    EXPECT_EQ(lines.Lines(), before[0].Lines);
    imap.Logout();
}

TEST_F(DovecotImap, AnotherClientsDeletedMessageSurvives) {
    TImapClient other, ours;
    LogIn(other, "dave");
    const std::vector<TListed> before = Listing(other, "INBOX");
    ASSERT_EQ(before.size(), 10u);
    other.Select("INBOX");
    other.MarkDeleted({before[2].Uid});

    LogIn(ours, "dave");
    ours.Select("INBOX");
    EXPECT_EQ(ours.DeletedUids(), std::vector<uint32_t>{before[2].Uid});
    ours.DeleteUids({before[5].Uid, before[6].Uid});
    EXPECT_EQ(ours.ExpungedCount(), 2u);
    EXPECT_EQ(ours.DeletedUids(), std::vector<uint32_t>{before[2].Uid}) << "still there, still marked";
    std::set<uint32_t> expected = Uids(before);
    expected.erase(before[5].Uid);
    expected.erase(before[6].Uid);
    EXPECT_EQ(Uids(Listing(ours, "INBOX")), expected);
    ours.Logout();
    other.Logout();
}

TEST_F(DovecotImap, LoginMethodsAndRefusal) {
    for (TImapClient::TLoginMethod method :
         {TImapClient::TLoginMethod::Auto, TImapClient::TLoginMethod::Login,
          TImapClient::TLoginMethod::Plain}) {
        TImapClient imap;
        imap.LoginMethod = method;
        ASSERT_NO_THROW(LogIn(imap, "alice", "secret")) << Server->Log();
        EXPECT_TRUE(imap.HasCapability("UIDPLUS")) << "the capabilities after login";
        imap.Logout();
    }
    TImapClient wrong;
    try {
        LogIn(wrong, "alice", "Secret");
        FAIL() << "logged in";
    } catch (const EProtocolReplyError& e) {
        EXPECT_STREQ(e.what(), "[AUTHENTICATIONFAILED] Authentication failed.\r\n");
    }
    EXPECT_FALSE(wrong.IsConnected());
    // The mechanism entry point, as the other mechanisms will use it.
    TImapClient sasl;
    sasl.Host = "127.0.0.1";
    sasl.Port = Server->ImapPort();
    sasl.ReadTimeout = 10000;
    sasl.Connect(5000);
    sasl.Authenticate("PLAIN", std::string("\0alice\0secret", 13));
    EXPECT_EQ(sasl.Examine("INBOX").Exists, static_cast<uint32_t>(kAliceMessages));
    sasl.Logout();
}

}  // namespace
}  // namespace kalmuro::test
