#include "mail/mime/encoded_words.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "mail/errors.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

constexpr size_t npos = std::string::npos;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string DecodeQ(std::string_view e) {
    std::string out;
    out.reserve(e.size());
    for (size_t i = 0; i < e.size(); ++i) {
        const char c = e[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=' && i + 2 < e.size()) {
            const int high = HexValue(e[i + 1]), low = HexValue(e[i + 2]);
            if (high < 0 || low < 0)
                throw EConvertError("'$" + std::string(e.substr(i + 1, 2)) +
                                    "' is not a valid integer value");
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;  // also an '=' too near the end to hold an escape
        }
    }
    return out;
}

constexpr std::array<uint8_t, 256> MakeBase64Table() {
    std::array<uint8_t, 256> table{};  // 0 for every character outside the alphabet
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = i;
    return table;
}
constexpr std::array<uint8_t, 256> kBase64 = MakeBase64Table();

// The closing "?=" takes part in the groups of four, so that a word whose
// padding was left out still yields its last bytes; padding gives NULs.
std::string DecodeB(std::string_view e) {
    std::string in(e);
    in += "?=";
    std::string out;
    out.reserve(in.size() / 4 * 3);
    for (size_t i = 0; i + 4 <= in.size(); i += 4) {
        const unsigned p = kBase64[static_cast<unsigned char>(in[i])];
        const unsigned q = kBase64[static_cast<unsigned char>(in[i + 1])];
        const unsigned r = kBase64[static_cast<unsigned char>(in[i + 2])];
        const unsigned s = kBase64[static_cast<unsigned char>(in[i + 3])];
        out += static_cast<char>((p * 4 + q / 16) & 0xFF);
        out += static_cast<char>((q * 16 + r / 4) & 0xFF);
        out += static_cast<char>((r * 64 + s) & 0xFF);
    }
    return out;
}

std::string JisToShiftJis(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    bool twoByte = false;
    size_t i = 0;
    while (i < in.size()) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c == 27) {
            if (i + 2 < in.size()) {
                if (in[i + 1] == '$' && in[i + 2] == 'B') twoByte = true;
                if (in[i + 1] == '(' && in[i + 2] == 'B') twoByte = false;
                i += 3;
            } else {
                ++i;  // a final escape without its two characters
            }
        } else if (!twoByte) {
            out += static_cast<char>(c);
            ++i;
        } else if (i + 1 < in.size()) {
            const unsigned c1 = c, c2 = static_cast<unsigned char>(in[i + 1]);
            const unsigned s1 = (c1 + 1) / 2 + (c1 <= 94 ? 112 : 176);
            const unsigned s2 = (c1 % 2 == 0) ? c2 + 126 : (c2 < 96 ? c2 + 31 : c2 + 32);
            out += static_cast<char>(s1 & 0xFF);
            out += static_cast<char>(s2 & 0xFF);
            i += 2;
        } else {
            ++i;  // half a pair at the end
        }
    }
    return out;
}

// The first start of "=?" + name (name in capitals, matched without regard
// to case) in [from, limit) of text.
size_t FindWord(std::string_view text, std::string_view name, size_t from, size_t limit = npos) {
    const size_t end = std::min(limit, text.size() >= 1 ? text.size() - 1 : 0);
    // By the '?': Q-encoded text is full of '=', but a word has only four
    // '?', so a search for it skips plain and encoded text alike quickly.
    for (size_t at = from; at < end;) {
        const size_t mark = text.find('?', at + 1);
        if (mark == npos || mark - 1 >= end) return npos;
        at = mark - 1;
        if (text[at] == '=' && SameText(text.substr(at + 2, name.size()), name)) return at;
        at = mark;
    }
    return npos;
}

// The three marks of the word starting at a: the '?' after its character-set
// name, the '?' after its encoding letter and its closing "?=". False when
// one is missing.
bool LocateWord(std::string_view text, size_t a, size_t& b1, size_t& b2, size_t& c) {
    b1 = text.find('?', a + 5);
    if (b1 == npos) return false;
    b2 = text.find('?', b1 + 1);
    if (b2 == npos) return false;
    c = text.find("?=", b2 + 1);
    return c != npos;
}

// The text being decoded, split at a cursor: Left_ holds what lies before it,
// Buffer_ from Offset_ on what lies after. A word is always replaced right
// after the cursor by shorter bytes, which are written into the space the
// word leaves, so a decoding costs the length of its word and not of the
// whole text. Offset_ >= Left_.size() always holds (the text only shrinks),
// so moving the cursor back always finds room.
class TCursorText {
public:
    explicit TCursorText(std::string_view text) : Buffer_(text) {}

