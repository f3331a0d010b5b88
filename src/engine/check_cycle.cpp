// The check cycle: every active account in turn, one session each, one TOP,
// LIST and UIDL per message (sent ahead of their answers where the server
// takes that), then the classification, the rebuilt list and the summary.
#include <algorithm>
#include <climits>
#include <future>
#include <optional>
#include <system_error>

#include "engine/form_main.h"
#include "mail/classify.h"
#include "mail/formats.h"
#include "mail/mime/header_list.h"
#include "mail/mime/mail_message.h"
#include "mail/settings.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

// The account's port. A number the socket layer would silently wrap into
// another port is refused like a text that is no number at all.
int32_t PortNumber(const std::string& text) {
    const int32_t port = StrToInt(text);
    if (port < 1 || port > 65535) throw EConvertError("'" + text + "' is not a valid port number");
    return port;
}

// The account's server, login and security, for a client of either protocol.
template <class TClient>
void AimClient(TClient& client, const TMailAccount& account) {
    client.Host = account.PopServer;
    client.Username = account.UserId;
    client.Password = account.UserPwd;
    client.Port = PortNumber(account.Port);
    client.Security = account.Security;
    client.Fingerprint = account.Fingerprint;
    client.ReadTimeout = SessionTimeoutMs();
    // A connection that fails before this server says anything must not
    // show the last words of an earlier session as this server's refusal.
    client.LastReply.Clear();
}

}  // namespace

int32_t SessionTimeoutMs() {
    const int64_t seconds = StrToInt(ReadIniString(kSectionSetup, "Timeout", "60"));
    const int64_t ms = seconds * 1000;
    return static_cast<int32_t>(std::clamp<int64_t>(ms, 0, INT32_MAX));
}

std::string SenderText(const std::string& name, const std::string& address) {
    std::string sender = Trim(name);
    const std::string trimmedAddress = Trim(address);
    if (!trimmedAddress.empty())
        sender = sender.empty() ? trimmedAddress : sender + " (" + trimmedAddress + ")";
    return sender;
}

namespace {

// The record of a message from its interpreted header.
void FillEntry(TMessageEntry& entry, int32_t accountIndex, TMailMessage& message) {
    entry.AccountIndex = accountIndex;
    // The header text is copied at its own size (the list's buffer is kept
    // for the next message); the rest of the message is done with and moves
    // into the record.
    entry.HeaderText = message.HeaderLines.Text();
    TrimInPlace(message.From.Name);
    TrimInPlace(message.From.Address);
    TrimInPlace(message.Subject);
    entry.FromName = std::move(message.From.Name);
    entry.FromAddress = std::move(message.From.Address);
    entry.Sender = SenderText(entry.FromName, entry.FromAddress);
    entry.Subject = std::move(message.Subject);
    entry.Date = message.Date;
    entry.Selected = false;
}

// Raised by the header sink when the user pressed Stop: the session ends
// there.
struct TCheckStopped {};

std::future<TPreparedRules> PrepareRulesAhead(TRuleLines lines) {
    try {
        return std::async(std::launch::async, [lines = std::move(lines)]() mutable {
            return TPreparedRules(std::move(lines));
        });
    } catch (const std::system_error&) {
        return {};  // no thread to be had: the classification prepares them itself
    }
}

}  // namespace

std::string CheckSummaryText(size_t records, int64_t added, size_t rows) {
    if (records == 0) return "Non ci sono messaggi";
    std::string text;
    if (added >= 0) text = IntToStr(added) + " messaggi nuovi su un totale di ";
    return text + IntToStr(static_cast<int64_t>(rows)) + " messaggi";
}

