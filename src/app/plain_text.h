// Showing the engine's texts in widgets without letting any of them be
// read as markup or as an access key. Texts from messages, servers and files
// are untrusted: a subject "<img src='/dev/zero'>" must stay a string.
#pragma once

#include <QString>
#include <string>

class QFont;
class QWidget;

namespace kalmuro {

// An engine text for a widget: Windows-1252 decoded, its "\n" markers and
// the CR LF pairs they expand to turned into plain line breaks.
QString DisplayText(const std::string& text);
// A tool tip that shows the text as written, line breaks kept; empty for an
// empty text (no tip at all). A line wider than the screen is wrapped, at
// about eighty characters (a long text on wider lines, so that it keeps
// within the screen's height where it can).
QString PlainToolTip(const QString& text);
// Sets both the tip and, as plain text, the description a screen reader
// reads (which would otherwise be the tip's markup).
void SetPlainTip(QWidget* widget, const QString& text);
// A text for a screen reader's name: its line breaks read as blanks.
QString OneLine(const QString& text);
// The text with line breaks added so that no line is wider than the width
// in that font: at a blank where there is one, inside a word where a word
// alone is wider. Nothing is removed, and lines that fit stay as they are.
QString WrapLines(const QString& text, const QFont& font, int width);
// A caption for a button or a menu item: "&" shown, not an access key.
QString NoMnemonic(const QString& text);
// Text for a desktop notification, which some desktops read as markup: the
// characters that could open a tag or an entity are replaced by look-alikes.
QString NotificationText(const QString& text);

}  // namespace kalmuro
