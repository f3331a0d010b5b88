// The anti-spam classification of fetched messages against the four rule lists.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mail/message_entry.h"
#include "mail/rule_list.h"

namespace kalmuro {

// The status text shown while a classification runs.
inline constexpr const char* kClassifyStatus = "Controllo Anti-Spamming...";

// True when some non-empty line of lines, upper-cased (a-z only), occurs in the
// upper-cased text; matched receives the first such line in list order as
// written in the list, or the empty text.
bool MatchesRuleList(std::string_view text, const std::vector<std::string>& lines,
                     std::string& matched);
bool MatchesRuleList(std::string_view text, const TRuleList& list, std::string& matched);

struct TClassifyRules {
    const TRuleList& BlockedSenders;
    const TRuleList& SafeSenders;
    const TRuleList& BlockedSubjects;
    const TRuleList& SafeSubjects;
};

// Called between records so that a window can stay responsive.
using TPumpCallback = std::function<void()>;

// The lines of the four lists, copied.
struct TRuleLines {
    std::vector<std::string> BlockedSenders, SafeSenders, BlockedSubjects, SafeSubjects;
};

// The four lists made ready to classify many records with, from copies of
// their lines: it takes a while on long lists, and may therefore be built
// on another thread while the lists themselves stay in use.
class TPreparedRules {
public:
    explicit TPreparedRules(TRuleLines lines);
    explicit TPreparedRules(const TClassifyRules& rules);
    TPreparedRules(TPreparedRules&&) noexcept;
    TPreparedRules& operator=(TPreparedRules&&) noexcept;
    ~TPreparedRules();

    // Whether the lists it was built from had exactly these lines.
    bool BuiltFrom(const TClassifyRules& rules) const;
    // As ClassifyMessagesWith with the lists it was built from.
    void Classify(std::vector<TMessageEntry>& messages, bool stopEmptyMsg,
                  const TPumpCallback& pump = {}) const;

private:
    struct TMatchers;
    std::unique_ptr<TMatchers> FMatchers;
};

// Rewrites SpamNote, Locked, Secured and Selected of every record: empty
// message (when stopEmptyMsg), safe sender, safe subject, blocked sender,
// blocked subject, in that order of precedence; Selected equals Locked after.
void ClassifyMessagesWith(std::vector<TMessageEntry>& messages, const TClassifyRules& rules,
                          bool stopEmptyMsg, const TPumpCallback& pump = {});
// The same, with "StopEmptyMsg" read from section "Setup" of the settings file
// first; a conversion error there leaves every record unchanged. Prepared
// rules are used when they were built from the lists as they are now.
void ClassifyMessages(std::vector<TMessageEntry>& messages, const TClassifyRules& rules,
                      const TPumpCallback& pump = {}, const std::string& iniPath = "",
                      const TPreparedRules* prepared = nullptr);

}  // namespace kalmuro
