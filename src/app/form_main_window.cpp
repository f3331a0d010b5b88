#include "app/form_main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWindow>
#include <exception>

#include "app/form_info.h"
#include "app/form_message.h"
#include "app/form_setup.h"
#include "app/message_model.h"
#include "app/msg_box.h"
#include "app/pictures.h"
#include "app/plain_text.h"
#include "app/qt_text.h"
#include "app/save_dialog.h"
#include "app/shell.h"
#include "mail/settings.h"

namespace kalmuro {

namespace {

// Design sizes, in pixels.
constexpr int kWindowWidth = 603, kWindowHeight = 422;
constexpr int kMinWidth = 603, kMinHeight = 216;
constexpr int kTopPanelHeight = 109;
constexpr int kMailboxPanelHeight = 77;
constexpr int kButtonWidth = 80;
constexpr int kUpperButtonHeight = 43, kLowerButtonHeight = 59;

// The design's 8-point sans-serif, or the desktop's own font when smaller.
QFont DesignFont(QFont font) {
    font.setPointSizeF(std::min<qreal>(font.pointSizeF(), 8.0));
    return font;
}

// A caption that fits its button: each line wider than the room is broken
// at its blanks. The caption itself is the engine's; only the breaks are
// added here.
QString FitCaption(const QString& caption, const QFontMetrics& metrics, int room) {
    QStringList out;
    for (const QString& line : caption.split(QLatin1Char('\n'))) {
        if (metrics.horizontalAdvance(line) <= room) {
            out << line;
            continue;
        }
        QString current;
        for (const QString& word : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString candidate = current.isEmpty() ? word : current + QLatin1Char(' ') + word;
            if (!current.isEmpty() && metrics.horizontalAdvance(candidate) > room) {
                out << current;
                current = word;
            } else {
                current = candidate;
            }
        }
        out << current;
    }
    return out.join(QLatin1Char('\n'));
}

// Draws the list's grid lines under every cell.
class TGridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Midlight).darker(110));
        const QRect r = option.rect;
        painter->drawLine(r.bottomLeft(), r.bottomRight());
        painter->drawLine(r.topRight(), r.bottomRight());
        painter->restore();
    }
};

// The message list: a report view whose column headers do nothing on a
// click (the rows are never sorted).
class TMessageListView : public QTreeView {
public:
    using QTreeView::QTreeView;
};

}  // namespace

TFormMainWindow::TFormMainWindow(const std::string& homeDir, QWidget* parent)
    : QMainWindow(parent) {
    if (!homeDir.empty()) SetHomeDir(homeDir);
    setObjectName(QStringLiteral("FormMain"));
    FForm = std::make_unique<TFormMain>(*this);
    FModel = new TMessageModel(this);
    FModel->Attach(FForm.get());

    setWindowIcon(ProgramIcon());
    setWindowTitle(Win1252ToQString(MainWindowCaption()));

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    BuildTopPanel(central);
    BuildMailboxPanel(central);
    BuildMessageList(central);
    setCentralWidget(central);

    FStatusLabel = new QLabel(this);
    FStatusLabel->setObjectName(QStringLiteral("StatusBar1"));
    FStatusLabel->setTextFormat(Qt::PlainText);
    FStatusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    FStatusLabel->setMinimumWidth(1);
    statusBar()->addWidget(FStatusLabel, 1);

    FTimerStart = new QTimer(this);
    FTimerStart->setObjectName(QStringLiteral("TimerStart"));
    FTimerStart->setInterval(1000);
    FTimerStart->setSingleShot(true);
    connect(FTimerStart, &QTimer::timeout, this, [this] { Guard([this] { FForm->TimerStartTimer(); }); });
    FTimerAutoCheck = new QTimer(this);
    FTimerAutoCheck->setObjectName(QStringLiteral("TimerAutoCheck"));
    connect(FTimerAutoCheck, &QTimer::timeout, this,
            [this] { Guard([this] { FForm->TimerAutoCheckTimer(); }); });

    BuildMenus();
    BuildTray();

    resize(kWindowWidth, kWindowHeight);
    setMinimumSize(kMinWidth, kMinHeight);
    CenterOnScreen();

    // Geometry, column widths, flags and the settings; a bad value is shown
    // and the rest still loads.
    FForm->FormCreate();
    KeepOnScreen();

    // New mail announced by an IMAP server starts the ordinary check, unless
    // the window is busy (the push asks again later).
    FPush = std::make_unique<TImapPush>([this](int32_t) {
        if (FForm->Starting || !FForm->ServerCommandsAllowed()) return false;
        FForm->CheckMail();
        return true;
    });
    FPush->Credentials = [this](int32_t index, TMailAccount& account) {
        const size_t i = static_cast<size_t>(index);
        return i < FForm->Accounts.size() && PushCredentials(FForm->Accounts[i], account);
    };
    FPush->OnIdle = [this] { PumpMessages(); };
    FTimerPush = new QTimer(this);
    FTimerPush->setObjectName(QStringLiteral("TimerPush"));
    FTimerPush->setInterval(200);
    connect(FTimerPush, &QTimer::timeout, this, [this] {
        Guard([this] {
            if (FPushStale) {
                FPushStale = false;
                FPush->SetAccounts(FForm->Accounts, ImmediateWaitEnabled());
            }
            FPush->Poll();
            // A tray program that watches nothing should not wake five
            // times a second for days; new settings start it again.
            if (FPush->Watched().empty() && !FPushStale) FTimerPush->stop();
        });
    });
    FTimerPush->start();
}

