#include "app/plain_text.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QTextLayout>
#include <QToolTip>
#include <QWidget>
#include <algorithm>
#include <cmath>

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

QString WrapLines(const QString& text, const QFont& font, int width) {
    const QFontMetricsF metrics(font);
    // A blank left at the end of a broken line still takes its room.
    const qreal room = std::max<qreal>(1, width - metrics.horizontalAdvance(QLatin1Char(' ')));
    QStringList out;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (metrics.horizontalAdvance(line) <= width) {
            out << line;
            continue;
        }
        QTextLayout layout(line, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine row = layout.createLine(); row.isValid(); row = layout.createLine()) {
            row.setLineWidth(room);
            out << line.mid(row.textStart(), row.textLength());
        }
        layout.endLayout();
    }
    return out.join(QLatin1Char('\n'));
}

QString PlainToolTip(const QString& text) {
    if (text.isEmpty()) return QString();
    // A tip is drawn without wrapping (its blanks are kept as written), so
    // a line that would run off the screen is broken here: at eighty
    // characters, or wider for a text that would otherwise be taller than
    // most of the screen. Lines that fit stay whole.
    const QFont font = QToolTip::font();
    const QFontMetricsF metrics(font);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available =
        screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QStringList lines = text.split(QLatin1Char('\n'));
    qreal widest = 0, total = 0;
    for (const QString& line : lines) {
        const qreal advance = metrics.horizontalAdvance(line);
        widest = std::max(widest, advance);
        total += advance;
    }
    const qreal base = metrics.averageCharWidth() * 80;
    QString shown = text;
    if (widest > available.width()) {
        const qreal tall = total * metrics.lineSpacing() / (available.height() * 0.75);
        const qreal width = std::clamp(tall, base, std::max(base, available.width() * 0.75));
        shown = WrapLines(text, font, static_cast<int>(std::floor(width)));
    }
    // Escaping alone is not enough: an escaped text without a tag would be
    // taken as plain and its entities shown raw. The paragraph makes it rich
    // text for certain, and the escaping makes all of it literal.
    return QStringLiteral("<p style='white-space:pre'>") + shown.toHtmlEscaped() +
           QStringLiteral("</p>");
}

void SetPlainTip(QWidget* widget, const QString& text) {
    widget->setToolTip(PlainToolTip(text));
    widget->setAccessibleDescription(OneLine(text));
}

QString OneLine(const QString& text) {
    QString result = text;
    result.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return result;
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
