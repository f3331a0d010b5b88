#include "app/form_message.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>
#include <string_view>

#include "app/message_text_access.h"
#include "app/qt_text.h"

namespace kalmuro {

namespace {

constexpr int kMargin = 3;
constexpr int kTabWidth = 8;
constexpr char kControlMark = '\xB7';  // ·
constexpr int kCaretWidth = 2;

bool NeedsExpanding(std::string_view line) {
    return std::any_of(line.begin(), line.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 32 || b == 127;
    });
}

std::string Expanded(std::string_view line) {
    std::string out;
    out.reserve(line.size() + 16);
    for (char c : line) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\t')
            out.append(kTabWidth - out.size() % kTabWidth, ' ');
        else
            out += (b < 32 || b == 127) ? kControlMark : c;
    }
    return out;
}

// Columns lie whole pixels apart: a font whose advance has a fraction is
// drawn with the fraction taken off every character, or the glyphs of a
// long line would drift away from the caret and the selection under them.
QFont WholePixelPitch(QFont font) {
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    const qreal advance = QFontMetricsF(font).horizontalAdvance(QString(10, QLatin1Char('M'))) / 10;
    font.setLetterSpacing(QFont::AbsoluteSpacing,
                          std::max<qreal>(1, std::round(advance)) - advance);
    return font;
}

}  // namespace

TMessageTextView::TMessageTextView(QWidget* parent) : QAbstractScrollArea(parent) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    setFont(WholePixelPitch(font));
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    InstallMessageTextAccessibility();
}

void TMessageTextView::SetText(const std::string& text) {
    // A screen reader is told what went and what came; only then is the
    // old text worth turning into characters.
    const bool tell = AccessibilityListening();
    const QString oldText = tell ? TextRange(0, CharacterCount()) : QString();
    FText = text;
    FLines.clear();
    FShown.clear();
    FMaxColumns = 0;
    size_t start = 0, offset = 0;
    const size_t size = FText.size();
    while (start < size) {
        size_t end = start;
        while (end < size && FText[end] != '\r' && FText[end] != '\n') ++end;
        FLines.push_back({start, end - start, offset});
        offset += end - start + 1;
        if (end + 1 < size && FText[end] == '\r' && FText[end + 1] == '\n') ++end;
        start = end + 1;
    }
    for (int i = 0; i < LineCount(); ++i) {
        const std::string_view line = Line(i);
        if (NeedsExpanding(line)) FShown.emplace(i, Expanded(line));
        FMaxColumns = std::max(FMaxColumns, static_cast<int>(Shown(i).size()));
    }
    FAnchor = FCursor = TTextPos{};
    FGoalColumn = -1;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    UpdateScrollBars();
    viewport()->update();
    if (tell) {
        QAccessibleTextUpdateEvent event(this, 0, oldText, TextRange(0, CharacterCount()));
        TellAccessibility(event);
        QAccessibleTextCursorEvent caret(this, 0);
        TellAccessibility(caret);
    }
}

std::string_view TMessageTextView::Line(int line) const {
    const TSpan& span = FLines.at(static_cast<size_t>(line));
    return std::string_view(FText).substr(span.Start, span.Length);
}

std::string_view TMessageTextView::Shown(int line) const {
    const auto shown = FShown.find(line);
    return shown != FShown.end() ? std::string_view(shown->second) : Line(line);
}

QString TMessageTextView::LineText(int line) const { return Win1252ToQString(Line(line)); }

QString TMessageTextView::ShownLineText(int line) const {
    if (line < 0 || line >= LineCount()) return QString();
    return Win1252ToQString(Shown(line));
}

int TMessageTextView::LineHeight() const { return std::max(1, fontMetrics().lineSpacing()); }

int TMessageTextView::CharWidth() const {
    return std::max(
        1, qRound(QFontMetricsF(font()).horizontalAdvance(QString(10, QLatin1Char('M'))) / 10));
}

int TMessageTextView::VisibleLines() const {
    return std::max(1, (viewport()->height() - kMargin) / LineHeight());
}

int TMessageTextView::FirstLine() const { return verticalScrollBar()->value(); }

int TMessageTextView::FirstColumn() const { return horizontalScrollBar()->value(); }

