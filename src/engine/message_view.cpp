// Viewing a message (its stored header, or the whole of it from the server)
// and saving it as a file.
#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "engine/form_main.h"
#include "engine/message_files.h"
#include "mail/atomic_file.h"
#include "mail/formats.h"
#include "mail/rule_list.h"
#include "mail/text.h"

namespace kalmuro {

bool TFormMain::FetchWholeMessage(const TMessageEntry& entry, std::string& text) {
    // Room for the size the check listed, so that the text never moves while
    // it grows: a large message then costs its own size once, not twice.
    constexpr int32_t kMaxReserve = 1 << 30;
    if (entry.Size > 0) text.reserve(static_cast<size_t>(std::min(entry.Size, kMaxReserve)) + 4096);
    if (AccountIsImap(entry.AccountIndex)) return FetchImapMessage(entry, text);
    return Pop3Client1.FetchRaw(entry.MsgNumber, text, RetrieveLimit(entry.Size));
}

bool TFormMain::FetchImapMessage(const TMessageEntry& entry, std::string& text) {
    const size_t blank = entry.UidlText.find(' ');
    if (blank == std::string::npos) return false;
    const std::vector<std::string> id{entry.UidlText.substr(blank + 1)};
    // Another folder under the same name holds other messages under the
    // same UIDs: nothing of it is shown as this one.
    if (!ImapSession1.OpenToRead(id)) return false;
    bool found = false;
    ImapSession1.FetchMessagesOf(id, RetrieveLimit(entry.Size), [&](size_t, std::string& message) {
        found = true;
        text = std::move(message);
    });
    return found;
}

bool TFormMain::ConnectForMessage(int32_t accountIndex) {
    return AccountIsImap(accountIndex) ? ConnectImapAccountForMessage(accountIndex)
                                       : ConnectAccountForMessage(accountIndex);
}

void TFormMain::DisconnectAfterMessage(int32_t accountIndex, bool failed) {
    if (!AccountIsImap(accountIndex)) {
        failed ? EndSessionAfterError() : DisconnectServer();
        return;
    }
    if (failed)
        ImapSession1.End();
    else
        DisconnectImap();
    if (AntiFreeze1.Active) AntiFreeze1.Active = false;
}

void TFormMain::ShowMessageText(int32_t row, bool headerOnly) {
    const int32_t index = PosMsgInArray(row);
    if (index < 0) return;
    // Logging in would end the session of a running check or deletion.
    if (!headerOnly && !ServerCommandsAllowed()) return;
    const TMessageEntry entry = Messages[static_cast<size_t>(index)];
    SuspendAutoCheck();
    std::string escaped;
    try {
        if (headerOnly) {
            Screen.ShowMessageViewer(kCaptionViewer, entry.HeaderText);
        } else if (ConnectForMessage(entry.AccountIndex)) {
            std::string text;
            try {
                const std::string& host =
                    AccountIsImap(entry.AccountIndex) ? ImapClient1.Host : Pop3Client1.Host;
                ShowStatus("Lettura del messaggio dal server " + host + " in corso...");
                // A refusal leaves the viewer empty. The message is held as
                // one text: a large one costs about its own size.
                FetchWholeMessage(entry, text);
                ClearStatus();
            } catch (...) {
                DisconnectAfterMessage(entry.AccountIndex, true);
                throw;
            }
            // The session ends before the viewer opens: a server that locks
            // the mailbox for a session must not stay locked while the user
            // reads.
            DisconnectAfterMessage(entry.AccountIndex, false);
            Screen.ShowMessageViewer(kCaptionViewer, text);
        }
    } catch (const std::exception& e) {
        escaped = e.what();
    }
    ResumeAutoCheckAfter(escaped);
}

void TFormMain::SaveMessageToFile(int32_t row) {
    const int32_t index = PosMsgInArray(row);
    if (index < 0) return;
    if (!ServerCommandsAllowed()) return;
    const TMessageEntry entry = Messages[static_cast<size_t>(index)];
    SuspendAutoCheck();
    std::string escaped;
    try {
        if (FSaveInitialDir.empty()) FSaveInitialDir = Screen.DocumentsFolder();
        TSaveDialogRequest request;
        request.Title = kCaptionSave;
        request.Filter = "E-mail|*.eml";
        request.DefaultExt = "eml";
        request.InitialDir = FSaveInitialDir;
        request.FileName = Cp1252ToUtf8(BaseFileName(entry));
        std::string fileName;
        if (Screen.ExecuteSaveDialog(request, fileName)) {
            bool ok = true;
            const bool replace = PathExists(fileName);
            if (replace)
                ok = AskConfirmation("Il file scelto esiste gi\xE0. Sostituirlo ?", 1);  // già
            if (ok && ConnectForMessage(entry.AccountIndex)) {
                try {
                    ShowStatus("Lettura del messaggio " + Trim(entry.Subject) + " dal server...");
                    std::string text;
                    bool fetched = false, failed = false;
                    try {
                        fetched = FetchWholeMessage(entry, text);
                    } catch (const std::exception&) {
                        failed = true;
                    }
                    if (failed) {
                        ShowError("Impossibile leggere il messaggio dal server");
                    } else if (!fetched) {
                        ShowError("Rilevati errori durante la ricezione del messaggio");
                    } else if ((replace ? WriteFileAtomically(fileName, text)
                                        : WriteNewFile(fileName, text)) != 0) {
                        // The file is whole or absent: an existing one the
                        // user chose to replace is replaced only by a
                        // complete new one, and a new one takes no name
                        // that came to exist meanwhile.
                        ShowError("Impossibile salvare il messaggio");
                    }
                } catch (...) {
                    DisconnectAfterMessage(entry.AccountIndex, true);
                    throw;
                }
                DisconnectAfterMessage(entry.AccountIndex, false);
            }
        }
    } catch (const std::exception& e) {
        escaped = e.what();
    }
    ResumeAutoCheckAfter(escaped);
}

void TFormMain::Visualizzalintestazionedelmessaggio1Click() {
    if (RequireHighlightedMessage()) ShowMessageText(HighlightedRow(), true);
}

void TFormMain::Visualizzamessaggio1Click() {
    if (RequireHighlightedMessage()) ShowMessageText(HighlightedRow(), false);
}

void TFormMain::Salva1Click() {
    if (RequireHighlightedMessage()) SaveMessageToFile(HighlightedRow());
}

void TFormMain::ListViewMsgDblClick() {
    if (HighlightedRow() >= 0) ShowMessageText(HighlightedRow(), true);
}

}  // namespace kalmuro
