// Start at login: the desktop's autostart entry for the program, a file in
// $XDG_CONFIG_HOME/autostart that the session reads when the user logs in.
// The file is the only record of the choice: the settings dialog shows
// whether it is there, and writes or removes it.
#pragma once

#include <string>
#include <vector>

namespace kalmuro {

// The entry's path ($XDG_CONFIG_HOME/autostart/<id>.desktop); empty when the
// user has no home to hold it.
std::string AutostartFilePath();

// Whether the session would start the program: the entry is there and was
// not switched off by the desktop's own settings (Hidden=true, or GNOME's
// X-GNOME-Autostart-enabled=false).
bool AutostartEnabled();

// One argument of an entry's Exec line, quoted and escaped the way desktop
// files want it. False when the argument cannot be written there safely (a
// line break or another control character, text that is not UTF-8).
bool DesktopExecArgument(const std::string& argument, std::string& quoted);

// The command that starts this program as it runs now: its own path, with
// the --home folder when one was given. With "start reduced" on in the
// settings the program then hides itself into the tray, as at every start.
std::vector<std::string> AutostartCommand();

// The entry's text for the command; false when the command cannot be
// written in an Exec line.
bool AutostartEntry(const std::vector<std::string>& command, std::string& text);

// Writes the entry for AutostartCommand() (only when its text changes) or
// removes it. Returns 0, or the errno of the failure (EINVAL when the
// command cannot be written, ENOENT without a home).
int SetAutostart(bool on);

}  // namespace kalmuro
