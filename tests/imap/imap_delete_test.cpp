// The deletion primitives against the scripted server: verification by UID,
// whole messages for the copy, the Junk folder, MOVE, STORE with UID
// EXPUNGE sent together, the search for other \Deleted messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mail/imap/imap_client.h"
#include "mail/net/session_errors.h"
#include "support/imap_script.h"
#include "support/scripted_server.h"

namespace kalmuro::test {
namespace {

const std::string kHeader = "From: x@y.z\r\nSubject: due\r\n\r\n";

void ExpectClean(const TScriptedServer& server) {
    ASSERT_TRUE(server.WaitForSessions(1));
    EXPECT_TRUE(server.Failures().empty()) << server.Failures().front();
}

TEST(ImapVerify, HeadersByUidOnlyForTheUidsAsked) {
    TScript s = ImapLoggedIn();
    s.Expect("a2 SELECT \"INBOX\"")
        .Send(ImapFolderAnswer("a2", 3, 77, false))
        .Expect("a3 UID FETCH 4:5,9 (UID BODY.PEEK[HEADER])")
        .Send("* 1 FETCH (UID 4 BODY[HEADER] {" + std::to_string(kHeader.size()) + "}\r\n" + kHeader +
              ")\r\n")
        .Send("* 2 FETCH (UID 6 BODY[HEADER] {" + std::to_string(kHeader.size()) + "}\r\n" + kHeader +
              ")\r\n")  // never asked for
        .Send("* 3 FETCH (BODY[HEADER] {0}\r\n UID 9)\r\n")
        .Line("a3 OK done")
        .Expect("a4 UID FETCH 5 (UID BODY.PEEK[HEADER])")
        .Line("a4 OK done")
        .Expect("a5 LOGOUT");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    const TImapFolder folder = client.Select("INBOX");
    EXPECT_EQ(folder.UidValidity, 77u);
    EXPECT_FALSE(folder.ReadOnly);
    std::vector<std::pair<uint32_t, size_t>> got;
    THeaderList lines;
    client.FetchHeadersByUid({9, 5, 4, 4}, lines, [&](const TImapMessageInfo& info, THeaderList& l) {
        got.emplace_back(info.Uid, l.Count());
    });
    EXPECT_EQ(got, (std::vector<std::pair<uint32_t, size_t>>{{4, 2}, {9, 0}}));
    EXPECT_FALSE(client.FetchHeader(5, lines)) << "expunged by another client";
    client.Logout();
    ExpectClean(server);
}

TEST(ImapVerify, WholeMessagesWithEveryLineEndedByCrLf) {
    const std::string crlf = "Subject: a\r\n\r\nbody\r\n.\r\n";
    const std::string bare = "Subject: b\n\nline\nlast";
    TScript s = ImapLoggedIn();
    s.Expect("a2 UID FETCH 3,8 (UID BODY.PEEK[])")
        .Send("* 1 FETCH (UID 3 BODY[] {" + std::to_string(crlf.size()) + "}\r\n" + crlf + ")\r\n")
        .Send("* 2 FETCH (UID 8 BODY[] {" + std::to_string(bare.size()) + "}\r\n" + bare + ")\r\n")
        .Line("a2 OK done")
        .Expect("a3 UID FETCH 3 (UID BODY.PEEK[])")
        .Send("* 1 FETCH (UID 3 BODY[] {" + std::to_string(crlf.size()) + "}\r\n" + crlf + ")\r\n")
        .Line("a3 OK done");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    std::vector<std::pair<uint32_t, std::string>> got;
    client.FetchMessages({8, 3}, 1000, [&](uint32_t uid, std::string& text) {
        got.emplace_back(uid, std::move(text));
    });
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], std::make_pair(3u, crlf));
    EXPECT_EQ(got[1], std::make_pair(8u, std::string("Subject: b\r\n\r\nline\r\nlast\r\n")));
    // Over its maximum a copy is refused whole, and the session ends.
    std::string text;
    EXPECT_THROW(client.FetchMessage(3, text, 10), EAnswerTooLong);
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(client.IsConnected());
}

TEST(ImapJunk, FoundBySpecialUseWhateverItsName) {
    TScript s = ImapLoggedIn(kImapCapabilities,
                             "IMAP4rev1 UIDPLUS MOVE SPECIAL-USE LIST-EXTENDED");
    s.Expect("a2 LIST (SPECIAL-USE) \"\" \"*\"")
        .Line("* LIST (\\HasNoChildren \\Trash) \"/\" Cestino")
        .Send("* LIST (\\HasNoChildren \\junk) \"/\" {16}\r\nPosta &AOg- Spam\r\n")
        .Line("a2 OK List completed")
        .Expect("a3 LIST (SPECIAL-USE) \"\" \"*\"")
        .Line("* LIST (\\Trash) NIL Trash")
        .Line("a3 OK List completed");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    EXPECT_EQ(client.FindSpecialUse("\\Junk"), "Posta &AOg- Spam");
    EXPECT_EQ(client.FindSpecialUse("\\Junk"), "");
    client.Logout();
    ExpectClean(server);
}

