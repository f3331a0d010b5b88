#include "mail/imap/imap_client.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <optional>

#include "mail/auth/sasl.h"
#include "mail/imap/imap_text.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

constexpr int32_t kOk = 1;
constexpr int32_t kNo = 2;
constexpr int32_t kBad = 3;
// A server that keeps challenging is not authenticating anyone.
constexpr int kMaxChallenges = 8;

const char kFetchAll[] = "UID FETCH 1:* (UID RFC822.SIZE INTERNALDATE BODY.PEEK[HEADER])";

uint64_t Budget(int64_t limit) {
    return limit > 0 ? static_cast<uint64_t>(limit) : std::numeric_limits<uint64_t>::max();
}

// The value of the section `name` ("BODY[HEADER]", "BODY[]") of a FETCH
// list, with or without the origin octet ("<0>") a server may add.
const TImapItem* Section(const TImapItem& list, std::string_view name) {
    for (size_t i = 0; i + 1 < list.Items.size(); i += 2) {
        const TImapItem& key = list.Items[i];
        if (key.Kind != TImapItem::TKind::Atom || key.Text.size() < name.size()) continue;
        const std::string_view text(key.Text);
        if (!SameText(text.substr(0, name.size()), name)) continue;
        if (text.size() == name.size() || text[name.size()] == '<') return &list.Items[i + 1];
    }
    return nullptr;
}

bool UidOf(const TImapItem& list, uint32_t& uid) {
    const TImapItem* item = FetchAttribute(list, "UID");
    return item != nullptr && item->Kind == TImapItem::TKind::Atom &&
           ParseImapNumber(item->Text, uid) && uid != 0;
}

// Every line followed by CR LF, as a message file holds it: a bare LF gets
// its CR, a last line without an end gets one.
void EndLinesWithCrLf(std::string& text) {
    bool bare = false;
    for (size_t p = text.find('\n'); p != std::string::npos; p = text.find('\n', p + 1))
        if (p == 0 || text[p - 1] != '\r') {
            bare = true;
            break;
        }
    if (bare) {
        std::string fixed;
        fixed.reserve(text.size() + text.size() / 32);
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) fixed += '\r';
            fixed += text[i];
        }
        text = std::move(fixed);
    }
    if (!text.empty() && text.back() != '\n') text += "\r\n";
}

bool Contains(const std::vector<uint32_t>& sorted, uint32_t uid) {
    return std::binary_search(sorted.begin(), sorted.end(), uid);
}

}  // namespace

bool TImapMailbox::Has(std::string_view attribute) const {
    return std::any_of(Attributes.begin(), Attributes.end(),
                       [&](const std::string& a) { return SameText(a, attribute); });
}

ELoginDisabled::ELoginDisabled()
    : EMailError("The server does not accept the password on this connection (LOGINDISABLED).") {}

TImapClient::TImapClient() { Port = 143; }

bool TImapClient::HasCapability(std::string_view name) const {
    return std::any_of(FCapabilities.begin(), FCapabilities.end(),
                       [&](const std::string& c) { return SameText(c, name); });
}

void TImapClient::TakeCapabilities(std::string_view text) {
    FCapabilities.clear();
    for (std::string& word : SplitAtBlanks(text)) FCapabilities.push_back(UpperCase(word));
    FCapabilitiesFresh = true;
}

// ---------------------------------------------------------------- reading

void TImapClient::ReadLinePart(uint64_t& spent, uint64_t budget) {
    for (;;) {
        const std::string_view in = InputView();
        const void* lf = in.empty() ? nullptr : std::memchr(in.data(), '\n', in.size());
        const size_t take =
            lf ? static_cast<size_t>(static_cast<const char*>(lf) - in.data()) + 1 : in.size();
        if (spent + take > budget) {
            // The rest of the line could not be told from the next response.
            CloseConnection();
            throw EAnswerTooLong();
        }
        FBytes.append(in.data(), take);
        spent += take;
        Consume(take);
        if (lf) return;
        CheckForDisconnect(true, true);
        ReceiveData(true, -1, true);
    }
}

