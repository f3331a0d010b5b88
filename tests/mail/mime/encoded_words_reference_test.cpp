// The decoder walks words with shortcuts (it stops at the first word that
// cannot be read, and keeps its text split at a cursor). This compares it
// with a plain step-by-step walk on many generated values.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <utility>

#include "mail/errors.h"
#include "mail/mime/encoded_words.h"
#include "mail/text.h"

namespace kalmuro {
namespace {

constexpr size_t npos = std::string::npos;

std::string ReferenceQ(const std::string& e) {
    std::string out;
    for (size_t i = 0; i < e.size(); ++i) {
        if (e[i] == '_') {
            out += ' ';
        } else if (e[i] == '=' && i + 2 < e.size()) {
            out += static_cast<char>(StrToInt("$" + e.substr(i + 1, 2)));
            i += 2;
        } else {
            out += e[i];
        }
    }
    return out;
}

std::string ReferenceB(const std::string& e) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string in = e + "?=";
    std::string out;
    for (size_t i = 0; i + 4 <= in.size(); i += 4) {
        unsigned v[4];
        for (int k = 0; k < 4; ++k) {
            const size_t at = alphabet.find(in[i + k]);
            v[k] = at == npos ? 0 : static_cast<unsigned>(at);
        }
        out += static_cast<char>((v[0] * 4 + v[1] / 16) % 256);
        out += static_cast<char>((v[1] * 16 + v[2] / 4) % 256);
        out += static_cast<char>((v[2] * 64 + v[3]) % 256);
    }
    return out;
}

std::string ReferenceJis(const std::string& in) {
    std::string out;
    bool two = false;
    for (size_t i = 0; i < in.size();) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c == 27) {
            if (i + 2 >= in.size()) {
                ++i;
                continue;
            }
            const std::string seq = in.substr(i + 1, 2);
            if (seq == "$B") two = true;
            if (seq == "(B") two = false;
            i += 3;
        } else if (!two) {
            out += in[i++];
        } else if (i + 1 < in.size()) {
            const unsigned c1 = c, c2 = static_cast<unsigned char>(in[i + 1]);
            out += static_cast<char>(((c1 + 1) / 2 + (c1 <= 94 ? 112 : 176)) % 256);
            out +=
                static_cast<char>((c1 % 2 == 0 ? c2 + 126 : (c2 < 96 ? c2 + 31 : c2 + 32)) % 256);
            i += 2;
        } else {
            ++i;
        }
    }
    return out;
}

// Every step as written: visit a word, decode it or leave it, then search the
// next one. Coming back to a word with the text unchanged ends the walk
// (the decoder ends such endless walks the same way).
std::string Reference(const std::string& input) {
    std::string text = input;
    auto upper = [&] { return UpperCase(text); };
    size_t a = upper().find("=?ISO");
    if (a == npos) a = upper().find("=?WINDOWS");
    std::set<size_t> seen;
    while (a != npos) {
        if (!seen.insert(a).second) break;
        const std::string u = upper();
        const bool windows = u.compare(a, 9, "=?WINDOWS") == 0;
        size_t b1 = u.find('?', a + 5);
        size_t b2 = b1 == npos ? npos : u.find('?', b1 + 1);
        size_t c = b2 == npos ? npos : u.find("?=", b2 + 1);
        const bool unchanged = c == npos;
        if (!unchanged) {
            const std::string charset = text.substr(a + 2, b1 - a - 2);
            const char letter = text[b1 + 1];
            const std::string e = text.substr(b2 + 1, c - b2 - 1);
            std::string decoded = (letter == 'Q' || letter == 'q') ? ReferenceQ(e) : ReferenceB(e);
            if (UpperCase(charset) == "ISO-2022-JP") decoded = ReferenceJis(decoded);
            text.replace(a, c + 2 - a, decoded);
            seen.clear();
        }
        const std::string u2 = upper();
        size_t next = u2.find("=?ISO", a + 1);
        if (next == npos) next = u2.find("=?WINDOWS", unchanged && windows ? a + 1 : 0);
        a = next;
    }
    std::string result;
    for (char ch : text)
        if (ch != '\0') result += ch;
    return result;
}

std::pair<std::string, std::string> Outcome(std::string (*decode)(const std::string&),
                                            const std::string& text) {
    try {
        return {decode(text), ""};
    } catch (const EConvertError& e) {
        return {"", e.what()};
    }
}

std::string Ours(const std::string& text) { return DecodeEncodedWords(text); }

TEST(DecodeEncodedWordsReference, AgreesOnGeneratedValues) {
    const char* pieces[] = {"=?ISO-8859-1?",
                            "=?WINDOWS-1252?",
                            "=?iso-2022-jp?",
                            "=?UTF-8?",
                            "=?ISO",
                            "=?windows",
                            "Q?",
                            "q?",
                            "B?",
                            "?=",
                            "?",
                            "=",
                            "=3D",
                            "=3F",
                            "=1B$B",
                            "=1B(B",
                            "0!",
                            "QUJD",
                            "Q2Fm6Q==",
                            "a",
                            " ",
                            "_",
                            "=E9",
                            "=Z",
                            "=?",
                            "ISO",
                            "X?",
                            "=3D=3FISO-8859-1=3FQ=3F",
                            "=?WIN",
                            "DOWS-1252=3FQ=3Fy=3F=3D",
                            "=3D=3FWINDOWS-1252=3FQ=3F"};
    std::mt19937 random(20240901);
    int errors = 0, changed = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int count = 1 + static_cast<int>(random() % 14);
        for (int k = 0; k < count; ++k) text += pieces[random() % std::size(pieces)];
        const auto expected = Outcome(Reference, text);
        const auto got = Outcome(Ours, text);
        ASSERT_EQ(got, expected) << "value: " << text;
        if (!expected.second.empty()) ++errors;
        if (expected.first != text && expected.second.empty()) ++changed;
    }
    // The generator must reach both outcomes for the comparison to mean much.
    EXPECT_GT(errors, 200);
    EXPECT_GT(changed, 4000) << changed;
}

}  // namespace
}  // namespace kalmuro
