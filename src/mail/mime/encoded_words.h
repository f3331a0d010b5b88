// Encoded words in header values ("=?charset?Q?...?=" and base64 ones).
#pragma once

#include <string>
#include <string_view>

namespace kalmuro {

// Replaces the encoded words whose character set starts with ISO or WINDOWS
// by their decoded bytes (taken as Windows-1252; ISO-2022-JP is turned into
// Shift_JIS), leaves every other word as it is and removes NUL bytes.
// A Q escape that is not two hexadecimal digits raises EConvertError
// "'$XY' is not a valid integer value".
//
// With decodeUtf8, words in UTF-8 (Q or B) are decoded as well, into
// Windows-1252 with "?" for every character it cannot hold; a UTF-8 word
// whose encoding or bytes are not valid stays as it is, and raises nothing.
std::string DecodeEncodedWords(std::string_view text, bool decodeUtf8 = false);

// The same result without a copy when there is nothing to decode: text
// itself then, else a view of storage, which receives the decoded text.
std::string_view DecodeEncodedWordsView(std::string_view text, bool decodeUtf8,
                                        std::string& storage);

}  // namespace kalmuro
