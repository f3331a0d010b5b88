#include "mail/formats.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>

#include "mail/text.h"
#include "support/case_name.h"

namespace kalmuro {
namespace {

using testcase::PrintTo;

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    TDateParts p;
    p.Year = y, p.Month = mo, p.Day = d, p.Hour = h, p.Minute = mi, p.Second = s;
    p.Millisecond = ms;
    return EncodeDateTime(p);
}

struct DateCase {
    const char* name;
    TDateTime value;
    std::string dateText, summaryTime, fileNameDate;
};

class Dates : public ::testing::TestWithParam<DateCase> {};

TEST_P(Dates, FormatInTheFixedItalianPatterns) {
    const DateCase& c = GetParam();
    EXPECT_EQ(DateText(c.value), c.dateText);
    EXPECT_EQ(SummaryTimeText(c.value), c.summaryTime);
    EXPECT_EQ(FileNameDateText(c.value), c.fileNameDate);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Dates,
    ::testing::Values(
        DateCase{"zero", 0.0, "Sab 30/12/99 00:00", "00:00:00", "18991230_000000"},
        DateCase{"example", At(2007, 3, 5, 14, 9), "Lun 5/03/07 14:09", "14:09:00",
                 "20070305_140900"},
        DateCase{"two_digit_day", At(2024, 12, 25, 9, 5, 7), "Mer 25/12/24 09:05", "09:05:07",
                 "20241225_090507"},
        DateCase{"year_2000", At(2000, 1, 1, 23, 59, 59), "Sab 1/01/00 23:59", "23:59:59",
                 "20000101_235959"},
        DateCase{"sunday", At(2023, 10, 1, 12), "Dom 1/10/23 12:00", "12:00:00", "20231001_120000"},
        DateCase{"seconds_do_not_round_minutes", At(2010, 6, 15, 10, 30, 59, 999),
                 "Mar 15/06/10 10:30", "10:30:59", "20100615_103059"},
        DateCase{"rounds_to_next_day", At(2010, 6, 15) - 1e-10, "Mar 15/06/10 00:00", "00:00:00",
                 "20100615_000000"},
        DateCase{"negative_day", -1.0, "Ven 29/12/99 00:00", "00:00:00", "18991229_000000"},
        DateCase{"negative_with_time", -1.25, "Ven 29/12/99 06:00", "06:00:00", "18991229_060000"},
        DateCase{"offset_only", 1.0 / 24.0, "Sab 30/12/99 01:00", "01:00:00", "18991230_010000"}),
    testcase::RowName);

// Written digit by digit, the date text must be what the printf pattern
// " %d/%02d/%02d %02d:%02d" after the day's name gives, for any date.
TEST(DateTexts, MatchThePrintfPattern) {
    for (double day = -693593; day < 2958466; day += 97.3) {
        const TDateParts p = DecodeDateTime(day);
        char expected[64];
        std::snprintf(expected, sizeof expected, "%s %d/%02d/%02d %02d:%02d",
                      kShortDayNames[DayOfWeek(day) - 1], p.Day, p.Month, p.Year % 100, p.Hour,
                      p.Minute);
        ASSERT_EQ(DateText(day), expected) << day;
    }
}

struct SizeCase {
    const char* name;
    int32_t bytes;
    std::string text;
};

class Sizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(Sizes, AreWholeKilobytesHalfToEven) {
    EXPECT_EQ(MessageSizeText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Sizes,
    ::testing::Values(SizeCase{"b511", 511, "0k"}, SizeCase{"b512", 512, "0k"},
                      SizeCase{"b513", 513, "1k"}, SizeCase{"b1536", 1536, "2k"},
                      SizeCase{"b2560", 2560, "2k"}, SizeCase{"b3584", 3584, "4k"},
                      SizeCase{"b10000", 10000, "10k"}, SizeCase{"b1048576", 1048576, "1.024k"},
                      SizeCase{"b2000000", 2000000, "1.953k"}, SizeCase{"zero", 0, "0k"},
                      SizeCase{"minus_one", -1, "0k"}, SizeCase{"minus_big", -1048576, "-1.024k"},
                      SizeCase{"int_max", INT32_MAX, "2.097.152k"}),
    testcase::RowName);

struct SizeTextCase {
    const char* name;
    int decimals;
    double value;
    std::string text;
};

class SizeTexts : public ::testing::TestWithParam<SizeTextCase> {};

TEST_P(SizeTexts, Work) {
    EXPECT_EQ(SizeText(GetParam().decimals, GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Formats, SizeTexts,
                         ::testing::Values(SizeTextCase{"half_down_to_even", 0, 2.5, "2"},
                                           SizeTextCase{"half_up_to_even", 0, 3.5, "4"},
                                           SizeTextCase{"two_places", 2, 1234.565, "1.234,56"},
                                           SizeTextCase{"two_places_up", 2, 1234.575, "1.234,58"},
                                           SizeTextCase{"pads_decimals", 2, 7.0, "7,00"},
                                           SizeTextCase{"beyond_four_places", 6, 1.5, "1,500000"},
                                           SizeTextCase{"fixed_point_first", 4, 0.00004, "0,0000"},
                                           SizeTextCase{"millions", 0, 1234567.0, "1.234.567"},
                                           SizeTextCase{"negative", 1, -1234.56, "-1.234,6"},
                                           SizeTextCase{"negative_zero", 0, -0.4, "0"},
                                           SizeTextCase{"negative_decimals_treated_as_zero", -3,
                                                        5.5, "6"},
                                           SizeTextCase{"not_a_number", 0, std::nan(""), "0"}),
                         testcase::RowName);

struct SafeNameCase {
    const char* name;
    std::string text;
    std::string safe;
};

class SafeNames : public ::testing::TestWithParam<SafeNameCase> {};

TEST_P(SafeNames, ReplaceAndCollapse) { EXPECT_EQ(SafeFileName(GetParam().text), GetParam().safe); }

INSTANTIATE_TEST_SUITE_P(
    Formats, SafeNames,
    ::testing::Values(SafeNameCase{"every_replaced_character", "a \"&'*+,./:;?\\b", "a_b"},
                      SafeNameCase{"kept_characters", "()!%-<>|\xE8", "()!%-<>|\xE8"},  // è
                      SafeNameCase{"existing_underscores_collapse", "a__b___c", "a_b_c"},
                      SafeNameCase{"mixed_run", "a _ b", "a_b"},
                      SafeNameCase{"path_cannot_escape", "../../etc/passwd", "_etc_passwd"},
                      SafeNameCase{"control_characters", std::string("a\tb\0c\x1F", 6), "a_b_c_"},
                      SafeNameCase{"empty", "", ""}),
    testcase::RowName);

TEST(BaseFileNames, FollowTheExamples) {
    TMessageEntry m;
    m.Date = At(2007, 3, 5, 14, 9);
    m.Sender = "Ufficio vendite";
    m.Subject = "Offerta: sconti del 50%!";
    EXPECT_EQ(BaseFileName(m), "20070305_140900_Ufficio_vendite_Offerta_sconti_del_50%!");
    m.Sender = " \t";
    m.Subject = "";
    EXPECT_EQ(BaseFileName(m), "20070305_140900_");
    m.Sender = "\x01Mario (m@x.it) ";
    m.Subject = " Ciao ";
    EXPECT_EQ(BaseFileName(m), "20070305_140900_Mario_(m@x_it)_Ciao");
}

TEST(BaseFileNames, LongSubjectsAreCutToFitAFileName) {
    TMessageEntry m;
    m.Date = At(2007, 3, 5, 14, 9);
    m.Subject = std::string(500, 'a');
    EXPECT_EQ(BaseFileName(m), "20070305_140900_" + std::string(200 - 16, 'a'));
    m.Subject = std::string(500, '\x80');  // € takes three bytes in UTF-8
    const std::string name = BaseFileName(m);
    EXPECT_LE(Cp1252ToUtf8(name).size(), kMaxBaseFileNameBytes);
    EXPECT_EQ(name.size(), 16u + (200 - 16) / 3);
}

TEST(NameTables, HoldTheItalianNames) {
    EXPECT_STREQ(kShortDayNames[0], "Dom");
    EXPECT_STREQ(kLongDayNames[1], "Luned\xEC");  // Lunedì
    EXPECT_STREQ(kShortMonthNames[4], "Mag");
    EXPECT_STREQ(kLongMonthNames[11], "Dicembre");
}

}  // namespace
}  // namespace kalmuro
