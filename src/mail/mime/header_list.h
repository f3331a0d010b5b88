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
    // Empties the list; its room is kept for the next lines.
    void Clear();
    size_t Count() const { return Lines_.size(); }
    std::string_view operator[](size_t index) const;
    // A copy of every line.
    std::vector<std::string> Lines() const;

    // Every line followed by CR LF; empty for an empty list.
    const std::string& Text() const { return Text_; }

    // The unfolded value of the first line whose name (the text before its
    // first ':', untrimmed) equals name without regard to case; empty when
    // there is none. Continuation lines are joined with single blanks.
    std::string HeaderValue(std::string_view name) const;
    // The same value without a copy where it can be had: a view into the
    // line itself, or, for a folded value, into scratch, which receives it.
    // Valid until the list or scratch changes.
    std::string_view HeaderValueView(std::string_view name, std::string& scratch) const;

private:
    struct TLine {
        size_t Start;    // in Text_
        size_t Length;   // without the CR LF that follows it in Text_
        size_t NameEnd;  // its first ':', found once since every look-up
                         // scans all lines; npos for a line without ':'
        size_t NameKey;  // NameKey() of its name: most lines of another
                         // name are passed over on this alone
    };
    std::string_view Line(const TLine& line) const {
        return std::string_view(Text_).substr(line.Start, line.Length);
    }

    // All lines in one block, each followed by CR LF: one allocation for
    // the whole header rather than one a line.
    std::string Text_;
    std::vector<TLine> Lines_;
};

// The name of one header line: the text before its first ':', not trimmed;
// empty for a line without ':'. (Compared without regard to case.)
std::string_view HeaderName(std::string_view line);

}  // namespace kalmuro
