// The POP3 client: one session at a time, and the replies read one at a
// time in the order of the commands. LastReply codes: 1 = +OK, 2 = -ERR.
//
// On a server that lists PIPELINING, commands may be sent ahead of their
// answers (SendAhead). Every command function below then finds its command
// already sent when it is the next one ahead, and reads its answer exactly
// as it would have after sending it: one reading road for both ways.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mail/accounts.h"
#include "mail/net/fifo.h"
#include "mail/net/session_errors.h"
#include "mail/net/tcp_connection.h"
#include "mail/net/tls_transport.h"

namespace kalmuro {

class THeaderList;
class TMailMessage;

class TPop3Client : public TTcpClient {
public:
    TPop3Client();

    std::string Username;
    std::string Password;
    bool APOP = false;
    // TLS from the first byte, after STLS, or none.
    TSecurity Security = TSecurity::None;
    // The fingerprint of a certificate the user accepted although it cannot
    // be verified; empty for none.
    std::string Fingerprint;
    // OAuth: the session signs in with AccessToken by SASL (XOAUTH2 or
    // OAUTHBEARER, as CAPA says), never by USER/PASS. The token is a secret:
    // it goes on the wire and nowhere else.
    TAccessMethod Access = TAccessMethod::Password;
    std::string AccessToken;
    // Most bytes a TOP answer may take. Beyond it the header fetch fails
    // with what arrived and the session is closed.
    int64_t MaxHeaderBytes = 4 * 1024 * 1024;

    // Connects (timeout in ms, as OpenConnection), reads the greeting and
    // authenticates by USER/PASS or APOP. On any error after the connect the
    // session is closed with QUIT and LastReply keeps the reply that caused it.
    // With Security set the session becomes TLS first (before the greeting,
    // or by STLS right after it); the user name and password are only ever
    // sent once it has. A refused STLS raises EStlsRefused; a failed
    // handshake closes the connection without another word.
    void Login(int32_t timeout = -1);
    // STAT: the number of waiting messages.
    int32_t CountMessages();
    // LIST n: the size in octets, -1 when the reply has none.
    int32_t MessageSize(int32_t n);
    // UIDL n: on +OK the list holds the reply's text line ("n uid").
    bool MessageUid(std::vector<std::string>& list, int32_t n);
    // The same with that line alone (empty when the reply has none).
    bool MessageUid(std::string& uid, int32_t n);
    // TOP n 0: the header lines as read go into message.HeaderLines, then
    // the message interprets them. A line over MaxLineLength fails the fetch
    // (EMaxLineLengthExceeded) after the rest of the answer has been read and
    // dropped, so the session stays in step; the lines before it are kept
    // and interpreted. An answer over MaxHeaderBytes raises EAnswerTooLong
    // the same way, but with the session closed.
    bool FetchHeader(int32_t n, TMailMessage& message);
    // The same, with the command `next` sent (as SendEarly) as soon as the
    // header lines are in, before they are interpreted; empty: none.
    bool FetchHeader(int32_t n, TMailMessage& message, const std::string& next);
    // The reading half of FetchHeader: the lines only, with the same
    // failures, and no interpretation.
    void FetchHeaderLines(int32_t n, THeaderList& lines);
    // RETR n: on +OK the message's lines, dot-unstuffed, are appended.
    bool FetchRaw(int32_t n, std::vector<std::string>& lines);
    // RETR n into one text, each line of any length followed by CR LF: the
    // content of a message file. Over maximum bytes the session is closed
    // and EAnswerTooLong raised.
    bool FetchRaw(int32_t n, std::string& text, int64_t maximum);
    // DELE n: a -ERR raises.
    bool DeleteMessageOnServer(int32_t n);
    // Sends QUIT when connected (its answer is never read), then closes.
    void Quit();