TFormMainWindow::~TFormMainWindow() {
    // The engine may still call back while it is torn down; the widgets it
    // would reach go with this window, so it goes first.
    FModel->Attach(nullptr);
    FModel->TailOutOfSight = nullptr;
    FTimerPush->stop();
    FPush.reset();
    FForm.reset();
}

void TFormMainWindow::BuildTopPanel(QWidget* parent) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFixedHeight(kTopPanelHeight);
    parent->layout()->addWidget(panel);

    auto* frame = new QFrame(panel);
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setGeometry(2, 2, 345, 105);
    FImage1 = new QLabel(frame);
    FImage1->setObjectName(QStringLiteral("Image1"));
    const QRect inside = frame->contentsRect();
    FImage1->setGeometry(inside);
    FImage1->setPixmap(PicturePixmap(QStringLiteral("logo"), inside.size(), devicePixelRatioF()));
    FImage1->setCursor(Qt::PointingHandCursor);
    FImage1->setAccessibleName(QStringLiteral("Logo"));
    SetPlainTip(FImage1, DisplayText(kHintLogo));
    FImage1->installEventFilter(this);

    // The design's 8-point sans-serif, so that the captions keep their
    // buttons' size.
    const QFont buttonFont = DesignFont(font());
    const auto makeButton = [&](const char* name, const char* caption, const char* hint,
                                const QString& picture, int left, bool lower) {
        auto* button = new QToolButton(panel);
        button->setObjectName(QString::fromLatin1(name));
        button->setFont(buttonFont);
        button->setGeometry(left, lower ? 48 : 3, kButtonWidth,
                            lower ? kLowerButtonHeight : kUpperButtonHeight);
        button->setToolButtonStyle(lower ? Qt::ToolButtonTextUnderIcon
                                         : Qt::ToolButtonTextBesideIcon);
        button->setIcon(PictureIcon(picture));
        button->setIconSize(lower ? QSize(24, 24) : QSize(16, 16));
        button->setAutoRaise(false);
        const int room = kButtonWidth - 10 - (lower ? 0 : 20);
        button->setProperty("captionRoom", room);
        button->setText(FitCaption(DisplayText(caption), QFontMetrics(buttonFont), room));
        // Read as one line, whatever breaks the caption needs on screen.
        button->setAccessibleName(OneLine(DisplayText(caption)));
        SetPlainTip(button, DisplayText(hint));
        return button;
    };
    FBitBtnStop = makeButton("BitBtnStop", kCaptionStop, kHintStop, QStringLiteral("stop"), 349, false);
    FBitBtnStop->setVisible(false);
    FBitBtnRecycle = makeButton("BitBtnRecycle", kCaptionRecycle, kHintRecycle,
                                QStringLiteral("recycle"), 431, false);
    FBitBtnInfo = makeButton("BitBtnInfo", kCaptionInfo, kHintInfo, QStringLiteral("info"), 513, false);
    FBitBtnCheck = makeButton("BitBtnCheck", kCaptionCheck, kHintCheck, QStringLiteral("check"), 349, true);
    FBitBtnElimina = makeButton("BitBtnElimina", kCaptionDelete, kHintDelete,
                                QStringLiteral("delete"), 431, true);
    FBitBtnSetup = makeButton("BitBtnSetup", kCaptionSetup, kHintSetup, QStringLiteral("setup"), 513, true);
    // Until the start timer says otherwise, the commands are off.
    for (QToolButton* b : {FBitBtnCheck, FBitBtnElimina, FBitBtnSetup, FBitBtnInfo}) b->setEnabled(false);

    connect(FBitBtnStop, &QToolButton::clicked, this, [this] { Guard([this] { FForm->BitBtnStopClick(); }); });
    connect(FBitBtnRecycle, &QToolButton::clicked, this,
            [this] { Guard([this] { FForm->BitBtnRecycleClick(); }); });
    connect(FBitBtnInfo, &QToolButton::clicked, this, [this] { Guard([this] { FForm->ShowInfoWindow(); }); });
    connect(FBitBtnCheck, &QToolButton::clicked, this, [this] { Guard([this] { FForm->CheckMail(); }); });
    connect(FBitBtnElimina, &QToolButton::clicked, this,
            [this] { Guard([this] { FForm->BitBtnEliminaClick(); }); });
    connect(FBitBtnSetup, &QToolButton::clicked, this, [this] { Guard([this] { FForm->BitBtnSetupClick(); }); });
}

