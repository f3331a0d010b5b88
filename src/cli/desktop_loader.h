// Opens the window through the desktop module, loaded only now: the
// commands that need no window never load the toolkit.
#pragma once

#include <string>

namespace kalmuro {

// The module's path: beside the program when it is there (the build tree, a
// copy kept in a folder of its own), else in the folder it was installed to.
std::string DesktopModulePath();

// Runs the window (as RunDesktop) from the module; when the module cannot
// be loaded, says why in one line on stderr and returns 2.
int RunDesktopModule(int argc, char** argv, const std::string& homeDir);

}  // namespace kalmuro
