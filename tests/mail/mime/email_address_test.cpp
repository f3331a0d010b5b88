#include "mail/mime/email_address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/case_name.h"

namespace kalmuro {
namespace {

using testcase::PrintTo;

struct AddressRow {
    const char* name;
    std::string text;
    std::string expectedName;
    std::string expectedAddress;
};

class AddressTest : public ::testing::TestWithParam<AddressRow> {};

TEST_P(AddressTest, Parses) {
    const AddressRow& row = GetParam();
    TEmailAddress address;
    address.Name = "stale";
    address.Address = "stale";
    address.SetText(row.text);
    EXPECT_EQ(address.Name, row.expectedName);
    EXPECT_EQ(address.Address, row.expectedAddress);
}

const AddressRow kAddressRows[] = {
    {"name_and_angle", "John Smith <john.smith@example.com>", "John Smith",
     "john.smith@example.com"},
    {"quoted_name_with_comma", "\"Smith, John\" <john@example.com>", "Smith, John",
     "john@example.com"},
    {"angle_alone", "<john@example.com>", "", "john@example.com"},
    {"bare_address", "john@example.com", "", "john@example.com"},
    {"address_then_comment", "john@example.com (John Smith)", "", "john@example.com"},
    {"comment_then_address", "(John Smith) john@example.com", "", "john@example.com"},
    {"word_comment_angle", "John (Sales) <john@example.com>", "John", "john@example.com"},
    {"two_words_no_address", "John Smith", "John ", ""},
    {"one_word", "john", "", "john"},
    {"quoted_word_inside_name", "Joe \"Q\" Smith <a@b.c>", "Joe QSmith", "a@b.c"},
    {"two_addresses_with_comma", "a@b.c, d@e.f", "", "a@b.c,d@e.f"},
    {"empty", "", "", ""},
    {"blanks_only", " \t ", "", ""},
    {"surrounding_blanks_trimmed", "  <a@b.c>  ", "", "a@b.c"},
    {"tab_between_name_words", "John\tSmith <j@x.y>", "John\tSmith", "j@x.y"},
    {"blanks_around_dots_after_at", "<john . smith@example . com>", "", "john . smith@example.com"},
    {"nested_comment_text_joins_address", "a@b.c (x (y) z)", "", "a@b.cx"},
    {"comment_inside_angle", "<a@b.c(home)>", "", "a@b.c"},
    {"escaped_quotes_in_name", "\"John \\\"JJ\\\" Smith\" <j@x.y>", "John \"JJ\"Smith", "j@x.y"},
    {"backslash_at_end_of_quote", "\"abc\\", "abc", ""},
    {"unterminated_quote", "\"John <j@x.y>", "", ""},
    {"unterminated_angle_loses_last_label", "John <j@x.y", "John", "j@x."},
    {"unterminated_comment_joins_address", "a@b.c (open", "", "a@b.copen"},
    {"quote_inside_word_drops_first_letter", "John\"Doe\" <a@b>", "ohnoe", "a@b"},
    {"at_in_quoted_name", "\"a@b\" <c@d.e>", "a@b", "c@d.e"},
    {"close_paren_outside_comment_is_text", "a)b@c.d", "", "a)b@c.d"},
    {"eight_bit_name", "Caf\xE9 Bar <x@y.z>", "Caf\xE9 Bar", "x@y.z"},  // Café
};

INSTANTIATE_TEST_SUITE_P(Rows, AddressTest, ::testing::ValuesIn(kAddressRows), testcase::RowName);

struct FailingRow {
    const char* name;
    std::string text;
    std::string nameBefore;  // what the parser had gathered when it raised
    std::string addressBefore;
};

class AddressErrorTest : public ::testing::TestWithParam<FailingRow> {};

TEST_P(AddressErrorTest, RaisesAndKeepsWhatItHad) {
    const FailingRow& row = GetParam();
    TEmailAddress address;
    try {
        address.SetText(row.text);
        FAIL() << "no error for " << row.text;
    } catch (const EEmailParseError& e) {
        EXPECT_STREQ(e.what(), "@ Outside address");
    }
    EXPECT_EQ(address.Name, row.nameBefore);
    EXPECT_EQ(address.Address, row.addressBefore);
}

const FailingRow kFailingRows[] = {
    {"angle_then_second_address", "<a@b.c> d@e.f", "", "a@b.c"},
    {"name_angle_then_at", "Bob <b@x.y> c@z", "Bob", "b@x.y"},
    {"at_right_after_angle", "<a@b>@c", "", "a@b"},
};

INSTANTIATE_TEST_SUITE_P(Rows, AddressErrorTest, ::testing::ValuesIn(kFailingRows),
                         testcase::RowName);

TEST(AddressError, IsAMailError) {
    TEmailAddress address;
    EXPECT_THROW(address.SetText("<a@b.c> d@e.f"), EMailError);
}

struct ListRow {
    const char* name;
    std::string value;
    std::vector<std::pair<std::string, std::string>> expected;  // name, address
};

class AddressListTest : public ::testing::TestWithParam<ListRow> {};

TEST_P(AddressListTest, Splits) {
    const ListRow& row = GetParam();
    TEmailAddressList list{TEmailAddress()};  // emptied first
    list[0].Address = "stale@x.y";
    ParseAddressList(row.value, list);
    std::vector<std::pair<std::string, std::string>> got;
    for (const TEmailAddress& a : list) got.emplace_back(a.Name, a.Address);
    EXPECT_EQ(got, row.expected);
}

const ListRow kListRows[] = {
    {"empty", "", {}},
    {"blank", "   ", {}},
    {"single_bare", "  a@b.c", {{"", "a@b.c"}}},
    {"single_angle_without_delimiters", "<a@b.c>", {{"", "a@b.c"}}},
    {"two_with_comma", "a@b.c, d@e.f", {{"", "a@b.c"}, {"", "d@e.f"}}},
    {"names_and_angles", "Ann <a@b.c>, Bob Ray <b@c.d>", {{"Ann", "a@b.c"}, {"Bob Ray", "b@c.d"}}},
    {"comma_in_quotes_kept",
     "\"Smith, John\" <j@x.y>, k@x.y",
     {{"Smith, John", "j@x.y"}, {"", "k@x.y"}}},
    {"comma_in_comment_kept", "a@b.c (one, two), d@e.f", {{"", "a@b.c"}, {"", "d@e.f"}}},
    {"group", "Friends: a@b.c, d@e.f;", {{"", "a@b.c"}, {"", "d@e.f"}}},
    {"empty_group", "undisclosed-recipients:;", {}},
    {"empty_items_dropped", ",,, a@b.c ,", {{"", "a@b.c"}}},
    {"escaped_quote_in_name", "\"a\\\"b\" <x@y.z>", {{"a\"b", "x@y.z"}}},
    {"tab_separated", "a@b.c,\td@e.f", {{"", "a@b.c"}, {"", "d@e.f"}}},
};

INSTANTIATE_TEST_SUITE_P(Rows, AddressListTest, ::testing::ValuesIn(kListRows), testcase::RowName);

TEST(AddressList, RaisesOnAnAddressAfterAnAngle) {
    for (const char* value : {"<a@b.c> d@e.f", "x@y.z, <a@b.c> d@e.f", "<a@b>@c"}) {
        TEmailAddressList list;
        EXPECT_THROW(ParseAddressList(value, list), EEmailParseError) << value;
    }
}

TEST(AddressList, KeepsItemsParsedBeforeTheError) {
    TEmailAddressList list;
    EXPECT_THROW(ParseAddressList("x@y.z, <a@b.c> d@e.f", list), EEmailParseError);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].Address, "x@y.z");
}

}  // namespace
}  // namespace kalmuro