bool TImapClient::ReadResponseBytes(const TLimits& limits) {
    FBytes.clear();
    const uint64_t lineBudget = Budget(MaxResponseBytes);
    const uint64_t literalBudget = Budget(limits.Literal);
    uint64_t lineSpent = 0, literalSpent = 0;
    bool cut = false;
    for (;;) {
        const size_t lineStart = FBytes.size();
        ReadLinePart(lineSpent, lineBudget);
        uint64_t count = 0;
        if (!LiteralAnnounced(std::string_view(FBytes).substr(lineStart), count)) return cut;
        const uint64_t room = literalBudget - literalSpent;
        if (count > room && !limits.Cut) {
            CloseConnection();
            throw EAnswerTooLong();
        }
        const uint64_t keep = std::min(count, room);
        const size_t literalStart = FBytes.size();
        for (uint64_t left = count; left > 0;) {
            if (InputBufferSize() == 0) {
                CheckForDisconnect(true, true);
                ReceiveData(true, -1, true);
                continue;
            }
            const std::string_view in = InputView();
            const size_t take = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
            const uint64_t done = count - left;
            if (done < keep) {
                const size_t kept = static_cast<size_t>(std::min<uint64_t>(take, keep - done));
                FBytes.append(in.data(), kept);
            }
            Consume(take);
            left -= take;
        }
        literalSpent += keep;
        if (keep < count) {
            // Only whole lines of a cut literal are kept; its count is
            // rewritten so that the response still parses.
            cut = true;
            const size_t lastLf = FBytes.rfind('\n');
            FBytes.resize(lastLf == std::string::npos || lastLf < literalStart ? literalStart
                                                                                : lastLf + 1);
            const size_t open = FBytes.rfind('{', literalStart - 1);
            const size_t close = FBytes.find('}', open);
            FBytes.replace(open, close - open + 1,
                           "{" + std::to_string(FBytes.size() - literalStart) + "}");
        }
    }
}

void TImapClient::Common(const TImapResponse& r) {
    if (r.Keyword == "CAPABILITY") {
        FCapabilities.clear();
        for (const TImapItem& item : r.Data) FCapabilities.push_back(UpperCase(item.Text));
        FCapabilitiesFresh = true;
    } else if (r.IsStatus()) {
        if (r.Code == "CAPABILITY") TakeCapabilities(r.CodeText);
        if (r.Keyword == "BYE") FBye = r.Text.empty() ? "The server ended the session." : r.Text;
    } else if (r.Keyword == "EXPUNGE") {
        ++FExpunged;
    }
}

TImapClient::TStatus TImapClient::Await(const std::string& tag, const TLimits& limits,
                                        const TDataHandler& onData, const TMoreHandler& onMore) {
    for (auto it = FDone.begin(); it != FDone.end(); ++it)
        if (it->first == tag) {
            TStatus status = std::move(it->second);
            FDone.erase(it);
            return status;
        }
    try {
        for (;;) {
            const bool cut = ReadResponseBytes(limits);
            ParseImapResponse(FBytes, FResponse);
            TImapResponse& r = FResponse;
            if (r.Kind == TImapResponseKind::Continuation) {
                if (!onMore) throw EImapParseError("Unexpected IMAP continuation: \"" + r.Text + "\"");
                if (onMore(r.Text)) return TStatus{};
                continue;
            }
            if (r.Kind == TImapResponseKind::Untagged) {
                Common(r);
                if (onData) onData(r, cut);
                continue;
            }
            TStatus status{r.Keyword, r.Code, r.CodeText, r.Text};
            if (r.Code == "CAPABILITY") TakeCapabilities(r.CodeText);
            if (r.Tag == tag) return status;
            // An earlier command's answer, kept for its own Await; a tag we
            // never sent means the session is out of step.
            uint32_t number = 0;
            if (r.Tag.size() < 2 || r.Tag[0] != 'a' ||
                !ParseImapNumber(std::string_view(r.Tag).substr(1), number) ||
                number > FTagCounter || FDone.size() >= FTagCounter)
                throw EImapParseError("Unexpected IMAP tag: \"" + r.Tag + "\"");
            FDone.emplace_back(r.Tag, std::move(status));
        }
    } catch (...) {
        EndOutOfStep();
    }
}

