// The desktop program from start to end: the application, the splash, the
// main window and the event loop.
#pragma once

#include <string>

namespace kalmuro {

// Whether there is a display to open a window on: an X11 or Wayland display
// named in the environment, or a Qt platform chosen explicitly.
bool DisplayAvailable();

// Runs the program with the window; returns the exit status. Without a
// display it says so in one line on stderr and returns 2. homeDir empty:
// the folder already set.
int RunDesktop(int argc, char** argv, const std::string& homeDir);

}  // namespace kalmuro
