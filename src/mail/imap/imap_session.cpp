#include "mail/imap/imap_session.h"

#include <algorithm>
#include <climits>
#include <optional>

#include "mail/auth/sasl.h"
#include "mail/imap/imap_text.h"
#include "mail/mime/header_list.h"
#include "mail/net/session_errors.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

constexpr int32_t kNo = 2;

// The check's answer for a size the server may give up to 2^32 - 1.
int32_t SizeOf(int64_t size) {
    return size < 0 ? -1 : static_cast<int32_t>(std::min<int64_t>(size, INT32_MAX));
}

// The UIDs to ask for: those of the positions that have one.
std::vector<uint32_t> Asked(const std::vector<uint32_t>& uids) {
    std::vector<uint32_t> asked;
    for (uint32_t uid : uids)
        if (uid != 0) asked.push_back(uid);
    return asked;
}

bool SameMailbox(const std::string& a, const std::string& b) {
    // INBOX is the one name the server must take in any case.
    return a == b || (SameText(a, "INBOX") && SameText(b, "INBOX"));
}

}  // namespace

void TImapMailboxSession::Open(int32_t timeout) {
    FUidValidity = 0;
    if (Access != TAccessMethod::OAuth) {
        FClient.Login(timeout);
        return;
    }
    FClient.Connect(timeout);
    try {
        AuthenticateOAuth();
    } catch (...) {
        FClient.Logout();
        throw;
    }
}

void TImapMailboxSession::AuthenticateOAuth() {
    // The server names its mechanisms in the capabilities: no list means
    // neither is offered.
    std::vector<std::string> mechanisms;
    for (const std::string& c : FClient.Capabilities())
        if (c.size() > 5 && c.compare(0, 5, "AUTH=") == 0) mechanisms.push_back(c.substr(5));
    const std::optional<TSaslMechanism> mechanism = ChooseOAuthMechanism(mechanisms);
    if (!mechanism) throw ENoOAuthMechanism();
    const bool xoauth2 = *mechanism == TSaslMechanism::XOAuth2;
    const int port = FClient.Port;
    try {
        // A refusal comes as a challenge with the error in JSON, to be
        // answered before the server says NO: empty for XOAUTH2, ^A for
        // OAUTHBEARER.
        if (xoauth2)
            FClient.Authenticate("XOAUTH2", XOAuth2Response(FClient.Username, AccessToken),
                                 std::string());
        else
            FClient.Authenticate("OAUTHBEARER",
                                 OAuthBearerResponse(FClient.Username, AccessToken, FClient.Host, port),
                                 std::string(1, '\x01'));
    } catch (const EProtocolReplyError& e) {
        // The JSON is untrusted and read for its status alone.
        const std::string status =
            FClient.LastChallenge.empty() ? std::string() : ParseSaslOAuthError(FClient.LastChallenge).Status;
        const std::string words =
            FClient.LastReply.Text.empty() ? std::string() : Trim(FClient.LastReply.Text.front());
        // BAD: the mechanism itself was not taken, so no fresh token helps.
        throw EOAuthRefused(status, words, e.ErrorCode == kNo);
    }
}

template <typename F>
void TImapMailboxSession::ForEachPosition(const std::vector<uint32_t>& uids, uint32_t uid, F at) {
    for (size_t i = 0; i < uids.size(); ++i)
        if (uids[i] == uid && uid != 0) at(i);
}

template <typename F>
auto TImapMailboxSession::Opening(const bool& answered, F open) -> decltype(open()) {
    try {
        return open();
    } catch (const EProtocolReplyError& e) {
        // Only the folder's own refusal; a refused fetch after it is another
        // matter.
        if (answered) throw;
        throw EFolderNotFound(Folder, FClient.Host, Trim(e.what()));
    }
}

