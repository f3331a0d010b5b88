// The account editor's new rows driven by keyboard, its browser sign-in
// through the settings dialog (the stand-in browser behind the desktop's
// opener, Annulla ending a wait first), and the window's question when a
// grant is gone.
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <future>

#include "app/app_harness.h"
#include "app/dialog_driver.h"
#include "app/form_edit_account.h"
#include "app/form_main_window.h"
#include "app/form_setup.h"
#include "app/message_model.h"
#include "support/auth_server.h"
#include "support/scripted_server.h"

using namespace kalmuro;
using namespace kalmuro::apptest;

namespace {

// What the desktop opens for an https address: the stand-in browser, which
// follows the provider's redirect to the program, or one that never does.
class TStandInBrowser : public QObject {
    Q_OBJECT
public:
    bool Follow = true;
    int Opened = 0;
    std::future<std::string> Page;
public Q_SLOTS:
    void Open(const QUrl& url) {
        ++Opened;
        const std::string address = url.toEncoded().toStdString();
        if (Follow)
            Page = std::async(std::launch::async,
                              [address] { return test::BrowseAndFollow(address); });
    }
};

void Key(QWidget* w, Qt::Key key) {
    w->setFocus();
    QTest::keyClick(w, key);
}

void Type(QLineEdit* edit, const std::string& text) {
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromStdString(text));
}

}  // namespace

class AccountEditorTest : public QObject {
    Q_OBJECT
    TStandInBrowser Browser;

private Q_SLOTS:
    void initTestCase() {
        qputenv("SSL_CERT_FILE", QByteArray::fromStdString(test::TestCertificateDir() + "/ca.pem"));
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &Browser, "Open");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    void init() {
        Browser.Follow = true;
        Browser.Opened = 0;
    }

    void rowsFollowTheChoicesMadeByKeyboard() {
        TFormEditAccount e(nullptr);
        e.SetAccount(TSetupDialog::NewAccount());
        e.show();
        QVERIFY(QTest::qWaitForWindowExposed(&e));
        QVERIFY(!e.Fields()->isRowVisible(e.EditCartella()));
        Key(e.ComboBoxProtocollo(), Qt::Key_Down);  // IMAP
        QCOMPARE(e.EditPorta()->text(), QStringLiteral("143"));
        QVERIFY(e.Fields()->isRowVisible(e.EditCartella()) && !e.CheckBoxAPOP()->isVisible());
        QCOMPARE(static_cast<QLabel*>(e.Fields()->labelForField(e.EditServer()))->text(),
                 QStringLiteral("Server IMAP"));
        Key(e.ComboBoxAccesso(), Qt::Key_Down);  // OAuth 2.0
        QVERIFY(!e.Fields()->isRowVisible(e.EditPwd()) && e.BitBtnAccedi()->isVisible());
        QVERIFY(e.Fields()->isRowVisible(e.EditUrlToken()));  // "Personalizzato"
        Key(e.ComboBoxProvider(), Qt::Key_Home);              // Google
        QCOMPARE(e.EditServer()->text() + e.EditPorta()->text(),
                 QStringLiteral("imap.gmail.com993"));
        QVERIFY(!e.Fields()->isRowVisible(e.EditUrlToken()));
        Type(e.EditIdClient(), "id-1");
        const TMailAccount a = e.Account();
        QCOMPARE(a.Protocol, TProtocol::Imap);
        QCOMPARE(a.OAuth.Provider + a.OAuth.ClientId + a.Folder, std::string("googleid-1INBOX"));
    }

