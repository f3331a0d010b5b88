// Peak memory of the engine against a POP3 server that sends one large,
// legitimate message, and against servers that never end an answer.
//
//   bench_memory [--megabytes N] [--seconds S]
//
// A server process serves one mailbox; every measured operation runs in a
// child process of its own (a check, then the operation), whose peak resident
// size is read when it ends. Prints one line per operation:
//   op=<name> message_bytes=B baseline_kb=K peak_kb=P growth_ratio=R status=...
// growth_ratio is (peak - resident size after the check) / message size.
// The endless answers are cut off after S seconds (default 10).
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/form_main.h"
#include "engine/screen.h"
#include "mail/accounts.h"
#include "mail/settings.h"

namespace {

using namespace kalmuro;

long StatusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
    return -1;
}

// ------------------------------------------------------------------ server

enum class TServe { Legit, EndlessTop, EndlessRetr, EndlessContinuation };

bool SendAll(int fd, const std::string& s) {
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n = send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool RecvLine(int fd, std::string& pending, std::string& line) {
    for (;;) {
        const size_t lf = pending.find('\n');
        if (lf != std::string::npos) {
            line = pending.substr(0, lf);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            pending.erase(0, lf + 1);
            return true;
        }
        char buf[4096];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        pending.append(buf, static_cast<size_t>(n));
    }
}

void Flood(int fd, const std::string& unit) {
    std::string block;
    while (block.size() < 65536) block += unit;
    while (SendAll(fd, block)) {
    }
}

void Serve(int fd, TServe mode, const std::string& header, const std::string& wire,
           size_t size) {
    std::string pending, line;
    SendAll(fd, "+OK ready\r\n");
    while (RecvLine(fd, pending, line)) {
        const std::string command = line.substr(0, 4);
        if (command == "QUIT") {
            SendAll(fd, "+OK bye\r\n");
            return;
        }
        if (command == "STAT") {
            if (mode == TServe::EndlessContinuation) {
                SendAll(fd, "+OK-\r\n");
                Flood(fd, "+OK-more\r\n");
                return;
            }
            SendAll(fd, "+OK 1 " + std::to_string(size) + "\r\n");
        } else if (command == "LIST") {
            SendAll(fd, "+OK 1 " + std::to_string(size) + "\r\n");
        } else if (command == "UIDL") {
            SendAll(fd, "+OK 1 big-1\r\n");
        } else if (command == "TOP ") {
            SendAll(fd, "+OK\r\n" + header);
            if (mode == TServe::EndlessTop) {
                Flood(fd, "X-Filler: " + std::string(70, 'h') + "\r\n");
                return;
            }
            SendAll(fd, "\r\n.\r\n");
        } else if (command == "RETR") {
            if (mode == TServe::EndlessRetr) {
                SendAll(fd, "+OK\r\n" + header + "\r\n");
                Flood(fd, std::string(76, 'b') + "\r\n");
                return;
            }
            SendAll(fd, "+OK\r\n");
            SendAll(fd, wire);
        } else {
            SendAll(fd, "+OK\r\n");  // USER, PASS, DELE
        }
    }
}

// Forks a server for the mode; returns its pid and the port.
pid_t StartServer(TServe mode, size_t megabytes, int& port) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener, 16);
    socklen_t len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    const pid_t pid = fork();
    if (pid != 0) {
        close(listener);
        return pid;
    }
    const std::string header =
        "From: Archivio <archivio@example.org>\r\nSubject: Allegato grande\r\n"
        "Date: Mon, 5 Mar 2007 14:09:00 +0000\r\nMessage-ID: <big@example.org>\r\n";
    std::string wire;
    if (mode == TServe::Legit) {
        // A base64 attachment: 76-character lines.
        const size_t target = megabytes * 1024 * 1024;
        wire.reserve(target + 1024);
        wire = header + "\r\n";
        const std::string body = std::string(76, 'Q') + "\r\n";
        while (wire.size() + body.size() <= target) wire += body;
    }
    const size_t size = wire.size();
    wire += ".\r\n";
    for (;;) {
        const int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        Serve(fd, mode, header, wire, size);
        close(fd);
    }
}

// ------------------------------------------------------------------ client

