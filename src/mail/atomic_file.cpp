#include "mail/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <random>
#include <set>

namespace kalmuro {

namespace {

long long& WriteFailureAfter() {
    static long long afterBytes = -1;
    return afterBytes;
}

// The file a write must replace: a symbolic link is followed so that the link
// itself survives the rename.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;  // dangling link: replace the link itself
    std::string resolved(real);
    free(real);
    return resolved;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Temporary files are ".kalmuro-<pid>-<number>.tmp": hidden, never taken for
// a message file (".eml") or a list, and the pid tells a leftover of a killed
// run from a file another running copy is still writing.
constexpr const char* kTempPrefix = ".kalmuro-";
constexpr const char* kTempSuffix = ".tmp";

// A leftover whose process still seems to run is older than any write
// takes: its number has gone to another program since.
constexpr time_t kLeftoverAgeSeconds = 24 * 60 * 60;

void SweepTemporaries(const std::string& folder, bool ownAreStale) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    const std::string prefix = kTempPrefix;
    const std::string suffix = kTempSuffix;
    const time_t now = time(nullptr);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() <= prefix.size() + suffix.size() || name.rfind(prefix, 0) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (pid <= 0 || end == nullptr || *end != '-') continue;
        bool stale = kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
        // A process whose number a killed one had (a container starts each
        // run with the same) sees its own number on a leftover.
        if (!stale && ownAreStale && pid == static_cast<long>(getpid())) stale = true;
        if (!stale) {
            struct stat st {};
            stale = fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISREG(st.st_mode) && now - st.st_mtime > kLeftoverAgeSeconds;
        }
        if (stale) unlinkat(dirfd(dir), name.c_str(), 0);
    }
    closedir(dir);
}

// The first write of a run into a folder sweeps it; only an earlier run can
// have left anything there by then.
void SweepOnce(const std::string& folder) {
    static std::mutex guard;
    static std::set<std::string> cleaned;
    {
        const std::lock_guard<std::mutex> lock(guard);
        if (!cleaned.insert(folder).second) return;
    }
    SweepTemporaries(folder, false);
}

// Opens a fresh private file in folder; O_EXCL keeps it from reusing anything.
int CreateTemporary(const std::string& folder, std::string& tempPath) {
    SweepOnce(folder);
    static std::mt19937_64 names{std::random_device{}()};
    const std::string prefix = (folder == "/" ? std::string() : folder) + "/" + kTempPrefix +
                               std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = prefix + std::to_string(names() % 1000000000ull) + kTempSuffix;
        const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

int WriteAll(int fd, std::string_view content) {
    size_t done = 0;
    long long limit = WriteFailureAfter();
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
// say EINVAL; the data itself is on disk by then.
int SyncFolder(const std::string& folder) {
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return errno;
    int error = 0;
    if (fsync(dir) != 0 && errno != EINVAL) error = errno;
    close(dir);
    return error;
}

int& ReadFailure() {
    static int errorNumber = 0;
    return errorNumber;
}

}  // namespace

int WriteFileAtomically(const std::string& path, std::string_view content) {
    const std::string target = ResolveTarget(path);
    struct stat old {};
    const bool hadFile = stat(target.c_str(), &old) == 0;
    if (hadFile && S_ISDIR(old.st_mode)) return EISDIR;
    // The rename below needs only the folder's permission, so a file the user
    // made read-only would be replaced anyway: refuse it as a write into the
    // file itself would be refused. A file with no write bit at all is
    // read-only for every user, root included.
    if (hadFile) {
        if ((old.st_mode & 0222) == 0) return EACCES;
        if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return errno;
    }

    std::string tempPath;
    const int fd = CreateTemporary(FolderOf(target), tempPath);
    if (fd < 0) return errno;

    int error = 0;
    if (hadFile) {
        // Keep the old file's permissions; owner only matters when we may change it.
        if (fchmod(fd, old.st_mode & 07777) != 0) error = errno;
        if (error == 0 && (old.st_uid != geteuid() || old.st_gid != getegid()))
            (void)!fchown(fd, old.st_uid, old.st_gid);
    }
    if (error == 0) error = WriteAll(fd, content);
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(tempPath.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(tempPath.c_str());
        return error;
    }
    // Make the rename itself durable; a failure here loses nothing already written.
    (void)SyncFolder(FolderOf(target));
    return 0;
}

int WriteTemporaryFile(const std::string& folder, std::string_view content,
                       std::string& tempPath) {
    const int fd = CreateTemporary(folder, tempPath);
    if (fd < 0) return errno;
    int error = WriteAll(fd, content);
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error != 0) unlink(tempPath.c_str());
    return error;
}

int LinkNewName(const std::string& tempPath, const std::string& path) {
    // link fails with EEXIST where rename would replace.
    if (link(tempPath.c_str(), path.c_str()) != 0) {
        const int error = errno;
        // File systems without hard links can still rename without replacing.
        if (error != EPERM && error != EOPNOTSUPP && error != ENOSYS) return error;
        if (renameat2(AT_FDCWD, tempPath.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0)
            return errno;
    }
    const int error = SyncFolder(FolderOf(path));
    if (error != 0) unlink(path.c_str());  // ours, and not known to be durable
    return error;
}

int WriteNewFile(const std::string& path, std::string_view content) {
    std::string tempPath;
    int error = WriteTemporaryFile(FolderOf(path), content, tempPath);
    if (error != 0) return error;
    error = LinkNewName(tempPath, path);
    unlink(tempPath.c_str());
    return error;
}

int ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    if (ReadFailure() != 0) {
        close(fd);
        return ReadFailure();
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            close(fd);
            content.clear();
            return error;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return 0;
}

void RemoveStaleTemporaries(const std::string& folder) { SweepTemporaries(folder, true); }

void SetWriteFailureForTesting(long long afterBytes) { WriteFailureAfter() = afterBytes; }

void SetReadFailureForTesting(int errorNumber) { ReadFailure() = errorNumber; }

}  // namespace kalmuro
