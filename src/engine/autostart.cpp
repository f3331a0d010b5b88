#include "engine/autostart.h"

#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "mail/atomic_file.h"
#include "mail/settings.h"
#include "mail/user_folders.h"

namespace kalmuro {

namespace {

bool ValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t extra = 0;
        if (c < 0x80)
            extra = 0;
        else if (c >= 0xC2 && c <= 0xDF)
            extra = 1;
        else if (c >= 0xE0 && c <= 0xEF)
            extra = 2;
        else if (c >= 0xF0 && c <= 0xF4)
            extra = 3;
        else
            return false;
        if (extra > 0 && i + extra >= s.size()) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        const auto c1 = extra > 0 ? static_cast<unsigned char>(s[i + 1]) : 0;
        // Overlong forms, surrogates and code points past U+10FFFF.
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) ||
            (c == 0xF4 && c1 > 0x8F))
            return false;
        i += extra + 1;
    }
    return true;
}

// A value of a desktop file's string type: a backslash is written doubled.
std::string StringValue(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return std::string(s);
}

constexpr const char* kEntryGroup = "[Desktop Entry]";

}  // namespace

std::string AutostartFilePath() {
    const std::string config = ConfigHome();
    if (config.empty()) return std::string();
    return config + "/autostart/" + kDesktopId + ".desktop";
}

bool AutostartEnabled() {
    const std::string path = AutostartFilePath();
    std::string text;
    if (path.empty() || ReadWholeFile(path, text) != 0) return false;
    bool inEntry = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = Trimmed(std::string_view(text).substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.front() == '[') {
            inEntry = line == kEntryGroup;
            continue;
        }
        const size_t equals = line.find('=');
        if (!inEntry || equals == std::string::npos) continue;
        const std::string key = Trimmed(std::string_view(line).substr(0, equals));
        const std::string value = Trimmed(std::string_view(line).substr(equals + 1));
        if (key == "Hidden" && value == "true") return false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false") return false;
    }
    return true;
}

bool DesktopExecArgument(const std::string& argument, std::string& quoted) {
    quoted.clear();
    if (argument.empty() || !ValidUtf8(argument)) return false;
    for (char c : argument)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    constexpr std::string_view kReserved = " \t\"'\\><~|&;$*?#()`";
    const bool quote = argument.find_first_of(kReserved) != std::string::npos;
    std::string arg;
    for (char c : argument) {
        if (c == '%') {
            // A field code would be expanded by the launcher.
            arg += "%%";
            continue;
        }
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) arg += '\\';
        arg += c;
    }
    quoted = StringValue(quote ? '"' + arg + '"' : arg);
    return true;
}

std::vector<std::string> AutostartCommand() {
    std::vector<std::string> command = {ProgramPath()};
    if (HomeDirGiven()) {
        std::string home = AppDir();
        if (home.size() > 1 && home.back() == '/') home.pop_back();
        command.push_back("--home");
        command.push_back(home);
    }
    return command;
}

bool AutostartEntry(const std::vector<std::string>& command, std::string& text) {
    text.clear();
    if (command.empty() || command[0].empty() || command[0][0] != '/') return false;
    std::string exec;
    for (const std::string& argument : command) {
        std::string quoted;
        if (!DesktopExecArgument(argument, quoted)) return false;
        if (!exec.empty()) exec += ' ';
        exec += quoted;
    }
    text = std::string(kEntryGroup) +
           "\n"
           "Type=Application\n"
           "Name=Quorvane Kalmuro\n"
           "Comment=Controlla le caselle POP3 ed elimina la posta indesiderata prima di "
           "scaricarla\n"
           "Icon=" +
           kDesktopId +
           "\n"
           // A login after the program was removed starts nothing.
           "TryExec=" +
           StringValue(command[0]) +
           "\n"
           "Exec=" +
           exec +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
    return true;
}

int SetAutostart(bool on) {
    const std::string path = AutostartFilePath();
    if (path.empty()) return ENOENT;
    if (!on) return unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
    std::string text;
    if (!AutostartEntry(AutostartCommand(), text)) return EINVAL;
    std::string old;
    if (ReadWholeFile(path, old) == 0 && old == text) return 0;
    if (const int error = MakePrivateFolders(path.substr(0, path.rfind('/'))); error != 0)
        return error;
    return WriteFileAtomically(path, text);
}

}  // namespace kalmuro
