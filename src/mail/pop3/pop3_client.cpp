#include "mail/pop3/pop3_client.h"

#include <openssl/evp.h>

#include <algorithm>
#include <exception>

#include "mail/mime/mail_message.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

constexpr int32_t OkCode = 1;
constexpr int32_t ErrCode = 2;

// A failed header fetch still leaves the sender and subject it got as far
// as; an error of the interpretation itself changes nothing.
void InterpretWhatArrived(TMailMessage& message) {
    try {
        message.InterpretHeaders();
    } catch (const std::exception&) {
    }
}

const std::string& FirstLine(const TServerReply& reply) {
    static const std::string empty;
    return reply.Text.empty() ? empty : reply.Text.front();
}

}  // namespace

std::string ApopTimestamp(const std::string& greeting) {
    const size_t open = greeting.find('<');
    if (open == std::string::npos) return std::string();
    const size_t close = greeting.find('>', open);
    if (close == std::string::npos) return std::string();
    return greeting.substr(open, close - open + 1);
}

std::string ApopDigest(const std::string& timestamp, const std::string& password) {
    const std::string input = timestamp + password;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(input.data(), input.size(), digest, &length, EVP_md5(), nullptr) != 1)
        throw EMailError("MD5 digest unavailable");
    static const char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 15];
    }
    return text;
}

TPop3Client::TPop3Client() { Port = 110; }

// Gives the reply its POP3 meaning. Only the first four characters of the
// status line count, so "+OK" must be followed by a blank, a control
// character or nothing.
int32_t TPop3Client::ReadResponse() {
    ReadReply();
    if (SameText(LastReply.TextCode, "+OK")) {
        LastReply.NumericCode = OkCode;
    } else if (SameText(LastReply.TextCode, "-ERR")) {
        LastReply.NumericCode = ErrCode;
    } else {
        throw EMailError("Unrecognized POP3 Response Header:\n\"" + LastReply.TextAsString() +
                         "\"");
    }
    LastReply.TextCode = std::to_string(LastReply.NumericCode);
    return LastReply.NumericCode;
}

void TPop3Client::Login(int32_t timeout) {
    FAhead.clear();
    FAheadBytes = 0;
    OpenConnection(timeout);
    try {
        if (Security == TSecurity::Tls) StartTls(Host, Fingerprint);
        GetResponse({OkCode});
        // APOP signs the time stamp of this first greeting, also after STLS.
        const std::string greeting = FirstLine(LastReply);
        if (Security == TSecurity::Stls) {
            if (SendCommand("STLS", {}) != OkCode) throw EStlsRefused();
            StartTls(Host, Fingerprint);
        }
        if (Access == TAccessMethod::OAuth) {
            AuthenticateOAuth();
        } else if (APOP) {
            const std::string stamp = ApopTimestamp(greeting);
            if (stamp.empty()) throw EMailError("Server do not support APOP (no timestamp)");
            SendCommand("APOP " + Username + " " + ApopDigest(stamp, Password), {OkCode});
        } else {
            SendCommand("USER " + Username, {OkCode});
            SendCommand("PASS " + Password, {OkCode});
        }
    } catch (...) {
        // LastReply keeps the refusal; an error of Quit itself replaces it.
        Quit();
        throw;
    }
}

int32_t StatReplyCount(const std::string& text) {
    if (text.empty()) return 0;
    const size_t blank = text.find(' ');
    // Without a blank there is no count to read: the conversion error says so.
    return StrToInt(blank == std::string::npos ? std::string_view()
                                               : std::string_view(text).substr(0, blank));
}

int32_t ListReplySize(const std::string& text) {
    if (text.empty()) return -1;
    const size_t blank = text.find(' ');
    const std::string_view rest = blank == std::string::npos
                                      ? std::string_view(text)
                                      : std::string_view(text).substr(blank + 1);
    int32_t size = 0;
    return TryStrToInt(rest, size) ? size : -1;
}

int32_t TPop3Client::CountMessages() {
    Command("STAT", {OkCode});
    return StatReplyCount(FirstLine(LastReply));
}

int32_t TPop3Client::MessageSize(int32_t n) {
    Command("LIST " + std::to_string(n), {OkCode});
    return ListReplySize(FirstLine(LastReply));
}

bool TPop3Client::MessageUid(std::vector<std::string>& list, int32_t n) {
    if (Command("UIDL " + std::to_string(n), {}) != OkCode) return false;
    list = LastReply.Text;
    return true;
}

