#include "mail/datetime.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace kalmuro {

namespace {

std::function<TDateTime()>& ClockOverride() {
    static std::function<TDateTime()> clock;
    return clock;
}

// Days from 0001-01-01 (day 1) up to the given date, proleptic Gregorian.
int64_t DaysFromCivil(int y, int m, int d) {
    int64_t n = 0;
    const int64_t py = y - 1;
    n = py * 365 + py / 4 - py / 100 + py / 400;
    for (int k = 1; k < m; ++k) n += DaysInMonth(y, k);
    return n + d;
}

// A literal, not DaysFromCivil(1899, 12, 30): static tables in other files
// encode dates before this file's dynamic initialisers have run.
constexpr int64_t kDelta = 693594;

}  // namespace

bool IsLeapYear(int year) {
    return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
    if (year < 1 || year > 9999 || month < 1 || month > 12) return false;
    if (day < 1 || day > DaysInMonth(year, month)) return false;
    result = static_cast<double>(DaysFromCivil(year, month, day) - kDelta);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& result) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 ||
        msec < 0 || msec > 999)
        return false;
    result = (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + msec) / kMSecsPerDay;
    return true;
}

TDateTime EncodeDateTime(const TDateParts& p) {
    TDateTime d = 0, t = 0;
    TryEncodeDate(p.Year, p.Month, p.Day, d);
    TryEncodeTime(p.Hour, p.Minute, p.Second, p.Millisecond, t);
    return d >= 0 ? d + t : d - t;
}

TDateParts DecodeDateTime(TDateTime value) {
    TDateParts r;
    if (!std::isfinite(value) || std::fabs(value) > 3e6) return r;  // out of range: the epoch
    const double whole = std::trunc(value);
    int64_t ms = std::llround(std::fabs(value - whole) * kMSecsPerDay);
    int64_t days = static_cast<int64_t>(whole) + kDelta;
    if (ms >= static_cast<int64_t>(kMSecsPerDay)) {  // rounding reached midnight
        ms -= static_cast<int64_t>(kMSecsPerDay);
        days += value >= 0 ? 1 : -1;
    }
    r.Hour = static_cast<int>(ms / 3600000);
    r.Minute = static_cast<int>(ms / 60000 % 60);
    r.Second = static_cast<int>(ms / 1000 % 60);
    r.Millisecond = static_cast<int>(ms % 1000);
    if (days < 1) return r;  // before year 1: keep the epoch date
    // Civil date from the day count (1 = 0001-01-01).
    int64_t n = days - 1;
    int64_t y400 = n / 146097; n %= 146097;
    int64_t y100 = n / 36524; if (y100 == 4) y100 = 3; n -= y100 * 36524;
    int64_t y4 = n / 1461; n %= 1461;
    int64_t y1 = n / 365; if (y1 == 4) y1 = 3; n -= y1 * 365;
    int year = static_cast<int>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
    int month = 1;
    while (n >= DaysInMonth(year, month)) { n -= DaysInMonth(year, month); ++month; }
    r.Year = year;
    r.Month = month;
    r.Day = static_cast<int>(n) + 1;
    return r;
}

int DayOfWeek(TDateTime value) {
    // The day DecodeDateTime gives: out-of-range values are the epoch, and a
    // time that rounds to midnight belongs to the next day.
    if (!std::isfinite(value) || std::fabs(value) > 3e6) value = 0;
    const double whole = std::trunc(value);
    int64_t days = static_cast<int64_t>(whole);
    if (std::llround(std::fabs(value - whole) * kMSecsPerDay) >= static_cast<int64_t>(kMSecsPerDay))
        days += value >= 0 ? 1 : -1;
    // 30/12/1899 was a Saturday (7).
    int64_t w = (days % 7 + 7) % 7;  // 0 = Saturday
    return static_cast<int>((w + 6) % 7) + 1;
}

TDateTime UnixToLocalDateTime(int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    TDateParts p;
    p.Year = tm.tm_year + 1900;
    p.Month = tm.tm_mon + 1;
    p.Day = tm.tm_mday;
    p.Hour = tm.tm_hour;
    p.Minute = tm.tm_min;
    p.Second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
    return EncodeDateTime(p);
}

TDateTime Now() {
    if (ClockOverride()) return ClockOverride()();
    using namespace std::chrono;
    auto now = system_clock::now();
    auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    TDateTime base = UnixToLocalDateTime(ms / 1000);
    return base + static_cast<double>(ms % 1000) / kMSecsPerDay;
}

void SetClockForTesting(std::function<TDateTime()> clock) { ClockOverride() = std::move(clock); }

}  // namespace kalmuro
