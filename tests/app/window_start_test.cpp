// The window as it starts and ends: sizes, captions, the commands held off
// for the first second, the geometry restored and saved, the close refused
// while a long operation runs, the about window and the tray fallback.
#include <QHeaderView>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include "app/app_harness.h"
#include "app/form_info.h"
#include "app/form_main_window.h"
#include "mail/accounts.h"

using namespace kalmuro;
using namespace kalmuro::apptest;

class WindowStartTest : public QObject {
    Q_OBJECT

private:
    static QList<int> Widths(TFormMainWindow& w) {
        QList<int> widths;
        for (int c = 0; c < 5; ++c) widths << w.ListViewMsg()->header()->sectionSize(c);
        return widths;
    }
    static bool CommandsOff(TFormMainWindow& w) {
        return !w.BitBtnCheck()->isEnabled() && !w.BitBtnElimina()->isEnabled() &&
               !w.BitBtnSetup()->isEnabled() && !w.BitBtnInfo()->isEnabled();
    }
    static QAction* TrayItem(TFormMainWindow& w, const char* name) {
        return w.PopupMenuTray()->findChild<QAction*>(QString::fromLatin1(name));
    }

private Q_SLOTS:
    void startWithoutSettings() {
        THome home;
        TBoxAnswerer boxes;
        TFormMainWindow w(home.Dir());
        QCOMPARE(w.windowTitle(), QStringLiteral("Quorvane Kalmuro - Versione 1.0.0 build 1"));
        QCOMPARE(w.size(), QSize(603, 422));
        QCOMPARE(w.minimumSize(), QSize(603, 216));
        QCOMPARE(Widths(w), (QList<int>{20, 155, 235, 110, 50}));
        QCOMPARE(w.BitBtnElimina()->text(), QStringLiteral("Sposta nel\nCestino"));
        QCOMPARE(w.BitBtnRecycle()->text(), QStringLiteral("Apri\ncestino"));
        QVERIFY(w.PanelMailBoxes()->isHidden());
        QVERIFY(w.BitBtnStop()->isHidden());
        QVERIFY(CommandsOff(w));

        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // Centred on the screen.
        const QRect screen = w.screen()->availableGeometry();
        QCOMPARE(w.x(), screen.x() + (screen.width() - 603) / 2);
        // Off for the first second, then as the state says: no account, no
        // check; settings and about always.
        QTest::qWait(700);
        QVERIFY(CommandsOff(w));
        QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnSetup()->isEnabled(), 2000);
        QVERIFY(w.BitBtnInfo()->isEnabled());
        QVERIFY(!w.BitBtnCheck()->isEnabled());
        QVERIFY(!w.BitBtnElimina()->isEnabled());
        QVERIFY(TrayItem(w, "Infosu1")->isEnabled());
        QVERIFY(!TrayItem(w, "Controllaposta1")->isEnabled());
        QVERIFY(boxes.Seen.empty());
    }

    void commandsFollowTheAccounts() {
        THome home;
        TMailAccount inactive;
        inactive.AccountName = "Spenta";
        inactive.PopServer = "127.0.0.1";
        inactive.UserId = "utente";
        inactive.Active = false;
        SaveAccounts({inactive});
        TFormMainWindow w(home.Dir());
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnCheck()->isEnabled(), 3000);
        QVERIFY(TrayItem(w, "Controllaposta1")->isEnabled());
        QVERIFY(w.PanelMailBoxes()->isHidden());
    }

    void captionsHintsAndMenus() {
        THome home;
        home.Write("kalmuro.ini", "[Setup]\r\nCopyToRecycle=0\r\n");
        TFormMainWindow w(home.Dir());
        QCOMPARE(w.BitBtnElimina()->text(), QStringLiteral("Elimina"));
        QCOMPARE(w.BitBtnCheck()->toolTip().contains(
                     QStringLiteral("Controlla subito la posta elettronica presente sul server")),
                 true);
        QVERIFY(w.BitBtnRecycle()->toolTip().contains(QStringLiteral("conentente")));
        QVERIFY(w.BitBtnElimina()->toolTip().contains(
            QStringLiteral("selezionati\n&lt;Shift&gt; inverte")));
        QCOMPARE(w.ListViewMsg()->model()->headerData(2, Qt::Horizontal).toString(),
                 QStringLiteral("Oggetto"));

        QStringList msgMenu;
        for (QAction* a : w.PopupMenuMsg()->actions()) msgMenu << a->text();
        QCOMPARE(msgMenu, (QStringList{
                              QStringLiteral("Visualizza solo l'intestazione del messaggio"),
                              QStringLiteral("Visualizza tutto il contenuto del messaggio"),
                              QStringLiteral("Salva il messaggio su file..."), QString(),
                              QStringLiteral("Blocca il mittente del messaggio evidenziato"),
                              QStringLiteral("Blocca l'oggetto del messaggio evidenziato"), QString(),
                              QStringLiteral("Accetta sempre il mittente del messaggio evidenziato"),
                              QStringLiteral("Accetta sempre l'oggetto del  messaggio evidenziato"),
                              QString(), QStringLiteral("Seleziona tutto"),
                              QStringLiteral("Deseleziona tutto"), QStringLiteral("Inverti selezione")}));
        QCOMPARE(w.PopupMenuMsg()->defaultAction(), w.PopupMenuMsg()->actions().first());
        QVERIFY(w.PopupMenuMsg()->actions().first()->font().bold());

        QStringList trayMenu;
        for (QAction* a : w.PopupMenuTray()->actions()) trayMenu << a->text();
        QCOMPARE(trayMenu, (QStringList{QStringLiteral("Info su..."), QString(),
                                        QStringLiteral("Ripristina/Riduci a icona"),
                                        QStringLiteral("Controlla posta"),
                                        QStringLiteral("Apri cestino"), QString(),
                                        QStringLiteral("Chiudi")}));
        QCOMPARE(w.PopupMenuTray()->defaultAction(), TrayItem(w, "RipristinaRiduciaicona1"));
        QCOMPARE(w.TrayIcon1()->toolTip(), QStringLiteral("Quorvane Kalmuro"));
    }

    void geometryRestoredAndSavedAtClose() {
        THome home;
        home.Write("kalmuro.ini",
                   "[Setup]\r\nLeft=30\r\nTop=40\r\nHeight=500\r\nWidth=700\r\n"
                   "WidthCol0=90\r\nWidthCol1=170\r\nWidthCol4=66\r\n");
        {
            TFormMainWindow w(home.Dir());
            QCOMPARE(w.pos(), QPoint(30, 40));
            QCOMPARE(w.size(), QSize(700, 500));
            // The check-box column keeps its 20 pixels.
            QCOMPARE(Widths(w), (QList<int>{20, 170, 235, 110, 66}));
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.ListViewMsg()->header()->resizeSection(2, 300);
            w.resize(650, 480);
            QSignalSpy closed(&w, &TFormMainWindow::Closed);
            QVERIFY(w.close());
            QCOMPARE(closed.count(), 1);
        }
        QCOMPARE(Ini("Width"), QStringLiteral("650"));
        QCOMPARE(Ini("Height"), QStringLiteral("480"));
        QCOMPARE(Ini("Left"), QStringLiteral("30"));
        QCOMPARE(Ini("WidthCol0"), QStringLiteral("20"));
        QCOMPARE(Ini("WidthCol2"), QStringLiteral("300"));
        QCOMPARE(Ini("WidthCol3"), QStringLiteral("110"));
        // The keys in the order they are written.
        const std::string ini = testing::ReadFile(home.Path("kalmuro.ini"));
        QVERIFY(ini.find("Left=") < ini.find("Top=") && ini.find("Top=") < ini.find("Height="));
    }

    void positionOffEveryScreenIsCentred() {
        THome home;
        home.Write("kalmuro.ini", "[Setup]\r\nLeft=-5000\r\nTop=9000\r\n");
        TFormMainWindow w(home.Dir());
        const QRect screen = w.screen()->availableGeometry();
        QCOMPARE(w.pos(), QPoint(screen.x() + (screen.width() - 603) / 2,
                                 screen.y() + (screen.height() - 422) / 2));
    }

    void badSettingsValueStillEnablesTheCommands() {
        THome home;
        home.Write("kalmuro.ini", "[Setup]\r\nWidth=largo\r\nCheckStart=forse\r\n");
        TBoxAnswerer boxes;
        TFormMainWindow w(home.Dir());
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnSetup()->isEnabled(), 3000);
        QCOMPARE(w.size(), QSize(603, 422));
        QCOMPARE(boxes.Seen.size(), size_t(2));
        QCOMPARE(boxes.Seen[0].Text, QStringLiteral("'largo' is not a valid integer value"));
        QCOMPARE(boxes.Seen[1].Text, QStringLiteral("'forse' is not a valid integer value"));
    }

    void closeRefusedWhileCheckingOrDeleting() {
        THome home;
        TFormMainWindow w(home.Dir());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (bool* flag : {&w.Form().Checking, &w.Form().Deleting}) {
            *flag = true;
            QVERIFY(!w.close());
            QVERIFY(w.isVisible());
            *flag = false;
        }
        QVERIFY(!QFile::exists(QString::fromStdString(home.Path("kalmuro.ini"))));
        QVERIFY(w.close());
        QVERIFY(QFile::exists(QString::fromStdString(home.Path("kalmuro.ini"))));
    }

    void aboutWindowIsModalAndHoldsTheTimer() {
        THome home;
        home.Write("kalmuro.ini", "[Setup]\r\nCheckBoxAutoCheck=1\r\n");
        TFormMainWindow w(home.Dir());
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnInfo()->isEnabled(), 3000);
        QVERIFY(w.TimerAutoCheck()->isActive());
        bool timerWhileOpen = true;
        QString caption;
        bool okShown = false;
        OnNextModal([&](QWidget* modal) {
            auto* about = qobject_cast<TFormInfo*>(modal);
            if (about == nullptr) {
                modal->close();
                return;
            }
            caption = about->windowTitle();
            okShown = about->BitBtn1()->isVisible();
            timerWhileOpen = w.TimerAutoCheck()->isActive();
            QTest::keyClick(about, Qt::Key_Escape);
        });
        QTest::mouseClick(w.BitBtnInfo(), Qt::LeftButton);
        QCOMPARE(caption, QStringLiteral("Info"));
        QVERIFY(okShown);
        QVERIFY(!timerWhileOpen);
        QVERIFY(w.TimerAutoCheck()->isActive());
    }

    void hidingWithoutATrayMinimises() {
        if (QSystemTrayIcon::isSystemTrayAvailable()) QSKIP("a tray host is running here");
        THome home;
        TFormMainWindow w(home.Dir());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.MainWindowVisible());
        w.ToggleMainWindow();
        QVERIFY(w.isMinimized());
        QVERIFY(w.isVisible());  // still in the task bar, never stranded
        QVERIFY(!w.MainWindowVisible());
        w.ToggleMainWindow();
        QTRY_VERIFY(!w.isMinimized());
        QVERIFY(w.MainWindowVisible());
    }
};

QTEST_MAIN(WindowStartTest)
#include "window_start_test.moc"
