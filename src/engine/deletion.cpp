// Deletion of the ticked messages on their servers: one session per
// message, the unique id checked again, the copy in the recycle folder made
// durable before DELE, and a new check after every run.
#include <sys/stat.h>

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/form_main.h"
#include "engine/message_files.h"
#include "mail/formats.h"
#include "mail/mime/header_list.h"
#include "mail/settings.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

// " <subject> di <sender>" after the status texts of one message.
std::string MessageLabel(const TMessageEntry& entry) {
    return entry.Subject + " di " + entry.Sender;
}

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

namespace {

}  // namespace

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
            if (!DeleteMessage(static_cast<int32_t>(row), copyToRecycle)) break;
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
    const int32_t index = PosMsgInArray(row);
    if (index < 0 || !IsInSelectedMailbox(index)) return false;
    // An id the server gave to two messages cannot tell them apart once the
    // numbering shifts: such messages are never deleted.
    if (UidIsAmbiguous(index)) {
        ShowError(kAmbiguousUidError);
        return false;
    }
    // A copy: handlers that run in the pumps below may touch Messages.
    const TMessageEntry entry = Messages[static_cast<size_t>(index)];
    bool result = false;
    try {
        if (ConnectAccountForMessage(entry.AccountIndex)) {
            // Only the message the check saw is deleted: same number, same
            // unique id, same header. Without an id there is nothing to
            // compare with.
            bool exists = false;
            if (!entry.UidlText.empty()) {
                ShowStatus("Verifica esistenza del messaggio " + MessageLabel(entry));
                std::vector<std::string> reply;
                if (Pop3Client1.MessageUid(reply, entry.MsgNumber))
                    exists = !reply.empty() && reply.front() == entry.UidlText;
            }
            if (exists) exists = copyToRecycle ? CopyToRecycleFolder(entry) : HeaderUnchanged(entry);
            if (exists) {
                ShowStatus("Eliminazione del messaggio " + MessageLabel(entry));
                result = Pop3Client1.DeleteMessageOnServer(entry.MsgNumber);
            } else {
                ShowError("Rilevati errori durante l'eliminazione");
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

bool TFormMain::CopyToRecycleFolder(const TMessageEntry& entry) {
    ShowStatus("Copia nel cestino del messaggio " + MessageLabel(entry));
    std::string text;
    try {
        if (!FetchWholeMessage(entry, text)) {
            ShowError("Rilevati errori durante la ricezione del messaggio");
            return false;
        }
    } catch (const std::exception&) {
        ShowError("Rilevati errori durante la copia del messaggio nel cestino");
        return false;
    }
    // Another message under the same number and id is not copied, and not
    // deleted.
    if (!SameHeaderBlock(entry.HeaderText, text)) return false;
    const std::string folder = RecycleFolder();
    // Deleted mail is private: only its owner may open the folder.
    if (!FolderExists(folder)) mkdir(folder.c_str(), 0700);
    if (!FolderExists(folder)) {
        ShowError("Impossibile accedere alla cartella del Cestino");
        return false;
    }
    std::string path;
    if (WriteNewMessageFile(folder, BaseFileName(entry), text, path) != 0) {
        ShowError("Rilevati errori durante la scrittura del messaggio nel cestino");
        return false;
    }
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

void TFormMain::OpenRecycleFolder() { ShellOpen(RecycleFolder(), std::string(), true); }

}  // namespace kalmuro
