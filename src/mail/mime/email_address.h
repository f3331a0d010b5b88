// Mail addresses as written in From, To, Cc, Reply-To and Sender headers.
// The texts come from strangers: parsing never reads out of bounds and never
// fails except with EEmailParseError.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mail/errors.h"

namespace kalmuro {

// "@ Outside address": an '@' after a closing '>' outside quotes and comments.
class EEmailParseError : public EMailError {
public:
    using EMailError::EMailError;
};

class TEmailAddress {
public:
    TEmailAddress() = default;

    // Parses text into Name and Address (both untrimmed results). On
    // EEmailParseError the two keep what had been gathered before the error.
    void SetText(std::string_view text);

    std::string Name;
    std::string Address;
};

using TEmailAddressList = std::vector<TEmailAddress>;

// Splits a header value holding several addresses (commas, groups, quotes,
// comments) and parses each one; items with neither a name nor an address
// are dropped. The list is emptied first; items parsed before an
// EEmailParseError stay in it.
void ParseAddressList(std::string_view value, TEmailAddressList& list);

}  // namespace kalmuro
