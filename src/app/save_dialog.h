// The file-save dialog of a message: the desktop's own file dialog set up
// from the engine's request. It never asks about replacing a file, since the
// engine asks in its own words; it refuses a folder that does not exist and
// a file that may not be written, as the user would expect of it.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "engine/screen.h"

class QWidget;

namespace kalmuro {

// "description|pattern" as a file dialog shows it: "description (pattern)".
QString FileDialogFilter(const std::string& filter);

// Why a chosen path cannot be saved to, in the user's words; empty when it
// can.
QString SaveTargetProblem(const QString& path);

// Shows the dialog modally over the owner. False when the user cancelled;
// otherwise chosen is the full path (file-system bytes), with "." and the
// default extension added to a name typed without one. A problem with the
// chosen path is shown through showError and the dialog opens again.
bool ExecuteSaveDialog(QWidget* owner, const TSaveDialogRequest& request, std::string& chosen,
                       const std::function<void(const std::string&)>& showError);

}  // namespace kalmuro
