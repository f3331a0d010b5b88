// A header block from a server (untrusted): split into lines as the POP3
// client would and interpreted.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mail/errors.h"
#include "mail/mime/mail_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    kalmuro::TMailMessage message;
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        std::string_view line = input.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) message.HeaderLines.Add(line);
        start = end + 1;
    }
    try {
        message.InterpretHeaders();
        if (!std::isfinite(message.Date)) __builtin_trap();
    } catch (const kalmuro::EError&) {
        // The conversion, address and time-zone errors are part of the behaviour.
    }
    return 0;
}
