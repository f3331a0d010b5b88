// Where a copy keeps its files: the choice between its own folder and the
// user's folders, the private folders made on first use, and the one-time
// move of the files an earlier installed version kept in the data folder.
#include "mail/user_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "mail/settings.h"
#include "support/temp_home.h"

namespace kalmuro {
namespace {

using testing::ReadFile;
using testing::TempHome;
using testing::WriteFile;

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

TEST(UserFoldersTest, ChoiceBesideTheProgramOrInTheUsersFolders) {
    struct Case {
        const char* Name;
        std::string ProgramDir;
        bool Writable;
        const char* ConfigHome;
        const char* DataHome;
        std::string Home;
        TFolderChoice Expected;
    };
    const TFolderChoice beside{"/opt/k/", "/opt/k/", false};
    const TFolderChoice homeDefaults{"/home/u/.config/kalmuro/", "/home/u/.local/share/kalmuro/",
                                     true};
    const std::vector<Case> cases = {
        {"writable-copy", "/opt/k", true, "/cfg", "/data", "/home/u", beside},
        {"read-only-copy", "/opt/k/", false, nullptr, nullptr, "/home/u", homeDefaults},
        {"xdg-variables", "/opt/k/", false, "/cfg/", "/data", "/home/u",
         {"/cfg/kalmuro/", "/data/kalmuro/", true}},
        {"empty-variables", "/opt/k/", false, "", "", "/home/u/", homeDefaults},
        {"relative-variables", "/opt/k/", false, "cfg", "./data", "/home/u", homeDefaults},
        // Root may write the folder programs are installed to.
        {"install-folder-writable", "/usr/bin/", true, nullptr, "/d", "/root",
         {"/root/.config/kalmuro/", "/d/kalmuro/", true}},
        {"no-home", "/opt/k/", false, nullptr, nullptr, "", beside},
        {"no-home-but-variables", "/opt/k/", false, "/cfg", "/data", "",
         {"/cfg/kalmuro/", "/data/kalmuro/", true}},
        {"relative-home", "/opt/k/", false, nullptr, nullptr, "home/u", beside},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(ChooseFolders(c.ProgramDir, c.Writable, "/usr/bin", c.ConfigHome, c.DataHome,
                                c.Home),
                  c.Expected);
    }
}

TEST(UserFoldersTest, TestsRunBesideTheirProgramAndHomeDirOverridesEverything) {
    // The test program sits in the build tree, which its user may write.
    const TFolderChoice& folders = DefaultFolders();
    EXPECT_FALSE(folders.Installed);
    EXPECT_EQ(folders.Config, folders.Data);
    EXPECT_EQ(AppDir(), folders.Config);
    EXPECT_FALSE(HomeDirGiven());
    SetHomeDir("/tmp/somewhere");
    EXPECT_TRUE(HomeDirGiven());
    EXPECT_EQ(AppDir(), "/tmp/somewhere/");
    EXPECT_EQ(DataDir(), "/tmp/somewhere/");
    SetHomeDir("");
    EXPECT_EQ(DataDir(), folders.Data);
}

TEST(UserFoldersTest, PrivateFoldersAreMadeLevelByLevel) {
    TempHome home;
    const std::string deep = home.Path("a/b/c");
    ASSERT_EQ(MakePrivateFolders(deep), 0);
    for (const char* level : {"a", "a/b", "a/b/c"}) {
        SCOPED_TRACE(level);
        EXPECT_EQ(ModeOf(home.Path(level)), 0700u);
    }
    // An existing folder keeps its mode; a trailing slash is the same folder.
    chmod(home.Path("a").c_str(), 0755);
    EXPECT_EQ(MakePrivateFolders(home.Path("a/b/c/")), 0);
    EXPECT_EQ(ModeOf(home.Path("a")), 0755u);
    // A file where a folder must go.
    WriteFile(home.Path("file"), "x");
    EXPECT_EQ(MakePrivateFolders(home.Path("file/sub")), ENOTDIR);
    EXPECT_EQ(MakePrivateFolders(""), ENOENT);
}

TEST(UserFoldersTest, EarlierFilesMoveOnceAndNothingIsReplacedOrLost) {
    TempHome home;
    const std::string from = home.Path("share/kalmuro"), to = home.Path("config/kalmuro");
    ASSERT_EQ(MakePrivateFolders(from), 0);
    ASSERT_EQ(MakePrivateFolders(to), 0);
    WriteFile(from + "/kalmuro.ini", "[Setup]\r\nTimeout=30\r\n");
    WriteFile(from + "/Mittenti.txt", "old list\r\n");
    WriteFile(to + "/Mittenti.txt", "new list\r\n");
    std::filesystem::create_directory(from + "/Oggetti.txt");  // not a file: left alone
    std::filesystem::create_directory(from + "/Cestino");
    WriteFile(from + "/Cestino/a.eml", "mail");
    const std::vector<std::string> names(std::begin(kConfigFileNames), std::end(kConfigFileNames));

    EXPECT_EQ(MoveEarlierFiles(from, to, names), (std::vector<std::string>{"Mittenti.txt"}));
    EXPECT_EQ(ReadFile(to + "/kalmuro.ini"), "[Setup]\r\nTimeout=30\r\n");
    EXPECT_FALSE(std::filesystem::exists(from + "/kalmuro.ini"));
    EXPECT_EQ(ReadFile(to + "/Mittenti.txt"), "new list\r\n");
    EXPECT_EQ(ReadFile(from + "/Mittenti.txt"), "old list\r\n");
    EXPECT_FALSE(std::filesystem::exists(to + "/Oggetti.txt"));
    EXPECT_EQ(ReadFile(from + "/Cestino/a.eml"), "mail");

    // A second run moves nothing more and finds the same file in the way.
    WriteFile(to + "/kalmuro.ini", "[Setup]\r\nTimeout=45\r\n");
    EXPECT_EQ(MoveEarlierFiles(from, to, names), (std::vector<std::string>{"Mittenti.txt"}));
    EXPECT_EQ(ReadFile(to + "/kalmuro.ini"), "[Setup]\r\nTimeout=45\r\n");

    // The same folder, or none to move from: nothing happens.
    EXPECT_TRUE(MoveEarlierFiles(to, to + "/", names).empty());
    EXPECT_TRUE(MoveEarlierFiles(home.Path("none"), to, names).empty());
    EXPECT_EQ(ReadFile(to + "/Mittenti.txt"), "new list\r\n");
}

TEST(UserFoldersTest, AMoveThatFailsLeavesTheFileWhereItWas) {
    TempHome home;
    const std::string from = home.Path("old"), to = home.Path("new");
    ASSERT_EQ(MakePrivateFolders(from), 0);
    WriteFile(from + "/OggettiOk.txt", "keep\r\n");
    // Something other than a folder where the files should go.
    WriteFile(to, "not a folder");
    EXPECT_EQ(MoveEarlierFiles(from, to, {"OggettiOk.txt"}),
              (std::vector<std::string>{"OggettiOk.txt"}));
    EXPECT_EQ(ReadFile(from + "/OggettiOk.txt"), "keep\r\n");
}

}  // namespace
}  // namespace kalmuro
