// The response parser and the texts the client builds, by tables of named rows.
#include "mail/imap/imap_response.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "mail/auth/sasl.h"
#include "mail/imap/imap_text.h"
#include "support/case_name.h"

namespace kalmuro::test {
namespace {

using testcase::RowName;
using TKind = TImapItem::TKind;

// The items of a response written back in a compact form: atoms bare,
// strings in <>, NIL as ~, lists in ().
std::string Shape(const std::vector<TImapItem>& items) {
    std::string out;
    for (const TImapItem& item : items) {
        if (!out.empty()) out += ' ';
        switch (item.Kind) {
            case TKind::Atom:
                out += item.Text;
                break;
            case TKind::String:
                out += "<" + item.Text + ">";
                break;
            case TKind::Nil:
                out += "~";
                break;
            case TKind::List:
                out += "(" + Shape(item.Items) + ")";
                break;
        }
    }
    return out;
}

struct TParseRow {
    const char* name;
    std::string bytes;
    TImapResponseKind kind;
    std::string tag;
    std::string keyword;
    int64_t number;  // -1: none
    std::string code, codeText, text;
    std::string shape;
};

class ParseResponse : public ::testing::TestWithParam<TParseRow> {};

TEST_P(ParseResponse, GivesItsParts) {
    const TParseRow& row = GetParam();
    TImapResponse r;
    ParseImapResponse(row.bytes, r);
    EXPECT_EQ(r.Kind, row.kind);
    EXPECT_EQ(r.Tag, row.tag);
    EXPECT_EQ(r.Keyword, row.keyword);
    EXPECT_EQ(r.HasNumber, row.number >= 0);
    if (row.number >= 0) {
        EXPECT_EQ(r.Number, static_cast<uint32_t>(row.number));
    }
    EXPECT_EQ(r.Code, row.code);
    EXPECT_EQ(r.CodeText, row.codeText);
    EXPECT_EQ(r.Text, row.text);
    EXPECT_EQ(Shape(r.Data), row.shape);
}

using K = TImapResponseKind;
const TParseRow kParseRows[] = {
    {"greeting_with_capabilities", "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready.\r\n",
     K::Untagged, "", "OK", -1, "CAPABILITY", "IMAP4rev1 SASL-IR AUTH=PLAIN", "ready.", ""},
    {"tagged_no_with_code", "a2 NO [AUTHENTICATIONFAILED] Authentication failed.\r\n", K::Tagged,
     "a2", "NO", -1, "AUTHENTICATIONFAILED", "", "Authentication failed.", ""},
    {"lower_case_status", "a1 ok done\r\n", K::Tagged, "a1", "OK", -1, "", "", "done", ""},
    {"status_without_text", "a9 OK\r\n", K::Tagged, "a9", "OK", -1, "", "", "", ""},
    {"no_final_line_end", "* BYE shutting down", K::Untagged, "", "BYE", -1, "", "", "shutting down",
     ""},
    {"uidvalidity", "* OK [UIDVALIDITY 3857529045] UIDs valid\r\n", K::Untagged, "", "OK", -1,
     "UIDVALIDITY", "3857529045", "UIDs valid", ""},
    {"permanentflags_code", "* OK [PERMANENTFLAGS (\\Deleted \\Seen \\*)] Limited\r\n", K::Untagged,
     "", "OK", -1, "PERMANENTFLAGS", "(\\Deleted \\Seen \\*)", "Limited", ""},
    {"continuation", "+ \r\n", K::Continuation, "", "", -1, "", "", "", ""},
    {"continuation_without_blank", "+dGVzdA==\r\n", K::Continuation, "", "", -1, "", "",
     "dGVzdA==", ""},
    {"exists", "* 172 EXISTS\r\n", K::Untagged, "", "EXISTS", 172, "", "", "", ""},
    {"expunge", "* 3 EXPUNGE\r\n", K::Untagged, "", "EXPUNGE", 3, "", "", "", ""},
    {"capability_data", "* CAPABILITY IMAP4rev1 LITERAL+ IDLE\r\n", K::Untagged, "",
     "CAPABILITY", -1, "", "", "", "IMAP4rev1 LITERAL+ IDLE"},
    {"fetch_with_literal",
     "* 1 FETCH (UID 7 RFC822.SIZE 620 BODY[HEADER] {14}\r\nSubject: x\r\n\r\n)\r\n",
     K::Untagged, "", "FETCH", 1, "", "", "",
     "(UID 7 RFC822.SIZE 620 BODY[HEADER] <Subject: x\r\n\r\n>)"},
    {"literal_holding_brackets_and_quotes",
     "* 2 FETCH (BODY[] {9}\r\n(\"]){3}\r\n UID 4)\r\n", K::Untagged, "", "FETCH", 2, "", "", "",
     "(BODY[] <(\"]){3}\r\n> UID 4)"},
    {"empty_literal", "* 2 FETCH (BODY[HEADER] {0}\r\n)\r\n", K::Untagged, "", "FETCH", 2, "", "",
     "", "(BODY[HEADER] <>)"},
    {"literal_bare_lf", "* 2 FETCH (BODY[] {2}\nab)", K::Untagged, "", "FETCH", 2, "", "", "",
     "(BODY[] <ab>)"},
    {"quoted_with_escapes", "* 5 FETCH (INTERNALDATE \"a \\\"b\\\" \\\\c\" UID 9)\r\n",
     K::Untagged, "", "FETCH", 5, "", "", "", "(INTERNALDATE <a \"b\" \\c> UID 9)"},
    {"section_with_blanks", "* 5 FETCH (BODY[HEADER.FIELDS (FROM TO)]<0> {0}\r\n)\r\n",
     K::Untagged, "", "FETCH", 5, "", "", "", "(BODY[HEADER.FIELDS (FROM TO)]<0> <>)"},
    {"flags_nested", "* 4 FETCH (FLAGS (\\Seen \\Deleted) UID 12)\r\n", K::Untagged, "", "FETCH",
     4, "", "", "", "(FLAGS (\\Seen \\Deleted) UID 12)"},
    {"list_special_use", "* LIST (\\HasNoChildren \\Junk) \"/\" Junk\r\n", K::Untagged, "", "LIST",
     -1, "", "", "", "(\\HasNoChildren \\Junk) </> Junk"},
    {"list_nil_delimiter_literal_name", "* LIST () NIL {5}\r\nSpam!\r\n", K::Untagged, "", "LIST",
     -1, "", "", "", "() ~ <Spam!>"},
    {"search", "* SEARCH 2 84 882\r\n", K::Untagged, "", "SEARCH", -1, "", "", "", "2 84 882"},
    {"search_empty", "* SEARCH\r\n", K::Untagged, "", "SEARCH", -1, "", "", "", ""},
    {"unknown_kept_as_text", "* XYZZY some (odd \"text\r\n", K::Untagged, "", "XYZZY", -1, "", "",
     "some (odd \"text", ""},
    {"doubled_blanks_in_list", "* 1 FETCH (UID  3   FLAGS ())\r\n", K::Untagged, "", "FETCH", 1,
     "", "", "", "(UID 3 FLAGS ())"},
};
INSTANTIATE_TEST_SUITE_P(Rows, ParseResponse, ::testing::ValuesIn(kParseRows), RowName);

struct TBadRow {
    const char* name;
    std::string bytes;
};

class RefuseResponse : public ::testing::TestWithParam<TBadRow> {};

TEST_P(RefuseResponse, RaisesParseError) {
    TImapResponse r;
    EXPECT_THROW(ParseImapResponse(GetParam().bytes, r), EImapParseError);
}

const TBadRow kBadRows[] = {
    {"empty", ""},
    {"tag_only", "a1\r\n"},
    {"tagged_data", "a1 FETCH (UID 1)\r\n"},
    {"tagged_bye", "a1 BYE now\r\n"},
    {"number_before_status", "* 3 OK fine\r\n"},
    {"fetch_without_number", "* FETCH (UID 1)\r\n"},
    {"exists_without_number", "* EXISTS\r\n"},
    {"fetch_without_list", "* 1 FETCH UID 1\r\n"},
    {"number_too_big", "* 4294967296 EXISTS\r\n"},
    {"unterminated_list", "* 1 FETCH (UID 1\r\n"},
    {"unbalanced_close", "* SEARCH 1)\r\n"},
    {"unterminated_quote", "* 1 FETCH (X \"abc)\r\n"},
    {"literal_longer_than_bytes", "* 1 FETCH (BODY[] {50}\r\nshort)\r\n"},
    {"literal_without_line_end", "* 1 FETCH (BODY[] {2}ab)\r\n"},
    {"literal_without_count", "* 1 FETCH (BODY[] {}\r\n)\r\n"},
    {"section_not_closed", "* 1 FETCH (BODY[HEADER {0}\r\n)\r\n"},
    {"code_not_closed", "* OK [UIDVALIDITY 3 text\r\n"},
    {"bytes_after_end", "* SEARCH 1\r\nextra"},
    {"nesting_too_deep", "* 1 FETCH " + std::string(100, '(') + std::string(100, ')') + "\r\n"},
};
INSTANTIATE_TEST_SUITE_P(Rows, RefuseResponse, ::testing::ValuesIn(kBadRows), RowName);

TEST(ParseResponse, MessageQuotesFirstLineOnly) {
    TImapResponse r;
    try {
        ParseImapResponse("* 1 FETCH (BODY[] {90}\r\nsecret)", r);
        FAIL() << "no error";
    } catch (const EImapParseError& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("* 1 FETCH (BODY[] {90}"), std::string::npos) << what;
        EXPECT_EQ(what.find("secret"), std::string::npos) << what;
    }
}

TEST(LiteralAnnounced, ReadsCountAtLineEndOnly) {
    struct TCase {
        const char* line;
        bool announced;
        uint64_t count;
    };
    for (const TCase& c : {TCase{"* 1 FETCH (BODY[] {42}\r\n", true, 42},
                           TCase{"a1 LOGIN {5+}\r\n", true, 5}, TCase{"x {0}", true, 0},
                           TCase{"* OK {5} later\r\n", false, 0}, TCase{"{}\r\n", false, 0},
                           TCase{"* OK {1x}\r\n", false, 0},
                           TCase{"{9999999999999999}\r\n", false, 0}, TCase{"}", false, 0}}) {
        uint64_t count = 0;
        EXPECT_EQ(LiteralAnnounced(c.line, count), c.announced) << c.line;
        if (c.announced) {
            EXPECT_EQ(count, c.count) << c.line;
        }
    }
}

TEST(FetchAttribute, FindsValueAfterName) {
    TImapResponse r;
    ParseImapResponse("* 1 FETCH (UID 7 uid 8 RFC822.SIZE 620 FLAGS ())\r\n", r);
    const TImapItem& list = r.Data.front();
    ASSERT_NE(FetchAttribute(list, "uid"), nullptr);
    EXPECT_EQ(FetchAttribute(list, "uid")->Text, "7") << "the first one counts";
    EXPECT_EQ(FetchAttribute(list, "RFC822.SIZE")->Text, "620");
    EXPECT_EQ(FetchAttribute(list, "FLAGS")->Kind, TKind::List);
    EXPECT_EQ(FetchAttribute(list, "INTERNALDATE"), nullptr);
    EXPECT_EQ(FetchAttribute(list, "620"), nullptr) << "values are not names";
}

// ---------------------------------------------------------------- texts

TEST(ImapText, QuotingAndLiterals) {
    EXPECT_TRUE(QuotableText("alice"));
    EXPECT_TRUE(QuotableText("pass \"word\" \\"));
    EXPECT_FALSE(QuotableText("line\r\nA2 DELETE INBOX")) << "CR LF would end the command";
    EXPECT_FALSE(QuotableText(std::string("a\0b", 3)));
    EXPECT_FALSE(QuotableText("perch\xE8"));  // perchè
    EXPECT_FALSE(QuotableText(std::string(1001, 'x')));
    EXPECT_EQ(QuotedString("a\"b\\c"), "\"a\\\"b\\\\c\"");
}

TEST(ImapText, MailboxNamesInModifiedUtf7) {
    struct TCase {
        const char* typed;
        const char* wire;
    };
    for (const TCase& c : {TCase{"INBOX", "INBOX"}, TCase{"Tom & Jerry", "Tom &- Jerry"},
                           TCase{"Posta/Novit\xE0", "Posta/Novit&AOA-"},  // Novità
                           TCase{"\x80uro", "&IKw-uro"},                  // €uro
                           TCase{"\xE0\xE8", "&AOAA6A-"},                 // àè
                           TCase{"a\tb", "a&AAk-b"}, TCase{"", ""}}) {
        EXPECT_EQ(EncodeMailboxName(c.typed), c.wire) << c.typed;
    }
}

TEST(ImapText, UidSetsSortedMergedAndSplit) {
    EXPECT_EQ(UidSets({}), std::vector<std::string>{});
    EXPECT_EQ(UidSets({5, 3, 4, 9, 9, 0, 11, 12}), std::vector<std::string>{"3:5,9,11:12"});
    const std::vector<std::string> split = UidSets({1, 3, 5, 7, 9, 11}, 5);
    EXPECT_EQ(split, (std::vector<std::string>{"1,3,5", "7,9", "11"}));
    std::vector<uint32_t> many;
    for (uint32_t u = 1; u <= 20000; u += 2) many.push_back(u);
    size_t total = 0;
    for (const std::string& set : UidSets(many)) {
        EXPECT_LE(set.size(), 4000u);
        total += static_cast<size_t>(std::count(set.begin(), set.end(), ',')) + 1;
    }
    EXPECT_EQ(total, many.size());
}

TEST(ImapText, Base64BothWays) {
    const std::string plain = std::string("\0alice\0s3cr\xE8t", 13);
    EXPECT_EQ(Base64Encode(plain), "AGFsaWNlAHMzY3LodA==");
    for (const std::string& s : {std::string(), std::string("a"), std::string("ab"), plain}) {
        const std::optional<std::string> back = Base64Decode(Base64Encode(s));
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, s);
    }
    EXPECT_FALSE(Base64Decode("a"));
    EXPECT_FALSE(Base64Decode("ab!d"));
}

TEST(ImapText, UniqueIdRoundTrip) {
    EXPECT_EQ(ImapUniqueId(3857529045u, 7), "3857529045.7");
    uint32_t v = 0, u = 0;
    ASSERT_TRUE(ParseImapUniqueId("3857529045.7", v, u));
    EXPECT_EQ(v, 3857529045u);
    EXPECT_EQ(u, 7u);
    for (const char* bad : {"", "12", "12.", ".7", "1.0", "1.2.3", "00000000026b18da57", "1.-2"})
        EXPECT_FALSE(ParseImapUniqueId(bad, v, u)) << bad;
}

}  // namespace
}  // namespace kalmuro::test
