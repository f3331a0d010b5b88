// The window through whole checks on a real Dovecot: rows that appear while
// the check runs, ticks, colours, the count, the tips, the mailbox filter,
// the close refused meanwhile; Stop against a silent server; hostile header
// text shown as written.
#include <QAccessible>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QHelpEvent>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>
#include <QToolTip>
#include <QTreeView>
#include <atomic>
#include <set>
#include <thread>

#include "app/app_harness.h"
#include "app/form_main_window.h"
#include "app/message_model.h"
#include "mail/accounts.h"
#include "support/dovecot_server.h"
#include "support/scripted_server.h"

using namespace kalmuro;
using namespace kalmuro::apptest;

namespace {

TMailAccount At(const std::string& name, int32_t port, const std::string& user,
                const std::string& password) {
    TMailAccount a;
    a.AccountName = name;
    a.PopServer = "127.0.0.1";
    a.Port = std::to_string(port);
    a.UserId = user;
    a.UserPwd = password;
    return a;
}

QString Cell(TFormMainWindow& w, int row, int column) {
    return w.Model().index(row, column).data().toString();
}

QColor Foreground(TFormMainWindow& w, int row) {
    return w.Model().index(row, 2).data(Qt::ForegroundRole).value<QBrush>().color();
}

bool Ticked(TFormMainWindow& w, int row) {
    return w.Model().index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
}

void ClickCheckBox(TFormMainWindow& w, int row) {
    QTest::mouseClick(w.ListViewMsg()->viewport(), Qt::LeftButton, {},
                      CheckBoxCenter(w.ListViewMsg(), row));
}

// The text the tip of a row shows, as a person reads it.
QString ShownTip(TFormMainWindow& w, int row) {
    QTreeView* view = w.ListViewMsg();
    const QPoint at = view->visualRect(w.Model().index(row, 2)).center();
    QHelpEvent help(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &help);
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* label = top->findChild<QLabel*>(QStringLiteral("qtooltip_label"));
            label != nullptr && top->isVisible()) {
            QTextDocument document;
            document.setHtml(label->text());
            return document.toPlainText();
        }
        if (top->objectName() == QStringLiteral("qtooltip_label") && top->isVisible()) {
            QTextDocument document;
            document.setHtml(static_cast<QLabel*>(top)->text());
            return document.toPlainText();
        }
    }
    return QStringLiteral("<no tip>");
}

// The window, with a hook that hears every status text as the engine sets
// it: a point inside a long operation that does not depend on how often the
// event loop turns.
class TWatchedWindow : public TFormMainWindow {
public:
    using TFormMainWindow::TFormMainWindow;
    std::function<void(const std::string&)> OnStatus;
    void SetStatusText(const std::string& text) override {
        TFormMainWindow::SetStatusText(text);
        if (OnStatus) OnStatus(text);
    }
};

void WaitForCommands(TFormMainWindow& w) {
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnSetup()->isEnabled(), 3000);
}

}  // namespace

class WindowCheckTest : public QObject {
    Q_OBJECT

    test::TDovecotServer* Server = nullptr;
    std::vector<test::TManifestEntry> Alice, Bob;

private Q_SLOTS:
    void initTestCase() {
        Server = new test::TDovecotServer;
        QVERIFY2(Server->AddUser("alice", "secret") && Server->AddUser("bob", "two words") &&
                     Server->AddUser("carol", "pw") && Server->GenerateMail("alice", 12, 41) &&
                     Server->GenerateMail("bob", 5, 42) && Server->GenerateMail("carol", 4, 43) &&
                     Server->Start(),
                 Server->Error().c_str());
        Alice = Server->Manifest("alice");
        Bob = Server->Manifest("bob");
        QCOMPARE(Alice.size(), size_t(12));
    }
    void cleanupTestCase() { delete Server; }

