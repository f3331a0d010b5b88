#include "mail/mime/header_list.h"

#include "mail/text.h"

namespace kalmuro {

namespace {

// Room for a usual header block from the first line on, so that it is not
// grown line by line.
constexpr size_t kUsualHeaderBytes = 2048;
constexpr size_t kUsualHeaderLines = 32;

unsigned char Fold(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A')
                                : static_cast<unsigned char>(c);
}

// Equal for names that SameText finds equal: the length and the first and
// last characters, a-z taken as capitals.
size_t NameKey(std::string_view name) {
    if (name.empty()) return 0;
    return (name.size() << 16) | (size_t{Fold(name.front())} << 8) | Fold(name.back());
}

}  // namespace

std::string_view HeaderName(std::string_view line) {
    const size_t colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
}

void THeaderList::Add(std::string_view line) {
    if (Lines_.empty()) {
        Text_.reserve(kUsualHeaderBytes);
        Lines_.reserve(kUsualHeaderLines);
    }
    const size_t colon = line.find(':');
    Lines_.push_back({Text_.size(), line.size(), colon,
                      NameKey(colon == std::string_view::npos ? std::string_view()
                                                              : line.substr(0, colon))});
    Text_ += line;
    Text_ += "\r\n";
}

void THeaderList::Clear() {
    Text_.clear();
    Lines_.clear();
}

std::string_view THeaderList::operator[](size_t index) const { return Line(Lines_[index]); }

std::vector<std::string> THeaderList::Lines() const {
    std::vector<std::string> lines;
    lines.reserve(Lines_.size());
    for (const TLine& line : Lines_) lines.emplace_back(Line(line));
    return lines;
}

std::string THeaderList::HeaderValue(std::string_view name) const {
    std::string scratch;
    const std::string_view value = HeaderValueView(name, scratch);
    // Moved rather than copied when the value was built in scratch.
    if (value.data() == scratch.data() && value.size() == scratch.size()) return scratch;
    return std::string(value);
}

std::string_view THeaderList::HeaderValueView(std::string_view name, std::string& scratch) const {
    // Scanned from the top on every call: the first line of the name wins.
    const size_t key = NameKey(name);
    const TLine* const lines = Lines_.data();
    const size_t count = Lines_.size();
    for (size_t i = 0; i < count; ++i) {
        if (lines[i].NameKey != key) continue;  // most lines: one comparison
        const std::string_view line = Line(Lines_[i]);
        const size_t colon = Lines_[i].NameEnd;
        // A line without ':' has the empty name.
        const size_t nameLength = colon == std::string::npos ? 0 : colon;
        if (nameLength != name.size() || !SameText(line.substr(0, nameLength), name)) continue;
        const std::string_view first =
            colon == std::string::npos ? std::string_view() : line.substr(colon + 1);
        const auto continues = [&](size_t k) {
            if (k >= Lines_.size()) return false;
            const std::string_view next = Line(Lines_[k]);
            return !next.empty() && (next[0] == ' ' || next[0] == '\t');
        };
        if (!continues(i + 1)) return TrimView(first);
        // Each continuation joins the value trimmed so far with one blank.
        scratch.assign(TrimView(first));
        for (size_t k = i + 1; continues(k); ++k) {
            scratch += ' ';
            scratch += TrimView(Line(Lines_[k]));
            TrimInPlace(scratch);
        }
        return scratch;
    }
    return std::string_view();
}

}  // namespace kalmuro
