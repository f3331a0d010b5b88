#include <gtest/gtest.h>

#include <cmath>

#include "mail/datetime.h"
#include "mail/errors.h"
#include "mail/text.h"
#include "support/case_name.h"

namespace kalmuro {
namespace {

using testcase::PrintTo;

struct IntCase {
    const char* name;
    std::string text;
    bool ok;
    int32_t value;
};

class StrToInts : public ::testing::TestWithParam<IntCase> {};

TEST_P(StrToInts, AcceptTheRunTimeFormsAndLimits) {
    const IntCase& c = GetParam();
    int32_t v = 12345;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok);
    if (c.ok) {
        EXPECT_EQ(v, c.value);
        EXPECT_EQ(StrToInt(c.text), c.value);
    } else {
        try {
            StrToInt(c.text);
            FAIL() << "no error";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + c.text + "' is not a valid integer value");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Text, StrToInts,
    ::testing::Values(
        IntCase{"zero", "0", true, 0}, IntCase{"plain", "60", true, 60},
        IntCase{"plus", "+7", true, 7}, IntCase{"minus", "-7", true, -7},
        IntCase{"leading_blanks", "  42", true, 42}, IntCase{"leading_zeros", "007", true, 7},
        IntCase{"max", "2147483647", true, INT32_MAX},
        IntCase{"min", "-2147483648", true, INT32_MIN}, IntCase{"over_max", "2147483648", false, 0},
        IntCase{"under_min", "-2147483649", false, 0},
        IntCase{"huge", "99999999999999999999", false, 0}, IntCase{"dollar_hex", "$FF", true, 255},
        IntCase{"0x_hex", "0x1a", true, 26}, IntCase{"x_hex", "X10", true, 16},
        IntCase{"hex_full_pattern", "$FFFFFFFF", true, -1},
        IntCase{"negative_hex", "-$10", true, -16}, IntCase{"hex_too_long", "$100000000", false, 0},
        IntCase{"empty", "", false, 0}, IntCase{"blank", " ", false, 0},
        IntCase{"sign_only", "-", false, 0}, IntCase{"dollar_only", "$", false, 0},
        IntCase{"trailing_blank", "5 ", false, 0}, IntCase{"letters", "abc", false, 0},
        IntCase{"decimal_point", "1.0", false, 0}, IntCase{"tab_not_a_blank", "\t5", false, 0},
        IntCase{"double_sign", "--5", false, 0}),
    testcase::RowName);

TEST(Cp1252, EveryByteSurvivesTheUtf8RoundTrip) {
    std::string all;
    for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
    const std::string utf8 = Cp1252ToUtf8(all);
    EXPECT_EQ(Utf8ToCp1252(utf8), all);
    EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");  // €
    EXPECT_EQ(Cp1252ToUtf8("\xE8"), "\xC3\xA8");      // è
    EXPECT_EQ(Utf8ToCp1252("\xE2\x80\x9C"), "\x93");  // left double quote
}

struct Utf8Case {
    const char* name;
    std::string utf8;
    std::string cp1252;
};

class Utf8Decodes : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Decodes, ReplaceWhatCannotBeHeld) {
    EXPECT_EQ(Utf8ToCp1252(GetParam().utf8), GetParam().cp1252);
}

INSTANTIATE_TEST_SUITE_P(Text, Utf8Decodes,
                         ::testing::Values(Utf8Case{"not_in_code_page", "a\xE2\x98\x83z",
                                                    "a?z"},  // snowman
                                           Utf8Case{"stray_continuation", "a\x80z", "a?z"},
                                           Utf8Case{"truncated_sequence", "a\xC3", "a?"},
                                           Utf8Case{"bad_continuation", "\xC3(", "?("},
                                           Utf8Case{"four_byte", "\xF0\x9F\x98\x80", "?"}),
                         testcase::RowName);

TEST(Text, TrimUpperAndSameTextTouchOnlyTheirCharacters) {
    EXPECT_EQ(Trim(std::string("\x01\t a b \x20\x1F", 8)), "a b");
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");     // non-breaking blank is not trimmed
    EXPECT_EQ(UpperCase("abz\xE8{"), "ABZ\xE8{");  // è stays
    EXPECT_TRUE(SameText("Accounts", "aCCOUNTS"));
    EXPECT_FALSE(SameText("\xE8", "\xC8"));  // è, È
    EXPECT_FALSE(SameText("a", "ab"));
}

TEST(Text, TrimViewAndTrimInPlaceAgreeWithTrim) {
    for (const std::string& s : {std::string(), std::string(" "), std::string("\x01\x20\t"),
                                std::string("a"), std::string(" a"), std::string("a\t"),
                                std::string("\x1F a b \x20"), std::string("\xA0x\xA0 ")}) {
        SCOPED_TRACE(s);
        EXPECT_EQ(TrimView(s), Trim(s));
        EXPECT_EQ(TrimLeftView(s), TrimLeft(s));
        std::string inPlace = s;
        TrimInPlace(inPlace);
        EXPECT_EQ(inPlace, Trim(s));
    }
}

struct ExpandCase {
    const char* name;
    std::string text;
    std::string expanded;
};

class Expands : public ::testing::TestWithParam<ExpandCase> {};

TEST_P(Expands, TurnTheMarkerIntoLfCr) {
    EXPECT_EQ(ExpandNewlines(GetParam().text), GetParam().expanded);
}

INSTANTIATE_TEST_SUITE_P(Text, Expands,
                         ::testing::Values(ExpandCase{"small_n", "a\\nb", "a\n\rb"},
                                           ExpandCase{"capital_n", "a\\Nb", "a\n\rb"},
                                           ExpandCase{"other_letter", "a\\tb", "a\\tb"},
                                           ExpandCase{"trailing_backslash", "a\\", "a\\"},
                                           ExpandCase{"double_backslash", "\\\\n", "\\\n\r"}),
                         testcase::RowName);

struct DateRoundTrip {
    const char* name;
    TDateParts parts;
    double serial;
    int dayOfWeek;  // 1 = Sunday
};

class DateRoundTrips : public ::testing::TestWithParam<DateRoundTrip> {};

TEST_P(DateRoundTrips, EncodeDecodeAndWeekday) {
    const DateRoundTrip& c = GetParam();
    const TDateTime v = EncodeDateTime(c.parts);
    EXPECT_DOUBLE_EQ(v, c.serial);
    const TDateParts back = DecodeDateTime(v);
    EXPECT_EQ(back.Year, c.parts.Year);
    EXPECT_EQ(back.Month, c.parts.Month);
    EXPECT_EQ(back.Day, c.parts.Day);
    EXPECT_EQ(back.Hour, c.parts.Hour);
    EXPECT_EQ(back.Minute, c.parts.Minute);
    EXPECT_EQ(back.Second, c.parts.Second);
    EXPECT_EQ(back.Millisecond, c.parts.Millisecond);
    EXPECT_EQ(DayOfWeek(v), c.dayOfWeek);
}

TDateParts P(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    TDateParts p;
    p.Year = y, p.Month = mo, p.Day = d, p.Hour = h, p.Minute = mi, p.Second = s;
    p.Millisecond = ms;
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    DateTime, DateRoundTrips,
    ::testing::Values(DateRoundTrip{"epoch", P(1899, 12, 30), 0.0, 7},
                      DateRoundTrip{"day_one", P(1899, 12, 31), 1.0, 1},
                      DateRoundTrip{"before_epoch", P(1899, 12, 29), -1.0, 6},
                      DateRoundTrip{"before_epoch_with_time", P(1899, 12, 29, 6), -1.25, 6},
                      DateRoundTrip{"year_1900_not_leap", P(1900, 3, 1), 61.0, 5},
                      DateRoundTrip{"year_2000_leap", P(2000, 2, 29), 36585.0, 3},
                      DateRoundTrip{"noon", P(2007, 3, 5, 12), 39146.5, 2},
                      DateRoundTrip{"milliseconds", P(2021, 7, 4, 23, 59, 59, 999),
                                    44381.0 + 86399999.0 / 86400000.0, 1},
                      DateRoundTrip{"first_year", P(1, 1, 1), -693593.0, 2},
                      DateRoundTrip{"last_day", P(9999, 12, 31, 23, 59, 59),
                                    2958465.0 + 86399.0 / 86400.0, 6}),
    testcase::RowName);

TEST(DateTime, RejectsInvalidFields) {
    TDateTime v = 123;
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, v));
    EXPECT_FALSE(TryEncodeDate(2023, 13, 1, v));
    EXPECT_FALSE(TryEncodeDate(0, 1, 1, v));
    EXPECT_FALSE(TryEncodeDate(2023, 4, 31, v));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, v));
    EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, v));
    EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, v));
    EXPECT_EQ(v, 123);
    EXPECT_TRUE(TryEncodeDate(2024, 2, 29, v));
}

