#include "mail/settings.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "mail/accounts.h"
#include "mail/atomic_file.h"
#include "mail/errors.h"
#include "mail/rule_list.h"
#include "mail/text.h"
#include "mail/user_folders.h"

namespace kalmuro {

namespace {

std::string& HomeDirOverride() {
    static std::string dir;
    return dir;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view StripBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A value as every read returns it.
std::string CleanValue(std::string_view raw) {
    std::string_view v = StripBlanks(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.size() > kMaxIniValueLength) v = v.substr(0, kMaxIniValueLength);
    return std::string(v);
}

// A line break inside a written name or value would start a new line of the
// file and could plant a key of its own; it is written as a blank instead.
std::string OneLine(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c == '\r' || c == '\n') c = ' ';
    return r;
}

enum class LineKind { Other, Section, Entry };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key name, blanks stripped
    std::string_view value;  // raw value of an entry
};

ParsedLine ParseLine(std::string_view line) {
    ParsedLine p;
    std::string_view s = line;
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    if (s.empty() || s.front() == ';') return p;  // blank line or comment
    if (s.front() == '[') {
        s.remove_prefix(1);
        const size_t close = s.find(']');
        p.kind = LineKind::Section;
        p.name = StripBlanks(close == std::string_view::npos ? s : s.substr(0, close));
        return p;
    }
    const size_t eq = s.find('=');
    if (eq == std::string_view::npos) return p;
    p.kind = LineKind::Entry;
    p.name = StripBlanks(s.substr(0, eq));
    p.value = s.substr(eq + 1);
    return p;
}

// The file as a list of lines; the text between them is rebuilt with CR LF.
class IniDocument {
public:
    explicit IniDocument(const std::string& path) : path_(path) {
        std::string content;
        readError_ = ReadWholeFile(path_, content);
        if (readError_ == 0) lines_ = SplitRuleLines(content);
    }

    // [begin, end) are the lines after the header of the first section named
    // so; begin is npos when there is none.
    std::pair<size_t, size_t> Section(std::string_view name) const {
        size_t i = 0;
        for (; i < lines_.size(); ++i) {
            const ParsedLine p = ParseLine(lines_[i]);
            if (p.kind == LineKind::Section && SameText(p.name, name)) break;
        }
        if (i == lines_.size()) return {std::string::npos, std::string::npos};
        size_t end = i + 1;
        while (end < lines_.size() && ParseLine(lines_[end]).kind != LineKind::Section) ++end;
        return {i + 1, end};
    }

    // The index of the key's line in the section, or npos.
    size_t Find(std::string_view section, std::string_view key) const {
        const auto [begin, end] = Section(section);
        if (begin == std::string::npos) return std::string::npos;
        for (size_t i = begin; i < end; ++i) {
            const ParsedLine p = ParseLine(lines_[i]);
            if (p.kind == LineKind::Entry && SameText(p.name, key)) return i;
        }
        return std::string::npos;
    }

    std::string Value(size_t line) const { return CleanValue(ParseLine(lines_[line]).value); }

    // A file that exists but cannot be read (a folder, no permission) is not
    // an empty one: reading defaults from it would pass for "no accounts".
    const IniDocument& RequireReadable() const {
        if (readError_ != 0 && readError_ != ENOENT && readError_ != ENOTDIR)
            throw EFOpenError("Cannot open file \"" + path_ + "\". " + std::strerror(readError_));
        return *this;
    }

    void Set(std::string_view section, std::string_view key, std::string_view value) {
        const std::string entry = OneLine(key) + "=" + OneLine(value);
        const size_t at = Find(section, key);
        if (at != std::string::npos) {
            // Keep the key as the file spells it.
            lines_[at] = std::string(ParseLine(lines_[at]).name) + "=" + OneLine(value);
            return;
        }
        const auto [begin, end] = Section(section);
        if (begin == std::string::npos) {
            lines_.push_back('[' + OneLine(section) + ']');
            lines_.push_back(entry);
            return;
        }
        // After the section's last non-blank line, so that blank lines that
        // separate it from the next section stay where they are.
        size_t insert = end;
        while (insert > begin && StripBlanks(lines_[insert - 1]).empty()) --insert;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert), entry);
    }

    // Removes every section of that name: a second copy would otherwise come
    // to light with the old keys.
    bool Erase(std::string_view section) {
        bool changed = false;
        for (auto range = Section(section); range.first != std::string::npos;
             range = Section(section)) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range.first - 1),
                         lines_.begin() + static_cast<std::ptrdiff_t>(range.second));
            changed = true;
        }
        return changed;
    }

    int List(std::string_view section, std::vector<std::string>* names,
             std::vector<std::string>* values) const {
        if (names) names->clear();
        if (values) values->clear();
        const auto [begin, end] = Section(section);
        if (begin == std::string::npos) return 0;
        int count = 0;
        for (size_t i = begin; i < end; ++i) {
            const ParsedLine p = ParseLine(lines_[i]);
            if (p.kind != LineKind::Entry) continue;
            ++count;
            if (names) names->emplace_back(p.name);
            if (values) values->push_back(CleanValue(p.value));
        }
        return count;
    }

    // A file that exists but could not be read is never replaced: the new
    // content would hold only this write and every other setting would be lost.
    void Save() const {
        const bool unread = readError_ != 0 && readError_ != ENOENT && readError_ != ENOTDIR;
        if (unread || WriteFileAtomically(path_, JoinRuleLines(lines_)) != 0)
            throw EIniWriteError("Unable to write to " + path_);
    }

