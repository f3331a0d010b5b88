// Deletion of the ticked messages of an IMAP account: one session for every
// run of rows of the account, with POP3's guarantees. Only the folder the
// check saw is touched (same UIDVALIDITY), only messages whose UID still
// exists with the header the check stored, each copy in the recycle folder
// whole before anything is removed, and only the UIDs verified are removed,
// never a message another client marked \Deleted.
//
// Round trips: greeting, login, SELECT with one fetch for all, then the
// removal: LIST of the Junk folder and MOVE (5 in all), or STORE and UID
// EXPUNGE together (4); LOGOUT is not waited for.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/form_main.h"
#include "mail/mime/header_list.h"
#include "mail/pop3/pop3_client.h"
#include "mail/settings.h"

namespace kalmuro {

std::string FolderChangedError(const std::string& folder, const std::string& host) {
    // è
    return "La cartella " + folder + " del server " + host +
           " \xE8 cambiata dopo l'ultimo controllo (UIDVALIDITY): nessun messaggio eliminato";
}

std::string ExpungeRefusedError(const std::string& host) {
    return "Il server " + host +
           " non sa eliminare i soli messaggi scelti (UIDPLUS) e altri messaggi della cartella "
           "sono segnati per l'eliminazione: nessun messaggio eliminato";
}

bool TFormMain::AccountIsImap(int32_t accountIndex) const {
    return accountIndex >= 0 && static_cast<size_t>(accountIndex) < Accounts.size() &&
           Accounts[static_cast<size_t>(accountIndex)].IsImap();
}

bool TFormMain::DeleteImapBatch(const std::vector<TMessageEntry>& batch, bool copyToRecycle) {
    if (batch.empty()) return true;
    // Read before the session opens: a value that is no boolean raises.
    const bool moveToJunk = ReadIniBool(kSectionSetup, kKeyMoveToJunk, true);
    if (!ConnectImapAccountForMessage(batch.front().AccountIndex)) return false;
    const std::string host = ImapClient1.Host;
    const std::string folder = ImapSession1.Folder;
    ImapSession1.MoveToJunk = moveToJunk;

    // The ids as the check stored them ("<n> <id>": the id after the blank).
    std::vector<std::string> ids;
    for (const TMessageEntry& e : batch) {
        const size_t blank = e.UidlText.find(' ');
        ids.push_back(blank == std::string::npos ? std::string() : e.UidlText.substr(blank + 1));
    }
    std::vector<std::string> copies(batch.size());
    std::vector<std::string> boxes;
    size_t go = 0;
    bool asked = false;  // the removal went out: its messages may be gone
    try {
        // SELECT and one fetch that verifies them all go together: the
        // whole messages when copies are made (their header compared
        // there), else the headers. Nothing fetched counts unless the folder
        // still has the UIDVALIDITY of the check.
        std::vector<bool> found(batch.size(), false), good(batch.size(), false);
        std::vector<std::vector<std::string>> reasons(batch.size());
        bool same = false;
        try {
            if (copyToRecycle) {
                int64_t maximum = 0;
                for (const TMessageEntry& e : batch)
                    maximum = std::max(maximum, RetrieveLimit(e.Size));
                same = ImapSession1.OpenForRemovalAndFetchMessages(
                    ids, maximum, [&](size_t i, std::string& text) {
                        // A UID answered twice is not to be trusted: the copy
                        // of the first answer is not kept.
                        if (found[i]) {
                            good[i] = false;
                            return;
                        }
                        found[i] = true;
                        good[i] = StoreRecycleCopy(batch[i], text, &reasons[i], &copies[i]);
                    });
            } else {
                THeaderList lines;
                same = ImapSession1.OpenForRemovalAndFetchHeaders(
                    ids, lines, [&](size_t i, THeaderList& header) {
                        // Without a stored header the id alone verifies it. A
                        // UID answered twice must match both times.
                        const bool matches =
                            batch[i].HeaderText.empty() || header.Text() == batch[i].HeaderText;
                        good[i] = (!found[i] || good[i]) && matches;
                        found[i] = true;
                    });
            }
        } catch (const EFolderNotFound& e) {
            DisconnectImap();
            ShowError(e.what());
            return false;
        }
        if (!same) {
            // No copy was made: nothing is delivered from another folder.
            DisconnectImap();
            ShowError(FolderChangedError(folder, host));
            return false;
        }
        // In the walk's order: the messages up to the first that fails go,
        // as one at a time they would; Stop takes effect between two.
        for (; go < batch.size(); ++go) {
            if (go > 0 && StopRequested()) break;
            ShowStatus("Verifica esistenza del messaggio " + MessageLabel(batch[go]));
            if (copyToRecycle && found[go])
                ShowStatus("Copia nel cestino del messaggio " + MessageLabel(batch[go]));
            if (ids[go].empty() || !found[go] || !good[go]) {
                boxes = std::move(reasons[go]);
                if (!found[go] && copyToRecycle && !ids[go].empty())
                    boxes.push_back("Rilevati errori durante la ricezione del messaggio");
                boxes.push_back(kDeleteFailed);
                break;
            }
        }
        // Copies of messages that stay are not kept.
        KeepAfter(copies, go, batch.size());
        if (go > 0) {
            std::vector<std::string> verified(ids.begin(), ids.begin() + static_cast<long>(go));
            for (size_t i = 0; i < go; ++i)
                ShowStatus("Eliminazione del messaggio " + MessageLabel(batch[i]));
            asked = true;
            const TRemoval removal = ImapSession1.Remove(verified);
            if (removal == TRemoval::Refused || removal == TRemoval::Unmarked) {
                // Nothing was expunged here. Untouched messages need no
                // copy; marked ones may have gone with another client's
                // expunge, so theirs stay.
                if (removal == TRemoval::Refused) KeepAfter(copies, 0, go);
                go = 0;
                boxes.push_back(ExpungeRefusedError(host));
            }
        }
        ClearStatus();
        DisconnectImap();
    } catch (...) {
        // Before the removal went out every message is still there, so its
        // copy goes; after, each copy stays.
        if (!asked) KeepAfter(copies, 0, batch.size());
        ClearStatus();
        ImapSession1.End();
        if (AntiFreeze1.Active) AntiFreeze1.Active = false;
        throw;
    }
    for (const std::string& box : boxes) ShowError(box);
    return boxes.empty() && go == batch.size();
}

}  // namespace kalmuro
