// The screen of the headless check: message boxes go to stderr as one line
// each and are answered at once, status texts follow them with --verbose,
// everything that only a window would draw is dropped. Ctrl-C stands for
// the Stop button.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/screen.h"

namespace kalmuro {

class TFormMain;

// Installs the SIGINT handler: it only sets a flag, which PumpMessages
// turns into a click on Stop. A second Ctrl-C ends the program as usual.
void InstallInterruptHandler();

class TConsoleScreen : public TWindowlessScreen {
public:
    TConsoleScreen(std::FILE* err, bool verbose) : FErr(err), FVerbose(verbose) {}

    // The window whose Stop button Ctrl-C presses.
    void Attach(TFormMain* form) { FForm = form; }
    int32_t BoxesShown() const { return FBoxes; }

    void SetStatusText(const std::string& text) override;
    void PumpMessages() override;
    int32_t ShowMsgBox(const std::string& message, const std::string& title, int32_t buttons,
                       int32_t icon, int32_t focusedButton) override;
    // Nobody reads a viewer or picks a file here.
    void ShowMessageViewer(const std::string&, const std::string&) override {}
    bool ExecuteSaveDialog(const TSaveDialogRequest&, std::string&) override { return false; }
    std::string DocumentsFolder() override { return std::string(); }
    bool IsShiftDown() override { return false; }
    // There is no desktop to hand anything to.
    bool OpenWithShell(const std::string&, const std::string&, bool) override { return false; }

private:
    std::FILE* FErr;
    bool FVerbose;
    TFormMain* FForm = nullptr;
    int32_t FBoxes = 0;
};

}  // namespace kalmuro
