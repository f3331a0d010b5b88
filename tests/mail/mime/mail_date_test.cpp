#include "mail/mime/mail_date.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "support/case_name.h"
#include "support/date_at.h"

namespace kalmuro {
namespace {

using testcase::PrintTo;

constexpr double kHour = 1.0 / 24;
constexpr double kTolerance = 1e-9;  // well under a millisecond

using testing::At;

struct DateRow {
    const char* name;
    std::string text;
    TDateTime date;  // what ParseDateText reads
    std::string rest;
    double zoneHours;
    TDateTime utc;  // the result before the local offset is added
};

const DateRow kDateRows[] = {
    {"rfc_form", "Fri, 7 Sep 2001 12:00:00 +0200", At(2001, 9, 7, 12), "+0200", 2,
     At(2001, 9, 7, 10)},
    {"zone_with_comment", "Fri, 7 Sep 2001 12:00:00 +0200 (CEST)", At(2001, 9, 7, 12),
     "+0200 (CEST)", 2, At(2001, 9, 7, 10)},
    {"named_zone_gmt", "Fri, 7 Sep 2001 12:00:00 GMT", At(2001, 9, 7, 12), "GMT", 0,
     At(2001, 9, 7, 12)},
    {"named_zone_edt", "Fri, 7 Sep 2001 12:00:00 EDT", At(2001, 9, 7, 12), "EDT", 0,
     At(2001, 9, 7, 12)},
    {"named_zone_long", "Fri, 7 Sep 2001 12:00:00 CEST-2", At(2001, 9, 7, 12), "CEST-2", 0,
     At(2001, 9, 7, 12)},
    {"zone_west", "Fri, 7 Sep 2001 12:00:00 -0500", At(2001, 9, 7, 12), "-0500", -5,
     At(2001, 9, 7, 17)},
    {"no_day_name_no_seconds", "7 Sep 2001 12:00 +0200", At(2001, 9, 7, 12), "+0200", 2,
     At(2001, 9, 7, 10)},
    {"two_digit_year", "Fri, 7 Sep 01 12:00:00 +0200", At(2001, 9, 7, 12), "+0200", 2,
     At(2001, 9, 7, 10)},
    {"year_79", "Fri, 7 Sep 79 12:00:00 +0200", At(2079, 9, 7, 12), "+0200", 2, At(2079, 9, 7, 10)},
    {"year_80", "Fri, 7 Sep 80 12:00:00 +0200", At(1980, 9, 7, 12), "+0200", 2, At(1980, 9, 7, 10)},
    {"year_0", "7 Sep 0 12:00 +0000", At(2000, 9, 7, 12), "+0000", 0, At(2000, 9, 7, 12)},
    {"month_before_day", "Fri, Sep 7 2001 12:00:00 +0200", At(2001, 9, 7, 12), "+0200", 2,
     At(2001, 9, 7, 10)},
    {"year_last", "Fri Sep  7 12:00:00 2001", At(2001, 9, 7, 12), "", 0, At(2001, 9, 7, 12)},
    {"dashes", "Fri, 07-Sep-2001 12:00:00 +0200", At(2001, 9, 7, 12), "+0200", 2,
     At(2001, 9, 7, 10)},
    {"full_day_name_short_time", "Friday, 7 sep 2001 1:2:3 +0200", At(2001, 9, 7, 1, 2, 3), "+0200",
     2, At(2001, 9, 6, 23, 2, 3)},
    {"no_time", "Fri, 7 Sep 2001", At(2001, 9, 7), "", 0, At(2001, 9, 7)},
    {"comma_after_day_is_not_a_number", "Sep 7, 2001 12:00:00 +0200", At(2001, 9, 1, 12), "+0200",
     2, At(2001, 9, 1, 10)},
    {"zone_with_colon", "Fri, 7 Sep 2001 12:00:00 +02:00", At(2001, 9, 7, 12), "+02:00", 0,
     At(2001, 9, 7, 12)},
    {"dots_in_time", "Fri, 7 Sep 2001 12.00.00 +0200", At(2001, 9, 7), "12.00.00 +0200", 0,
     At(2001, 9, 7)},
    {"long_month_name", "Fri, 7 September 2001 12:00:00 +0200", 0, "12:00:00 +0200", 0, 0},
    {"impossible_day", "Fri, 31 Feb 2001 12:00:00 +0200", 0, "12:00:00 +0200", 0, 0},
    {"leap_second", "Fri, 7 Sep 2001 12:00:60 +0200", 0, "+0200", 2, -2 * kHour},
    {"empty", "", 0, "", 0, 0},
    {"blanks_only", "  \t ", 0, "", 0, 0},
    {"leap_day", "Tue, 29 Feb 2000 23:59:59 -0000", At(2000, 2, 29, 23, 59, 59), "-0000", 0,
     At(2000, 2, 29, 23, 59, 59)},
    {"no_leap_day", "29 Feb 2001 10:00:00 +0000", 0, "10:00:00 +0000", 0, 0},
    {"hour_25", "7 Sep 2001 25:00:00 +0200", 0, "+0200", 2, -2 * kHour},
    {"negative_hour", "7 Sep 2001 -1:00:00 +0100", 0, "+0100", 1, -1 * kHour},
    {"day_0", "Fri, 0 Sep 2001", 0, "", 0, 0},
    {"year_10000", "7 Sep 10000 12:00:00 +0100", 0, "12:00:00 +0100", 0, 0},
    {"hex_day_is_not_a_number", "Fri, $A Sep 2001 +0100", At(2001, 9, 1), "+0100", 1,
     At(2001, 9, 1) - kHour},
    {"year_1900_read_from_the_end", "Fri, 7 Sep 1900 12:00:00 +0000", At(1900, 9, 7), "1900", 0,
     At(1900, 9, 7)},
    {"year_last_with_zone", "Fri Sep 7 12:00:00 2001 +0200", At(1900, 9, 7, 12), "", 0,
     At(1900, 9, 7, 12)},
    {"double_blank_before_time", "Mon,  7  Sep  2001  12:00:00  +0200", At(2001, 9, 7),
     "12:00:00  +0200", 0, At(2001, 9, 7)},
    {"day_name_alone", "Fri", 0, "", 0, 0},
    {"dash_first_is_not_a_delimiter", "-7 Sep 2001 +0100", 0, "+0100", 1, -kHour},
    {"garbage", "hello world", 0, "", 0, 0},
};

class MailDateTest : public ::testing::TestWithParam<DateRow> {
protected:
    void TearDown() override { SetUtcOffsetForTesting({}); }
};

TEST_P(MailDateTest, ReadsDateAndRest) {
    const DateRow& row = GetParam();
    std::string rest = "stale";
    EXPECT_NEAR(ParseDateText(row.text, rest), row.date, kTolerance);
    EXPECT_EQ(rest, row.rest);
    EXPECT_NEAR(rest.size() >= 5 ? ParseZoneOffset(rest) : 0.0, row.zoneHours * kHour, kTolerance);
}

TEST_P(MailDateTest, AddsAFixedOffset) {
    const DateRow& row = GetParam();
    SetUtcOffsetForTesting([] { return std::optional<int>(90); });
    EXPECT_NEAR(ParseMailDate(row.text), row.utc + 1.5 * kHour, kTolerance);
    SetUtcOffsetForTesting([] { return std::optional<int>(-300); });
    EXPECT_NEAR(ParseMailDate(row.text), row.utc - 5 * kHour, kTolerance);
}

TEST_P(MailDateTest, AddsTheMachineOffset) {
    const DateRow& row = GetParam();
    SetUtcOffsetForTesting({});
    std::time_t now = std::time(nullptr);
    std::tm local{};
    ASSERT_NE(localtime_r(&now, &local), nullptr);
    const double machine = static_cast<double>(local.tm_gmtoff / 60) / 1440.0;
    EXPECT_NEAR(ParseMailDate(row.text), row.utc + machine, kTolerance);
}

INSTANTIATE_TEST_SUITE_P(Rows, MailDateTest, ::testing::ValuesIn(kDateRows), testcase::RowName);

TEST(ParseZoneOffset, Table) {
    struct Row {
        const char* text;
        double hours;
    };
    const Row rows[] = {
        {"+0200", 2},     {"-0500", -5},
        {"+0530", 5.5},   {"-0930 (ACST)", -9.5},
        {"  +0100  ", 1}, {"+2359", 23 + 59.0 / 60},
        {"+2400", 0},     {"+0060", 0},
        {"+02:00", 0},    {"GMT", 0},
        {"+02", 0},       {"+0a00", 0},
        {"", 0},          {"+", 0},
        {"-+100", -1},    {"+-100", 0},
        {"0200", 0},
    };
    for (const Row& row : rows)
        EXPECT_NEAR(ParseZoneOffset(row.text), row.hours * kHour, kTolerance) << row.text;
}

// The machine's zone through the C library: POSIX zone strings need no zone files.
class LocalOffsetTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        if (tz) saved_ = tz;
    }
    void TearDown() override {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        SetUtcOffsetForTesting({});
    }
    std::optional<std::string> saved_;
};

