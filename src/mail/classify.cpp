#include "mail/classify.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>

#include "mail/settings.h"
#include "mail/text.h"

namespace kalmuro {

namespace {

constexpr const char* kNoteEmpty =
    "<<< Bloccato perch\xE8 mittente ed oggetto sono vuoti >>>";  // perchè

// Finds the first line of a rule list (in list order) that occurs in a text,
// letters a-z folded to A-Z on both sides. Built once per classification run:
// all lines are searched together in one pass over the text (a multi-pattern
// automaton), so the cost per record no longer grows with the list's length.
// Very large lists fall back to scanning the upper-cased lines one by one.
class TRuleMatcher {
public:
    explicit TRuleMatcher(const std::vector<std::string>& lines) : lines_(lines) {
        size_t total = 0;
        for (const std::string& line : lines) total += line.size();
        // Byte classes: 0 for bytes no line contains, one class per other byte,
        // a-z sharing the class of A-Z.
        classOf_.fill(0);
        int classes = 1;
        for (const std::string& line : lines)
            for (char ch : line) {
                const unsigned char c = Fold(static_cast<unsigned char>(ch));
                if (classOf_[c] == 0) classOf_[c] = static_cast<uint8_t>(classes++);
            }
        for (int c = 'a'; c <= 'z'; ++c) classOf_[c] = classOf_[c - 'a' + 'A'];
        classes_ = classes;
        if ((total + 1) * static_cast<size_t>(classes_) > kMaxCells) {
            upper_.reserve(lines.size());
            for (const std::string& line : lines) upper_.push_back(UpperCase(line));
            scan_ = true;
            return;
        }
        Build(lines, total);
    }

    // The first matching line as the list held it, or null.
    const std::string* FirstMatch(std::string_view text) const {
        const long i = FirstIndex(text);
        return i < 0 ? nullptr : &lines_[static_cast<size_t>(i)];
    }

    long FirstIndex(std::string_view text) const {
        if (scan_) {
            const std::string upper = UpperCase(text);
            for (size_t i = 0; i < upper_.size(); ++i)
                if (!upper_[i].empty() && upper.find(upper_[i]) != std::string::npos)
                    return static_cast<long>(i);
            return -1;
        }
        int32_t state = 0;
        int32_t best = kNone;
        for (char ch : text) {
            state = next_[static_cast<size_t>(state) * classes_ +
                          classOf_[static_cast<unsigned char>(ch)]];
            if (first_[static_cast<size_t>(state)] < best) {
                best = first_[static_cast<size_t>(state)];
                if (best == 0) break;
            }
        }
        return best == kNone ? -1 : best;
    }

private:
    static constexpr size_t kMaxCells = size_t{1} << 22;
    static constexpr int32_t kNone = INT32_MAX;

    static unsigned char Fold(unsigned char c) {
        return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
    }

    int32_t NewNode() {
        next_.resize(next_.size() + static_cast<size_t>(classes_), -1);
        first_.push_back(kNone);
        return static_cast<int32_t>(first_.size() - 1);
    }

    int32_t& Next(int32_t node, int cls) {
        return next_[static_cast<size_t>(node) * classes_ + static_cast<size_t>(cls)];
    }