private:
    std::string path_;
    std::vector<std::string> lines_;
    int readError_ = 0;
};

std::string FileOrDefault(const std::string& path) { return path.empty() ? IniFileName() : path; }

}  // namespace

void SetHomeDir(const std::string& dir) { HomeDirOverride() = dir; }

std::string AppDir() {
    const std::string& home = HomeDirOverride();
    if (home.empty()) return DefaultFolders().Config;
    return home.back() == '/' ? home : home + "/";
}

bool HomeDirGiven() { return !HomeDirOverride().empty(); }

std::string DataDir() { return HomeDirGiven() ? AppDir() : DefaultFolders().Data; }

std::string IniFileName() { return AppDir() + kIniBaseName; }

std::string IncludeBackslash(const std::string& path) {
    // Paths are built before the settings are loaded; an unreadable file is
    // reported by the reads that load them, not here.
    std::string separator = kDefaultPathSeparator;
    try {
        separator = ReadIniString(kSectionMainSetup, kKeyBackSlash, kDefaultPathSeparator);
    } catch (const EFOpenError&) {
    }
    if (path.empty()) return separator;
    if (std::string(1, path.back()) != separator) return path + separator;
    return path;
}

std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& path) {
    const IniDocument doc(FileOrDefault(path));
    const size_t at = doc.RequireReadable().Find(section, key);
    return at == std::string::npos ? defaultValue : doc.Value(at);
}

int32_t ReadIniInteger(const std::string& section, const std::string& key, int32_t defaultValue,
                       const std::string& path) {
    return StrToInt(ReadIniString(section, key, IntToStr(defaultValue), path));
}

bool ReadIniBool(const std::string& section, const std::string& key, bool defaultValue,
                 const std::string& path) {
    const int32_t v = StrToInt(ReadIniString(section, key, defaultValue ? "1" : "0", path));
    return (static_cast<uint32_t>(v) & 0xFFu) != 0;
}

void WriteIniString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& path) {
    IniDocument doc(FileOrDefault(path));
    doc.Set(section, key, value);
    doc.Save();
}

void WriteIniInteger(const std::string& section, const std::string& key, int32_t value,
                     const std::string& path) {
    WriteIniString(section, key, IntToStr(value), path);
}

void WriteIniBool(const std::string& section, const std::string& key, bool value,
                  const std::string& path) {
    WriteIniString(section, key, value ? "1" : "0", path);
}

void EraseIniSection(const std::string& section, const std::string& path) {
    IniDocument doc(FileOrDefault(path));
    if (doc.Erase(section)) doc.Save();
}

void ReplaceIniSection(const std::string& section,
                       const std::vector<std::pair<std::string, std::string>>& entries,
                       const std::string& path) {
    IniDocument doc(FileOrDefault(path));
    const bool erased = doc.Erase(section);
    for (const auto& [key, value] : entries) doc.Set(section, key, value);
    if (erased || !entries.empty()) doc.Save();
}

int ReadIniSection(const std::string& section, std::vector<std::string>* names,
                   std::vector<std::string>* values, const std::string& path) {
    return IniDocument(FileOrDefault(path)).RequireReadable().List(section, names, values);
}

std::string ReadIniScrambled(const std::string& section, const std::string& key,
                             const std::string& defaultValue, int32_t scrambleKey,
                             const std::string& path) {
    return UnscrambleText(scrambleKey, HexDecode(ReadIniString(section, key, defaultValue, path)));
}

void WriteIniScrambled(const std::string& section, const std::string& key, const std::string& value,
                       int32_t scrambleKey, const std::string& path) {
    WriteIniString(section, key, HexEncode(ScrambleText(scrambleKey, value)), path);
}

}  // namespace kalmuro
