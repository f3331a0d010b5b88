// The block and accept commands: texts, the duplicate test, the sorted save,
// the new marks without a rebuild, and a save that fails; the comparison
// they rest on.
#include <gtest/gtest.h>

#include "engine/engine_harness.h"
#include "engine/locale_compare.h"

namespace kalmuro::enginetest {
namespace {

TEST(LocaleCompare, IgnoresCaseAccentsIncludedAndSortsStably) {
    struct Case {
        const char* Name;
        std::string A, B;
        int Expected;
    };
    const std::vector<Case> cases = {
        {"same", "abc", "abc", 0},
        {"ascii-case", "Spam@Example.COM", "SPAM@EXAMPLE.COM", 0},
        {"accented-case", "perch\xE8 s\xEC", "PERCH\xC8 S\xCC", 0},  // perchè sì
        {"ligature-case", "\x9C", "\x8C", 0},                        // œ Œ
        {"empty-first", "", "a", -1},
        {"letters-in-order", "ZETA", "alpha", 1},
        {"prefix-first", "abc", "ABCD", -1},
        {"different-accent", "e", "\xE8", -1},  // è
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(LocaleCompareText(c.A, c.B), c.Expected);
        EXPECT_EQ(LocaleCompareText(c.B, c.A), -c.Expected);
    }
    std::vector<std::string> lines = {"zeta", "Beta", "", "BETA", "alpha", "beta"};
    SortLocaleText(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"", "alpha", "Beta", "BETA", "beta", "zeta"}));
}

class RuleCommandsTest : public TFormTest {
protected:
    // Two accounts; the second one's mailbox is shown, so row 0 is record 1.
    void SetUp() override {
        Load({Account("A", 110, "a", "p"), Account("B", 110, "b", "p")});
        Form.Messages = {Entry(0, "altro@example.com", "Altro"),
                         Entry(1, "spam@example.com", "Offerta imperdibile")};
        Form.ListViewMailBoxesSelectItem(2);
        Form.SetHighlightedRow(0);
        Screen.Boxes.clear();
    }
    static TMessageEntry Entry(int32_t account, const std::string& address,
                               const std::string& subject) {
        TMessageEntry e;
        e.AccountIndex = account;
        e.FromAddress = e.Sender = address;
        e.Subject = subject;
        return e;
    }
};

using TClick = void (TFormMain::*)();

