#include "app/msg_box.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <algorithm>

#include "app/pictures.h"
#include "app/plain_text.h"
#include "app/qt_text.h"
#include "engine/form_main.h"

namespace kalmuro {

namespace {

// What a title bar and frame take beyond the client height; the box's
// overall height stays 20 pixels short of the screen.
constexpr int kFrameHeight = 30;
// The frame of the text and its scrolling area inside it, at design size.
constexpr int kPanelLeft = 44, kPanelTop = 8, kPanelRight = 7, kPanelBottom = 40;
constexpr int kAreaLeft = 8, kAreaTop = 7, kAreaRight = 8, kAreaBottom = 7;
constexpr int kButtonBottom = 8;

// "Courier New" where it exists, the desktop's fixed-pitch font otherwise,
// always 13 pixels high.
QFont MessageFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(TqvFormMsgBox::kFontPixelHeight);
    if (!QFontInfo(font).fixedPitch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(TqvFormMsgBox::kFontPixelHeight);
    }
    return font;
}

QString IconPicture(int32_t icon) {
    switch (icon) {
        case miQuestion: return QStringLiteral("question");
        case miWarning: return QStringLiteral("warning");
        case miInformation: return QStringLiteral("information");
        default: return QString();
    }
}

// What the picture says, for a screen reader.
QString IconName(int32_t icon) {
    switch (icon) {
        case miQuestion:
            return QStringLiteral("Domanda");
        case miWarning:
            return QStringLiteral("Avviso");
        default:
            return QStringLiteral("Informazione");
    }
}

}  // namespace

TqvFormMsgBox::TqvFormMsgBox(QWidget* owner, const std::string& message,
                             const std::string& title, int32_t buttons, int32_t icon,
                             int32_t focusedButton)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowStaysOnTopHint),
      FButtonSet(buttons) {
    setObjectName(QStringLiteral("TqvFormMsgBox"));
    setModal(true);
    setWindowTitle(DisplayText(title));
    FBackground = PicturePixmap(QStringLiteral("paper"), QSize(24, 24));

    FPanel = new QFrame(this);
    FPanel->setObjectName(QStringLiteral("Panel1"));
    FPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    FPanel->setAutoFillBackground(true);
    QPalette white = FPanel->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::Base, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    FPanel->setPalette(white);

    FScroll = new QScrollArea(FPanel);
    FScroll->setObjectName(QStringLiteral("ScrollBox1"));
    // Reached with Tab to scroll a long text with the arrows.
    FScroll->setAccessibleName(QStringLiteral("Testo del messaggio"));
    FScroll->setFrameShape(QFrame::NoFrame);
    FScroll->setWidgetResizable(false);
    FScroll->setPalette(white);
    auto* content = new QWidget;
    content->setPalette(white);
    content->setAutoFillBackground(true);
    FLabel = new QLabel(content);
    FLabel->setObjectName(QStringLiteral("LabelMsg"));
    // The text may come from a server or a message: never markup, never a
    // link; its lines are broken here only where the screen is too narrow.
    FLabel->setTextFormat(Qt::PlainText);
    FLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FLabel->setWordWrap(false);
    FLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FLabel->setFont(MessageFont());
    FScroll->setWidget(content);

    const QString picture = IconPicture(icon);
    if (!picture.isEmpty()) {
        FIcon = new QLabel(this);
        FIcon->setObjectName(QStringLiteral("IconKind"));
        FIcon->setGeometry(6, 8, 32, 32);
        FIcon->setPixmap(PicturePixmap(picture, QSize(32, 32), devicePixelRatioF()));
        FIcon->setAccessibleName(IconName(icon));
    }

    const TMsgBoxRoles roles = MsgBoxRoles(buttons, focusedButton);
    FEscapeResult = roles.Buttons.empty() ? mrCancel : roles.EscapeResult;
    for (const TMsgBoxButton& kind : roles.Buttons) {
        auto* button = new QPushButton(Win1252ToQString(kind.Caption), this);
        const bool positive = kind.Result == mrOk || kind.Result == mrYes;
        button->setIcon(PictureIcon(positive ? QStringLiteral("ok") : QStringLiteral("cancel")));
        // Enter is handled by the box: it presses the focused button.
        button->setAutoDefault(false);
        button->setDefault(false);
        const int32_t result = kind.Result;
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
        FButtons.append(button);
    }
    if (roles.FocusIndex >= 0) FFocused = FButtons[roles.FocusIndex];

    // Laying out the text: its own size, at least the design width; the box
    // grows by what the text needs beyond the design area, up to the part
    // of the screen free of panels less 20 pixels, and the text scrolls
    // down beyond that. A line wider than that room is wrapped rather than
    // scrolled sideways: a sideways scroll bar would hide a short text's
    // last line, and a subject of thousands of characters would be read
    // through a slit.
    QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect available =
        screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const int maxClientWidth = std::max(kClientWidth, available.width() - 20 - kFrameWidth);
    const int maxClientHeight = std::max(kClientHeight, available.height() - 20 - kFrameHeight);
    const int designAreaWidth = kClientWidth - kPanelLeft - kPanelRight - kAreaLeft - kAreaRight;
    const int designAreaHeight = kClientHeight - kPanelTop - kPanelBottom - kAreaTop - kAreaBottom;
    const int scrollBarWidth =
        FScroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, FScroll);
    const int wrapWidth = maxClientWidth - (kClientWidth - designAreaWidth) - scrollBarWidth;

    const QString shown = DisplayText(message);
    const QString wrapped = WrapLines(shown, FLabel->font(), wrapWidth);
    FLabel->setText(wrapped);
    // A screen reader reads the text as written, without the added breaks.
    if (wrapped != shown) FLabel->setAccessibleName(OneLine(shown));
    FLabel->adjustSize();
    QSize text = FLabel->size();
    if (text.width() < kTextDesignWidth) text.setWidth(kTextDesignWidth);
    FLabel->resize(text);
    int clientWidth = kClientWidth, clientHeight = kClientHeight;
    if (text.width() > designAreaWidth)
        clientWidth = std::min(maxClientWidth, clientWidth + text.width() - designAreaWidth);
    if (text.height() > designAreaHeight)
        clientHeight = std::min(maxClientHeight, clientHeight + text.height() - designAreaHeight);
    const bool scrollsDown = text.height() > clientHeight - (kClientHeight - designAreaHeight);
    // A wrapped text takes the whole width; one that scrolls down keeps
    // room for the scroll bar beside it.
    if (wrapped != shown)
        clientWidth = maxClientWidth;
    else if (scrollsDown)
        clientWidth = std::min(maxClientWidth, clientWidth + scrollBarWidth);
    LayOut(clientWidth, clientHeight);

    const int areaHeight = FScroll->height();
    const int areaWidth = FScroll->width() - (scrollsDown ? scrollBarWidth : 0);
    QPoint at(0, 0);
    if (text.width() < areaWidth) at.setX((areaWidth - text.width()) / 2);
    if (text.height() < areaHeight) at.setY((areaHeight - text.height()) / 2);
    FLabel->move(at);
    content->resize(std::max(areaWidth, at.x() + text.width()),
                    std::max(areaHeight, at.y() + text.height()));
}

