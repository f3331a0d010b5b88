#include "engine/message_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "mail/settings.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

long long& WriteFailureAfter() {
    static long long afterBytes = -1;
    return afterBytes;
}

int WriteAll(int fd, std::string_view content) {
    const long long limit = WriteFailureAfter();
    size_t done = 0;
    while (done < content.size()) {
        size_t chunk = content.size() - done;
        if (limit >= 0) {
            if (static_cast<long long>(done) >= limit) return EIO;
            chunk = std::min<size_t>(chunk, static_cast<size_t>(limit) - done);
        }
        const ssize_t n = write(fd, content.data() + done, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    if (limit >= 0 && static_cast<long long>(content.size()) > limit) return EIO;
    return 0;
}

// Makes a new folder entry durable. File systems that cannot flush a folder
// say EINVAL; that is no reason to keep a message on the server.
int SyncFolder(const std::string& folder) {
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return errno;
    int error = 0;
    if (fsync(dir) != 0 && errno != EINVAL) error = errno;
    close(dir);
    return error;
}

// The largest suffix number tried before giving up.
constexpr int kMaxSuffix = 1000000;

}  // namespace

std::string RecycleFolder() { return IncludeBackslash(AppDir()) + kRecycleFolderName; }

std::string MessageFileContent(const std::vector<std::string>& lines) {
    size_t size = 0;
    for (const std::string& line : lines) size += line.size() + 2;
    std::string content;
    content.reserve(size);
    for (const std::string& line : lines) {
        content += line;
        content += "\r\n";
    }
    return content;
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
    std::string base = baseName;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    int fd = -1;
    for (int number = 1; fd < 0; ++number) {
        if (number > kMaxSuffix) return EEXIST;
        const std::string suffix = number == 1 ? std::string() : "_" + std::to_string(number);
        path = prefix + Cp1252ToUtf8(base) + suffix + ".eml";
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) break;
        if (errno == ENAMETOOLONG && base.size() > minimumNameLength) {
            // Shorter and shorter until the file system takes it; the same
            // suffix is tried again with the shorter name.
            base.resize(std::max(minimumNameLength, base.size() / 2));
            --number;
            continue;
        }
        if (errno != EEXIST) return errno;
    }
    int error = WriteAll(fd, content);
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0) error = SyncFolder(prefix.empty() ? "." : prefix);
    if (error != 0) unlink(path.c_str());
    return error;
}

void SetMessageFileWriteFailureForTesting(long long afterBytes) {
    WriteFailureAfter() = afterBytes;
}

}  // namespace kalmuro
