// One message found on a server at the last check: what its header, LIST and
// UIDL replies gave. The body is never kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mail/datetime.h"

namespace kalmuro {

struct TMessageEntry {
    std::string Sender;       // "name (address)", or the non-empty one of the two
    std::string Subject;      // decoded, trimmed
    std::string FromName;     // trimmed
    std::string FromAddress;  // trimmed; what sender rules are compared with
    std::string UidlText;     // the +OK UIDL reply after "+OK ": "<n> <uid>"; empty on failure
    std::string HeaderText;   // the header block as lines of text
    TDateTime Date = 0;       // local time; exactly 0 when the header was never read
    int32_t AccountIndex = 0;
    int32_t Size = 0;       // octets from LIST; -1 when the reply gave none, 0 if never obtained
    int32_t MsgNumber = 0;  // the server's number at the check, from 1
    std::string SpamNote;   // the classification note; empty when no rule applied
    bool Locked = false;    // blocked; never true together with Secured
    bool Secured = false;   // accepted by a safe rule
    bool Selected = false;  // ticked for deletion; equals Locked right after a classification
};

using TMessageEntries = std::vector<TMessageEntry>;

}  // namespace kalmuro
