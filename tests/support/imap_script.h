// Scripts of IMAP conversations for the scripted server: the client's tags
// are "a1", "a2"... from each connect, so a script can expect its lines.
#pragma once

#include <string>

#include "mail/imap/imap_client.h"
#include "support/scripted_server.h"

namespace kalmuro::test {

// The capabilities a scripted server announces unless a test says others.
inline const char* const kImapCapabilities = "IMAP4rev1 LITERAL+ UIDPLUS MOVE";

// A session up to a successful LOGIN as alice (password "secret") with tag
// a1: the greeting carries `greeting` as its capabilities, the answer
// `after`. The next command of the client is a2.
inline TScript ImapLoggedIn(const std::string& greeting = kImapCapabilities,
                            const std::string& after = kImapCapabilities) {
    TScript s;
    s.Line("* OK [CAPABILITY " + greeting + "] ready")
        .Expect("a1 LOGIN \"alice\" \"secret\"")
        .Line("a1 OK [CAPABILITY " + after + "] Logged in");
    return s;
}

// The untagged answers of EXAMINE or SELECT for a folder of `exists`
// messages, then its tagged OK with tag.
inline std::string ImapFolderAnswer(const std::string& tag, int exists, unsigned validity,
                                    bool readOnly = true) {
    return "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n* " +
           std::to_string(exists) + " EXISTS\r\n* 0 RECENT\r\n* OK [UIDVALIDITY " +
           std::to_string(validity) + "] UIDs valid\r\n* OK [UIDNEXT 100] Predicted next UID\r\n" +
           tag + (readOnly ? " OK [READ-ONLY] Examine completed\r\n" : " OK [READ-WRITE] Select completed\r\n");
}

// One FETCH response of the header fetch: sequence number, UID, size and the
// header as a literal.
inline std::string ImapHeaderFetch(int number, unsigned uid, int size, const std::string& header) {
    return "* " + std::to_string(number) + " FETCH (UID " + std::to_string(uid) +
           " RFC822.SIZE " + std::to_string(size) +
           " INTERNALDATE \"17-Jul-2024 02:44:25 +0200\" BODY[HEADER] {" +
           std::to_string(header.size()) + "}\r\n" + header + ")\r\n";
}

// Logs client in as alice/secret on the server's first session.
inline void LogIn(TImapClient& client, const TScriptedServer& server) {
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.ReadTimeout = 5000;
    client.Username = "alice";
    client.Password = "secret";
    client.Login(2000);
}

}  // namespace kalmuro::test
