#include "mail/classify.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <memory>

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
// The automaton is a trie of the lines with fallback links, its edges in one
// hash table: its size follows the lists' length alone, whatever bytes they
// hold, so building it costs little next to the check it serves.
// Very large lists fall back to scanning the upper-cased lines one by one.
class TRuleMatcher {
public:
    explicit TRuleMatcher(std::vector<std::string> lines) : lines_(std::move(lines)) {
        Prepare(lines_);
    }

    const std::vector<std::string>& Lines() const { return lines_; }

private:
    void Prepare(const std::vector<std::string>& lines) {
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
        classes_ = static_cast<size_t>(classes);
        if (total > kMaxChars) {
            upper_.reserve(lines.size());
            for (const std::string& line : lines) upper_.push_back(UpperCase(line));
            scan_ = true;
            return;
        }
        Build(lines, total);
    }

public:
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
            const uint32_t cls = classOf_[static_cast<unsigned char>(ch)];
            if (cls == 0) {  // in no line: every partial match ends here
                state = 0;
                continue;
            }
            state = Next(state, cls);
            if (first_[static_cast<size_t>(state)] < best) {
                best = first_[static_cast<size_t>(state)];
                if (best == 0) break;
            }
        }
        return best == kNone ? -1 : best;
    }

private:
    // Nodes are numbered below 2^24, so that a node and a class make one key.
    static constexpr size_t kMaxChars = (size_t{1} << 24) - 2;
    static constexpr int32_t kNone = INT32_MAX;
    static constexpr uint32_t kEmptyKey = UINT32_MAX;
    // Room for the rows of the states visited: 4 MB a list at the most.
    static constexpr size_t kMaxRowCells = size_t{1} << 20;

    struct TEdge {
        uint32_t Key = kEmptyKey;  // parent << 8 | class
        int32_t Child = -1;
    };

    static unsigned char Fold(unsigned char c) {
        return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 'a' + 'A') : c;
    }

    size_t Slot(uint32_t key) const { return (key * 0x9E3779B1u) >> shift_; }

    // The state after `state` reads a byte of class cls. A state gets the
    // full row of its moves at its first visit, so that every later visit
    // costs one look-up a byte; once the rows fill their room, the trie's
    // edges and fallbacks are walked instead.
    int32_t Next(int32_t state, uint32_t cls) const {
        int32_t row = rowOf_[static_cast<size_t>(state)];
        if (row < 0) row = MakeRow(state);
        if (row >= 0) return rows_[static_cast<size_t>(row) * classes_ + cls];
        for (;;) {
            const int32_t child = Child(state, cls);
            if (child >= 0) return child;
            if (state == 0) return 0;
            state = fail_[static_cast<size_t>(state)];
        }
    }

    // Makes the row of state and of the fallbacks it copies from, the
    // shallowest first; -1 when there is no more room.
    int32_t MakeRow(int32_t state) const {
        chain_.clear();
        for (int32_t u = state; rowOf_[static_cast<size_t>(u)] < 0;
             u = fail_[static_cast<size_t>(u)]) {
            chain_.push_back(u);
            if (u == 0) break;
        }
        for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
            const int32_t u = *it;
            if (rows_.size() + classes_ > kMaxRowCells) return -1;
            const size_t at = rows_.size();
            rows_.resize(at + classes_, 0);
            // The root has no fallback: what it lacks leads back to itself.
            const size_t fail = static_cast<size_t>(fail_[static_cast<size_t>(u)]);
            const int32_t fallbackRow = u == 0 ? 0 : rowOf_[fail];
            const size_t fallback = static_cast<size_t>(fallbackRow) * classes_;
            for (size_t c = 1; c < classes_; ++c) {
                const int32_t child = Child(u, static_cast<uint32_t>(c));
                rows_[at + c] = child >= 0 ? child : u == 0 ? 0 : rows_[fallback + c];
            }
            rowOf_[static_cast<size_t>(u)] = static_cast<int32_t>(at / classes_);
        }
        return rowOf_[static_cast<size_t>(state)];
    }

    int32_t Child(int32_t node, uint32_t cls) const {
        const uint32_t key = static_cast<uint32_t>(node) << 8 | cls;
        for (size_t i = Slot(key);; i = (i + 1) & mask_) {
            const TEdge& e = edges_[i];
            if (e.Key == key) return e.Child;
            if (e.Key == kEmptyKey) return -1;
        }
    }

    // The child of node by cls, made when missing.
    int32_t Walk(int32_t node, uint32_t cls) {
        const uint32_t key = static_cast<uint32_t>(node) << 8 | cls;
        for (size_t i = Slot(key);; i = (i + 1) & mask_) {
            TEdge& e = edges_[i];
            if (e.Key == key) return e.Child;
            if (e.Key != kEmptyKey) continue;
            e.Key = key;
            e.Child = static_cast<int32_t>(first_.size());
            parent_.push_back(node);
            class_.push_back(static_cast<uint8_t>(cls));
            depth_.push_back(depth_[static_cast<size_t>(node)] + 1);
            first_.push_back(kNone);
            return e.Child;
        }
    }

    void Build(const std::vector<std::string>& lines, size_t total) {
        // A node per character at most, and the root; the edge table at most
        // half full, so that a look-up ends after a probe or two.
        int bits = 4;
        while ((size_t{1} << bits) < 2 * (total + 1)) ++bits;
        edges_.assign(size_t{1} << bits, TEdge{});
        mask_ = (size_t{1} << bits) - 1;
        shift_ = 32 - bits;
        parent_.reserve(total + 1);
        class_.reserve(total + 1);
        depth_.reserve(total + 1);
        first_.reserve(total + 1);
        parent_.push_back(0);
        class_.push_back(0);
        depth_.push_back(0);
        first_.push_back(kNone);
        size_t maxDepth = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].empty()) continue;  // an empty line matches nothing
            int32_t node = 0;
            for (char ch : lines[i]) node = Walk(node, classOf_[static_cast<unsigned char>(ch)]);
            first_[static_cast<size_t>(node)] =
                std::min(first_[static_cast<size_t>(node)], static_cast<int32_t>(i));
            maxDepth = std::max(maxDepth, lines[i].size());
        }
        // Nodes by depth: a node's fallback is shallower and therefore done.
        const size_t nodes = first_.size();
        std::vector<int32_t> byDepth(nodes);
        std::vector<size_t> start(maxDepth + 2, 0);
        for (size_t v = 0; v < nodes; ++v) ++start[static_cast<size_t>(depth_[v]) + 1];
        for (size_t d = 1; d < start.size(); ++d) start[d] += start[d - 1];
        for (size_t v = 0; v < nodes; ++v)
            byDepth[start[static_cast<size_t>(depth_[v])]++] = static_cast<int32_t>(v);
        fail_.assign(nodes, 0);
        for (const int32_t v : byDepth) {
            const size_t u = static_cast<size_t>(v);
            if (depth_[u] <= 1) continue;  // the root and its children fall back to the root
            const uint32_t cls = class_[u];
            int32_t f = fail_[static_cast<size_t>(parent_[u])];
            int32_t target;
            while ((target = Child(f, cls)) < 0 && f != 0) f = fail_[static_cast<size_t>(f)];
            fail_[u] = target < 0 ? 0 : target;
            // Every line ending at the fallback state also ends here.
            first_[u] = std::min(first_[u], first_[static_cast<size_t>(fail_[u])]);
        }
        rowOf_.assign(nodes, -1);
        // Only the fallbacks and the first lines are needed to match.
        std::vector<int32_t>().swap(parent_);
        std::vector<uint8_t>().swap(class_);
        std::vector<int32_t>().swap(depth_);
    }

    std::vector<std::string> lines_;
    std::array<uint8_t, 256> classOf_{};
    bool scan_ = false;
    std::vector<std::string> upper_;
    std::vector<TEdge> edges_;
    size_t mask_ = 0;
    int shift_ = 0;
    std::vector<int32_t> parent_;
    std::vector<uint8_t> class_;
    std::vector<int32_t> depth_;
    std::vector<int32_t> fail_;
    std::vector<int32_t> first_;
    // The rows made so far (classes_ cells each) and each state's row, -1
    // for none yet: filled in as texts are matched, by one thread at a time.
    size_t classes_ = 1;
    mutable std::vector<int32_t> rowOf_;
    mutable std::vector<int32_t> rows_;
    mutable std::vector<int32_t> chain_;
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

