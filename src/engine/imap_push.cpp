#include "engine/imap_push.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>

#include "mail/auth/oauth_client.h"
#include "mail/auth/sasl.h"
#include "mail/errors.h"
#include "mail/imap/imap_client.h"
#include "mail/imap/imap_text.h"
#include "mail/mailbox_session.h"
#include "mail/settings.h"
#include "mail/text.h"
#include "secrets/account_secrets.h"

namespace kalmuro {

namespace {

using TIdle = TImapClient::TIdleState;

// An access token with less left than this is not started on: the server
// would drop a session whose token runs out in the middle of it.
constexpr int64_t kTokenMarginSeconds = 60;

// What makes two settings of an account one connection.
std::string ConnectionKey(const TMailAccount& a) {
    return a.PopServer + '\n' + a.Port + '\n' + a.UserId + '\n' + a.UserPwd + '\n' + a.Folder +
           '\n' + std::to_string(static_cast<int>(a.Security)) + '\n' + a.Fingerprint + '\n' +
           std::to_string(static_cast<int>(a.Access)) + '\n' + a.OAuth.ClientId;
}

// DONE first when an IDLE is out, then LOGOUT; waits for neither.
void EndSession(TImapClient& client) {
    try {
        if (client.IdleState() == TIdle::Idling) client.EndIdle();
    } catch (...) {
    }
    client.Logout();
}

}  // namespace

bool ImmediateWaitEnabled(const std::string& path) {
    return ReadIniBool(kSectionSetup, kKeyImmediateCheck, false, path);
}

bool PushCredentials(const TMailAccount& current, TMailAccount& account) {
    if (current.IsOAuth()) {
        if (current.AccessToken.empty() ||
            current.AccessTokenExpiry - OAuthNow() < kTokenMarginSeconds)
            return false;
        account.AccessToken = current.AccessToken;
        account.AccessTokenExpiry = current.AccessTokenExpiry;
        return true;
    }
    if (!current.PasswordInKeyring) {
        account.UserPwd = current.UserPwd;
        return true;
    }
    const std::optional<std::string> password = ReadKeyringPassword(current);
    if (!password) return false;
    account.UserPwd = *password;
    return true;
}

struct TImapPush::TWatch {
    int32_t Index = 0;
    TMailAccount Account;
    std::string Key;
    std::unique_ptr<TImapClient> Client;
    // When the state of the IDLE last changed, and since when it idles (0:
    // not idling).
    int64_t Since = 0;
    int64_t IdleSince = 0;
    int64_t RetryAt = 0;
    int64_t Pause = 0;
    int64_t LastAsked = std::numeric_limits<int64_t>::min() / 2;
    bool Pending = false;
    // The server offers no IDLE: nothing to wait on until the settings change.
    bool NoIdle = false;
    std::string Error;
};

TImapPush::TImapPush(TNewMail onNewMail) : FOnNewMail(std::move(onNewMail)) {
    FAntiFreeze.Active = false;
    FAntiFreeze.IdleTimeOut = 50;
    FAntiFreeze.OnIdle = [this] {
        if (OnIdle) OnIdle();
    };
}

TImapPush::~TImapPush() { Stop(); }

int64_t TImapPush::Now() const {
    if (Clock) return Clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TImapPush::SetAccounts(const TArrayOfMailAccount& accounts, bool enabled) {
    if (FBusy) {
        FDeferred = true;
        FDeferredAccounts = accounts;
        FDeferredEnabled = enabled;
        return;
    }
    FStopped = false;
    std::vector<std::unique_ptr<TWatch>> kept;
    for (size_t i = 0; enabled && i < accounts.size(); ++i) {
        const TMailAccount& a = accounts[i];
        if (!a.Active || !a.IsImap()) continue;
        const int32_t index = static_cast<int32_t>(i);
        const std::string key = ConnectionKey(a);
        auto same = std::find_if(FWatches.begin(), FWatches.end(), [&](const auto& w) {
            return w && w->Index == index && w->Key == key;
        });
        if (same != FWatches.end()) {
            kept.push_back(std::move(*same));
            continue;
        }
        auto watch = std::make_unique<TWatch>();
        watch->Index = index;
        watch->Account = a;
        watch->Key = key;
        watch->Pause = FirstPauseMs;
        kept.push_back(std::move(watch));
    }
    for (auto& w : FWatches)
        if (w && w->Client) EndSession(*w->Client);
    FWatches = std::move(kept);
}

void TImapPush::Stop() {
    FStopped = true;
    for (auto& w : FWatches) {
        if (!w->Client) continue;
        EndSession(*w->Client);
        w->Client.reset();
    }
}

void TImapPush::Poll() {
    if (FBusy) return;
    FBusy = true;
    std::vector<int32_t> due;
    try {
        for (size_t i = 0; i < FWatches.size(); ++i) {
            TWatch& w = *FWatches[i];
            const int64_t now = Now();
            try {
                Step(w, now);
            } catch (const std::exception& e) {
                Fail(w, e.what(), now);
            }
            if (w.Pending && Now() - w.LastAsked >= MinCheckGapMs) due.push_back(w.Index);
        }
    } catch (...) {
        FBusy = false;
        throw;
    }
    FBusy = false;
    if (FDeferred) {
        FDeferred = false;
        SetAccounts(FDeferredAccounts, FDeferredEnabled);
    }
    // Last, and outside the loop: a check may pump, and the pump may poll.
    for (const int32_t index : due) {
        const auto it = std::find_if(FWatches.begin(), FWatches.end(),
                                     [index](const auto& w) { return w->Index == index; });
        if (it == FWatches.end() || !(*it)->Pending) continue;
        // Cleared first: news that comes while the check runs asks again.
        TWatch* asked = it->get();
        const int64_t lastAsked = asked->LastAsked;
        asked->Pending = false;
        asked->LastAsked = Now();
        if (FOnNewMail && FOnNewMail(index)) continue;
        // Busy: asked again at a later Poll, if the check did not change the watches.
        const auto again = std::find_if(FWatches.begin(), FWatches.end(),
                                        [index](const auto& x) { return x->Index == index; });
        if (again != FWatches.end() && again->get() == asked) {
            asked->Pending = true;
            asked->LastAsked = lastAsked;
        }
    }
}

void TImapPush::Step(TWatch& w, int64_t now) {
    if (FStopped) return;
    if (!w.Client || !w.Client->IsConnected()) {
        w.Client.reset();
        if (w.NoIdle || now < w.RetryAt) return;
        Open(w);
        return;
    }
    TImapClient& c = *w.Client;
    const TIdle before = c.IdleState();
    if (c.PollIdle(0)) w.Pending = true;
    const TIdle state = c.IdleState();
    if (state != before) w.Since = now;
    if (state == TIdle::None) {
        // Only we end an IDLE; a server that ends it is ending the session.
        throw EMailError("The server ended the IDLE.");
    }
    if (state != TIdle::Idling) {
        if (now - w.Since > TimeoutMs) {
            c.CloseConnection();
            throw EReadTimeout();
        }
        w.IdleSince = 0;
        return;
    }
    if (w.IdleSince == 0) w.IdleSince = now;
    // A connection that has idled for a while is a sound one again.
    if (now - w.IdleSince >= FirstPauseMs) {
        w.Pause = FirstPauseMs;
        w.Error.clear();
    }
    if (now - w.IdleSince >= RenewMs) {
        c.RenewIdle();
        w.Since = now;
        w.IdleSince = 0;
    }
}

void TImapPush::Open(TWatch& w) {
    TMailAccount account = w.Account;
    if (Credentials && !Credentials(w.Index, account)) {
        w.RetryAt = Now() + w.Pause;
        w.Error = "no credentials now";
        return;
    }
    auto client = std::make_unique<TImapClient>();
    TImapClient& c = *client;
    c.Host = account.PopServer;
    const int32_t port = StrToInt(account.Port);
    if (port < 1 || port > 65535)
        throw EConvertError("'" + account.Port + "' is not a valid port number");
    c.Port = port;
    c.Security = account.Security;
    c.Fingerprint = account.Fingerprint;
    c.Username = account.UserId;
    c.Password = account.UserPwd;
    c.ReadTimeout = TimeoutMs;
    c.AntiFreeze = &FAntiFreeze;
    FAntiFreeze.Active = true;
    try {
        if (account.IsOAuth()) {
            c.Connect(TimeoutMs);
            if (c.HasCapability("AUTH=XOAUTH2"))
                c.Authenticate("XOAUTH2", XOAuth2Response(account.UserId, account.AccessToken),
                               std::string());
            else if (c.HasCapability("AUTH=OAUTHBEARER"))
                c.Authenticate(
                    "OAUTHBEARER",
                    OAuthBearerResponse(account.UserId, account.AccessToken, c.Host, c.Port),
                    std::string());
            else
                throw EMailError("The server offers no OAuth login.");
        } else {
            c.Login(TimeoutMs);
        }
        if (!c.HasCapability("IDLE")) {
            w.NoIdle = true;
            c.Logout();
            FAntiFreeze.Active = false;
            return;
        }
        const TImapFolder folder = c.Examine(EncodeMailboxName(account.Folder));
        c.StartIdle(folder.Exists);
    } catch (...) {
        FAntiFreeze.Active = false;
        c.CloseConnection();
        throw;
    }
    FAntiFreeze.Active = false;
    // Stop came from the pump while this one opened.
    if (FStopped) {
        c.Logout();
        return;
    }
    w.Client = std::move(client);
    w.Since = Now();
    w.IdleSince = 0;
}

void TImapPush::Fail(TWatch& w, const std::string& why, int64_t now) {
    if (w.Client) {
        w.Client->CloseConnection();
        w.Client.reset();
    }
    w.Error = why;
    w.IdleSince = 0;
    w.RetryAt = now + w.Pause;
    w.Pause = std::min(MaxPauseMs, std::max<int64_t>(1, w.Pause) * 2);
}

const TImapPush::TWatch* TImapPush::Find(int32_t accountIndex) const {
    for (const auto& w : FWatches)
        if (w->Index == accountIndex) return w.get();
    return nullptr;
}

std::vector<int32_t> TImapPush::Watched() const {
    std::vector<int32_t> indices;
    for (const auto& w : FWatches) indices.push_back(w->Index);
    return indices;
}

bool TImapPush::Idling(int32_t accountIndex) const {
    const TWatch* w = Find(accountIndex);
    return w != nullptr && w->Client && w->Client->IdleState() == TIdle::Idling;
}

std::string TImapPush::LastError(int32_t accountIndex) const {
    const TWatch* w = Find(accountIndex);
    return w != nullptr ? w->Error : std::string();
}

}  // namespace kalmuro
