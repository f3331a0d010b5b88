#include "app/form_info.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "app/pictures.h"
#include "app/plain_text.h"
#include "app/qt_text.h"
#include "engine/window_texts.h"

namespace kalmuro {

namespace {
constexpr int kWidth = 400, kHeight = 300;
}

TFormInfo::TFormInfo(TKind kind, QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("FormInfo"));
    if (kind == Splash) {
        setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    } else {
        setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
        setModal(true);
    }
    setWindowTitle(Win1252ToQString(kCaptionInfoWindow));
    setFixedSize(kWidth, kHeight);

    FImage = new QLabel(this);
    FImage->setObjectName(QStringLiteral("Image1"));
    FImage->setGeometry(0, 0, kWidth, kHeight);
    FImage->setPixmap(
        PicturePixmap(QStringLiteral("splash"), QSize(kWidth, kHeight), devicePixelRatioF()));
    FImage->setScaledContents(true);
    FImage->setCursor(Qt::PointingHandCursor);
    FImage->setAccessibleName(Win1252ToQString(kAppTitle));
    SetPlainTip(FImage, DisplayText(kHintLogo));
    FImage->installEventFilter(this);

    FOk = new QPushButton(Win1252ToQString(kCaptionOk), this);
    FOk->setObjectName(QStringLiteral("BitBtn1"));
    FOk->setGeometry(324, 273, 75, 25);
    FOk->setIcon(PictureIcon(QStringLiteral("ok")));
    FOk->setDefault(true);
    FOk->setVisible(kind == About);
    connect(FOk, &QPushButton::clicked, this, &QDialog::accept);

    FTimer = new QTimer(this);
    FTimer->setObjectName(QStringLiteral("Timer1"));
    FTimer->setInterval(3000);
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, this, &QWidget::hide);

    // Centred on the screen, the about window too (it may open from the
    // tray while the main window is hidden).
    if (QScreen* screen = owner != nullptr ? owner->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

bool TFormInfo::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FImage && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && OnImageClick) {
        OnImageClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kalmuro