    void Build(const std::vector<std::string>& lines, size_t total) {
        // A node per character at most, and the root: the table is never
        // moved while it grows.
        next_.reserve((total + 1) * static_cast<size_t>(classes_));
        first_.reserve(total + 1);
        NewNode();  // the root
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].empty()) continue;  // an empty line matches nothing
            int32_t node = 0;
            for (char ch : lines[i]) {
                const int cls = classOf_[static_cast<unsigned char>(ch)];
                if (Next(node, cls) < 0) {
                    const int32_t child = NewNode();
                    Next(node, cls) = child;
                }
                node = Next(node, cls);
            }
            first_[static_cast<size_t>(node)] =
                std::min(first_[static_cast<size_t>(node)], static_cast<int32_t>(i));
        }
        // Breadth first: a node's fallback is shallower and therefore complete.
        std::vector<int32_t> fail(first_.size(), 0);
        std::vector<int32_t> queue;
        queue.reserve(first_.size());
        for (int c = 0; c < classes_; ++c) {
            if (Next(0, c) < 0) {
                Next(0, c) = 0;
            } else {
                queue.push_back(Next(0, c));
            }
        }
        const size_t width = static_cast<size_t>(classes_);
        for (size_t q = 0; q < queue.size(); ++q) {
            const int32_t u = queue[q];
            // Rows by pointer: this loop visits every cell of the table.
            int32_t* row = &next_[static_cast<size_t>(u) * width];
            const int32_t* failRow = &next_[static_cast<size_t>(fail[static_cast<size_t>(u)]) * width];
            for (size_t c = 0; c < width; ++c) {
                const int32_t v = row[c];
                const int32_t viaFail = failRow[c];
                if (v < 0) {
                    row[c] = viaFail;
                    continue;
                }
                fail[static_cast<size_t>(v)] = viaFail;
                // Every line ending at the fallback state also ends here.
                first_[static_cast<size_t>(v)] =
                    std::min(first_[static_cast<size_t>(v)], first_[static_cast<size_t>(viaFail)]);
                queue.push_back(v);
            }
        }
    }

    std::vector<std::string> lines_;
    std::array<uint8_t, 256> classOf_{};
    int classes_ = 1;
    bool scan_ = false;
    std::vector<std::string> upper_;
    std::vector<int32_t> next_;
    std::vector<int32_t> first_;
};

void SetOutcome(TMessageEntry& m, std::string note, bool locked, bool secured) {
    m.SpamNote = std::move(note);
    m.Locked = locked;
    m.Secured = secured;
    m.Selected = locked;
}

}  // namespace

bool MatchesRuleList(std::string_view text, const std::vector<std::string>& lines,
                     std::string& matched) {
    matched.clear();
    const std::string upperText = UpperCase(text);
    for (const std::string& line : lines) {
        if (line.empty()) continue;
        if (upperText.find(UpperCase(line)) != std::string::npos) {
            matched = line;
            return true;
        }
    }
    return false;
}

bool MatchesRuleList(std::string_view text, const TRuleList& list, std::string& matched) {
    return MatchesRuleList(text, list.Lines, matched);
}

void ClassifyMessagesWith(std::vector<TMessageEntry>& messages, const TClassifyRules& rules,
                          bool stopEmptyMsg, const TPumpCallback& pump) {
    const TRuleMatcher safeSenders(rules.SafeSenders.Lines);
    const TRuleMatcher safeSubjects(rules.SafeSubjects.Lines);
    const TRuleMatcher blockedSenders(rules.BlockedSenders.Lines);
    const TRuleMatcher blockedSubjects(rules.BlockedSubjects.Lines);
    // The pump may run nested handlers that change the lists or the records,
    // so the matchers keep their own copy of the lines and the records are
    // reached by index, checked against the current size every time.
    for (size_t i = 0; i < messages.size(); ++i) {
        TMessageEntry& m = messages[i];
        const std::string* line;
        if (stopEmptyMsg && m.FromName.empty() && m.FromAddress.empty() && m.Subject.empty()) {
            SetOutcome(m, kNoteEmpty, true, false);
        } else if ((line = safeSenders.FirstMatch(m.FromAddress)) != nullptr) {
            SetOutcome(m, "<<< Mittente sicuro: " + *line + " >>>", false, true);
        } else if ((line = safeSubjects.FirstMatch(m.Subject)) != nullptr) {
            SetOutcome(m, "<<< Oggetto sicuro: " + *line + " >>>", false, true);
        } else if ((line = blockedSenders.FirstMatch(m.FromAddress)) != nullptr) {
            SetOutcome(m, "<<< Mittente bloccato: " + *line + " >>>", true, false);
        } else if ((line = blockedSubjects.FirstMatch(m.Subject)) != nullptr) {
            SetOutcome(m, "<<< Oggetto bloccato: " + *line + " >>>", true, false);
        } else {
            SetOutcome(m, "", false, false);
        }
        if (pump) pump();
    }
}

void ClassifyMessages(std::vector<TMessageEntry>& messages, const TClassifyRules& rules,
                      const TPumpCallback& pump, const std::string& iniPath) {
    const bool stopEmptyMsg = ReadIniBool(kSectionSetup, "StopEmptyMsg", false, iniPath);
    ClassifyMessagesWith(messages, rules, stopEmptyMsg, pump);
}

}  // namespace kalmuro
