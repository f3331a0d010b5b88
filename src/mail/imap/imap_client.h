// The IMAP4rev1 client: one session on the caller's thread, over the same
// connection (TLS, time-outs, anti-freeze, output queue) as the POP3 client.
//
// Commands carry tags ("a1", "a2"... from each connect); several may be out
// at once, and each answer is read in the order they were sent. Everything
// the server sends is untrusted: a response's text is bounded by
// MaxResponseBytes, a header by MaxHeaderBytes, a whole message by the
// maximum its caller gives, and a response that breaks the grammar ends the
// session.
//
// Mailbox names are passed as the server spells them (modified UTF-7): a
// name the user typed goes through EncodeMailboxName first, a name from
// ListMailboxes goes back unchanged.
//
// After Login LastReply holds the last tagged answer: NumericCode 1 = OK,
// 2 = NO, 3 = BAD, Text its text (the response code included).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/accounts.h"
#include "mail/imap/imap_response.h"
#include "mail/mime/header_list.h"
#include "mail/net/session_errors.h"
#include "mail/net/tcp_connection.h"
#include "mail/net/tls_transport.h"

namespace kalmuro {

// The server said BYE and closed the session: the message is its text.
class EImapBye : public EMailError {
public:
    using EMailError::EMailError;
};

// The server announces LOGINDISABLED and offers no mechanism the password
// could go by: nothing of the user's was sent, and the connection is closed.
class ELoginDisabled : public EMailError {
public:
    ELoginDisabled();
};

// What a folder reports when it is opened.
struct TImapFolder {
    uint32_t UidValidity = 0;  // 0 when the server named none
    uint32_t Exists = 0;
    uint32_t UidNext = 0;  // 0 when not reported
    bool ReadOnly = false;
};

// A mailbox of LIST: its name as the server spells it and its attributes.
struct TImapMailbox {
    std::string Name;
    std::vector<std::string> Attributes;  // "\HasNoChildren", "\Junk"...
    bool Has(std::string_view attribute) const;
};

// Why a header arrived incomplete; the lines before the fault are kept.
enum class THeaderFault {
    None,
    LineTooLong,  // a line over MaxLineLength: it and every later line dropped
    TooLong,      // over MaxHeaderBytes: only the whole lines within it kept
};

// One message of a header fetch.
struct TImapMessageInfo {
    uint32_t Number = 0;  // sequence number
    uint32_t Uid = 0;
    int64_t Size = -1;  // RFC822.SIZE, -1 when not reported
    std::string InternalDate;
    THeaderFault Fault = THeaderFault::None;
};

// Called once per message as its header arrives; the lines are those of
// the list the fetch was given, valid until the next call.
using TImapHeaderHandler = std::function<void(const TImapMessageInfo&, THeaderList&)>;
// Called once per message of a whole-message fetch: its text, every line
// followed by CR LF, may be moved away.
using TImapMessageHandler = std::function<void(uint32_t uid, std::string& text)>;

class TImapClient : public TTcpClient {
public:
    TImapClient();

    std::string Username;
    std::string Password;
    TSecurity Security = TSecurity::None;
    std::string Fingerprint;
    // How Login proves the password. Auto: AUTHENTICATE PLAIN when the
    // server offers it with an initial response or refuses LOGIN, else
    // LOGIN. LOGIN is never sent to a server that announces LOGINDISABLED.
    enum class TLoginMethod { Auto, Login, Plain };
    TLoginMethod LoginMethod = TLoginMethod::Auto;
    // Most bytes of one message's header; beyond it the header is cut (see
    // THeaderFault) and the rest of it read and dropped, so the session
    // stays in step.
    int64_t MaxHeaderBytes = 4 * 1024 * 1024;
    // Most bytes of one response other than a fetched header or message
    // (its line and small literals): over it the session is closed and
    // EAnswerTooLong raised.
    int64_t MaxResponseBytes = 1024 * 1024;