void TImapMailboxSession::StreamHeaders(THeaderList& lines,
                                        const std::function<void(int32_t)>& opened,
                                        const TMailboxHeaderSink& sink) {
    TMailboxMessage message;
    bool answered = false;
    Opening(answered, [&] {
        return FClient.ExamineAndFetchHeaders(
            EncodeMailboxName(Folder), lines,
            [&](const TImapMessageInfo& info, THeaderList& header) {
                message.Number = static_cast<int32_t>(std::min<uint32_t>(info.Number, INT32_MAX));
                // Without UIDVALIDITY a UID says nothing about the next session.
                message.UniqueId =
                    FUidValidity == 0 ? std::string() : ImapUniqueId(FUidValidity, info.Uid);
                message.Size = SizeOf(info.Size);
                message.Cut = info.Fault != THeaderFault::None;
                sink(message, header);
            },
            [&](const TImapFolder& folder) {
                answered = true;
                FUidValidity = folder.UidValidity;
                if (opened)
                    opened(static_cast<int32_t>(std::min<uint32_t>(folder.Exists, INT32_MAX)));
            });
    });
}

bool TImapMailboxSession::OpenForRemoval(const std::vector<std::string>& uniqueIds) {
    const bool answered = false;
    return Names(Opening(answered, [&] { return FClient.Select(EncodeMailboxName(Folder)); }),
                 uniqueIds);
}

bool TImapMailboxSession::OpenToRead(const std::vector<std::string>& uniqueIds) {
    const bool answered = false;
    return Names(Opening(answered, [&] { return FClient.Examine(EncodeMailboxName(Folder)); }),
                 uniqueIds);
}

std::vector<uint32_t> TImapMailboxSession::UidsAsStored(const std::vector<std::string>& uniqueIds) {
    std::vector<uint32_t> uids;
    uids.reserve(uniqueIds.size());
    for (const std::string& id : uniqueIds) {
        uint32_t validity = 0, uid = 0;
        uids.push_back(ParseImapUniqueId(id, validity, uid) ? uid : 0);
    }
    return uids;
}

bool TImapMailboxSession::OpenForRemovalAndFetchHeaders(const std::vector<std::string>& uniqueIds,
                                                        THeaderList& lines,
                                                        const TMailboxHeaderOf& sink) {
    // The UIDs go out before the folder has named its UIDVALIDITY: they are
    // the ids' own, and nothing fetched is delivered unless it matches them.
    const std::vector<uint32_t> uids = UidsAsStored(uniqueIds);
    bool answered = false, same = false;
    Opening(answered, [&] {
        return FClient.SelectAndFetchHeaders(
            EncodeMailboxName(Folder), Asked(uids), lines,
            [&](const TImapMessageInfo& info, THeaderList& header) {
                ForEachPosition(uids, info.Uid, [&](size_t i) { sink(i, header); });
            },
            [&](const TImapFolder& folder) {
                answered = true;
                same = Names(folder, Known(uniqueIds));
                return same;
            });
    });
    return same;
}

bool TImapMailboxSession::OpenForRemovalAndFetchMessages(const std::vector<std::string>& uniqueIds,
                                                         int64_t maximum,
                                                         const TMailboxTextOf& sink) {
    const std::vector<uint32_t> uids = UidsAsStored(uniqueIds);
    bool answered = false, same = false;
    Opening(answered, [&] {
        return FClient.SelectAndFetchMessages(
            EncodeMailboxName(Folder), Asked(uids), maximum,
            [&](uint32_t uid, std::string& text) {
                ForEachPosition(uids, uid, [&](size_t i) { sink(i, text); });
            },
            [&](const TImapFolder& folder) {
                answered = true;
                same = Names(folder, Known(uniqueIds));
                return same;
            });
    });
    return same;
}

bool TImapMailboxSession::Names(const TImapFolder& folder,
                                const std::vector<std::string>& uniqueIds) {
    FUidValidity = folder.UidValidity;
    if (FUidValidity == 0) return false;
    for (const std::string& id : uniqueIds) {
        uint32_t validity = 0, uid = 0;
        if (!ParseImapUniqueId(id, validity, uid) || validity != FUidValidity) return false;
    }
    return true;
}

