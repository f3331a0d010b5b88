#include "app/form_message.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <string_view>

#include "app/qt_text.h"

namespace kalmuro {

namespace {

constexpr int kMargin = 3;
constexpr int kTabWidth = 8;
constexpr char kControlMark = '\xB7';  // ·

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

}  // namespace

TMessageTextView::TMessageTextView(QWidget* parent) : QAbstractScrollArea(parent) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    setFont(font);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

void TMessageTextView::SetText(const std::string& text) {
    FText = text;
    FLines.clear();
    FShown.clear();
    FMaxColumns = 0;
    size_t start = 0;
    const size_t size = FText.size();
    while (start < size) {
        size_t end = start;
        while (end < size && FText[end] != '\r' && FText[end] != '\n') ++end;
        FLines.push_back({start, end - start});
        if (end + 1 < size && FText[end] == '\r' && FText[end + 1] == '\n') ++end;
        start = end + 1;
    }
    for (int i = 0; i < LineCount(); ++i) {
        const std::string_view line = Line(i);
        if (NeedsExpanding(line)) FShown.emplace(i, Expanded(line));
        FMaxColumns = std::max(FMaxColumns, static_cast<int>(Shown(i).size()));
    }
    FAnchor = FCursor = TTextPos{};
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    UpdateScrollBars();
    viewport()->update();
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
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('M')));
}

int TMessageTextView::FirstLine() const { return verticalScrollBar()->value(); }

int TMessageTextView::FirstColumn() const { return horizontalScrollBar()->value(); }

void TMessageTextView::UpdateScrollBars() {
    const int visibleLines = std::max(1, (viewport()->height() - kMargin) / LineHeight());
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
    if (event->type() == QEvent::FontChange) UpdateScrollBars();
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

void TMessageTextView::Select(TTextPos anchor, TTextPos cursor) {
    FAnchor = anchor;
    FCursor = cursor;
    viewport()->update();
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

void TMessageTextView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
    } else if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
    } else if (event->matches(QKeySequence::MoveToStartOfDocument)) {
        verticalScrollBar()->setValue(0);
        horizontalScrollBar()->setValue(0);
    } else if (event->matches(QKeySequence::MoveToEndOfDocument)) {
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    } else if (event->key() == Qt::Key_Home) {
        horizontalScrollBar()->setValue(0);
    } else if (event->key() == Qt::Key_End) {
        horizontalScrollBar()->setValue(horizontalScrollBar()->maximum());
    } else if (event->key() == Qt::Key_Escape) {
        event->ignore();  // the window closes
    } else {
        // Arrows and pages scroll; typing changes nothing.
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void TMessageTextView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const TTextPos pos = PosAt(event->position().toPoint());
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
