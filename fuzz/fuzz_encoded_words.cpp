// Encoded words in a header value (untrusted).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "mail/errors.h"
#include "mail/mime/encoded_words.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (const bool utf8 : {false, true}) {
        try {
            const std::string out = kalmuro::DecodeEncodedWords(input, utf8);
            // Every decoding is shorter than its word, and NULs are removed.
            if (out.size() > input.size()) __builtin_trap();
            if (out.find('\0') != std::string::npos) __builtin_trap();
        } catch (const kalmuro::EConvertError&) {
            // A bad Q escape in an ISO or WINDOWS word (UTF-8 words never raise).
        }
    }
    return 0;
}
