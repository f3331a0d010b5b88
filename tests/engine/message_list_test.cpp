// Rows, the mailbox filter, ticks and the texts a view draws.
#include "engine/message_list.h"

#include <gtest/gtest.h>

#include "engine/engine_harness.h"

namespace kalmuro::enginetest {
namespace {

TMessageRow Row(std::string sender, std::string subject, std::string date, std::string size,
                int32_t index = 0) {
    TMessageRow row;
    row.RecordIndex = index;
    row.Columns = {std::move(sender), std::move(subject), std::move(date), std::move(size)};
    return row;
}

TEST(MessageRowTip, ComposesFromTheRowsOwnTexts) {
    const std::string lfcr = "\n\r";
    struct Case {
        const char* Name;
        TMessageRow Row;
        std::string Note;
        std::string Tip;
    };
    const std::vector<Case> cases = {
        {"full", Row("Newsletter", "Offerta", "Lun 5/03/07 14:09", "12k"), "",
         "Newsletter - Offerta (12k) di Lun 5/03/07 14:09"},
        {"note-on-second-line", Row("Newsletter", "Offerta", "Lun 5/03/07 14:09", "12k"),
         "<<< Mittente bloccato: news >>>",
         "Newsletter - Offerta (12k) di Lun 5/03/07 14:09" + lfcr +
             "<<< Mittente bloccato: news >>>"},
        {"no-subject", Row("a@b", "", "Lun 5/03/07 14:09", "0k"), "",
         "a@b (0k) di Lun 5/03/07 14:09"},
        {"no-sender-only-note", Row("", "Offerta", "Lun 5/03/07 14:09", "1k"), "<<< n >>>",
         "<<< n >>>"},
        {"no-sender-no-note", Row("", "Offerta", "Lun 5/03/07 14:09", "1k"), "", ""},
        {"no-record-no-note", Row("a@b", "s", "d", "1k", -1), "<<< n >>>", "a@b - s (1k) di d"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(MessageRowTip(c.Row, c.Note), c.Tip);
    }
}

TEST(MessageRowColor, TickedBeatsBlockedBeatsSafe) {
    const TRowColors colors{1, 2, 3, 4};
    struct Case {
        const char* Name;
        bool Checked, Locked, Secured;
        int32_t Color;
    };
    const std::vector<Case> cases = {
        {"plain", false, false, false, 1},        {"ticked", true, false, false, 2},
        {"ticked-blocked", true, true, false, 2}, {"blocked-unticked", false, true, false, 3},
        {"safe", false, false, true, 4},          {"ticked-safe", true, false, true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TMessageEntry entry;
        entry.Locked = c.Locked;
        entry.Secured = c.Secured;
        EXPECT_EQ(MessageRowColor(c.Checked, entry, colors), c.Color);
    }
}

TEST(EngineTexts, SelectionCountSenderAndSummary) {
    EXPECT_EQ(SelectionCountText(0), "Nessun messaggio selezionato");
    EXPECT_EQ(SelectionCountText(1), "1 messaggio selezionato");
    EXPECT_EQ(SelectionCountText(2), "2 messaggi selezionati");
    EXPECT_EQ(SelectionCountText(12), "12 messaggi selezionati");

    struct SenderCase {
        const char* Name;
        std::string FromName, FromAddress, Sender;
    };
    const std::vector<SenderCase> senders = {
        {"both", "Mario Rossi", "mario@example.it", "Mario Rossi (mario@example.it)"},
        {"trimmed", " \tMario ", " mario@example.it\r", "Mario (mario@example.it)"},
        {"address-only", "", "mario@example.it", "mario@example.it"},
        {"name-only", "Mario", "  ", "Mario"},
        {"neither", " ", "", ""},
    };
    for (const SenderCase& c : senders) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(SenderText(c.FromName, c.FromAddress), c.Sender);
    }

    struct SummaryCase {
        const char* Name;
        size_t Records;
        int64_t Added;
        size_t Rows;
        std::string Text;
    };
    const std::vector<SummaryCase> summaries = {
        {"none", 0, -4, 0, "Non ci sono messaggi"},
        {"one", 1, 1, 1, "1 messaggi nuovi su un totale di 1 messaggi"},
        {"nothing-new", 5, 0, 5, "0 messaggi nuovi su un totale di 5 messaggi"},
        {"fewer", 3, -2, 3, "3 messaggi"},
        {"other-mailbox", 12, 3, 4, "3 messaggi nuovi su un totale di 4 messaggi"},
        {"records-but-no-rows", 2, 2, 0, "2 messaggi nuovi su un totale di 0 messaggi"},
    };
    for (const SummaryCase& c : summaries) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(CheckSummaryText(c.Records, c.Added, c.Rows), c.Text);
    }
}

TEST(BuildMessageRow, ColumnsFromTheRecord) {
    struct Case {
        const char* Name;
        TDateTime Date;
        int32_t Size;
        std::string DateText, SizeText;
    };
    TDateTime march = 0, time = 0;
    ASSERT_TRUE(TryEncodeDate(2007, 3, 5, march));
    ASSERT_TRUE(TryEncodeTime(14, 9, 0, 0, time));
    const std::vector<Case> cases = {
        {"never-read", 0, 0, "Sab 30/12/99 00:00", "0k"},
        {"no-size", march + time, -1, "Lun 5/03/07 14:09", "0k"},
        {"half-kilobyte", march, 512, "Lun 5/03/07 00:00", "0k"},
        {"one-and-a-half", march, 1536, "Lun 5/03/07 00:00", "2k"},
        {"grouped", march, 2000000, "Lun 5/03/07 00:00", "1.953k"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TMessageEntry entry;
        entry.Sender = "s";
        entry.Subject = "o";
        entry.Date = c.Date;
        entry.Size = c.Size;
        entry.Selected = true;
        const TMessageRow row = BuildMessageRow(entry, 7);
        EXPECT_EQ(row.RecordIndex, 7);
        EXPECT_TRUE(row.Checked);
        EXPECT_EQ(row.Columns[mcSender], "s");
        EXPECT_EQ(row.Columns[mcSubject], "o");
        EXPECT_EQ(row.Columns[mcDate], c.DateText);
        EXPECT_EQ(row.Columns[mcSize], c.SizeText);
    }
}

// A window with three accounts (the second inactive) and six records:
// accounts 0, 2, 0, 2, 0, 2, records 1 and 4 ticked.
class MessageListTest : public TFormTest {
protected:
    void SetUp() override {
        Load({Account("Alice", 1, "a", "p"), Account("Bob", 2, "b", "p", false),
              Account("Carol", 3, "c", "p")});
        for (int i = 0; i < 6; ++i) {
            TMessageEntry e;
            e.AccountIndex = i % 2 == 0 ? 0 : 2;
            e.MsgNumber = i + 1;
            e.Sender = "sender" + std::to_string(i);
            e.Selected = e.Locked = i == 1 || i == 4;
            Form.Messages.push_back(e);
        }
        Form.FillMessageList();
    }

    std::vector<int32_t> ShownRecords() const {
        std::vector<int32_t> indexes;
        for (const TMessageRow& row : Form.List().Rows) indexes.push_back(row.RecordIndex);
        return indexes;
    }
};

TEST_F(MessageListTest, TheMailboxFilterShowsOneAccountInArrayOrder) {
    const std::vector<TMailboxItem> items = {
        {"Tutti gli accounts", -1}, {"Alice", 0}, {"Carol", 2}};
    EXPECT_EQ(Screen.Mailboxes, items);
    EXPECT_EQ(Screen.MailboxHighlight, 0);
    EXPECT_TRUE(Screen.PanelVisible);
    struct Case {
        const char* Name;
        int32_t Item;
        std::vector<int32_t> Records;
        int32_t Checked;
    };
    const std::vector<Case> cases = {
        {"all", 0, {0, 1, 2, 3, 4, 5}, 2}, {"alice", 1, {0, 2, 4}, 1},
        {"carol", 2, {1, 3, 5}, 1},        {"nothing-highlighted", -1, {}, 0},
        {"beyond-the-list", 7, {}, 0},     {"all-again", 0, {0, 1, 2, 3, 4, 5}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Form.ListViewMailBoxesSelectItem(c.Item);
        EXPECT_EQ(ShownRecords(), c.Records);
        EXPECT_EQ(Form.CountCheckedMessages(), c.Checked);
        EXPECT_EQ(Screen.Statuses.back(), SelectionCountText(c.Checked));
        EXPECT_EQ(Screen.Commands.Delete, c.Checked > 0);
        for (int32_t r = 0; r < 6; ++r)
            EXPECT_EQ(Form.IsInSelectedMailbox(r),
                      std::find(c.Records.begin(), c.Records.end(), r) != c.Records.end());
    }
    EXPECT_FALSE(Form.IsInSelectedMailbox(6));
    EXPECT_FALSE(Form.IsInSelectedMailbox(-1));
}

TEST_F(MessageListTest, TicksReachTheRecordsAndSurviveAMailboxSwitch) {
    Form.SetRowChecked(0, true);
    EXPECT_TRUE(Form.Messages[0].Selected);
    EXPECT_EQ(Screen.Statuses.back(), "3 messaggi selezionati");
    Form.SetRowChecked(1, false);
    EXPECT_FALSE(Form.Messages[1].Selected);
    EXPECT_EQ(Form.RowTextColor(1), kDefaultColorLocked);  // unticked, still blocked
    Form.SetRowChecked(4, true);                           // no change: nothing reported
    EXPECT_EQ(Screen.Statuses.back(), "2 messaggi selezionati");
    Form.ListViewMailBoxesSelectItem(2);  // Carol: records 1, 3, 5
    EXPECT_EQ(Form.CountCheckedMessages(), 0);
    Form.ListViewMailBoxesSelectItem(0);
    EXPECT_EQ(Form.CountCheckedMessages(), 2);
    EXPECT_TRUE(Form.List().Rows[0].Checked);
    EXPECT_FALSE(Form.List().Rows[1].Checked);
    EXPECT_TRUE(Form.List().Rows[4].Checked);
}

TEST_F(MessageListTest, SelectionCommands) {
    struct Step {
        const char* Name;
        void (TFormMain::*Command)();
        std::vector<bool> Ticks;
        std::string Status;
    };
    const std::vector<Step> steps = {
        {"invert",
         &TFormMain::Invertiselezione1Click,
         {true, false, true, true, false, true},
         "4 messaggi selezionati"},
        {"invert-back",
         &TFormMain::Invertiselezione1Click,
         {false, true, false, false, true, false},
         "2 messaggi selezionati"},
        {"all", &TFormMain::Selezionatutto1Click, std::vector<bool>(6, true),
         "6 messaggi selezionati"},
        {"none", &TFormMain::Deselezionatutto1Click, std::vector<bool>(6, false),
         "Nessun messaggio selezionato"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.Name);
        (Form.*step.Command)();
        std::vector<bool> rows, records;
        for (const TMessageRow& row : Form.List().Rows) rows.push_back(row.Checked);
        for (const TMessageEntry& m : Form.Messages) records.push_back(m.Selected);
        EXPECT_EQ(rows, step.Ticks);
        EXPECT_EQ(records, step.Ticks);
        EXPECT_EQ(Screen.Statuses.back(), step.Status);
    }
    Form.ListViewMailBoxesSelectItem(1);  // Alice alone
    Form.Selezionatutto1Click();
    EXPECT_EQ(Screen.Statuses.back(), "3 messaggi selezionati");
    Form.ListViewMailBoxesSelectItem(2);
    Form.Invertiselezione1Click();  // Carol's three
    Form.Deselezionatutto1Click();
    EXPECT_EQ(Form.Messages[0].Selected, true);  // Alice's ticks stay in the records
}

TEST_F(MessageListTest, OneTickedRowIsSaidInTheSingular) {
    Form.ListViewMailBoxesSelectItem(1);
    Form.Deselezionatutto1Click();
    Form.SetRowChecked(2, true);
    EXPECT_EQ(Screen.Statuses.back(), "1 messaggio selezionato");
    EXPECT_TRUE(Screen.Commands.Delete);
}

TEST_F(MessageListTest, AWalkSurvivesTheListBeingRebuiltUnderIt) {
    bool switched = false;
    Screen.OnPump = [&] {
        if (!switched && Form.CountCheckedMessages() == 3) {
            switched = true;
            Form.ListViewMailBoxesSelectItem(1);  // only three rows left
        }
    };
    Form.Selezionatutto1Click();
    EXPECT_TRUE(switched);
    int32_t ticked = 0;
    for (const TMessageRow& row : Form.List().Rows) ticked += row.Checked ? 1 : 0;
    EXPECT_EQ(Form.CountCheckedMessages(), ticked);
    EXPECT_EQ(ShownRecords(), (std::vector<int32_t>{0, 2, 4}));
}

TEST_F(MessageListTest, HighlightAndRecordLookUp) {
    EXPECT_FALSE(Form.RequireHighlightedMessage());
    Form.SetHighlightedRow(3);
    EXPECT_TRUE(Form.RequireHighlightedMessage());
    EXPECT_EQ(Form.PosMsgInArray(3), 3);
    Form.SetHighlightedRow(6);
    EXPECT_EQ(Form.HighlightedRow(), -1);
    EXPECT_EQ(Form.PosMsgInArray(6), -1);
    EXPECT_EQ(Form.PosMsgInArray(-1), -1);
    const std::vector<std::string> boxes = {"Nessun messaggio evidenziato",
                                            "nPosMsgInArray: riferimento a -1",
                                            "nPosMsgInArray: riferimento a -1"};
    EXPECT_EQ(Screen.BoxMessages(), boxes);
    Form.SetHighlightedRow(2);
    Form.ListViewMailBoxesSelectItem(2);  // a rebuild forgets the highlight
    EXPECT_EQ(Form.HighlightedRow(), -1);
}

TEST_F(MessageListTest, TheRowsBelongToARunningOperation) {
    for (bool TFormMain::*flag : {&TFormMain::Checking, &TFormMain::Deleting}) {
        Form.*flag = true;
        const int32_t resets = Screen.RowsResets;
        Screen.MailboxHighlight = 99;  // the view moved its highlight
        Form.ListViewMailBoxesSelectItem(2);
        EXPECT_EQ(Screen.RowsResets, resets);
        EXPECT_EQ(Screen.MailboxHighlight, 0);  // and was told to put it back
        EXPECT_EQ(Form.List().Rows.size(), 6u);
        Form.*flag = false;
    }
}

TEST_F(MessageListTest, TipAndColourThroughTheWindow) {
    Form.Messages[1].SpamNote = "<<< Mittente bloccato: x >>>";
    EXPECT_EQ(Form.RowTip(1).substr(0, 9), "sender1 (");
    EXPECT_NE(Form.RowTip(1).find("\n\r<<< Mittente bloccato: x >>>"), std::string::npos);
    EXPECT_EQ(Form.RowTip(9), "");
    EXPECT_EQ(Form.RowTextColor(1), kDefaultColorSelected);
    EXPECT_EQ(Form.RowTextColor(0), kDefaultColorNormal);
    EXPECT_EQ(Form.RowTextColor(-1), -1);
}

}  // namespace
}  // namespace kalmuro::enginetest