    // Connects (timeout in ms, as OpenConnection), becomes TLS as Security
    // says, reads the greeting and the capabilities. STARTTLS that is
    // refused raises EStlsRefused, a greeting that is PREAUTH in clear when
    // TLS was asked for raises ETlsError: either way the connection is
    // closed before anything of the user's is sent. Any failure closes it.
    void Connect(int32_t timeout = -1);
    // Connect, then the password login as LoginMethod says, then the
    // capabilities after login. On failure the session is ended (LOGOUT
    // sent, not waited for) and the error raised; LastReply keeps a refusal.
    // Under LOGINDISABLED without a usable mechanism ELoginDisabled is raised
    // and nothing at all is sent after the capabilities.
    void Login(int32_t timeout = -1);
    // AUTHENTICATE with a mechanism after Connect: the initial response (raw
    // bytes; base64 is added here) goes in the command when the server
    // offers SASL-IR, else after its first "+". A further challenge is kept
    // (decoded) in LastChallenge and answered with challengeReply when
    // given (XOAUTH2 wants an empty one), else the exchange is cancelled.
    // A refusal raises EProtocolReplyError. Reads the capabilities after.
    void Authenticate(const std::string& mechanism, const std::string& initialResponse,
                      const std::optional<std::string>& challengeReply = std::nullopt);
    std::string LastChallenge;
    // Sends LOGOUT when connected (its answer is not waited for), closes.
    // Raises nothing.
    void Logout();

    // The capabilities as last announced, in upper case.
    const std::vector<std::string>& Capabilities() const { return FCapabilities; }
    bool HasCapability(std::string_view name) const;
    // CAPABILITY: asks them again.
    void RefreshCapabilities();

    // EXAMINE (read-only: nothing the session does changes a flag) or
    // SELECT of a folder. A refusal raises EProtocolReplyError.
    TImapFolder Examine(const std::string& mailbox);
    TImapFolder Select(const std::string& mailbox);
    // The headers of every message of the open folder, as they stream in:
    // `UID FETCH 1:* (UID RFC822.SIZE INTERNALDATE BODY.PEEK[HEADER])`.
    // lines is cleared and filled for each message before the handler runs.
    // A refusal raises EProtocolReplyError; a handler that raises ends the
    // session.
    void FetchHeaders(THeaderList& lines, const TImapHeaderHandler& handler);
    // EXAMINE and the header fetch sent together: one round trip less. When
    // EXAMINE is refused its error is raised and no header is delivered.
    // opened, when given, gets the folder once EXAMINE has answered, before
    // the first header (its UIDVALIDITY names the UIDs that follow).
    TImapFolder ExamineAndFetchHeaders(const std::string& mailbox, THeaderList& lines,
                                       const TImapHeaderHandler& handler,
                                       const std::function<void(const TImapFolder&)>& opened = {});

    // SELECT and a fetch of the given UIDs (FetchHeadersByUid, FetchMessages)
    // sent together: one round trip less. The fetch only reads, so it may go
    // before SELECT has answered; opened gets the folder once it has, and
    // only when it returns true is anything of the fetch delivered, else its
    // answer is read and dropped. A refused SELECT raises its error and
    // delivers nothing.
    using TFolderCheck = std::function<bool(const TImapFolder&)>;
    TImapFolder SelectAndFetchHeaders(const std::string& mailbox, const std::vector<uint32_t>& uids,
                                      THeaderList& lines, const TImapHeaderHandler& handler,
                                      const TFolderCheck& opened);
    TImapFolder SelectAndFetchMessages(const std::string& mailbox,
                                       const std::vector<uint32_t>& uids, int64_t maximum,
                                       const TImapMessageHandler& handler,
                                       const TFolderCheck& opened);

    // The headers (UID and BODY.PEEK[HEADER]) of the given UIDs of the open
    // folder, all asked at once; a UID that no longer exists gets no call.
    void FetchHeadersByUid(const std::vector<uint32_t>& uids, THeaderList& lines,
                           const TImapHeaderHandler& handler);
    // One UID's header: false when the folder has no such UID.
    bool FetchHeader(uint32_t uid, THeaderList& lines, THeaderFault* fault = nullptr);
    // Whole messages (BODY.PEEK[]), each of at most maximum bytes: a larger
    // one closes the session and raises EAnswerTooLong, for a copy must be
    // whole or none.
    void FetchMessages(const std::vector<uint32_t>& uids, int64_t maximum,
                       const TImapMessageHandler& handler);
    bool FetchMessage(uint32_t uid, std::string& text, int64_t maximum);

