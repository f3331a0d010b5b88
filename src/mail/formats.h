// The fixed Italian formats: every date, time and number the program shows or
// puts in a file name, whatever the machine's regional settings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mail/datetime.h"
#include "mail/message_entry.h"

namespace kalmuro {

// Sunday first; Windows-1252 ("Luned\xEC" and friends).
extern const char* const kShortDayNames[7];
extern const char* const kLongDayNames[7];
// January first.
extern const char* const kShortMonthNames[12];
extern const char* const kLongMonthNames[12];

// "ddd d/mm/yy hh:mm", e.g. "Lun 5/03/07 14:09"; 0 gives "Sab 30/12/99 00:00".
std::string DateText(TDateTime value);
// "hh:mm:ss", the time in the check summary.
std::string SummaryTimeText(TDateTime value);
// "yyyymmdd_hhmmss", the date in file names.
std::string FileNameDateText(TDateTime value);

// value with the given number of decimal places (a half at the last place
// goes to the even neighbour), "." between groups of three digits, "," before
// the decimals; a result of zero carries no minus sign. The value is taken as
// a fixed-point number with four decimal places first.
std::string SizeText(int decimals, double value);
// The size column: bytes / 1024 through SizeText(0, ...) followed by "k".
std::string MessageSizeText(int32_t sizeBytes);

// Blank " & ' * + , . / : ; ? \ and control characters become "_", then every
// run of "_" shrinks to one.
std::string SafeFileName(std::string_view text);
// FileNameDateText(Date) + " " + trimmed Sender + " " + trimmed Subject, through
// SafeFileName, cut so that its UTF-8 form stays within kMaxBaseFileNameBytes.
std::string BaseFileName(const TMessageEntry& entry);
inline constexpr size_t kMaxBaseFileNameBytes = 200;

}  // namespace kalmuro