    size_t Cursor() const { return Left_.size(); }
    std::string_view Right() const { return std::string_view(Buffer_).substr(Offset_); }

    void MoveTo(size_t position) {
        if (position > Left_.size()) {
            const size_t count = position - Left_.size();
            Left_.append(Buffer_, Offset_, count);
            Offset_ += count;
        } else {
            const size_t count = Left_.size() - position;
            Offset_ -= count;
            Buffer_.replace(Offset_, count, Left_, position, count);
            Left_.resize(position);
        }
    }

    // Replaces the first length bytes after the cursor with the shorter bytes.
    void ReplaceAfterCursor(size_t length, std::string_view bytes) {
        Offset_ += length - bytes.size();
        Buffer_.replace(Offset_, bytes.size(), bytes);
    }

    // FindWord over the whole text, including a word cut by the cursor.
    size_t Find(std::string_view name, size_t from) const {
        const size_t cursor = Left_.size();
        if (from < cursor) {
            size_t at = FindWord(Left_, name, from);
            if (at != npos && at + 2 + name.size() <= cursor) return at;
            // A word that begins in Left_ and ends in the right part.
            const size_t joinStart =
                std::max(from, cursor >= name.size() + 1 ? cursor - name.size() - 1 : 0);
            std::string join = Left_.substr(joinStart);
            join.append(Right().substr(0, name.size() + 1));
            at = FindWord(join, name, 0, cursor - joinStart);
            if (at != npos) return joinStart + at;
            from = cursor;
        }
        const size_t at = FindWord(Right(), name, from - cursor);
        return at == npos ? npos : cursor + at;
    }

    std::string Text() const { return Left_ + std::string(Right()); }

private:
    std::string Left_;
    std::string Buffer_;
    size_t Offset_ = 0;
};

// ---------------------------------------------------------------- UTF-8 words
// Strict, unlike the ISO road: a word that does not decode cleanly is left
// as the sender wrote it rather than shown half-decoded.