    // CAPA's SASL mechanisms: nothing when CAPA is refused or has no SASL
    // line. LastReply stays as it was; an answer over MaxReplyBytes closes
    // the session and raises EAnswerTooLong.
    std::optional<std::vector<std::string>> QuerySaslMechanisms();
    // CAPA: whether the server lists PIPELINING. A refusal says no and
    // leaves LastReply as it was; so does an answer, which is read whole (at
    // most MaxReplyBytes, else the session is closed and EAnswerTooLong
    // raised). A lost connection raises as any command would.
    bool QueryPipelining();

    // Most commands, and most bytes of them, sent ahead and not yet
    // answered. The socket buffers need not hold a window: output goes out
    // only as the socket takes it, while the answers are read.
    size_t WindowCommands = 1024;
    size_t WindowBytes = 16384;
    // Queues a command ahead of its answer; it goes out at the next read or
    // flush. The command function that reads its answer must follow in the
    // same order.
    uint64_t SendAhead(std::string command);
    // Sends a command now whose answer its command function reads next, so
    // that the server works on it while the caller does other work: still
    // one command at a time, as a server without PIPELINING expects. Nothing
    // is sent when commands are ahead already (the command is among them).
    // A failure to send is left for the command function, which meets it
    // again.
    void SendEarly(std::string command);
    // Whether `commands` more commands of about `bytes` bytes fit in the
    // window. One message's worth always fits when nothing is ahead.
    bool AheadRoom(size_t commands, size_t bytes) const;
    size_t AheadCount() const { return FAhead.size(); }
    // Whether the window has drained to half or less. Refilling only then
    // sends the commands in a few large writes rather than a small write
    // after every answer, while the server still has half a window to do.
    bool AheadLow() const {
        return 2 * FAhead.size() <= WindowCommands && 2 * FAheadBytes <= WindowBytes;
    }
    // Reads and drops the answers of every command still ahead, so that the
    // session can go on or end in step. A multi-line answer over the
    // command's own bound closes the session and raises EAnswerTooLong.
    void DropAhead();
    // Sends a command (or finds it already sent ahead) and reads its reply,
    // as SendCommand.
    int32_t Command(const std::string& line, std::initializer_list<int32_t> allowed);
    void CloseConnection() override;

protected:
    int32_t ReadResponse() override;

private:
    // Reads a CAPA answer's lines after its +OK, each handed to take.
    void ReadCapabilities(const std::function<void(std::string_view)>& take);
    // The SASL exchange of an OAuth login; raises EOAuthRefused or
    // ENoOAuthMechanism, with LastReply holding the server's last word.
    void AuthenticateOAuth();

    struct TAhead {
        std::string Line;
        uint64_t Mark = 0;       // the output mark of its last byte
        bool MultiLine = false;  // +OK brings lines up to "."
    };
    // Sends the command, or takes it off the front of the commands ahead.
    void Issue(const std::string& line);
    TFifo<TAhead> FAhead;
    size_t FAheadBytes = 0;
};

// The number of messages in a STAT reply's first text line: 0 when empty,
// else the text before the first blank (none without a blank) as an integer;
// raises EConvertError otherwise.
int32_t StatReplyCount(const std::string& text);
// The size in a LIST n reply's first text line: the text after the first
// blank (all of it without one) as an integer, -1 when it is not one.
int32_t ListReplySize(const std::string& text);

// The most bytes a RETR answer may bring for a message whose LIST size was
// listSize (-1: unknown): twice the size, for servers that count bare LF line
// ends, and 1 MB more.
int64_t RetrieveLimit(int64_t listSize);

// The APOP digest: MD5 of the time stamp (angle brackets included) followed
// by the password, as 32 lower-case hex digits.
std::string ApopDigest(const std::string& timestamp, const std::string& password);
// The time stamp of a greeting line: from its first "<" to the first ">"
// after it, empty when there is none.
std::string ApopTimestamp(const std::string& greeting);

}  // namespace kalmuro
