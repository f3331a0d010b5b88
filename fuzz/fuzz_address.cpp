// A From or To value (untrusted): one address and a list of them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mail/mime/email_address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    kalmuro::TEmailAddress address;
    try {
        address.SetText(input);
        // Nothing is invented: the parts come from the input.
        if (address.Name.size() + address.Address.size() > input.size()) __builtin_trap();
    } catch (const kalmuro::EEmailParseError&) {
    }
    kalmuro::TEmailAddressList list;
    try {
        kalmuro::ParseAddressList(input, list);
    } catch (const kalmuro::EEmailParseError&) {
    }
    return 0;
}
