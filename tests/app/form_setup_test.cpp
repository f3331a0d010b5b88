// The settings dialog and the account editor as the user drives them from
// the main window: accounts added, edited (button and double click) and
// deleted, then the settings file byte for byte; cancelling; every option and
// colour there and back; the only-when-minimised box; the start-at-login box
// over the login entry; an account without a server; and the timer armed
// again whatever the answer.
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <filesystem>

#include "app/app_harness.h"
#include "app/color_button.h"
#include "app/dialog_driver.h"
#include "app/form_edit_account.h"
#include "app/form_main_window.h"
#include "app/form_setup.h"
#include "app/msg_box.h"
#include "mail/accounts.h"
#include "support/ini_text.h"

using namespace kalmuro;
using namespace kalmuro::apptest;

namespace {

TMailAccount Account(const char* name, const char* server, const char* user,
                     const char* password) {
    TMailAccount a;
    a.AccountName = name;
    a.PopServer = server;
    a.UserId = user;
    a.UserPwd = password;
    return a;
}

QStringList Names(std::initializer_list<const char*> names) {
    QStringList list;
    for (const char* name : names) list << QString::fromUtf8(name);
    return list;
}

QString Cell(TFormSetup& s, int row, int column) {
    const QTableWidgetItem* item = s.StringGridAccounts()->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

QStringList Column0(TFormSetup& s) {
    QStringList names;
    for (int r = 0; r < s.StringGridAccounts()->rowCount(); ++r) names << Cell(s, r, 0);
    return names;
}

void SelectRow(TFormSetup& s, int row) {
    QTableWidget* grid = s.StringGridAccounts();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualRect(grid->model()->index(row, 1)).center());
}

// Presses the box's button with this caption (its access-key marker aside).
constexpr auto Press = &TDialogDriver::Press;

void Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

QString IniText() { return QString::fromLatin1(testing::WithPasswordsShown(testing::ReadFile(IniFileName()))); }

}  // namespace

