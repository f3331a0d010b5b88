// The date-time type: days since 30 December 1899 as a double, the time of day
// as the fraction, in local time. 0 is 30/12/1899 00:00.
#pragma once

#include <cstdint>
#include <functional>

namespace kalmuro {

using TDateTime = double;

struct TDateParts {
    int Year = 1899, Month = 12, Day = 30;
    int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

constexpr double kMSecsPerDay = 86400000.0;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// False when the fields do not make a valid date or time.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result);
TDateTime EncodeDateTime(const TDateParts& parts);  // the caller passes valid parts
// Splits a value into its fields. For a negative value the day is the whole
// part truncated toward zero and the time is the absolute fraction, so
// -0.25 reads as 30/12/1899 06:00.
TDateParts DecodeDateTime(TDateTime value);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);

// Conversions between time_t (UTC seconds) and the local date-time.
TDateTime UnixToLocalDateTime(int64_t unixSeconds);

// The clock. Tests replace it through SetClockForTesting; an empty function
// restores the system clock.
TDateTime Now();
void SetClockForTesting(std::function<TDateTime()> clock);

}  // namespace kalmuro
