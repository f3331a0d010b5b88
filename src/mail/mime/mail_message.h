// The header of one message and what is read from it.
#pragma once

#include <string>
#include <vector>

#include "mail/datetime.h"
#include "mail/mime/email_address.h"
#include "mail/mime/header_list.h"

namespace kalmuro {

class TMailMessage {
public:
    // The header lines as received (appended by the POP3 client).
    THeaderList HeaderLines;

    // Whether encoded words in UTF-8 are decoded too (the "DecodeUTF8"
    // option); set before InterpretHeaders.
    bool DecodeUtf8 = false;

    // Read by the check cycle.
    TEmailAddress From;
    std::string Subject;
    TDateTime Date = 0;  // local time; 0 until interpreted

    // Filled along the way; nothing downstream relies on them.
    std::string ContentType;
    std::string CharSet;  // upper case
    std::string ContentTransferEncoding;
    std::string ContentDisposition;
    std::string MsgId;
    std::vector<std::string> NewsGroups;
    TEmailAddressList Recipients;  // To
    TEmailAddressList CCList;      // Cc
    std::string Organization;
    TEmailAddress ReceiptRecipient;
    std::string References;
    TEmailAddressList ReplyTo;
    TEmailAddress Sender;
    std::string Priority;  // the header's text
    std::string MIMEBoundary;

    // Fills the members above from HeaderLines, in a fixed order. An error
    // (EConvertError, EEmailParseError, ETimeZoneInfoError) ends the work at
    // that header: members filled before keep their new values, the later
    // ones what they held.
    void InterpretHeaders();

    // Back to a new message's state, DecodeUtf8 aside; the header list keeps
    // its room, so that one object can read a whole mailbox without
    // allocating it again for every message.
    void Clear();
};

}  // namespace kalmuro