void TMessageTextView::UpdateScrollBars() {
    const int visibleLines = VisibleLines();
    const int visibleColumns = std::max(1, (viewport()->width() - 2 * kMargin) / CharWidth());
    verticalScrollBar()->setRange(0, std::max(0, LineCount() - visibleLines));
    verticalScrollBar()->setPageStep(visibleLines);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setRange(0, std::max(0, FMaxColumns - visibleColumns + 1));
    horizontalScrollBar()->setPageStep(visibleColumns);
    horizontalScrollBar()->setSingleStep(1);
}

void TMessageTextView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
}

void TMessageTextView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() != QEvent::FontChange) return;
    const QFont whole = WholePixelPitch(font());
    if (whole.letterSpacing() != font().letterSpacing())
        setFont(whole);  // comes back here once more
    else
        UpdateScrollBars();
}

// The caret shows only while the view has the keyboard.
void TMessageTextView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TMessageTextView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TMessageTextView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QPalette& colors = palette();
    painter.fillRect(viewport()->rect(), colors.color(QPalette::Button));
    painter.setFont(font());
    const int lineHeight = LineHeight(), charWidth = CharWidth();
    const int ascent = fontMetrics().ascent();
    const int first = FirstLine(), firstColumn = FirstColumn();
    const int rows = viewport()->height() / lineHeight + 2;
    const int columns = viewport()->width() / charWidth + 2;
    const TTextPos from = std::min(FAnchor, FCursor), to = std::max(FAnchor, FCursor);
    for (int i = 0; i < rows && first + i < LineCount(); ++i) {
        const int line = first + i;
        const std::string_view text = Shown(line);
        const int top = kMargin + i * lineHeight;
        QString shown;
        if (firstColumn < static_cast<int>(text.size()))
            shown = Win1252ToQString(
                text.substr(static_cast<size_t>(firstColumn), static_cast<size_t>(columns)));
        painter.setPen(colors.color(QPalette::Text));
        painter.drawText(kMargin, top + ascent, shown);
        if (from == to || line < from.Line || line > to.Line) continue;
        // The selection: the line's end counts as one more column.
        const int start = line == from.Line ? from.Column : 0;
        const int end = line == to.Line ? to.Column : static_cast<int>(text.size()) + 1;
        const QRect band(kMargin + (start - firstColumn) * charWidth, top,
                         (end - start) * charWidth, lineHeight);
        painter.save();
        painter.setClipRect(band);
        painter.fillRect(band, colors.color(QPalette::Highlight));
        painter.setPen(colors.color(QPalette::HighlightedText));
        painter.drawText(kMargin, top + ascent, shown);
        painter.restore();
    }
    if (hasFocus() && FCursor.Line >= first && FCursor.Line < first + rows) {
        const QRect cell = CellRect(FCursor);
        painter.fillRect(cell.left(), cell.top(), kCaretWidth, cell.height(),
                         colors.color(QPalette::Text));
    }
}

int TMessageTextView::ShownColumn(int line, int rawColumn) const {
    if (line < 0 || line >= LineCount()) return 0;
    const std::string_view raw = Line(line);
    rawColumn = std::clamp(rawColumn, 0, static_cast<int>(raw.size()));
    if (FShown.find(line) == FShown.end()) return rawColumn;
    int column = 0;
    for (int i = 0; i < rawColumn; ++i)
        column = raw[static_cast<size_t>(i)] == '\t' ? column + kTabWidth - column % kTabWidth
                                                     : column + 1;
    return column;
}

int TMessageTextView::RawColumn(int line, int shownColumn) const {
    if (line < 0 || line >= LineCount()) return 0;
    const std::string_view raw = Line(line);
    if (FShown.find(line) == FShown.end())
        return std::clamp(shownColumn, 0, static_cast<int>(raw.size()));
    int column = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        const int next = raw[i] == '\t' ? column + kTabWidth - column % kTabWidth : column + 1;
        if (shownColumn < next) return static_cast<int>(i);
        column = next;
    }
    return static_cast<int>(raw.size());
}

int TMessageTextView::CharacterCount() const {
    if (FLines.empty()) return 0;
    const TSpan& last = FLines.back();
    return static_cast<int>(std::min<size_t>(INT_MAX, last.Offset + last.Length));
}

int TMessageTextView::LineOffset(int line) const {
    if (FLines.empty()) return 0;
    return static_cast<int>(
        FLines[static_cast<size_t>(std::clamp(line, 0, LineCount() - 1))].Offset);
}

