// The viewer and the save dialog as the user meets them from the message
// list, on a real Dovecot: the header view (also with the server stopped),
// the whole message, the text never interpreted, Escape; saving with the
// proposed name, ".eml" added, the replace question and a failed write that
// leaves the old file whole; and the block and accept commands of the
// context menu with their questions and colours.
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include "app/app_harness.h"
#include "app/dialog_driver.h"
#include "app/form_main_window.h"
#include "app/form_message.h"
#include "app/message_model.h"
#include "app/msg_box.h"
#include "mail/accounts.h"
#include "mail/atomic_file.h"
#include "mail/formats.h"
#include "mail/rule_list.h"
#include "mail/text.h"
#include "support/dovecot_server.h"

using namespace kalmuro;
using namespace kalmuro::apptest;

namespace {

constexpr auto Press = &TDialogDriver::Press;

QString BoxText(TqvFormMsgBox& box) { return box.TextLabel()->text(); }

QAction* MenuItem(TFormMainWindow& w, const char* name) {
    return w.PopupMenuMsg()->findChild<QAction*>(QLatin1String(name));
}

void Highlight(TFormMainWindow& w, int row) {
    w.ListViewMsg()->setCurrentIndex(w.Model().index(row, 1));
}

QStringList Shown(TMessageTextView& view) {
    QStringList lines;
    for (int i = 0; i < view.LineCount(); ++i) lines << view.LineText(i);
    return lines;
}

QStringList AsStrings(const std::vector<std::string>& lines) {
    QStringList list;
    for (const std::string& line : lines) list << Win1252ToQString(line);
    return list;
}

// Empty when every step ran and nothing was left open.
QString Finish(TDialogDriver& driver) {
    (void)QTest::qWaitFor([&] { return driver.Done() || !driver.Failure().isEmpty(); }, 5000);
    if (!driver.Done() && driver.Failure().isEmpty()) return QStringLiteral("waiting for ") + driver.Pending();
    return driver.Failure();
}

}  // namespace

class FormMessageTest : public QObject {
    Q_OBJECT

    test::TDovecotServer* Server = nullptr;
    std::vector<test::TManifestEntry> Alice;
    testing::TempHome Desktop;  // the user's home, with its Documents folder
    std::unique_ptr<THome> Home;
    std::unique_ptr<TFormMainWindow> Window;