void TImapClient::EndOutOfStep() {
    // Whatever is left of the answers can no longer be read in step.
    CloseConnection();
    try {
        throw;
    } catch (const EConnClosedGracefully&) {
        // The server's BYE, when it sent one, says why it closed.
        if (!FBye.empty()) throw EImapBye(FBye);
        throw;
    }
}

void TImapClient::Note(const TStatus& status) {
    LastReply.Clear();
    LastReply.NumericCode = status.Keyword == "OK" ? kOk : status.Keyword == "NO" ? kNo : kBad;
    LastReply.TextCode = status.Keyword;
    std::string text;
    if (!status.Code.empty()) {
        text = "[" + status.Code;
        if (!status.CodeText.empty()) text += " " + status.CodeText;
        text += "] ";
    }
    text += status.Text;
    LastReply.Text.push_back(std::move(text));
}

void TImapClient::Require(const TStatus& status) {
    Note(status);
    if (LastReply.NumericCode != kOk)
        throw EProtocolReplyError(LastReply.NumericCode, LastReply.TextAsString());
}

// ---------------------------------------------------------------- sending

std::string TImapClient::Queue(const std::string& command) {
    std::string tag = "a" + std::to_string(++FTagCounter);
    QueueLine(tag + " " + command);
    return tag;
}

std::string TImapClient::Astring(const std::string& text, std::vector<std::string>& literals) {
    if (QuotableText(text)) return QuotedString(text);
    const bool ahead = HasCapability("LITERAL+") ||
                       (HasCapability("LITERAL-") && text.size() <= 4096);
    literals.push_back(text);
    // The NUL marks where the literal's bytes go: no command text has one.
    return "{" + std::to_string(text.size()) + (ahead ? "+}" : "}") + std::string(1, '\0');
}

TImapClient::TStatus TImapClient::Run(const std::string& command,
                                      const std::vector<std::string>& literals,
                                      const TDataHandler& onData) {
    if (literals.empty()) return Await(Queue(command), Small(), onData);
    const std::string tag = "a" + std::to_string(++FTagCounter);
    std::string out = tag + " ";
    size_t start = 0;
    for (const std::string& literal : literals) {
        const size_t mark = command.find('\0', start);
        out.append(command, start, mark - start);
        start = mark + 1;
        if (out.size() >= 2 && out.compare(out.size() - 2, 2, "+}") == 0) {
            out += "\r\n";
        } else {
            // A synchronising literal waits for the server's "+"; a refusal
            // instead ends the command there.
            Flush(QueueLine(out));
            out.clear();
            TStatus refused = Await(tag, Small(), onData, [](const std::string&) { return true; });
            if (!refused.Keyword.empty()) return refused;
        }
        out += literal;
    }
    out.append(command, start, std::string::npos);
    QueueLine(out);
    return Await(tag, Small(), onData);
}

// ---------------------------------------------------------------- session

void TImapClient::ReadGreeting() {
    ReadResponseBytes(Small());
    ParseImapResponse(FBytes, FResponse);
    const TImapResponse& r = FResponse;
    if (r.Kind != TImapResponseKind::Untagged || (r.Keyword != "OK" && r.Keyword != "PREAUTH")) {
        if (r.Keyword == "BYE") throw EImapBye(r.Text.empty() ? "BYE" : r.Text);
        throw EImapParseError("Unrecognized IMAP greeting:\n\"" + FBytes.substr(0, 200) + "\"");
    }
    FPreauth = r.Keyword == "PREAUTH";
    if (r.Code == "CAPABILITY") TakeCapabilities(r.CodeText);
    Note({r.Keyword, r.Code, r.CodeText, r.Text});
}

void TImapClient::Connect(int32_t timeout) {
    FTagCounter = 0;
    FCapabilities.clear();
    FPreauth = false;
    FBye.clear();
    FDone.clear();
    FExpunged = 0;
    OpenConnection(timeout);
    try {
        if (Security == TSecurity::Tls) StartTls(Host, Fingerprint);
        ReadGreeting();
        if (Security == TSecurity::Stls) {
            // Authenticated already, in clear: STARTTLS is no longer possible.
            if (FPreauth)
                throw ETlsError("The server logged in before STARTTLS: the session would stay in clear.");
            const TStatus status = Run("STARTTLS", {});
            Note(status);
            if (status.Keyword != "OK") throw EStlsRefused("The server refused STARTTLS.");
            // StartTls refuses bytes that came in clear after the OK.
            StartTls(Host, Fingerprint);
            // What was announced in clear is not to be trusted.
            FCapabilities.clear();
        }
        if (FCapabilities.empty()) RefreshCapabilities();
    } catch (...) {
        CloseConnection();
        throw;
    }
}

