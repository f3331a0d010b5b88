// The one seam between the main window's behaviour and whatever draws it.
// The engine decides every text, state and colour; a screen only shows them
// and reports what the user does. The desktop window, the headless check and
// the tests each implement it.
//
// Every call comes from the one thread that runs the engine. A screen may run
// engine handlers nested inside PumpMessages and ShowMsgBox (a click on Stop,
// a tick on a row, a timer); the engine's flags keep two long operations
// apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kalmuro {

// The enabled state of the four main commands. The tray items "Controlla
// posta" and "Info su..." follow Check and Info.
struct TCommandState {
    bool Check = false;
    bool Delete = false;
    bool Setup = false;
    bool Info = false;
    bool operator==(const TCommandState&) const = default;
};

// One item of the mailbox list: its caption and the account index it stands
// for, -1 for all accounts.
struct TMailboxItem {
    std::string Caption;
    int32_t AccountIndex = -1;
    bool operator==(const TMailboxItem&) const = default;
};

// What the file-save dialog is opened with. Title and Filter are texts to
// show (Windows-1252); the paths are the file system's own bytes.
struct TSaveDialogRequest {
    std::string Title;
    std::string Filter;      // "description|pattern"
    std::string DefaultExt;  // without the dot
    std::string InitialDir;
    std::string FileName;  // proposed name, without folder
};

// The main window's bounds in pixels: position of its frame, size of its
// inside.
struct TWindowBounds {
    int32_t Left = 0, Top = 0, Width = 0, Height = 0;
    bool operator==(const TWindowBounds&) const = default;
};

// Button sets and icon kinds of the message box.
enum TMsgBoxButtons : int32_t { mbOk = 0, mbOkCancel = 1, mbYesNo = 2, mbYesNoCancel = 3 };
enum TMsgBoxIcon : int32_t { miQuestion = 0, miWarning = 1, miInformation = 2 };
// Result codes of the message box buttons.
enum TMsgBoxResult : int32_t { mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

class TScreen {
public:
    virtual ~TScreen() = default;

    // The status bar's one text; the engine pumps right after setting it.
    virtual void SetStatusText(const std::string& text) = 0;
    // Handles whatever input, paint and timer events are waiting, then
    // returns. Handlers of the engine may run inside.
    virtual void PumpMessages() = 0;

    // A modal box. `message` still holds its two-character "\n" markers;
    // the screen turns them into line breaks. Returns the result code of the
    // button pressed, mrCancel when the box was closed otherwise.
    virtual int32_t ShowMsgBox(const std::string& message, const std::string& title,
                               int32_t buttons, int32_t icon, int32_t focusedButton) = 0;

    // The tray balloon; an empty text removes one that is still on show.
    virtual void ShowBalloon(const std::string& title, const std::string& text,
                             int32_t timeoutMs) = 0;

    virtual void SetCommandState(const TCommandState& state) = 0;
    virtual void SetStopButton(bool visible, bool enabled) = 0;
    // The caption of the delete command; may hold a "\n" marker.
    virtual void SetDeleteCaption(const std::string& caption) = 0;
    // The automatic-check timer: (re)armed with this interval when enabled,
    // stopped otherwise. Re-arming restarts the interval.
    virtual void SetAutoCheckTimer(bool enabled, int32_t intervalMs) = 0;
    // The one-shot start timer, 1000 ms: started at the window's first
    // showing, stopped when it fires.
    virtual void SetStartTimer(bool enabled) = 0;
    // Whether the main window is on screen rather than hidden in the tray.
    virtual bool MainWindowVisible() = 0;
    // Hides the window into the tray, or brings it back in front.
    virtual void ToggleMainWindow() = 0;

    // The mailbox list: its items, the highlighted one (-1: none) and
    // whether its panel is shown.
    virtual void SetMailboxes(const std::vector<TMailboxItem>& items, int32_t highlighted,
                              bool panelVisible) = 0;
    // While a check runs both lists are drawn in the button-face colour and
    // the mailbox list takes no input.
    virtual void SetListsBusy(bool busy) = 0;

    // The rows of the message list live in the engine; these calls let a view
    // follow them. RowsReset: every row is gone (and the highlight with
    // them). RowsAppended: rows first..first+count-1 are new. RowChanged: a
    // row's tick changed. RowsRepaint: colours may have changed.
    virtual void RowsReset() = 0;
    virtual void RowsAppended(int32_t first, int32_t count) = 0;
    virtual void RowChanged(int32_t row) = 0;
    virtual void RowsRepaint() = 0;

    // The message viewer: a modal, read-only window with this caption showing
    // the text, whose every line ends with CR LF (a message can be hundreds
    // of megabytes: one block, not a list of lines); returns once the user
    // has closed it.
    virtual void ShowMessageViewer(const std::string& caption, const std::string& text) = 0;
    // The modal file-save dialog. False when the user cancelled; otherwise
    // `chosen` is the full path, with "." + DefaultExt added to a name typed
    // without an extension.
    virtual bool ExecuteSaveDialog(const TSaveDialogRequest& request, std::string& chosen) = 0;
    // The user's Documents folder without a trailing separator; empty when
    // the desktop does not know one.
    virtual std::string DocumentsFolder() = 0;

    // Whether the Shift key is held down at this moment.
    virtual bool IsShiftDown() = 0;
    // The desktop's "open" action on a file, folder or web address; false
    // when it failed (the engine reports it).
    virtual bool OpenWithShell(const std::string& target, const std::string& parameters,
                               bool maximised) = 0;

    // Whether this screen can run a browser sign-in when a grant is gone
    // (the window can; the command line names the command instead).
    virtual bool CanSignIn() { return false; }

    // What only a window has; a screen without one keeps these defaults.
    // The window's bounds and the widths of the message list's columns, as
    // they are now and as the settings restore them.
    virtual TWindowBounds WindowBounds() { return {}; }
    virtual void SetWindowBounds(const TWindowBounds&) {}
    virtual int32_t ColumnWidth(int32_t) { return 0; }
    virtual void SetColumnWidth(int32_t, int32_t) {}
    // The about window, modal, until the user closes it.
    virtual void ShowAboutWindow() {}
    // The settings dialog, modal; true when the user confirmed it (the
    // settings file then holds the new settings).
    virtual bool ExecuteSetupDialog() { return false; }
};

// A screen without a window (the headless check, a benchmark): what only a
// window draws or times is dropped, and the main window counts as hidden.
class TWindowlessScreen : public TScreen {
public:
    void ShowBalloon(const std::string&, const std::string&, int32_t) override {}
    void SetCommandState(const TCommandState&) override {}
    void SetStopButton(bool, bool) override {}
    void SetDeleteCaption(const std::string&) override {}
    void SetAutoCheckTimer(bool, int32_t) override {}
    void SetStartTimer(bool) override {}
    bool MainWindowVisible() override { return false; }
    void ToggleMainWindow() override {}
    void SetMailboxes(const std::vector<TMailboxItem>&, int32_t, bool) override {}
    void SetListsBusy(bool) override {}
    void RowsReset() override {}
    void RowsAppended(int32_t, int32_t) override {}
    void RowChanged(int32_t) override {}
    void RowsRepaint() override {}
};

}  // namespace kalmuro
