// The pieces of text an IMAP client sends or derives: strings as the
// protocol wants them, mailbox names, UID sets, base64, the record's id.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kalmuro {

// Whether text can go out as a quoted string: 7-bit, no NUL, CR or LF, and
// short. Anything else must be sent as a literal, so that no byte of a name
// or password can end the command early.
bool QuotableText(std::string_view text);
// text between double quotes, "\" and '"' escaped. Only for QuotableText.
std::string QuotedString(std::string_view text);

// A mailbox name as typed by the user (Windows-1252) in the modified UTF-7
// the server's names are in: printable ASCII stays, "&" becomes "&-", every
// other run of characters becomes "&" + base64 of its UTF-16 (with "," for
// "/") + "-".
std::string EncodeMailboxName(std::string_view cp1252);

// The UIDs, sorted and without repeats, as IMAP sequence sets ("3:5,9") of
// at most about maxBytes each, so that no command line grows past what a
// server takes. Empty for no UIDs.
std::vector<std::string> UidSets(std::vector<uint32_t> uids, size_t maxBytes = 4000);

// The unique id text of a message of an IMAP folder: "<UIDVALIDITY>.<UID>",
// both in decimal. A UID alone means nothing once UIDVALIDITY changes.
std::string ImapUniqueId(uint32_t uidValidity, uint32_t uid);
// The two numbers back from such a text; false for any other text.
bool ParseImapUniqueId(std::string_view text, uint32_t& uidValidity, uint32_t& uid);

}  // namespace kalmuro
