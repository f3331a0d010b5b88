// The message list's batches of appended rows: the first row shows at once,
// rows that can be seen follow after a short wait, rows that land below a
// full list (or in a hidden window) wait longer, and every row arrives.
#include <QTest>
#include <QTreeView>
#include <string>

#include "app/app_harness.h"
#include "app/form_main_window.h"
#include "app/message_model.h"
#include "engine/form_main.h"
#include "mail/accounts.h"

using namespace kalmuro;
using namespace kalmuro::apptest;

namespace {

// Adds a record and its row as a check does when a header comes in.
void AppendRecord(TFormMain& form) {
    TMessageEntry e;
    e.AccountIndex = 0;
    e.MsgNumber = static_cast<int32_t>(form.Messages.size()) + 1;
    e.Sender = "mittente" + std::to_string(e.MsgNumber) + "@example.org";
    e.Subject = "oggetto " + std::to_string(e.MsgNumber);
    e.Size = 1000;
    form.Messages.push_back(e);
    const auto index = static_cast<int32_t>(form.Messages.size()) - 1;
    form.AddMessageRow(BuildMessageRow(form.Messages.back(), index));
}

}  // namespace

class MessageModelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rowsBelowAFullListWaitLongerAndStillArrive() {
        THome home;
        TBoxAnswerer boxes;
        TMailAccount account;
        account.AccountName = "Alice";
        account.PopServer = "127.0.0.1";
        account.UserId = "alice";
        SaveAccounts({account});
        TFormMainWindow w(home.Dir());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        TFormMain& form = w.Form();
        TMessageModel& model = w.Model();

        // An empty list is all in sight; its first row shows at once.
        QCOMPARE(model.BatchMs(), TMessageModel::kBatchMs);
        AppendRecord(form);
        QCOMPARE(model.rowCount(), 1);
        AppendRecord(form);
        AppendRecord(form);
        QTRY_COMPARE(model.rowCount(), 3);
        QCOMPARE(model.BatchMs(), TMessageModel::kBatchMs);

        // Far more rows than the list shows: what follows lands out of sight,
        // and still reaches the view.
        for (int i = 0; i < 200; ++i) AppendRecord(form);
        QTRY_COMPARE(model.rowCount(), 203);
        QCOMPARE(model.BatchMs(), TMessageModel::kOutOfSightMs);
        AppendRecord(form);
        QTRY_COMPARE(model.rowCount(), 204);
        QCOMPARE(w.ListViewMsg()->model()->rowCount(), 204);

        // A hidden window shows nothing at all.
        w.hide();
        form.Messages.resize(2);
        form.FillMessageList();
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.BatchMs(), TMessageModel::kOutOfSightMs);
        AppendRecord(form);
        QTRY_COMPARE(model.rowCount(), 3);

        // Shown again with few rows: in sight once more.
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(model.BatchMs(), TMessageModel::kBatchMs);
        QVERIFY(boxes.Seen.empty());
    }
};

QTEST_MAIN(MessageModelTest)
#include "message_model_test.moc"