struct TPreparedRules::TMatchers {
    TRuleMatcher SafeSenders, SafeSubjects, BlockedSenders, BlockedSubjects;
};

TPreparedRules::TPreparedRules(TRuleLines lines)
    : FMatchers(std::make_unique<TMatchers>(TMatchers{
          TRuleMatcher(lines.SafeSenders), TRuleMatcher(lines.SafeSubjects),
          TRuleMatcher(lines.BlockedSenders), TRuleMatcher(lines.BlockedSubjects)})) {}

TPreparedRules::TPreparedRules(const TClassifyRules& rules)
    : TPreparedRules(TRuleLines{rules.BlockedSenders.Lines, rules.SafeSenders.Lines,
                                rules.BlockedSubjects.Lines, rules.SafeSubjects.Lines}) {}

TPreparedRules::TPreparedRules(TPreparedRules&&) noexcept = default;
TPreparedRules& TPreparedRules::operator=(TPreparedRules&&) noexcept = default;
TPreparedRules::~TPreparedRules() = default;

bool TPreparedRules::BuiltFrom(const TClassifyRules& rules) const {
    const TMatchers& m = *FMatchers;
    return m.BlockedSenders.Lines() == rules.BlockedSenders.Lines &&
           m.SafeSenders.Lines() == rules.SafeSenders.Lines &&
           m.BlockedSubjects.Lines() == rules.BlockedSubjects.Lines &&
           m.SafeSubjects.Lines() == rules.SafeSubjects.Lines;
}

