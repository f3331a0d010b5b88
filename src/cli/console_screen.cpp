#include "console_screen.h"

#include <signal.h>

#include <atomic>

#include "engine/check_report.h"
#include "engine/form_main.h"

namespace kalmuro {

namespace {

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) { gInterrupted.store(true); }

}  // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // The first Ctrl-C asks politely; the handler then reverts to the
    // default, so a second one ends a program stuck in a long wait.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}

void TConsoleScreen::SetStatusText(const std::string& text) {
    if (FVerbose && !text.empty()) std::fprintf(FErr, "%s\n", TerminalText(text).c_str());
}

void TConsoleScreen::PumpMessages() {
    // A Ctrl-C that comes before the check has shown its Stop button waits
    // for it: showing the button clears the flag it would have set.
    if (FForm != nullptr && FForm->StopButtonVisible() && gInterrupted.exchange(false))
        FForm->BitBtnStopClick();
}

int32_t TConsoleScreen::ShowMsgBox(const std::string& message, const std::string& title,
                                   int32_t buttons, int32_t, int32_t) {
    ++FBoxes;
    std::fprintf(FErr, "%s\n", MsgBoxLine(title, message).c_str());
    std::fflush(FErr);
    // Nobody is there to answer: every box takes its cancel button.
    switch (buttons) {
        case mbOk:
            return mrOk;
        case mbYesNo:
            return mrNo;
        default:
            return mrCancel;
    }
}

}  // namespace kalmuro
