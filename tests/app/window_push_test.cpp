// The window with "AttesaImmediata" on: its push timer keeps an IDLE
// connection to the IMAP account of a real Dovecot, and a message dropped
// into the Maildir starts the ordinary check; with the option off nothing
// connects at all.
#include <sys/stat.h>
#include <unistd.h>

#include <QTest>
#include <QTimer>
#include <cstdio>
#include <fstream>

#include "app/app_harness.h"
#include "app/form_main_window.h"
#include "mail/accounts.h"
#include "support/dovecot_server.h"

using namespace kalmuro;
using namespace kalmuro::apptest;

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

class WindowPushTest : public QObject {
    Q_OBJECT

private:
    static void Save(const test::TDovecotServer& server, bool push) {
        TMailAccount a;
        a.AccountName = "Imap";
        a.PopServer = "127.0.0.1";
        a.Port = std::to_string(server.ImapPort());
        a.UserId = "alice";
        a.UserPwd = "secret";
        a.Protocol = TProtocol::Imap;
        SaveAccounts({a});
        if (push) WriteIniString(kSectionSetup, kKeyImmediateCheck, "1");
    }

private Q_SLOTS:
    void newMailStartsACheck() {
        test::TDovecotServer server;
        server.Imap = true;
        QVERIFY2(server.AddUser("alice", "secret") && server.GenerateMail("alice", 2, 95) &&
                     server.Start(),
                 server.Error().c_str());
        THome home;
        Save(server, true);
        TBoxAnswerer boxes;
        TFormMainWindow w(home.Dir());
        auto* timer = w.findChild<QTimer*>(QStringLiteral("TimerPush"));
        QVERIFY(timer != nullptr);
        QCOMPARE(timer->interval(), 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // The IDLE connection is up once Dovecot logged it in.
        QTRY_VERIFY_WITH_TIMEOUT(Count(server.Log(), "imap-login: Info: Login:") >= 1, 10000);
        // Past the start: nothing new, no check.
        QTest::qWait(1500);
        const QString before = w.StatusText();
        QVERIFY(!before.contains(QStringLiteral("Ultima verifica")));

        const std::string maildir = server.Maildir("alice");
        const std::string tmp = maildir + "/tmp/1800000000.M1P1.push";
        std::ofstream(tmp) << "From: Push <push@example.org>\nSubject: Pushed\n\nHello.\n";
        struct stat owner {};
        QCOMPARE(stat(maildir.c_str(), &owner), 0);
        QCOMPARE(chown(tmp.c_str(), owner.st_uid, owner.st_gid), 0);
        QCOMPARE(std::rename(tmp.c_str(), (maildir + "/new/1800000000.M1P1.push").c_str()), 0);
        // The ordinary check runs: its status line says when it last looked.
        QTRY_VERIFY_WITH_TIMEOUT(
            w.StatusText() != before && w.StatusText().contains(QStringLiteral("Ultima verifica")),
            10000);
    }

    void offConnectsNothing() {
        test::TDovecotServer server;
        server.Imap = true;
        QVERIFY2(server.AddUser("alice", "secret") && server.Start(), server.Error().c_str());
        THome home;
        Save(server, false);
        TBoxAnswerer boxes;
        TFormMainWindow w(home.Dir());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::qWait(1500);
        QCOMPARE(Count(server.Log(), "imap-login: Info: Login:"), size_t{0});
        QVERIFY(!w.StatusText().contains(QStringLiteral("Ultima verifica")));
        // With nothing to watch the window does not keep waking up.
        QVERIFY(!w.findChild<QTimer*>(QStringLiteral("TimerPush"))->isActive());
    }
};

QTEST_MAIN(WindowPushTest)
#include "window_push_test.moc"
