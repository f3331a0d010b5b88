// The headless check's report: the rows and the message boxes as lines of
// UTF-8 text for a terminal or a script.
#pragma once

#include <string>
#include <string_view>

#include "engine/message_list.h"
#include "mail/message_entry.h"

namespace kalmuro {

// Windows-1252 in, UTF-8 out. Every control character (TAB, CR and LF
// included, and the five bytes Windows-1252 leaves undefined, which would
// come out as C1 controls) becomes a blank: header texts come from strangers
// and must neither break a line nor steer the terminal.
std::string TerminalText(std::string_view text);

// One row as nine TAB-separated fields: account index, message number, "X"
// when ticked or "-", "B" when blocked, "S" when safe or "-", the four column
// texts and the classification note.
std::string CheckRowLine(const TMessageEntry& entry, const TMessageRow& row);

// A message box on one line: the title, ": " and the message, each "\n"
// marker (either case) a blank, trailing blanks removed.
std::string MsgBoxLine(std::string_view title, std::string_view message);

}  // namespace kalmuro
