#include "set_password.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

#include "engine/check_report.h"
#include "mail/settings.h"
#include "mail/text.h"
#include "secrets/account_secrets.h"

namespace kalmuro {

namespace {

// One line of standard input, without its line end. On a terminal the
// characters are not echoed, and a prompt goes to stderr.
bool ReadPasswordLine(std::string& line) {
    const bool terminal = isatty(STDIN_FILENO) == 1;
    termios saved{};
    bool quiet = false;
    if (terminal && tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet = tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent) == 0;
        std::fputs("Password: ", stderr);
        std::fflush(stderr);
    }
    int c;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
        any = true;
        if (c == '\n') break;
        line += static_cast<char>(c);
    }
    if (quiet) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

void Fail(const std::string& text) {
    std::fprintf(stderr, "%s\n", TerminalText(MsgBoxLine("kalmuro", text)).c_str());
}

}  // namespace

int RunSetPassword(int32_t number, const std::string& home) {
    if (!home.empty()) SetHomeDir(home);
    std::string password;
    if (!ReadPasswordLine(password)) {
        Fail("nessuna password sullo standard input");
        return 1;
    }
    // Stored as the program keeps every text: Windows-1252, trimmed as a
    // load would trim it.
    password = Trim(Utf8ToCp1252(password));
    try {
        std::string name;
        const bool keyring = SetStoredPassword(number, password, &name);
        const std::string where = keyring ? "nel portachiavi del sistema" : "in " + IniFileName();
        std::printf("%s\n", TerminalText("Password dell'account " + std::to_string(number) + " (" +
                                         name + ") salvata " + where)
                                .c_str());
        return 0;
    } catch (const std::invalid_argument& e) {
        Fail(std::string(e.what()) + " in " + IniFileName());
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    return 1;
}

}  // namespace kalmuro
