#include "mail/imap/imap_text.h"

#include <openssl/evp.h>

#include <algorithm>

#include "mail/imap/imap_response.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

// Longer strings go as literals: servers limit the length of a line.
constexpr size_t kMaxQuoted = 1000;

}  // namespace

bool QuotableText(std::string_view text) {
    if (text.size() > kMaxQuoted) return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u != 0 && u < 0x80 && c != '\r' && c != '\n';
    });
}

std::string QuotedString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string EncodeMailboxName(std::string_view cp1252) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
    std::string out;
    size_t i = 0;
    while (i < cp1252.size()) {
        const char32_t first = Cp1252ToUnicode(static_cast<unsigned char>(cp1252[i]));
        if (first >= 0x20 && first <= 0x7E) {
            out += static_cast<char>(first);
            if (first == '&') out += '-';
            ++i;
            continue;
        }
        // A run of characters that cannot stand for themselves; every
        // Windows-1252 character is one UTF-16 unit.
        out += '&';
        uint32_t bits = 0;
        int count = 0;
        for (; i < cp1252.size(); ++i) {
            const char32_t c = Cp1252ToUnicode(static_cast<unsigned char>(cp1252[i]));
            if (c >= 0x20 && c <= 0x7E) break;
            bits = (bits << 16) | static_cast<uint32_t>(c);
            count += 16;
            while (count >= 6) {
                count -= 6;
                out += kAlphabet[(bits >> count) & 63];
            }
        }
        if (count > 0) out += kAlphabet[(bits << (6 - count)) & 63];
        out += '-';
    }
    return out;
}

std::vector<std::string> UidSets(std::vector<uint32_t> uids, size_t maxBytes) {
    std::sort(uids.begin(), uids.end());
    uids.erase(std::unique(uids.begin(), uids.end()), uids.end());
    // 0 is no UID: a set holding it would be refused as a whole.
    uids.erase(std::remove(uids.begin(), uids.end(), 0u), uids.end());
    std::vector<std::string> sets;
    std::string set;
    for (size_t i = 0; i < uids.size();) {
        size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1) ++j;
        std::string piece = std::to_string(uids[i]);
        if (j > i) piece += ":" + std::to_string(uids[j]);
        if (!set.empty() && set.size() + 1 + piece.size() > maxBytes) {
            sets.push_back(std::move(set));
            set.clear();
        }
        if (!set.empty()) set += ',';
        set += piece;
        i = j + 1;
    }
    if (!set.empty()) sets.push_back(std::move(set));
    return sets;
}

std::string ImapUniqueId(uint32_t uidValidity, uint32_t uid) {
    return std::to_string(uidValidity) + "." + std::to_string(uid);
}

bool ParseImapUniqueId(std::string_view text, uint32_t& uidValidity, uint32_t& uid) {
    const size_t dot = text.find('.');
    if (dot == std::string_view::npos) return false;
    return ParseImapNumber(text.substr(0, dot), uidValidity) &&
           ParseImapNumber(text.substr(dot + 1), uid) && uid != 0;
}

}  // namespace kalmuro