class FormSetupTest : public QObject {
    Q_OBJECT

private:
    // The window started on its home folder, with the commands on.
    static void Start(TFormMainWindow& w) {
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnSetup()->isEnabled(), 3000);
    }
    static void Run(TFormMainWindow& w, TDialogDriver& driver) {
        QTest::mouseClick(w.BitBtnSetup(), Qt::LeftButton);
        (void)QTest::qWaitFor([&] { return driver.Done() || !driver.Failure().isEmpty(); }, 5000);
        QVERIFY2(driver.Done(), qPrintable(driver.Pending()));
        QVERIFY2(driver.Failure().isEmpty(), qPrintable(driver.Failure()));
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

private Q_SLOTS:
    void addEditDeleteThenConfirm() {
        THome home;
        SaveAccounts({Account("Casa", "pop.casa.it", "mario", "uno"),
                      Account("Ufficio", "pop.ufficio.it", "m.rossi", "due"),
                      Account("Vecchio", "pop.vecchio.it", "vecchio", "tre")});
        WriteIniBool(kSectionSetup, "CheckBoxAutoCheck", true);
        WriteIniInteger(kSectionSetup, "CheckBoxAutoCheckMinutes", 7);
        TFormMainWindow w(home.Dir());
        Start(w);

        TDialogDriver driver;
        driver
            .On<TFormSetup>([](TFormSetup& s) {
                QCOMPARE(s.windowTitle(), QStringLiteral("Impostazioni"));
                QCOMPARE(Column0(s), Names({"Casa", "Ufficio", "Vecchio"}));
                QCOMPARE(Cell(s, 1, 3), QStringLiteral("************"));
                QCOMPARE(Cell(s, 1, 5), QStringLiteral("No"));
                TDialogDriver::Click(s.BitBtnAdd());
            })
            .On<TFormEditAccount>([](TFormEditAccount& e) {
                // A new account: port 110 and active, nothing else.
                QCOMPARE(e.EditPorta()->text(), QStringLiteral("110"));
                QVERIFY(e.CheckBoxIsAttivo()->isChecked());
                QVERIFY(!e.CheckBoxAPOP()->isChecked());
                QVERIFY(e.EditAccount()->text().isEmpty() && e.EditPwd()->text().isEmpty());
                QCOMPARE(e.EditPwd()->echoMode(), QLineEdit::Password);
                QTest::keyClicks(e.EditAccount(), QStringLiteral("Nuovo & co"));
                QTest::keyClicks(e.EditServer(), QStringLiteral("pop.nuovo.it"));
                QTest::keyClicks(e.EditUser(), QStringLiteral("nuovo"));
                QTest::keyClicks(e.EditPwd(), QStringLiteral("perch"));
                e.EditPwd()->insert(QString(QChar(0xE9)));  // é, beyond what keyClicks types
                e.CheckBoxAPOP()->setChecked(true);
                TDialogDriver::Click(e.BitBtnOk());
            })
            .On<TFormSetup>([](TFormSetup& s) {
                QCOMPARE(Column0(s), Names({"Casa", "Ufficio", "Vecchio", "Nuovo & co"}));
                QCOMPARE(Cell(s, 3, 5), QStringLiteral("Si"));
                QCOMPARE(s.StringGridAccounts()->currentRow(), 3);  // the new one
                SelectRow(s, 0);
                TDialogDriver::Click(s.BitBtnEdit());
            })
            .On<TFormEditAccount>([](TFormEditAccount& e) {
                QCOMPARE(e.EditAccount()->text(), QStringLiteral("Casa"));
                QCOMPARE(e.EditPwd()->text(), QStringLiteral("uno"));
                Type(e.EditAccount(), QStringLiteral("Casa mia"));
                // Enter is OK.
                QTest::keyClick(e.EditAccount(), Qt::Key_Return);
            })
            .On<TFormSetup>([](TFormSetup& s) {
                QCOMPARE(s.StringGridAccounts()->currentRow(), 0);
                QTableWidget* grid = s.StringGridAccounts();
                const QPoint cell = grid->visualRect(grid->model()->index(1, 2)).center();
                // A double click opens the editor: from the event loop.
                QTimer::singleShot(0, grid, [grid, cell] {
                    // As the display server sends it: a click, then the
                    // second press as a double click.
                    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell);
                    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell);
                });
            })
            .On<TFormEditAccount>([](TFormEditAccount& e) {
                QCOMPARE(e.EditAccount()->text(), QStringLiteral("Ufficio"));
                Type(e.EditPorta(), QStringLiteral("995x"));  // taken as typed
                e.CheckBoxIsAttivo()->setChecked(false);
                TDialogDriver::Click(e.BitBtnOk());
            })
            .On<TFormSetup>([](TFormSetup& s) {
                QCOMPARE(Cell(s, 1, 4), QStringLiteral("995x"));
                SelectRow(s, 2);
                TDialogDriver::Click(s.BitBtnDel());
            })
            .On<TqvFormMsgBox>([](TqvFormMsgBox& box) {
                QCOMPARE(box.TextLabel()->text(), QStringLiteral("Eliminare l'account selezionato ?"));
                Press(box, "Si");
            })
            .On<TFormSetup>([](TFormSetup& s) {
                QCOMPARE(Column0(s), Names({"Casa mia", "Ufficio", "Nuovo & co"}));
                // The account that moved into the deleted row.
                QCOMPARE(s.StringGridAccounts()->currentRow(), 2);
                TDialogDriver::Click(s.BitBtnOk());
            });
        Run(w, driver);

        QCOMPARE(IniText(),
                 QString::fromUtf8(
                     "[Setup]\r\nCheckBoxAutoCheck=1\r\nCheckBoxAutoCheckMinutes=7\r\n"
                     "CheckStart=0\r\nCheckBoxAutoCheckIcon=0\r\nMinimizeStart=0\r\n"
                     "NotifyBalloon=1\r\nTimeout=60\r\nCopyToRecycle=1\r\nStopEmptyMsg=0\r\n"
                     "AutoDelete=0\r\nColorNormal=0\r\nColorSelected=255\r\n"
                     "ColorLocked=16711680\r\nColorSecured=32768\r\n"
                     "[Accounts]\r\n"
                     "PopServer1=pop.casa.it\r\nUserId1=mario\r\nUserPwd1=<uno>\r\nPorta1=110\r\n"
                     "APOP1=0\r\nAttivo1=1\r\nAccount1=Casa mia\r\n"
                     "PopServer2=pop.ufficio.it\r\nUserId2=m.rossi\r\nUserPwd2=<due>\r\n"
                     "Porta2=995x\r\nAPOP2=0\r\nAttivo2=0\r\nAccount2=Ufficio\r\n"
                     "PopServer3=pop.nuovo.it\r\nUserId3=nuovo\r\nUserPwd3=<perch\xc3\xa9>\r\n"
                     "Porta3=110\r\nAPOP3=1\r\nAttivo3=1\r\nAccount3=Nuovo & co\r\n"));
        // The window reloaded: the mailbox list names the active accounts.
        QCOMPARE(w.Form().Accounts.size(), size_t{3});
        QCOMPARE(w.Form().Accounts[0].AccountName, std::string("Casa mia"));
        QVERIFY(w.TimerAutoCheck()->isActive());
        QCOMPARE(w.TimerAutoCheck()->interval(), 7 * 60000);
    }

    void cancelLeavesFileAndWindowAsTheyWere_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("annulla") << false;
        QTest::newRow("escape") << true;
    }
    void cancelLeavesFileAndWindowAsTheyWere() {
        QFETCH(bool, escape);
        THome home;
        SaveAccounts({Account("Casa", "pop.casa.it", "mario", "uno"),
                      Account("Ufficio", "pop.ufficio.it", "m.rossi", "due")});
        WriteIniBool(kSectionSetup, "CheckBoxAutoCheck", true);
        WriteIniInteger(kSectionSetup, "ColorNormal", 0x808080);
        const std::string before = testing::ReadFile(IniFileName());
        TFormMainWindow w(home.Dir());
        Start(w);
        const QStringList mailboxes = [&] {
            QStringList items;
            for (int i = 0; i < w.ListViewMailBoxes()->count(); ++i)
                items << w.ListViewMailBoxes()->item(i)->text();
            return items;
        }();

        TDialogDriver driver;
        driver
            .On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnAdd()); })
            .On<TFormEditAccount>([](TFormEditAccount& e) {
                QTest::keyClicks(e.EditServer(), QStringLiteral("pop.altro.it"));
                QTest::keyClicks(e.EditUser(), QStringLiteral("altro"));
                TDialogDriver::Click(e.BitBtnOk());
            })
            .On<TFormSetup>([](TFormSetup& s) {
                SelectRow(s, 0);
                TDialogDriver::Click(s.BitBtnDel());
            })
            .On<TqvFormMsgBox>([](TqvFormMsgBox& box) { Press(box, "Si"); })
            .On<TFormSetup>([escape](TFormSetup& s) {
                // Its name as typed: empty.
                QCOMPARE(Column0(s), Names({"Ufficio", ""}));
                s.CheckBoxAutoCheck()->setChecked(false);
                s.ColorButtons()[0]->Palette()->actions().at(9)->trigger();  // red
                if (escape)
                    QTest::keyClick(&s, Qt::Key_Escape);
                else
                    TDialogDriver::Click(s.BitBtnAnnulla());
            });
        Run(w, driver);

        QCOMPARE(testing::ReadFile(IniFileName()), before);
        QCOMPARE(w.Form().Accounts.size(), size_t{2});
        QCOMPARE(w.Form().ColorNormal, 0x808080);
        QStringList after;
        for (int i = 0; i < w.ListViewMailBoxes()->count(); ++i)
            after << w.ListViewMailBoxes()->item(i)->text();
        QCOMPARE(after, mailboxes);
        QVERIFY(w.TimerAutoCheck()->isActive());
    }

    void startAtLoginBoxShowsAndSetsTheLoginEntry() {
        THome home;
        testing::TempHome config;
        const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Dir()));
        const std::string entry = config.Path("autostart/io.github.quorvane.Kalmuro.desktop");
        TFormMainWindow w(home.Dir());
        Start(w);
        const auto toggle = [](bool expected) {
            return [expected](TFormSetup& s) {
                QCheckBox* box = s.CheckBoxStartAtLogin();
                QCOMPARE(box->text(), QStringLiteral("Avvia Kalmuro all'accesso al desktop"));
                QCOMPARE(box->isChecked(), expected);
                box->setFocus();
                QTest::keyClick(box, Qt::Key_Space);
                TDialogDriver::Click(s.BitBtnOk());
            };
        };
        TDialogDriver on;
        on.On<TFormSetup>(toggle(false));
        Run(w, on);
        QVERIFY(std::filesystem::exists(entry));
        QVERIFY(testing::ReadFile(entry).find("\nExec=") != std::string::npos);
        TDialogDriver off;
        off.On<TFormSetup>(toggle(true));
        Run(w, off);
        QVERIFY(!std::filesystem::exists(entry));
        if (oldConfig.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", oldConfig);
    }

    void optionsAndColoursRoundTrip() {
        THome home;
        TFormMainWindow w(home.Dir());
        Start(w);
        // Everything the other way round from the defaults.
        const char* boxes[] = {"CheckBoxCheckStart",    "CheckBoxAutoCheck",
                               "CheckBoxAutoCheckIcon", "CheckBoxMinimize",
                               "CheckBoxNotifiBalloon", "CheckBoxCopyToRecycle",
                               "CheckBoxStopEmptyMsg",  "CheckBoxAutoDelete"};
        TDialogDriver driver;
        driver
            .On<TFormSetup>([&boxes](TFormSetup& s) {
                QCOMPARE(s.SpinEditAutoCheck()->value(), 1);
                QCOMPARE(s.SpinEditTimeout()->value(), 60);
                QCOMPARE(s.SpinEditAutoCheck()->maximum(), 1440);
                QCOMPARE(s.SpinEditTimeout()->maximum(), 3600);
                for (const char* name : boxes) {
                    auto* box = s.findChild<QCheckBox*>(QLatin1String(name));
                    QVERIFY2(box, name);
                    box->setChecked(!box->isChecked());
                }
                s.SpinEditAutoCheck()->setValue(17);
                s.SpinEditTimeout()->setValue(245);
                s.ColorButtons()[0]->Palette()->actions().at(2)->trigger();   // green
                s.ColorButtons()[2]->Palette()->actions().at(15)->trigger();  // white
                s.ColorButtons()[3]->Palette()->actions().at(4)->trigger();   // navy
                // "Altri colori..." opens the colour dialog.
                QAction* other = s.ColorButtons()[1]->Palette()->actions().constLast();
                QCOMPARE(other->text(), QStringLiteral("Altri colori..."));
                QTimer::singleShot(0, other, &QAction::trigger);
            })
            .On<QColorDialog>([](QColorDialog& d) {
                d.setCurrentColor(QColor(1, 2, 3));
                TDialogDriver::Click(d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok));
            })
            .On<TFormSetup>([](TFormSetup& s) {
                QCOMPARE(s.ColorButtons()[1]->Value(), 0x030201);
                TDialogDriver::Click(s.BitBtnOk());
            });
        Run(w, driver);
        QCOMPARE(Ini("CheckStart") + Ini("CheckBoxAutoCheck") + Ini("CheckBoxAutoCheckIcon") +
                     Ini("MinimizeStart") + Ini("NotifyBalloon") + Ini("CopyToRecycle") +
                     Ini("StopEmptyMsg") + Ini("AutoDelete"),
                 QStringLiteral("11110011"));
        QCOMPARE(Ini("CheckBoxAutoCheckMinutes"), QStringLiteral("17"));
        QCOMPARE(Ini("Timeout"), QStringLiteral("245"));
        QCOMPARE(Ini("ColorNormal"), QStringLiteral("32768"));
        QCOMPARE(Ini("ColorSelected"), QString::number(0x030201));
        QCOMPARE(Ini("ColorLocked"), QString::number(0xFFFFFF));
        QCOMPARE(Ini("ColorSecured"), QString::number(0x800000));
        QCOMPARE(w.Form().ColorSelected, 0x030201);

        // And back into the controls at the next opening.
        TDialogDriver again;
        again.On<TFormSetup>([&boxes](TFormSetup& s) {
            for (const char* name : boxes) {
                const bool on = s.findChild<QCheckBox*>(QLatin1String(name))->isChecked();
                const bool defaultOn = QByteArray(name) == "CheckBoxNotifiBalloon" ||
                                       QByteArray(name) == "CheckBoxCopyToRecycle";
                QVERIFY2(on != defaultOn, name);
            }
            QCOMPARE(s.SpinEditAutoCheck()->value(), 17);
            QCOMPARE(s.SpinEditTimeout()->value(), 245);
            QCOMPARE(s.ColorButtons()[0]->Value(), 0x008000);
            QCOMPARE(s.ColorButtons()[1]->Value(), 0x030201);
            QCOMPARE(s.ColorButtons()[2]->Value(), 0xFFFFFF);
            QCOMPARE(s.ColorButtons()[3]->Value(), 0x800000);
            TDialogDriver::Click(s.BitBtnAnnulla());
        });
        Run(w, again);
        QVERIFY(w.TimerAutoCheck()->isActive());
        QCOMPARE(w.TimerAutoCheck()->interval(), 17 * 60000);
    }

    void imapOptionsShowTheirDefaultsAndAreStoredOnceChanged() {
        THome home;
        TFormMainWindow w(home.Dir());
        Start(w);
        TDialogDriver driver;
        driver.On<TFormSetup>([](TFormSetup& s) {
            auto* junk = s.findChild<QCheckBox*>(QStringLiteral("CheckBoxSpostaInSpam"));
            auto* now = s.findChild<QCheckBox*>(QStringLiteral("CheckBoxAttesaImmediata"));
            QVERIFY(junk && now);
            QCOMPARE(junk->text() + now->text(),
                     QStringLiteral("IMAP: sposta nella cartella Spam del server invece di "
                                    "eliminareControlla subito i messaggi in arrivo (IMAP)"));
            QVERIFY(junk->isChecked() && !now->isChecked());
            QTest::keyClick(junk, Qt::Key_Space);
            QTest::keyClick(now, Qt::Key_Space);
            TDialogDriver::Click(s.BitBtnOk());
        });
        Run(w, driver);
        QCOMPARE(Ini("SpostaInSpam") + Ini("AttesaImmediata"), QStringLiteral("01"));
    }

    void onlyWhenMinimisedFollowsTheAutomaticCheck() {
        THome home;
        WriteIniBool(kSectionSetup, "CheckBoxAutoCheckIcon", true);
        TFormMainWindow w(home.Dir());
        Start(w);
        TDialogDriver driver;
        driver.On<TFormSetup>([](TFormSetup& s) {
            QCheckBox* icon = s.CheckBoxAutoCheckIcon();
            QVERIFY(!icon->isEnabled());
            QVERIFY(icon->isChecked());
            QTest::mouseClick(s.CheckBoxAutoCheck(), Qt::LeftButton);
            QVERIFY(icon->isEnabled());
            QVERIFY(icon->isChecked());
            QTest::mouseClick(icon, Qt::LeftButton);
            QVERIFY(!icon->isChecked());
            QTest::mouseClick(s.CheckBoxAutoCheck(), Qt::LeftButton);
            QVERIFY(!icon->isEnabled());
            QVERIFY(!icon->isChecked());
            TDialogDriver::Click(s.BitBtnAnnulla());
        });
        Run(w, driver);
        QVERIFY(!w.TimerAutoCheck()->isActive());
    }

    void accountWithoutServerIsSavedThenGoneThenRemoved() {
        THome home;
        SaveAccounts({Account("Casa", "pop.casa.it", "mario", "uno")});
        TFormMainWindow w(home.Dir());
        Start(w);
        TDialogDriver driver;
        driver.On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnAdd()); })
            .On<TFormEditAccount>([](TFormEditAccount& e) {
                QTest::keyClicks(e.EditAccount(), QStringLiteral("Senza server"));
                QTest::keyClicks(e.EditUser(), QStringLiteral("utente"));
                TDialogDriver::Click(e.BitBtnOk());
            })
            .On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnOk()); });
        Run(w, driver);
        QVERIFY(IniText().contains(QStringLiteral("PopServer2=\r\nUserId2=utente\r\n")));
        QCOMPARE(w.Form().Accounts.size(), size_t{1});

        TDialogDriver again;
        again.On<TFormSetup>([](TFormSetup& s) {
            QCOMPARE(Column0(s), QStringList{QStringLiteral("Casa")});
            TDialogDriver::Click(s.BitBtnOk());
        });
        Run(w, again);
        QVERIFY(!IniText().contains(QStringLiteral("PopServer2")));
        QVERIFY(!IniText().contains(QStringLiteral("Senza server")));
    }

    void securityChoiceMovesThePortAndEditingKeepsTheCertificate() {
        THome home;
        TMailAccount secure = Account("Casa", "pop.casa.it", "mario", "uno");
        secure.Security = TSecurity::Tls;
        secure.Port = "995";
        secure.Fingerprint = "AB:CD";
        SaveAccounts({secure});
        TFormMainWindow w(home.Dir());
        Start(w);
        TDialogDriver driver;
        driver.On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnEdit()); })
            .On<TFormEditAccount>([](TFormEditAccount& e) {
                QCOMPARE(e.ComboBoxSicurezza()->currentText(), QStringLiteral("SSL/TLS"));
                Type(e.EditAccount(), QStringLiteral("Casa mia"));
                TDialogDriver::Click(e.BitBtnOk());
            })
            .On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnOk()); });
        Run(w, driver);
        // A field edited elsewhere loses neither the security nor the certificate.
        QVERIFY(IniText().contains(QStringLiteral("Sicurezza1=2")));
        QVERIFY(IniText().contains(QStringLiteral("Impronta1=AB:CD")));

        TDialogDriver back;
        back.On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnEdit()); })
            .On<TFormEditAccount>([](TFormEditAccount& e) {
                QComboBox* combo = e.ComboBoxSicurezza();
                combo->setCurrentIndex(1);
                emit combo->activated(1);
                QCOMPARE(e.EditPorta()->text(), QStringLiteral("110"));
                Type(e.EditPorta(), QStringLiteral("1995"));
                combo->setCurrentIndex(2);
                emit combo->activated(2);
                QCOMPARE(e.EditPorta()->text(), QStringLiteral("1995"));  // typed by hand
                TDialogDriver::Click(e.BitBtnOk());
            })
            .On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnOk()); });
        Run(w, back);
        QCOMPARE(w.Form().Accounts.at(0).Security, TSecurity::Tls);
        QCOMPARE(w.Form().Accounts.at(0).Port, std::string("1995"));
    }

    void accountsThatFailToLoadCannotBeEditedNorErased() {
        THome home;
        SaveAccounts({Account("Casa", "pop.casa.it", "mario", "uno")});
        WriteIniString(kSectionAccounts, "Attivo1", "forse");
        const std::string accounts = testing::ReadFile(IniFileName());
        const auto error = [](TqvFormMsgBox& box) {
            QCOMPARE(box.TextLabel()->text(), QStringLiteral("'forse' is not a valid integer value"));
            Press(box, "OK");
        };
        // The window's load reports it, then the dialog's, then the reload
        // after OK.
        TDialogDriver driver;
        driver.On<TqvFormMsgBox>(error)
            .On<TqvFormMsgBox>(error)
            .On<TFormSetup>([](TFormSetup& s) {
                QVERIFY(!s.BitBtnAdd()->isEnabled());
                QVERIFY(!s.BitBtnEdit()->isEnabled());
                QVERIFY(!s.BitBtnDel()->isEnabled());
                QCOMPARE(Column0(s), QStringList{QString()});
                s.SpinEditTimeout()->setValue(30);
                TDialogDriver::Click(s.BitBtnOk());
            })
            .On<TqvFormMsgBox>(error);
        TFormMainWindow w(home.Dir());
        Start(w);
        Run(w, driver);
        const std::string after = testing::ReadFile(IniFileName());
        QCOMPARE(after.substr(0, accounts.size()), accounts);
        QCOMPARE(Ini("Timeout"), QStringLiteral("30"));
    }

    void keyringBoxIsRefusedWhenNoKeyringAnswers() {
        // No session bus: the box must say why it stays unticked.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kalmuro-bus");
        THome home;
        SaveAccounts({Account("Casa", "pop.casa.it", "mario", "uno")});
        TDialogDriver driver;
        driver
            .On<TFormSetup>([](TFormSetup& s) {
                auto* box = s.findChild<QCheckBox*>(QStringLiteral("CheckBoxPortachiavi"));
                QVERIFY(box);
                QCOMPARE(box->text(),
                         QStringLiteral("Conserva le password nel portachiavi del sistema"));
                QVERIFY(!box->isChecked());
                TDialogDriver::Click(box);
            })
            .On<TqvFormMsgBox>([](TqvFormMsgBox& box) {
                // Blanks only: the box may wrap a line too wide for the screen.
                QVERIFY2(box.TextLabel()->text().simplified().startsWith(
                             QStringLiteral("Il portachiavi del sistema non risponde: le password "
                                            "restano nel file delle impostazioni. (")),
                         qPrintable(box.TextLabel()->text()));
                Press(box, "OK");
            })
            .On<TFormSetup>([](TFormSetup& s) {
                auto* box = s.findChild<QCheckBox*>(QStringLiteral("CheckBoxPortachiavi"));
                QVERIFY(!box->isChecked());
                TDialogDriver::Click(s.BitBtnOk());
            });
        TFormMainWindow w(home.Dir());
        Start(w);
        Run(w, driver);
        QCOMPARE(Ini("Portachiavi"), QStringLiteral("<none>"));
        QVERIFY(IniText().contains(QStringLiteral("UserPwd1=<uno>")));
    }
};

QTEST_MAIN(FormSetupTest)
#include "form_setup_test.moc"