void TFormMain::CheckMail(TAutoDeletion autoDeletion) {
    if (Accounts.empty() || Checking || Deleting) return;
    Checking = true;
    Screen.SetListsBusy(true);
    bool listsBusy = true;
    bool errorFlag = false;
    bool escaped = false;
    std::string escapedText;
    // Whatever happens inside (a settings value that is no number, say), the
    // cycle closes: Stop hidden, Checking cleared, commands back.
    try {
        const size_t previous = Messages.size();
        ClearRows();
        Messages.clear();
        ShowStopButton();
        UpdateCommands();

        FDecodeUtf8 = ReadIniBool(kSectionSetup, kKeyDecodeUtf8, false);
        FPipelining = ReadIniBool(kSectionSetup, kKeyPipelining, true);
        // The lists are made ready for the classification on a worker thread
        // while the servers answer; a list changed meanwhile is made ready
        // again when its turn comes.
        std::future<TPreparedRules> preparing = PrepareRulesAhead(
            {BlockedSenders.Lines, SafeSenders.Lines, BlockedSubjects.Lines, SafeSubjects.Lines});
        RunCheckAccounts(errorFlag);

        ShowStatus(kClassifyStatus);
        std::optional<TPreparedRules> prepared;
        if (preparing.valid()) prepared.emplace(preparing.get());
        ClassifyMessages(Messages, {BlockedSenders, SafeSenders, BlockedSubjects, SafeSubjects},
                         [this] { PumpMessages(); }, std::string(),
                         prepared ? &*prepared : nullptr);
        ClearStatus();
        RefillAfterClassification();
        Screen.SetListsBusy(false);
        listsBusy = false;
        FinishCheck(previous, errorFlag);
    } catch (const std::exception& e) {
        escaped = true;
        escapedText = e.what();
    }
    if (listsBusy) Screen.SetListsBusy(false);
    FCheckError = errorFlag;
    UpdateCommands();
    HideStopButton();
    Checking = false;
    UpdateCommands();
    if (escaped) ShowError(escapedText);
    if (OnCheckEnded) OnCheckEnded();

    // A check that did not complete, or that the user stopped, deletes
    // nothing by itself: Stop means stop, and the rows may be incomplete.
    if (escaped || StopFlag || autoDeletion == TAutoDeletion::Never) return;
    bool deleteNow = autoDeletion == TAutoDeletion::Always;
    if (!deleteNow) {
        try {
            deleteNow = ReadIniBool(kSectionSetup, "AutoDelete", false);
        } catch (const std::exception& e) {
            ReportError(e);
        }
    }
    if (deleteNow) DeleteBlockedMessages();
}

void TFormMain::RunCheckAccounts(bool& errorFlag) {
    // By index, re-reading the size: handlers run nested in every pump.
    for (size_t i = 0; i < Accounts.size(); ++i) {
        if (StopRequested()) break;
        if (!Accounts[i].Active) continue;
        const int32_t index = static_cast<int32_t>(i);
        const bool imap = Accounts[i].IsImap();
        try {
            if (imap ? !ConnectImapAccount(index) : !ConnectAccount(index)) {
                if (StopPressed()) break;
                errorFlag = true;
                if (!FPasswordMissing)
                    ShowError("Impossibile connettersi a " + (imap ? ImapClient1.Host : Pop3Client1.Host));
                continue;
            }
            PumpMessages();
            try {
                if (imap) {
                    ReadImapMessages(index, errorFlag);
                    DisconnectImap();
                } else {
                    ReadAccountMessages(index, errorFlag);
                    DisconnectServer();
                }
            } catch (const EFolderNotFound& e) {
                // Nothing of the account was read; the session is in step.
                errorFlag = true;
                ShowError(e.what());
                DisconnectImap();
            } catch (const std::exception&) {
                // The session stays as it is; the next connection closes it.
                ShowError("Rilevati problemi durante la lettura dei messaggi");
            }
            if (StopRequested()) break;
        } catch (const std::exception&) {
            ShowError("Impossibile completare l'operazione");
        }
    }
}