    void checkFillsTheListWhileItRuns() {
        THome home;
        TBoxAnswerer boxes;
        home.Write("Mittenti.txt", Alice[2].FromAddress + "\r\n");
        home.Write("MittentiOk.txt", Alice[4].FromAddress + "\r\n");
        SaveAccounts({At("Alice", Server->Port(), "alice", "secret"),
                      At("Bob", Server->Port(), "bob", "two words")});
        TFormMainWindow w(home.Dir());
        QVERIFY(!w.PanelMailBoxes()->isHidden());
        QCOMPARE(w.ListViewMailBoxes()->count(), 3);
        QCOMPARE(w.ListViewMailBoxes()->item(0)->text(), QStringLiteral("Tutti gli accounts"));
        QCOMPARE(w.ListViewMailBoxes()->item(2)->text(), QStringLiteral("Bob"));
        WaitForCommands(w);

        // Rows counted as they reach the list while the check runs, the lists
        // drawn busy, and a close that must be refused. Watched at each
        // insertion rather than on a timer, so that a fast check on a busy
        // machine sees the same.
        std::set<int> rowsSeen;
        bool busy = false, closeRefused = false, tried = false;
        const QMetaObject::Connection watch =
            connect(&w.Model(), &QAbstractItemModel::rowsInserted, [&] {
                if (!w.Form().Checking) return;
                rowsSeen.insert(w.Model().rowCount());
                busy = busy || (!w.ListViewMailBoxes()->isEnabled() &&
                                w.ListViewMsg()->viewport()->palette().color(QPalette::Base) ==
                                    QApplication::palette().color(QPalette::Button));
                if (!tried && w.Model().rowCount() > 3) {
                    tried = true;
                    closeRefused = !w.close() && w.isVisible();
                }
            });
        QTest::mouseClick(w.BitBtnCheck(), Qt::LeftButton);
        disconnect(watch);
        QVERIFY(boxes.Seen.empty());
        QVERIFY2(rowsSeen.size() >= 2 && *rowsSeen.begin() < 17,
                 "rows must appear while the check runs");
        QVERIFY(busy);
        QVERIFY(tried && closeRefused);
        QVERIFY(w.ListViewMailBoxes()->isEnabled());

        QCOMPARE(w.Model().rowCount(), 17);
        Grab(w, "main-after-check");
        QVERIFY(w.StatusLabel()->text().startsWith(
            QStringLiteral("17 messaggi nuovi su un totale di 17 messaggi - Ultima verifica alle ")));
        QCOMPARE(w.LastBalloonText(), QStringLiteral("17 messaggi nuovi su un totale di 17 messaggi"));
        QCOMPARE(Cell(w, 13, 1), Win1252ToQString(w.Form().Messages[13].Sender));

        // Blocked: ticked and red; safe: green; the rest black.
        QVERIFY(Ticked(w, 2));
        QCOMPARE(Foreground(w, 2), QColor(255, 0, 0));
        QVERIFY(!Ticked(w, 4));
        QCOMPARE(Foreground(w, 4), QColor(0, 128, 0));
        QCOMPARE(Foreground(w, 0), QColor(0, 0, 0));
        QVERIFY(w.BitBtnElimina()->isEnabled());
        QCOMPARE(Cell(w, 0, 4).endsWith(QLatin1Char('k')), true);
        QCOMPARE(w.Model().index(0, 4).data(Qt::TextAlignmentRole).value<Qt::Alignment>() &
                     Qt::AlignRight,
                 Qt::AlignRight);

        // Unticking the blocked row: blue, nothing selected, no delete.
        ClickCheckBox(w, 2);
        QVERIFY(!Ticked(w, 2));
        QVERIFY(!w.Form().Messages[2].Selected);
        QCOMPARE(Foreground(w, 2), QColor(0, 0, 255));
        QCOMPARE(w.StatusLabel()->text(), QStringLiteral("Nessun messaggio selezionato"));
        QVERIFY(!w.BitBtnElimina()->isEnabled());

        // Ticking one row enables Elimina and paints the row red.
        ClickCheckBox(w, 0);
        QVERIFY(Ticked(w, 0));
        QVERIFY(w.Form().Messages[0].Selected);
        QCOMPARE(w.StatusLabel()->text(), QStringLiteral("1 messaggio selezionato"));
        QVERIFY(w.BitBtnElimina()->isEnabled());
        QCOMPARE(Foreground(w, 0), QColor(255, 0, 0));
        QTest::keyClick(w.ListViewMsg(), Qt::Key_Down);  // the highlight moves: still counted
        ClickCheckBox(w, 13);
        QCOMPARE(w.StatusLabel()->text(), QStringLiteral("2 messaggi selezionati"));

        // The tip of the blocked row: one line of sender, subject, size and
        // date, then the note on its own line.
        const TMessageRow& blocked = w.Form().List().Rows[2];
        const QString tip = ShownTip(w, 2);
        QCOMPARE(tip, Win1252ToQString(blocked.Columns[0] + " - " + blocked.Columns[1] + " (" +
                                       blocked.Columns[3] + ") di " + blocked.Columns[2]) +
                          QLatin1Char('\n') + Win1252ToQString(w.Form().Messages[2].SpamNote));
        QVERIFY(tip.contains(QStringLiteral("<<< ")));

        // One mailbox at a time; ticks survive the change.
        w.ListViewMailBoxes()->setCurrentRow(2);
        QCOMPARE(w.Model().rowCount(), 5);
        QVERIFY(Ticked(w, 1));  // Bob's second message, row 13 before
        QVERIFY(!Ticked(w, 0));
        QCOMPARE(w.StatusLabel()->text(), QStringLiteral("1 messaggio selezionato"));
        w.ListViewMailBoxes()->clearSelection();
        QCOMPARE(w.Model().rowCount(), 0);
        w.ListViewMailBoxes()->setCurrentRow(0);
        QCOMPARE(w.Model().rowCount(), 17);
        QVERIFY(Ticked(w, 0));
        QVERIFY(Ticked(w, 13));
        QVERIFY(!Ticked(w, 2));

        // The context menu's selection commands.
        w.PopupMenuMsg()->findChild<QAction*>(QStringLiteral("Selezionatutto1"))->trigger();
        QCOMPARE(w.StatusLabel()->text(), QStringLiteral("17 messaggi selezionati"));
        w.PopupMenuMsg()->findChild<QAction*>(QStringLiteral("Invertiselezione1"))->trigger();
        QCOMPARE(w.StatusLabel()->text(), QStringLiteral("Nessun messaggio selezionato"));
        QVERIFY(!w.BitBtnElimina()->isEnabled());

        // A double click shows the header.
        QString viewerTitle;
        OnNextModal([&](QWidget* viewer) {
            viewerTitle = viewer->windowTitle();
            viewer->close();
        });
        const QRect cell = w.ListViewMsg()->visualRect(w.Model().index(1, 2));
        // As the display server sends it: a click, then the second press
        // as a double click.
        QTest::mouseClick(w.ListViewMsg()->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(w.ListViewMsg()->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(viewerTitle, QStringLiteral("Messaggio originale"));
        QVERIFY(boxes.Seen.empty());
    }

    void closeRefusedDuringADeletion() {
        THome home;
        SaveAccounts({At("Carol", Server->Port(), "carol", "pw")});
        TWatchedWindow w(home.Dir());
        WaitForCommands(w);
        QTest::mouseClick(w.BitBtnCheck(), Qt::LeftButton);
        QCOMPARE(w.Model().rowCount(), 4);
        ClickCheckBox(w, 1);
        QVERIFY(w.BitBtnElimina()->isEnabled());

        TBoxAnswerer boxes;
        bool refusedAtQuestion = false;
        boxes.Answer = [&](TqvFormMsgBox& box) {
            refusedAtQuestion = w.Form().Deleting && !w.close();
            QTest::keyClick(&box, Qt::Key_Return);  // Si
        };
        bool refusedWhileDeleting = false;
        w.OnStatus = [&](const std::string& text) {
            if (w.Form().Deleting && text.rfind("Eliminazione del messaggio", 0) == 0)
                refusedWhileDeleting = refusedWhileDeleting || !w.close();
        };
        QTest::mouseClick(w.BitBtnElimina(), Qt::LeftButton);
        w.OnStatus = nullptr;
        QCOMPARE(boxes.Texts(), std::vector<QString>{QStringLiteral("Spostare nel Cestino il messaggio selezionato ?")});
        QVERIFY(refusedAtQuestion);
        QVERIFY(refusedWhileDeleting);
        QVERIFY(w.isVisible());
        // The check that follows the deletion has run: three are left.
        QCOMPARE(w.Model().rowCount(), 3);
        QVERIFY(w.close());
    }

    void stopAnswersWhileTheServerIsSilent() {
        test::TScriptedServer silent({test::LoggedIn().Expect("STAT").Hold()});
        THome home;
        home.Write("kalmuro.ini", "[Setup]\r\nTimeout=3\r\n");
        SaveAccounts({At("Muto", silent.Port(), "alice", "secret")});
        TBoxAnswerer boxes;
        TFormMainWindow w(home.Dir());
        WaitForCommands(w);

        // A click waits in the queue while the engine waits for the server:
        // it is posted from another thread, as the display server would.
        std::atomic<qint64> postedAt{0};
        QElapsedTimer clock;
        clock.start();
        qint64 handledAt = 0;
        connect(w.BitBtnStop(), &QToolButton::clicked, [&] { handledAt = clock.elapsed(); });
        QToolButton* stop = w.BitBtnStop();
        // The window is read on its own thread only; the user's thread learns
        // from a flag that the engine now waits for the server.
        std::atomic<bool> waiting{false};
        QTimer watch;
        watch.setInterval(5);
        connect(&watch, &QTimer::timeout, [&] {
            if (w.StatusText() == QStringLiteral("Conteggio dei messaggi presenti sul server..."))
                waiting = true;
        });
        watch.start();
        std::thread user([&] {
            while (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const QPointF at(10, 10);
            postedAt = clock.elapsed();
            QCoreApplication::postEvent(stop, new QMouseEvent(QEvent::MouseButtonPress, at,
                                                              stop->mapToGlobal(at), Qt::LeftButton,
                                                              Qt::LeftButton, Qt::NoModifier));
            QCoreApplication::postEvent(stop, new QMouseEvent(QEvent::MouseButtonRelease, at,
                                                              stop->mapToGlobal(at), Qt::LeftButton,
                                                              Qt::NoButton, Qt::NoModifier));
        });
        QTest::mouseClick(w.BitBtnCheck(), Qt::LeftButton);
        user.join();
        QVERIFY(handledAt > 0);
        const qint64 latency = handledAt - postedAt;
        qInfo("Stop handled %lld ms after the click", static_cast<long long>(latency));
        QVERIFY2(latency < 100, qPrintable(QString::number(latency)));
        QVERIFY(w.Form().StopFlag);
        QVERIFY(w.StatusLabel()->text().contains(QStringLiteral("Interrotto dall'utente")));
        QVERIFY(w.BitBtnStop()->isHidden());
    }

    void hostileHeaderTextIsShownAsWritten() {
        const std::string subject = "<img src='/dev/zero'><b>x</b>&amp;";
        test::TFakePop3Server server(
            "alice", "secret",
            {{"From: \"<b>Capo</b> & Co\" <capo@example.com>\r\nSubject: " + subject +
                  "\r\nDate: Mon, 5 Mar 2007 14:09:00 +0100\r\n\r\nx\r\n",
              "u1"}});
        THome home;
        home.Write("Oggetti.txt", "img src\r\n");
        SaveAccounts({At("R&D", server.Port(), "alice", "secret")});
        TBoxAnswerer boxes;
        TFormMainWindow w(home.Dir());
        WaitForCommands(w);
        QTest::mouseClick(w.BitBtnCheck(), Qt::LeftButton);
        QCOMPARE(w.Model().rowCount(), 1);
        QCOMPARE(Cell(w, 0, 2), QString::fromStdString(subject));
        QCOMPARE(Cell(w, 0, 1), QStringLiteral("<b>Capo</b> & Co (capo@example.com)"));
        const QString rawTip = w.Model().index(0, 2).data(Qt::ToolTipRole).toString();
        QVERIFY(!rawTip.contains(QStringLiteral("<img")));
        const QString tip = ShownTip(w, 0);
        QVERIFY2(tip.startsWith(QStringLiteral("<b>Capo</b> & Co (capo@example.com) - ") +
                                QString::fromStdString(subject)),
                 qPrintable(tip));
        QVERIFY(boxes.Seen.empty());
    }

    // A subject of thousands of characters: the row's tip wraps, plain,
    // within the screen, and the rule command's question fits the screen
    // with the whole subject in it.
    void longSubjectWrapsInTheTipAndTheQuestion() {
        std::string subject = "<b>Offerta</b> <img src='/dev/zero'> ";
        while (subject.size() < 4300) subject += "sconti incredibili ";
        subject += std::string(700, 'Z');
        test::TFakePop3Server server("alice", "secret",
                                     {{"From: Negozio <shop@example.com>\r\nSubject: " + subject +
                                           "\r\nDate: Mon, 5 Mar 2007 14:09:00 +0100\r\n\r\nx\r\n",
                                       "u1"}});
        THome home;
        SaveAccounts({At("Casa", server.Port(), "alice", "secret")});
        TBoxAnswerer boxes;
        TFormMainWindow w(home.Dir());
        WaitForCommands(w);
        QTest::mouseClick(w.BitBtnCheck(), Qt::LeftButton);
        QCOMPARE(w.Model().rowCount(), 1);
        QCOMPARE(Cell(w, 0, 2), QString::fromStdString(subject));

        const QString tip = ShownTip(w, 0);
        QLabel* tipLabel = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == QStringLiteral("qtooltip_label") && top->isVisible())
                tipLabel = static_cast<QLabel*>(top);
        QVERIFY(tipLabel != nullptr);
        const QRect available = w.screen()->availableGeometry();
        QVERIFY2(tipLabel->width() <= available.width() * 3 / 4 + 20,
                 qPrintable(QString::number(tipLabel->width())));
        QVERIFY(tip.count(QLatin1Char('\n')) > 5);  // wrapped
        QVERIFY2(QString(tip)
                     .remove(QLatin1Char('\n'))
                     .contains(QStringLiteral("Negozio (shop@example.com) - ") +
                               QString::fromStdString(subject)),
                 qPrintable(tip.left(200)));
        // The markup stays text.
        QVERIFY(tip.startsWith(QStringLiteral("Negozio (shop@example.com) - <b>Offerta</b> <img")));
        QTextDocument shown;
        shown.setHtml(tipLabel->text());
        QVERIFY(!shown.toHtml().contains(QStringLiteral("<img")));
        Grab(*tipLabel, "tip-long-subject");
        QToolTip::hideText();

        // A screen reader hears the row's check box by name and the tip as
        // its words.
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(w.ListViewMsg());
        QAccessibleTableInterface* table = list->tableInterface();
        QVERIFY(table != nullptr);
        QAccessibleInterface* box = table->cellAt(0, 0);
        QVERIFY(box != nullptr);
        QCOMPARE(box->text(QAccessible::Name), QStringLiteral("Da eliminare"));
        QVERIFY(box->state().checkable);
        QVERIFY(box->text(QAccessible::Description).contains(QString::fromStdString(subject)));
        QVERIFY(!box->text(QAccessible::Description).contains(QStringLiteral("&lt;")));

        w.ListViewMsg()->setCurrentIndex(w.Model().index(0, 1));
        bool checked = false;
        boxes.Answer = [&](TqvFormMsgBox& question) {
            Grab(question, "box-long-subject");
            const QString text = question.TextLabel()->text();
            QVERIFY(text.startsWith(QStringLiteral("Inserire tra gli oggetti bloccati ")));
            QCOMPARE(QString(text).remove(QLatin1Char('\n')),
                     QStringLiteral("Inserire tra gli oggetti bloccati ") +
                         QString::fromStdString(subject) + QStringLiteral(" ?"));
            QVERIFY(available.contains(question.frameGeometry()));
            QCOMPARE(question.TextArea()->horizontalScrollBar()->maximum(), 0);
            checked = true;
            QTest::keyClick(&question, Qt::Key_Escape);  // No: nothing is added
        };
        w.PopupMenuMsg()->findChild<QAction*>(QStringLiteral("Bloccaoggetto1"))->trigger();
        QTRY_VERIFY(checked);
        QVERIFY(!QFileInfo::exists(QString::fromStdString(home.Path("Oggetti.txt"))));
    }
};

QTEST_MAIN(WindowCheckTest)
#include "window_check_test.moc"