void TImapClient::RefreshCapabilities() { Require(Run("CAPABILITY", {})); }

void TImapClient::Login(int32_t timeout) {
    Connect(timeout);
    try {
        if (!FPreauth) PasswordLogin();
    } catch (const ELoginDisabled&) {
        // Closed as a refused STARTTLS is: not a line more.
        CloseConnection();
        throw;
    } catch (...) {
        Logout();
        throw;
    }
}

void TImapClient::PasswordLogin() {
    const bool loginAllowed = !HasCapability("LOGINDISABLED");
    const bool plain = HasCapability("AUTH=PLAIN");
    bool usePlain = LoginMethod == TLoginMethod::Plain;
    if (LoginMethod == TLoginMethod::Auto)
        usePlain = plain && (HasCapability("SASL-IR") || !loginAllowed);
    if (usePlain) {
        Authenticate("PLAIN", std::string(1, '\0') + Username + std::string(1, '\0') + Password);
        return;
    }
    if (!loginAllowed) throw ELoginDisabled();
    std::vector<std::string> literals;
    const std::string command =
        "LOGIN " + Astring(Username, literals) + " " + Astring(Password, literals);
    FCapabilitiesFresh = false;
    Require(Run(command, literals));
    if (!FCapabilitiesFresh) RefreshCapabilities();
}

void TImapClient::Authenticate(const std::string& mechanism, const std::string& initialResponse,
                               const std::optional<std::string>& challengeReply) {
    if (!IsConnected()) throw ENotConnected();
    const bool inCommand = HasCapability("SASL-IR");
    std::string command = "AUTHENTICATE " + mechanism;
    if (inCommand)
        command += " " + (initialResponse.empty() ? std::string("=") : Base64Encode(initialResponse));
    FCapabilitiesFresh = false;
    LastChallenge.clear();
    bool sent = inCommand;
    int challenges = 0;
    const TStatus status = Await(Queue(command), Small(), {}, [&](const std::string& text) {
        if (!sent) {
            sent = true;
            SendLine(Base64Encode(initialResponse));
            return false;
        }
        if (++challenges > kMaxChallenges) throw EMailError("Too many authentication challenges.");
        const std::optional<std::string> decoded = Base64Decode(text);
        LastChallenge = decoded ? *decoded : std::string(text);
        SendLine(challengeReply ? Base64Encode(*challengeReply) : std::string("*"));
        return false;
    });
    Require(status);
    if (!FCapabilitiesFresh) RefreshCapabilities();
}

void TImapClient::Logout() {
    if (IsConnected()) {
        try {
            Flush(QueueLine("a" + std::to_string(++FTagCounter) + " LOGOUT"));
        } catch (...) {
        }
    }
    CloseConnection();
}

void TImapClient::CloseConnection() {
    FDone.clear();
    FIdleState = TIdleState::None;
    TTcpClient::CloseConnection();
}

// ---------------------------------------------------------------- folders

TImapClient::TDataHandler TImapClient::FolderHandler(TImapFolder& folder) {
    FExpunged = 0;
    return [&folder](TImapResponse& r, bool) {
        if (r.Keyword == "EXISTS") {
            folder.Exists = r.Number;
        } else if (r.IsStatus() && r.Code == "UIDVALIDITY") {
            ParseImapNumber(r.CodeText, folder.UidValidity);
        } else if (r.IsStatus() && r.Code == "UIDNEXT") {
            ParseImapNumber(r.CodeText, folder.UidNext);
        }
    };
}

TImapFolder TImapClient::OpenFolder(const std::string& verb, const std::string& mailbox) {
    TImapFolder folder;
    std::vector<std::string> literals;
    const std::string command = verb + " " + Astring(mailbox, literals);
    const TStatus status = Run(command, literals, FolderHandler(folder));
    Require(status);
    folder.ReadOnly = status.Code == "READ-ONLY";
    return folder;
}