    void signInFromTheEditorAfterAnnullaEndedAWait() {
        THome home;
        test::TTestAuthServer auth("alice@example.org");
        TFormMainWindow w(home.Dir());
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnSetup()->isEnabled(), 3000);
        Browser.Follow = false;
        bool okWhileWaiting = true, escaped = false;
        QString stopped;
        TDialogDriver driver;
        driver.PatienceMs = 15000;  // the editor stays on top through two sign-ins
        driver.On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnAdd()); })
            .On<TFormEditAccount>([&](TFormEditAccount& e) {
                Type(e.EditServer(), "127.0.0.1");
                Key(e.ComboBoxAccesso(), Qt::Key_End);
                Type(e.EditIdClient(), "client-1");
                Type(e.EditUrlAutorizzazione(), auth.Url("/authorize"));
                Type(e.EditUrlToken(), auth.Url("/token"));
                TDialogDriver::Click(e.BitBtnAccedi());
                // Escape while it waits; then the real browser, and again.
                auto* poll = new QTimer(&e);
                QObject::connect(poll, &QTimer::timeout, [&, poll, editor = &e] {
                    if (editor->SigningIn() && !escaped) {
                        okWhileWaiting = editor->BitBtnOk()->isEnabled();
                        escaped = true;
                        QTest::keyClick(editor, Qt::Key_Escape);
                    } else if (escaped && !editor->SigningIn()) {
                        poll->stop();
                        stopped = editor->LabelAccesso()->text();
                        Browser.Follow = true;
                        TDialogDriver::Click(editor->BitBtnAccedi());
                    }
                });
                poll->start(10);
            })
            .On<TqvFormMsgBox>([](TqvFormMsgBox& box) {
                QCOMPARE(box.TextLabel()->text(),
                         QStringLiteral("Accesso eseguito come alice@example.org"));
                TDialogDriver::Press(box, "OK");
            })
            .On<TFormEditAccount>([](TFormEditAccount& e) {
                QCOMPARE(e.LabelAccesso()->text(),
                         QStringLiteral("Accesso eseguito come alice@example.org"));
                QCOMPARE(e.EditUser()->text(), QStringLiteral("alice@example.org"));
                TDialogDriver::Click(e.BitBtnOk());
            })
            .On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnOk()); });
        QTest::mouseClick(w.BitBtnSetup(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(driver.Done() || !driver.Failure().isEmpty(), 20000);
        QVERIFY2(driver.Done() && driver.Failure().isEmpty(), qPrintable(driver.Failure()));
        QVERIFY(!okWhileWaiting);
        QCOMPARE(stopped, Win1252ToQString(kSignInStoppedText));
        QCOMPARE(Browser.Opened, 2);
        QVERIFY(Browser.Page.get().find("Puoi chiudere questa finestra") != std::string::npos);
        QCOMPARE(ReadIniScrambled(kSectionAccounts, "TokenRinnovo1", "", PasswordKey),
                 auth.RefreshToken());
    }

    void theWindowAsksBeforeSigningInAgainWhenTheGrantIsGone() {
        THome home;
        test::TTestAuthServer auth("alice");
        auth.SetRefreshToken("rt-seed");
        auth.Mode = test::TTestAuthServer::TMode::InvalidGrant;
        test::TFakePop3Server pop3(
            "alice", "unused",
            {{"From: a <a@example.com>\r\nSubject: Uno\r\n\r\nTesto.\r\n", "uid-1"}});
        pop3.AcceptTokens([&auth](const std::string& token) { return auth.Valid(token); });
        TMailAccount a;
        a.AccountName = "Nuvola";
        a.PopServer = "127.0.0.1";
        a.Port = std::to_string(pop3.Port());
        a.UserId = "alice";
        a.Access = TAccessMethod::OAuth;
        a.OAuth = {kProviderCustom,    "client-1", "",   auth.Url("/authorize"),
                   auth.Url("/token"), "",         "pop"};
        a.RefreshToken = "rt-seed";
        SaveAccounts({a});
        TFormMainWindow w(home.Dir());
        w.show();
        QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnCheck()->isEnabled(), 3000);
        TBoxAnswerer answerer;
        answerer.Answer = [](TqvFormMsgBox& box) { TDialogDriver::Press(box, "Si"); };
        QTest::mouseClick(w.BitBtnCheck(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w.Model().rowCount(), 1, 8000);
        QCOMPARE(
            answerer.Texts(),
            std::vector<QString>{QStringLiteral("Accesso scaduto per Nuvola: accedere di nuovo?")});
        QCOMPARE(Browser.Opened, 1);
        QCOMPARE(auth.Grants(), (std::vector<std::string>{"refresh_token", "authorization_code"}));
    }
};

QTEST_MAIN(AccountEditorTest)
#include "account_editor_test.moc"
