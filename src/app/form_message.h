// The read-only viewer of a message's header or whole text: a window that
// is nothing but a text box with both scroll bars, lines never wrapped, a
// fixed-pitch font, and Escape to close.
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
    void Select(TTextPos anchor, TTextPos cursor);
    void SelectAll();
    QString SelectedText() const;
    // The first line and column in sight.
    int FirstLine() const;
    int FirstColumn() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void UpdateScrollBars();
    TTextPos PosAt(const QPoint& point) const;
    int LineHeight() const;
    int CharWidth() const;
    void CopySelection() const;

    std::string_view Shown(int line) const;

    std::string_view Line(int line) const;

    std::string FText;
    struct TSpan {
        size_t Start, Length;
    };
    std::vector<TSpan> FLines;
    // The lines whose shown form differs, by line number.
    std::unordered_map<int, std::string> FShown;
    int FMaxColumns = 0;
    TTextPos FAnchor, FCursor;
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