TEST_F(RuleCommandsTest, AddSortSaveAndMarkWithoutRebuild) {
    struct Case {
        const char* Name;
        TClick Click;
        const char* File;
        std::string Question, Result, Saved;
        bool Locked;
    };
    const std::vector<Case> cases = {
        {"block-sender", &TFormMain::Bloccamittente1Click, "Mittenti.txt",
         "Inserire tra i mittenti bloccati \\nspam@example.com ?",
         "I futuri messaggi provenienti da questo mittente\\nsaranno automaticamente "
         "selezionati per l'eliminazione.",
         "\r\nAlpha\r\nSPAM@EXAMPLE.COM\r\nzeta\r\n", true},
        {"block-subject", &TFormMain::Bloccaoggetto1Click, "Oggetti.txt",
         "Inserire tra gli oggetti bloccati \\nOfferta imperdibile ?",
         "I futuri messaggi con questo oggetto verranno\\nautomaticamente selezionati per "
         "l'eliminazione.",
         "\r\nAlpha\r\nOFFERTA IMPERDIBILE\r\nzeta\r\n", true},
        {"accept-sender", &TFormMain::Accettasempreilmittente1Click, "MittentiOk.txt",
         "Inserire tra i mittenti sicuri\\nspam@example.com ?",
         "I futuri messaggi provenienti da questo\\nmittente verranno sempre accettati.",
         "\r\nAlpha\r\nSPAM@EXAMPLE.COM\r\nzeta\r\n", false},
        {"accept-subject", &TFormMain::Accettasempreloggetto1Click, "OggettiOk.txt",
         "Inserire tra gli oggetti sicuri\\nOfferta imperdibile ?",
         "I futuri messaggi con questo\\noggetto verranno sempre accettati.",
         "\r\nAlpha\r\nOFFERTA IMPERDIBILE\r\nzeta\r\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        for (const char* file : {"Mittenti.txt", "MittentiOk.txt", "Oggetti.txt", "OggettiOk.txt"})
            std::filesystem::remove(Home.Path(file));
        Home.Write(c.File, "zeta\r\n\r\nAlpha");
        SetUp();
        Screen.Repaints = 0;
        Screen.Statuses.clear();
        const int32_t resets = Screen.RowsResets;
        (Form.*c.Click)();
        // The classification reports itself like the check's, and clears.
        EXPECT_EQ(Screen.Statuses, (std::vector<std::string>{"Controllo Anti-Spamming...", ""}));
        ASSERT_EQ(Screen.Boxes.size(), 2u);
        EXPECT_EQ(Screen.Boxes[0].Title, "Conferma");
        EXPECT_EQ(Screen.Boxes[0].Message, c.Question);
        EXPECT_EQ(Screen.Boxes[0].Focused, 1);
        EXPECT_EQ(Screen.Boxes[1].Title, "Informazione");
        EXPECT_EQ(Screen.Boxes[1].Message, c.Result);
        EXPECT_EQ(ReadFile(Home.Path(c.File)), c.Saved);
        const TMessageEntry& marked = Form.Messages[1];
        EXPECT_EQ(marked.Locked, c.Locked);
        EXPECT_EQ(marked.Secured, !c.Locked);
        EXPECT_EQ(marked.Selected, c.Locked);
        EXPECT_FALSE(Form.Messages[0].Locked || Form.Messages[0].Secured);
        // The row keeps its tick; only its colour follows.
        EXPECT_FALSE(Form.List().Rows[0].Checked);
        EXPECT_EQ(Screen.Repaints, 1);
        EXPECT_EQ(Screen.RowsResets, resets);
        EXPECT_EQ(Form.RowTextColor(0), c.Locked ? Form.ColorLocked : Form.ColorSecured);
    }
}

TEST_F(RuleCommandsTest, DuplicatesAndEmptyValues) {
    struct Case {
        const char* Name;
        std::string File, Address;
        std::string Box;  // the first box shown
    };
    const std::string present = "Questo mittente risulta gi\xE0 bloccato.";  // già
    const std::vector<Case> cases = {
        {"other-case", "Spam@Example.COM", "spam@example.com", present},
        {"accented-other-case", "PERCH\xC8@X.IT", "perch\xE8@x.it", present},  // perchè
        {"domain-only-still-asks", "example.com", "spam@example.com",
         "Inserire tra i mittenti bloccati \\nspam@example.com ?"},
        {"empty-value-empty-line", "a\r\n\r\nb", "", present},
        {"empty-value-asks", "a", "", "Inserire tra i mittenti bloccati \\n ?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Home.Write("Mittenti.txt", c.File);
        SetUp();
        Form.Messages[1].FromAddress = c.Address;
        Screen.Answer = [](const TBox& box) {
            return int32_t{box.Buttons == mbYesNo ? mrNo : mrOk};
        };
        Form.Bloccamittente1Click();
        ASSERT_EQ(Screen.Boxes.size(), 1u);
        EXPECT_EQ(Screen.Boxes[0].Message, c.Box);
        // Already present or answered no: the file is never rewritten.
        EXPECT_EQ(ReadFile(Home.Path("Mittenti.txt")), c.File);
    }
}

TEST_F(RuleCommandsTest, NoHighlightedRow) {
    Form.SetHighlightedRow(-1);
    for (TClick click :
         {&TFormMain::Bloccamittente1Click, &TFormMain::Bloccaoggetto1Click,
          &TFormMain::Accettasempreilmittente1Click, &TFormMain::Accettasempreloggetto1Click})
        (Form.*click)();
    EXPECT_EQ(Screen.BoxMessages(), std::vector<std::string>(4, "Nessun messaggio evidenziato"));
    EXPECT_TRUE(FolderNames(Home.Dir()) == std::vector<std::string>{"kalmuro.ini"});
}

TEST_F(RuleCommandsTest, FailedSaveKeepsTheEntryInMemoryOnly) {
    Form.BlockedSenders.FileName = Home.Path("missing/Mittenti.txt");
    Form.Bloccamittente1Click();
    ASSERT_EQ(Screen.Boxes.size(), 2u);
    EXPECT_EQ(Screen.Boxes[1].Title, "Errore");
    EXPECT_EQ(Screen.Boxes[1].Message.rfind("Cannot create file \"" + Home.Path("missing/"), 0),
              0u);
    EXPECT_EQ(Form.BlockedSenders.Lines, std::vector<std::string>{"SPAM@EXAMPLE.COM"});
    EXPECT_FALSE(Form.Messages[1].Locked);  // no classification ran
}

}  // namespace
}  // namespace kalmuro::enginetest
