// Runs the built kalmuro as a child process with its output captured, and
// lets a test act on its stderr while it runs (to press Ctrl-C at a chosen
// moment).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace kalmuro::clitest {

struct TRunResult {
    int ExitCode = -1;  // -1 when the child did not exit normally
    std::string Out, Err;

    std::vector<std::string> OutLines() const { return Split(Out); }
    std::vector<std::string> ErrLines() const { return Split(Err); }
    static std::vector<std::string> Split(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = text.find('\n', start);
            if (end == std::string::npos) {
                lines.push_back(text.substr(start));
                break;
            }
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
};

// onErr runs with the stderr gathered so far whenever more arrives, and gets
// the child's pid. The child gets TZ=UTC so that dates print the same
// everywhere, and envChanges on top: "NAME=value" sets, a bare "NAME"
// removes. Gives up (killing the child) after timeoutMs. exe: the program to
// run, the one built beside the tests unless given. onOut runs with the
// stdout gathered so far whenever more arrives.
inline TRunResult RunKalmuro(const std::vector<std::string>& args,
                             const std::function<void(const std::string&, pid_t)>& onErr = {},
                             int timeoutMs = 30000, const std::string& stdinPath = "/dev/null",
                             const std::vector<std::string>& envChanges = {},
                             const std::string& exe = KALMURO_EXE,
                             const std::function<void(const std::string&)>& onOut = {}) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1]}) posix_spawn_file_actions_addclose(&actions, fd);

    std::vector<std::string> argStore = {exe};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore = {"TZ=UTC"};
    const auto changed = [&envChanges](const char* entry) {
        for (const std::string& change : envChanges) {
            const std::string name = change.substr(0, change.find('='));
            if (std::strncmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=')
                return true;
        }
        return false;
    };
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "TZ=", 3) != 0 && !changed(*e)) envStore.emplace_back(*e);
    for (const std::string& change : envChanges)
        if (change.find('=') != std::string::npos) envStore.push_back(change);
    std::vector<char*> envp;
    for (std::string& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        throw std::runtime_error("cannot start " + exe);
    }

    TRunResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool outOpen = true, errOpen = true, killed = false;
    while (outOpen || errOpen) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        if (poll(fds, 2, 100) < 0) continue;
        char buffer[4096];
        if (outOpen && (fds[0].revents & (POLLIN | POLLHUP)) != 0) {
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                outOpen = false;
            else {
                result.Out.append(buffer, static_cast<size_t>(n));
                if (onOut) onOut(result.Out);
            }
        }
        if (errOpen && (fds[1].revents & (POLLIN | POLLHUP)) != 0) {
            const ssize_t n = read(err[0], buffer, sizeof buffer);
            if (n <= 0) {
                errOpen = false;
            } else {
                result.Err.append(buffer, static_cast<size_t>(n));
                if (onErr) onErr(result.Err, pid);
            }
        }
        if (!killed && std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            killed = true;
        }
    }
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) result.ExitCode = WEXITSTATUS(status);
    return result;
}

}  // namespace kalmuro::clitest
