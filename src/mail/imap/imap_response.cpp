#include "mail/imap/imap_response.h"

#include <algorithm>

#include "mail/text.h"

namespace kalmuro {

namespace {

// Deeper lists than any real response has are refused rather than recursed
// into: a hostile server must not exhaust the stack.
constexpr int kMaxDepth = 64;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The characters that end an atom (outside a "[...]" section).
bool EndsAtom(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F || c == '(' || c == ')' || c == '{' || c == '"';
}

class TParser {
public:
    explicit TParser(std::string_view bytes) : S(bytes) {}

    [[noreturn]] void Fail(std::string_view why) const {
        std::string_view first = S.substr(0, S.find_first_of("\r\n"));
        if (first.size() > 200) first = first.substr(0, 200);
        throw EImapParseError("Unrecognized IMAP response (" + std::string(why) + "):\n\"" +
                              std::string(first) + "\"");
    }

    bool AtEnd() const { return P >= S.size(); }
    char Peek() const { return AtEnd() ? '\0' : S[P]; }

    // A token up to the next blank (or the end of the line).
    std::string_view Word() {
        const size_t start = P;
        while (!AtEnd() && S[P] != ' ' && S[P] != '\r' && S[P] != '\n') ++P;
        return S.substr(start, P - start);
    }

    void Blank() {
        if (Peek() != ' ') Fail("blank expected");
        ++P;
    }
    void SkipBlanks() {
        while (Peek() == ' ') ++P;
    }

    // The rest of the current line.
    std::string_view RestOfLine() {
        const size_t start = P;
        while (!AtEnd() && S[P] != '\r' && S[P] != '\n') ++P;
        return S.substr(start, P - start);
    }

    // After the last item only the line end may follow.
    void End() {
        if (Peek() == '\r') ++P;
        if (Peek() == '\n') ++P;
        if (!AtEnd()) Fail("bytes after the end");
    }

    // Items up to the end of the line, or up to the ")" of a list.
    void Items(std::vector<TImapItem>& out, int depth, bool inList) {
        for (;;) {
            SkipBlanks();
            const char c = Peek();
            if (AtEnd() || c == '\r' || c == '\n') {
                if (inList) Fail("unterminated list");
                return;
            }
            if (c == ')') {
                if (!inList) Fail("unbalanced parenthesis");
                ++P;
                return;
            }
            out.emplace_back();
            Item(out.back(), depth);
        }
    }

    void Item(TImapItem& item, int depth) {
        const char c = Peek();
        if (c == '(') {
            if (depth >= kMaxDepth) Fail("lists nested too deeply");
            ++P;
            item.Kind = TImapItem::TKind::List;
            Items(item.Items, depth + 1, true);
        } else if (c == '"') {
            item.Kind = TImapItem::TKind::String;
            Quoted(item.Text);
        } else if (c == '{') {
            item.Kind = TImapItem::TKind::String;
            Literal(item.Text);
        } else {
            Atom(item);
        }
    }

    void Quoted(std::string& text) {
        ++P;  // the opening quote
        for (;;) {
            if (AtEnd()) Fail("unterminated string");
            const char c = S[P++];
            if (c == '"') return;
            if (c == '\r' || c == '\n') Fail("line end inside a string");
            if (c == '\\') {
                if (AtEnd()) Fail("unterminated string");
                text += S[P++];
                continue;
            }
            text += c;
        }
    }

    void Literal(std::string& text) {
        ++P;  // the "{"
        uint64_t count = 0;
        const size_t digits = P;
        while (IsDigit(Peek())) {
            if (count > (uint64_t{1} << 48)) Fail("literal too long");
            count = count * 10 + static_cast<uint64_t>(S[P++] - '0');
        }
        if (P == digits) Fail("literal without a count");
        if (Peek() == '+') ++P;
        if (Peek() != '}') Fail("literal count not closed");
        ++P;
        if (Peek() == '\r') ++P;
        if (Peek() != '\n') Fail("literal not followed by a line end");
        ++P;
        if (count > S.size() - P) Fail("literal longer than the response");
        text.assign(S.substr(P, static_cast<size_t>(count)));
        P += static_cast<size_t>(count);
    }

    // An atom; a "[" takes everything up to its matching "]" with it, blanks
    // and parentheses included, so that "BODY[HEADER.FIELDS (FROM)]<0>" is
    // one item.
    void Atom(TImapItem& item) {
        const size_t start = P;
        int brackets = 0;
        while (!AtEnd()) {
            const char c = S[P];
            if (c == '[') {
                ++brackets;
            } else if (c == ']' && brackets > 0) {
                --brackets;
            } else if (brackets == 0 ? EndsAtom(c) : (c == '\r' || c == '\n')) {
                break;
            }
            ++P;
        }
        if (brackets > 0) Fail("section not closed");
        if (P == start) Fail("unexpected character");
        item.Text.assign(S.substr(start, P - start));
        item.Kind = SameText(item.Text, "NIL") ? TImapItem::TKind::Nil : TImapItem::TKind::Atom;
    }