void TFormMain::ReadAccountMessages(int32_t accountIndex, bool& errorFlag) {
    const bool ahead = SessionTakesPipelining();
    ShowStatus("Conteggio dei messaggi presenti sul server...");
    const int32_t count = Pop3Client1.CountMessages();
    ClearStatus();
    // Room for the records at once, within reason: the count is the server's
    // word, and a hostile one could name billions.
    constexpr int32_t kReserveAtMost = 65536;
    if (count > 0) {
        const size_t room = static_cast<size_t>(std::min(count, kReserveAtMost));
        Messages.reserve(Messages.size() + room);
        FList.Rows.reserve(FList.Rows.size() + room);
    }
    int32_t next = 1;  // the first message whose commands have not gone out
    // One message object for the whole mailbox: its buffers are reused.
    TMailMessage message;
    message.DecodeUtf8 = FDecodeUtf8;
    std::string uid;
    // Each message's status is written into one buffer rather than built anew.
    std::string status;
    const std::string statusTail =
        " su " + IntToStr(count) + " dal server " + Pop3Client1.Host + "...";
    for (int32_t n = 1; n <= count; ++n) {
        if (StopRequested()) {
            // What was asked for is read and dropped, so that QUIT ends the
            // session in step.
            DropAheadQuietly();
            break;
        }
        // The answers are read below exactly as one command at a time.
        if (ahead && Pop3Client1.AheadLow()) next = SendCheckAhead(next, count);
        message.Clear();
        status.assign("Lettura messaggio ");
        AppendDecimal(status, n);
        status += statusTail;
        ShowStatus(status);
        // Each next command goes out as soon as the answer before it is in,
        // and the work on that answer is done while the server works on the
        // next one: still one command at a time.
        const std::string k = std::to_string(n);
        try {
            Pop3Client1.FetchHeader(n, message, "LIST " + k);
        } catch (const std::exception&) {
            // The record is still stored with whatever arrived.
            errorFlag = true;
        }
        // The record is built aside and stored once complete, or as far as
        // it got when LIST or the connection fails; nested handlers never see
        // a reference into Messages go stale.
        TMessageEntry entry;
        FillEntry(entry, accountIndex, message);
        TMessageRow row;
        try {
            entry.Size = Pop3Client1.MessageSize(n);
            entry.MsgNumber = n;
            Pop3Client1.SendEarly("UIDL " + k);
            PumpMessages();
            // The row needs nothing of the UIDL answer; its record index is
            // given once the record is stored.
            row = BuildMessageRow(entry, -1);
            try {
                if (Pop3Client1.MessageUid(uid, n)) entry.UidlText = uid;
            } catch (const std::exception&) {
                errorFlag = true;
            }
            PumpMessages();
        } catch (...) {
            // The record was appended before its size was asked for, and
            // nothing of it is filled in until LIST and UIDL have answered:
            // it stays with its account and nothing else.
            TMessageEntry bare;
            bare.AccountIndex = accountIndex;
            Messages.push_back(std::move(bare));
            throw;
        }
        Messages.push_back(std::move(entry));
        row.RecordIndex = static_cast<int32_t>(Messages.size()) - 1;
        AddMessageRow(std::move(row));
        ClearStatus();
    }
}

void TFormMain::ReadImapMessages(int32_t accountIndex, bool& errorFlag) {
    ShowStatus("Conteggio dei messaggi presenti sul server...");
    TMailMessage message;
    message.DecodeUtf8 = FDecodeUtf8;
    THeaderList lines;
    std::string status, statusTail;
    const std::string host = ImapClient1.Host;
    try {
        ImapSession1.StreamHeaders(
            lines,
            [&](int32_t count) {
                ClearStatus();
                // The count is the server's word: room within reason.
                constexpr int32_t kReserveAtMost = 65536;
                if (count > 0) {
                    const size_t room = static_cast<size_t>(std::min(count, kReserveAtMost));
                    Messages.reserve(Messages.size() + room);
                    FList.Rows.reserve(FList.Rows.size() + room);
                }
                statusTail = " su " + IntToStr(count) + " dal server " + host + "...";
            },
            [&](const TMailboxMessage& m, THeaderList& header) {
                if (StopRequested()) throw TCheckStopped();
                status.assign("Lettura messaggio ");
                AppendDecimal(status, m.Number);
                status += statusTail;
                ShowStatus(status);
                message.Clear();
                // The lines change hands rather than being copied; both
                // buffers are reused from message to message.
                std::swap(message.HeaderLines, header);
                // A cut header is interpreted as far as it goes, as on POP3,
                // but the session goes on: the answer stays in step.
                if (m.Cut) errorFlag = true;
                try {
                    message.InterpretHeaders();
                } catch (const std::exception&) {
                    errorFlag = true;
                }
                TMessageEntry entry;
                FillEntry(entry, accountIndex, message);
                entry.Size = m.Size;
                entry.MsgNumber = m.Number;
                // In the form of a UIDL reply, "<n> <id>", so that every
                // later comparison of ids reads both protocols alike.
                if (!m.UniqueId.empty()) entry.UidlText = std::to_string(m.Number) + " " + m.UniqueId;
                PumpMessages();
                TMessageRow row = BuildMessageRow(entry, -1);
                Messages.push_back(std::move(entry));
                row.RecordIndex = static_cast<int32_t>(Messages.size()) - 1;
                AddMessageRow(std::move(row));
                ClearStatus();
            });
    } catch (const TCheckStopped&) {
        // The answer was left unread: the connection is closed already.
    }
}

