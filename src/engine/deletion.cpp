// Deletion of the ticked messages on their servers: one session per
// message, or, where the server takes commands ahead of their answers, one
// per account with each step's commands sent together; the unique id checked
// again, the copy in the recycle folder made durable before DELE, and a new
// check after every run.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/form_main.h"
#include "engine/message_files.h"
#include "mail/atomic_file.h"
#include "mail/formats.h"
#include "mail/mime/header_list.h"
#include "mail/settings.h"
#include "mail/text.h"
#include "mail/user_folders.h"

namespace kalmuro {

namespace {

// The unique id of a UIDL reply "n id": the text after the first blank.
std::string_view UidOf(std::string_view uidlText) {
    const size_t blank = uidlText.find(' ');
    return blank == std::string_view::npos ? uidlText : uidlText.substr(blank + 1);
}

// The lines of a text whose every line ends with CR LF.
std::vector<std::string_view> CrLfLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string_view::npos;
         start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

}  // namespace

bool SameHeaderBlock(std::string_view headerText, std::string_view messageText) {
    // The header fetch keeps its lines as sent (dot-stuffed) and skips
    // empty ones; RETR unstuffs.
    std::vector<std::string> header;
    for (std::string_view line : CrLfLines(headerText)) {
        if (line.size() >= 2 && line[0] == '.' && line[1] == '.') line.remove_prefix(1);
        header.emplace_back(line);
    }
    if (header.empty()) return false;  // nothing to compare with
    // The header block: the lines up to the first empty one. A server that
    // answered the header fetch with the whole message gave every non-empty
    // line instead.
    size_t i = 0, start = 0;
    bool inHeader = true;
    for (size_t end; (end = messageText.find("\r\n", start)) != std::string_view::npos;
         start = end + 2) {
        const std::string_view line = messageText.substr(start, end - start);
        if (line.empty()) {
            if (inHeader && i == header.size()) return true;
            inHeader = false;
            continue;
        }
        if (i == header.size() || line != header[i]) return false;
        ++i;
    }
    return i == header.size();
}

std::string MessageLabel(const TMessageEntry& entry) {
    return entry.Subject + " di " + entry.Sender;
}

std::string DeleteQuestion(bool copyToRecycle, int32_t count) {
    const std::string verb = copyToRecycle ? "Spostare nel Cestino" : "Eliminare definitivamente";
    if (count == 1) return verb + " il messaggio selezionato ?";
    return verb + " i " + IntToStr(count) + " messaggi selezionati ?";
}

void TFormMain::DeleteSelectedMessages() {
    RunDeletion(TAutoDeletion::FromSettings, [this]() -> std::optional<bool> {
        bool copy = ReadIniBool(kSectionSetup, "CopyToRecycle", true);
        if (Screen.IsShiftDown()) copy = !copy;
        const int32_t count = CountCheckedMessages();
        if (count == 0) {
            ShowError("Non ci sono messaggi selezionati");
            return std::nullopt;
        }
        if (!AskConfirmation(DeleteQuestion(copy, count), 1)) return std::nullopt;
        return copy;
    });
}

void TFormMain::DeleteBlockedMessages() {
    // This check ends without another automatic run: a message that cannot
    // be deleted would otherwise bring the same failure back for ever.
    RunDeletion(TAutoDeletion::Never, [this]() -> std::optional<bool> {
        const bool copy = ReadIniBool(kSectionSetup, "CopyToRecycle", true);
        if (CountCheckedMessages() > 0) return copy;
        return std::nullopt;
    });
}

void TFormMain::RunDeletion(TAutoDeletion checkAfter,
                            const std::function<std::optional<bool>()>& copyChoice) {
    // The command is off while another long operation runs; a nested call
    // must not start a second one either.
    if (Checking || Deleting) return;
    Deleting = true;
    FRecycleSwept = false;
    bool ran = false;
    std::string escaped;
    try {
        SuspendAutoCheck();
        UpdateCommands();
        PumpMessages();
        if (const std::optional<bool> copy = copyChoice()) {
            ran = true;
            WalkTickedRows(*copy);
        }
    } catch (const std::exception& e) {
        escaped = e.what();
    }
    // The window must never stay in the deleting state, whatever the
    // settings file holds.
    try {
        ResumeAutoCheck();
    } catch (const std::exception& e) {
        if (escaped.empty()) escaped = e.what();
    }
    Deleting = false;
    UpdateCommands();
    if (!escaped.empty()) ShowError(escaped);
    if (ran) CheckMail(checkAfter);
}

void TFormMain::WalkTickedRows(bool copyToRecycle) {
    FPipelining = ReadIniBool(kSectionSetup, kKeyPipelining, true);
    FSequentialAccounts.clear();
    ShowStopButton();
    bool ambiguous = false;
    try {
        // Last row first: within an account the rows follow the message
        // numbers, and a deletion made final never renumbers a row to come.
        for (int64_t row = static_cast<int64_t>(FList.Rows.size()) - 1; row >= 0; --row) {
            if (StopRequested()) break;
            // The rows belong to the run; the check is only a guard.
            if (static_cast<size_t>(row) >= FList.Rows.size()) continue;
            const TMessageRow& item = FList.Rows[static_cast<size_t>(row)];
            if (!item.Checked) continue;
            // Passed over rather than ending the run: the others can still
            // go, and one box says why these stay.
            if (item.RecordIndex >= 0 && static_cast<size_t>(item.RecordIndex) < Messages.size() &&
                UidIsAmbiguous(item.RecordIndex)) {
                ambiguous = true;
                continue;
            }
            if (!DeleteFromRow(row, copyToRecycle, ambiguous, true)) break;
        }
    } catch (...) {
        HideStopButton();
        throw;
    }
    HideStopButton();
    if (ambiguous) ShowError(kAmbiguousUidError);
}

bool TFormMain::UidIsAmbiguous(int32_t recordIndex) const {
    const TMessageEntry& entry = Messages[static_cast<size_t>(recordIndex)];
    if (entry.UidlText.empty()) return false;
    const std::string_view uid = UidOf(entry.UidlText);
    for (size_t i = 0; i < Messages.size(); ++i) {
        const TMessageEntry& other = Messages[i];
        if (static_cast<int32_t>(i) != recordIndex && other.AccountIndex == entry.AccountIndex &&
            !other.UidlText.empty() && UidOf(other.UidlText) == uid)
            return true;
    }
    return false;
}

bool TFormMain::DeleteMessage(int32_t row, bool copyToRecycle) {
    int64_t at = row;
    bool ambiguous = false;
    FSequentialAccounts.clear();
    return DeleteFromRow(at, copyToRecycle, ambiguous, false);
}

bool TFormMain::DeleteFromRow(int64_t& row, bool copyToRecycle, bool& ambiguous, bool gather) {
    const int32_t index = PosMsgInArray(static_cast<int32_t>(row));
    if (index < 0 || !IsInSelectedMailbox(index)) return false;
    // An id the server gave to two messages cannot tell them apart once the
    // numbering shifts: such messages are never deleted.
    if (UidIsAmbiguous(index)) {
        ShowError(kAmbiguousUidError);
        return false;
    }
    // A copy: handlers that run in the pumps below may touch Messages.
    const TMessageEntry entry = Messages[static_cast<size_t>(index)];
    if (AccountIsImap(entry.AccountIndex))
        return DeleteImapBatch(gather ? BatchFromRow(entry, row, ambiguous)
                                      : std::vector<TMessageEntry>{entry},
                               copyToRecycle);
    bool result = false;
    try {
        if (ConnectAccountForMessage(entry.AccountIndex)) {
            const bool known = std::find(FSequentialAccounts.begin(), FSequentialAccounts.end(),
                                         entry.AccountIndex) != FSequentialAccounts.end();
            if (!known && SessionTakesPipelining())
                return DeleteBatch(gather ? BatchFromRow(entry, row, ambiguous)
                                          : std::vector<TMessageEntry>{entry},
                                   copyToRecycle);
            if (!known) FSequentialAccounts.push_back(entry.AccountIndex);
            // Only the message the check saw is deleted: same number, same
            // unique id, same header. Without an id there is nothing to
            // compare with.
            bool exists = false;
            if (!entry.UidlText.empty()) {
                ShowStatus("Verifica esistenza del messaggio " + MessageLabel(entry));
                exists = UidUnchanged(entry);
            }
            if (exists)
                exists = copyToRecycle ? CopyToRecycleFolder(entry)
                                       : entry.HeaderText.empty() || HeaderUnchanged(entry);
            if (exists) {
                ShowStatus("Eliminazione del messaggio " + MessageLabel(entry));
                result = Pop3Client1.DeleteMessageOnServer(entry.MsgNumber);
            } else {
                ShowError(kDeleteFailed);
            }
            ClearStatus();
        }
        if (result)
            CommitAndDisconnect();
        else
            DisconnectServer();
    } catch (...) {
        // The session ends in every case; the error itself goes on up.
        EndSessionAfterError();
        throw;
    }
    return result;
}

bool TFormMain::UidUnchanged(const TMessageEntry& entry) {
    std::string uid;
    return Pop3Client1.MessageUid(uid, entry.MsgNumber) && !uid.empty() &&
           uid == entry.UidlText;
}

std::vector<TMessageEntry> TFormMain::BatchFromRow(const TMessageEntry& first, int64_t& row,
                                                  bool& ambiguous) {
    std::vector<TMessageEntry> batch{first};
    const int32_t account = first.AccountIndex;
    // The ticked rows that follow in the walk, as long as they are this
    // account's; the walk goes on from the first that is not.
    for (int64_t next = row - 1; next >= 0; --next) {
        const TMessageRow& item = FList.Rows[static_cast<size_t>(next)];
        if (!item.Checked) {
            row = next;
            continue;
        }
        const int32_t index = item.RecordIndex;
        if (index < 0 || static_cast<size_t>(index) >= Messages.size() ||
            !IsInSelectedMailbox(index) || Messages[static_cast<size_t>(index)].AccountIndex != account)
            break;
        row = next;
        if (UidIsAmbiguous(index)) {
            ambiguous = true;
            continue;
        }
        batch.push_back(Messages[static_cast<size_t>(index)]);
    }
    return batch;
}

// Each step's commands go out together and their answers are read in the
// walk's order; a message goes on only when every step before succeeded for
// it and for every message before it, so that exactly the messages the walk
// one at a time would delete are deleted, the others untouched. The unique
// ids are all read first; then each message in turn shows its texts as the
// walk one at a time would, and Stop takes effect between two of them. Boxes
// wait until the session has ended, so that nobody's reading holds deletions
// uncommitted.
bool TFormMain::DeleteBatch(const std::vector<TMessageEntry>& batch, bool copyToRecycle) {
    size_t verified = 0;  // messages [0, verified) have their unique id
    while (verified < batch.size() && !batch[verified].UidlText.empty()) ++verified;
    ReadAheadInOrder(verified, [&](size_t k) {
        return "UIDL " + std::to_string(batch[k].MsgNumber);
    }, [&](size_t i) {
        if (UidUnchanged(batch[i])) return true;
        verified = i;
        return false;
    });

    // The copies (or the header checks) of the verified messages; the one
    // that failed verification, if any, comes last to show why.
    size_t go = std::min(batch.size(), verified + 1);
    std::vector<std::string> boxes;
    std::vector<std::string> copies(batch.size());
    auto fail = [&](size_t i, std::vector<std::string> reasons) {
        go = i;
        boxes = std::move(reasons);
        boxes.push_back(kDeleteFailed);
        return false;
    };
    ReadAheadInOrder(std::min(go, verified), [&](size_t k) {
        const TMessageEntry& e = batch[k];
        const std::string n = std::to_string(e.MsgNumber);
        // A record without a header has nothing to compare: its id alone
        // verifies it, and no command goes out for it.
        if (!copyToRecycle && e.HeaderText.empty()) return std::string();
        return copyToRecycle ? "RETR " + n : "TOP " + n + " 0";
    }, [&](size_t i) {
        // Stop between two messages; the one in hand is finished.
        if (i > 0 && StopRequested()) {
            go = i;
            return false;
        }
        if (!batch[i].UidlText.empty())
            ShowStatus("Verifica esistenza del messaggio " + MessageLabel(batch[i]));
        if (i == verified) return fail(i, {});
        if (!copyToRecycle)
            return batch[i].HeaderText.empty() || HeaderUnchanged(batch[i]) || fail(i, {});
        std::vector<std::string> reasons;
        return CopyToRecycleFolder(batch[i], &reasons, &copies[i]) || fail(i, std::move(reasons));
    }, go);
    go = std::min(go, verified);

    // A step that lost the connection leaves nothing that could be deleted.
    if (go > 0 && Pop3Client1.IsConnected()) {
        DeleteVerified(batch, go, copies);
        ClearStatus();
        // A QUIT without its answer may still have made every deletion
        // final: each copy stays, as one at a time its copy would.
        CommitAndDisconnect();
    } else {
        ClearStatus();
        DisconnectServer();
    }
    for (const std::string& box : boxes) ShowError(box);
    return boxes.empty() && go == batch.size();
}

void TFormMain::ReadAheadInOrder(size_t count,
                                 const std::function<std::string(size_t)>& command,
                                 const std::function<bool(size_t)>& answer, size_t turns) {
    size_t sent = 0;
    for (size_t i = 0; i < std::max(count, turns); ++i) {
        // A connection already lost is left for the reading to report.
        try {
            if (Pop3Client1.AheadLow()) {
                for (; sent < count; ++sent) {
                    const std::string line = command(sent);
                    if (line.empty()) continue;
                    if (!Pop3Client1.AheadRoom(1, line.size() + 2)) break;
                    Pop3Client1.SendAhead(line);
                }
            }
        } catch (const std::exception&) {
            sent = count;
        }
        if (!answer(i)) break;
    }
    // Answers asked for and no longer wanted are read and dropped.
    DropAheadQuietly();
}

void TFormMain::DeleteVerified(const std::vector<TMessageEntry>& batch, size_t count,
                               const std::vector<std::string>& copies) {
    size_t i = 0;
    // The messages whose DELE may have reached the server: those after them
    // were never asked for, and their copies go as one at a time they would
    // never have been made.
    size_t asked = count;
    try {
        asked = 0;
        ReadAheadInOrder(count, [&](size_t k) {
            // Counted before it is handed over: a send that fails may have
            // written part of it.
            asked = std::max(asked, k + 1);
            return "DELE " + std::to_string(batch[k].MsgNumber);
        }, [&](size_t k) {
            i = k;
            asked = std::max(asked, k + 1);
            ShowStatus("Eliminazione del messaggio " + MessageLabel(batch[k]));
            return Pop3Client1.DeleteMessageOnServer(batch[k].MsgNumber);
        });
    } catch (const EProtocolReplyError&) {
        // Refused: the messages before it go, as one at a time they would
        // have; the ones after it, already marked, are restored first, and
        // only once the server has said so do their copies go.
        KeepAfter(copies, asked, count);
        try {
            Pop3Client1.DropAhead();
            constexpr int32_t kOk = 1;
            Pop3Client1.SendCommand("RSET", {kOk});
            KeepAfter(copies, i + 1, asked);
            for (size_t k = 0; k < i; ++k)
                Pop3Client1.SendAhead("DELE " + std::to_string(batch[k].MsgNumber));
            for (size_t k = 0; k < i; ++k) Pop3Client1.DeleteMessageOnServer(batch[k].MsgNumber);
            CommitAndDisconnect();
        } catch (const std::exception&) {
            // Without QUIT the server deletes nothing at all.
            Pop3Client1.CloseConnection();
        }
        throw;
    } catch (...) {
        // The answers lost: any DELE that went out may yet be made final by
        // the server, so only the copies of messages never asked for go.
        KeepAfter(copies, asked, count);
        Pop3Client1.CloseConnection();
        throw;
    }
}

void TFormMain::KeepAfter(const std::vector<std::string>& copies, size_t from, size_t to) {
    for (size_t k = from; k < to && k < copies.size(); ++k)
        if (!copies[k].empty()) std::remove(copies[k].c_str());
}

bool TFormMain::HeaderUnchanged(const TMessageEntry& entry) {
    THeaderList lines;
    try {
        Pop3Client1.FetchHeaderLines(entry.MsgNumber, lines);
    } catch (const std::exception&) {
        // A header that cannot be read whole cannot be compared.
        return false;
    }
    return !entry.HeaderText.empty() && lines.Text() == entry.HeaderText;
}

bool TFormMain::CopyToRecycleFolder(const TMessageEntry& entry, std::vector<std::string>* boxes,
                                    std::string* written) {
    auto report = [&](const char* text) {
        if (boxes != nullptr)
            boxes->push_back(text);
        else
            ShowError(text);
    };
    ShowStatus("Copia nel cestino del messaggio " + MessageLabel(entry));
    std::string text;
    try {
        if (!FetchWholeMessage(entry, text)) {
            report("Rilevati errori durante la ricezione del messaggio");
            return false;
        }
    } catch (const std::exception&) {
        report("Rilevati errori durante la copia del messaggio nel cestino");
        return false;
    }
    return StoreRecycleCopy(entry, text, boxes, written);
}

bool TFormMain::StoreRecycleCopy(const TMessageEntry& entry, const std::string& text,
                                 std::vector<std::string>* boxes, std::string* written) {
    auto report = [&](const char* what) {
        if (boxes != nullptr)
            boxes->push_back(what);
        else
            ShowError(what);
    };
    // Another message under the same number and id is not copied, and not
    // deleted. A record whose header could not be read at the check has
    // only its id to go by.
    if (!entry.HeaderText.empty() && !SameHeaderBlock(entry.HeaderText, text)) return false;
    const std::string folder = RecycleFolder();
    // Deleted mail is private: only its owner may open the folder, and the
    // data folder above it of an installed copy is made on first use too.
    if (!FolderExists(folder)) MakePrivateFolders(folder);
    if (!FRecycleSwept) {
        // Halves of copies a kill cut short, once a run.
        RemoveStaleTemporaries(folder);
        FRecycleSwept = true;
    }
    if (!FolderExists(folder)) {
        report("Impossibile accedere alla cartella del Cestino");
        return false;
    }
    std::string path;
    if (WriteNewMessageFile(folder, BaseFileName(entry), text, path) != 0) {
        report("Rilevati errori durante la scrittura del messaggio nel cestino");
        return false;
    }
    if (written != nullptr) *written = path;
    return true;
}

void TFormMain::CommitAndDisconnect() {
    // The deletion is final only once the server has answered QUIT, so
    // unlike DisconnectServer this waits for the answer: a refused commit is
    // reported rather than passing for success, and the check that follows
    // sees the mailbox without the message.
    ShowStatus("Disconnessione dal server " + Pop3Client1.Host + "...");
    constexpr int32_t kOk = 1;
    Pop3Client1.SendCommand("QUIT", {kOk});
    Pop3Client1.CloseConnection();
    ClearStatus();
    if (AntiFreeze1.Active) AntiFreeze1.Active = false;
}

void TFormMain::OpenRecycleFolder() {
    // What the user is shown holds whole messages only.
    if (!Deleting) RemoveStaleTemporaries(RecycleFolder());
    ShellOpen(RecycleFolder(), std::string(), true);
}

}  // namespace kalmuro
