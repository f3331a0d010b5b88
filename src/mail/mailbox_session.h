// One session with a mailbox, as the check and the deletion use it whatever
// the protocol: log in; stream every header with its unique id and size;
// then, to clean up, open the mailbox for changes, read again what is to go,
// remove it, end. Everything a server sends is untrusted; a method that
// fails raises and leaves the session closed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mail/errors.h"

namespace kalmuro {

class THeaderList;

// The "Setup" option that sends removed IMAP messages to the server's Junk
// folder instead of erasing them.
inline constexpr const char* kKeyMoveToJunk = "SpostaInSpam";
// The "Setup" option that keeps an IDLE connection to every IMAP account
// between checks (default off).
inline constexpr const char* kKeyImmediateCheck = "AttesaImmediata";

// The server would not open the folder the account names (a typo, or one
// removed since): "Cartella <folder> non trovata sul server <host>: <its
// words>". Nothing was read or changed; the session is still in step.
class EFolderNotFound : public EMailError {
public:
    EFolderNotFound(const std::string& folder, const std::string& host,
                    const std::string& serverText)
        : EMailError("Cartella " + folder + " non trovata sul server " + host + ": " + serverText) {
    }
};

// One message as a check reads it.
struct TMailboxMessage {
    int32_t Number = 0;    // in the session's numbering, from 1
    std::string UniqueId;  // stable across sessions; empty when the server gave none
    int32_t Size = -1;     // octets, -1 when the server gave none
    // The header arrived cut (a line too long, or more than the cap): the
    // lines before the fault are there.
    bool Cut = false;
};

// What a check's sink gets: the message and its header lines, valid for the
// call only. A sink that raises ends the session.
using TMailboxHeaderSink = std::function<void(const TMailboxMessage&, THeaderList&)>;
// The position in the caller's list of unique ids, and what was fetched.
using TMailboxHeaderOf = std::function<void(size_t index, THeaderList&)>;
using TMailboxTextOf = std::function<void(size_t index, std::string& text)>;

// How the messages were taken off the mailbox.
enum class TRemoval {
    Moved,    // into the server's Junk folder
    Erased,   // deleted for good
    Refused,  // nothing removed: it could not be done without touching other messages
    // As Refused, but the messages were marked for a while: another
    // client's expunge may have taken them meanwhile.
    Unmarked,
};

class TMailboxSession {
public:
    virtual ~TMailboxSession() = default;

    // Connects, protects the connection and logs in.
    virtual void Open(int32_t timeout) = 0;
    // Every message of the mailbox by ascending number: opened gets their
    // count first, then sink each one as it arrives.
    virtual void StreamHeaders(THeaderList& lines, const std::function<void(int32_t)>& opened,
                               const TMailboxHeaderSink& sink) = 0;
    // Opens the mailbox to change it. False when the unique ids the check
    // gave no longer name the same messages: nothing may be removed.
    virtual bool OpenForRemoval(const std::vector<std::string>& uniqueIds) = 0;
    // The same, read-only: to look at messages without changing anything.
    // Both raise EFolderNotFound when the server refuses the folder.
    virtual bool OpenToRead(const std::vector<std::string>& uniqueIds) = 0;
    // The headers now of those messages that still exist; one call each.
    virtual void FetchHeadersOf(const std::vector<std::string>& uniqueIds, THeaderList& lines,
                                const TMailboxHeaderOf& sink) = 0;
    // Whole messages (every line followed by CR LF) of those that still
    // exist, each of at most maximum bytes; a larger one raises.
    virtual void FetchMessagesOf(const std::vector<std::string>& uniqueIds, int64_t maximum,
                                 const TMailboxTextOf& sink) = 0;
    // OpenForRemoval of the ids that are not empty, then FetchHeadersOf or
    // FetchMessagesOf of all: a protocol may send both at once. False, with
    // no call of the sink, when OpenForRemoval says so.
    virtual bool OpenForRemovalAndFetchHeaders(const std::vector<std::string>& uniqueIds,
                                               THeaderList& lines, const TMailboxHeaderOf& sink) {
        if (!OpenForRemoval(Known(uniqueIds))) return false;
        FetchHeadersOf(uniqueIds, lines, sink);
        return true;
    }
    virtual bool OpenForRemovalAndFetchMessages(const std::vector<std::string>& uniqueIds,
                                                int64_t maximum, const TMailboxTextOf& sink) {
        if (!OpenForRemoval(Known(uniqueIds))) return false;
        FetchMessagesOf(uniqueIds, maximum, sink);
        return true;
    }
    // Takes the messages off the mailbox; only these, never another one.
    virtual TRemoval Remove(const std::vector<std::string>& uniqueIds) = 0;
    // Ends the session; raises nothing.
    virtual void End() = 0;

protected:
    static std::vector<std::string> Known(const std::vector<std::string>& uniqueIds) {
        std::vector<std::string> known;
        for (const std::string& id : uniqueIds)
            if (!id.empty()) known.push_back(id);
        return known;
    }
};

}  // namespace kalmuro