std::string LoginDisabledError(const std::string& host, bool secure) {
    if (secure)
        return "Il server " + host + " non accetta l'accesso con la password (LOGINDISABLED)";
    return "Il server " + host +
           " non accetta la password su una connessione non protetta (LOGINDISABLED):\\n"
           "scegliere TLS o STARTTLS come sicurezza dell'account";
}

bool TFormMain::ConnectImapAccount(int32_t accountIndex) {
    if (ImapClient1.IsConnected()) ImapClient1.Logout();
    TMailAccount account = Accounts.at(static_cast<size_t>(accountIndex));
    FPasswordMissing = false;
    if (account.PasswordInKeyring && !TakeKeyringPassword(accountIndex, account)) return false;
    AimClient(ImapClient1, account);
    ImapSession1.Folder = account.Folder.empty() ? std::string(kDefaultFolder) : account.Folder;
    ImapSession1.Access = account.Access;
    ImapSession1.AccessToken.clear();
    if (account.IsOAuth()) {
        if (!TakeAccessTokenPumped(accountIndex, account)) return false;
        ImapSession1.AccessToken = account.AccessToken;
    }
    // Only a refusal is the server's word; its greeting is not.
    return OpenSession(accountIndex, account,
                       {ImapClient1, ImapClient1.Username, ImapClient1.Fingerprint,
                        ImapSession1.AccessToken,
                        [this] { ImapSession1.Open(ImapClient1.ReadTimeout); }, true});
}

bool TFormMain::ConnectImapAccountForMessage(int32_t accountIndex) {
    if (ConnectImapAccount(accountIndex)) return true;
    if (ImapClient1.LastReply.NumericCode <= 1 && !StopPressed() && !FPasswordMissing)
        ShowError("Impossibile connettersi a " + ImapClient1.Host);
    return false;
}

void TFormMain::DisconnectImap() {
    if (ImapClient1.IsConnected()) {
        ShowStatus("Disconnessione dal server " + ImapClient1.Host + "...");
        ImapSession1.End();
        ClearStatus();
    }
    if (AntiFreeze1.Active) AntiFreeze1.Active = false;
}

int32_t TFormMain::SendCheckAhead(int32_t next, int32_t count) {
    // A connection already lost is left for the reading to report, as the
    // command itself would.
    try {
        for (; next <= count; ++next) {
            const std::string k = std::to_string(next);
            if (!Pop3Client1.AheadRoom(3, 3 * (k.size() + 8))) break;
            Pop3Client1.SendAhead("TOP " + k + " 0");
            Pop3Client1.SendAhead("LIST " + k);
            Pop3Client1.SendAhead("UIDL " + k);
        }
    } catch (const std::exception&) {
        return count + 1;
    }
    return next;
}

bool TFormMain::SessionTakesPipelining() {
    return FPipelining && Pop3Client1.QueryPipelining();
}

void TFormMain::DropAheadQuietly() {
    if (Pop3Client1.AheadCount() == 0) return;
    try {
        Pop3Client1.DropAhead();
    } catch (const std::exception&) {
        // Nothing more can be said in step: the session just ends.
        Pop3Client1.CloseConnection();
    }
}

void TFormMain::FinishCheck(size_t previousCount, bool errorFlag) {
    const int64_t added =
        static_cast<int64_t>(Messages.size()) - static_cast<int64_t>(previousCount);
    std::string summary = CheckSummaryText(Messages.size(), added, FList.Rows.size());
    if (added > 0 && ReadIniBool(kSectionSetup, "NotifyBalloon", true))
        Screen.ShowBalloon(kAppTitle, summary, 5000);
    else
        Screen.ShowBalloon(kAppTitle, std::string(), 5000);
    summary += " - Ultima verifica alle " + SummaryTimeText(Now());
    if (StopRequested()) summary += " - Interrotto dall'utente";
    if (errorFlag) summary += " - Sono stati rilevati errori";
    ShowStatus(summary);
}