bool TPop3Client::MessageUid(std::string& uid, int32_t n) {
    if (Command("UIDL " + std::to_string(n), {}) != OkCode) return false;
    uid = FirstLine(LastReply);
    return true;
}

bool TPop3Client::FetchHeader(int32_t n, TMailMessage& message) {
    return FetchHeader(n, message, std::string());
}

bool TPop3Client::FetchHeader(int32_t n, TMailMessage& message, const std::string& next) {
    std::exception_ptr failure;
    bool partial = false;  // lines arrived before the failure and are interpreted
    try {
        FetchHeaderLines(n, message.HeaderLines);
    } catch (const EMaxLineLengthExceeded&) {
        failure = std::current_exception();
        partial = true;
    } catch (const EAnswerTooLong&) {
        failure = std::current_exception();
        partial = true;
    } catch (...) {
        failure = std::current_exception();
    }
    // The whole answer is read (or the session closed), so the next command
    // can go out in step.
    if (!next.empty()) SendEarly(next);
    if (failure) {
        if (partial) InterpretWhatArrived(message);
        std::rethrow_exception(failure);
    }
    message.InterpretHeaders();
    return true;
}

void TPop3Client::FetchHeaderLines(int32_t n, THeaderList& lines) {
    Command("TOP " + std::to_string(n) + " 0", {OkCode});
    BeginWork(TWorkMode::wmRead);
    const uint64_t start = ConsumedBytes();
    const uint64_t budget = static_cast<uint64_t>(std::max<int64_t>(0, MaxHeaderBytes));
    auto spent = [&] { return ConsumedBytes() - start; };
    bool overlong = false;
    try {
        // Whatever comes up to the "." line is header: a server that ignores
        // the 0 gets its body read as header lines rather than left unread.
        for (;;) {
            std::string_view line;
            try {
                line = ReadLineView();
            } catch (const EMaxLineLengthExceeded&) {
                // That line and the rest of the answer are dropped, so that
                // the next command reads its own reply.
                overlong = true;
                if (!DiscardLine(static_cast<int64_t>(budget - std::min(budget, spent()))))
                    throw EAnswerTooLong();
                continue;
            }
            if (line == ".") break;
            if (spent() > budget) throw EAnswerTooLong();
            if (!overlong && !line.empty()) lines.Add(line);
        }
    } catch (const EAnswerTooLong&) {
        CloseConnection();
        EndWork(TWorkMode::wmRead);
        throw;
    } catch (...) {
        EndWork(TWorkMode::wmRead);
        throw;
    }
    EndWork(TWorkMode::wmRead);
    if (overlong) throw EMaxLineLengthExceeded();
}

bool TPop3Client::FetchRaw(int32_t n, std::vector<std::string>& lines) {
    std::string text;
    // Every whole line of text ends with CR LF (a CR of the line itself
    // stays); the lines that arrived before a failure are kept too.
    auto appendLines = [&] {
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2)
            lines.push_back(text.substr(start, end - start));
    };
    try {
        if (!FetchRaw(n, text, RetrieveLimit(-1))) return false;
    } catch (...) {
        appendLines();
        throw;
    }
    appendLines();
    return true;
}

bool TPop3Client::FetchRaw(int32_t n, std::string& text, int64_t maximum) {
    if (Command("RETR " + std::to_string(n), {}) != OkCode) return false;
    CaptureText(text, maximum);
    return true;
}

int64_t RetrieveLimit(int64_t listSize) {
    // Without a size from the server the limit still holds a large message.
    constexpr int64_t kUnknownSizeLimit = int64_t{512} * 1024 * 1024;
    constexpr int64_t kMargin = 1024 * 1024;
    return listSize < 0 ? kUnknownSizeLimit : 2 * listSize + kMargin;
}

bool TPop3Client::DeleteMessageOnServer(int32_t n) {
    Command("DELE " + std::to_string(n), {OkCode});
    return true;
}

void TPop3Client::Quit() {
    if (IsConnected()) {
        try {
            SendLine("QUIT");
        } catch (...) {
            CloseConnection();
            throw;
        }
    }
    CloseConnection();
}

