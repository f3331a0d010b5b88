#include "engine/check_report.h"

#include "mail/text.h"

namespace kalmuro {

namespace {

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

std::string Blanked(std::string_view text) {
    std::string clean(text);
    for (char& c : clean)
        if (IsControl(static_cast<unsigned char>(c))) c = ' ';
    return clean;
}

}  // namespace

std::string TerminalText(std::string_view text) { return Cp1252ToUtf8(Blanked(text)); }

std::string CheckRowLine(const TMessageEntry& entry, const TMessageRow& row) {
    std::string line = IntToStr(entry.AccountIndex);
    line += '\t';
    line += IntToStr(entry.MsgNumber);
    line += row.Checked ? "\tX" : "\t-";
    line += entry.Locked ? "\tB" : entry.Secured ? "\tS" : "\t-";
    for (const std::string& column : row.Columns) {
        line += '\t';
        line += TerminalText(column);
    }
    line += '\t';
    line += TerminalText(entry.SpamNote);
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
