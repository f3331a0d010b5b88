// The message list as a model: one row per record of the shown mailbox, in
// the order the records were added, each holding its record index, its tick
// and the texts of its four columns; and the mailbox list that filters them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/screen.h"
#include "engine/window_texts.h"
#include "mail/accounts.h"
#include "mail/message_entry.h"

namespace kalmuro {

enum TMessageColumn : int32_t { mcSender = 0, mcSubject = 1, mcDate = 2, mcSize = 3 };

struct TMessageRow {
    int32_t RecordIndex = -1;
    bool Checked = false;
    // Sender, subject, date text, size text: fixed when the row is built.
    std::array<std::string, 4> Columns;
};

struct TMessageList {
    std::vector<TMessageRow> Rows;
    int32_t HighlightedRow = -1;

    std::vector<TMailboxItem> Mailboxes;
    int32_t HighlightedMailbox = -1;

    // Ticked rows, kept up to date by every change so that counting costs
    // nothing on long lists.
    int32_t CheckedCount() const { return FChecked; }
    void Clear();
    void Append(TMessageRow row);
    void SetChecked(size_t row, bool checked);

    // The account index of the highlighted mailbox item: -1 for all
    // accounts; kNoMailbox when nothing is highlighted.
    static constexpr int32_t kNoMailbox = -2;
    int32_t ShownAccount() const;

private:
    int32_t FChecked = 0;
};

// The row of one record: caption texts and the tick from Selected.
TMessageRow BuildMessageRow(const TMessageEntry& entry, int32_t recordIndex);

// The tip of a row: sender, " - " subject, " (" size ")", " di " date on one
// line (each part only after a non-empty sender), then the note on a line of
// its own. The line break is expanded.
std::string MessageRowTip(const TMessageRow& row, const std::string& spamNote);

struct TRowColors {
    int32_t Normal, Selected, Locked, Secured;
};
// Ticked beats blocked, blocked beats safe.
int32_t MessageRowColor(bool checked, const TMessageEntry& entry, const TRowColors& colors);

// "Nessun messaggio selezionato", "1 messaggio selezionato", "N messaggi
// selezionati".
std::string SelectionCountText(int32_t count);

// The mailbox items for a list of accounts: all accounts first, then every
// active account by name.
std::vector<TMailboxItem> BuildMailboxItems(const TArrayOfMailAccount& accounts);

}  // namespace kalmuro
