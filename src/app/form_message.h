// The read-only viewer of a message's header or whole text: a window that
// is nothing but a text box with both scroll bars, lines never wrapped, a
// fixed-pitch font, and Escape to close. A caret that the keyboard moves
// (with Shift it selects) lets a reader walk the text without a mouse, and
// a screen reader reads it through the view's accessible text.
//
// The text comes from a server or a mailbox: untrusted, and possibly tens of
// megabytes. It is never interpreted (no markup, no links) and only the lines
// in sight are ever turned into characters, so that a huge message opens and
// scrolls at once.
#pragma once

#include <QAbstractScrollArea>
#include <QDialog>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kalmuro {

// A position in the text: line and column (from 0; columns count
// characters after tab expansion).
struct TTextPos {
    int Line = 0;
    int Column = 0;
    bool operator==(const TTextPos&) const = default;
    auto operator<=>(const TTextPos&) const = default;
};

class TMessageTextView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TMessageTextView(QWidget* parent = nullptr);

    // Windows-1252 text whose lines end with CR LF (a lone LF or CR ends a
    // line too). Lines are shown with tabs as blanks up to the next multiple
    // of eight columns and other control characters as a middle dot.
    void SetText(const std::string& text);
    int LineCount() const { return static_cast<int>(FLines.size()); }
    // The widest line as shown, in columns.
    int MaxColumns() const { return FMaxColumns; }
    // A line as it was given, and as it is shown.
    QString LineText(int line) const;
    QString ShownLineText(int line) const;

    // The selection, from anchor to cursor in either order, in columns as
    // shown; empty when both are equal. Copying takes the text as shown.
    // The cursor is the caret.
    void Select(TTextPos anchor, TTextPos cursor);
    void SelectAll();
    QString SelectedText() const;
    TTextPos Anchor() const { return FAnchor; }
    TTextPos Cursor() const { return FCursor; }
    // The first line and column in sight.
    int FirstLine() const;
    int FirstColumn() const;

    // The text as a screen reader gets it: the lines as given, each but the
    // last followed by one "\n", so an offset counts characters of that text.
    int CharacterCount() const;
    QString TextRange(int start, int end) const;
    int LineOfOffset(int offset) const;
    int LineOffset(int line) const;
    int OffsetOf(TTextPos pos) const;
    TTextPos PosOfOffset(int offset) const;
    // The position at a point of the viewport: the nearest gap between two
    // characters, or (under) the character the point lies on.
    TTextPos PosAt(const QPoint& point) const;
    TTextPos CharAt(const QPoint& point) const;
    // Where a column of a line is drawn, in viewport coordinates, as wide as
    // the character shown there (one column past the line's end).
    QRect CellRect(TTextPos pos) const;
    // Scrolls the least that brings the position into sight.
    void EnsureVisible(TTextPos pos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void UpdateScrollBars();
    int LineHeight() const;
    int CharWidth() const;
    int VisibleLines() const;
    void CopySelection() const;
    // Shown columns of a line against characters as given: a tab is one
    // character over several columns; a column inside it belongs to it.
    int ShownColumn(int line, int rawColumn) const;
    int RawColumn(int line, int shownColumn) const;
    // Caret moves: the new caret, and the anchor kept (selecting) or not.
    bool MoveCaret(const QKeyEvent& event);
    void MoveTo(TTextPos cursor, bool keepAnchor);
    TTextPos StepCharacter(TTextPos from, int direction) const;
    TTextPos StepWord(TTextPos from, int direction) const;
    TTextPos LineMove(TTextPos from, int lines) const;
    void NotifyMoved(TTextPos oldAnchor, TTextPos oldCursor);

    std::string_view Shown(int line) const;

    std::string_view Line(int line) const;

    std::string FText;
    struct TSpan {
        // Offset: where the line starts in the text a screen reader gets.
        size_t Start, Length, Offset;
    };
    std::vector<TSpan> FLines;
    // The lines whose shown form differs, by line number.
    std::unordered_map<int, std::string> FShown;
    int FMaxColumns = 0;
    TTextPos FAnchor, FCursor;
    // The column Up and Down aim for, kept across short lines.
    int FGoalColumn = -1;
};

class TFormMessage : public QDialog {
    Q_OBJECT
public:
    // caption: Windows-1252, shown as it is.
    TFormMessage(QWidget* owner, const std::string& caption, const std::string& text);

    TMessageTextView* Memo1() const { return FMemo1; }

private:
    TMessageTextView* FMemo1 = nullptr;
};

// Shows the viewer modally over the owner until the user closes it.
void ShowMessageViewer(QWidget* owner, const std::string& caption, const std::string& text);

}  // namespace kalmuro
