// Start at login: the Exec line's quoting, what counts as switched on, the
// entry written and removed, and the settings dialog's box over the real
// file.
#include "engine/autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "engine/engine_harness.h"
#include "engine/setup_dialog.h"
#include "mail/user_folders.h"

namespace kalmuro::enginetest {
namespace {

// XDG_CONFIG_HOME pointed at a folder of the test, put back afterwards.
class TConfigHome {
public:
    explicit TConfigHome(const std::string& dir) {
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) FOld = old;
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    ~TConfigHome() {
        if (FOld)
            setenv("XDG_CONFIG_HOME", FOld->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }

private:
    std::optional<std::string> FOld;
};

TEST(AutostartTest, ExecArgumentsAreQuotedOrRefused) {
    struct Case {
        const char* Name;
        std::string Argument;
        std::optional<std::string> Quoted;  // nullopt: refused
    };
    const std::vector<Case> cases = {
        {"plain", "/usr/bin/kalmuro", "/usr/bin/kalmuro"},
        {"space", "/home/u/my mail", "\"/home/u/my mail\""},
        // Inside quotes a backslash is escaped once for the quoting and the
        // result once more as a string value.
        {"quote-and-backslash", "/a\"b\\c", "\"/a\\\\\"b\\\\\\\\c\""},
        {"dollar-and-backquote", "/x/$HOME`id`", "\"/x/\\\\$HOME\\\\`id\\\\`\""},
        {"percent", "/x/100%", "/x/100%%"},
        {"percent-quoted", "/x y/%f", "\"/x y/%%f\""},
        {"utf8", "/home/zo\xC3\xAB", "/home/zo\xC3\xAB"},  // zoë
        {"newline", "/x\nTerminal=true", std::nullopt},
        {"carriage-return", "/x\r", std::nullopt},
        {"tab", "/x\ty", std::nullopt},
        {"escape", "/x\x1B", std::nullopt},
        {"latin1", "/home/zo\xEB", std::nullopt},
        {"truncated-utf8", "/x\xC3", std::nullopt},
        {"overlong", "/x\xC0\xAF", std::nullopt},
        {"surrogate", "/x\xED\xA0\x80", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string quoted;
        const bool ok = DesktopExecArgument(c.Argument, quoted);
        EXPECT_EQ(ok, c.Quoted.has_value());
        if (ok && c.Quoted) {
            EXPECT_EQ(quoted, *c.Quoted);
        }
    }
}

TEST(AutostartTest, TheEntryStartsThisProgramAndNothingElse) {
    std::string text;
    ASSERT_TRUE(AutostartEntry({"/opt/k k/kalmuro", "--home", "/home/u/posta"}, text));
    EXPECT_NE(text.find("\nExec=\"/opt/k k/kalmuro\" --home /home/u/posta\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("\nTryExec=/opt/k k/kalmuro\n"), std::string::npos);
    EXPECT_EQ(text.rfind("[Desktop Entry]\nType=Application\n", 0), 0u);
    // A folder name must not become keys of its own, nor a relative command.
    EXPECT_FALSE(AutostartEntry({"/k", "--home", "/x\nHidden=true"}, text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(AutostartEntry({"kalmuro"}, text));
    EXPECT_FALSE(AutostartEntry({}, text));
}

class AutostartFileTest : public TFormTest {
protected:
    testing::TempHome Config;
    TConfigHome Env{Config.Dir()};
    std::string Entry() const { return Config.Path("autostart/") + kDesktopId + ".desktop"; }
};

TEST_F(AutostartFileTest, WrittenPrivateAndRemovedAndReadAsTheDesktopWould) {
    EXPECT_EQ(AutostartFilePath(), Entry());
    EXPECT_FALSE(AutostartEnabled());
    ASSERT_EQ(SetAutostart(true), 0);
    EXPECT_TRUE(AutostartEnabled());
    struct stat st {};
    ASSERT_EQ(stat(Config.Path("autostart").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const std::string text = testing::ReadFile(Entry());
    // The tests run with a home of their own: it goes with the command.
    std::string program, home;
    ASSERT_TRUE(DesktopExecArgument(ProgramPath(), program));
    ASSERT_TRUE(DesktopExecArgument(Home.Dir(), home));
    EXPECT_NE(text.find("\nExec=" + program + " --home " + home + "\n"), std::string::npos)
        << text;
    // The desktop's own validator takes it, where it is installed (the
    // package's checks install it).
    if (access("/usr/bin/desktop-file-validate", X_OK) == 0) {
        EXPECT_EQ(std::system(("/usr/bin/desktop-file-validate '" + Entry() + "'").c_str()), 0);
    }

    struct Case {
        const char* Name;
        std::string Text;
        bool Enabled;
    };
    const std::vector<Case> cases = {
        {"hidden", "[Desktop Entry]\nExec=kalmuro\nHidden=true\n", false},
        {"hidden-spaced", "[Desktop Entry]\r\nHidden = true\r\n", false},
        {"gnome-off", "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"hidden-false", "[Desktop Entry]\nHidden=false\n", true},
        {"hidden-elsewhere", "[Desktop Entry]\nExec=k\n[Desktop Action x]\nHidden=true\n", true},
        {"empty", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        testing::WriteFile(Entry(), c.Text);
        EXPECT_EQ(AutostartEnabled(), c.Enabled);
    }
    // Switched on again, the desktop's "off" is replaced by the entry.
    ASSERT_EQ(SetAutostart(true), 0);
    EXPECT_EQ(testing::ReadFile(Entry()), text);
    ASSERT_EQ(SetAutostart(false), 0);
    EXPECT_FALSE(std::filesystem::exists(Entry()));
    EXPECT_EQ(SetAutostart(false), 0);  // already gone
}

TEST_F(AutostartFileTest, TheSettingsDialogShowsTheFileAndChangesOnlyWhatTheUserChanged) {
    Load({});
    TSetupDialog dialog(Form);
    dialog.FormCreate();
    EXPECT_FALSE(dialog.StartAtLogin);
    dialog.BitBtnOkClick();
    EXPECT_FALSE(std::filesystem::exists(Config.Path("autostart")));

    dialog.StartAtLogin = true;
    dialog.BitBtnOkClick();
    EXPECT_TRUE(AutostartEnabled());
    EXPECT_TRUE(Screen.Boxes.empty());

    // An entry the user edited and switched off elsewhere: shown off, and a
    // confirmation that leaves the box alone leaves the file alone.
    const std::string edited = "[Desktop Entry]\nExec=kalmuro\nHidden=true\n";
    testing::WriteFile(Entry(), edited);
    TSetupDialog again(Form);
    again.FormCreate();
    EXPECT_FALSE(again.StartAtLogin);
    again.BitBtnOkClick();
    EXPECT_EQ(testing::ReadFile(Entry()), edited);

    SetAutostart(true);
    TSetupDialog third(Form);
    third.FormCreate();
    EXPECT_TRUE(third.StartAtLogin);
    third.StartAtLogin = false;
    third.BitBtnOkClick();
    EXPECT_FALSE(std::filesystem::exists(Entry()));
    EXPECT_TRUE(Screen.Boxes.empty());
}

TEST_F(AutostartFileTest, AnEntryThatCannotBeWrittenIsReported) {
    Load({});
    // A file where the autostart folder should be.
    testing::WriteFile(Config.Path("autostart"), "");
    TSetupDialog dialog(Form);
    dialog.FormCreate();
    dialog.StartAtLogin = true;
    dialog.Options.StopEmptyMsg = true;
    dialog.BitBtnOkClick();
    ASSERT_EQ(Screen.Boxes.size(), 1u);
    EXPECT_EQ(Screen.Boxes[0].Title, "Errore");
    EXPECT_EQ(Screen.Boxes[0].Message,
              "Impossibile attivare l'avvio all'accesso al desktop:\\n" + Entry());
    // The settings were written all the same.
    EXPECT_TRUE(ReadIniBool(kSectionSetup, "StopEmptyMsg", false));
    EXPECT_FALSE(AutostartEnabled());
}

}  // namespace
}  // namespace kalmuro::enginetest
