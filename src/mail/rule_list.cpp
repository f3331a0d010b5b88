#include "mail/rule_list.h"

#include <cerrno>
#include <cstring>

#include "mail/atomic_file.h"
#include "mail/errors.h"
#include "mail/text.h"

namespace kalmuro {

std::vector<std::string> SplitRuleLines(std::string_view content) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c != '\r' && c != '\n') continue;
        lines.emplace_back(content.substr(start, i - start));
        if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < content.size()) lines.emplace_back(content.substr(start));
    return lines;
}

std::string JoinRuleLines(const std::vector<std::string>& lines) { return JoinLinesCrLf(lines); }

bool TRuleList::LoadFromFile() {
    Lines.clear();
    std::string content;
    const int error = ReadWholeFile(FileName, content);
    if (error == ENOENT || error == ENOTDIR) return false;  // no such file
    if (error != 0)
        throw EFOpenError("Cannot open file \"" + FileName + "\". " + std::strerror(error));
    Lines = SplitRuleLines(content);
    return true;
}

void TRuleList::SaveToFile() const {
    const int error = WriteFileAtomically(FileName, JoinRuleLines(Lines));
    if (error != 0)
        throw EFCreateError("Cannot create file \"" + FileName + "\". " + std::strerror(error));
}

}  // namespace kalmuro