class TQuietScreen : public TWindowlessScreen {
public:
    std::string SaveTo;
    size_t ViewerBytes = 0;
    void SetStatusText(const std::string&) override {}
    void PumpMessages() override {}
    int32_t ShowMsgBox(const std::string& message, const std::string&, int32_t buttons, int32_t,
                       int32_t) override {
        if (buttons == mbYesNo) return mrYes;
        std::fprintf(stderr, "box: %s\n", message.c_str());
        return mrOk;
    }
    void ShowMessageViewer(const std::string&, const std::string& text) override {
        ViewerBytes = text.size();
    }
    bool ExecuteSaveDialog(const TSaveDialogRequest&, std::string& chosen) override {
        chosen = SaveTo;
        return true;
    }
    std::string DocumentsFolder() override { return "/tmp"; }
    bool IsShiftDown() override { return false; }
    bool OpenWithShell(const std::string&, const std::string&, bool) override { return true; }
};

// Runs in the child: a check, then the operation. Writes the resident size
// after the check to the pipe.
void RunClient(const std::string& op, const std::string& home, int port, int pipeFd) {
    SetHomeDir(home);
    TMailAccount account;
    account.AccountName = "Bench";
    account.PopServer = "127.0.0.1";
    account.UserId = "bench";
    account.UserPwd = "bench";
    account.Port = std::to_string(port);
    SaveAccounts({account});
    WriteIniBool(kSectionSetup, "CopyToRecycle", true);
    TQuietScreen screen;
    screen.SaveTo = home + "/saved.eml";
    TFormMain form(screen);
    form.LoadSettings();
    form.FormShow();
    const long before = StatusKb("VmRSS");
    if (op != "endless_top" && op != "endless_continuation") form.CheckMail(TAutoDeletion::Never);
    const long baseline = op.rfind("endless", 0) == 0 ? before : StatusKb("VmRSS");
    (void)!write(pipeFd, &baseline, sizeof baseline);
    if (op == "view" || op == "endless_retr") {
        form.SetHighlightedRow(0);
        form.Visualizzamessaggio1Click();
    } else if (op == "save") {
        form.SetHighlightedRow(0);
        form.Salva1Click();
    } else if (op == "copy") {
        form.SetRowChecked(0, true);
        form.DeleteSelectedMessages();
    } else {
        form.CheckMail(TAutoDeletion::Never);
    }
}

void Measure(const std::string& op, TServe mode, size_t megabytes, int seconds) {
    int port = 0;
    const pid_t server = StartServer(mode, megabytes, port);
    sleep(mode == TServe::Legit ? 3 : 1);  // the server builds its message
    char dir[] = "/tmp/bench_memory.XXXXXX";
    const std::string home = mkdtemp(dir);
    int fds[2];
    (void)!pipe(fds);
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        alarm(static_cast<unsigned>(seconds));  // the cut-off for endless answers
        RunClient(op, home, port, fds[1]);
        _exit(0);
    }
    close(fds[1]);
    long baseline = -1;
    (void)!read(fds[0], &baseline, sizeof baseline);
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    kill(server, SIGKILL);
    waitpid(server, nullptr, 0);
    const std::string size =
        mode == TServe::Legit ? std::to_string(static_cast<long long>(megabytes) * 1024 * 1024) : "0";
    const long peak = usage.ru_maxrss;
    const double message = static_cast<double>(megabytes) * 1024 * 1024;
    std::printf("op=%s message_bytes=%s baseline_kb=%ld peak_kb=%ld growth_kb=%ld",
                op.c_str(), size.c_str(), baseline, peak, peak - baseline);
    if (mode == TServe::Legit)
        std::printf(" growth_ratio=%.2f peak_ratio=%.2f", (peak - baseline) * 1024.0 / message,
                    peak * 1024.0 / message);
    std::printf(" status=%s\n", WIFSIGNALED(status) ? "cut_off" : "ended");
    std::fflush(stdout);
    (void)!std::system(("rm -rf " + home).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    size_t megabytes = 200;
    int seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--megabytes") == 0) megabytes = std::strtoul(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::atoi(argv[i + 1]);
    }
    Measure("view", TServe::Legit, megabytes, 600);
    Measure("save", TServe::Legit, megabytes, 600);
    Measure("copy", TServe::Legit, megabytes, 600);
    Measure("endless_top", TServe::EndlessTop, 0, seconds);
    Measure("endless_retr", TServe::EndlessRetr, 0, seconds);
    Measure("endless_continuation", TServe::EndlessContinuation, 0, seconds);
    return 0;
}