void TPreparedRules::Classify(std::vector<TMessageEntry>& messages, bool stopEmptyMsg,
                              const TPumpCallback& pump) const {
    const TMatchers& rules = *FMatchers;
    // The pump may run nested handlers that change the lists or the records,
    // so the matchers keep their own copy of the lines and the records are
    // reached by index, checked against the current size every time.
    for (size_t i = 0; i < messages.size(); ++i) {
        TMessageEntry& m = messages[i];
        const std::string* line;
        if (stopEmptyMsg && m.FromName.empty() && m.FromAddress.empty() && m.Subject.empty()) {
            SetOutcome(m, kNoteEmpty, true, false);
        } else if ((line = rules.SafeSenders.FirstMatch(m.FromAddress)) != nullptr) {
            SetOutcome(m, "<<< Mittente sicuro: " + *line + " >>>", false, true);
        } else if ((line = rules.SafeSubjects.FirstMatch(m.Subject)) != nullptr) {
            SetOutcome(m, "<<< Oggetto sicuro: " + *line + " >>>", false, true);
        } else if ((line = rules.BlockedSenders.FirstMatch(m.FromAddress)) != nullptr) {
            SetOutcome(m, "<<< Mittente bloccato: " + *line + " >>>", true, false);
        } else if ((line = rules.BlockedSubjects.FirstMatch(m.Subject)) != nullptr) {
            SetOutcome(m, "<<< Oggetto bloccato: " + *line + " >>>", true, false);
        } else {
            SetOutcome(m, "", false, false);
        }
        if (pump) pump();
    }
}

void ClassifyMessagesWith(std::vector<TMessageEntry>& messages, const TClassifyRules& rules,
                          bool stopEmptyMsg, const TPumpCallback& pump) {
    TPreparedRules(rules).Classify(messages, stopEmptyMsg, pump);
}

void ClassifyMessages(std::vector<TMessageEntry>& messages, const TClassifyRules& rules,
                      const TPumpCallback& pump, const std::string& iniPath,
                      const TPreparedRules* prepared) {
    const bool stopEmptyMsg = ReadIniBool(kSectionSetup, "StopEmptyMsg", false, iniPath);
    if (prepared != nullptr && prepared->BuiltFrom(rules))
        prepared->Classify(messages, stopEmptyMsg, pump);
    else
        ClassifyMessagesWith(messages, rules, stopEmptyMsg, pump);
}

}  // namespace kalmuro
