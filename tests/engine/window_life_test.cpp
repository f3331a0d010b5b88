// The window's life around the check: creation with the saved geometry, the
// close and what it saves, the about and settings sequences, the version
// text, the maker's page, the message box roles and the highlight change.
#include <gtest/gtest.h>

#include "engine/engine_harness.h"

namespace kalmuro::enginetest {
namespace {

using WindowLifeTest = TFormTest;

TEST(VersionText, FourPartsOrNothing) {
    struct Case {
        const char* Name;
        std::vector<int32_t> Version;
        bool Build;
        std::string Text;
    };
    const std::vector<Case> cases = {
        {"with-build", {2, 4, 1, 17}, true, "Versione 2.4.1 build 17"},
        {"without-build", {2, 4, 1, 17}, false, "Versione 2.4.1"},
        {"three-parts", {2, 4, 1}, true, ""},
        {"none", {}, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(VersionText(c.Version, c.Build), c.Text);
    }
    EXPECT_EQ(MainWindowCaption(), "Quorvane Kalmuro - " + VersionText(true));
    EXPECT_EQ(VersionText(true), "Versione " + std::to_string(KALMURO_VERSION_MAJOR) + "." +
                                     std::to_string(KALMURO_VERSION_MINOR) + "." +
                                     std::to_string(KALMURO_VERSION_PATCH) + " build " +
                                     std::to_string(KALMURO_VERSION_TWEAK));
}

TEST_F(WindowLifeTest, MakerPageGetsItsSlashAndAFailureIsReported) {
    const std::string site = kMakerSite;
    EXPECT_EQ(MakerPageAddress(""), site);
    EXPECT_EQ(MakerPageAddress("kalmuro.asp"), site + "/kalmuro.asp");
    EXPECT_EQ(MakerPageAddress("/kalmuro.asp"), site + "/kalmuro.asp");
    Form.Image1Click();
    Form.OpenMakerPage(kMakerPageInfo);
    EXPECT_EQ(Screen.ShellTargets, (std::vector<std::string>{site, site + "/kalmuro.asp"}));
    EXPECT_TRUE(Screen.Boxes.empty());
    Screen.ShellSucceeds = false;
    Form.OpenMakerPage("x");
    ASSERT_EQ(Screen.Boxes.size(), 1u);
    EXPECT_EQ(Screen.Boxes[0].Title, "Errore");
    EXPECT_EQ(Screen.Boxes[0].Message,
              "Rilevato un errore durante l'esecuzione di\\n" + site + "/x ");
}

TEST(MsgBoxRoles, ButtonsFocusAndEscapePerSet) {
    struct Case {
        const char* Name;
        int32_t Set, Focused;
        std::vector<std::string> Captions;
        int32_t FocusIndex, Escape;
    };
    const std::vector<Case> cases = {
        {"ok", 0, 0, {"OK"}, 0, mrOk},
        {"ok-focus-2-ignored", 0, 2, {"OK"}, 0, mrOk},
        {"ok-annulla", 1, 0, {"OK", "&Annulla"}, 0, mrCancel},
        {"ok-annulla-focus-2", 1, 2, {"OK", "&Annulla"}, 1, mrCancel},
        {"si-no", 2, 1, {"&Si", "&No"}, 0, mrNo},
        {"si-no-focus-2", 2, 2, {"&Si", "&No"}, 1, mrNo},
        {"si-no-focus-3-ignored", 2, 3, {"&Si", "&No"}, 0, mrNo},
        {"si-no-annulla", 3, 0, {"&Si", "&No", "&Annulla"}, 0, mrCancel},
        {"si-no-annulla-focus-3", 3, 3, {"&Si", "&No", "&Annulla"}, 2, mrCancel},
        {"no-buttons", 4, 2, {}, -1, mrCancel},
        {"negative", -1, 0, {}, -1, mrCancel},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const TMsgBoxRoles roles = MsgBoxRoles(c.Set, c.Focused);
        std::vector<std::string> captions;
        for (const TMsgBoxButton& b : roles.Buttons) captions.push_back(b.Caption);
        EXPECT_EQ(captions, c.Captions);
        EXPECT_EQ(roles.FocusIndex, c.FocusIndex);
        EXPECT_EQ(roles.EscapeResult, c.Escape);
    }
    EXPECT_EQ(MsgBoxRoles(3, 0).Buttons[1].Result, mrNo);
    EXPECT_EQ(MsgBoxRoles(2, 0).Buttons[0].Result, mrYes);
}

TEST_F(WindowLifeTest, CreationReadsTheGeometryInOrderEachAppliedAtOnce) {
    Home.Write("kalmuro.ini",
               "[Setup]\r\nWidth=700\r\nTop=50\r\nLeft=10\r\nWidthCol3=99\r\nWidthCol0=40\r\n");
    Form.FormCreate();
    ASSERT_EQ(Screen.BoundsApplied.size(), 4u);
    // Left, Top, Height, Width: each read defaults to the current value.
    EXPECT_EQ(Screen.BoundsApplied[0], (TWindowBounds{10, 177, 603, 422}));
    EXPECT_EQ(Screen.BoundsApplied[1], (TWindowBounds{10, 50, 603, 422}));
    EXPECT_EQ(Screen.BoundsApplied[2], (TWindowBounds{10, 50, 603, 422}));
    EXPECT_EQ(Screen.BoundsApplied[3], (TWindowBounds{10, 50, 700, 422}));
    EXPECT_EQ(Screen.Widths, (std::vector<int32_t>{40, 155, 235, 99, 50}));
    EXPECT_TRUE(Form.Starting);
    EXPECT_EQ(Screen.DeleteCaption, "Sposta nel\\nCestino");  // LoadSettings ran
}

TEST_F(WindowLifeTest, ABadGeometryValueStopsOnlyTheGeometry) {
    Home.Write("kalmuro.ini", "[Setup]\r\nLeft=5\r\nHeight=alto\r\nWidthCol1=300\r\n"
                              "CopyToRecycle=0\r\n");
    Form.FormCreate();
    EXPECT_EQ(Screen.BoxMessages(), (std::vector<std::string>{"'alto' is not a valid integer value"}));
    EXPECT_EQ(Screen.Bounds, (TWindowBounds{5, 177, 603, 422}));
    EXPECT_EQ(Screen.Widths[1], 155);            // the widths come after the failed read
    EXPECT_EQ(Screen.DeleteCaption, "Elimina");  // the settings still load
    Form.FormShow();
    Form.TimerStartTimer();
    EXPECT_TRUE(Screen.Commands.Setup);
}

TEST_F(WindowLifeTest, CloseWritesGeometryThenWidthsInOrder) {
    Screen.Bounds = {11, 22, 633, 444};
    Screen.Widths = {20, 1, 2, 3, 4};
    Form.FormClose();
    EXPECT_EQ(ReadFile(Home.Path("kalmuro.ini")),
              "[Setup]\r\nLeft=11\r\nTop=22\r\nHeight=444\r\nWidth=633\r\nWidthCol0=20\r\n"
              "WidthCol1=1\r\nWidthCol2=2\r\nWidthCol3=3\r\nWidthCol4=4\r\n");
    EXPECT_TRUE(Screen.Boxes.empty());
}

TEST_F(WindowLifeTest, CloseQueryRefusesWhileAnOperationRuns) {
    struct Case {
        const char* Name;
        bool Starting, Checking, Deleting, Allowed;
    };
    const std::vector<Case> cases = {
        {"idle", false, false, false, true},
        {"starting", true, false, false, true},
        {"checking", false, true, false, false},
        {"deleting", false, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Form.Starting = c.Starting;
        Form.Checking = c.Checking;
        Form.Deleting = c.Deleting;
        EXPECT_EQ(Form.FormCloseQuery(), c.Allowed);
    }
}

TEST_F(WindowLifeTest, AboutWindowHoldsTheAutomaticCheck) {
    Home.Write("kalmuro.ini", "[Setup]\r\nCheckBoxAutoCheck=1\r\nCheckBoxAutoCheckMinutes=3\r\n");
    Load({});
    ASSERT_TRUE(Screen.TimerEnabled);
    bool enabledWhileOpen = true;
    Screen.OnAbout = [&] { enabledWhileOpen = Screen.TimerEnabled; };
    Form.ShowInfoWindow();
    EXPECT_EQ(Screen.AboutShown, 1);
    EXPECT_FALSE(enabledWhileOpen);
    EXPECT_TRUE(Screen.TimerEnabled);
    EXPECT_EQ(Screen.TimerInterval, 180000);
}

TEST_F(WindowLifeTest, SettingsDialogReloadsOnlyWhenConfirmed) {
    Load({Account("Uno", 110, "u", "p")});
    Form.Starting = false;
    Form.Messages.assign(1, TMessageEntry{});
    Form.FillMessageList();
    bool enabledWhileOpen = true;
    // While the dialog is open the user confirms a second account and the
    // automatic check.
    Screen.OnSetup = [&] {
        enabledWhileOpen = Screen.TimerEnabled;
        SaveAccounts({Account("Uno", 110, "u", "p"), Account("Due", 110, "v", "q")});
        WriteIniBool(kSectionSetup, "CheckBoxAutoCheck", true);
    };
    Screen.SetupAnswer = false;
    Form.BitBtnSetupClick();
    EXPECT_EQ(Screen.SetupShown, 1);
    EXPECT_FALSE(enabledWhileOpen);
    EXPECT_EQ(Form.Accounts.size(), 1u);   // cancelled: nothing reloaded
    EXPECT_EQ(Form.List().Rows.size(), 1u);
    EXPECT_TRUE(Screen.TimerEnabled);     // but the timer follows the file

    Screen.SetupAnswer = true;
    Form.BitBtnSetupClick();
    EXPECT_EQ(Form.Accounts.size(), 2u);
    EXPECT_TRUE(Form.List().Rows.empty());
    EXPECT_TRUE(Screen.PanelVisible);

    Form.Checking = true;  // a click queued during a check opens nothing
    Form.BitBtnSetupClick();
    EXPECT_EQ(Screen.SetupShown, 2);
    Form.Checking = false;
}

TEST_F(WindowLifeTest, MovingTheHighlightCountsAndCopiesTheTicks) {
    Load({Account("Uno", 110, "u", "p")});
    Form.Starting = false;
    Form.Messages.assign(3, TMessageEntry{});
    Form.Messages[1].Selected = true;
    Form.FillMessageList();
    // A rule command's classification rewrote the records behind the rows.
    Form.Messages[0].Selected = true;
    Form.Messages[1].Selected = false;
    Screen.Statuses.clear();
    Form.SetHighlightedRow(0);
    EXPECT_FALSE(Form.Messages[0].Selected);  // the row's tick wins
    EXPECT_EQ(Screen.Statuses, (std::vector<std::string>{"1 messaggio selezionato"}));
    Form.SetHighlightedRow(1);
    EXPECT_TRUE(Form.Messages[1].Selected);
    Screen.Statuses.clear();
    Form.SetHighlightedRow(1);  // no change, nothing to report
    Form.SetHighlightedRow(7);  // no such row: the highlight goes
    EXPECT_EQ(Form.HighlightedRow(), -1);
    EXPECT_EQ(Screen.Statuses.size(), 1u);
    EXPECT_TRUE(Screen.Commands.Delete);
}

}  // namespace
}  // namespace kalmuro::enginetest