TImapFolder TImapClient::Examine(const std::string& mailbox) {
    return OpenFolder("EXAMINE", mailbox);
}

TImapFolder TImapClient::Select(const std::string& mailbox) { return OpenFolder("SELECT", mailbox); }

// ---------------------------------------------------------------- fetching

THeaderFault TImapClient::SplitHeader(std::string_view text, bool cut, THeaderList& lines) const {
    lines.Clear();
    for (size_t pos = 0; pos < text.size();) {
        const size_t lf = text.find('\n', pos);
        const size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        // As a line read from the socket: its length up to the LF counts.
        if (MaxLineLength > 0 && line.size() > static_cast<size_t>(MaxLineLength))
            return THeaderFault::LineTooLong;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) lines.Add(line);
    }
    return cut ? THeaderFault::TooLong : THeaderFault::None;
}

TImapClient::TDataHandler TImapClient::HeaderHandler(THeaderList& lines,
                                                     const TImapHeaderHandler& handler,
                                                     const std::vector<uint32_t>* only) {
    return [this, &lines, &handler, only](TImapResponse& r, bool cut) {
        if (r.Keyword != "FETCH") return;
        const TImapItem& list = r.Data.front();
        TImapMessageInfo info;
        info.Number = r.Number;
        // A FETCH without our items is another one (a flag change).
        if (!UidOf(list, info.Uid) || (only != nullptr && !Contains(*only, info.Uid))) return;
        const TImapItem* header = Section(list, "BODY[HEADER]");
        if (header == nullptr) return;
        uint32_t size = 0;
        if (const TImapItem* s = FetchAttribute(list, "RFC822.SIZE"); s && ParseImapNumber(s->Text, size))
            info.Size = size;
        if (const TImapItem* d = FetchAttribute(list, "INTERNALDATE");
            d && d->Kind == TImapItem::TKind::String)
            info.InternalDate = d->Text;
        info.Fault = SplitHeader(header->Text, cut, lines);
        handler(info, lines);
    };
}

void TImapClient::AwaitAll(const std::vector<std::string>& tags, const TLimits& limits,
                           const TDataHandler& onData) {
    // Every answer is read before a refusal is raised, so that the session
    // stays in step.
    std::optional<TStatus> refused;
    for (const std::string& tag : tags) {
        TStatus status = Await(tag, limits, onData);
        if (status.Keyword != "OK" && !refused) refused = std::move(status);
    }
    if (refused) Require(*refused);
}

void TImapClient::FetchHeaders(THeaderList& lines, const TImapHeaderHandler& handler) {
    AwaitAll({Queue(kFetchAll)}, HeaderLimits(), HeaderHandler(lines, handler, nullptr));
}

TImapFolder TImapClient::OpenAlong(const std::string& verb, const std::string& mailbox,
                                   const std::function<std::vector<std::string>()>& queue,
                                   const TLimits& limits, const TDataHandler& onData,
                                   const TFolderCheck& opened) {
    if (!QuotableText(mailbox)) {
        TImapFolder folder = OpenFolder(verb, mailbox);
        if (!opened || opened(folder)) AwaitAll(queue(), limits, onData);
        return folder;
    }
    TImapFolder folder;
    const std::string open = Queue(verb + " " + QuotedString(mailbox));
    const std::vector<std::string> tags = queue();
    const TStatus status = Await(open, HeaderLimits(), FolderHandler(folder));
    bool deliver = status.Keyword == "OK";
    if (deliver) {
        Note(status);
        folder.ReadOnly = status.Code == "READ-ONLY";
        if (opened) {
            try {
                deliver = opened(folder);
            } catch (...) {
                // The answers are under way and can no longer be read.
                CloseConnection();
                throw;
            }
        }
    }
    if (!deliver) {
        // Read and dropped, so that the session stays in step; a refused
        // open fails them too, for no folder is open.
        for (const std::string& tag : tags) Await(tag, HeaderLimits(), {});
        if (status.Keyword != "OK") Require(status);
        return folder;
    }
    AwaitAll(tags, limits, onData);
    return folder;
}

