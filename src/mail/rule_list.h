// One of the four sender and subject rule lists: ordered lines of text and the
// file they live in. Lines are Windows-1252 bytes, kept exactly as read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kalmuro {

struct TRuleList {
    std::vector<std::string> Lines;
    std::string FileName;  // full path

    // Empties Lines and fills them from FileName. Lines end at CR LF, LF or a
    // lone CR; a last line without terminator counts; empty lines are kept;
    // nothing is trimmed. Returns false (Lines empty, nothing created) when
    // the file does not exist. Raises EFOpenError
    // ("Cannot open file \"<path>\". <reason>") when it exists but cannot be read.
    bool LoadFromFile();
    // Writes every line followed by CR LF, replacing the file as a whole
    // (through a temporary file and a rename, so a failure leaves the old file).
    // Raises EFCreateError ("Cannot create file \"<path>\". <reason>").
    void SaveToFile() const;
};

// The line splitting of LoadFromFile.
std::vector<std::string> SplitRuleLines(std::string_view content);
// The file content SaveToFile writes.
std::string JoinRuleLines(const std::vector<std::string>& lines);

}  // namespace kalmuro
