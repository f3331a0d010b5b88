#include "mail/mime/email_address.h"

#include <array>

#include "mail/text.h"

namespace kalmuro {

namespace {

constexpr std::string_view::size_type npos = std::string_view::npos;

// A set of delimiters as a table: find_first_of would search the set once
// for every character of the value.
class TCharSet {
public:
    constexpr explicit TCharSet(std::string_view chars) : Member_{} {
        for (char c : chars) Member_[static_cast<unsigned char>(c)] = true;
    }
    size_t FindIn(std::string_view s) const {
        for (size_t i = 0; i < s.size(); ++i)
            if (Member_[static_cast<unsigned char>(s[i])]) return i;
        return npos;
    }

private:
    std::array<bool, 256> Member_;
};

constexpr TCharSet kComment("()\\");
constexpr TCharSet kQuoted("\"\\");
constexpr TCharSet kAfterAtInAngle(".>(");
constexpr TCharSet kAfterAt(".( ");
constexpr TCharSet kInAddress("\"(@>");
constexpr TCharSet kOutside("(\"< @\t");
constexpr TCharSet kListOutside(":;(\", \t");

// Drops leading blanks (spaces only; other control characters stay).
std::string_view SkipBlanks(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    return s.substr(i);
}

void AddParsed(std::string_view text, TEmailAddressList& list) {
    TEmailAddress address;
    address.SetText(text);
    if (!address.Name.empty() || !address.Address.empty()) list.push_back(std::move(address));
}

}  // namespace

void TEmailAddress::SetText(std::string_view text) {
    Name.clear();
    Address.clear();
    const std::string_view trimmed = TrimView(text);
    if (trimmed.empty()) return;
    if (kOutside.FindIn(trimmed) == npos) {
        Address = trimmed;
        return;
    }

    // The untrusted value is walked as a view that only shrinks from the front,
    // so every pass ends and nothing is copied more than once.
    std::string_view r = trimmed;
    bool quote = false, inAddress = false, angle = false, afterAt = false;
    size_t depth = 0;
    for (;;) {
        const TCharSet& active = depth > 0          ? kComment
                                 : quote            ? kQuoted
                                 : afterAt && angle ? kAfterAtInAngle
                                 : afterAt          ? kAfterAt
                                 : inAddress        ? kInAddress
                                                    : kOutside;
        const size_t p = active.FindIn(r);
        if (p == npos) break;
        const std::string_view before = r.substr(0, p);
        const std::string_view through = r.substr(0, p + 1);
        const std::string_view after = r.substr(p + 1);
        switch (r[p]) {
            case ' ':
            case '\t':
                if (p > 0) {
                    if (afterAt)
                        Address += TrimView(before);
                    else
                        Name += through;
                }
                r = after;
                break;
            case '(':
                ++depth;
                if (p > 0) {
                    if (inAddress)
                        Address += TrimView(before);
                    else if (depth == 1)
                        Name += before;
                }
                r = after;
                break;
            case ')':
                --depth;  // only searched for inside a comment, whose text is dropped
                r = after;
                break;
            case '"':
                if (quote) {
                    if (angle)
                        Address += TrimView(before);
                    else
                        Name += TrimView(before);
                    r = after;
                    quote = false;
                } else {
                    // Drops the first character, which is the quote when it opens the rest.
                    quote = true;
                    r = r.substr(1);
                }
                break;
            case '.':
                if (angle) {
                    Address += TrimView(before);
                    Address += '.';
                    r = SkipBlanks(after);
                } else {
                    Address += through;
                    r = after;
                }
                break;
            case '<':
                if (p > 0) Name += before;
                TrimInPlace(Name);
                angle = true;
                inAddress = true;
                r = after;
                break;
            case '>':
                inAddress = false;
                afterAt = false;
                Address += TrimView(before);
                r = after;
                break;
            case '@':
                afterAt = true;
                if (!inAddress) {
                    if (angle) throw EEmailParseError("@ Outside address");
                    inAddress = true;
                }
                Address += through;
                r = after;
                break;
            case '\\': {
                const std::string_view escaped = after.substr(0, 1);
                if (quote) {
                    std::string& target = inAddress ? Address : Name;
                    target += before;
                    target += escaped;
                }
                r = after.substr(escaped.size());
                break;
            }
        }
    }
    if (inAddress && !angle) Address += TrimView(r);
}

void ParseAddressList(std::string_view value, TEmailAddressList& list) {
    list.clear();
    if (TrimView(value).empty()) return;
    if (kListOutside.FindIn(value) == npos) {
        AddParsed(TrimLeftView(value), list);
        return;
    }

    std::string_view s = value;
    std::string item;
    item.reserve(value.size());
    bool quote = false;
    size_t depth = 0;
    for (;;) {
        const TCharSet& active = depth > 0 ? kComment : quote ? kQuoted : kListOutside;
        const size_t p = active.FindIn(s);
        if (p == npos) break;
        const std::string_view before = s.substr(0, p);
        std::string_view after = s.substr(p + 1);
        switch (s[p]) {
            case ' ':
            case '\t':
            case '"':
            case '(':
            case ')':
                item += s.substr(0, p + 1);
                if (s[p] == '"') quote = !quote;
                if (s[p] == '(') ++depth;
                if (s[p] == ')') --depth;
                break;
            case '\\': {
                const std::string_view escaped = after.substr(0, 1);
                item += s.substr(0, p + 1);
                item += escaped;
                after = after.substr(escaped.size());
                break;
            }
            case ',':
                item += before;
                AddParsed(item, list);
                item.clear();
                break;
            case ':':
                item.clear();  // a group name
                break;
            case ';':
                item += before;
                if (!TrimView(item).empty()) {
                    AddParsed(TrimLeftView(item), list);
                    item.clear();
                }
                break;
        }
        s = after;
    }
    if (!TrimView(item).empty() || !TrimView(s).empty()) {
        item += TrimLeftView(s);
        AddParsed(item, list);
    }
}

}  // namespace kalmuro
