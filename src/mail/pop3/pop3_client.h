// The POP3 client: one session at a time, one command and its reply at a
// time. LastReply codes: 1 = +OK, 2 = -ERR.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mail/accounts.h"
#include "mail/pop3/pop3_errors.h"
#include "mail/pop3/tcp_connection.h"
#include "mail/pop3/tls_transport.h"

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
    // TOP n 0: the header lines as read go into message.HeaderLines, then
    // the message interprets them. A line over MaxLineLength fails the fetch
    // (EMaxLineLengthExceeded) after the rest of the answer has been read and
    // dropped, so the session stays in step; the lines before it are kept
    // and interpreted. An answer over MaxHeaderBytes raises EAnswerTooLong
    // the same way, but with the session closed.
    bool FetchHeader(int32_t n, TMailMessage& message);
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

protected:
    int32_t ReadResponse() override;
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