TEST(DateTime, WeekdayFollowsTheRoundedDate) {
    // A value a hair before midnight reads as the next day, and so must its
    // weekday: 15/06/2010 was a Tuesday.
    TDateTime day = 0;
    ASSERT_TRUE(TryEncodeDate(2010, 6, 15, day));
    const TDateTime almost = day - 1e-10;
    EXPECT_EQ(DecodeDateTime(almost).Day, 15);
    EXPECT_EQ(DayOfWeek(almost), DayOfWeek(day));
    EXPECT_EQ(DayOfWeek(-1.0 - 1e-10), 6);  // 29/12/1899, a Friday, seen from below
}

TEST(DateTime, UnreadableValuesDecodeToTheEpoch) {
    for (double v : {std::nan(""), double{INFINITY}, -double{INFINITY}, 1e300}) {
        const TDateParts p = DecodeDateTime(v);
        EXPECT_EQ(p.Year, 1899);
        EXPECT_EQ(p.Day, 30);
        EXPECT_EQ(DayOfWeek(v), 7);
    }
}

TEST(DateTime, TestClockReplacesNow) {
    SetClockForTesting([] { return 39146.5; });
    EXPECT_EQ(Now(), 39146.5);
    SetClockForTesting({});
    EXPECT_GT(Now(), 40000.0);
}

}  // namespace
}  // namespace kalmuro
