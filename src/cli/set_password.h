// kalmuro --set-password N [--home DIR]: the password of account N (the n of
// its keys in kalmuro.ini), read from standard input, stored where the
// settings keep passwords: the desktop's keyring or the file, scrambled.
#pragma once

#include <cstdint>
#include <string>

namespace kalmuro {

// Exit status: 0 stored, 1 not stored (the reason on stderr).
int RunSetPassword(int32_t number, const std::string& home);

}  // namespace kalmuro