void TFormMainWindow::BuildMailboxPanel(QWidget* parent) {
    FPanelMailBoxes = new QWidget(parent);
    FPanelMailBoxes->setObjectName(QStringLiteral("PanelMailBoxes"));
    FPanelMailBoxes->setFixedHeight(kMailboxPanelHeight);
    auto* layout = new QVBoxLayout(FPanelMailBoxes);
    layout->setContentsMargins(0, 0, 0, 0);
    FListViewMailBoxes = new QListWidget(FPanelMailBoxes);
    FListViewMailBoxes->setObjectName(QStringLiteral("ListViewMailBoxes"));
    FListViewMailBoxes->setViewMode(QListView::IconMode);
    FListViewMailBoxes->setIconSize(QSize(32, 32));
    FListViewMailBoxes->setMovement(QListView::Static);
    FListViewMailBoxes->setResizeMode(QListView::Adjust);
    FListViewMailBoxes->setFlow(QListView::LeftToRight);
    FListViewMailBoxes->setWrapping(true);
    // Room for "Tutti gli accounts" and most account names on one line.
    FListViewMailBoxes->setGridSize(QSize(128, 58));
    FListViewMailBoxes->setWordWrap(true);
    FListViewMailBoxes->setTextElideMode(Qt::ElideRight);
    FListViewMailBoxes->setSelectionMode(QAbstractItemView::SingleSelection);
    FListViewMailBoxes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FListViewMailBoxes->setAccessibleName(QStringLiteral("Caselle di posta"));
    FListViewMailBoxes->setAccessibleDescription(QStringLiteral(
        "Sceglie se l'elenco mostra i messaggi di tutti gli accounts o di uno solo"));
    layout->addWidget(FListViewMailBoxes);
    parent->layout()->addWidget(FPanelMailBoxes);
    FPanelMailBoxes->setVisible(false);

    connect(FListViewMailBoxes, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> selected = FListViewMailBoxes->selectedItems();
        const int item = selected.isEmpty() ? -1 : FListViewMailBoxes->row(selected.first());
        Guard([this, item] { FForm->ListViewMailBoxesSelectItem(item); });
    });
}

