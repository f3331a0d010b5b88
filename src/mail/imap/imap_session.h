// A mailbox session over IMAP: the check reads the folder with EXAMINE, so
// that it changes no flag (not even \Seen), and every header in one streamed
// answer; the removal opens it with SELECT, refuses to touch anything once
// UIDVALIDITY has changed, and takes away only the UIDs it is given: moved
// into the Junk folder, or erased with UID EXPUNGE, or with EXPUNGE only when
// no other message carries \Deleted.
//
// Unique ids are "<UIDVALIDITY>.<UID>"; numbers are sequence numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mail/accounts.h"
#include "mail/imap/imap_client.h"
#include "mail/mailbox_session.h"

namespace kalmuro {

class TImapMailboxSession : public TMailboxSession {
public:
    // The client is the caller's: its host, port, user, password, security
    // and hooks are set there.
    explicit TImapMailboxSession(TImapClient& client) : FClient(client) {}

    // The folder as the user typed it (Windows-1252); the session spells it
    // as the server wants.
    std::string Folder = kDefaultFolder;
    // OAuth: AUTHENTICATE XOAUTH2 or OAUTHBEARER with AccessToken, as the
    // server offers them; never the password.
    TAccessMethod Access = TAccessMethod::Password;
    std::string AccessToken;
    // Remove moves into the folder marked \Junk when the server has one and
    // takes MOVE; otherwise, or when off, it erases.
    bool MoveToJunk = true;

    // Raises what Login raises; an OAuth refusal as EOAuthRefused (a refused
    // token) and a server without either mechanism as ENoOAuthMechanism.
    void Open(int32_t timeout) override;
    void StreamHeaders(THeaderList& lines, const std::function<void(int32_t)>& opened,
                       const TMailboxHeaderSink& sink) override;
    bool OpenForRemoval(const std::vector<std::string>& uniqueIds) override;
    // With EXAMINE.
    bool OpenToRead(const std::vector<std::string>& uniqueIds) override;
    // SELECT and the fetch sent together: one round trip less.
    bool OpenForRemovalAndFetchHeaders(const std::vector<std::string>& uniqueIds,
                                       THeaderList& lines, const TMailboxHeaderOf& sink) override;
    bool OpenForRemovalAndFetchMessages(const std::vector<std::string>& uniqueIds, int64_t maximum,
                                        const TMailboxTextOf& sink) override;
    void FetchHeadersOf(const std::vector<std::string>& uniqueIds, THeaderList& lines,
                        const TMailboxHeaderOf& sink) override;
    void FetchMessagesOf(const std::vector<std::string>& uniqueIds, int64_t maximum,
                         const TMailboxTextOf& sink) override;
    // Without UIDPLUS, Refused when another message of the folder carries
    // \Deleted (nothing touched), Unmarked when one came to carry it after
    // ours were marked (ours unmarked again); nothing is expunged either way.
    TRemoval Remove(const std::vector<std::string>& uniqueIds) override;
    void End() override;

    // UIDVALIDITY of the folder as last opened (0: none named).
    uint32_t UidValidity() const { return FUidValidity; }

private:
    void AuthenticateOAuth();
    // UIDVALIDITY of the folder just opened names every id.
    bool Names(const TImapFolder& folder, const std::vector<std::string>& uniqueIds);
    // The UIDs of unique ids of the open folder, position kept (0: not one).
    std::vector<uint32_t> UidsOf(const std::vector<std::string>& uniqueIds) const;
    // The UIDs of unique ids whatever their UIDVALIDITY, position kept (0:
    // not one): for a fetch sent before the folder has answered.
    static std::vector<uint32_t> UidsAsStored(const std::vector<std::string>& uniqueIds);
    // Runs open (of the folder, perhaps with more) and raises a refusal that
    // came before answered was set as EFolderNotFound.
    template <typename F>
    auto Opening(const bool& answered, F open) -> decltype(open());
    // Calls at(index) for every position whose UID is uid.
    template <typename F>
    static void ForEachPosition(const std::vector<uint32_t>& uids, uint32_t uid, F at);

    TImapClient& FClient;
    uint32_t FUidValidity = 0;
};

}  // namespace kalmuro
