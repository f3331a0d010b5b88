// The account editor's new rows as a keyboard user drives them (protocol,
// security, login method, provider), its browser sign-in through the
// settings dialog against the test authorization server with the stand-in
// browser behind the desktop's opener, Annulla ending the wait, and the
// window's question when a grant is gone.
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
#include <cstdlib>
#include <future>

#include "app/app_harness.h"
#include "app/dialog_driver.h"
#include "app/form_edit_account.h"
#include "app/form_main_window.h"
#include "app/form_setup.h"
#include "app/message_model.h"
#include "mail/accounts.h"
#include "support/auth_server.h"
#include "support/scripted_server.h"

using namespace kalmuro;
using namespace kalmuro::apptest;

namespace {

// What the desktop opens for an https address: the stand-in browser, which
// follows the provider's redirect to the program's listener, or a browser
// that never comes back.
class TStandInBrowser : public QObject {
    Q_OBJECT
public:
    bool Follow = true;
    std::vector<std::string> Opened;
    std::future<std::string> Page;

public Q_SLOTS:
    void Open(const QUrl& url) {
        const std::string address = url.toEncoded().toStdString();
        Opened.push_back(address);
        if (Follow)
            Page = std::async(std::launch::async,
                              [address] { return test::BrowseAndFollow(address); });
    }
};

QString Shown(const char* text) { return Win1252ToQString(text); }

// Whether the field's row is on show.
bool RowShown(TFormEditAccount& e, QWidget* field) { return e.Fields()->isRowVisible(field); }

QString ServerLabel(TFormEditAccount& e) {
    return static_cast<QLabel*>(e.Fields()->labelForField(e.EditServer()))->text();
}

void Type(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

// Fills the editor with an OAuth account of the test authorization server.
void FillCustomOAuth(TFormEditAccount& e, const test::TTestAuthServer& auth) {
    Type(e.EditAccount(), QStringLiteral("Nuvola"));
    Type(e.EditServer(), QStringLiteral("127.0.0.1"));
    e.ComboBoxAccesso()->setFocus();
    QTest::keyClick(e.ComboBoxAccesso(), Qt::Key_End);
    Type(e.EditIdClient(), QStringLiteral("client-1"));
    Type(e.EditUrlAutorizzazione(), QString::fromStdString(auth.Url("/authorize")));
    Type(e.EditUrlToken(), QString::fromStdString(auth.Url("/token")));
    Type(e.EditAmbito(), QStringLiteral("pop offline_access"));
}

test::TFakeMessage Message(int n) {
    const std::string i = std::to_string(n);
    return {"From: Mittente " + i + " <m" + i + "@example.com>\r\nSubject: Messaggio " + i +
                "\r\nDate: Mon, 5 Mar 2007 14:09:00 +0100\r\n\r\nTesto.\r\n",
            "uid-" + i};
}

}  // namespace

class AccountEditorTest : public QObject {
    Q_OBJECT

    TStandInBrowser Browser;

