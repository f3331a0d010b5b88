#include "engine/check_report.h"

#include <array>

#include "mail/text.h"

namespace kalmuro {

namespace {

constexpr bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

std::string Blanked(std::string_view text) {
    std::string clean(text);
    for (char& c : clean)
        if (IsControl(static_cast<unsigned char>(c))) c = ' ';
    return clean;
}

// The bytes a terminal line cannot take as they are: control characters
// and everything beyond ASCII.
constexpr std::array<bool, 256> MakeSpecial() {
    std::array<bool, 256> special{};
    for (int c = 0; c < 256; ++c) special[c] = c >= 0x80 || IsControl(static_cast<unsigned char>(c));
    return special;
}
constexpr std::array<bool, 256> kSpecial = MakeSpecial();

// TerminalText appended to out, without the two copies between; every row
// of a check goes through here.
void AppendTerminalText(std::string& out, std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        size_t run = i;
        while (run < text.size() && !kSpecial[static_cast<unsigned char>(text[run])]) ++run;
        out.append(text, i, run - i);
        if (run == text.size()) break;
        const unsigned char c = static_cast<unsigned char>(text[run]);
        if (IsControl(c))
            out += ' ';
        else
            AppendCp1252ToUtf8(out, text.substr(run, 1));
        i = run + 1;
    }
}

}  // namespace

std::string TerminalText(std::string_view text) { return Cp1252ToUtf8(Blanked(text)); }

std::string CheckRowLine(const TMessageEntry& entry, const TMessageRow& row) {
    // Room for the usual line at once; a character beyond ASCII may take
    // up to three bytes.
    size_t room = 32 + entry.SpamNote.size();
    for (const std::string& column : row.Columns) room += column.size() + 1;
    std::string line;
    line.reserve(room + room / 4);
    line += IntToStr(entry.AccountIndex);
    line += '\t';
    line += IntToStr(entry.MsgNumber);
    line += row.Checked ? "\tX" : "\t-";
    line += entry.Locked ? "\tB" : entry.Secured ? "\tS" : "\t-";
    for (const std::string& column : row.Columns) {
        line += '\t';
        AppendTerminalText(line, column);
    }
    line += '\t';
    AppendTerminalText(line, entry.SpamNote);
    return line;
}

std::string MsgBoxLine(std::string_view title, std::string_view message) {
    std::string flat;
    flat.reserve(message.size());
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\\' && i + 1 < message.size() &&
            (message[i + 1] == 'n' || message[i + 1] == 'N')) {
            flat += ' ';
            ++i;
        } else {
            flat += message[i];
        }
    }
    return TerminalText(title) + ": " + Cp1252ToUtf8(TrimRight(Blanked(flat)));
}

}  // namespace kalmuro