void TFormMainWindow::BuildMessageList(QWidget* parent) {
    FListViewMsg = new TMessageListView(parent);
    FListViewMsg->setObjectName(QStringLiteral("ListViewMsg"));
    FListViewMsg->setAccessibleName(QStringLiteral("Messaggi sul server"));
    FListViewMsg->setAccessibleDescription(
        Win1252ToQString("Una riga per messaggio; la casella della prima colonna lo seleziona per "
                         "l'eliminazione, il tasto Menu apre i comandi del messaggio evidenziato"));
    // The columns' default widths were made for this size: a date and time
    // fits its column.
    FListViewMsg->setFont(DesignFont(FListViewMsg->font()));
    FListViewMsg->setModel(FModel);
    // Rows appended below a full list change nothing in sight but the scroll
    // bar; a list nobody sees shows nothing at all.
    FModel->TailOutOfSight = [view = FListViewMsg] {
        if (!view->isVisible()) return true;
        return view->indexAt(QPoint(0, view->viewport()->height() - 1)).isValid();
    };
    FListViewMsg->setItemDelegate(new TGridDelegate(FListViewMsg));
    FListViewMsg->setRootIsDecorated(false);
    FListViewMsg->setIndentation(0);
    FListViewMsg->setItemsExpandable(false);
    FListViewMsg->setUniformRowHeights(true);
    FListViewMsg->setAllColumnsShowFocus(true);
    FListViewMsg->setSortingEnabled(false);
    FListViewMsg->setSelectionBehavior(QAbstractItemView::SelectRows);
    FListViewMsg->setSelectionMode(QAbstractItemView::SingleSelection);
    FListViewMsg->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FListViewMsg->setContextMenuPolicy(Qt::CustomContextMenu);
    FListViewMsg->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    QHeaderView* header = FListViewMsg->header();
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    header->setSectionsClickable(false);
    header->setMinimumSectionSize(0);
    for (int c = 0; c < kColumnCount; ++c) {
        header->setSectionResizeMode(c, c == 0 ? QHeaderView::Fixed : QHeaderView::Interactive);
        header->resizeSection(c, kColumnWidths[static_cast<size_t>(c)]);
    }
    parent->layout()->addWidget(FListViewMsg);

    connect(FListViewMsg->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QModelIndexList rows = FListViewMsg->selectionModel()->selectedRows();
        const int row = rows.isEmpty() ? -1 : rows.first().row();
        if (row == FForm->HighlightedRow()) return;
        Guard([this, row] { FForm->SetHighlightedRow(row); });
    });
    connect(FListViewMsg, &QTreeView::doubleClicked, this,
            [this] { Guard([this] { FForm->ListViewMsgDblClick(); }); });
    connect(FListViewMsg, &QTreeView::customContextMenuRequested, this, [this](const QPoint& at) {
        FPopupMenuMsg->popup(FListViewMsg->viewport()->mapToGlobal(at));
    });
}

QAction* TFormMainWindow::AddAction(QMenu* menu, const char* objectName, const char* caption,
                                    const QString& picture, const std::function<void()>& handler) {
    auto* action = new QAction(NoMnemonic(DisplayText(caption)), menu);
    action->setObjectName(QString::fromLatin1(objectName));
    if (!picture.isEmpty()) action->setIcon(PictureIcon(picture));
    connect(action, &QAction::triggered, this, [this, handler] { Guard(handler); });
    menu->addAction(action);
    return action;
}

void TFormMainWindow::BuildMenus() {
    FPopupMenuMsg = new QMenu(this);
    FPopupMenuMsg->setObjectName(QStringLiteral("PopupMenuMsg"));
    TFormMain& f = *FForm;
    QAction* header = AddAction(FPopupMenuMsg, "Visualizzalintestazionedelmessaggio1",
                                kCaptionViewHeader, QStringLiteral("view-header"),
                                [&f] { f.Visualizzalintestazionedelmessaggio1Click(); });
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    FPopupMenuMsg->setDefaultAction(header);
    AddAction(FPopupMenuMsg, "Visualizzamessaggio1", kCaptionViewMessage,
              QStringLiteral("view-message"), [&f] { f.Visualizzamessaggio1Click(); });
    AddAction(FPopupMenuMsg, "Salva1", kCaptionSave, QStringLiteral("save"),
              [&f] { f.Salva1Click(); });
    FPopupMenuMsg->addSeparator();
    AddAction(FPopupMenuMsg, "Bloccamittente1", kCaptionBlockSender, QStringLiteral("block"),
              [&f] { f.Bloccamittente1Click(); });
    AddAction(FPopupMenuMsg, "Bloccaoggetto1", kCaptionBlockSubject, QStringLiteral("block"),
              [&f] { f.Bloccaoggetto1Click(); });
    FPopupMenuMsg->addSeparator();
    AddAction(FPopupMenuMsg, "Accettasempreilmittente1", kCaptionAcceptSender,
              QStringLiteral("accept"), [&f] { f.Accettasempreilmittente1Click(); });
    AddAction(FPopupMenuMsg, "Accettasempreloggetto1", kCaptionAcceptSubject,
              QStringLiteral("accept"), [&f] { f.Accettasempreloggetto1Click(); });
    FPopupMenuMsg->addSeparator();
    AddAction(FPopupMenuMsg, "Selezionatutto1", kCaptionSelectAll, QStringLiteral("select-all"),
              [&f] { f.Selezionatutto1Click(); });
    AddAction(FPopupMenuMsg, "Deselezionatutto1", kCaptionSelectNone,
              QStringLiteral("select-none"), [&f] { f.Deselezionatutto1Click(); });
    AddAction(FPopupMenuMsg, "Invertiselezione1", kCaptionInvertSelection,
              QStringLiteral("select-invert"), [&f] { f.Invertiselezione1Click(); });

    FPopupMenuTray = new QMenu(this);
    FPopupMenuTray->setObjectName(QStringLiteral("PopupMenuTray"));
    FPopupMenuTray->setStyleSheet(QStringLiteral("QMenu { icon-size: 32px; }"));
    FInfosu1 = AddAction(FPopupMenuTray, "Infosu1", kCaptionTrayInfo, QStringLiteral("info"),
                         [&f] { f.ShowInfoWindow(); });
    FPopupMenuTray->addSeparator();
    QAction* toggle = AddAction(FPopupMenuTray, "RipristinaRiduciaicona1", kCaptionTrayToggle,
                                QStringLiteral("toggle"), [this] { ToggleMainWindow(); });
    toggle->setFont(bold);
    FPopupMenuTray->setDefaultAction(toggle);
    FControllaposta1 = AddAction(FPopupMenuTray, "Controllaposta1", kCaptionTrayCheck,
                                 QStringLiteral("check"), [&f] { f.CheckMail(); });
    AddAction(FPopupMenuTray, "Apricestino1", kCaptionTrayRecycle, QStringLiteral("recycle"),
              [&f] { f.Apricestino1Click(); });
    FPopupMenuTray->addSeparator();
    AddAction(FPopupMenuTray, "Chiudi1", kCaptionTrayClose, QStringLiteral("close"),
              [this] { close(); });
    FInfosu1->setEnabled(false);
    FControllaposta1->setEnabled(false);
}

