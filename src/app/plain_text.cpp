#include "app/plain_text.h"

#include "app/qt_text.h"
#include "mail/text.h"

namespace kalmuro {

QString DisplayText(const std::string& text) {
    QString result = Win1252ToQString(ExpandNewlines(text));
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}

QString PlainToolTip(const QString& text) {
    if (text.isEmpty()) return QString();
    // Escaping alone is not enough: an escaped text without a tag would be
    // taken as plain and its entities shown raw. The paragraph makes it rich
    // text for certain, and the escaping makes all of it literal.
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

QString NoMnemonic(const QString& text) {
    QString result = text;
    result.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return result;
}

QString NotificationText(const QString& text) {
    QString result = text;
    result.replace(QLatin1Char('<'), QChar(0x2039));  // ‹
    result.replace(QLatin1Char('>'), QChar(0x203A));  // ›
    result.replace(QLatin1Char('&'), QChar(0xFF06));  // fullwidth ampersand
    return result;
}

}  // namespace kalmuro