    TFormMainWindow& W() { return *Window; }
    const TMessageEntry& Record(int row) {
        return W().Form().Messages[static_cast<size_t>(W().Form().List().Rows[row].RecordIndex)];
    }

private Q_SLOTS:
    void initTestCase() {
        // The desktop's own Documents location, named in the user's folders.
        qputenv("HOME", QByteArray::fromStdString(Desktop.Dir()));
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Desktop.Path(".config")));
        QDir().mkpath(QString::fromStdString(Desktop.Path(".config")));
        QDir().mkpath(QString::fromStdString(Desktop.Path("Documenti")));
        testing::WriteFile(Desktop.Path(".config/user-dirs.dirs"),
                           "XDG_DOCUMENTS_DIR=\"$HOME/Documenti\"\n");

        Server = new test::TDovecotServer;
        QVERIFY2(Server->AddUser("alice", "secret") && Server->GenerateMail("alice", 6, 7) &&
                     Server->Start(),
                 Server->Error().c_str());
        Alice = Server->Manifest("alice");

        Home = std::make_unique<THome>();
        TMailAccount a;
        a.AccountName = "Alice";
        a.PopServer = "127.0.0.1";
        a.Port = std::to_string(Server->Port());
        a.UserId = "alice";
        a.UserPwd = "secret";
        SaveAccounts({a});
        WriteIniBool(kSectionSetup, "CheckBoxAutoCheck", true);
        Window = std::make_unique<TFormMainWindow>(Home->Dir());
        W().show();
        QVERIFY(QTest::qWaitForWindowExposed(&W()));
        QTRY_VERIFY_WITH_TIMEOUT(W().BitBtnCheck()->isEnabled(), 3000);
        TDialogDriver none;
        QTest::mouseClick(W().BitBtnCheck(), Qt::LeftButton);
        QCOMPARE(Finish(none), QString());
        QCOMPARE(W().Model().rowCount(), 6);
    }
    void cleanupTestCase() {
        Window.reset();
        Home.reset();
        delete Server;
    }

    void viewerShowsTheWholeMessageAsText() {
        Highlight(W(), 1);
        const int32_t size = Record(1).Size;
        TDialogDriver driver;
        driver.On<TFormMessage>([&](TFormMessage& f) {
            QCOMPARE(f.windowTitle(), QStringLiteral("Messaggio originale"));
            QCOMPARE(f.size(), QSize(524, 402));
            // Every line as received: their octets and CR LF make the size.
            TMessageTextView& memo = *f.Memo1();
            qint64 octets = 0;
            for (const QString& line : Shown(memo)) octets += QStringToWin1252(line).size() + 2;
            QCOMPARE(octets, qint64(size));
            QVERIFY(!W().TimerAutoCheck()->isActive());
            QTest::keyClick(&memo, Qt::Key_Escape);
        });
        MenuItem(W(), "Visualizzamessaggio1")->trigger();
        QCOMPARE(Finish(driver), QString());
        QVERIFY(W().TimerAutoCheck()->isActive());
    }

    void textIsNeverInterpretedAndOnlyScrolls() {
        const std::vector<std::string> lines = {
            "Subject: <b>gratis</b> <img src='/dev/zero'> & <a href='http://x'>qui</a>",
            "\tTab\x01" "fine",
            std::string(5000, 'x') + "END",
            "perch\xE8 \x80",  // perchè €
        };
        std::string text;
        for (const std::string& line : lines) text += line + "\r\n";
        TFormMessage f(nullptr, "Messaggio originale", text);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        TMessageTextView& memo = *f.Memo1();
        QCOMPARE(memo.LineText(0), Win1252ToQString(lines[0]));
        QCOMPARE(memo.LineText(1), Win1252ToQString(lines[1]));
        QCOMPARE(memo.ShownLineText(1), QString::fromUtf8("        Tab\u00B7fine"));
        QCOMPARE(memo.LineText(3), QString::fromUtf8("perch\u00e8 \u20ac"));
        QCOMPARE(memo.MaxColumns(), 5003);
        QVERIFY(QFontInfo(memo.font()).fixedPitch());
        QCOMPARE(memo.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(memo.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(memo.horizontalScrollBar()->maximum() > 4000);  // no wrap

        // Typing changes nothing; the caret's keys scroll; all of it can be
        // copied.
        QTest::keyClicks(&memo, QStringLiteral("abc"));
        QTest::keyClick(&memo, Qt::Key_Down);
        QTest::keyClick(&memo, Qt::Key_Down);
        QTest::keyClick(&memo, Qt::Key_End);
        QCOMPARE(memo.FirstColumn(), memo.horizontalScrollBar()->maximum());
        QTest::keyClick(&memo, Qt::Key_A, Qt::ControlModifier);
        QStringList shown;
        for (int i = 0; i < memo.LineCount(); ++i) shown << memo.ShownLineText(i);
        QCOMPARE(memo.SelectedText(), shown.join(QLatin1Char('\n')));
        QTest::keyClick(&memo, Qt::Key_Escape);
        QVERIFY(!f.isVisible());
    }

    void saveProposesTheNameAddsEmlAsksAndKeepsTheOldFile() {
        Highlight(W(), 2);
        const TMessageEntry& record = Record(2);
        const int32_t size = record.Size;
        const QString documents = QString::fromStdString(Desktop.Path("Documenti"));
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), documents);
        const QString target = documents + QStringLiteral("/copia");
        const std::string saved = Desktop.Path("Documenti/copia.eml");

        TDialogDriver first;
        first.On<QFileDialog>([&](QFileDialog& d) {
            QCOMPARE(d.windowTitle(), QStringLiteral("Salva il messaggio su file..."));
            QCOMPARE(d.nameFilters(), QStringList{QStringLiteral("E-mail (*.eml)")});
            QCOMPARE(d.defaultSuffix(), QStringLiteral("eml"));
            QCOMPARE(d.acceptMode(), QFileDialog::AcceptSave);
            QVERIFY(d.testOption(QFileDialog::DontConfirmOverwrite));
            QCOMPARE(d.directory().absolutePath(), documents);
            // The proposal has no extension; the dialog adds it.
            QCOMPARE(d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text(),
                     QString::fromStdString(Cp1252ToUtf8(BaseFileName(record))));
            TDialogDriver::ChooseFile(d, target);  // typed without an extension
        });
        MenuItem(W(), "Salva1")->trigger();
        QCOMPARE(Finish(first), QString());
        QCOMPARE(qint64(testing::ReadFile(saved).size()), qint64(size));
        QVERIFY(W().TimerAutoCheck()->isActive());

        // An existing file: the question first; "No" keeps it.
        testing::WriteFile(saved, "vecchio");
        const auto chooseSaved = [&](QFileDialog& d) {
            TDialogDriver::ChooseFile(d, QString::fromStdString(saved));
        };
        TDialogDriver declined;
        declined.On<QFileDialog>(chooseSaved).On<TqvFormMsgBox>([](TqvFormMsgBox& box) {
            QCOMPARE(BoxText(box), QString::fromUtf8("Il file scelto esiste gi\u00e0. Sostituirlo ?"));
            Press(box, "No");
        });
        MenuItem(W(), "Salva1")->trigger();
        QCOMPARE(Finish(declined), QString());
        QCOMPARE(testing::ReadFile(saved), std::string("vecchio"));
    }

    void saveFailureAndMissingFolderKeepTheOldFile() {
        Highlight(W(), 2);
        const QString documents = QString::fromStdString(Desktop.Path("Documenti"));
        const std::string saved = Desktop.Path("Documenti/copia.eml");
        testing::WriteFile(saved, "vecchio");
        const auto chooseSaved = [&](QFileDialog& d) {
            TDialogDriver::ChooseFile(d, QString::fromStdString(saved));
        };

        // "Si", and the write fails: the old file stays whole.
        TDialogDriver failed;
        failed.On<QFileDialog>(chooseSaved)
            .On<TqvFormMsgBox>([](TqvFormMsgBox& box) { Press(box, "Si"); })
            .On<TqvFormMsgBox>([](TqvFormMsgBox& box) {
                QCOMPARE(BoxText(box), QStringLiteral("Impossibile salvare il messaggio"));
                Press(box, "OK");
            });
        SetWriteFailureForTesting(100);
        MenuItem(W(), "Salva1")->trigger();
        SetWriteFailureForTesting(-1);
        QCOMPARE(Finish(failed), QString());
        QCOMPARE(testing::ReadFile(saved), std::string("vecchio"));

        // A folder that does not exist is refused and the dialog comes back.
        TDialogDriver missing;
        missing
            .On<QFileDialog>([&](QFileDialog& d) {
                TDialogDriver::ChooseFile(d, documents + QStringLiteral("/manca/copia.eml"));
            })
            .On<TqvFormMsgBox>([&](TqvFormMsgBox& box) {
                QCOMPARE(BoxText(box), QStringLiteral("La cartella scelta non esiste:\n") +
                                           documents + QStringLiteral("/manca"));
                Press(box, "OK");
            })
            .On<QFileDialog>([](QFileDialog& d) { d.reject(); });
        MenuItem(W(), "Salva1")->trigger();
        QCOMPARE(Finish(missing), QString());
        QVERIFY(!QFileInfo::exists(documents + QStringLiteral("/manca")));
    }

    void ruleCommandsAskAddAndRepaint() {
        Highlight(W(), 3);
        const QString address = Win1252ToQString(Record(3).FromAddress);
        const bool ticked = W().Model().index(3, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked;
        TDialogDriver driver;
        driver
            .On<TqvFormMsgBox>([&](TqvFormMsgBox& box) {
                QCOMPARE(BoxText(box),
                         QStringLiteral("Inserire tra i mittenti sicuri\n") + address +
                             QStringLiteral(" ?"));
                Press(box, "Si");
            })
            .On<TqvFormMsgBox>([](TqvFormMsgBox& box) {
                QCOMPARE(BoxText(box), QStringLiteral("I futuri messaggi provenienti da questo\n"
                                                      "mittente verranno sempre accettati."));
                Press(box, "OK");
            });
        MenuItem(W(), "Accettasempreilmittente1")->trigger();
        QCOMPARE(Finish(driver), QString());
        TRuleList safe;
        safe.FileName = Home->Path("MittentiOk.txt");
        safe.LoadFromFile();
        QVERIFY(std::find(safe.Lines.begin(), safe.Lines.end(),
                          UpperCase(Record(3).FromAddress)) != safe.Lines.end());
        // Safe colour at once, the tick as it was.
        QCOMPARE(W().Model().index(3, 2).data(Qt::ForegroundRole).value<QBrush>().color(),
                 ColorFromSettings(W().Form().ColorSecured));
        QCOMPARE(W().Model().index(3, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked, ticked);

        // Again: already there, nothing asked.
        TDialogDriver again;
        again.On<TqvFormMsgBox>([](TqvFormMsgBox& box) {
            QCOMPARE(BoxText(box), QString::fromUtf8("Questo mittente risulta gi\u00e0 sicuro."));
            Press(box, "OK");
        });
        MenuItem(W(), "Accettasempreilmittente1")->trigger();
        QCOMPARE(Finish(again), QString());

        // No highlighted row: every command says so and changes nothing.
        W().ListViewMsg()->setCurrentIndex(QModelIndex());
        W().ListViewMsg()->clearSelection();
        for (const char* name : {"Bloccamittente1", "Bloccaoggetto1", "Accettasempreilmittente1",
                                 "Accettasempreloggetto1", "Visualizzamessaggio1", "Salva1"}) {
            TDialogDriver none;
            none.On<TqvFormMsgBox>([](TqvFormMsgBox& box) {
                QCOMPARE(BoxText(box), QStringLiteral("Nessun messaggio evidenziato"));
                Press(box, "OK");
            });
            MenuItem(W(), name)->trigger();
            QVERIFY2(Finish(none).isEmpty(), name);
        }
        QVERIFY(!QFileInfo::exists(QString::fromStdString(Home->Path("Mittenti.txt"))));
    }

    // Last: it stops the server.
    void headerViewerWorksWithTheServerStopped() {
        Server->Stop(true);
        Highlight(W(), 4);
        const QStringList header = AsStrings(SplitRuleLines(Record(4).HeaderText));
        QVERIFY(header.size() > 2);
        for (int round = 0; round < 2; ++round) {
            TDialogDriver driver;
            driver.On<TFormMessage>([&](TFormMessage& f) {
                QCOMPARE(Shown(*f.Memo1()), header);
                QTest::keyClick(f.Memo1(), Qt::Key_Escape);
            });
            // A double click on the row is the header view.
            QTreeView* view = W().ListViewMsg();
            const QPoint cell = view->visualRect(W().Model().index(4, 2)).center();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell);
            QCOMPARE(Finish(driver), QString());
        }
    }
};

QTEST_MAIN(FormMessageTest)
#include "form_message_test.moc"