bool TFormMain::ConnectAccountForMessage(int32_t accountIndex) {
    if (ConnectAccount(accountIndex)) return true;
    if (Pop3Client1.LastReply.Text.empty() && !StopPressed() && !FPasswordMissing)
        ShowError("Impossibile connettersi a " + Pop3Client1.Host);
    return false;
}

bool TFormMain::ConnectAccount(int32_t accountIndex) {
    if (Pop3Client1.IsConnected()) Pop3Client1.Quit();
    TMailAccount account = Accounts.at(static_cast<size_t>(accountIndex));
    FPasswordMissing = false;
    if (account.PasswordInKeyring && !TakeKeyringPassword(accountIndex, account)) return false;
    AimClient(Pop3Client1, account);
    Pop3Client1.APOP = account.Apop;
    Pop3Client1.Access = account.Access;
    Pop3Client1.AccessToken.clear();
    if (account.IsOAuth()) {
        if (!TakeAccessTokenPumped(accountIndex, account)) return false;
        Pop3Client1.AccessToken = account.AccessToken;
    }
    return OpenSession(accountIndex, account,
                       {Pop3Client1, Pop3Client1.Username, Pop3Client1.Fingerprint,
                        Pop3Client1.AccessToken,
                        [this] { Pop3Client1.Login(Pop3Client1.ReadTimeout); }, false});
}

bool TFormMain::OpenSession(int32_t accountIndex, TMailAccount& account,
                            const TSessionOpening& opening) {
    TTcpClient& client = opening.Client;
    ShowStatus("Connessione a " + client.Host + " come utente " + opening.User + "...");
    // A TLS handshake pumps the window from its first wait, so that Stop can
    // end one that stalls; a plain login waits as it always did.
    const bool secure = account.Security != TSecurity::None;
    if (secure) AntiFreeze1.Active = true;
    bool refreshed = false;
    for (bool again = true; again;) {
        again = false;
        try {
            opening.Open();
        } catch (const ETlsError& e) {
            // Once the user accepted the certificate, the same login again.
            again = ReportTlsFailure(accountIndex, e, client.Host, client.LastReply,
                                     opening.Fingerprint);
        } catch (const ELoginDisabled&) {
            ShowError(LoginDisabledError(client.Host, secure));
        } catch (const EOAuthRefused& e) {
            // A token the server refuses may have been revoked early: one
            // fresh one is worth a try, not more.
            if (e.TokenRefused && !refreshed && !StopPressed()) {
                refreshed = true;
                if (TakeAccessToken(accountIndex, account, true)) {
                    opening.AccessToken = account.AccessToken;
                    client.LastReply.Clear();
                    again = true;
                    continue;
                }
                FPasswordMissing = true;
                continue;
            }
            FPasswordMissing = true;
            ShowError(e.what());
        } catch (const std::exception&) {
            const TServerReply& reply = client.LastReply;
            if (!reply.Text.empty() && (!opening.RefusalNeedsCode || reply.NumericCode > 1)) {
                std::string text =
                    "Il server ha risposto con l'errore " + IntToStr(reply.NumericCode) + ":\\n";
                for (const std::string& line : reply.Text) text += line + "\\n";
                ShowError(text);
            }
        }
    }
    const bool result = client.IsConnected();
    if (result && !AntiFreeze1.Active) AntiFreeze1.Active = true;
    if (!result && secure) AntiFreeze1.Active = false;
    ClearStatus();
    return result;
}

void TFormMain::EndSessionAfterError() {
    try {
        DisconnectServer();
    } catch (...) {
        Pop3Client1.CloseConnection();
        AntiFreeze1.Active = false;
    }
}

void TFormMain::DisconnectServer() {
    if (Pop3Client1.IsConnected()) {
        ShowStatus("Disconnessione dal server " + Pop3Client1.Host + "...");
        Pop3Client1.Quit();
        ClearStatus();
    }
    if (AntiFreeze1.Active) AntiFreeze1.Active = false;
}

}  // namespace kalmuro