    static void Start(TFormMainWindow& w) {
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnSetup()->isEnabled(), 3000);
    }
    static void Run(TFormMainWindow& w, TDialogDriver& driver) {
        QTest::mouseClick(w.BitBtnSetup(), Qt::LeftButton);
        (void)QTest::qWaitFor([&] { return driver.Done() || !driver.Failure().isEmpty(); }, 8000);
        QVERIFY2(driver.Done(), qPrintable(driver.Pending()));
        QVERIFY2(driver.Failure().isEmpty(), qPrintable(driver.Failure()));
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }

private Q_SLOTS:
    void initTestCase() {
        qputenv("SSL_CERT_FILE", QByteArray::fromStdString(test::TestCertificateDir() + "/ca.pem"));
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &Browser, "Open");
    }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }
    void init() {
        Browser.Follow = true;
        Browser.Opened.clear();
    }

    void rowsFollowTheChoicesMadeWithTheKeyboard() {
        TFormEditAccount e(nullptr);
        e.SetAccount(TSetupDialog::NewAccount());
        e.show();
        QVERIFY(QTest::qWaitForWindowExposed(&e));
        QVERIFY(!RowShown(e, e.EditCartella()));
        QVERIFY(RowShown(e, e.EditPwd()) && e.CheckBoxAPOP()->isVisible());
        QVERIFY(!RowShown(e, e.EditIdClient()) && !e.BitBtnAccedi()->isVisible());
        QCOMPARE(ServerLabel(e), QStringLiteral("Server POP3"));

        e.ComboBoxProtocollo()->setFocus();
        QTest::keyClick(e.ComboBoxProtocollo(), Qt::Key_Down);
        QCOMPARE(e.ComboBoxProtocollo()->currentText(), QStringLiteral("IMAP"));
        QCOMPARE(e.EditPorta()->text(), QStringLiteral("143"));
        QVERIFY(RowShown(e, e.EditCartella()));
        QCOMPARE(e.EditCartella()->text(), QStringLiteral("INBOX"));
        QCOMPARE(ServerLabel(e), QStringLiteral("Server IMAP"));
        QVERIFY(!e.CheckBoxAPOP()->isVisible());

        e.ComboBoxSicurezza()->setFocus();
        QTest::keyClick(e.ComboBoxSicurezza(), Qt::Key_End);
        QCOMPARE(e.EditPorta()->text(), QStringLiteral("993"));

        e.ComboBoxAccesso()->setFocus();
        QTest::keyClick(e.ComboBoxAccesso(), Qt::Key_Down);
        QCOMPARE(e.ComboBoxAccesso()->currentText(), QStringLiteral("OAuth 2.0"));
        QVERIFY(!RowShown(e, e.EditPwd()));
        QVERIFY(RowShown(e, e.EditIdClient()) && RowShown(e, e.EditSegretoClient()));
        QVERIFY(e.BitBtnAccedi()->isVisible());
        QCOMPARE(e.BitBtnAccedi()->text(), QStringLiteral("Accedi con il browser"));
        // No server typed: the provider that changes nothing.
        QCOMPARE(e.ComboBoxProvider()->currentText(), QStringLiteral("Personalizzato"));
        QVERIFY(RowShown(e, e.EditUrlToken()) && RowShown(e, e.EditAmbito()));
        QCOMPARE(e.EditSegretoClient()->echoMode(), QLineEdit::Password);

        e.ComboBoxProvider()->setFocus();
        QTest::keyClick(e.ComboBoxProvider(), Qt::Key_Home);
        QCOMPARE(e.ComboBoxProvider()->currentText(), QStringLiteral("Google"));
        QCOMPARE(e.EditServer()->text(), QStringLiteral("imap.gmail.com"));
        QCOMPARE(e.EditPorta()->text(), QStringLiteral("993"));
        QVERIFY(!RowShown(e, e.EditUrlToken()));
        Type(e.EditIdClient(), QStringLiteral("id-1.apps"));
        Type(e.EditSegretoClient(), QStringLiteral("s3greto"));
        Type(e.EditUser(), QStringLiteral("anna@gmail.example"));
        QTest::qWait(50);
        Grab(e, "account-editor-imap-oauth");

        // Every new control on show is on the Tab road.
        QList<QWidget*> road;
        for (QWidget* w = e.EditAccount()->nextInFocusChain(); w != e.EditAccount();
             w = w->nextInFocusChain())
            if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) road << w;
        for (QWidget* w : std::initializer_list<QWidget*>{
                 e.ComboBoxProtocollo(), e.EditCartella(), e.ComboBoxAccesso(),
                 e.ComboBoxProvider(), e.EditIdClient(), e.EditSegretoClient(),
                 e.BitBtnAccedi()})
            QVERIFY2(road.contains(w), qPrintable(w->objectName()));

        const TMailAccount a = e.Account();
        QCOMPARE(a.Protocol, TProtocol::Imap);
        QCOMPARE(a.Folder, std::string("INBOX"));
        QCOMPARE(a.Access, TAccessMethod::OAuth);
        QCOMPARE(a.OAuth.Provider, std::string(kProviderGoogle));
        QCOMPARE(a.OAuth.ClientId, std::string("id-1.apps"));
        QCOMPARE(a.OAuth.ClientSecret, std::string("s3greto"));
        QCOMPARE(a.Security, TSecurity::Tls);
        QCOMPARE(a.UserPwd, std::string());
    }

    void signInFromTheEditorStoresTheTokenWithTheAccount() {
        THome home;
        test::TTestAuthServer auth("alice@example.org");
        TFormMainWindow w(home.Dir());
        Start(w);
        TDialogDriver driver;
        driver.On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnAdd()); })
            .On<TFormEditAccount>([&auth](TFormEditAccount& e) {
                FillCustomOAuth(e, auth);
                QVERIFY(e.LabelAccesso()->text().isEmpty());
                TDialogDriver::Click(e.BitBtnAccedi());
            })
            .On<TqvFormMsgBox>([](TqvFormMsgBox& box) {
                QCOMPARE(box.TextLabel()->text(), QStringLiteral("Accesso eseguito come alice@example.org"));
                TDialogDriver::Press(box, "OK");
            })
            .On<TFormEditAccount>([](TFormEditAccount& e) {
                QCOMPARE(e.LabelAccesso()->text(),
                         QStringLiteral("Accesso eseguito come alice@example.org"));
                QCOMPARE(e.LabelAccesso()->textFormat(), Qt::PlainText);
                // The user name the provider vouched for, as none was typed.
                QCOMPARE(e.EditUser()->text(), QStringLiteral("alice@example.org"));
                QVERIFY(e.BitBtnOk()->isEnabled());
                TDialogDriver::Click(e.BitBtnOk());
            })
            .On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnOk()); });
        Run(w, driver);
        QCOMPARE(Browser.Opened.size(), size_t{1});
        QVERIFY(Browser.Opened[0].rfind(auth.Url("/authorize"), 0) == 0);
        QVERIFY(Browser.Page.get().find("Puoi chiudere questa finestra") != std::string::npos);
        QCOMPARE(ReadIniScrambled(kSectionAccounts, "TokenRinnovo1", "", PasswordKey),
                 auth.RefreshToken());
        QCOMPARE(w.Form().Accounts.size(), size_t{1});
        QVERIFY(w.Form().Accounts[0].IsOAuth());
    }

    void annullaEndsTheWaitAndKeepsTheEditorOpen() {
        THome home;
        test::TTestAuthServer auth;
        Browser.Follow = false;
        TFormMainWindow w(home.Dir());
        Start(w);
        bool okWhileWaiting = true, shownAfter = false;
        QString waiting, after;
        TDialogDriver driver;
        driver.On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnAdd()); })
            .On<TFormEditAccount>([&](TFormEditAccount& e) {
                FillCustomOAuth(e, auth);
                TDialogDriver::Click(e.BitBtnAccedi());
                auto* poll = new QTimer(&e);
                poll->setInterval(10);
                auto escaped = std::make_shared<bool>(false);
                QObject::connect(poll, &QTimer::timeout, [&, poll, escaped, editor = &e] {
                    if (editor->SigningIn() && !*escaped) {
                        okWhileWaiting = editor->BitBtnOk()->isEnabled();
                        waiting = editor->LabelAccesso()->text();
                        *escaped = true;
                        QTest::keyClick(editor, Qt::Key_Escape);
                    } else if (*escaped && !editor->SigningIn()) {
                        poll->stop();
                        shownAfter = editor->isVisible();
                        after = editor->LabelAccesso()->text();
                        TDialogDriver::Click(editor->BitBtnAnnulla());
                    }
                });
                poll->start();
            })
            .On<TFormSetup>([](TFormSetup& s) { TDialogDriver::Click(s.BitBtnAnnulla()); });
        Run(w, driver);
        QCOMPARE(Browser.Opened.size(), size_t{1});
        QVERIFY(!okWhileWaiting);
        QCOMPARE(waiting, Shown(kSignInWaitText));
        QVERIFY(shownAfter);
        QCOMPARE(after, Shown(kSignInStoppedText));
        QCOMPARE(auth.Requests("/token"), size_t{0});
    }

    void theWindowAsksBeforeSigningInAgainWhenTheGrantIsGone() {
        THome home;
        test::TTestAuthServer auth("alice");
        auth.SetRefreshToken("rt-seed");
        auth.Mode = test::TTestAuthServer::TMode::InvalidGrant;
        test::TFakePop3Server pop3("alice", "unused", {Message(1), Message(2)});
        pop3.AcceptTokens([&auth](const std::string& token) { return auth.Valid(token); });
        TMailAccount a;
        a.AccountName = "Nuvola";
        a.PopServer = "127.0.0.1";
        a.Port = std::to_string(pop3.Port());
        a.UserId = "alice";
        a.Access = TAccessMethod::OAuth;
        a.OAuth = {kProviderCustom, "client-1", "", auth.Url("/authorize"), auth.Url("/token"), "",
                   "pop offline_access"};
        a.RefreshToken = "rt-seed";
        SaveAccounts({a});
        TFormMainWindow w(home.Dir());
        Start(w);

        TBoxAnswerer answerer;
        answerer.Answer = [](TqvFormMsgBox& box) {
            TDialogDriver::Press(box, box.Buttons().size() == 2 ? "No" : "OK");
        };
        QTest::mouseClick(w.BitBtnCheck(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnCheck()->isEnabled() && answerer.Seen.size() == 2, 5000);
        QCOMPARE(answerer.Texts(),
                 (std::vector<QString>{
                     QStringLiteral("Accesso scaduto per Nuvola: accedere di nuovo?"),
                     QStringLiteral("Accesso scaduto per Nuvola: eseguire kalmuro --sign-in 1")}));
        QVERIFY(Browser.Opened.empty());
        QCOMPARE(pop3.SessionsAccepted(), size_t{0});

        answerer.Seen.clear();
        answerer.Answer = [](TqvFormMsgBox& box) { TDialogDriver::Press(box, "Si"); };
        QTest::mouseClick(w.BitBtnCheck(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(w.Model().rowCount(), 2, 8000);
        QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnCheck()->isEnabled(), 5000);
        QCOMPARE(answerer.Texts(), std::vector<QString>{QStringLiteral(
                                       "Accesso scaduto per Nuvola: accedere di nuovo?")});
        QCOMPARE(Browser.Opened.size(), size_t{1});
        QVERIFY(Browser.Page.get().find("Puoi chiudere questa finestra") != std::string::npos);
        QCOMPARE(ReadIniScrambled(kSectionAccounts, "TokenRinnovo1", "", PasswordKey),
                 auth.RefreshToken());
    }
};

QTEST_MAIN(AccountEditorTest)
#include "account_editor_test.moc"
