// The main window of the desktop program: the widgets of TFormMain, drawn
// with Qt, over the engine that decides everything they show. It is the
// engine's screen; the engine calls it back for every text, state and row.
//
// Usable on its own (tests, benchmarks): construct it with a home folder,
// show() it, and drive the engine through Form() or the widgets.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/form_main.h"
#include "engine/imap_push.h"
#include "engine/screen.h"

class QAction;
class QFrame;
class QLabel;
class QListWidget;
class QMenu;
class QTimer;
class QToolButton;
class QTreeView;

namespace kalmuro {

class TMessageModel;

class TFormMainWindow : public QMainWindow, public TScreen {
    Q_OBJECT
public:
    // homeDir: the folder of kalmuro.ini, the rule lists and the recycle
    // folder; empty keeps the one already set (the program's folder by
    // default). The settings are loaded here, as the window is created.
    explicit TFormMainWindow(const std::string& homeDir = std::string(),
                             QWidget* parent = nullptr);
    ~TFormMainWindow() override;

    TFormMain& Form() { return *FForm; }
    TMessageModel& Model() { return *FModel; }

    // The widgets, by their design names.
    QTreeView* ListViewMsg() const { return FListViewMsg; }
    QListWidget* ListViewMailBoxes() const { return FListViewMailBoxes; }
    QWidget* PanelMailBoxes() const { return FPanelMailBoxes; }
    QLabel* StatusLabel() const { return FStatusLabel; }
    // The status bar's text as the engine last set it (the label may show it
    // a moment later while a long operation runs).
    const QString& StatusText() const { return FPendingStatus; }
    QToolButton* BitBtnStop() const { return FBitBtnStop; }
    QToolButton* BitBtnRecycle() const { return FBitBtnRecycle; }
    QToolButton* BitBtnInfo() const { return FBitBtnInfo; }
    QToolButton* BitBtnCheck() const { return FBitBtnCheck; }
    QToolButton* BitBtnElimina() const { return FBitBtnElimina; }
    QToolButton* BitBtnSetup() const { return FBitBtnSetup; }
    QLabel* Image1() const { return FImage1; }
    QMenu* PopupMenuMsg() const { return FPopupMenuMsg; }
    QMenu* PopupMenuTray() const { return FPopupMenuTray; }
    QSystemTrayIcon* TrayIcon1() const { return FTrayIcon1; }
    QTimer* TimerStart() const { return FTimerStart; }
    QTimer* TimerAutoCheck() const { return FTimerAutoCheck; }

    // Whether the desktop has a tray (or a StatusNotifier host) to hide into;
    // without one, hiding minimises the window instead.
    bool TrayAvailable() const;
    // The last balloon asked for (title, text), as handed to the tray.
    const QString& LastBalloonText() const { return FLastBalloon; }

    // --- TScreen -------------------------------------------------------------
    void SetStatusText(const std::string& text) override;
    void PumpMessages() override;
    int32_t ShowMsgBox(const std::string& message, const std::string& title, int32_t buttons,
                       int32_t icon, int32_t focusedButton) override;
    void ShowBalloon(const std::string& title, const std::string& text,
                     int32_t timeoutMs) override;
    void SetCommandState(const TCommandState& state) override;
    void SetStopButton(bool visible, bool enabled) override;
    void SetDeleteCaption(const std::string& caption) override;
    void SetAutoCheckTimer(bool enabled, int32_t intervalMs) override;
    void SetStartTimer(bool enabled) override;
    bool MainWindowVisible() override;
    void ToggleMainWindow() override;
    void SetMailboxes(const std::vector<TMailboxItem>& items, int32_t highlighted,
                      bool panelVisible) override;
    void SetListsBusy(bool busy) override;
    void RowsReset() override;
    void RowsAppended(int32_t first, int32_t count) override;
    void RowChanged(int32_t row) override;
    void RowsRepaint() override;
    void ShowMessageViewer(const std::string& caption, const std::string& text) override;
    bool ExecuteSaveDialog(const TSaveDialogRequest& request, std::string& chosen) override;
    std::string DocumentsFolder() override;
    bool IsShiftDown() override;
    bool OpenWithShell(const std::string& target, const std::string& parameters,
                       bool maximised) override;
    TWindowBounds WindowBounds() override;
    void SetWindowBounds(const TWindowBounds& bounds) override;
    int32_t ColumnWidth(int32_t column) override;
    void SetColumnWidth(int32_t column, int32_t width) override;
    void ShowAboutWindow() override;
    bool ExecuteSetupDialog() override;
    // A window can ask and open the browser when a grant is gone.
    bool CanSignIn() override { return true; }

Q_SIGNALS:
    // The window accepted a close: the program ends.
    void Closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildTopPanel(QWidget* parent);
    void BuildMailboxPanel(QWidget* parent);
    void BuildMessageList(QWidget* parent);
    void BuildMenus();
    void BuildTray();
    // Runs an engine handler; an error that escapes it is shown in the error
    // box and goes no further (never into Qt's event loop).
    void Guard(const std::function<void()>& handler);
    QAction* AddAction(QMenu* menu, const char* objectName, const char* caption,
                       const QString& picture, const std::function<void()>& handler);
    void TrayActivated(QSystemTrayIcon::ActivationReason reason);
    void CenterOnScreen();
    void KeepOnScreen();

    std::unique_ptr<TFormMain> FForm;
    TMessageModel* FModel = nullptr;

    QLabel* FImage1 = nullptr;
    QToolButton* FBitBtnStop = nullptr;
    QToolButton* FBitBtnRecycle = nullptr;
    QToolButton* FBitBtnInfo = nullptr;
    QToolButton* FBitBtnCheck = nullptr;
    QToolButton* FBitBtnElimina = nullptr;
    QToolButton* FBitBtnSetup = nullptr;
    QWidget* FPanelMailBoxes = nullptr;
    QListWidget* FListViewMailBoxes = nullptr;
    QTreeView* FListViewMsg = nullptr;
    QLabel* FStatusLabel = nullptr;
    QMenu* FPopupMenuMsg = nullptr;
    QMenu* FPopupMenuTray = nullptr;
    QAction* FInfosu1 = nullptr;
    QAction* FControllaposta1 = nullptr;
    QSystemTrayIcon* FTrayIcon1 = nullptr;
    QTimer* FTimerStart = nullptr;
    QTimer* FTimerAutoCheck = nullptr;
    // A single click on the tray icon waits this long for a second one.
    QTimer* FTrayClickTimer = nullptr;
    QString FLastBalloon;
    // While a long operation runs, the status bar is painted at most every
    // kStatusPaintMs with its latest text, so that a check of thousands of
    // messages is not spent painting texts nobody can read.
    static constexpr int kStatusPaintMs = 40;
    QString FPendingStatus;
    bool FStatusPending = false;
    QElapsedTimer FStatusClock;
    void ApplyStatus();
    static constexpr int kPumpGapMs = 5;
    QElapsedTimer FPumpClock;
    bool FShownOnce = false;
    bool FListsBusy = false;
    // IDLE connections to the IMAP accounts, polled from FTimerPush; the
    // accounts are handed over again after the settings were confirmed.
    std::unique_ptr<TImapPush> FPush;
    QTimer* FTimerPush = nullptr;
    bool FPushStale = true;
};

}  // namespace kalmuro
