#include "mail/user_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "mail/atomic_file.h"

#ifndef KALMURO_INSTALL_BINDIR
#define KALMURO_INSTALL_BINDIR "/usr/local/bin"
#endif

namespace kalmuro {

namespace {

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

std::string ProgramDir() {
    const std::string path = ProgramPath();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Moves one file without ever replacing one: a hard link is atomic and
// refuses an existing name; across file systems the content is copied
// whole first. 0, or the errno of the failure.
int MoveWithoutReplacing(const std::string& from, const std::string& to) {
    if (link(from.c_str(), to.c_str()) == 0) return unlink(from.c_str()) == 0 ? 0 : errno;
    if (errno != EXDEV && errno != EPERM && errno != EOPNOTSUPP) return errno;
    std::string content;
    if (const int error = ReadWholeFile(from, content); error != 0) return error;
    if (const int error = WriteNewFile(to, content); error != 0) return error;
    return unlink(from.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string ProgramPath() {
    std::string buffer(PATH_MAX, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return std::string();
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

std::string BaseFolder(const char* value, const std::string& home, const char* fallback) {
    if (value != nullptr && value[0] == '/') return value;
    if (home.empty() || home[0] != '/') return std::string();
    return WithSlash(home) + fallback;
}

TFolderChoice ChooseFolders(const std::string& programDir, bool programDirWritable,
                            const std::string& installBinDir, const char* xdgConfigHome,
                            const char* xdgDataHome, const std::string& home) {
    TFolderChoice beside{WithSlash(programDir), WithSlash(programDir), false};
    const bool installed =
        !programDirWritable || (!installBinDir.empty() && WithSlash(installBinDir) == beside.Config);
    if (!installed) return beside;
    const std::string config = BaseFolder(xdgConfigHome, home, ".config");
    const std::string data = BaseFolder(xdgDataHome, home, ".local/share");
    if (config.empty() || data.empty()) return beside;
    return {WithSlash(config) + "kalmuro/", WithSlash(data) + "kalmuro/", true};
}

std::string UserHome() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    const passwd* entry = getpwuid(getuid());
    if (entry != nullptr && entry->pw_dir != nullptr && entry->pw_dir[0] == '/')
        return entry->pw_dir;
    return std::string();
}

std::string ConfigHome() { return BaseFolder(std::getenv("XDG_CONFIG_HOME"), UserHome(), ".config"); }

const TFolderChoice& DefaultFolders() {
    static const TFolderChoice choice = [] {
        const std::string dir = ProgramDir();
        return ChooseFolders(dir, access(dir.c_str(), W_OK) == 0, KALMURO_INSTALL_BINDIR,
                             std::getenv("XDG_CONFIG_HOME"), std::getenv("XDG_DATA_HOME"),
                             UserHome());
    }();
    return choice;
}

int MakePrivateFolders(const std::string& path) {
    if (path.empty()) return ENOENT;
    // Level by level from the top, so that each one made is private too.
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        const std::string level = path.substr(0, at);
        if (level.empty() || level.back() == '/') continue;
        if (mkdir(level.c_str(), 0700) == 0) continue;
        if (errno != EEXIST) return errno;
        if (!IsFolder(level)) return ENOTDIR;
    }
    return 0;
}

std::vector<std::string> MoveEarlierFiles(const std::string& from, const std::string& to,
                                          const std::vector<std::string>& names) {
    std::vector<std::string> left;
    const std::string source = WithSlash(from), target = WithSlash(to);
    if (source == target || !IsFolder(source)) return left;
    for (const std::string& name : names) {
        struct stat st {};
        if (lstat((source + name).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
        if (MoveWithoutReplacing(source + name, target + name) != 0) left.push_back(name);
    }
    return left;
}

}  // namespace kalmuro
