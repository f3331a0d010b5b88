// The header block of one message as received: an ordered list of lines with
// look-up by header name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kalmuro {

class THeaderList {
public:
    // Lines are kept exactly as given, duplicates and order included;
    // continuation lines stay separate lines with their indentation.
    void Add(std::string_view line);
    void Clear();
    size_t Count() const { return Lines_.size(); }
    const std::string& operator[](size_t index) const { return Lines_[index]; }
    const std::vector<std::string>& Lines() const { return Lines_; }

    // Every line followed by CR LF; empty for an empty list.
    std::string Text() const;

    // The unfolded value of the first line whose name (the text before its
    // first ':', untrimmed) equals name without regard to case; empty when
    // there is none. Continuation lines are joined with single blanks.
    std::string HeaderValue(std::string_view name) const;

private:
    std::vector<std::string> Lines_;
    // Where each line's name ends (its first ':'), found once on Add since
    // every look-up scans all lines; npos for a line without ':'.
    std::vector<size_t> NameEnds_;
};

// The name of one header line: the text before its first ':', not trimmed;
// empty for a line without ':'. (Compared without regard to case.)
std::string_view HeaderName(std::string_view line);

}  // namespace kalmuro
