// What the engine tests share: a screen that records everything and can act
// as the user from inside a pump, a throw-away home folder, and builders for
// accounts and fake messages.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/form_main.h"
#include "engine/screen.h"
#include "mail/accounts.h"
#include "mail/datetime.h"
#include "mail/settings.h"
#include "support/scripted_server.h"
#include "support/temp_home.h"

namespace kalmuro::enginetest {

struct TBox {
    std::string Title, Message;
    int32_t Buttons = 0, Icon = 0, Focused = 0;
};

class TRecordingScreen : public TScreen {
public:
    std::vector<std::string> Statuses;
    std::vector<TBox> Boxes;
    std::vector<std::string> BalloonTexts;
    TCommandState Commands;
    bool StopVisible = false, StopEnabled = false;
    bool TimerEnabled = false;
    bool StartTimerEnabled = false;
    bool WindowVisible = true;
    int32_t Toggles = 0;
    int32_t TimerInterval = -1;
    int32_t TimerCalls = 0;
    std::string DeleteCaption;
    std::vector<TMailboxItem> Mailboxes;
    int32_t MailboxHighlight = -99;
    bool PanelVisible = false;
    bool ListsBusy = false;
    int32_t RowsResets = 0, RowsAppendedTotal = 0, RowChanges = 0, Repaints = 0;
    int32_t Pumps = 0;
    struct TViewer {
        std::string Caption;
        std::vector<std::string> Lines;
        std::string Text;
    };
    std::vector<TViewer> Viewers;
    // Runs while a viewer is open (the user looks at it, a timer fires...).
    std::function<void()> OnViewer;
    std::vector<TSaveDialogRequest> SaveDialogs;
    // The path the user picks in the save dialog; empty: cancel.
    std::string SaveChoice;
    std::string Documents = "/home/utente/Documenti";
    bool ShiftDown = false;
    bool ShellSucceeds = true;
    std::vector<std::string> ShellTargets;

    // Runs after a status text is recorded and in every pump: the test acts
    // as the user there (a click on Stop waits in the queue, say).
    std::function<void(const std::string&)> OnStatus;
    std::function<void()> OnPump;
    // The answer of every box; by default its first button.
    std::function<int32_t(const TBox&)> Answer;

    void SetStatusText(const std::string& text) override {
        Statuses.push_back(text);
        if (OnStatus) OnStatus(text);
    }
    void PumpMessages() override {
        ++Pumps;
        if (OnPump) OnPump();
    }
    int32_t ShowMsgBox(const std::string& message, const std::string& title, int32_t buttons,
                       int32_t icon, int32_t focused) override {
        Boxes.push_back({title, message, buttons, icon, focused});
        if (Answer) return Answer(Boxes.back());
        return buttons == mbYesNo || buttons == mbYesNoCancel ? mrYes : mrOk;
    }
    void ShowBalloon(const std::string&, const std::string& text, int32_t) override {
        BalloonTexts.push_back(text);
    }
    void SetCommandState(const TCommandState& state) override { Commands = state; }
    void SetStopButton(bool visible, bool enabled) override {
        StopVisible = visible;
        StopEnabled = enabled;
    }
    void SetDeleteCaption(const std::string& caption) override { DeleteCaption = caption; }
    void SetAutoCheckTimer(bool enabled, int32_t interval) override {
        TimerEnabled = enabled;
        TimerInterval = interval;
        ++TimerCalls;
    }
    void SetStartTimer(bool enabled) override { StartTimerEnabled = enabled; }
    bool MainWindowVisible() override { return WindowVisible; }
    void ToggleMainWindow() override {
        WindowVisible = !WindowVisible;
        ++Toggles;
    }
    void SetMailboxes(const std::vector<TMailboxItem>& items, int32_t highlighted,
                      bool panelVisible) override {
        Mailboxes = items;
        MailboxHighlight = highlighted;
        PanelVisible = panelVisible;
    }
    void SetListsBusy(bool busy) override { ListsBusy = busy; }
    void RowsReset() override { ++RowsResets; }
    void RowsAppended(int32_t, int32_t count) override { RowsAppendedTotal += count; }
    void RowChanged(int32_t) override { ++RowChanges; }
    void RowsRepaint() override { ++Repaints; }
    void ShowMessageViewer(const std::string& caption, const std::string& text) override {
        std::vector<std::string> lines;
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2)
            lines.push_back(text.substr(start, end - start));
        Viewers.push_back({caption, std::move(lines), text});
        if (OnViewer) OnViewer();
    }
    bool ExecuteSaveDialog(const TSaveDialogRequest& request, std::string& chosen) override {
        SaveDialogs.push_back(request);
        chosen = SaveChoice;
        return !SaveChoice.empty();
    }
    std::string DocumentsFolder() override { return Documents; }
    bool IsShiftDown() override { return ShiftDown; }
    bool OpenWithShell(const std::string& target, const std::string&, bool) override {
        ShellTargets.push_back(target);
        return ShellSucceeds;
    }

