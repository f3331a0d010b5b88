// The window's state and small operations: commands, Stop, the timer,
// LoadSettings and the message boxes.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_harness.h"
#include "mail/errors.h"

namespace kalmuro::enginetest {
namespace {

using FormMainTest = TFormTest;

TEST_F(FormMainTest, UpdateCommandsFollowsTheState) {
    struct Case {
        const char* Name;
        bool Starting, Checking, Deleting;
        int Accounts;
        bool Ticked;
        TCommandState Expected;
    };
    const std::vector<Case> cases = {
        {"starting", true, false, false, 2, true, {}},
        {"checking", false, true, false, 2, true, {}},
        {"deleting", false, false, true, 2, true, {}},
        {"idle-no-accounts", false, false, false, 0, false, {false, false, true, true}},
        {"idle-accounts", false, false, false, 1, false, {true, false, true, true}},
        {"idle-ticked", false, false, false, 1, true, {true, true, true, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Form.LoadSettings();  // empty settings: no accounts, list emptied
        Form.Accounts.assign(static_cast<size_t>(c.Accounts), Account("x", 110, "u", "p", false));
        Form.Messages.assign(1, TMessageEntry{});
        Form.Messages[0].Selected = c.Ticked;
        Form.Starting = false;
        Form.FillMessageList();
        Form.Starting = c.Starting;
        Form.Checking = c.Checking;
        Form.Deleting = c.Deleting;
        const int32_t pumps = Screen.Pumps;
        Form.UpdateCommands();
        EXPECT_EQ(Screen.Commands, c.Expected);
        EXPECT_EQ(Form.Commands(), c.Expected);
        EXPECT_GT(Screen.Pumps, pumps);
        Form.Checking = Form.Deleting = false;
    }
}

TEST_F(FormMainTest, StopButtonAndFlag) {
    Form.ShowStopButton();
    EXPECT_TRUE(Screen.StopVisible);
    EXPECT_TRUE(Screen.StopEnabled);
    EXPECT_FALSE(Form.StopRequested());
    Form.BitBtnStopClick();
    EXPECT_TRUE(Form.StopFlag);
    EXPECT_TRUE(Screen.StopVisible);
    EXPECT_FALSE(Screen.StopEnabled);
    EXPECT_EQ(Form.StatusText(), "Interruzione dell'operazione in corso...");
    Form.HideStopButton();
    EXPECT_FALSE(Screen.StopVisible);
    EXPECT_FALSE(Screen.StopEnabled);   // hiding leaves the enabled state alone
    EXPECT_TRUE(Form.StopRequested());  // until the next operation shows the button
    const int32_t pumps = Screen.Pumps;
    Form.StopRequested();
    EXPECT_GT(Screen.Pumps, pumps);  // a click waiting in the queue is handled first
    Form.ShowStopButton();
    EXPECT_FALSE(Form.StopFlag);
    EXPECT_TRUE(Screen.StopEnabled);
}

TEST_F(FormMainTest, ResumeAutoCheckArmsTheTimerFromTheSettings) {
    struct Case {
        const char* Name;
        const char* Minutes;  // null: key absent
        const char* On;
        bool Enabled;
        int32_t Interval;
    };
    const std::vector<Case> cases = {
        {"defaults", nullptr, nullptr, false, 60000},
        {"five-minutes", "5", "1", true, 300000},
        {"off", "5", "0", false, 300000},
        {"low-byte-set", "2", "2", true, 120000},
        {"low-byte-clear", "2", "256", false, 120000},
        {"zero-is-one-minute", "0", "1", true, 60000},
        {"negative-is-one-minute", "-3", "1", true, 60000},
        {"beyond-the-timer", "100000", "1", true, INT32_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EraseIniSection(kSectionSetup);
        if (c.Minutes) WriteIniString(kSectionSetup, "CheckBoxAutoCheckMinutes", c.Minutes);
        if (c.On) WriteIniString(kSectionSetup, "CheckBoxAutoCheck", c.On);
        Form.ResumeAutoCheck();
        EXPECT_EQ(Screen.TimerEnabled, c.Enabled);
        EXPECT_EQ(Screen.TimerInterval, c.Interval);
        Form.SuspendAutoCheck();
        EXPECT_FALSE(Screen.TimerEnabled);
    }
    WriteIniString(kSectionSetup, "CheckBoxAutoCheckMinutes", "ten");
    EXPECT_THROW(Form.ResumeAutoCheck(), EConvertError);
}

TEST_F(FormMainTest, LoadSettingsAppliesTheSettingsFile) {
    SaveAccounts({Account("Casa", 110, "a", "p"), Account("Lavoro", 110, "b", "p", false),
                  Account("Scuola", 995, "c", "p")});
    WriteIniInteger(kSectionSetup, "ColorLocked", 0x123456);
    WriteIniBool(kSectionSetup, "CopyToRecycle", false);
    WriteIniBool(kSectionSetup, "CheckBoxAutoCheck", true);
    Home.Write("Mittenti.txt", "spam@\r\n\r\nPromo\r\n");
    Home.Write("OggettiOk.txt", "Fattura");
    Form.Messages.assign(3, TMessageEntry{});
    Form.FillMessageList();
    ASSERT_EQ(Form.List().Rows.size(), 0u);  // no mailbox highlighted yet

    Screen.Statuses.clear();
    Form.LoadSettings();
    EXPECT_EQ(Screen.Statuses.front(), "Lettura impostazioni dal disco in corso...");
    EXPECT_EQ(Form.StatusText(), "");
    EXPECT_TRUE(Form.Messages.empty());
    ASSERT_EQ(Form.Accounts.size(), 3u);
    EXPECT_EQ(Form.Accounts[2].Port, "995");
    const std::vector<std::string> blocked = {"spam@", "", "Promo"};
    EXPECT_EQ(Form.BlockedSenders.Lines, blocked);
    EXPECT_EQ(Form.SafeSubjects.Lines, std::vector<std::string>{"Fattura"});
    EXPECT_TRUE(Form.SafeSenders.Lines.empty());
    EXPECT_EQ(Form.BlockedSubjects.FileName, Home.Path("Oggetti.txt"));
    EXPECT_EQ(Form.ColorLocked, 0x123456);
    EXPECT_EQ(Form.ColorNormal, kDefaultColorNormal);
    EXPECT_EQ(Form.ColorSelected, kDefaultColorSelected);
    EXPECT_EQ(Form.ColorSecured, kDefaultColorSecured);
    EXPECT_EQ(Screen.DeleteCaption, "Elimina");
    const std::vector<TMailboxItem> items = {
        {"Tutti gli accounts", -1}, {"Casa", 0}, {"Scuola", 2}};
    EXPECT_EQ(Screen.Mailboxes, items);
    EXPECT_EQ(Screen.MailboxHighlight, 0);
    EXPECT_TRUE(Screen.PanelVisible);
    EXPECT_TRUE(Screen.TimerEnabled);
    EXPECT_EQ(Screen.Commands, TCommandState{});  // still starting

    // A second load replaces everything; one active account hides the panel.
    SaveAccounts({Account("Casa", 110, "a", "p"), Account("Lavoro", 110, "b", "p", false)});
    WriteIniBool(kSectionSetup, "CopyToRecycle", true);
    std::remove(Home.Path("Mittenti.txt").c_str());
    Form.FormShow();
    Form.LoadSettings();
    EXPECT_EQ(Form.Accounts.size(), 2u);
    EXPECT_TRUE(Form.BlockedSenders.Lines.empty());
    EXPECT_FALSE(Screen.PanelVisible);
    EXPECT_EQ(Screen.Mailboxes.size(), 2u);
    EXPECT_EQ(Screen.DeleteCaption, "Sposta nel\\nCestino");
    EXPECT_EQ(Screen.Commands, (TCommandState{true, false, true, true}));
}

TEST_F(FormMainTest, TimersAfterTheFirstShowing) {
    // One inactive account: a check connects nowhere and ends with its
    // summary at once.
    Load({Account("Casa", 110, "a", "p", false)});
    EXPECT_TRUE(Screen.StartTimerEnabled);
    Screen.StartTimerEnabled = false;
    Form.FormShow();  // later showings (back from the tray) start nothing
    EXPECT_FALSE(Screen.StartTimerEnabled);
    const std::string summary = "Non ci sono messaggi - Ultima verifica alle 14:09:27";

    struct StartCase {
        const char* Name;
        const char* Minimize;  // null: key absent
        const char* Check;
        int32_t Toggles;
        bool Checked;
        int Boxes;
    };
    const std::vector<StartCase> starts = {
        {"defaults", nullptr, nullptr, 0, false, 0},
        {"minimise", "1", "0", 1, false, 0},
        {"check", "0", "1", 0, true, 0},
        {"both", "1", "1", 1, true, 0},
        {"bad-value-still-enables", "si", "1", 0, false, 1},
    };
    for (const StartCase& c : starts) {
        SCOPED_TRACE(c.Name);
        EraseIniSection(kSectionSetup);
        if (c.Minimize) WriteIniString(kSectionSetup, "MinimizeStart", c.Minimize);
        if (c.Check) WriteIniString(kSectionSetup, "CheckStart", c.Check);
        Screen.Toggles = 0;
        Screen.Boxes.clear();
        Screen.StartTimerEnabled = true;
        Screen.Commands = {};
        Form.ClearStatus();
        Form.TimerStartTimer();
        EXPECT_FALSE(Screen.StartTimerEnabled);
        EXPECT_EQ(Screen.Toggles, c.Toggles);
        EXPECT_EQ(Form.StatusText(), c.Checked ? summary : "");
        EXPECT_EQ(Screen.Boxes.size(), static_cast<size_t>(c.Boxes));
        EXPECT_EQ(Screen.Commands, (TCommandState{true, false, true, true}));
    }

    struct AutoCase {
        const char* Name;
        bool Visible;
        const char* IconOnly;
        bool Checked, TimerOn;
    };
    const std::vector<AutoCase> autos = {
        {"hidden", false, "0", true, true},
        {"visible", true, "0", true, true},
        {"hidden-tray-only", false, "1", true, true},
        {"visible-tray-only-skips", true, "1", false, true},
        {"bad-value-stops-the-timer", true, "si", false, false},
    };
    EraseIniSection(kSectionSetup);
    WriteIniBool(kSectionSetup, "CheckBoxAutoCheck", true);
    WriteIniInteger(kSectionSetup, "CheckBoxAutoCheckMinutes", 5);
    Form.ResumeAutoCheck();
    for (const AutoCase& c : autos) {
        SCOPED_TRACE(c.Name);
        WriteIniString(kSectionSetup, "CheckBoxAutoCheckIcon", c.IconOnly);
        Screen.WindowVisible = c.Visible;
        Screen.Boxes.clear();
        Form.ClearStatus();
        Screen.TimerEnabled = true;
        Screen.TimerInterval = -1;
        Screen.OnPump = [&] { EXPECT_FALSE(Screen.TimerEnabled); };  // off while it works
        Form.TimerAutoCheckTimer();
        Screen.OnPump = nullptr;
        EXPECT_EQ(Form.StatusText(), c.Checked ? summary : "");
        EXPECT_EQ(Screen.TimerEnabled, c.TimerOn);
        EXPECT_EQ(Screen.TimerInterval, c.TimerOn ? 300000 : 0);
        EXPECT_EQ(Screen.Boxes.size(), c.TimerOn ? 0u : 1u);
    }
}

TEST_F(FormMainTest, LoadSettingsRaisesOnAColourThatIsNoNumber) {
    WriteIniString(kSectionSetup, "ColorSecured", "verde");
    try {
        Form.LoadSettings();
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'verde' is not a valid integer value");
    }
}

TEST_F(FormMainTest, AnUnreadableSettingsFileIsAnErrorWithItsPath) {
    std::filesystem::remove(IniFileName());
    ASSERT_TRUE(std::filesystem::create_directory(IniFileName()));
    const std::string text = "Cannot open file \"" + IniFileName() + "\". Is a directory";
    try {
        Form.LoadSettings();
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.what(), text);
    }
    // The start timer reads the file too: its error reaches the error box.
    Form.FormShow();
    Form.TimerStartTimer();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>{text});
}

TEST_F(FormMainTest, MessageBoxesHaveFixedTitlesIconsAndButtons) {
    Form.ShowInformation("Fatto");
    Form.ShowError("Guasto");
    Form.AskConfirmation("Procedere ?", 1);
    ASSERT_EQ(Screen.Boxes.size(), 3u);
    EXPECT_EQ(Screen.Boxes[0].Title, "Informazione");
    EXPECT_EQ(Screen.Boxes[0].Buttons, mbOk);
    EXPECT_EQ(Screen.Boxes[0].Icon, miInformation);
    EXPECT_EQ(Screen.Boxes[1].Title, "Errore");
    EXPECT_EQ(Screen.Boxes[1].Icon, miWarning);
    EXPECT_EQ(Screen.Boxes[2].Title, "Conferma");
    EXPECT_EQ(Screen.Boxes[2].Buttons, mbYesNo);
    EXPECT_EQ(Screen.Boxes[2].Icon, miQuestion);
    EXPECT_EQ(Screen.Boxes[2].Focused, 1);

    struct Case {
        const char* Name;
        int32_t Result;
        bool Yes;
    };
    const std::vector<Case> answers = {
        {"si", mrYes, true}, {"no", mrNo, false}, {"closed", mrCancel, false}, {"ok", mrOk, false}};
    for (const Case& c : answers) {
        SCOPED_TRACE(c.Name);
        Screen.Answer = [&](const TBox&) { return c.Result; };
        EXPECT_EQ(Form.AskConfirmation("?", 1), c.Yes);
    }
}

TEST_F(FormMainTest, ShellOpenReportsAFailure) {
    Form.ShellOpen("/tmp/none/Cestino", "", true);
    EXPECT_TRUE(Screen.Boxes.empty());
    Screen.ShellSucceeds = false;
    Form.ShellOpen("/tmp/none/Cestino", "", true);
    Form.ShellOpen("editor", "Mittenti.txt", true);
    const std::vector<std::string> boxes = {
        "Rilevato un errore durante l'esecuzione di\\n/tmp/none/Cestino ",
        "Rilevato un errore durante l'esecuzione di\\neditor Mittenti.txt"};
    EXPECT_EQ(Screen.BoxMessages(), boxes);
    EXPECT_EQ(Screen.ShellTargets.size(), 3u);
}

}  // namespace
}  // namespace kalmuro::enginetest
