// A throw-away Dovecot POP3 server (and IMAP, when asked) for tests: its own short /tmp directory, a
// free port on 127.0.0.1, users and generated Maildirs, started and stopped
// through scripts/dovecot/. Nothing of the system's configuration is used.
//
// Start one per test program (stopping takes seconds); a server that cannot
// start is a failure, reported with the server's log, never a skip.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kalmuro::test {

// One generated message as intended by the generator (POP3 order).
// A message file as a server delivers it: every line ended by CR LF, the
// last one too.
std::string CrLfText(const std::string& file);

struct TManifestEntry {
    int32_t Number = 0;      // POP3 message number, from 1
    int32_t Size = 0;        // octets of RETR (= LIST)
    int32_t HeaderSize = 0;  // octets of TOP n 0, blank line included
    std::string FromName;    // UTF-8, decoded
    std::string FromAddress;
    std::optional<std::string> Subject;  // UTF-8, decoded; none without header
    std::optional<int64_t> DateUtc;      // Unix seconds; none when missing/garbage
    int32_t DateOffsetMinutes = 0;       // the header's zone
    bool Spam = false;
    bool Folded = false;   // has folded headers
    int32_t DotLines = 0;  // body lines beginning with "." (lone "." included)
    std::string FromForm, SubjectForm, DateForm;  // generator tags
    std::string FileName;                         // Maildir base name
};

class TDovecotServer {
public:
    // Makes the directory and picks a port; does not start.
    TDovecotServer();
    // Stops without waiting (fresh dir and port each time) and removes the dir.
    ~TDovecotServer();
    TDovecotServer(const TDovecotServer&) = delete;
    TDovecotServer& operator=(const TDovecotServer&) = delete;

    // UIDLs as Maildir base names (stable across runs) instead of UID+UIDVALIDITY.
    bool UidlIsFileName = false;
    // TLS mode: POP3 over TLS on TlsPort() and STLS on Port(), with the
    // certificates of TestCertificateDir(): a valid one on 127.0.0.1 and one
    // failure per address (see scripts/dovecot/make_certs.sh).
    bool Tls = false;
    // IMAP beside POP3 on the same Maildir, on ImapPort(), with a Junk folder
    // marked \Junk (dovecot-imapd). Off: the POP3 server of every other test.
    bool Imap = false;
    // OAuth mode: XOAUTH2 and OAUTHBEARER beside the passwords, the tokens
    // being HS256 JWTs checked by the server itself with this key (the test
    // authorization server's kAuthSigningKey). Empty: passwords only.
    std::string OAuthKey;
    // The token mechanisms that OAuth mode offers, separated by blanks.
    std::string OAuthMechanisms = "xoauth2 oauthbearer";

    // Each returns false and appends to Error() on failure.
    bool AddUser(const std::string& user, const std::string& password);
    // Writes n deterministic messages into the user's Maildir.
    bool GenerateMail(const std::string& user, int32_t n, int32_t seed);
    // Adds each user (password "pw") with its number of generated messages,
    // the seeds counting up from seed + 1 in the users' order. With wire,
    // each user's files as the server delivers them (lines ended by CR LF),
    // read before any session can move them.
    using TWireTexts = std::map<std::string, std::vector<std::string>>;
    bool AddGeneratedUsers(const std::map<std::string, int32_t>& users, int32_t seed,
                           TWireTexts* wire = nullptr);
    bool Start();
    // Stops; wait=false returns at once (the dir and port are never reused).
    void Stop(bool wait = false);

    bool Running() const { return FRunning; }
    int32_t Port() const { return FPort; }
    int32_t TlsPort() const { return FTlsPort; }
    int32_t ImapPort() const { return FImapPort; }
    // The test authority that issued the valid certificate.
    std::string CaFile() const;
    const std::string& Dir() const { return FDir; }
    std::string Maildir(const std::string& user) const;
    // The manifest GenerateMail wrote for the user.
    std::vector<TManifestEntry> Manifest(const std::string& user) const;
    // The server's log file.
    std::string Log() const;
    // Script output and log tail of every failure so far.
    const std::string& Error() const { return FError; }

private:
    bool Run(const std::string& command);

    std::string FDir;
    int32_t FPort = 0;
    int32_t FTlsPort = 0;
    int32_t FImapPort = 0;
    bool FRunning = false;
    std::string FError;
};

}  // namespace kalmuro::test
