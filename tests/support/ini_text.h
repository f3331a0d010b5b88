// The settings file as a test compares it: every "UserPwdN=<hex>" value is
// shown as "<password>" once it is checked to be the scrambled form of that
// password. The scrambling draws random filler digits, so this is how a test
// compares the rest of the file byte for byte.
#pragma once

#include <string>

#include "mail/accounts.h"

namespace kalmuro::testing {

inline std::string WithPasswordsShown(const std::string& content) {
    std::string out;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find("\r\n", start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        if (line.rfind("UserPwd", 0) == 0 && line.find('=') != std::string::npos) {
            const size_t eq = line.find('=');
            const std::string hex = line.substr(eq + 1);
            const std::string plain = UnscrambleText(PasswordKey, HexDecode(hex));
            const bool valid = hex.find_first_not_of("0123456789ABCDEF") == std::string::npos &&
                               hex.size() == plain.size() * 2 + 20;
            line = line.substr(0, eq + 1) +
                   (valid ? "<" + plain + ">" : "<not scrambled: " + hex + ">");
        }
        out += line;
        if (end < content.size()) out += "\r\n";
        start = end + 2;
    }
    return out;
}

}  // namespace kalmuro::testing
