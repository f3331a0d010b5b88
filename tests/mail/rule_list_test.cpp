#include "mail/rule_list.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
using Lines = std::vector<std::string>;

struct SplitCase {
    const char* name;
    std::string content;
    Lines lines;
};

class Splits : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Splits, GiveOneEntryPerLine) {
    EXPECT_EQ(SplitRuleLines(GetParam().content), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    RuleList, Splits,
    ::testing::Values(SplitCase{"empty_file", "", {}}, SplitCase{"crlf", "a\r\nb\r\n", {"a", "b"}},
                      SplitCase{"lf", "a\nb\n", {"a", "b"}}, SplitCase{"cr", "a\rb\r", {"a", "b"}},
                      SplitCase{"mixed", "a\rb\nc\r\nd", {"a", "b", "c", "d"}},
                      SplitCase{"no_final_terminator", "a\r\nlast", {"a", "last"}},
                      SplitCase{"empty_lines_kept", "\r\n\r\na\n\n", {"", "", "a", ""}},
                      SplitCase{"lf_cr_is_two_breaks", "a\n\rb", {"a", "", "b"}},
                      SplitCase{"cr_cr_lf", "a\r\r\nb", {"a", "", "b"}},
                      SplitCase{"no_trimming", " a \t\r\n\tb ", {" a \t", "\tb "}},
                      SplitCase{"cp1252_and_nul",
                                std::string("\xE8\0x\r\n", 5),  // è
                                {std::string("\xE8\0x", 3)}}),
    testcase::RowName);

class RuleListFiles : public ::testing::Test {
protected:
    void TearDown() override { SetWriteFailureForTesting(-1); }
    TRuleList List(const std::string& name) {
        TRuleList l;
        l.FileName = home.Path(name);
        return l;
    }
    TempHome home;
};

TEST_F(RuleListFiles, MissingFileLoadsEmptyAndIsNotCreated) {
    TRuleList l = List("Mittenti.txt");
    l.Lines = {"stale"};
    EXPECT_FALSE(l.LoadFromFile());
    EXPECT_TRUE(l.Lines.empty());
    EXPECT_FALSE(std::filesystem::exists(l.FileName));
    l.FileName = home.Path("no/such/folder/Oggetti.txt");
    EXPECT_FALSE(l.LoadFromFile());
}

TEST_F(RuleListFiles, SaveWritesCrLfAfterEveryEntry) {
    TRuleList l = List("Oggetti.txt");
    WriteFile(l.FileName, "promo\n\nOFFERTA\rlast");
    ASSERT_TRUE(l.LoadFromFile());
    EXPECT_EQ(l.Lines, (Lines{"promo", "", "OFFERTA", "last"}));
    l.SaveToFile();
    EXPECT_EQ(ReadFile(l.FileName), "promo\r\n\r\nOFFERTA\r\nlast\r\n");
    TRuleList again = List("Oggetti.txt");
    ASSERT_TRUE(again.LoadFromFile());
    EXPECT_EQ(again.Lines, l.Lines);
}

TEST_F(RuleListFiles, EmptyListSavesAnEmptyFile) {
    TRuleList l = List("MittentiOk.txt");
    l.SaveToFile();
    EXPECT_TRUE(std::filesystem::exists(l.FileName));
    EXPECT_EQ(ReadFile(l.FileName), "");
}

TEST_F(RuleListFiles, UnreadableFileRaisesTheOpenError) {
    TRuleList l = List("Mittenti.txt");
    std::filesystem::create_directory(l.FileName);  // exists, but cannot be read as a file
    try {
        l.LoadFromFile();
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + l.FileName + "\". Is a directory");
    }
}

TEST_F(RuleListFiles, PermissionDeniedWhenNotRoot) {
    if (testing::RunningAsRoot()) GTEST_SKIP() << "root reads any file";
    TRuleList l = List("Mittenti.txt");
    WriteFile(l.FileName, "x\r\n");
    chmod(l.FileName.c_str(), 0);
    EXPECT_THROW(l.LoadFromFile(), EFOpenError);
}

TEST_F(RuleListFiles, FailedSaveKeepsTheOldFileAndNamesTheReason) {
    TRuleList l = List("Mittenti.txt");
    WriteFile(l.FileName, "old\r\n");
    l.Lines = {"new one", "new two", "new three"};
    for (long long after : {0LL, 5LL, 12LL}) {
        SetWriteFailureForTesting(after);
        try {
            l.SaveToFile();
            FAIL() << "no error";
        } catch (const EFCreateError& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Cannot create file \"" + l.FileName + "\". Input/output error");
        }
        EXPECT_EQ(ReadFile(l.FileName), "old\r\n");
        EXPECT_EQ(testing::CountFiles(home.Dir()), 1u);
    }
}

TEST_F(RuleListFiles, SaveIntoAMissingFolderFails) {
    TRuleList l = List("gone/Mittenti.txt");
    l.Lines = {"a"};
    try {
        l.SaveToFile();
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file \"" + l.FileName + "\". No such file or directory");
    }
}

TEST_F(RuleListFiles, SaveKeepsPermissions) {
    TRuleList l = List("Oggetti.txt");
    WriteFile(l.FileName, "a\r\n");
    chmod(l.FileName.c_str(), 0600);
    l.Lines = {"b"};
    l.SaveToFile();
    struct stat st {};
    ASSERT_EQ(stat(l.FileName.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

}  // namespace
}  // namespace kalmuro
