// One run of the program's own check and deletion against the accounts of a
// settings home, timed from inside: the check of every active account as the
// headless check runs it, then with --delete 1 the deletion of the ticked
// (blocked) messages, timed on its own: from the command to the start of the
// check that follows every deletion.
//
//   bench_session --home DIR [--delete 1]
//
// Prints "check_s=S rows=N ticked=T" and, with --delete 1, then
// "delete_s=S deleted=D left=L". A message box (an error) is printed on
// stderr and makes the exit status 1.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/form_main.h"
#include "mail/settings.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace kalmuro;

// Draws nothing; notes the boxes and when a check starts.
class TBenchScreen : public TWindowlessScreen {
public:
    int Boxes = 0;
    bool SawCheckStart = false;
    Clock::time_point CheckStart;

    void SetStatusText(const std::string&) override {}
    void PumpMessages() override {}
    int32_t ShowMsgBox(const std::string& message, const std::string& title, int32_t buttons,
                       int32_t, int32_t) override {
        ++Boxes;
        std::fprintf(stderr, "box: %s: %s\n", title.c_str(), message.c_str());
        return buttons == mbOk ? mrOk : buttons == mbYesNo ? mrNo : mrCancel;
    }
    // A check marks the lists busy first thing.
    void SetListsBusy(bool busy) override {
        if (busy && !SawCheckStart) {
            SawCheckStart = true;
            CheckStart = Clock::now();
        }
    }
    void ShowMessageViewer(const std::string&, const std::string&) override {}
    bool ExecuteSaveDialog(const TSaveDialogRequest&, std::string&) override { return false; }
    std::string DocumentsFolder() override { return std::string(); }
    bool IsShiftDown() override { return false; }
    bool OpenWithShell(const std::string&, const std::string&, bool) override { return false; }
};

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

[[noreturn]] void Usage() {
    std::fprintf(stderr, "usage: bench_session --home DIR [--delete 1]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::string home;
    bool deletion = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--home") == 0)
            home = argv[i + 1];
        else if (std::strcmp(argv[i], "--delete") == 0)
            deletion = std::strcmp(argv[i + 1], "1") == 0;
        else
            Usage();
    }
    if (home.empty() || argc % 2 == 0) Usage();
    SetHomeDir(home);
    TBenchScreen screen;
    TFormMain form(screen);
    form.AskToAcceptCertificates = false;
    try {
        form.LoadSettings();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_session: %s\n", e.what());
        return 1;
    }
    form.FormShow();
    if (form.Accounts.empty()) {
        std::fprintf(stderr, "bench_session: no account in %s\n", home.c_str());
        return 1;
    }

    const Clock::time_point checkStart = Clock::now();
    form.CheckMail(TAutoDeletion::Never);
    const Clock::time_point checkEnd = Clock::now();
    std::printf("check_s=%.4f rows=%zu ticked=%d\n", Seconds(checkStart, checkEnd),
                form.List().Rows.size(), form.CountCheckedMessages());
    if (deletion) {
        const size_t before = form.Messages.size();
        screen.SawCheckStart = false;
        const Clock::time_point deleteStart = Clock::now();
        form.DeleteBlockedMessages();
        if (!screen.SawCheckStart) {
            std::fprintf(stderr, "bench_session: no check followed the deletion\n");
            return 1;
        }
        std::printf("delete_s=%.4f deleted=%zu left=%zu\n",
                    Seconds(deleteStart, screen.CheckStart), before - form.Messages.size(),
                    form.Messages.size());
    }
    std::fflush(stdout);
    return screen.Boxes > 0 ? 1 : 0;
}
