// The one crossing between the engine's Windows-1252 bytes and QString.
// Every byte has a character and back, so a text that goes through both
// functions comes out as it went in.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace kalmuro {

QString Win1252ToQString(std::string_view text);
// A character Windows-1252 cannot hold becomes '?'.
std::string QStringToWin1252(const QString& text);

}  // namespace kalmuro
