#include "engine/message_list.h"

#include "engine/form_main.h"
#include "mail/formats.h"
#include "mail/text.h"

namespace kalmuro {

void TMessageList::Clear() {
    Rows.clear();
    HighlightedRow = -1;
    FChecked = 0;
}

void TMessageList::Append(TMessageRow row) {
    if (row.Checked) ++FChecked;
    Rows.push_back(std::move(row));
}

void TMessageList::SetChecked(size_t row, bool checked) {
    TMessageRow& r = Rows[row];
    if (r.Checked == checked) return;
    r.Checked = checked;
    FChecked += checked ? 1 : -1;
}

int32_t TMessageList::ShownAccount() const {
    if (HighlightedMailbox < 0 || static_cast<size_t>(HighlightedMailbox) >= Mailboxes.size())
        return kNoMailbox;
    return Mailboxes[static_cast<size_t>(HighlightedMailbox)].AccountIndex;
}

TMessageRow BuildMessageRow(const TMessageEntry& entry, int32_t recordIndex) {
    TMessageRow row;
    row.RecordIndex = recordIndex;
    row.Checked = entry.Selected;
    row.Columns[mcSender] = entry.Sender;
    row.Columns[mcSubject] = entry.Subject;
    row.Columns[mcDate] = DateText(entry.Date);
    row.Columns[mcSize] = MessageSizeText(entry.Size);
    return row;
}

std::string MessageRowTip(const TMessageRow& row, const std::string& spamNote) {
    std::string tip = row.Columns[mcSender];
    if (!tip.empty() && !row.Columns[mcSubject].empty()) tip += " - " + row.Columns[mcSubject];
    if (!tip.empty() && !row.Columns[mcSize].empty()) tip += " (" + row.Columns[mcSize] + ")";
    if (!tip.empty() && !row.Columns[mcDate].empty()) tip += " di " + row.Columns[mcDate];
    if (row.RecordIndex >= 0 && !spamNote.empty()) {
        if (!tip.empty()) tip += ExpandNewlines("\\n");
        tip += spamNote;
    }
    return tip;
}

int32_t MessageRowColor(bool checked, const TMessageEntry& entry, const TRowColors& colors) {
    if (checked) return colors.Selected;
    if (entry.Locked) return colors.Locked;
    if (entry.Secured) return colors.Secured;
    return colors.Normal;
}

std::string SelectionCountText(int32_t count) {
    if (count == 0) return "Nessun messaggio selezionato";
    if (count == 1) return "1 messaggio selezionato";
    return IntToStr(count) + " messaggi selezionati";
}

std::vector<TMailboxItem> BuildMailboxItems(const TArrayOfMailAccount& accounts) {
    std::vector<TMailboxItem> items{{kAllAccountsCaption, -1}};
    for (size_t i = 0; i < accounts.size(); ++i)
        if (accounts[i].Active) items.push_back({accounts[i].AccountName, static_cast<int32_t>(i)});
    return items;
}

// --- The list operations of the main window ---------------------------------

void TFormMain::ClearRows() {
    FList.Clear();
    Screen.RowsReset();
}

void TFormMain::AppendRow(int32_t recordIndex) {
    FList.Append(BuildMessageRow(Messages[static_cast<size_t>(recordIndex)], recordIndex));
}

bool TFormMain::IsInSelectedMailbox(int32_t recordIndex) const {
    if (recordIndex < 0 || static_cast<size_t>(recordIndex) >= Messages.size()) return false;
    const int32_t shown = FList.ShownAccount();
    if (shown == TMessageList::kNoMailbox) return false;
    return shown == -1 || shown == Messages[static_cast<size_t>(recordIndex)].AccountIndex;
}

void TFormMain::AddMessageRow(TMessageRow row) {
    if (!IsInSelectedMailbox(row.RecordIndex)) return;
    FList.Append(std::move(row));
    Screen.RowsAppended(static_cast<int32_t>(FList.Rows.size()) - 1, 1);
}

void TFormMain::FillMessageList() {
    ClearRows();
    FList.Rows.reserve(Messages.size());
    for (size_t i = 0; i < Messages.size(); ++i)
        if (IsInSelectedMailbox(static_cast<int32_t>(i))) AppendRow(static_cast<int32_t>(i));
    if (!FList.Rows.empty()) Screen.RowsAppended(0, static_cast<int32_t>(FList.Rows.size()));
    UpdateCommands();
    ShowSelectionCount();
}

void TFormMain::RefillAfterClassification() {
    // A row's texts come from its record's sender, subject, date and size,
    // which no classification changes; so rows built as the records came in
    // need not be built again, which on a long list is most of the work.
    size_t row = 0;
    for (size_t i = 0; i < Messages.size(); ++i) {
        if (!IsInSelectedMailbox(static_cast<int32_t>(i))) continue;
        if (row == FList.Rows.size() || FList.Rows[row].RecordIndex != static_cast<int32_t>(i)) {
            FillMessageList();
            return;
        }
        ++row;
    }
    if (row != FList.Rows.size()) {
        FillMessageList();
        return;
    }
    for (size_t r = 0; r < FList.Rows.size(); ++r)
        FList.SetChecked(r, Messages[static_cast<size_t>(FList.Rows[r].RecordIndex)].Selected);
    FList.HighlightedRow = -1;
    Screen.RowsReset();
    if (!FList.Rows.empty()) Screen.RowsAppended(0, static_cast<int32_t>(FList.Rows.size()));
    UpdateCommands();
    ShowSelectionCount();
}

int32_t TFormMain::PosMsgInArray(int32_t row) {
    int32_t index = -1;
    if (row >= 0 && static_cast<size_t>(row) < FList.Rows.size())
        index = FList.Rows[static_cast<size_t>(row)].RecordIndex;
    if (index < 0 || static_cast<size_t>(index) >= Messages.size()) {
        ShowError("nPosMsgInArray: riferimento a -1");
        return -1;
    }
    return index;
}

void TFormMain::ShowSelectionCount() {
    ShowStatus(SelectionCountText(CountCheckedMessages()));
    UpdateCommands();
}

bool TFormMain::RequireHighlightedMessage() {
    if (FList.HighlightedRow >= 0 && static_cast<size_t>(FList.HighlightedRow) < FList.Rows.size())
        return true;
    ShowError("Nessun messaggio evidenziato");
    return false;
}

void TFormMain::SetHighlightedRow(int32_t row) {
    const int32_t previous = FList.HighlightedRow;
    FList.HighlightedRow = row >= 0 && static_cast<size_t>(row) < FList.Rows.size() ? row : -1;
    if (FList.HighlightedRow == previous) return;
    // The row the highlight leaves and the row it reaches both change: each
    // copies its tick into its record (undoing what a rule command's
    // classification wrote behind the rows), then the count is shown.
    for (const int32_t changed : {previous, FList.HighlightedRow}) {
        if (changed < 0 || static_cast<size_t>(changed) >= FList.Rows.size()) continue;
        const TMessageRow& r = FList.Rows[static_cast<size_t>(changed)];
        if (r.RecordIndex >= 0 && static_cast<size_t>(r.RecordIndex) < Messages.size())
            Messages[static_cast<size_t>(r.RecordIndex)].Selected = r.Checked;
    }
    ShowSelectionCount();
}

void TFormMain::ApplyRowCheck(int32_t row, bool checked) {
    FList.SetChecked(static_cast<size_t>(row), checked);
    Screen.RowChanged(row);
    const int32_t index = PosMsgInArray(row);
    if (index >= 0) Messages[static_cast<size_t>(index)].Selected = checked;
    ShowSelectionCount();
}

void TFormMain::SetRowChecked(int32_t row, bool checked) {
    if (row < 0 || static_cast<size_t>(row) >= FList.Rows.size()) return;
    if (FList.Rows[static_cast<size_t>(row)].Checked == checked) return;
    ApplyRowCheck(row, checked);
}

// The walks re-read the row count at every step: each change pumps, and a
// nested handler may have rebuilt the list meanwhile.
void TFormMain::Selezionatutto1Click() {
    for (size_t i = 0; i < FList.Rows.size(); ++i) SetRowChecked(static_cast<int32_t>(i), true);
}

void TFormMain::Deselezionatutto1Click() {
    for (size_t i = 0; i < FList.Rows.size(); ++i) SetRowChecked(static_cast<int32_t>(i), false);
}

void TFormMain::Invertiselezione1Click() {
    for (size_t i = 0; i < FList.Rows.size(); ++i)
        SetRowChecked(static_cast<int32_t>(i), !FList.Rows[i].Checked);
}

void TFormMain::ShowMailboxes() {
    int active = 0;
    for (const TMailAccount& account : Accounts)
        if (account.Active) ++active;
    Screen.SetMailboxes(FList.Mailboxes, FList.HighlightedMailbox, active > 1);
}

void TFormMain::ListViewMailBoxesSelectItem(int32_t item) {
    if (Checking || Deleting) {
        // The rows belong to the running operation: put the highlight back.
        ShowMailboxes();
        return;
    }
    FList.HighlightedMailbox =
        item >= 0 && static_cast<size_t>(item) < FList.Mailboxes.size() ? item : -1;
    FillMessageList();
}

int32_t TFormMain::RowTextColor(int32_t row) const {
    if (row < 0 || static_cast<size_t>(row) >= FList.Rows.size()) return -1;
    const TMessageRow& r = FList.Rows[static_cast<size_t>(row)];
    if (r.RecordIndex < 0 || static_cast<size_t>(r.RecordIndex) >= Messages.size()) return -1;
    return MessageRowColor(r.Checked, Messages[static_cast<size_t>(r.RecordIndex)],
                           {ColorNormal, ColorSelected, ColorLocked, ColorSecured});
}

std::string TFormMain::RowTip(int32_t row) const {
    if (row < 0 || static_cast<size_t>(row) >= FList.Rows.size()) return std::string();
    const TMessageRow& r = FList.Rows[static_cast<size_t>(row)];
    const bool known = r.RecordIndex >= 0 && static_cast<size_t>(r.RecordIndex) < Messages.size();
    return MessageRowTip(
        r, known ? Messages[static_cast<size_t>(r.RecordIndex)].SpamNote : std::string());
}

}  // namespace kalmuro
