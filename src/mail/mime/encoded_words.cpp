#include "mail/mime/encoded_words.h"

#include <array>
#include <cstdint>
#include <vector>

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

// Finds a pattern in the upper-cased text, answering "none" at once past its
// last occurrence: a header full of unfinished words would otherwise make
// every probe scan to the end.
class TFinder {
public:
    TFinder(const std::string& text, std::string_view pattern) : Text_(text), Pattern_(pattern) {
        Refresh();
    }
    void Refresh() { Last_ = Text_.rfind(Pattern_); }
    size_t Find(size_t from) const {
        if (Last_ == npos || from > Last_) return npos;
        return Text_.find(Pattern_, from);
    }

private:
    const std::string& Text_;
    std::string_view Pattern_;
    size_t Last_ = npos;
};

}  // namespace

std::string DecodeEncodedWords(std::string_view input) {
    std::string text(input);
    std::string upper = UpperCase(text);  // searched; same positions as text
    TFinder iso(upper, "=?ISO"), windows(upper, "=?WINDOWS"), question(upper, "?"),
        closing(upper, "?=");

    size_t a = iso.Find(0);
    if (a == npos) a = windows.Find(0);

    // Between two decodings the text does not change, so coming back to a
    // word already looked at would repeat the same steps for ever (an
    // unfinished WINDOWS word before an unfinished ISO word does that): stop.
    std::vector<uint32_t> visited(text.size() + 1, 0);
    uint32_t round = 1;

    while (a != npos) {
        if (visited[a] == round) break;
        visited[a] = round;
        const bool windowsWord = upper.compare(a, 9, "=?WINDOWS") == 0;

        const size_t b1 = question.Find(a + 5);
        const size_t b2 = b1 == npos ? npos : question.Find(b1 + 1);
        const size_t c = b2 == npos ? npos : closing.Find(b2 + 1);
        const bool unchanged = c == npos;
        if (!unchanged) {
            const std::string_view charset = std::string_view(text).substr(a + 2, b1 - a - 2);
            const char letter = text[b1 + 1];
            const std::string_view encoded = std::string_view(text).substr(b2 + 1, c - b2 - 1);
            std::string decoded = (letter == 'Q' || letter == 'q') ? DecodeQ(encoded) : DecodeB(encoded);
            if (SameText(charset, "ISO-2022-JP")) decoded = JisToShiftJis(decoded);
            text.replace(a, c + 2 - a, decoded);
            upper.replace(a, c + 2 - a, UpperCase(decoded));
            iso.Refresh();
            windows.Refresh();
            question.Refresh();
            closing.Refresh();
            ++round;
        }

        // The decoded bytes are searched again; WINDOWS words are looked for
        // from the start once no ISO word is left, except past one that could
        // not be read.
        size_t next = iso.Find(a + 1);
        if (next == npos) next = windows.Find(unchanged && windowsWord ? a + 1 : 0);
        a = next;
    }

    std::string result;
    result.reserve(text.size());
    for (char ch : text)
        if (ch != '\0') result += ch;
    return result;
}

}  // namespace kalmuro
