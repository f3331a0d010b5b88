// The report lines of the headless check.
#include "engine/check_report.h"

#include <gtest/gtest.h>

namespace kalmuro {
namespace {

TEST(TerminalText, ConvertsAndNeutralisesControls) {
    struct Case {
        const char* Name;
        std::string In, Out;
    };
    const std::vector<Case> cases = {
        {"plain", "Saldi", "Saldi"},
        {"accents", "Perch\xE8 caff\xE8", "Perch\xC3\xA8 caff\xC3\xA8"},
        {"euro-and-quotes", "\x80 \x93x\x94", "\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D"},
        {"tab-cr-lf", "a\tb\rc\nd", "a b c d"},
        {"escape-sequence", "\x1B]0;title\x07", " ]0;title "},
        {"nul-and-del", std::string("a\0b\x7F", 4), "a b "},
        {"undefined-bytes", "\x81\x8D\x8F\x90\x9D", "     "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(TerminalText(c.In), c.Out);
    }
}

TEST(CheckRowLine, ColumnsAreTheirTerminalText) {
    std::string every;
    for (int c = 0; c < 256; ++c) every += static_cast<char>(c);
    TMessageEntry entry;
    entry.SpamNote = every + every;
    TMessageRow row;
    for (std::string& column : row.Columns) column = every;
    const std::string line = CheckRowLine(entry, row);
    std::string expected = "0\t0\t-\t-";
    for (size_t i = 0; i < row.Columns.size(); ++i) expected += "\t" + TerminalText(every);
    expected += "\t" + TerminalText(entry.SpamNote);
    EXPECT_EQ(line, expected);
}

TEST(CheckRowLine, NineFieldsSeparatedByTabs) {
    struct Case {
        const char* Name;
        bool Checked, Locked, Secured;
        std::string Note;
        std::string Line;
    };
    const std::vector<Case> cases = {
        {"plain", false, false, false, "", "2\t17\t-\t-\tMario\tCiao\tLun 5/03/07 14:09\t1k\t"},
        {"blocked-ticked", true, true, false, "<<< Oggetto bloccato: ciao >>>",
         "2\t17\tX\tB\tMario\tCiao\tLun 5/03/07 14:09\t1k\t<<< Oggetto bloccato: ciao >>>"},
        {"blocked-unticked", false, true, false, "n",
         "2\t17\t-\tB\tMario\tCiao\tLun 5/03/07 14:09\t1k\tn"},
        {"safe-ticked", true, false, true, "", "2\t17\tX\tS\tMario\tCiao\tLun 5/03/07 14:09\t1k\t"},
        {"tab-in-note", false, false, false, "a\tb",
         "2\t17\t-\t-\tMario\tCiao\tLun 5/03/07 14:09\t1k\ta b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TMessageEntry entry;
        entry.AccountIndex = 2;
        entry.MsgNumber = 17;
        entry.Locked = c.Locked;
        entry.Secured = c.Secured;
        entry.SpamNote = c.Note;
        TMessageRow row;
        row.Checked = c.Checked;
        row.Columns = {"Mario", "Ciao", "Lun 5/03/07 14:09", "1k"};
        EXPECT_EQ(CheckRowLine(entry, row), c.Line);
    }
    // A hostile column can never add a field or a line.
    TMessageRow row;
    row.Columns = {"a\tb", "c\r\nd", "", ""};
    const std::string line = CheckRowLine(TMessageEntry{}, row);
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 8);
    EXPECT_EQ(line.find('\n'), std::string::npos);
}

TEST(MsgBoxLine, OneLinePerBox) {
    struct Case {
        const char* Name;
        std::string Title, Message, Line;
    };
    const std::vector<Case> cases = {
        {"simple", "Errore", "Impossibile connettersi a pop.example.org",
         "Errore: Impossibile connettersi a pop.example.org"},
        {"markers-and-trailing", "Errore",
         "Il server ha risposto con l'errore 2:\\n [AUTH] Authentication failed.\\n",
         "Errore: Il server ha risposto con l'errore 2:  [AUTH] Authentication failed."},
        {"capital-marker", "Informazione", "uno\\Ndue", "Informazione: uno due"},
        {"other-backslash-stays", "Errore", "C:\\temp\\x", "Errore: C:\\temp\\x"},
        {"real-line-breaks", "Errore", "Socket Error # 10061\r\nConnection refused.\r\n",
         "Errore: Socket Error # 10061  Connection refused."},
        {"only-blanks", "Errore", "\\n  \\n", "Errore: "},
        {"lone-backslash-at-end", "Errore", "a\\", "Errore: a\\"},
        {"accented", "Conferma", "Il file scelto esiste gi\xE0. Sostituirlo ?",
         "Conferma: Il file scelto esiste gi\xC3\xA0. Sostituirlo ?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(MsgBoxLine(c.Title, c.Message), c.Line);
    }
}

}  // namespace
}  // namespace kalmuro