TImapFolder TImapClient::ExamineAndFetchHeaders(
    const std::string& mailbox, THeaderList& lines, const TImapHeaderHandler& handler,
    const std::function<void(const TImapFolder&)>& opened) {
    return OpenAlong(
        "EXAMINE", mailbox, [this] { return std::vector<std::string>{Queue(kFetchAll)}; },
        HeaderLimits(), HeaderHandler(lines, handler, nullptr),
        [&](const TImapFolder& folder) {
            if (opened) opened(folder);
            return true;
        });
}

std::vector<std::string> TImapClient::QueueUidFetch(const std::vector<uint32_t>& sorted,
                                                    const char* items) {
    std::vector<std::string> tags;
    for (const std::string& set : UidSets(sorted))
        tags.push_back(Queue("UID FETCH " + set + " " + items));
    return tags;
}

namespace {

constexpr const char kHeaderItems[] = "(UID BODY.PEEK[HEADER])";
constexpr const char kMessageItems[] = "(UID BODY.PEEK[])";

std::vector<uint32_t> Sorted(std::vector<uint32_t> uids) {
    std::sort(uids.begin(), uids.end());
    return uids;
}

}  // namespace

void TImapClient::FetchHeadersByUid(const std::vector<uint32_t>& uids, THeaderList& lines,
                                    const TImapHeaderHandler& handler) {
    const std::vector<uint32_t> asked = Sorted(uids);
    AwaitAll(QueueUidFetch(asked, kHeaderItems), HeaderLimits(),
             HeaderHandler(lines, handler, &asked));
}

TImapFolder TImapClient::SelectAndFetchHeaders(const std::string& mailbox,
                                               const std::vector<uint32_t>& uids,
                                               THeaderList& lines,
                                               const TImapHeaderHandler& handler,
                                               const TFolderCheck& opened) {
    const std::vector<uint32_t> asked = Sorted(uids);
    return OpenAlong(
        "SELECT", mailbox, [&] { return QueueUidFetch(asked, kHeaderItems); }, HeaderLimits(),
        HeaderHandler(lines, handler, &asked), opened);
}

bool TImapClient::FetchHeader(uint32_t uid, THeaderList& lines, THeaderFault* fault) {
    bool found = false;
    FetchHeadersByUid({uid}, lines, [&](const TImapMessageInfo& info, THeaderList&) {
        found = true;
        if (fault != nullptr) *fault = info.Fault;
    });
    return found;
}

TImapClient::TDataHandler TImapClient::MessageHandler(const std::vector<uint32_t>& sorted,
                                                      const TImapMessageHandler& handler) {
    return [&sorted, &handler](TImapResponse& r, bool) {
        if (r.Keyword != "FETCH") return;
        uint32_t uid = 0;
        if (!UidOf(r.Data.front(), uid) || !Contains(sorted, uid)) return;
        TImapItem* body = const_cast<TImapItem*>(Section(r.Data.front(), "BODY[]"));
        if (body == nullptr || body->Kind != TImapItem::TKind::String) return;
        EndLinesWithCrLf(body->Text);
        handler(uid, body->Text);
    };
}

void TImapClient::FetchMessages(const std::vector<uint32_t>& uids, int64_t maximum,
                                const TImapMessageHandler& handler) {
    const std::vector<uint32_t> asked = Sorted(uids);
    AwaitAll(QueueUidFetch(asked, kMessageItems), {maximum, false}, MessageHandler(asked, handler));
}

TImapFolder TImapClient::SelectAndFetchMessages(const std::string& mailbox,
                                                const std::vector<uint32_t>& uids, int64_t maximum,
                                                const TImapMessageHandler& handler,
                                                const TFolderCheck& opened) {
    const std::vector<uint32_t> asked = Sorted(uids);
    return OpenAlong(
        "SELECT", mailbox, [&] { return QueueUidFetch(asked, kMessageItems); }, {maximum, false},
        MessageHandler(asked, handler), opened);
}

bool TImapClient::FetchMessage(uint32_t uid, std::string& text, int64_t maximum) {
    bool found = false;
    FetchMessages({uid}, maximum, [&](uint32_t, std::string& message) {
        found = true;
        text = std::move(message);
    });
    return found;
}