    // "[CODE text]" and the text after it.
    void StatusRest(TImapResponse& r) {
        SkipBlanks();
        if (Peek() == '[') {
            ++P;
            const size_t close = S.find(']', P);
            const size_t eol = S.find_first_of("\r\n", P);
            if (close == std::string_view::npos || close > eol) Fail("response code not closed");
            const std::string_view inside = S.substr(P, close - P);
            const size_t blank = inside.find(' ');
            r.Code = UpperCase(inside.substr(0, blank));
            if (r.Code.empty()) Fail("empty response code");
            if (blank != std::string_view::npos) r.CodeText = Trim(inside.substr(blank + 1));
            P = close + 1;
            SkipBlanks();
        }
        r.Text.assign(RestOfLine());
    }

    std::string_view S;
    size_t P = 0;
};

bool IsStatusWord(std::string_view word) {
    return word == "OK" || word == "NO" || word == "BAD" || word == "BYE" || word == "PREAUTH";
}

// Data responses whose items are parsed; the others keep their text.
bool ParsedData(std::string_view keyword) {
    static const char* const known[] = {"CAPABILITY", "FETCH",  "LIST",   "LSUB",   "SEARCH",
                                        "FLAGS",      "STATUS", "EXISTS", "RECENT", "EXPUNGE",
                                        "ENABLED"};
    return std::any_of(std::begin(known), std::end(known),
                       [&](const char* k) { return keyword == k; });
}

bool TakesNumber(std::string_view keyword) {
    return keyword == "EXISTS" || keyword == "RECENT" || keyword == "EXPUNGE" ||
           keyword == "FETCH";
}

}  // namespace

bool TImapItem::IsAtom(std::string_view name) const {
    return Kind == TKind::Atom && SameText(Text, name);
}

bool TImapResponse::IsStatus() const { return IsStatusWord(Keyword); }

void TImapResponse::Clear() {
    Kind = TImapResponseKind::Untagged;
    Tag.clear();
    HasNumber = false;
    Number = 0;
    Keyword.clear();
    Code.clear();
    CodeText.clear();
    Text.clear();
    Data.clear();
}

void ParseImapResponse(std::string_view bytes, TImapResponse& r) {
    r.Clear();
    TParser p(bytes);
    const std::string_view tag = p.Word();
    if (tag.empty()) p.Fail("no tag");
    if (tag.front() == '+') {
        // "+" and its text; some servers leave out the blank.
        r.Kind = TImapResponseKind::Continuation;
        p.P = 1;
        if (p.Peek() == ' ') ++p.P;
        r.Text.assign(p.RestOfLine());
        p.End();
        return;
    }
    r.Kind = tag == "*" ? TImapResponseKind::Untagged : TImapResponseKind::Tagged;
    if (r.Kind == TImapResponseKind::Tagged) r.Tag.assign(tag);
    p.Blank();
    std::string_view word = p.Word();
    if (!word.empty() && IsDigit(word.front()) && r.Kind == TImapResponseKind::Untagged) {
        if (!ParseImapNumber(word, r.Number)) p.Fail("bad number");
        r.HasNumber = true;
        p.Blank();
        word = p.Word();
    }
    r.Keyword = UpperCase(word);
    if (r.Keyword.empty()) p.Fail("no keyword");
    if (r.Kind == TImapResponseKind::Tagged) {
        if (r.Keyword != "OK" && r.Keyword != "NO" && r.Keyword != "BAD")
            p.Fail("tagged response without OK, NO or BAD");
    }
    if (r.IsStatus()) {
        if (r.HasNumber) p.Fail("number before a status");
        p.StatusRest(r);
        p.End();
        return;
    }
    if (TakesNumber(r.Keyword) != r.HasNumber) p.Fail("number missing or misplaced");
    if (!ParsedData(r.Keyword)) {
        // A response this client does not ask for: kept, not understood.
        p.SkipBlanks();
        r.Text.assign(p.S.substr(p.P));
        while (!r.Text.empty() && (r.Text.back() == '\n' || r.Text.back() == '\r'))
            r.Text.pop_back();
        return;
    }
    p.Items(r.Data, 0, false);
    p.End();
    if (r.Keyword == "FETCH" && (r.Data.size() != 1 || r.Data[0].Kind != TImapItem::TKind::List))
        p.Fail("FETCH without its list");
}

bool LiteralAnnounced(std::string_view line, uint64_t& count) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (line.size() < 3 || line.back() != '}') return false;
    line.remove_suffix(1);
    if (!line.empty() && line.back() == '+') line.remove_suffix(1);
    const size_t open = line.rfind('{');
    if (open == std::string_view::npos || open + 1 == line.size()) return false;
    const std::string_view digits = line.substr(open + 1);
    if (digits.size() > 15) return false;
    uint64_t n = 0;
    for (char c : digits) {
        if (!IsDigit(c)) return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    count = n;
    return true;
}

bool ParseImapNumber(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t n = 0;
    for (char c : text) {
        if (!IsDigit(c)) return false;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (n > UINT32_MAX) return false;
    value = static_cast<uint32_t>(n);
    return true;
}

const TImapItem* FetchAttribute(const TImapItem& list, std::string_view name) {
    if (list.Kind != TImapItem::TKind::List) return nullptr;
    for (size_t i = 0; i + 1 < list.Items.size(); i += 2)
        if (list.Items[i].IsAtom(name)) return &list.Items[i + 1];
    return nullptr;
}

std::vector<std::string> SplitAtBlanks(std::string_view text) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start < text.size()) {
        const size_t blank = text.find(' ', start);
        const size_t end = blank == std::string_view::npos ? text.size() : blank;
        if (end > start) words.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

}  // namespace kalmuro