std::vector<uint32_t> TImapMailboxSession::UidsOf(const std::vector<std::string>& uniqueIds) const {
    std::vector<uint32_t> uids;
    uids.reserve(uniqueIds.size());
    for (const std::string& id : uniqueIds) {
        uint32_t validity = 0, uid = 0;
        const bool ours = ParseImapUniqueId(id, validity, uid) && validity == FUidValidity &&
                          FUidValidity != 0;
        uids.push_back(ours ? uid : 0);
    }
    return uids;
}

void TImapMailboxSession::FetchHeadersOf(const std::vector<std::string>& uniqueIds,
                                         THeaderList& lines, const TMailboxHeaderOf& sink) {
    const std::vector<uint32_t> uids = UidsOf(uniqueIds);
    const std::vector<uint32_t> asked = Asked(uids);
    if (asked.empty()) return;
    FClient.FetchHeadersByUid(asked, lines, [&](const TImapMessageInfo& info, THeaderList& header) {
        ForEachPosition(uids, info.Uid, [&](size_t i) { sink(i, header); });
    });
}

void TImapMailboxSession::FetchMessagesOf(const std::vector<std::string>& uniqueIds,
                                          int64_t maximum, const TMailboxTextOf& sink) {
    const std::vector<uint32_t> uids = UidsOf(uniqueIds);
    const std::vector<uint32_t> asked = Asked(uids);
    if (asked.empty()) return;
    FClient.FetchMessages(asked, maximum, [&](uint32_t uid, std::string& text) {
        ForEachPosition(uids, uid, [&](size_t i) { sink(i, text); });
    });
}

TRemoval TImapMailboxSession::Remove(const std::vector<std::string>& uniqueIds) {
    const std::vector<uint32_t> uids = Asked(UidsOf(uniqueIds));
    if (uids.empty()) return TRemoval::Erased;
    if (MoveToJunk && FClient.HasCapability("MOVE")) {
        const std::string junk = FClient.FindSpecialUse("\\Junk");
        // Junk checked as a folder of its own is cleaned for good.
        if (!junk.empty() && !SameMailbox(junk, EncodeMailboxName(Folder))) {
            FClient.MoveUids(uids, junk);
            return TRemoval::Moved;
        }
    }
    auto takeBack = [&] {
        // Best effort: a message left marked is still one the user chose.
        if (!FClient.IsConnected()) return;
        try {
            FClient.UnmarkDeleted(uids);
        } catch (const std::exception&) {
        }
    };
    if (FClient.HasCapability("UIDPLUS")) {
        try {
            FClient.DeleteUids(uids);
        } catch (...) {
            takeBack();
            throw;
        }
        return TRemoval::Erased;
    }
    // A plain EXPUNGE takes every message marked \Deleted, another
    // client's too: only when ours are the only ones marked, looked at
    // before marking them (so that a refusal leaves them untouched) and
    // again right before the expunge.
    std::vector<uint32_t> ours(uids);
    std::sort(ours.begin(), ours.end());
    auto onlyOurs = [&] {
        const std::vector<uint32_t> marked = FClient.DeletedUids();
        return std::all_of(marked.begin(), marked.end(), [&](uint32_t uid) {
            return std::binary_search(ours.begin(), ours.end(), uid);
        });
    };
    if (!onlyOurs()) return TRemoval::Refused;
    try {
        FClient.MarkDeleted(uids);
        if (!onlyOurs()) {
            FClient.UnmarkDeleted(uids);
            return TRemoval::Unmarked;
        }
        FClient.Expunge();
    } catch (...) {
        takeBack();
        throw;
    }
    return TRemoval::Erased;
}

void TImapMailboxSession::End() { FClient.Logout(); }

}  // namespace kalmuro