int TMessageTextView::LineOfOffset(int offset) const {
    if (FLines.empty()) return 0;
    const auto after =
        std::upper_bound(FLines.begin(), FLines.end(), static_cast<size_t>(std::max(0, offset)),
                         [](size_t value, const TSpan& span) { return value < span.Offset; });
    return static_cast<int>(after - FLines.begin()) - 1;
}

int TMessageTextView::OffsetOf(TTextPos pos) const {
    if (FLines.empty()) return 0;
    const int line = std::clamp(pos.Line, 0, LineCount() - 1);
    return LineOffset(line) + RawColumn(line, pos.Column);
}

TTextPos TMessageTextView::PosOfOffset(int offset) const {
    if (FLines.empty()) return {};
    const int line = LineOfOffset(offset);
    return {line, ShownColumn(line, offset - LineOffset(line))};
}

QString TMessageTextView::TextRange(int start, int end) const {
    start = std::clamp(start, 0, CharacterCount());
    end = std::clamp(end, start, CharacterCount());
    if (start == end) return QString();
    QString text;
    text.reserve(end - start);
    for (int line = LineOfOffset(start); line < LineCount(); ++line) {
        const int lineStart = LineOffset(line);
        if (lineStart >= end) break;
        const std::string_view raw = Line(line);
        const int from = std::max(start, lineStart) - lineStart;
        const int to = std::min<int>(end - lineStart, static_cast<int>(raw.size()));
        if (from < to)
            text += Win1252ToQString(
                raw.substr(static_cast<size_t>(from), static_cast<size_t>(to - from)));
        // The line's break, when the range reaches past its last character.
        if (line + 1 < LineCount() && end > lineStart + static_cast<int>(raw.size()) &&
            start <= lineStart + static_cast<int>(raw.size()))
            text += QLatin1Char('\n');
    }
    return text;
}

QRect TMessageTextView::CellRect(TTextPos pos) const {
    const int charWidth = CharWidth();
    int width = 1;
    if (pos.Line >= 0 && pos.Line < LineCount()) {
        const int raw = RawColumn(pos.Line, pos.Column);
        pos.Column = ShownColumn(pos.Line, raw);
        width = std::max(1, ShownColumn(pos.Line, raw + 1) - pos.Column);
    }
    return QRect(kMargin + (pos.Column - FirstColumn()) * charWidth,
                 kMargin + (pos.Line - FirstLine()) * LineHeight(), width * charWidth,
                 LineHeight());
}

void TMessageTextView::EnsureVisible(TTextPos pos) {
    QScrollBar* lines = verticalScrollBar();
    if (pos.Line < lines->value())
        lines->setValue(pos.Line);
    else if (pos.Line >= lines->value() + VisibleLines())
        lines->setValue(pos.Line - VisibleLines() + 1);
    QScrollBar* columns = horizontalScrollBar();
    const int visibleColumns = std::max(1, (viewport()->width() - 2 * kMargin) / CharWidth());
    if (pos.Column < columns->value())
        columns->setValue(pos.Column);
    else if (pos.Column >= columns->value() + visibleColumns)
        columns->setValue(pos.Column - visibleColumns + 1);
}

TTextPos TMessageTextView::PosAt(const QPoint& point) const {
    if (FLines.empty()) return {};
    TTextPos pos;
    pos.Line = std::clamp(FirstLine() + (point.y() - kMargin) / LineHeight(), 0, LineCount() - 1);
    const int x = point.x() - kMargin + CharWidth() / 2;
    const int length = static_cast<int>(Shown(pos.Line).size());
    pos.Column = std::clamp(FirstColumn() + (x < 0 ? -1 : x / CharWidth()), 0, length);
    return pos;
}

TTextPos TMessageTextView::CharAt(const QPoint& point) const {
    if (FLines.empty()) return {};
    TTextPos pos;
    pos.Line = std::clamp(FirstLine() + (point.y() - kMargin) / LineHeight(), 0, LineCount() - 1);
    const int x = point.x() - kMargin;
    const int length = static_cast<int>(Shown(pos.Line).size());
    pos.Column = std::clamp(FirstColumn() + (x < 0 ? -1 : x / CharWidth()), 0, length);
    pos.Column = ShownColumn(pos.Line, RawColumn(pos.Line, pos.Column));
    return pos;
}

