#include "mail/mime/header_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/case_name.h"

namespace kalmuro {
namespace {

using testcase::PrintTo;

THeaderList Make(const std::vector<std::string>& lines) {
    THeaderList list;
    for (const std::string& line : lines) list.Add(line);
    return list;
}

TEST(HeaderListText, EveryLineEndsWithCrLf) {
    EXPECT_EQ(Make({}).Text(), "");
    EXPECT_EQ(Make({"From: a@b.c"}).Text(), "From: a@b.c\r\n");
    EXPECT_EQ(Make({"Subject: one", "\ttwo", "  three", "X-Empty:"}).Text(),
              "Subject: one\r\n\ttwo\r\n  three\r\nX-Empty:\r\n");
}

TEST(HeaderListText, AClearedListIsReadyForMore) {
    THeaderList list = Make({"From: a@b.c", "Subject: x"});
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(list.Text(), "");
    EXPECT_EQ(list.HeaderValue("From"), "");
    list.Add("To: d@e.f");
    EXPECT_EQ(list.Text(), "To: d@e.f\r\n");
    EXPECT_EQ(list.HeaderValue("to"), "d@e.f");
}

TEST(HeaderListText, KeepsDuplicatesAndOrder) {
    THeaderList list = Make({"B: 2", "A: 1", "B: 3"});
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list[0], "B: 2");
    EXPECT_EQ(list[2], "B: 3");
}

TEST(HeaderListText, ManyLongLinesKeptExactly) {
    std::vector<std::string> lines;
    for (int i = 0; i < 300; ++i) lines.push_back("X-Line-" + std::to_string(i) + ": " +
                                                  std::string(static_cast<size_t>(i), 'a' + i % 26));
    lines.push_back(std::string("Bare\rCR and \0 NUL", 18));
    const THeaderList list = Make(lines);
    EXPECT_EQ(list.Lines(), lines);
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    EXPECT_EQ(list.Text(), text);
    EXPECT_EQ(list[299], lines[299]);
    EXPECT_EQ(list.HeaderValue("x-line-299"), std::string(299, 'a' + 299 % 26));
}

struct ValueRow {
    const char* name;
    std::vector<std::string> lines;
    const char* asked;
    const char* expected;
};

class HeaderValueTest : public ::testing::TestWithParam<ValueRow> {};

TEST_P(HeaderValueTest, Value) {
    const ValueRow& row = GetParam();
    const THeaderList list = Make(row.lines);
    EXPECT_EQ(list.HeaderValue(row.asked), row.expected);
    std::string scratch = "left over";
    EXPECT_EQ(list.HeaderValueView(row.asked, scratch), row.expected);
}

const ValueRow kValueRows[] = {
    {"plain", {"Subject: Hello"}, "Subject", "Hello"},
    {"no_blank_after_colon", {"Subject:Hello"}, "Subject", "Hello"},
    {"blanks_and_tabs_trimmed", {"Subject: \t Hello world \t "}, "Subject", "Hello world"},
    {"name_in_capitals", {"SUBJECT: Hello"}, "Subject", "Hello"},
    {"name_in_small_letters", {"subject: Hello"}, "SUBJECT", "Hello"},
    {"blank_before_colon_is_another_name", {"Subject : Hello"}, "Subject", ""},
    {"blank_before_colon_found_by_its_own_name", {"Subject : Hello"}, "Subject ", "Hello"},
    {"missing", {"From: a@b.c"}, "Subject", ""},
    {"empty_list", {}, "Subject", ""},
    {"first_of_two_wins", {"From: first@x.y", "From: second@x.y"}, "From", "first@x.y"},
    {"value_keeps_later_colons",
     {"Date: Fri, 7 Sep 2001 12:00:00"},
     "Date",
     "Fri, 7 Sep 2001 12:00:00"},
    {"folded_over_three_lines",
     {"Subject: one  ", "\t  two", "        three"},
     "Subject",
     "one two three"},
    {"folded_after_empty_first_line", {"Subject:", " two"}, "Subject", "two"},
    {"folded_with_blank_continuation", {"Subject: a", "   ", " b"}, "Subject", "a b"},
    {"folding_stops_at_next_header", {"Subject: a", "From: x", " b"}, "Subject", "a"},
    {"continuation_not_taken_as_header", {"Received: x", " Subject: hidden"}, "Subject", ""},
    {"continuation_name_keeps_its_indent", {"X: 1", " Subject: hidden"}, " Subject", "hidden"},
    {"after_empty_line_still_found", {"From: a@b.c", "", "Subject: later"}, "Subject", "later"},
    {"empty_line_ends_folding", {"Subject: a", "", " b"}, "Subject", "a"},
    {"line_without_colon_skipped", {"garbage line", "Subject: s"}, "Subject", "s"},
    {"empty_value", {"Subject:"}, "Subject", ""},
    {"control_characters_trimmed", {std::string("Subject: \x01x\x1f")}, "Subject", "x"},
    // Same length, first and last letters as the name asked for.
    {"look_alike_name_passed_over", {"Sinder: x", "SENDER: y"}, "Sender", "y"},
    {"empty_name_is_a_line_without_colon", {"no colon", "X: 1"}, "", ""},
    {"colon_first_has_the_empty_name", {": value"}, "", "value"},
};

INSTANTIATE_TEST_SUITE_P(Rows, HeaderValueTest, ::testing::ValuesIn(kValueRows), testcase::RowName);

TEST(HeaderName, IsTheTextBeforeTheFirstColon) {
    EXPECT_EQ(HeaderName("Subject: a:b"), "Subject");
    EXPECT_EQ(HeaderName(" Subject : a"), " Subject ");
    EXPECT_EQ(HeaderName("no colon"), "");
    EXPECT_EQ(HeaderName(":x"), "");
}

}  // namespace
}  // namespace kalmuro
