#include "mail/mime/header_list.h"

#include "mail/text.h"

namespace kalmuro {

namespace {

// Trim without copying: unfolding trims the growing value at every join.
void TrimInPlace(std::string& s) {
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.pop_back();
    size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32) ++i;
    if (i > 0) s.erase(0, i);
}

}  // namespace

std::string_view HeaderName(std::string_view line) {
    const size_t colon = line.find(':');
    return colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
}

void THeaderList::Add(std::string_view line) {
    Lines_.emplace_back(line);
    NameEnds_.push_back(line.find(':'));
}

void THeaderList::Clear() {
    Lines_.clear();
    NameEnds_.clear();
}

std::string THeaderList::Text() const { return JoinLinesCrLf(Lines_); }

std::string THeaderList::HeaderValue(std::string_view name) const {
    // Scanned from the top on every call: the first line of the name wins.
    for (size_t i = 0; i < Lines_.size(); ++i) {
        const std::string& line = Lines_[i];
        const size_t colon = NameEnds_[i];
        // A line without ':' has the empty name.
        const size_t nameLength = colon == std::string::npos ? 0 : colon;
        if (nameLength != name.size() ||
            !SameText(std::string_view(line).substr(0, nameLength), name))
            continue;
        std::string value = colon == std::string::npos ? std::string() : line.substr(colon + 1);
        for (size_t k = i + 1; k < Lines_.size(); ++k) {
            const std::string& next = Lines_[k];
            if (next.empty() || (next[0] != ' ' && next[0] != '\t')) break;
            TrimInPlace(value);
            value += ' ';
            value += Trim(next);
        }
        TrimInPlace(value);
        return value;
    }
    return std::string();
}

}  // namespace kalmuro
