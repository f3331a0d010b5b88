// The desktop's side of files, folders and addresses.
#pragma once

#include <string>

namespace kalmuro {

// The desktop's "open" action on a web address (with a scheme) or a file or
// folder path (file-system bytes). False when the desktop refused it or the
// path does not exist. Parameters cannot be handed to a document opener;
// they are ignored.
bool OpenWithDesktop(const std::string& target, const std::string& parameters);
// OpenWithDesktop, with the program's error box when it fails.
void ShellOpenOrReport(const std::string& target);

}  // namespace kalmuro
