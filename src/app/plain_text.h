// Showing the engine's texts in widgets without letting any of them be
// read as markup or as an access key. Texts from messages, servers and files
// are untrusted: a subject "<img src='/dev/zero'>" must stay a string.
#pragma once

#include <QString>
#include <string>

namespace kalmuro {

// An engine text for a widget: Windows-1252 decoded, its "\n" markers and
// the CR LF pairs they expand to turned into plain line breaks.
QString DisplayText(const std::string& text);
// A tool tip that shows the text as written, line breaks kept; empty for an
// empty text (no tip at all).
QString PlainToolTip(const QString& text);
// A caption for a button or a menu item: "&" shown, not an access key.
QString NoMnemonic(const QString& text);
// Text for a desktop notification, which some desktops read as markup: the
// characters that could open a tag or an entity are replaced by look-alikes.
QString NotificationText(const QString& text);

}  // namespace kalmuro
