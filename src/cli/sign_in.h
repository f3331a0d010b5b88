// kalmuro --sign-in N [--home DIR]: the first tokens of OAuth account N
// without a display. The device-code flow where the provider offers it (the
// address and the code to enter are printed), otherwise the authorization
// address is printed and the loopback redirect awaited, as the window does.
#pragma once

#include <cstdint>
#include <string>

namespace kalmuro {

// Exit status: 0 signed in and the tokens stored, 1 not (the reason on stderr).
int RunSignIn(int32_t number, const std::string& home);

}  // namespace kalmuro