bool StrictQ(std::string_view e, std::string& out) {
    out.clear();
    for (size_t i = 0; i < e.size(); ++i) {
        const char c = e[i];
        if (c == '_') {
            out += ' ';
        } else if (c == '=') {
            if (i + 2 >= e.size()) return false;  // an escape needs two digits
            const int high = HexValue(e[i + 1]), low = HexValue(e[i + 2]);
            if (high < 0 || low < 0) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '+' || c == '/';
}

bool StrictB(std::string_view e, std::string& out) {
    out.clear();
    size_t data = e.size();
    while (data > 0 && e[data - 1] == '=') --data;
    const size_t padding = e.size() - data;
    if (padding > 2 || data % 4 == 1) return false;
    if (padding > 0 && e.size() % 4 != 0) return false;
    uint32_t bits = 0;
    int count = 0;
    for (size_t i = 0; i < data; ++i) {
        if (!IsBase64Char(e[i])) return false;
        bits = (bits << 6) | kBase64[static_cast<unsigned char>(e[i])];
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return true;
}

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t length;
        char32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + length > s.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// Replaces every readable "=?UTF-8?Q?...?=" and "=?UTF-8?B?...?=" (any
// case) by its text in Windows-1252. Decoded text is not scanned again.
std::string DecodeUtf8Words(std::string text) {
    if (FindWord(text, "UTF-8?", 0) == npos) return text;
    std::string out;
    out.reserve(text.size());
    std::string bytes;
    size_t done = 0;  // text before this is in out
    size_t from = 0;
    // The first "?=" at or after a position is the same for every word
    // that starts before it: found once, so that many unreadable words
    // cost one scan.
    size_t close = npos;
    for (;;) {
        const size_t a = FindWord(text, "UTF-8?", from);
        if (a == npos) break;
        from = a + 1;
        const size_t letterAt = a + 8;
        if (letterAt + 1 >= text.size() || text[letterAt + 1] != '?') continue;
        if (close == npos || close < letterAt + 2) close = text.find("?=", letterAt + 2);
        const size_t c = close;
        if (c == npos) break;  // no later word can close either
        const char letter = text[letterAt];
        const std::string_view e = std::string_view(text).substr(letterAt + 2, c - letterAt - 2);
        bool ok;
        if (letter == 'Q' || letter == 'q')
            ok = StrictQ(e, bytes);
        else if (letter == 'B' || letter == 'b')
            ok = StrictB(e, bytes);
        else
            ok = false;
        if (!ok || !IsValidUtf8(bytes)) continue;
        out.append(text, done, a - done);
        for (char ch : Utf8ToCp1252(bytes))
            if (ch != '\0') out += ch;
        done = c + 2;
        from = done;
    }
    out.append(text, done, npos);
    return out;
}

std::string DecodeIsoAndWindowsWords(std::string_view input);

// Whether DecodeIsoAndWindowsWords would leave the text as it is.
bool NoIsoOrWindowsWords(std::string_view text) {
    return FindWord(text, "ISO", 0) == npos && FindWord(text, "WINDOWS", 0) == npos &&
           text.find('\0') == npos;
}

}  // namespace

std::string DecodeEncodedWords(std::string_view input, bool decodeUtf8) {
    std::string text = DecodeIsoAndWindowsWords(input);
    if (!decodeUtf8) return text;
    return DecodeUtf8Words(std::move(text));
}

std::string_view DecodeEncodedWordsView(std::string_view text, bool decodeUtf8,
                                        std::string& storage) {
    if (NoIsoOrWindowsWords(text) && (!decodeUtf8 || FindWord(text, "UTF-8?", 0) == npos))
        return text;
    storage = DecodeEncodedWords(text, decodeUtf8);
    return storage;
}

namespace {

std::string DecodeIsoAndWindowsWords(std::string_view input) {
    // The scan: ISO words from left to right, each search starting one
    // position after the last word decoded, so that decoded text is read
    // again; when none is left to decode, the first WINDOWS word in the text.
    //
    // Once a word cannot be read (a mark is missing), no word starting after
    // it can be read either: its missing mark would be missing for them too.
    // So an unreadable ISO word means no ISO word further on will decode, and
    // an unreadable first WINDOWS word means nothing more will. Stopping
    // there gives what walking over the remaining unreadable words one by one
    // gives, and also ends the case where that walk would go round for ever
    // (an unfinished WINDOWS word followed by an unfinished ISO word).
    //
    // Two bounds keep hostile values (thousands of words) near linear:
    // no ISO word at or after isoLimit can be decoded, and no WINDOWS word
    // starts before windowsFloor. Each decoding moves them as the text moves.
    if (NoIsoOrWindowsWords(input)) return std::string(input);  // the common case

    TCursorText text(input);
    size_t from = 0;
    size_t isoLimit = npos;
    size_t windowsFloor = 0;
    for (;;) {
        // After a decoding the cursor stands where the word began, so the
        // next ISO word lies in the right part.
        size_t b1 = 0, b2 = 0, c = 0;
        size_t a = npos;
        const size_t cursor = text.Cursor();
        size_t iso = npos;
        if (from >= cursor && (isoLimit == npos || isoLimit > from))
            iso = FindWord(text.Right(), "ISO", from - cursor,
                           isoLimit == npos ? npos : isoLimit - cursor);
        if (iso == npos) {
            isoLimit = std::min(isoLimit, from);
        } else if (!LocateWord(text.Right(), iso, b1, b2, c)) {
            isoLimit = cursor + iso;
        } else {
            a = cursor + iso;
        }
        if (a == npos) {
            a = text.Find("WINDOWS", windowsFloor);
            if (a == npos) break;
            windowsFloor = a;
        }
        text.MoveTo(a);
        const std::string_view right = text.Right();
        if (!LocateWord(right, 0, b1, b2, c)) break;
        const std::string_view charset = right.substr(2, b1 - 2);
        const char letter = right[b1 + 1];
        const std::string_view encoded = right.substr(b2 + 1, c - b2 - 1);
        std::string decoded =
            (letter == 'Q' || letter == 'q') ? DecodeQ(encoded) : DecodeB(encoded);
        if (SameText(charset, "ISO-2022-JP")) decoded = JisToShiftJis(decoded);
        // Blanks between words are kept: only the word itself is replaced.
        const size_t end = a + c + 2;
        text.ReplaceAfterCursor(c + 2, decoded);
        const size_t decodedEnd = a + decoded.size();
        if (isoLimit != npos)
            isoLimit = end <= isoLimit ? isoLimit - (end - decodedEnd) : decodedEnd;
        // A new WINDOWS word may begin in the decoded bytes or just before them.
        const size_t touched = a >= 8 ? a - 8 : 0;
        if (windowsFloor >= end) windowsFloor -= end - decodedEnd;
        if (windowsFloor > touched) windowsFloor = touched;
        from = a + 1;
    }

    const std::string whole = text.Text();
    std::string result;
    result.reserve(whole.size());
    for (char ch : whole)
        if (ch != '\0') result += ch;
    return result;
}

}  // namespace

}  // namespace kalmuro