    // LIST of every mailbox, with the special-use attributes where the
    // server offers them (only the special-use mailboxes then).
    std::vector<TImapMailbox> ListSpecialUse();
    // The name of the first mailbox marked `attribute` ("\Junk"); empty
    // when there is none.
    std::string FindSpecialUse(std::string_view attribute);

    // UID MOVE of the UIDs to a mailbox (the server must offer MOVE).
    void MoveUids(const std::vector<uint32_t>& uids, const std::string& mailbox);
    // UID STORE uid-set +FLAGS.SILENT (\Deleted).
    void MarkDeleted(const std::vector<uint32_t>& uids);
    // UID STORE uid-set -FLAGS.SILENT (\Deleted): takes back MarkDeleted.
    void UnmarkDeleted(const std::vector<uint32_t>& uids);
    // UID EXPUNGE uid-set (the server must offer UIDPLUS): only messages of
    // the set that carry \Deleted go, never another one.
    void ExpungeUids(const std::vector<uint32_t>& uids);
    // Both sent together (one round trip), each refusal raised. Whatever
    // happens to the STORE, the expunge touches the given UIDs only.
    void DeleteUids(const std::vector<uint32_t>& uids);
    // Plain EXPUNGE: every message with \Deleted goes. Only for a server
    // without UIDPLUS, and only after DeletedUids found no other message.
    void Expunge();
    // UID SEARCH DELETED: the UIDs that carry \Deleted now.
    std::vector<uint32_t> DeletedUids();
    // Messages expunged (untagged EXPUNGE) since the folder was opened.
    uint32_t ExpungedCount() const { return FExpunged; }

    void CloseConnection() override;

private:
    struct TLimits {
        int64_t Literal;  // most bytes of the literals of one response
        bool Cut;         // more is cut (a header), not refused
    };
    struct TStatus {
        std::string Keyword, Code, CodeText, Text;  // Keyword empty: none yet
    };
    using TDataHandler = std::function<void(TImapResponse&, bool cut)>;
    // Gets the text of a continuation; true ends the wait for the answer.
    using TMoreHandler = std::function<bool(const std::string& text)>;

    TLimits Small() const { return {MaxResponseBytes, false}; }
    TLimits HeaderLimits() const { return {MaxHeaderBytes, true}; }
    // Queues "tag command" and returns the tag; it goes out with the next
    // flush or read.
    std::string Queue(const std::string& command);
    // A string argument: quoted when it can be, else a literal (sent ahead
    // when the server takes LITERAL+); Run puts its bytes in place.
    std::string Astring(const std::string& text, std::vector<std::string>& literals);
    // Sends a command built with Astring, waiting for "+" before each
    // synchronising literal, and reads its answer.
    TStatus Run(const std::string& command, const std::vector<std::string>& literals,
                const TDataHandler& onData = {});
    // Reads responses up to the tagged answer of tag (or a continuation
    // that onMore ends the wait at). Any failure closes the session.
    TStatus Await(const std::string& tag, const TLimits& limits, const TDataHandler& onData,
                  const TMoreHandler& onMore = {});
    // Awaits every tag, then raises the first refusal.
    void AwaitAll(const std::vector<std::string>& tags, const TLimits& limits,
                  const TDataHandler& onData);
    // Raises EProtocolReplyError unless the answer is OK; fills LastReply.
    void Require(const TStatus& status);
    void Note(const TStatus& status);
    // One whole response into FBytes; true when a literal was cut.
    bool ReadResponseBytes(const TLimits& limits);
    void ReadLinePart(uint64_t& spent, uint64_t budget);
    // What every untagged response may carry: capabilities, BYE, EXPUNGE.
    void Common(const TImapResponse& r);
    void ReadGreeting();
    void TakeCapabilities(std::string_view text);
    void PasswordLogin();
    TImapFolder OpenFolder(const std::string& verb, const std::string& mailbox);
    // verb of mailbox with the commands `queue` sends along (it returns their
    // tags); their answers go to onData once opened allowed it, else they are
    // read and dropped. Falls back to one after the other for a name that
    // needs a literal.
    TImapFolder OpenAlong(const std::string& verb, const std::string& mailbox,
                          const std::function<std::vector<std::string>()>& queue,
                          const TLimits& limits, const TDataHandler& onData,
                          const TFolderCheck& opened);
    // UID FETCH of items for the sorted UIDs, one command per run of sets.
    std::vector<std::string> QueueUidFetch(const std::vector<uint32_t>& sorted, const char* items);
    // Delivers FETCH responses with a whole message of the UIDs in `sorted`.
    TDataHandler MessageHandler(const std::vector<uint32_t>& sorted,
                                const TImapMessageHandler& handler);
    TDataHandler FolderHandler(TImapFolder& folder);
    // Delivers FETCH responses with a header (of the UIDs in `only`, sorted,
    // when given).
    TDataHandler HeaderHandler(THeaderList& lines, const TImapHeaderHandler& handler,
                               const std::vector<uint32_t>* only);
    THeaderFault SplitHeader(std::string_view text, bool cut, THeaderList& lines) const;

