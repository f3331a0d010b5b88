#include "engine/message_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "mail/atomic_file.h"
#include "mail/settings.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

// The largest suffix number tried before giving up.
constexpr int kMaxSuffix = 1000000;

}  // namespace

std::string RecycleFolder() { return IncludeBackslash(DataDir()) + kRecycleFolderName; }

std::string MessageFileContent(const std::vector<std::string>& lines) {
    return JoinLinesCrLf(lines);
}

bool FolderExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

int WriteNewMessageFile(const std::string& folder, const std::string& baseName,
                        std::string_view content, std::string& path, size_t minimumNameLength) {
    // Written and flushed once; only the name is looked for afterwards.
    std::string tempPath;
    const int written = WriteTemporaryFile(folder.empty() ? "." : folder, content, tempPath);
    if (written != 0) return written;
    std::string base = baseName;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    int error = EEXIST;
    for (int number = 1; number <= kMaxSuffix; ++number) {
        const std::string suffix = number == 1 ? std::string() : '_' + std::to_string(number);
        path = prefix + Cp1252ToUtf8(base) + suffix + ".eml";
        error = LinkNewName(tempPath, path);
        if (error == ENAMETOOLONG && base.size() > minimumNameLength) {
            // Shorter and shorter until the file system takes it; the same
            // suffix is tried again with the shorter name.
            base.resize(std::max(minimumNameLength, base.size() / 2));
            --number;
            continue;
        }
        if (error != EEXIST) break;
    }
    unlink(tempPath.c_str());
    return error;
}

}  // namespace kalmuro
