// The window's life around the check: creation with the saved geometry,
// the close and what it saves, the about window, the settings command, the
// version text, the maker's page, and the roles of the message box buttons.
#include <exception>
#include <string>
#include <vector>

#include "engine/form_main.h"
#include "mail/settings.h"
#include "mail/text.h"

namespace kalmuro {

std::string VersionText(const std::vector<int32_t>& version, bool withBuild) {
    if (version.size() < 4) return std::string();
    std::string text = "Versione " + IntToStr(version[0]) + "." + IntToStr(version[1]) + "." +
                       IntToStr(version[2]);
    if (withBuild) text += " build " + IntToStr(version[3]);
    return text;
}

std::string VersionText(bool withBuild) {
    return VersionText({KALMURO_VERSION_MAJOR, KALMURO_VERSION_MINOR, KALMURO_VERSION_PATCH,
                        KALMURO_VERSION_TWEAK},
                       withBuild);
}

std::string MainWindowCaption() { return std::string(kAppTitle) + " - " + VersionText(true); }

std::string MakerPageAddress(const std::string& page) {
    if (page.empty() || page.front() == '/') return kMakerSite + page;
    return kMakerSite + ("/" + page);
}

TMsgBoxRoles MsgBoxRoles(int32_t buttons, int32_t focusedButton) {
    static const TMsgBoxButton ok{kCaptionBtnOk, mrOk}, si{kCaptionBtnSi, mrYes},
        no{kCaptionBtnNo, mrNo}, annulla{kCaptionBtnAnnulla, mrCancel};
    TMsgBoxRoles roles;
    switch (buttons) {
        case mbOk:
            // OK is the cancel button as well.
            roles.Buttons = {ok};
            roles.EscapeResult = mrOk;
            break;
        case mbOkCancel:
            roles.Buttons = {ok, annulla};
            roles.EscapeResult = mrCancel;
            break;
        case mbYesNo:
            roles.Buttons = {si, no};
            roles.EscapeResult = mrNo;
            break;
        case mbYesNoCancel:
            // No gives up its cancel role to Annulla.
            roles.Buttons = {si, no, annulla};
            roles.EscapeResult = mrCancel;
            break;
        default:
            // No button: Escape still closes the box, as a close would.
            return roles;
    }
    roles.FocusIndex = 0;
    if (focusedButton == 2 && roles.Buttons.size() >= 2) roles.FocusIndex = 1;
    if (focusedButton == 3 && roles.Buttons.size() == 3) roles.FocusIndex = 2;
    return roles;
}

void TFormMain::RestoreWindowGeometry() {
    TWindowBounds bounds = Screen.WindowBounds();
    bounds.Left = ReadIniInteger(kSectionSetup, "Left", bounds.Left);
    Screen.SetWindowBounds(bounds);
    bounds = Screen.WindowBounds();
    bounds.Top = ReadIniInteger(kSectionSetup, "Top", bounds.Top);
    Screen.SetWindowBounds(bounds);
    bounds = Screen.WindowBounds();
    bounds.Height = ReadIniInteger(kSectionSetup, "Height", bounds.Height);
    Screen.SetWindowBounds(bounds);
    bounds = Screen.WindowBounds();
    bounds.Width = ReadIniInteger(kSectionSetup, "Width", bounds.Width);
    Screen.SetWindowBounds(bounds);
    for (int32_t column = 0; column < kColumnCount; ++column) {
        const std::string key = "WidthCol" + IntToStr(column);
        Screen.SetColumnWidth(column,
                              ReadIniInteger(kSectionSetup, key, Screen.ColumnWidth(column)));
    }
}

void TFormMain::SaveWindowGeometry() {
    const TWindowBounds bounds = Screen.WindowBounds();
    WriteIniInteger(kSectionSetup, "Left", bounds.Left);
    WriteIniInteger(kSectionSetup, "Top", bounds.Top);
    WriteIniInteger(kSectionSetup, "Height", bounds.Height);
    WriteIniInteger(kSectionSetup, "Width", bounds.Width);
    for (int32_t column = 0; column < kColumnCount; ++column)
        WriteIniInteger(kSectionSetup, "WidthCol" + IntToStr(column), Screen.ColumnWidth(column));
}

void TFormMain::FormCreate() {
    // A value that is no number stops only its own step: the window still
    // loads the rest, and the start timer still enables the commands.
    try {
        RestoreWindowGeometry();
    } catch (const std::exception& e) {
        ReportError(e);
    }
    Starting = true;
    Checking = false;
    Deleting = false;
    try {
        LoadSettings();
    } catch (const std::exception& e) {
        ReportError(e);
    }
}

void TFormMain::FormClose() {
    // A settings file that cannot be written must not keep the program
    // from ending; the user hears of it once.
    try {
        SaveWindowGeometry();
    } catch (const std::exception& e) {
        ReportError(e);
    }
}

void TFormMain::ShowInfoWindow() {
    SuspendAutoCheck();
    std::string escaped;
    try {
        Screen.ShowAboutWindow();
    } catch (const std::exception& e) {
        escaped = e.what();
    }
    ResumeAutoCheckAfter(escaped);
}

void TFormMain::BitBtnSetupClick() {
    // The button is off during a check or a deletion; a click that was
    // already queued must not reload the settings under one either.
    if (Starting || Checking || Deleting) return;
    SuspendAutoCheck();
    std::string escaped;
    try {
        if (Screen.ExecuteSetupDialog()) LoadSettings();
    } catch (const std::exception& e) {
        escaped = e.what();
    }
    // Armed again from the settings, confirmed or not.
    ResumeAutoCheckAfter(escaped);
}

void TFormMain::OpenMakerPage(const std::string& page) {
    ShellOpen(MakerPageAddress(page), std::string(), true);
}

}  // namespace kalmuro