// ---------------------------------------------------------------- mailboxes

std::vector<TImapMailbox> TImapClient::ListSpecialUse() {
    const bool selective = HasCapability("SPECIAL-USE") && HasCapability("LIST-EXTENDED");
    std::vector<TImapMailbox> boxes;
    Require(Run(selective ? "LIST (SPECIAL-USE) \"\" \"*\"" : "LIST \"\" \"*\"", {},
                [&](TImapResponse& r, bool) {
                    if (r.Keyword != "LIST" || r.Data.size() < 3) return;
                    const TImapItem& attributes = r.Data[0];
                    const TImapItem& name = r.Data[2];
                    if (attributes.Kind != TImapItem::TKind::List ||
                        name.Kind == TImapItem::TKind::List || name.Kind == TImapItem::TKind::Nil)
                        return;
                    TImapMailbox box;
                    box.Name = name.Text;
                    for (const TImapItem& a : attributes.Items) box.Attributes.push_back(a.Text);
                    boxes.push_back(std::move(box));
                }));
    return boxes;
}

std::string TImapClient::FindSpecialUse(std::string_view attribute) {
    for (const TImapMailbox& box : ListSpecialUse())
        if (box.Has(attribute)) return box.Name;
    return std::string();
}

// ---------------------------------------------------------------- removing

void TImapClient::MoveUids(const std::vector<uint32_t>& uids, const std::string& mailbox) {
    std::vector<std::string> literals;
    const std::string target = Astring(mailbox, literals);
    if (!literals.empty()) {
        for (const std::string& set : UidSets(uids)) Require(Run("UID MOVE " + set + " " + target, literals));
        return;
    }
    std::vector<std::string> tags;
    for (const std::string& set : UidSets(uids)) tags.push_back(Queue("UID MOVE " + set + " " + target));
    AwaitAll(tags, Small(), {});
}

void TImapClient::MarkDeleted(const std::vector<uint32_t>& uids) {
    std::vector<std::string> tags;
    for (const std::string& set : UidSets(uids))
        tags.push_back(Queue("UID STORE " + set + " +FLAGS.SILENT (\\Deleted)"));
    AwaitAll(tags, Small(), {});
}

void TImapClient::UnmarkDeleted(const std::vector<uint32_t>& uids) {
    std::vector<std::string> tags;
    for (const std::string& set : UidSets(uids))
        tags.push_back(Queue("UID STORE " + set + " -FLAGS.SILENT (\\Deleted)"));
    AwaitAll(tags, Small(), {});
}

void TImapClient::ExpungeUids(const std::vector<uint32_t>& uids) {
    std::vector<std::string> tags;
    for (const std::string& set : UidSets(uids)) tags.push_back(Queue("UID EXPUNGE " + set));
    AwaitAll(tags, Small(), {});
}

void TImapClient::DeleteUids(const std::vector<uint32_t>& uids) {
    // The expunge goes with the store: it removes only messages of its own
    // set, each one verified, whether the store took or not.
    std::vector<std::string> tags;
    for (const std::string& set : UidSets(uids)) {
        tags.push_back(Queue("UID STORE " + set + " +FLAGS.SILENT (\\Deleted)"));
        tags.push_back(Queue("UID EXPUNGE " + set));
    }
    AwaitAll(tags, Small(), {});
}

void TImapClient::Expunge() { Require(Run("EXPUNGE", {})); }

std::vector<uint32_t> TImapClient::DeletedUids() {
    std::vector<uint32_t> uids;
    Require(Run("UID SEARCH DELETED", {}, [&](TImapResponse& r, bool) {
        if (r.Keyword != "SEARCH") return;
        for (const TImapItem& item : r.Data) {
            uint32_t uid = 0;
            if (item.Kind == TImapItem::TKind::Atom && ParseImapNumber(item.Text, uid))
                uids.push_back(uid);
        }
    }));
    return uids;
}

// ---------------------------------------------------------------- IDLE