TEST_F(LocalOffsetTest, FollowsTheMachineZone) {
    struct Row {
        const char* tz;
        double hours;
    };
    for (const Row& row :
         {Row{"UTC0", 0}, Row{"EAST-3", 3}, Row{"WEST+5:30", -5.5}, Row{"NPT-5:45", 5.75}}) {
        setenv("TZ", row.tz, 1);
        tzset();
        EXPECT_NEAR(LocalUtcOffset(), row.hours * kHour, kTolerance) << row.tz;
    }
}

TEST_F(LocalOffsetTest, TheSeamFixesTheOffset) {
    SetUtcOffsetForTesting([] { return std::optional<int>(125); });
    EXPECT_NEAR(LocalUtcOffset(), (2 + 5.0 / 60) * kHour, kTolerance);
    SetUtcOffsetForTesting([] { return std::optional<int>(-61); });
    EXPECT_NEAR(LocalUtcOffset(), -(1 + 1.0 / 60) * kHour, kTolerance);
}

TEST_F(LocalOffsetTest, NoZoneInformationRaises) {
    SetUtcOffsetForTesting([] { return std::optional<int>(); });
    try {
        ParseMailDate("Fri, 7 Sep 2001 12:00:00 +0200");
        FAIL() << "no error";
    } catch (const ETimeZoneInfoError& e) {
        EXPECT_STREQ(e.what(), "Failed attempting to retrieve time zone information.");
    }
    // Even a message without a date asks for the offset.
    EXPECT_THROW(ParseMailDate(""), EMailError);
}

}  // namespace
}  // namespace kalmuro
