// Push for IMAP accounts: with "AttesaImmediata" on, one connection per
// active IMAP account whose server offers IDLE waits on the account's folder
// between checks, and a message the server announces asks for a check of
// that account, at most once a minute. The wait is renewed every 25
// minutes; a connection that fails is opened again after a pause that grows
// with each failure.
//
// Everything runs on the caller's thread: Poll, called from a timer every
// ~200 ms, takes only what the servers have already sent and never waits for
// them. Only opening a connection (connect, TLS, login, EXAMINE, IDLE) waits,
// with OnIdle pumping the window meanwhile, as every session of the program
// does; a Poll that comes in from that pump returns at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mail/accounts.h"
#include "mail/net/tcp_connection.h"

namespace kalmuro {

class TImapClient;

// Whether "Setup" asks for IDLE connections to the IMAP accounts
// (kKeyImmediateCheck, default off).
bool ImmediateWaitEnabled(const std::string& path = "");

// What a push connection may log in with, asking nobody: the password from
// the file or the keyring, or an OAuth account's access token while it has a
// minute left (refreshing it is the check's business, never the push's).
// current: the account as the window holds it now. False: not now.
bool PushCredentials(const TMailAccount& current, TMailAccount& account);

class TImapPush {
public:
    // Asked to check the account at that index; false when the window is
    // busy (the request stays and is asked again at a later Poll).
    using TNewMail = std::function<bool(int32_t accountIndex)>;
    // Fills in the account's password or access token; false: not now.
    using TCredentials = std::function<bool(int32_t accountIndex, TMailAccount& account)>;

    explicit TImapPush(TNewMail onNewMail);
    ~TImapPush();
    TImapPush(const TImapPush&) = delete;
    TImapPush& operator=(const TImapPush&) = delete;

    TCredentials Credentials;
    // Pumps the window while a connection opens.
    std::function<void()> OnIdle;
    // Milliseconds of a steady clock; tests may move it.
    std::function<int64_t()> Clock;
    int64_t RenewMs = 25 * 60 * 1000;
    int64_t MinCheckGapMs = 60 * 1000;
    int64_t FirstPauseMs = 15 * 1000;
    int64_t MaxPauseMs = 15 * 60 * 1000;
    // Each wait for a server while opening, and the longest a server may
    // take to answer IDLE or DONE.
    int32_t TimeoutMs = 60 * 1000;

    // The accounts to watch: the active IMAP ones, when enabled. The
    // connection of an account whose server, user, folder or login changed
    // is opened again; those of accounts no longer watched are ended.
    void SetAccounts(const TArrayOfMailAccount& accounts, bool enabled);
    void Poll();
    // Ends every connection (DONE and LOGOUT sent, not waited for).
    void Stop();

    // For the tests and the status: the accounts watched, whether one's
    // connection is idling now, and the last failure of one.
    std::vector<int32_t> Watched() const;
    bool Idling(int32_t accountIndex) const;
    std::string LastError(int32_t accountIndex) const;

private:
    struct TWatch;
    int64_t Now() const;
    void Open(TWatch& watch);
    void Step(TWatch& watch, int64_t now);
    void Fail(TWatch& watch, const std::string& why, int64_t now);
    const TWatch* Find(int32_t accountIndex) const;

    TNewMail FOnNewMail;
    std::vector<std::unique_ptr<TWatch>> FWatches;
    TAntiFreeze FAntiFreeze;
    bool FBusy = false;
    bool FStopped = false;
    // A SetAccounts that came while Poll ran, applied when it ends.
    bool FDeferred = false;
    TArrayOfMailAccount FDeferredAccounts;
    bool FDeferredEnabled = false;
};

}  // namespace kalmuro
