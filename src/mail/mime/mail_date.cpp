#include "mail/mime/mail_date.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "mail/text.h"

namespace kalmuro {

namespace {

constexpr size_t npos = std::string_view::npos;

constexpr std::string_view kDayNames[] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr std::string_view kMonthNames[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                            "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

std::function<std::optional<int>()>& OffsetOverride() {
    static std::function<std::optional<int>()> source;
    return source;
}

// Leading blanks, an optional sign, decimal digits and nothing else, within
// 32 bits. (No hexadecimal: a date field "x10" is not a number.)
bool ReadDecimal(std::string_view s, int32_t& value) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i >= s.size()) return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
        if (v > 2147483648LL) return false;
    }
    if (negative) v = -v;
    if (v > INT32_MAX) return false;
    value = static_cast<int32_t>(v);
    return true;
}

// Date and time fields are 16-bit unsigned numbers: "-1" reads as 65535.
int ReadWord(std::string_view s, int defaultValue) {
    int32_t v = 0;
    if (!ReadDecimal(s, v)) return defaultValue;
    return static_cast<uint16_t>(v);
}

std::string_view SkipBlanks(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    return s.substr(i);
}

int MonthNumber(std::string_view field) {
    for (int m = 0; m < 12; ++m)
        if (SameText(field, kMonthNames[m])) return m + 1;
    return 0;
}

TDateTime HoursMinutes(int hours, int minutes) {
    return (hours * 3600000.0 + minutes * 60000.0) / kMSecsPerDay;
}

}  // namespace

TDateTime ParseDateText(std::string_view text, std::string& rest) {
    rest.clear();
    std::string_view v = TrimView(text);
    if (v.empty()) return 0;

    if (v.size() >= 3) {
        const std::string_view head = v.substr(0, 3);
        for (std::string_view day : kDayNames) {
            if (!SameText(head, day)) continue;
            // The whole first word goes, so "Friday," does too.
            const size_t blank = v.find(' ');
            if (blank != npos) v = v.substr(blank + 1);
            v = SkipBlanks(v);
            break;
        }
    }

    const size_t dash = v.find('-'), firstBlank = v.find(' ');
    const char delimiter =
        (dash != npos && dash > 0 && firstBlank != npos && dash < firstBlank) ? '-' : ' ';
    auto peekField = [&]() {
        const size_t end = v.find(delimiter);
        return end == npos ? v : v.substr(0, end);
    };
    auto takeField = [&]() {
        const size_t end = v.find(delimiter);
        const std::string_view field = end == npos ? v : v.substr(0, end);
        v = end == npos ? std::string_view() : SkipBlanks(v.substr(end + 1));
        return field;
    };

    int day, month;
    if (MonthNumber(peekField()) != 0) {
        month = MonthNumber(takeField());
        day = ReadWord(takeField(), 1);
    } else {
        day = ReadWord(takeField(), 1);
        month = MonthNumber(takeField());
    }

    const size_t yearEnd = v.find(' ');
    const std::string_view y = yearEnd == npos ? v : v.substr(0, yearEnd);
    v = yearEnd == npos ? std::string_view() : v.substr(yearEnd + 1);
    int year = ReadWord(y, 1900);
    if (year == 1900) {
        // "Fri Sep  7 12:00:00 2001": the year comes last, after the time.
        year = ReadWord(v, 1900);
        v = y;
    }
    if (year < 80)
        year += 2000;
    else if (year < 100)
        year += 1900;

    TDateTime date = 0;
    if (!TryEncodeDate(year, month, day, date)) {
        rest = std::string(v);
        return 0;
    }

    if (v.find(':') != npos) {
        const size_t timeEnd = v.find(' ');
        const std::string_view t = timeEnd == npos ? v : v.substr(0, timeEnd);
        v = timeEnd == npos ? std::string_view() : v.substr(timeEnd + 1);
        const size_t c1 = t.find(':');
        const size_t c2 = c1 == npos ? npos : t.find(':', c1 + 1);
        const std::string_view hours = t.substr(0, c1);
        const std::string_view minutes =
            c1 == npos ? std::string_view() : t.substr(c1 + 1, c2 == npos ? npos : c2 - c1 - 1);
        const std::string_view seconds = c2 == npos ? std::string_view() : t.substr(c2 + 1);
        TDateTime time = 0;
        if (!TryEncodeTime(ReadWord(hours, 0), ReadWord(minutes, 0), ReadWord(seconds, 0), 0,
                           time)) {
            rest = std::string(v);
            return 0;
        }
        date += time;
    }

    rest = std::string(SkipBlanks(v));
    return date;
}

TDateTime ParseZoneOffset(std::string_view text) {
    const std::string_view s = TrimView(text).substr(0, 5);
    if (s.empty() || (s[0] != '+' && s[0] != '-')) return 0;
    int32_t hours = 0, minutes = 0;
    if (!ReadDecimal(s.substr(1, 2), hours) ||
        !ReadDecimal(s.size() > 3 ? s.substr(3, 2) : std::string_view(), minutes))
        return 0;
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59) return 0;
    const TDateTime offset = HoursMinutes(hours, minutes);
    return s[0] == '-' ? -offset : offset;
}

TDateTime LocalUtcOffset() {
    std::optional<int> minutesEast;
    if (OffsetOverride()) {
        minutesEast = OffsetOverride()();
    } else {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        if (now != static_cast<std::time_t>(-1) && localtime_r(&now, &local) != nullptr)
            minutesEast = static_cast<int>(local.tm_gmtoff / 60);
    }
    if (!minutesEast)
        throw ETimeZoneInfoError("Failed attempting to retrieve time zone information.");
    const int bias = -*minutesEast;  // UTC minus local time, in minutes
    const int magnitude = std::abs(bias);
    const TDateTime offset = HoursMinutes(magnitude / 60, magnitude % 60);
    return bias > 0 ? -offset : offset;
}

TDateTime ParseMailDate(std::string_view text) {
    std::string rest;
    const TDateTime date = ParseDateText(text, rest);
    const TDateTime zone = rest.size() >= 5 ? ParseZoneOffset(rest) : 0;
    return date - zone + LocalUtcOffset();
}

void SetUtcOffsetForTesting(std::function<std::optional<int>()> minutesEast) {
    OffsetOverride() = std::move(minutesEast);
}

}  // namespace kalmuro
