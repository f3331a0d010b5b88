// Date header values into local date-times.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "mail/datetime.h"
#include "mail/errors.h"

namespace kalmuro {

// The machine cannot tell its offset from UTC:
// "Failed attempting to retrieve time zone information."
class ETimeZoneInfoError : public EMailError {
public:
    using EMailError::EMailError;
};

// The Date header value as local time: date and time, minus the zone written
// in the header, plus the machine's current offset from UTC. An unreadable
// date gives 0 plus that offset. Raises only ETimeZoneInfoError.
TDateTime ParseMailDate(std::string_view text);

// The date and time at the start of text (0 when they cannot be read) and,
// in rest, the text that follows them (normally the zone).
TDateTime ParseDateText(std::string_view text, std::string& rest);

// "+hhmm" / "-hhmm" as a signed day fraction; anything else is 0.
TDateTime ParseZoneOffset(std::string_view text);

// Local time minus UTC at this moment, as a signed day fraction.
TDateTime LocalUtcOffset();

// Tests fix the offset: the function returns minutes east of UTC, or nothing
// to act as a machine that cannot tell. An empty function restores the
// machine's own offset.
void SetUtcOffsetForTesting(std::function<std::optional<int>()> minutesEast);

}  // namespace kalmuro
