// A local date-time from its fields, for expected values in tests.
#pragma once

#include "mail/datetime.h"

namespace kalmuro::testing {

inline TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    TDateParts parts;
    parts.Year = y;
    parts.Month = mo;
    parts.Day = d;
    parts.Hour = h;
    parts.Minute = mi;
    parts.Second = s;
    return EncodeDateTime(parts);
}

}  // namespace kalmuro::testing