void TMessageTextView::NotifyMoved(TTextPos oldAnchor, TTextPos oldCursor) {
    viewport()->update();
    if (!AccessibilityListening()) return;
    if (oldCursor != FCursor) {
        QAccessibleTextCursorEvent caret(this, OffsetOf(FCursor));
        TellAccessibility(caret);
    }
    const bool hadSelection = oldAnchor != oldCursor, hasSelection = FAnchor != FCursor;
    if (!hadSelection && !hasSelection) return;
    if (hadSelection && hasSelection &&
        std::minmax(oldAnchor, oldCursor) == std::minmax(FAnchor, FCursor))
        return;
    const int anchor = OffsetOf(FAnchor), cursor = OffsetOf(FCursor);
    QAccessibleTextSelectionEvent selection(this, hasSelection ? std::min(anchor, cursor) : -1,
                                            hasSelection ? std::max(anchor, cursor) : -1);
    selection.setCursorPosition(cursor);
    TellAccessibility(selection);
}

void TMessageTextView::Select(TTextPos anchor, TTextPos cursor) {
    const TTextPos oldAnchor = FAnchor, oldCursor = FCursor;
    FAnchor = anchor;
    FCursor = cursor;
    NotifyMoved(oldAnchor, oldCursor);
}

void TMessageTextView::SelectAll() {
    if (FLines.empty()) return;
    Select({}, {LineCount() - 1, static_cast<int>(Shown(LineCount() - 1).size())});
}

QString TMessageTextView::SelectedText() const {
    const TTextPos from = std::min(FAnchor, FCursor), to = std::max(FAnchor, FCursor);
    if (from == to || FLines.empty()) return QString();
    std::string text;
    for (int line = from.Line; line <= to.Line && line < LineCount(); ++line) {
        const std::string_view s = Shown(line);
        const size_t start = line == from.Line ? static_cast<size_t>(from.Column) : 0;
        const size_t end = line == to.Line ? static_cast<size_t>(to.Column) : s.size();
        if (start < s.size()) text.append(s, start, std::min(end, s.size()) - start);
        if (line < to.Line) text += '\n';
    }
    return Win1252ToQString(text);
}

void TMessageTextView::CopySelection() const {
    const QString text = SelectedText();
    if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

TTextPos TMessageTextView::StepCharacter(TTextPos from, int direction) const {
    if (FLines.empty()) return {};
    const int raw = RawColumn(from.Line, from.Column) + direction;
    const int length = static_cast<int>(Line(from.Line).size());
    // Past a line's end is the next line's start, and back.
    if (raw < 0)
        return from.Line > 0
                   ? TTextPos{from.Line - 1, static_cast<int>(Shown(from.Line - 1).size())}
                   : TTextPos{from.Line, 0};
    if (raw > length)
        return from.Line + 1 < LineCount() ? TTextPos{from.Line + 1, 0}
                                           : TTextPos{from.Line, ShownColumn(from.Line, length)};
    return {from.Line, ShownColumn(from.Line, raw)};
}

TTextPos TMessageTextView::StepWord(TTextPos from, int direction) const {
    if (FLines.empty()) return {};
    const int raw = RawColumn(from.Line, from.Column);
    const int length = static_cast<int>(Line(from.Line).size());
    if ((direction < 0 && raw == 0) || (direction > 0 && raw == length))
        return StepCharacter(from, direction);
    // To the start of the word before, or of the word after (the line's
    // end when none follows).
    const QString text = LineText(from.Line);
    QTextBoundaryFinder words(QTextBoundaryFinder::Word, text);
    words.setPosition(raw);
    for (;;) {
        const qsizetype at = direction < 0 ? words.toPreviousBoundary() : words.toNextBoundary();
        if (at < 0 || at >= length)
            return {from.Line, direction < 0 ? 0 : ShownColumn(from.Line, length)};
        if (at == 0) return {from.Line, 0};
        if (words.boundaryReasons().testFlag(QTextBoundaryFinder::StartOfItem))
            return {from.Line, ShownColumn(from.Line, static_cast<int>(at))};
    }
}

TTextPos TMessageTextView::LineMove(TTextPos from, int lines) const {
    if (FLines.empty()) return {};
    const int line = std::clamp(from.Line + lines, 0, LineCount() - 1);
    const int goal = FGoalColumn >= 0 ? FGoalColumn : from.Column;
    const int column = std::min(goal, static_cast<int>(Shown(line).size()));
    return {line, ShownColumn(line, RawColumn(line, column))};
}

void TMessageTextView::MoveTo(TTextPos cursor, bool keepAnchor) {
    Select(keepAnchor ? FAnchor : cursor, cursor);
    EnsureVisible(cursor);
}

bool TMessageTextView::MoveCaret(const QKeyEvent& event) {
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    const bool shift = modifiers.testFlag(Qt::ShiftModifier);
    const bool control = modifiers.testFlag(Qt::ControlModifier);
    if (modifiers & ~(Qt::ShiftModifier | Qt::ControlModifier)) return false;
    bool vertical = false;
    // An arrow without Shift first drops a selection, at its near end.
    const bool collapse = !shift && !control && FAnchor != FCursor;
    TTextPos to = FCursor;
    switch (event.key()) {
        case Qt::Key_Left:
            to = collapse  ? std::min(FAnchor, FCursor)
                 : control ? StepWord(FCursor, -1)
                           : StepCharacter(FCursor, -1);
            break;
        case Qt::Key_Right:
            to = collapse  ? std::max(FAnchor, FCursor)
                 : control ? StepWord(FCursor, 1)
                           : StepCharacter(FCursor, 1);
            break;
        case Qt::Key_Up:
        case Qt::Key_Down:
            if (control) return false;
            to = LineMove(FCursor, event.key() == Qt::Key_Up ? -1 : 1);
            vertical = true;
            break;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown: {
            if (control) return false;
            const int page = event.key() == Qt::Key_PageUp ? -VisibleLines() : VisibleLines();
            to = LineMove(FCursor, page);
            // The page turns with the caret, which keeps its place on screen.
            verticalScrollBar()->setValue(verticalScrollBar()->value() + page);
            vertical = true;
            break;
        }
        case Qt::Key_Home:
            to = control ? TTextPos{} : TTextPos{FCursor.Line, 0};
            break;
        case Qt::Key_End:
            if (FLines.empty()) return true;
            to = control
                     ? TTextPos{LineCount() - 1, static_cast<int>(Shown(LineCount() - 1).size())}
                     : TTextPos{FCursor.Line, static_cast<int>(Shown(FCursor.Line).size())};
            break;
        default:
            return false;
    }
    if (vertical && FGoalColumn < 0) FGoalColumn = FCursor.Column;
    if (!vertical) FGoalColumn = -1;
    MoveTo(to, shift);
    return true;
}

void TMessageTextView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
    } else if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
    } else if (MoveCaret(*event)) {
        // moved, or selected
    } else if (event->key() == Qt::Key_Escape) {
        event->ignore();  // the window closes
    } else {
        // Typing changes nothing.
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TMessageTextView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const TTextPos pos = PosAt(event->position().toPoint());
    FGoalColumn = -1;
    Select(event->modifiers().testFlag(Qt::ShiftModifier) ? FAnchor : pos, pos);
}

