// A Date header value (untrusted).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mail/mime/mail_date.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string rest;
    const kalmuro::TDateTime date = kalmuro::ParseDateText(input, rest);
    // Years 1-9999 only, or 0 for an unreadable date.
    if (!std::isfinite(date) || date < -693594 || date > 2958466) __builtin_trap();
    if (rest.size() > input.size()) __builtin_trap();
    const kalmuro::TDateTime zone = kalmuro::ParseZoneOffset(rest);
    if (!(std::fabs(zone) < 1)) __builtin_trap();
    if (!std::isfinite(kalmuro::ParseMailDate(input))) __builtin_trap();
    return 0;
}