void TqvFormMsgBox::LayOut(int clientWidth, int clientHeight) {
    setFixedSize(clientWidth, clientHeight);
    FPanel->setGeometry(kPanelLeft, kPanelTop, clientWidth - kPanelLeft - kPanelRight,
                        clientHeight - kPanelTop - kPanelBottom);
    FScroll->setGeometry(kAreaLeft, kAreaTop, FPanel->width() - kAreaLeft - kAreaRight,
                         FPanel->height() - kAreaTop - kAreaBottom);

    // Centred: sets of one or two buttons on the overall width, the set of
    // three on the client width.
    const int overall = clientWidth + kFrameWidth;
    const int count = static_cast<int>(FButtons.size());
    const int row = count * kButtonWidth + std::max(0, count - 1) * kButtonGap;
    int left = ((FButtonSet == mbYesNoCancel ? clientWidth : overall) - row) / 2;
    const int top = clientHeight - kButtonBottom - kButtonHeight;
    for (QPushButton* button : FButtons) {
        button->setGeometry(left, top, kButtonWidth, kButtonHeight);
        left += kButtonWidth + kButtonGap;
    }
}

void TqvFormMsgBox::reject() { done(mrCancel); }

void TqvFormMsgBox::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            done(FEscapeResult);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            auto* focused = qobject_cast<QPushButton*>(focusWidget());
            if (focused == nullptr || !FButtons.contains(focused)) focused = FFocused;
            if (focused != nullptr) focused->click();
            return;
        }
        default:
            QDialog::keyPressEvent(event);
    }
}

void TqvFormMsgBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (FFocused != nullptr) FFocused->setFocus(Qt::OtherFocusReason);
}

void TqvFormMsgBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawTiledPixmap(rect(), FBackground);
}

int32_t ShowMsgBox(const std::string& message, const std::string& title, int32_t buttons,
                   int32_t icon, int32_t focusedButton) {
    QWidget* owner = QApplication::activeModalWidget();
    if (owner == nullptr) owner = QApplication::activeWindow();
    TqvFormMsgBox box(owner, message, title, buttons, icon, focusedButton);
    return box.exec();
}

void ShowInformation(const std::string& message) {
    ShowMsgBox(message, kTitleInformation, mbOk, miInformation, 0);
}

bool AskConfirmation(const std::string& message, int32_t focusedButton) {
    return ShowMsgBox(message, kTitleConfirmation, mbYesNo, miQuestion, focusedButton) == mrYes;
}

void ShowError(const std::string& message) {
    ShowMsgBox(message, kTitleError, mbOk, miWarning, 0);
}

}  // namespace kalmuro