void TMessageTextView::mouseMoveEvent(QMouseEvent* event) {
    if (!event->buttons().testFlag(Qt::LeftButton)) return;
    const QPoint point = event->position().toPoint();
    // Dragging past an edge scrolls that way.
    if (point.y() < 0) verticalScrollBar()->triggerAction(QScrollBar::SliderSingleStepSub);
    if (point.y() > viewport()->height())
        verticalScrollBar()->triggerAction(QScrollBar::SliderSingleStepAdd);
    if (point.x() < 0) horizontalScrollBar()->triggerAction(QScrollBar::SliderSingleStepSub);
    if (point.x() > viewport()->width())
        horizontalScrollBar()->triggerAction(QScrollBar::SliderSingleStepAdd);
    Select(FAnchor, PosAt(point));
}

TFormMessage::TFormMessage(QWidget* owner, const std::string& caption, const std::string& text)
    : QDialog(owner) {
    setObjectName(QStringLiteral("FormMessage"));
    setWindowTitle(Win1252ToQString(caption));
    FMemo1 = new TMessageTextView(this);
    FMemo1->setObjectName(QStringLiteral("Memo1"));
    FMemo1->setAccessibleName(QStringLiteral("Testo del messaggio"));
    FMemo1->setAccessibleDescription(Win1252ToQString(
        "Sola lettura. Le frecce, Home, Fine e Pagina su e gi\xF9 muovono il cursore, "  // giù
        "con Maiusc selezionano; Ctrl+A seleziona tutto, Ctrl+C copia, Esc chiude."));
    FMemo1->SetText(text);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(FMemo1);
    resize(524, 402);
    FMemo1->setFocus();
}

void ShowMessageViewer(QWidget* owner, const std::string& caption, const std::string& text) {
    TFormMessage viewer(owner, caption, text);
    viewer.exec();
}

}  // namespace kalmuro