    // The window's bounds and column widths, every bounds applied in order,
    // and the about window and settings dialog (OnAbout / OnSetup run while
    // they are open; SetupAnswer is the dialog's result).
    TWindowBounds Bounds{208, 177, 603, 422};
    std::vector<TWindowBounds> BoundsApplied;
    std::vector<int32_t> Widths{20, 155, 235, 110, 50};
    int32_t AboutShown = 0, SetupShown = 0;
    bool SetupAnswer = false;
    std::function<void()> OnAbout, OnSetup;
    TWindowBounds WindowBounds() override { return Bounds; }
    void SetWindowBounds(const TWindowBounds& bounds) override {
        Bounds = bounds;
        BoundsApplied.push_back(bounds);
    }
    int32_t ColumnWidth(int32_t column) override { return Widths.at(static_cast<size_t>(column)); }
    void SetColumnWidth(int32_t column, int32_t width) override {
        Widths.at(static_cast<size_t>(column)) = width;
    }
    void ShowAboutWindow() override {
        ++AboutShown;
        if (OnAbout) OnAbout();
    }
    bool ExecuteSetupDialog() override {
        ++SetupShown;
        if (OnSetup) OnSetup();
        return SetupAnswer;
    }

    std::vector<std::string> BoxMessages() const {
        std::vector<std::string> texts;
        for (const TBox& box : Boxes) texts.push_back(box.Message);
        return texts;
    }
};

// A fresh home folder for the settings file and the rule lists; the clock
// is fixed at 5 March 2007 14:09:27 while it lives.
class TTempHome : public testing::TempHome {
public:
    TTempHome() {
        SetHomeDir(Dir());
        SetClockForTesting([] {
            TDateTime day = 0, time = 0;
            TryEncodeDate(2007, 3, 5, day);
            TryEncodeTime(14, 9, 27, 0, time);
            return day + time;
        });
    }
    ~TTempHome() {
        SetClockForTesting({});
        SetHomeDir("");
    }

    void Write(const std::string& name, const std::string& content) const {
        testing::WriteFile(Path(name), content);
    }
};

// The names in a folder, sorted; none when it does not exist.
inline std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(folder, error))
        names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

using testing::ReadFile;

// The main window on a recording screen, in a fresh home folder.
class TFormTest : public ::testing::Test {
protected:
    TTempHome Home;
    TRecordingScreen Screen;
    TFormMain Form{Screen};

    // Saves the accounts and starts the window on them.
    void Load(const TArrayOfMailAccount& accounts) {
        SaveAccounts(accounts);
        Form.LoadSettings();
        Form.FormShow();
    }
    // The files in the recycle folder, sorted.
    std::vector<std::string> Recycled() const { return FolderNames(Home.Path("Cestino")); }
};

// Local time is UTC while it lives, so that dates in file names are fixed.
class TUtcZone {
public:
    TUtcZone() {
        if (const char* tz = std::getenv("TZ")) FOld = tz, FHad = true;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    ~TUtcZone() {
        if (FHad)
            setenv("TZ", FOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TUtcZone(const TUtcZone&) = delete;
    TUtcZone& operator=(const TUtcZone&) = delete;

private:
    std::string FOld;
    bool FHad = false;
};

inline TMailAccount Account(const std::string& name, int32_t port, const std::string& user,
                            const std::string& password, bool active = true) {
    TMailAccount a;
    a.AccountName = name;
    a.PopServer = "127.0.0.1";
    a.UserId = user;
    a.UserPwd = password;
    a.Port = std::to_string(port);
    a.Active = active;
    return a;
}

// A message with the usual three headers and a one-line body.
inline test::TFakeMessage FakeMessage(const std::string& from, const std::string& subject,
                                      const std::string& uid,
                                      const std::string& date = "Mon, 5 Mar 2007 14:09:00 +0100") {
    test::TFakeMessage m;
    m.Text =
        "From: " + from + "\r\nSubject: " + subject + "\r\nDate: " + date + "\r\n\r\nHello.\r\n";
    m.Uid = uid;
    return m;
}

// n messages numbered from 1: sender "user<i>@example.com", subject
// "Message <i>", unique id "uid-<i>".
inline std::vector<test::TFakeMessage> FakeMailbox(int n) {
    std::vector<test::TFakeMessage> box;
    for (int i = 1; i <= n; ++i)
        box.push_back(FakeMessage(
            "User " + std::to_string(i) + " <user" + std::to_string(i) + "@example.com>",
            "Message " + std::to_string(i), "uid-" + std::to_string(i)));
    return box;
}

}  // namespace kalmuro::enginetest