    uint32_t FTagCounter = 0;
    std::vector<std::string> FCapabilities;
    bool FPreauth = false;
    // Capabilities came with the last command's answer.
    bool FCapabilitiesFresh = false;
    std::string FBye;
    uint32_t FExpunged = 0;
    // Tagged answers that came in while a later tag was awaited.
    std::vector<std::pair<std::string, TStatus>> FDone;
    // The bytes of the response being read, reused for every response.
    std::string FBytes;
    TImapResponse FResponse;

    // ---------------------------------------------------------------- IDLE
public:
    // IDLE (RFC 2177): the open folder watched for new mail between checks.
    // None: no IDLE out; Starting: IDLE sent, the server's "+" not yet read;
    // Idling: the server reports changes as they happen; Ending: DONE sent,
    // the tagged answer not yet read.
    enum class TIdleState { None, Starting, Idling, Ending };
    TIdleState IdleState() const { return FIdleState; }
    // Sends IDLE without waiting for the answer (PollIdle takes it).
    // exists: the folder's message count as last known (TImapFolder::Exists);
    // an EXISTS above it is new mail.
    void StartIdle(uint32_t exists);
    // Takes what the server has sent, waiting at most timeout ms for more
    // (0: only what has come), and moves the IDLE along: the "+", untagged
    // news, the tagged answer after DONE (and IDLE again after a renewal).
    // True when new mail was announced during the call. A refused IDLE
    // raises EProtocolReplyError, BYE EImapBye, a lost connection its error;
    // any failure closes the session.
    bool PollIdle(int32_t timeout = 0);
    // Sends DONE; PollIdle reads the answer. Nothing when no IDLE is out.
    void EndIdle();
    // DONE now and IDLE again as soon as the server has answered it: servers
    // may end a wait that goes on for half an hour.
    void RenewIdle();
    // The whole wait: IDLE, its "+", then news (pumping the idle hook) until
    // new mail, timeout ms or stop() says so, then DONE and its tagged OK.
    // True when new mail came; exists as for StartIdle. Each wait for the
    // server itself ("+", the tagged OK) is bounded by ReadTimeout.
    bool Idle(uint32_t exists, int32_t timeout, const std::function<bool()>& stop = {});

private:
    // Called from a catch block: closes the session whose answers can no
    // longer be read in step and raises the exception again, as EImapBye
    // when the server said BYE before it closed.
    [[noreturn]] void EndOutOfStep();
    // Reads and handles one whole response that is in the input buffer;
    // true when it announced new mail.
    bool TakeIdleResponse();
    // Polls until the IDLE has left `state`: at most ReadTimeout (when set),
    // after which the session is closed and EReadTimeout raised.
    bool LeaveIdleState(TIdleState state);
    void SendDone();

    TIdleState FIdleState = TIdleState::None;
    std::string FIdleTag;
    uint32_t FIdleExists = 0;
    bool FIdleRenew = false;
    // DONE is due as soon as the "+" comes.
    bool FIdleDoneDue = false;
};

}  // namespace kalmuro