TEST(ImapJunk, PlainListWithoutListExtended) {
    TScript s = ImapLoggedIn();
    s.Expect("a2 LIST \"\" \"*\"")
        .Line("* LIST (\\HasNoChildren) \"/\" INBOX")
        .Line("* LIST (\\HasNoChildren \\Junk) \"/\" Junk")
        .Line("a2 OK done");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    const std::vector<TImapMailbox> boxes = client.ListSpecialUse();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(boxes[0].Has("\\Junk"));
    EXPECT_TRUE(boxes[1].Has("\\JUNK"));
}

TEST(ImapJunk, HugeMailboxNameIsRefusedNotCut) {
    TScript s = ImapLoggedIn();
    s.Expect("a2 LIST \"\" \"*\"").Send("* LIST (\\Junk) \"/\" {5000000}\r\n").Hold();
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    client.MaxResponseBytes = 65536;
    EXPECT_THROW(client.FindSpecialUse("\\Junk"), EAnswerTooLong);
    EXPECT_FALSE(client.IsConnected());
}

TEST(ImapRemove, MoveToJunk) {
    TScript s = ImapLoggedIn();
    s.Expect("a2 UID MOVE 4,7 \"Junk\"")
        .Line("* OK [COPYUID 9 4,7 1:2] Moved UIDs.")
        .Line("* 2 EXPUNGE")
        .Line("* 3 EXPUNGE")
        .Line("a2 OK Move completed.");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    client.MoveUids({7, 4}, "Junk");
    EXPECT_EQ(client.ExpungedCount(), 2u);
}

TEST(ImapRemove, StoreAndUidExpungeGoTogether) {
    TScript s = ImapLoggedIn();
    // Both before any answer: waiting for the first would stall the script.
    s.Expect("a2 UID STORE 3:4,9 +FLAGS.SILENT (\\Deleted)")
        .Expect("a3 UID EXPUNGE 3:4,9")
        .Line("a2 OK Store completed.")
        .Line("* 3 EXPUNGE")
        .Line("* 2 EXPUNGE")
        .Line("* 2 EXPUNGE")
        .Line("a3 OK Expunge completed.");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    client.DeleteUids({9, 3, 4});
    EXPECT_EQ(client.ExpungedCount(), 3u);
}

TEST(ImapRemove, RefusedStoreIsRaisedAfterBothAnswers) {
    TScript s = ImapLoggedIn();
    s.Expect("a2 UID STORE 5 +FLAGS.SILENT (\\Deleted)")
        .Expect("a3 UID EXPUNGE 5")
        .Line("a2 NO [CANNOT] Mailbox is read-only")
        .Line("a3 OK Expunge completed.")
        .Expect("a4 UID SEARCH DELETED")
        .Line("* SEARCH 12 40")
        .Line("a4 OK Search completed.");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    try {
        client.DeleteUids({5});
        FAIL() << "no error";
    } catch (const EProtocolReplyError& e) {
        EXPECT_STREQ(e.what(), "[CANNOT] Mailbox is read-only\r\n");
    }
    EXPECT_TRUE(client.IsConnected()) << "the session stays in step";
    EXPECT_EQ(client.DeletedUids(), (std::vector<uint32_t>{12, 40}));
    client.Logout();
    ExpectClean(server);
}

TEST(ImapRemove, PlainExpungeAndSeparateSteps) {
    TScript s = ImapLoggedIn(kImapCapabilities, "IMAP4rev1 MOVE");
    s.Expect("a2 UID SEARCH DELETED")
        .Line("* SEARCH")
        .Line("a2 OK done")
        .Expect("a3 UID STORE 8 +FLAGS.SILENT (\\Deleted)")
        .Line("a3 OK done")
        .Expect("a4 EXPUNGE")
        .Line("* 1 EXPUNGE")
        .Line("a4 OK done")
        .Expect("a5 UID EXPUNGE 8")
        .Line("a5 BAD Unknown command")
        .Expect("a6 UID MOVE 8 {5}")
        .Line("+ go")
        .Expect("Pi\xF9 x")  // Più
        .Line("a6 OK done");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    EXPECT_TRUE(client.DeletedUids().empty());
    client.MarkDeleted({8});
    client.Expunge();
    EXPECT_EQ(client.ExpungedCount(), 1u);
    EXPECT_THROW(client.ExpungeUids({8}), EProtocolReplyError);
    EXPECT_EQ(client.LastReply.NumericCode, 3);
    // The server announced no LITERAL+ after login: the 8-bit name waits.
    client.MoveUids({8}, "Pi\xF9 x");  // Più
    client.Logout();
    ExpectClean(server);
}

TEST(ImapRemove, NothingToDoSendsNothing) {
    TScript s = ImapLoggedIn();
    s.Expect("a2 LOGOUT");
    TScriptedServer server({s});
    TImapClient client;
    LogIn(client, server);
    client.DeleteUids({});
    client.MoveUids({0}, "Junk");
    client.Logout();
    ExpectClean(server);
}

}  // namespace
}  // namespace kalmuro::test
