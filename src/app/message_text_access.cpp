#include "app/message_text_access.h"

#include <QAccessibleWidget>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <utility>

#include "app/form_message.h"

namespace kalmuro {

namespace {

class TMessageTextAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit TMessageTextAccessible(TMessageTextView* view)
        : QAccessibleWidget(view, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = true;
        s.editable = false;
        s.multiLine = true;
        s.selectableText = true;
        s.focusable = true;
        return s;
    }

    QString text(QAccessible::Text kind) const override {
        QString result = QAccessibleWidget::text(kind);
        // Without a name of its own the view is named by its window.
        if (kind == QAccessible::Name && result.isEmpty()) result = View().window()->windowTitle();
        return result;
    }

    // The text is the whole content: the scroll bars follow the caret, so a
    // reader needs no children to walk.
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    int characterCount() const override { return View().CharacterCount(); }

    QString text(int start, int end) const override { return View().TextRange(start, end); }

    int cursorPosition() const override { return View().OffsetOf(View().Cursor()); }

    void setCursorPosition(int position) override {
        TMessageTextView& view = View();
        const TTextPos pos = view.PosOfOffset(position);
        view.Select(pos, pos);
        view.EnsureVisible(pos);
    }

    int selectionCount() const override { return View().Anchor() != View().Cursor() ? 1 : 0; }

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index != 0 || selectionCount() == 0) return;
        const int anchor = View().OffsetOf(View().Anchor());
        const int cursor = cursorPosition();
        *start = std::min(anchor, cursor);
        *end = std::max(anchor, cursor);
    }

    // One selection at most: adding one replaces it.
    void addSelection(int start, int end) override { setSelection(0, start, end); }

    void removeSelection(int index) override {
        if (index != 0) return;
        View().Select(View().Cursor(), View().Cursor());
    }

    void setSelection(int index, int start, int end) override {
        if (index != 0) return;
        TMessageTextView& view = View();
        const TTextPos to = view.PosOfOffset(end);
        view.Select(view.PosOfOffset(start), to);
        view.EnsureVisible(to);
    }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                         int* end) const override {
        *start = *end = -1;
        if (offset < 0 || offset > characterCount()) return QString();
        std::tie(*start, *end) = Piece(offset, type);
        return text(*start, *end);
    }

    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                             int* end) const override {
        *start = *end = -1;
        if (offset < 0 || offset > characterCount() || type == QAccessible::NoBoundary)
            return QString();
        const int at = Piece(offset, type).first;
        if (at <= 0) return QString();
        std::tie(*start, *end) = Piece(at - 1, type);
        return text(*start, *end);
    }

    QString textAfterOffset(int offset, QAccessible::TextBoundaryType type, int* start,
                            int* end) const override {
        *start = *end = -1;
        if (offset < 0 || offset > characterCount() || type == QAccessible::NoBoundary)
            return QString();
        const int after = Piece(offset, type).second;
        if (after >= characterCount()) return QString();
        std::tie(*start, *end) = Piece(after, type);
        return text(*start, *end);
    }

    QRect characterRect(int offset) const override {
        const TMessageTextView& view = View();
        if (offset < 0 || offset > characterCount()) return QRect();
        const QRect cell = view.CellRect(view.PosOfOffset(offset));
        return QRect(view.viewport()->mapToGlobal(cell.topLeft()), cell.size());
    }

    int offsetAtPoint(const QPoint& point) const override {
        const TMessageTextView& view = View();
        const QPoint local = view.viewport()->mapFromGlobal(point);
        if (!view.viewport()->rect().contains(local) || view.LineCount() == 0) return -1;
        return view.OffsetOf(view.CharAt(local));
    }

    void scrollToSubstring(int start, int end) override {
        TMessageTextView& view = View();
        view.EnsureVisible(view.PosOfOffset(end));
        view.EnsureVisible(view.PosOfOffset(start));
    }

    // Plain text: one run without attributes.
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return QString();
    }

private:
    TMessageTextView& View() const { return *static_cast<TMessageTextView*>(widget()); }

    // The piece of a kind that holds the offset, as [start, end). A line
    // (a paragraph too: lines never wrap) takes its break with it; a word
    // or a sentence keeps within its line, whose break is a piece alone.
    std::pair<int, int> Piece(int offset, QAccessible::TextBoundaryType type) const {
        const TMessageTextView& view = View();
        const int count = view.CharacterCount();
        if (type == QAccessible::NoBoundary || count == 0) return {0, count};
        const int line = view.LineOfOffset(offset);
        const int lineStart = view.LineOffset(line);
        if (type == QAccessible::LineBoundary || type == QAccessible::ParagraphBoundary)
            return {lineStart, line + 1 < view.LineCount() ? view.LineOffset(line + 1) : count};
        const QString text = view.LineText(line);
        const int column = offset - lineStart;
        if (column >= text.size())
            return offset >= count ? std::pair{count, count} : std::pair{offset, offset + 1};
        const bool words = type == QAccessible::WordBoundary;
        QTextBoundaryFinder finder(type == QAccessible::CharBoundary ? QTextBoundaryFinder::Grapheme
                                   : words                           ? QTextBoundaryFinder::Word
                                           : QTextBoundaryFinder::Sentence,
                                   text);
        // Between two marks of punctuation a word boundary ends nothing:
        // such runs read as one piece.
        const auto ends = [&] {
            return !words || (finder.boundaryReasons() &
                              (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem));
        };
        finder.setPosition(column);
        qsizetype from = column;
        if (!finder.isAtBoundary() || !ends()) {
            do from = finder.toPreviousBoundary();
            while (from > 0 && !ends());
            from = std::max<qsizetype>(from, 0);
        }
        finder.setPosition(column);
        qsizetype to = 0;
        do to = finder.toNextBoundary();
        while (to > 0 && to < text.size() && !ends());
        if (to < 0 || to > text.size()) to = text.size();
        return {lineStart + static_cast<int>(from), lineStart + static_cast<int>(to)};
    }
};

QAccessibleInterface* MessageTextFactory(const QString& key, QObject* object) {
    if (key != QLatin1String(TMessageTextView::staticMetaObject.className())) return nullptr;
    auto* view = qobject_cast<TMessageTextView*>(object);
    return view != nullptr ? new TMessageTextAccessible(view) : nullptr;
}

void (*gObserver)(QAccessibleEvent*) = nullptr;

}  // namespace

bool AccessibilityListening() { return gObserver != nullptr || QAccessible::isActive(); }

void TellAccessibility(QAccessibleEvent& event) {
    if (gObserver != nullptr) gObserver(&event);
    if (QAccessible::isActive()) QAccessible::updateAccessibility(&event);
}

void SetAccessibilityObserverForTesting(void (*observer)(QAccessibleEvent*)) {
    gObserver = observer;
}

void InstallMessageTextAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(&MessageTextFactory);
        return true;
    }();
    (void)installed;
}

}  // namespace kalmuro
