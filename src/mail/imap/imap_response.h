// One IMAP4rev1 server response, parsed from its bytes: the status line or
// data line with every literal it carries already in place ("{5}" CR LF and
// five bytes). A pure function over bytes, so that it is tested by tables and
// fuzzed without a socket.
//
// Everything parsed is the server's: untrusted. Nesting is bounded, counts
// are checked against the bytes at hand, and nothing is interpreted beyond
// the response's structure.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mail/errors.h"

namespace kalmuro {

// A response that does not follow the grammar. The message quotes its first
// line (at most 200 bytes of it).
class EImapParseError : public EMailError {
public:
    using EMailError::EMailError;
};

// One data item: an atom (numbers, flags and section names such as
// "BODY[HEADER]" included), a string (quoted or literal, its bytes as
// sent), NIL, or a parenthesised list.
struct TImapItem {
    enum class TKind { Atom, String, Nil, List };
    TKind Kind = TKind::Atom;
    std::string Text;
    std::vector<TImapItem> Items;

    // An atom equal to name, a-z taken as A-Z.
    bool IsAtom(std::string_view name) const;
};

enum class TImapResponseKind { Tagged, Untagged, Continuation };

struct TImapResponse {
    TImapResponseKind Kind = TImapResponseKind::Untagged;
    std::string Tag;  // of a tagged response
    // The number before the keyword ("* 3 EXISTS", "* 5 FETCH"); HasNumber
    // tells whether there was one.
    bool HasNumber = false;
    uint32_t Number = 0;
    // Upper case (a-z only): OK, NO, BAD, BYE, PREAUTH for a status
    // response; CAPABILITY, FETCH, LIST, SEARCH, EXISTS... for data.
    std::string Keyword;
    // The response code of a status response, "[UIDVALIDITY 17]": its atom
    // in upper case and the rest inside the brackets, trimmed.
    std::string Code;
    std::string CodeText;
    // The human-readable text of a status response, the text after "+" of
    // a continuation, the unparsed rest of a data response of an unknown
    // kind.
    std::string Text;
    // The items after the keyword of a known data response.
    std::vector<TImapItem> Data;

    bool IsStatus() const;
    void Clear();
};

// Parses one whole response: the bytes from its tag to its last line end (a
// missing final CR LF is accepted). Raises EImapParseError.
void ParseImapResponse(std::string_view bytes, TImapResponse& response);

// Whether a line read from the server ends by announcing a literal ("{n}",
// before any CR): the count of bytes that follow it.
bool LiteralAnnounced(std::string_view line, uint64_t& count);

// An IMAP number (digits only, no sign) that fits 32 bits.
bool ParseImapNumber(std::string_view text, uint32_t& value);

// The value after the attribute `name` in a FETCH list ("UID 7" gives the
// item "7"), null when the list has no such attribute.
const TImapItem* FetchAttribute(const TImapItem& list, std::string_view name);

// The words of a text split at blanks: a capability list of a response code.
std::vector<std::string> SplitAtBlanks(std::string_view text);

}  // namespace kalmuro