void TImapClient::StartIdle(uint32_t exists) {
    if (!IsConnected()) throw ENotConnected();
    if (FIdleState != TIdleState::None) throw EMailError("An IDLE is already out.");
    FIdleExists = exists;
    FIdleRenew = FIdleDoneDue = false;
    FIdleTag = "a" + std::to_string(++FTagCounter);
    Flush(QueueLine(FIdleTag + " IDLE"));
    FIdleState = TIdleState::Starting;
}

void TImapClient::SendDone() {
    if (FIdleState == TIdleState::Idling) {
        Flush(QueueLine("DONE"));
        FIdleState = TIdleState::Ending;
    } else if (FIdleState == TIdleState::Starting) {
        // DONE before the "+" would be read as a command of its own.
        FIdleDoneDue = true;
    }
}

void TImapClient::EndIdle() {
    FIdleRenew = false;
    SendDone();
}

void TImapClient::RenewIdle() {
    if (FIdleState == TIdleState::None || FIdleState == TIdleState::Ending) return;
    SendDone();
    FIdleRenew = true;
}

bool TImapClient::TakeIdleResponse() {
    ReadResponseBytes(Small());
    ParseImapResponse(FBytes, FResponse);
    const TImapResponse& r = FResponse;
    if (r.Kind == TImapResponseKind::Continuation) {
        if (FIdleState != TIdleState::Starting)
            throw EImapParseError("Unexpected IMAP continuation: \"" + r.Text + "\"");
        FIdleState = TIdleState::Idling;
        if (FIdleDoneDue) {
            FIdleDoneDue = false;
            SendDone();
        }
        return false;
    }
    if (r.Kind == TImapResponseKind::Untagged) {
        Common(r);
        if (r.Keyword == "EXISTS") {
            const bool grown = r.Number > FIdleExists;
            FIdleExists = r.Number;
            return grown;
        }
        if (r.Keyword == "EXPUNGE" && FIdleExists > 0) --FIdleExists;
        return false;
    }
    if (r.Tag != FIdleTag) throw EImapParseError("Unexpected IMAP tag: \"" + r.Tag + "\"");
    const TStatus status{r.Keyword, r.Code, r.CodeText, r.Text};
    FIdleState = TIdleState::None;
    FIdleDoneDue = false;
    if (status.Keyword != "OK") FIdleRenew = false;
    Require(status);
    if (FIdleRenew) {
        FIdleRenew = false;
        StartIdle(FIdleExists);
    }
    return false;
}

bool TImapClient::PollIdle(int32_t timeout) {
    if (FIdleState == TIdleState::None) return false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeout));
    bool news = false;
    try {
        for (;;) {
            // Only whole lines are taken, so that a poll never waits on a
            // line the server is still sending (a literal it announced is
            // read to its end, bounded by ReadTimeout).
            for (;;) {
                const std::string_view in = InputView();
                if (FIdleState == TIdleState::None || in.empty() ||
                    std::memchr(in.data(), '\n', in.size()) == nullptr)
                    break;
                news = TakeIdleResponse() || news;
            }
            if (FIdleState == TIdleState::None) return news;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (ReceiveData(true, static_cast<int32_t>(std::max<int64_t>(0, left)), false) < 0)
                return news;
        }
    } catch (...) {
        EndOutOfStep();
    }
}

bool TImapClient::LeaveIdleState(TIdleState state) {
    const auto start = std::chrono::steady_clock::now();
    bool news = false;
    while (FIdleState == state) {
        const int64_t spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start)
                                  .count();
        if (ReadTimeout > 0 && spent >= ReadTimeout) {
            CloseConnection();
            throw EReadTimeout();
        }
        news = PollIdle(100) || news;
    }
    return news;
}

bool TImapClient::Idle(uint32_t exists, int32_t timeout, const std::function<bool()>& stop) {
    StartIdle(exists);
    bool news = LeaveIdleState(TIdleState::Starting);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeout));
    while (!news && FIdleState == TIdleState::Idling && !(stop && stop())) {
        const int64_t left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 end - std::chrono::steady_clock::now())
                                 .count();
        if (left <= 0) break;
        // Short slices: stop() is asked between them.
        news = PollIdle(static_cast<int32_t>(std::min<int64_t>(left, 100)));
    }
    EndIdle();
    return LeaveIdleState(TIdleState::Ending) || news;
}

}  // namespace kalmuro
