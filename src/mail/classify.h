// The anti-spam classification of fetched messages against the four rule lists.
#pragma once

#include <functional>
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

// Rewrites SpamNote, Locked, Secured and Selected of every record: empty
// message (when stopEmptyMsg), safe sender, safe subject, blocked sender,
// blocked subject, in that order of precedence; Selected equals Locked after.
void ClassifyMessagesWith(std::vector<TMessageEntry>& messages, const TClassifyRules& rules,
                          bool stopEmptyMsg, const TPumpCallback& pump = {});
// The same, with "StopEmptyMsg" read from section "Setup" of the settings file
// first; a conversion error there leaves every record unchanged.
void ClassifyMessages(std::vector<TMessageEntry>& messages, const TClassifyRules& rules,
                      const TPumpCallback& pump = {}, const std::string& iniPath = "");

}  // namespace kalmuro