void TFormMainWindow::BuildTray() {
    FTrayIcon1 = new QSystemTrayIcon(ProgramIcon(), this);
    FTrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    FTrayIcon1->setToolTip(Win1252ToQString(kAppTitle));
    FTrayIcon1->setContextMenu(FPopupMenuTray);
    FTrayClickTimer = new QTimer(this);
    FTrayClickTimer->setSingleShot(true);
    FTrayClickTimer->setInterval(QApplication::doubleClickInterval());
    connect(FTrayClickTimer, &QTimer::timeout, this, [this] { ToggleMainWindow(); });
    connect(FTrayIcon1, &QSystemTrayIcon::activated, this, &TFormMainWindow::TrayActivated);
    // Shown from the start; without a tray host it simply draws nowhere.
    if (TrayAvailable()) FTrayIcon1->show();
}

void TFormMainWindow::TrayActivated(QSystemTrayIcon::ActivationReason reason) {
    // A double click toggles once: the single click waits to see whether a
    // second one follows.
    if (reason == QSystemTrayIcon::Trigger) {
        FTrayClickTimer->start();
    } else if (reason == QSystemTrayIcon::DoubleClick) {
        FTrayClickTimer->stop();
        ToggleMainWindow();
    }
}

bool TFormMainWindow::TrayAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TFormMainWindow::Guard(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        FForm->ReportError(e);
    }
}

void TFormMainWindow::CenterOnScreen() {
    QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void TFormMainWindow::KeepOnScreen() {
    // The saved place counts when the top of the window, where it is
    // grabbed, lies on some screen; otherwise (a screen unplugged since)
    // the window is centred.
    const QRect grip(pos(), QSize(std::min(width(), 120), 24));
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect hit = screen->availableGeometry().intersected(grip);
        if (hit.width() >= 40 && hit.height() >= 8) return;
    }
    CenterOnScreen();
}

// --- Events ------------------------------------------------------------------

void TFormMainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!FShownOnce) {
        FShownOnce = true;
        Guard([this] { FForm->FormShow(); });
    }
}

void TFormMainWindow::closeEvent(QCloseEvent* event) {
    // Refused without a word while a check or a deletion runs.
    if (!FForm->FormCloseQuery()) {
        event->ignore();
        return;
    }
    FForm->FormClose();
    FTrayIcon1->hide();
    event->accept();
    Q_EMIT Closed();
}

void TFormMainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // The minimise button hides the window into the tray. Without a tray the
    // window stays minimised in the task bar, where it can be found again.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayAvailable()) {
        QTimer::singleShot(0, this, [this] {
            if (!isMinimized()) return;
            ToggleMainWindow();
            setWindowState(windowState() & ~Qt::WindowMinimized);
        });
    }
}

bool TFormMainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FImage1 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Guard([this] { FForm->Image1Click(); });
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- TScreen -------------------------------------------------------------------

void TFormMainWindow::SetStatusText(const std::string& text) {
    FPendingStatus = DisplayText(text);
    FStatusPending = true;
    const bool busy = FForm != nullptr && (FForm->Checking || FForm->Deleting);
    if (!busy || !FStatusClock.isValid() || FStatusClock.elapsed() >= kStatusPaintMs) ApplyStatus();
}

void TFormMainWindow::ApplyStatus() {
    if (!FStatusPending) return;
    FStatusPending = false;
    FStatusClock.restart();
    FStatusLabel->setText(FPendingStatus);
}

void TFormMainWindow::PumpMessages() {
    const bool busy = FForm->Checking || FForm->Deleting;
    // While a long operation runs it pumps several times per message; a turn
    // of the event loop every few milliseconds keeps the window as lively
    // (a click still waits far less than the 100 ms it may) at a fraction of
    // the cost.
    if (busy && FPumpClock.isValid() && FPumpClock.elapsed() < kPumpGapMs) return;
    FPumpClock.restart();
    // A text held back while the operation ran is shown once it is due, and
    // always when the operation is over.
    if (FStatusPending && (!busy || FStatusClock.elapsed() >= kStatusPaintMs)) ApplyStatus();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int32_t TFormMainWindow::ShowMsgBox(const std::string& message, const std::string& title,
                                    int32_t buttons, int32_t icon, int32_t focusedButton) {
    return kalmuro::ShowMsgBox(message, title, buttons, icon, focusedButton);
}

void TFormMainWindow::ShowBalloon(const std::string& title, const std::string& text,
                                  int32_t timeoutMs) {
    // An empty text asks to take a balloon away; the desktop does that on
    // its own when the time is up.
    if (text.empty()) return;
    FLastBalloon = NotificationText(DisplayText(text));
    if (TrayAvailable() && FTrayIcon1->isVisible())
        FTrayIcon1->showMessage(NotificationText(DisplayText(title)), FLastBalloon,
                                QSystemTrayIcon::Information, timeoutMs);
}

void TFormMainWindow::SetCommandState(const TCommandState& state) {
    FBitBtnCheck->setEnabled(state.Check);
    FBitBtnElimina->setEnabled(state.Delete);
    FBitBtnSetup->setEnabled(state.Setup);
    FBitBtnInfo->setEnabled(state.Info);
    FInfosu1->setEnabled(state.Info);
    FControllaposta1->setEnabled(state.Check);
}

void TFormMainWindow::SetStopButton(bool visible, bool enabled) {
    FBitBtnStop->setEnabled(enabled);
    FBitBtnStop->setVisible(visible);
}

void TFormMainWindow::SetDeleteCaption(const std::string& caption) {
    FBitBtnElimina->setText(FitCaption(DisplayText(caption), QFontMetrics(FBitBtnElimina->font()),
                                       FBitBtnElimina->property("captionRoom").toInt()));
    FBitBtnElimina->setAccessibleName(OneLine(DisplayText(caption)));
}

void TFormMainWindow::SetAutoCheckTimer(bool enabled, int32_t intervalMs) {
    if (!enabled) {
        FTimerAutoCheck->stop();
        return;
    }
    FTimerAutoCheck->setInterval(intervalMs);
    FTimerAutoCheck->start();
}

void TFormMainWindow::SetStartTimer(bool enabled) {
    if (enabled)
        FTimerStart->start();
    else
        FTimerStart->stop();
}

bool TFormMainWindow::MainWindowVisible() {
    if (TrayAvailable()) return isVisible();
    return isVisible() && !isMinimized();
}

void TFormMainWindow::ToggleMainWindow() {
    const bool tray = TrayAvailable();
    if (tray && !FTrayIcon1->isVisible()) FTrayIcon1->show();
    if (MainWindowVisible()) {
        if (tray)
            hide();
        else
            showMinimized();
        return;
    }
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void TFormMainWindow::SetMailboxes(const std::vector<TMailboxItem>& items, int32_t highlighted,
                                   bool panelVisible) {
    const QSignalBlocker blocker(FListViewMailBoxes);
    FListViewMailBoxes->clear();
    for (size_t i = 0; i < items.size(); ++i) {
        auto* item = new QListWidgetItem(
            PictureIcon(i == 0 ? QStringLiteral("mailbox-all") : QStringLiteral("mailbox")),
            Win1252ToQString(items[i].Caption));
        item->setData(Qt::UserRole, items[i].AccountIndex);
        item->setToolTip(PlainToolTip(Win1252ToQString(items[i].Caption)));
        FListViewMailBoxes->addItem(item);
    }
    if (highlighted >= 0 && highlighted < FListViewMailBoxes->count())
        FListViewMailBoxes->setCurrentRow(highlighted, QItemSelectionModel::ClearAndSelect);
    FPanelMailBoxes->setVisible(panelVisible);
}

void TFormMainWindow::SetListsBusy(bool busy) {
    FListsBusy = busy;
    // Only the viewports take the busy colour, and they go back to inheriting
    // afterwards. A palette set on a view reaches its header and scroll bars,
    // and every palette set anew gets a new cache key: the style would cache
    // their pictures again under keys never asked for twice, two sets of them
    // at every check, until the pixmap cache is full.
    for (QAbstractItemView* view :
         std::initializer_list<QAbstractItemView*>{FListViewMsg, FListViewMailBoxes}) {
        if (busy) {
            QPalette palette = view->palette();
            palette.setColor(QPalette::Base, QApplication::palette().color(QPalette::Button));
            view->viewport()->setPalette(palette);
        } else {
            view->viewport()->setPalette(QPalette());
        }
    }
    FListViewMailBoxes->setEnabled(!busy);
}

void TFormMainWindow::RowsReset() { FModel->RowsReset(); }
void TFormMainWindow::RowsAppended(int32_t first, int32_t count) { FModel->RowsAppended(first, count); }
void TFormMainWindow::RowChanged(int32_t row) { FModel->RowChanged(row); }
void TFormMainWindow::RowsRepaint() { FModel->RowsRepaint(); }

void TFormMainWindow::ShowMessageViewer(const std::string& caption, const std::string& text) {
    kalmuro::ShowMessageViewer(this, caption, text);
}

bool TFormMainWindow::ExecuteSaveDialog(const TSaveDialogRequest& request, std::string& chosen) {
    return kalmuro::ExecuteSaveDialog(this, request, chosen,
                                      [this](const std::string& text) { FForm->ShowError(text); });
}

std::string TFormMainWindow::DocumentsFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/'))) folder.chop(1);
    return QFile::encodeName(folder).toStdString();
}

bool TFormMainWindow::IsShiftDown() {
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
}

bool TFormMainWindow::OpenWithShell(const std::string& target, const std::string& parameters,
                                    bool /*maximised*/) {
    return OpenWithDesktop(target, parameters);
}

TWindowBounds TFormMainWindow::WindowBounds() {
    return {static_cast<int32_t>(x()), static_cast<int32_t>(y()), static_cast<int32_t>(width()),
            static_cast<int32_t>(height())};
}

void TFormMainWindow::SetWindowBounds(const TWindowBounds& bounds) {
    move(bounds.Left, bounds.Top);
    resize(bounds.Width, bounds.Height);
}

int32_t TFormMainWindow::ColumnWidth(int32_t column) {
    if (column < 0 || column >= kColumnCount) return 0;
    return FListViewMsg->header()->sectionSize(column);
}

void TFormMainWindow::SetColumnWidth(int32_t column, int32_t width) {
    // The check-box column keeps its width whatever the settings say.
    if (column <= 0 || column >= kColumnCount || width < 0) return;
    FListViewMsg->header()->resizeSection(column, width);
}

void TFormMainWindow::ShowAboutWindow() {
    TFormInfo about(TFormInfo::About, this);
    about.OnImageClick = [this] { Guard([this] { FForm->OpenMakerPage(kMakerPageInfo); }); };
    about.exec();
}

bool TFormMainWindow::ExecuteSetupDialog() {
    const bool confirmed = kalmuro::ExecuteSetupDialog(*FForm, this);
    // The engine reloads the accounts once this returns; the next tick takes them.
    if (confirmed) {
        FPushStale = true;
        FTimerPush->start();
    }
    return confirmed;
}

}  // namespace kalmuro
