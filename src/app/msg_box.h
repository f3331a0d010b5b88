// The program's own modal message box and its three wrappers. Every message
// the program shows goes through ShowMsgBox; the platform's stock box is
// never used.
//
// The text is laid out in a fixed-pitch font inside a white frame that grows
// with it up to nearly the size of the screen and scrolls beyond; the buttons
// are centred under it. Texts are Windows-1252 and may hold "\n" markers;
// they are always shown as plain text.
#pragma once

#include <QDialog>
#include <QList>
#include <cstdint>
#include <string>

class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;

namespace kalmuro {

class TqvFormMsgBox : public QDialog {
    Q_OBJECT
public:
    // Design metrics, in pixels.
    static constexpr int kClientWidth = 242, kClientHeight = 86;
    // What the design's frame adds to the client width (the overall width is
    // at least 250).
    static constexpr int kFrameWidth = 8;
    static constexpr int kButtonWidth = 75, kButtonHeight = 25, kButtonGap = 8;
    static constexpr int kTextDesignWidth = 72;
    static constexpr int kFontPixelHeight = 13;

    TqvFormMsgBox(QWidget* owner, const std::string& message, const std::string& title,
                  int32_t buttons, int32_t icon, int32_t focusedButton);

    // The shown buttons, left to right; the label with the text; the text's
    // scrolling area; the picture of the icon kind (null when none).
    const QList<QPushButton*>& Buttons() const { return FButtons; }
    QLabel* TextLabel() const { return FLabel; }
    QScrollArea* TextArea() const { return FScroll; }
    QLabel* IconLabel() const { return FIcon; }
    // The button Enter presses (null when there is none).
    QPushButton* FocusedButton() const { return FFocused; }

    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void LayOut(int clientWidth, int clientHeight);

    QFrame* FPanel = nullptr;
    QScrollArea* FScroll = nullptr;
    QLabel* FLabel = nullptr;
    QLabel* FIcon = nullptr;
    QList<QPushButton*> FButtons;
    QPushButton* FFocused = nullptr;
    int32_t FButtonSet = 0;
    int32_t FEscapeResult = 0;
    QPixmap FBackground;
};

// Shows a box modally over the active window and returns the result code of
// the button pressed (1 OK, 2 Annulla, 6 Si, 7 No), 2 when it was closed
// otherwise.
int32_t ShowMsgBox(const std::string& message, const std::string& title, int32_t buttons,
                   int32_t icon, int32_t focusedButton);
// "Informazione", OK, the information picture.
void ShowInformation(const std::string& message);
// "Conferma", Si and No, the question picture; true exactly for Si.
// focusedButton 2 puts the focus on No.
bool AskConfirmation(const std::string& message, int32_t focusedButton);
// "Errore", OK, the warning picture.
void ShowError(const std::string& message);

}  // namespace kalmuro
