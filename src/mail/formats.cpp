#include "mail/formats.h"

#include <cmath>
#include <cstdio>

#include "mail/text.h"

namespace kalmuro {

const char* const kShortDayNames[7] = {"Dom", "Lun", "Mar", "Mer", "Gio", "Ven", "Sab"};
const char* const kLongDayNames[7] = {"Domenica",     "Luned\xEC",  // Lunedì
                                      "Marted\xEC",                 // Martedì
                                      "Mercoled\xEC",               // Mercoledì
                                      "Gioved\xEC",                 // Giovedì
                                      "Venerd\xEC",                 // Venerdì
                                      "Sabato"};
const char* const kShortMonthNames[12] = {"Gen", "Feb", "Mar", "Apr", "Mag", "Giu",
                                          "Lug", "Ago", "Set", "Ott", "Nov", "Dic"};
const char* const kLongMonthNames[12] = {"Gennaio",   "Febbraio", "Marzo",    "Aprile",
                                         "Maggio",    "Giugno",   "Luglio",   "Agosto",
                                         "Settembre", "Ottobre",  "Novembre", "Dicembre"};

namespace {

// Two-digit and wider fields of a decoded date; every value is small and
// non-negative, so the buffer always holds the result.
template <typename... Ints>
std::string Fields(const char* pattern, Ints... fields) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, pattern, fields...);
    return buffer;
}


constexpr int64_t kPowersOfTen[] = {1, 10, 100, 1000, 10000};

// Currency-style fixed point: the value in ten-thousandths, a half going to
// the even neighbour, held within the 64-bit range.
int64_t ToFixedPoint(double value) {
    if (!std::isfinite(value)) return 0;
    const double scaled = std::nearbyint(value * 10000.0);
    if (scaled >= 9.2e18) return INT64_MAX;
    if (scaled <= -9.2e18) return -INT64_MAX;
    return static_cast<int64_t>(scaled);
}

std::string GroupThousands(uint64_t whole) {
    const std::string digits = std::to_string(whole);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += '.';
        out += digits[i];
    }
    return out;
}

bool IsUnsafeInFileName(unsigned char c) {
    // Control characters cannot appear in a Windows file name, and a NUL would
    // cut the path short.
    static constexpr std::string_view kReplaced = " \"&'*+,./:;?\\";
    return c < 32 || kReplaced.find(static_cast<char>(c)) != std::string_view::npos;
}

size_t Utf8Length(unsigned char c) {
    const char32_t cp = Cp1252ToUnicode(c);
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : 3;
}

}  // namespace

std::string DateText(TDateTime value) {
    // Every row of every check shows one: written digit by digit, as
    // " %d/%02d/%02d %02d:%02d" would write them.
    const TDateParts p = DecodeDateTime(value);
    std::string text;
    text.reserve(24);  // "Dom 30/12/99 00:00" and room to spare: grown once
    text += kShortDayNames[DayOfWeek(value) - 1];
    text += ' ';
    AppendDecimal(text, p.Day, 1);
    text += '/';
    AppendDecimal(text, p.Month, 2);
    text += '/';
    AppendDecimal(text, p.Year % 100, 2);
    text += ' ';
    AppendDecimal(text, p.Hour, 2);
    text += ':';
    AppendDecimal(text, p.Minute, 2);
    return text;
}

std::string SummaryTimeText(TDateTime value) {
    const TDateParts p = DecodeDateTime(value);
    return Fields("%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
}

std::string FileNameDateText(TDateTime value) {
    const TDateParts p = DecodeDateTime(value);
    return Fields("%04d%02d%02d_%02d%02d%02d", p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second);
}

std::string SizeText(int decimals, double value) {
    if (decimals < 0) decimals = 0;
    const int kept = decimals > 4 ? 4 : decimals;
    const int64_t fixed = ToFixedPoint(value);
    const bool negative = fixed < 0;
    uint64_t magnitude = negative ? static_cast<uint64_t>(-fixed) : static_cast<uint64_t>(fixed);
    const uint64_t divisor = static_cast<uint64_t>(kPowersOfTen[4 - kept]);
    uint64_t q = magnitude / divisor;
    const uint64_t r = magnitude % divisor;
    if (r * 2 > divisor || (r * 2 == divisor && q % 2 == 1)) ++q;
    const uint64_t unit = static_cast<uint64_t>(kPowersOfTen[kept]);
    std::string out = (negative && q != 0) ? "-" : "";
    out += GroupThousands(q / unit);
    if (decimals > 0) {
        std::string fraction = std::to_string(q % unit);
        fraction.insert(0, static_cast<size_t>(kept) - fraction.size(), '0');
        fraction.append(static_cast<size_t>(decimals - kept), '0');
        out += ',' + fraction;
    }
    return out;
}

std::string MessageSizeText(int32_t sizeBytes) { return SizeText(0, sizeBytes / 1024.0) + "k"; }

std::string SafeFileName(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const char c = IsUnsafeInFileName(static_cast<unsigned char>(ch)) ? '_' : ch;
        if (c == '_' && !out.empty() && out.back() == '_') continue;
        out += c;
    }
    return out;
}

std::string BaseFileName(const TMessageEntry& entry) {
    std::string name = SafeFileName(FileNameDateText(entry.Date) + " " + Trim(entry.Sender) + " " +
                                    Trim(entry.Subject));
    // A long subject must not make the file impossible to create: Linux file
    // names hold at most 255 bytes, and a suffix and ".eml" still follow.
    size_t bytes = 0, keep = 0;
    while (keep < name.size()) {
        const size_t n = Utf8Length(static_cast<unsigned char>(name[keep]));
        if (bytes + n > kMaxBaseFileNameBytes) break;
        bytes += n;
        ++keep;
    }
    name.resize(keep);
    return name;
}

}  // namespace kalmuro
