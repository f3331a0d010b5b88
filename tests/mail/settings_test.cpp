#include "mail/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "mail/atomic_file.h"
#include "mail/errors.h"
#include "support/case_name.h"
#include "support/temp_home.h"

namespace kalmuro {
namespace {

using testcase::PrintTo;

using testing::ReadFile;
using testing::TempHome;
using testing::WriteFile;

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { SetHomeDir(home.Dir()); }
    void TearDown() override {
        SetHomeDir("");
        SetWriteFailureForTesting(-1);
        SetReadFailureForTesting(0);
    }
    void Given(const std::string& content) { WriteFile(IniFileName(), content); }
    std::string Contents() const { return ReadFile(IniFileName()); }

    TempHome home;
};

struct StringReadCase {
    const char* name;
    std::string file;
    std::string section, key, fallback;
    std::string expected;
};

class StringReads : public SettingsTest, public ::testing::WithParamInterface<StringReadCase> {};

TEST_P(StringReads, ReturnsTheStrippedValueOrTheDefault) {
    const StringReadCase& c = GetParam();
    Given(c.file);
    EXPECT_EQ(ReadIniString(c.section, c.key, c.fallback), c.expected);
}

const std::string kLong(3000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Settings, StringReads,
    ::testing::Values(
        StringReadCase{"plain", "[Setup]\r\nTimeout=30\r\n", "Setup", "Timeout", "60", "30"},
        StringReadCase{"missing_key", "[Setup]\r\nOther=1\r\n", "Setup", "Timeout", "60", "60"},
        StringReadCase{"missing_section", "[Other]\r\nTimeout=1\r\n", "Setup", "Timeout", "60",
                       "60"},
        StringReadCase{"no_file_content", "", "Setup", "Timeout", "60", "60"},
        StringReadCase{"section_case", "[sEtUp]\r\nTimeout=5\r\n", "Setup", "Timeout", "", "5"},
        StringReadCase{"key_case", "[Setup]\r\ntimeOUT=5\r\n", "Setup", "Timeout", "", "5"},
        StringReadCase{"blanks_around", "[Setup]\r\n  Timeout \t=  7 \t\r\n", "Setup", "Timeout",
                       "", "7"},
        StringReadCase{"double_quotes", "[S]\r\nK=\" a b \"\r\n", "S", "K", "", " a b "},
        StringReadCase{"single_quotes", "[S]\r\nK='x'\r\n", "S", "K", "", "x"},
        StringReadCase{"one_pair_only", "[S]\r\nK=\"\"x\"\"\r\n", "S", "K", "", "\"x\""},
        StringReadCase{"mismatched_quotes", "[S]\r\nK=\"x'\r\n", "S", "K", "", "\"x'"},
        StringReadCase{"lone_quote", "[S]\r\nK=\"\r\n", "S", "K", "", "\""},
        StringReadCase{"empty_value", "[S]\r\nK=\r\n", "S", "K", "def", ""},
        StringReadCase{"equals_in_value", "[S]\r\nK=a=b\r\n", "S", "K", "", "a=b"},
        StringReadCase{"first_of_duplicates", "[S]\r\nK=1\r\nK=2\r\n", "S", "K", "", "1"},
        StringReadCase{"key_in_other_section", "[A]\r\nK=1\r\n[B]\r\nJ=2\r\n", "B", "K", "d", "d"},
        StringReadCase{"lf_lines", "[S]\nA=1\nK=2\n", "S", "K", "", "2"},
        StringReadCase{"cr_lines", "[S]\rA=1\rK=2", "S", "K", "", "2"},
        StringReadCase{"no_final_terminator", "[S]\r\nK=last", "S", "K", "", "last"},
        StringReadCase{"comment_not_a_key", "[S]\r\n;K=1\r\n", "S", "K", "d", "d"},
        StringReadCase{"indented_section", "  [S]  \r\nK=1\r\n", "S", "K", "", "1"},
        StringReadCase{"cp1252_value", "[S]\r\nK=perch\xE8 \x80\r\n", "S", "K", "",
                       "perch\xE8 \x80"},  // perchè €
        StringReadCase{"cut_to_2047", "[S]\r\nK=" + kLong + "\r\n", "S", "K", "",
                       std::string(2047, 'x')}),
    testcase::RowName);

struct IntegerReadCase {
    const char* name;
    std::string stored;  // the value line's right-hand side; "<none>" for no key
    int32_t fallback;
    int32_t asInteger;
    bool asBool;
};

class IntegerReads : public SettingsTest, public ::testing::WithParamInterface<IntegerReadCase> {};

TEST_P(IntegerReads, ConvertLikeTheRunTime) {
    const IntegerReadCase& c = GetParam();
    Given(c.stored == "<none>" ? "[Setup]\r\n" : "[Setup]\r\nCheckStart=" + c.stored + "\r\n");
    EXPECT_EQ(ReadIniInteger("Setup", "CheckStart", c.fallback), c.asInteger);
    EXPECT_EQ(ReadIniBool("Setup", "CheckStart", c.fallback != 0), c.asBool);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, IntegerReads,
    ::testing::Values(IntegerReadCase{"one", "1", 0, 1, true},
                      IntegerReadCase{"zero", "0", 1, 0, false},
                      IntegerReadCase{"two_is_true", "2", 0, 2, true},
                      IntegerReadCase{"256_is_false", "256", 0, 256, false},
                      IntegerReadCase{"257_is_true", "257", 0, 257, true},
                      IntegerReadCase{"minus_one", "-1", 0, -1, true},
                      IntegerReadCase{"hex", "$100", 0, 256, false},
                      IntegerReadCase{"quoted", "\"5\"", 0, 5, true},
                      IntegerReadCase{"missing_default_false", "<none>", 0, 0, false},
                      IntegerReadCase{"missing_default_true", "<none>", 1, 1, true}),
    testcase::RowName);

struct BadIntegerCase {
    const char* name;
    std::string stored;
    std::string message;
};

class BadIntegers : public SettingsTest, public ::testing::WithParamInterface<BadIntegerCase> {};

TEST_P(BadIntegers, RaiseTheConversionErrorAndLeaveTheFile) {
    const BadIntegerCase& c = GetParam();
    const std::string file = "[Setup]\r\nTimeout=" + c.stored + "\r\n";
    Given(file);
    try {
        ReadIniInteger("Setup", "Timeout", 60);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_THROW(ReadIniBool("Setup", "Timeout", false), EConvertError);
    EXPECT_EQ(Contents(), file);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, BadIntegers,
    ::testing::Values(BadIntegerCase{"present_but_empty", "", "'' is not a valid integer value"},
                      BadIntegerCase{"letters", "abc", "'abc' is not a valid integer value"},
                      BadIntegerCase{"too_big", "2147483648",
                                     "'2147483648' is not a valid integer value"},
                      BadIntegerCase{"trailing_text", "12s", "'12s' is not a valid integer value"}),
    testcase::RowName);

TEST_F(SettingsTest, RemovingTheEmptyEntryRestoresTheDefault) {
    Given("[Setup]\r\nTimeout=\r\n");
    EXPECT_THROW(ReadIniInteger("Setup", "Timeout", 60), EConvertError);
    Given("[Setup]\r\n");
    EXPECT_EQ(ReadIniInteger("Setup", "Timeout", 60), 60);
}

TEST_F(SettingsTest, ReadingNeverCreatesTheFile) {
    EXPECT_EQ(ReadIniString("Setup", "X", "d"), "d");
    EXPECT_EQ(ReadIniSection("Setup", nullptr, nullptr), 0);
    EraseIniSection("Setup");
    EXPECT_FALSE(std::filesystem::exists(IniFileName()));
}

struct WriteCase {
    const char* name;
    std::string before;
    std::string section, key, value;
    std::string after;
};

class Writes : public SettingsTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(Writes, ProduceTheExpectedFile) {
    const WriteCase& c = GetParam();
    if (c.before != "<none>") Given(c.before);
    WriteIniString(c.section, c.key, c.value);
    EXPECT_EQ(Contents(), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Writes,
    ::testing::Values(WriteCase{"creates_the_file", "<none>", "Setup", "A", "1",
                                "[Setup]\r\nA=1\r\n"},
                      WriteCase{"replaces_in_place", "[S]\r\nA=1\r\nB=2\r\nC=3\r\n", "S", "B", "x",
                                "[S]\r\nA=1\r\nB=x\r\nC=3\r\n"},
                      WriteCase{"keeps_the_file_spelling", "[S]\r\n  bKey = 2\r\n", "s", "BKEY",
                                "3", "[S]\r\nbKey=3\r\n"},
                      WriteCase{"new_key_at_end_of_section", "[S]\r\nA=1\r\n\r\n[T]\r\nB=2\r\n",
                                "S", "N", "v", "[S]\r\nA=1\r\nN=v\r\n\r\n[T]\r\nB=2\r\n"},
                      WriteCase{"new_key_in_last_section", "[S]\r\nA=1\r\n[T]\r\nB=2", "T", "N",
                                "v", "[S]\r\nA=1\r\n[T]\r\nB=2\r\nN=v\r\n"},
                      WriteCase{"new_key_in_empty_section", "[S]\r\n[T]\r\n", "S", "N", "v",
                                "[S]\r\nN=v\r\n[T]\r\n"},
                      WriteCase{"new_section_at_end", "[S]\r\nA=1\r\n", "T", "N", "v",
                                "[S]\r\nA=1\r\n[T]\r\nN=v\r\n"},
                      WriteCase{"lf_file_becomes_crlf", "[S]\nA=1\n;note\n", "S", "A", "2",
                                "[S]\r\nA=2\r\n;note\r\n"},
                      WriteCase{"cp1252_kept", "[S]\r\nA=\xE8\r\n", "S", "B", "\x80",  // è, €
                                "[S]\r\nA=\xE8\r\nB=\x80\r\n"},
                      WriteCase{"line_break_cannot_plant_a_key", "[S]\r\n", "S", "Name",
                                "x\r\n[Evil]\nK=1", "[S]\r\nName=x  [Evil] K=1\r\n"}),
    testcase::RowName);

TEST_F(SettingsTest, TypedWritesStoreDecimalText) {
    WriteIniInteger("Setup", "Left", -208);
    WriteIniBool("Setup", "On", true);
    WriteIniBool("Setup", "Off", false);
    EXPECT_EQ(Contents(), "[Setup]\r\nLeft=-208\r\nOn=1\r\nOff=0\r\n");
    EXPECT_EQ(ReadIniInteger("Setup", "left", 0), -208);
}

TEST_F(SettingsTest, HandWrittenTwoSurvivesUntilTheKeyIsWritten) {
    Given("[Setup]\r\nCheckStart=2\r\nOther=1\r\n");
    EXPECT_TRUE(ReadIniBool("Setup", "CheckStart", false));
    WriteIniBool("Setup", "Other", false);
    EXPECT_EQ(ReadIniString("Setup", "CheckStart", ""), "2");
    WriteIniBool("Setup", "CheckStart", true);
    EXPECT_EQ(ReadIniString("Setup", "CheckStart", ""), "1");
}

TEST_F(SettingsTest, EveryByteValueSurvivesAWriteAndARead) {
    std::string value;
    for (int c = 1; c < 256; ++c)
        if (c != '\r' && c != '\n') value += static_cast<char>(c);
    value = "<" + value + ">";  // the ends are not blanks
    WriteIniString("S", "K", value);
    EXPECT_EQ(ReadIniString("S", "K", ""), value);
}

TEST_F(SettingsTest, EraseRemovesEveryCopyOfTheSection) {
    Given("[A]\r\nK=1\r\n[Accounts]\r\nX=1\r\nY=2\r\n[B]\r\nK=2\r\n[accounts]\r\nZ=3\r\n");
    EraseIniSection("Accounts");
    EXPECT_EQ(Contents(), "[A]\r\nK=1\r\n[B]\r\nK=2\r\n");
    EXPECT_EQ(ReadIniString("Accounts", "Z", "gone"), "gone");
}

struct ReplaceCase {
    const char* name;
    std::string before;  // "<none>" for no file
    std::vector<std::pair<std::string, std::string>> entries;
};

class SectionReplacements : public SettingsTest,
                            public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(SectionReplacements, EqualAnEraseFollowedByOneWritePerEntry) {
    const ReplaceCase& c = GetParam();
    const std::string stepwise = home.Path("stepwise.ini");
    if (c.before != "<none>") {
        Given(c.before);
        WriteFile(stepwise, c.before);
    }
    EraseIniSection("Accounts", stepwise);
    for (const auto& [key, value] : c.entries) WriteIniString("Accounts", key, value, stepwise);
    ReplaceIniSection("Accounts", c.entries);
    EXPECT_EQ(std::filesystem::exists(IniFileName()), std::filesystem::exists(stepwise));
    EXPECT_EQ(Contents(), ReadFile(stepwise));
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SectionReplacements,
    ::testing::Values(ReplaceCase{"no_file_no_entries", "<none>", {}},
                      ReplaceCase{"no_file", "<none>", {{"A1", "x"}, {"B1", "y"}}},
                      ReplaceCase{"middle_section",
                                  "[S]\r\nK=1\r\n[Accounts]\r\nOld=1\r\n\r\n[T]\r\nJ=2\r\n",
                                  {{"A1", "x"}}},
                      ReplaceCase{"duplicate_sections",
                                  "[accounts]\r\nA=1\r\n[S]\r\n[ACCOUNTS]\r\nB=2\r\n",
                                  {{"A1", "x"}, {"a1", "again"}}},
                      ReplaceCase{"erase_only", "[Accounts]\r\nA=1\r\n[S]\r\nK=1\r\n", {}},
                      ReplaceCase{"other_sections_only", "[S]\nK=1", {{"P", "\"q\""}}}),
    testcase::RowName);

TEST_F(SettingsTest, AFailedSectionReplacementChangesNothing) {
    const std::string before = "[Accounts]\r\nPopServer1=old\r\n";
    Given(before);
    SetWriteFailureForTesting(10);
    EXPECT_THROW(ReplaceIniSection("Accounts", {{"PopServer1", "new"}, {"UserId1", "u"}}),
                 EIniWriteError);
    EXPECT_EQ(Contents(), before);
}

TEST_F(SettingsTest, SectionListingGivesNamesAndValuesInFileOrder) {
    Given("[S]\r\nB = \"2\"\r\n;comment\r\nnot an entry\r\n\r\nA=1\r\n[T]\r\nC=3\r\n");
    std::vector<std::string> names{"stale"}, values{"stale"};
    EXPECT_EQ(ReadIniSection("s", &names, &values), 2);
    EXPECT_EQ(names, (std::vector<std::string>{"B", "A"}));
    EXPECT_EQ(values, (std::vector<std::string>{"2", "1"}));
    EXPECT_EQ(ReadIniSection("Missing", &names, nullptr), 0);
    EXPECT_TRUE(names.empty());
}

TEST_F(SettingsTest, ExplicitPathIsUsedInsteadOfTheHomeFile) {
    const std::string other = home.Path("other.ini");
    WriteIniString("S", "K", "v", other);
    EXPECT_EQ(ReadIniString("S", "K", "", other), "v");
    EXPECT_FALSE(std::filesystem::exists(IniFileName()));
}

TEST_F(SettingsTest, AFailedWriteLeavesTheOldFileWhole) {
    const std::string before = "[Setup]\r\nA=1\r\nB=2\r\n";
    Given(before);
    for (long long after : {0LL, 1LL, 10LL, 20LL}) {
        SetWriteFailureForTesting(after);
        try {
            WriteIniString("Setup", "C", "a much longer value than before");
            FAIL() << "no error after " << after << " bytes";
        } catch (const EIniWriteError& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + IniFileName());
        }
        EXPECT_EQ(Contents(), before) << "after " << after << " bytes";
        EXPECT_EQ(testing::CountFiles(home.Dir()), 1u) << "a temporary file was left behind";
    }
    SetWriteFailureForTesting(-1);
    WriteIniString("Setup", "C", "3");
    EXPECT_EQ(Contents(), before + "C=3\r\n");
}

TEST_F(SettingsTest, AFileThatCannotBeReadIsNotOverwritten) {
    const std::string before = "[Setup]\r\nA=1\r\n[Accounts]\r\nPopServer1=x\r\n";
    Given(before);
    SetReadFailureForTesting(EIO);
    // Not the default either: the file is there, and says something else.
    EXPECT_THROW(ReadIniString("Setup", "A", "d"), EFOpenError);
    EXPECT_THROW(WriteIniString("Setup", "B", "2"), EIniWriteError);
    EXPECT_NO_THROW(EraseIniSection("Accounts"));  // nothing seen, nothing erased
    SetReadFailureForTesting(0);
    EXPECT_EQ(Contents(), before);
}

TEST_F(SettingsTest, AWriteLongEnoughForTheSeamSucceeds) {
    SetWriteFailureForTesting(1000);
    WriteIniString("S", "K", "v");
    EXPECT_EQ(Contents(), "[S]\r\nK=v\r\n");
}

TEST_F(SettingsTest, SeveralChangesLandInOneWriteOrNotAtAll) {
    Given("[Setup]\r\nPortachiavi=1\r\nTimeout=30\r\n[Accounts]\r\nPopServer1=a\r\n");
    const auto edit = [] {
        TIniEdit e;
        e.ReplaceSection(kSectionAccounts, {{"PopServer1", "b"}, {"UserId1", "c"}});
        e.EraseKey(kSectionSetup, "portachiavi");
        e.SetValue(kSectionSetup, "Timeout", "60");
        e.Save();
    };
    SetWriteFailureForTesting(0);
    EXPECT_THROW(edit(), EIniWriteError);
    EXPECT_EQ(Contents(),
              "[Setup]\r\nPortachiavi=1\r\nTimeout=30\r\n[Accounts]\r\nPopServer1=a\r\n");
    SetWriteFailureForTesting(-1);
    edit();
    EXPECT_EQ(Contents(), "[Setup]\r\nTimeout=60\r\n[Accounts]\r\nPopServer1=b\r\nUserId1=c\r\n");
    // Nothing to change writes nothing, not even a file that was not there.
    std::filesystem::remove(IniFileName());
    TIniEdit nothing;
    nothing.EraseKey(kSectionSetup, "Portachiavi");
    nothing.Save();
    EXPECT_FALSE(std::filesystem::exists(IniFileName()));
}

TEST_F(SettingsTest, AWriteKeepsThePermissions) {
    Given("[S]\r\nK=1\r\n");
    ASSERT_EQ(chmod(IniFileName().c_str(), 0640), 0);
    WriteIniString("S", "K", "2");
    struct stat st {};
    ASSERT_EQ(stat(IniFileName().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(SettingsTest, AWriteThroughASymbolicLinkKeepsTheLink) {
    const std::string real = home.Path("real.ini");
    WriteFile(real, "[S]\r\nK=1\r\n");
    std::filesystem::create_symlink(real, IniFileName());
    WriteIniString("S", "K", "2");
    EXPECT_TRUE(std::filesystem::is_symlink(IniFileName()));
    EXPECT_EQ(ReadFile(real), "[S]\r\nK=2\r\n");
}

TEST_F(SettingsTest, AReadOnlyFolderRefusesTheWrite) {
    if (testing::RunningAsRoot()) GTEST_SKIP() << "root writes into read-only folders";
    Given("[S]\r\nK=1\r\n");
    ASSERT_EQ(chmod(home.Dir().c_str(), 0555), 0);
    EXPECT_THROW(WriteIniString("S", "K", "2"), EIniWriteError);
    chmod(home.Dir().c_str(), 0755);
    EXPECT_EQ(Contents(), "[S]\r\nK=1\r\n");
}

TEST_F(SettingsTest, AReadOnlyFileRefusesTheWrite) {
    Given("[S]\r\nK=1\r\n");
    ASSERT_EQ(chmod(IniFileName().c_str(), 0444), 0);
    EXPECT_THROW(WriteIniString("S", "K", "2"), EIniWriteError);
    EXPECT_EQ(Contents(), "[S]\r\nK=1\r\n");
    EXPECT_EQ(testing::CountFiles(home.Dir()), 1u);
}

TEST_F(SettingsTest, AFolderInPlaceOfTheFileRefusesTheWrite) {
    std::filesystem::create_directory(IniFileName());
    EXPECT_THROW(WriteIniString("S", "K", "2"), EIniWriteError);
}

struct SeparatorCase {
    const char* name;
    std::string configured;  // "<none>" for no key
    std::string path;
    std::string expected;
};

class Separators : public SettingsTest, public ::testing::WithParamInterface<SeparatorCase> {};

TEST_P(Separators, AreAppendedOnlyWhenMissing) {
    const SeparatorCase& c = GetParam();
    if (c.configured != "<none>") Given("[MainSetup]\r\nBackSlash=" + c.configured + "\r\n");
    EXPECT_EQ(IncludeBackslash(c.path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Separators,
    ::testing::Values(SeparatorCase{"default_appends_slash", "<none>", "/a/b", "/a/b/"},
                      SeparatorCase{"default_keeps_slash", "<none>", "/a/b/", "/a/b/"},
                      SeparatorCase{"default_empty_path", "<none>", "", "/"},
                      SeparatorCase{"default_after_backslash", "<none>", "C:\\x\\", "C:\\x\\/"},
                      SeparatorCase{"backslash_configured", "\\", "/a/b/", "/a/b/\\"},
                      SeparatorCase{"backslash_present", "\\", "C:\\x\\", "C:\\x\\"},
                      SeparatorCase{"long_separator_always_added", "//", "/a//", "/a////"},
                      SeparatorCase{"long_separator_empty_path", "::", "", "::"}),
    testcase::RowName);

TEST(SettingsLocation, HomeDirAndProgramFolder) {
    SetHomeDir("");
    const std::string exeDir = AppDir();
    ASSERT_FALSE(exeDir.empty());
    EXPECT_EQ(exeDir.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(exeDir + "test_mail")) << exeDir;
    EXPECT_EQ(IniFileName(), exeDir + "kalmuro.ini");
    SetHomeDir("/some/where");
    EXPECT_EQ(AppDir(), "/some/where/");
    SetHomeDir("/some/where/");
    EXPECT_EQ(IniFileName(), "/some/where/kalmuro.ini");
    SetHomeDir("");
    EXPECT_EQ(AppDir(), exeDir);
}

}  // namespace
}  // namespace kalmuro