void TPop3Client::ReadCapabilities(const std::function<void(std::string_view)>& take) {
    const uint64_t start = ConsumedBytes();
    for (;;) {
        const std::string_view line = ReadLineView();
        if (line == ".") break;
        if (MaxReplyBytes > 0 && ConsumedBytes() - start > static_cast<uint64_t>(MaxReplyBytes)) {
            CloseConnection();
            throw EAnswerTooLong();
        }
        take(line);
    }
}

bool TPop3Client::QueryPipelining() {
    // Nothing of this exchange may pass for a later refusal by the server.
    const TServerReply before = LastReply;
    if (Command("CAPA", {}) != OkCode) {
        LastReply = before;
        return false;
    }
    bool listed = false;
    ReadCapabilities([&listed](std::string_view line) {
        if (SameText(line.substr(0, line.find(' ')), "PIPELINING")) listed = true;
    });
    LastReply = before;
    return listed;
}

std::optional<std::vector<std::string>> TPop3Client::QuerySaslMechanisms() {
    const TServerReply before = LastReply;
    if (Command("CAPA", {}) != OkCode) {
        LastReply = before;
        return std::nullopt;
    }
    std::optional<std::vector<std::string>> mechanisms;
    ReadCapabilities([&mechanisms](std::string_view line) {
        const std::string text = Trim(std::string(line));
        if (!SameText(text.substr(0, text.find(' ')), "SASL")) return;
        if (!mechanisms) mechanisms.emplace();
        size_t at = 4;
        while (at < text.size()) {
            while (at < text.size() && text[at] == ' ') ++at;
            const size_t end = std::min(text.find(' ', at), text.size());
            if (end > at) mechanisms->push_back(text.substr(at, end - at));
            at = end;
        }
    });
    LastReply = before;
    return mechanisms;
}

bool TPop3Client::AheadRoom(size_t commands, size_t bytes) const {
    if (FAhead.empty()) return true;
    return FAhead.size() + commands <= WindowCommands && FAheadBytes + bytes <= WindowBytes;
}

void TPop3Client::SendEarly(std::string command) {
    if (!FAhead.empty()) return;
    try {
        Flush(SendAhead(std::move(command)));
    } catch (const std::exception&) {
    }
}

uint64_t TPop3Client::SendAhead(std::string command) {
    const std::string_view verb = std::string_view(command).substr(0, command.find(' '));
    const bool bare = command.find(' ') == std::string::npos;
    const bool multi = SameText(verb, "TOP") || SameText(verb, "RETR") || SameText(verb, "CAPA") ||
                       (bare && (SameText(verb, "LIST") || SameText(verb, "UIDL")));
    const uint64_t mark = QueueLine(command);
    FAheadBytes += command.size() + 2;
    FAhead.push_back({std::move(command), mark, multi});
    return mark;
}

void TPop3Client::Issue(const std::string& line) {
    if (!FAhead.empty() && FAhead.front().Line == line) {
        const uint64_t mark = FAhead.front().Mark;
        FAheadBytes -= line.size() + 2;
        FAhead.pop_front();
        Flush(mark);
        return;
    }
    // Another command than the one ahead: the answers before it go first.
    if (!FAhead.empty()) DropAhead();
    SendLine(line);
}

int32_t TPop3Client::Command(const std::string& line, std::initializer_list<int32_t> allowed) {
    Issue(line);
    return GetResponse(allowed);
}

void TPop3Client::DropAhead() {
    while (!FAhead.empty()) {
        const TAhead ahead = FAhead.front();
        Issue(ahead.Line);
        if (GetResponse({}) != OkCode || !ahead.MultiLine) continue;
        const bool header = SameText(std::string_view(ahead.Line).substr(0, 4), "TOP ");
        const int64_t budget = header ? MaxHeaderBytes : RetrieveLimit(-1);
        const uint64_t start = ConsumedBytes();
        const uint64_t limit = static_cast<uint64_t>(std::max<int64_t>(0, budget));
        auto spent = [&] { return ConsumedBytes() - start; };
        for (;;) {
            std::string_view line;
            try {
                line = ReadLineView();
            } catch (const EMaxLineLengthExceeded&) {
                if (DiscardLine(static_cast<int64_t>(limit - std::min(limit, spent())))) continue;
                line = std::string_view();
            }
            if (line == ".") break;
            if (spent() > limit) {
                CloseConnection();
                throw EAnswerTooLong();
            }
        }
    }
}

void TPop3Client::CloseConnection() {
    FAhead.clear();
    FAheadBytes = 0;
    TTcpClient::CloseConnection();
}

}  // namespace kalmuro
