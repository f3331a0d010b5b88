// 8-bit text helpers. Every std::string here holds Windows-1252 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kalmuro {

// Removes characters with codes 0-32 from both ends (or one end).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
// The same without a copy: the part of s that Trim would return.
std::string_view TrimView(std::string_view s);
std::string_view TrimLeftView(std::string_view s);
// Trim in place, without a new string.
void TrimInPlace(std::string& s);

// Changes only the letters a-z (respectively A-Z); every other byte is kept.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);

// Case-insensitive equality under the a-z rule.
bool SameText(std::string_view a, std::string_view b);

// The run-time's integer conversion: optional leading blanks, an optional sign,
// decimal digits, or hexadecimal after "$", "0x" or "x"; nothing may follow;
// the value must fit in 32 bits. Anything else raises EConvertError with the
// message "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view s);
// Same conversion without raising: returns false on failure.
bool TryStrToInt(std::string_view s, int32_t& value);
std::string IntToStr(int64_t value);
// Appends value as printf's "%0<width>d" writes it: a minus sign first when
// negative, then the digits, with zeros after the sign up to width in all.
void AppendDecimal(std::string& out, int value, int width = 1);

// The lines, each followed by CR LF (the last one too): the form of every
// line-oriented file the program writes.
std::string JoinLinesCrLf(const std::vector<std::string>& lines);

// The two characters "\n" (n in either case) become LF then CR.
std::string ExpandNewlines(std::string_view s);

// Windows-1252 <-> UTF-8. Every byte has a mapping (the five bytes that
// Windows-1252 leaves undefined map to U+0081 and friends), so decoding never
// fails; encoding replaces a character Windows-1252 cannot hold with '?'.
std::string Cp1252ToUtf8(std::string_view s);
// Cp1252ToUtf8 appended to out.
void AppendCp1252ToUtf8(std::string& out, std::string_view s);
std::string Utf8ToCp1252(std::string_view s);
// The Unicode code point of one Windows-1252 byte.
char32_t Cp1252ToUnicode(unsigned char c);

}  // namespace kalmuro
