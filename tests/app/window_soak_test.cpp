// The window left running, as a tray program is for days: check after check
// of the same mailbox on a real Dovecot, the window shown and drawn. What a
// check leaves behind adds up over days, so the heap still in use after the
// 30th check must be what it was after the 10th: the first checks may fill
// caches that stop growing, later ones must not keep anything.
#include <malloc.h>

#include <QHeaderView>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own count of the bytes the program holds (its header is
// not installed with every compiler).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "app/app_harness.h"
#include "app/form_main_window.h"
#include "app/message_model.h"
#include "mail/accounts.h"
#include "support/dovecot_server.h"

using namespace kalmuro;
using namespace kalmuro::apptest;

namespace {

// Every block handed out by operator new in this program, Qt's included,
// counted live: exact, whatever the allocator keeps for itself. The
// allocator is asked for each block's size, so no header is added.
std::atomic<int64_t> GNewBytes{0}, GNewBlocks{0};

}  // namespace

void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    GNewBytes += static_cast<int64_t>(malloc_usable_size(block));
    ++GNewBlocks;
    return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept {
    if (block == nullptr) return;
    GNewBytes -= static_cast<int64_t>(malloc_usable_size(block));
    --GNewBlocks;
    std::free(block);
}
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { operator delete(block); }

namespace {

// Bytes of the whole heap in use (operator new's blocks and Qt's own
// malloc'ed buffers, pictures among them), as the allocator counts them; a
// little looser, since the allocator's per-thread caches count as in use.
int64_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<int64_t>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<int64_t>(info.uordblks + info.hblkhd);
#endif
}

struct TSample {
    int64_t NewBytes, NewBlocks, Heap;
};

TSample Sample() { return {GNewBytes.load(), GNewBlocks.load(), HeapInUse()}; }

// What the event loop does between two timed checks: posted events, the
// paint that follows the check, and the deletions left to the loop.
void BackToTheLoop() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

}  // namespace

class WindowSoakTest : public QObject {
    Q_OBJECT

    test::TDovecotServer* Server = nullptr;
    std::vector<test::TManifestEntry> Mail;

private Q_SLOTS:
    void initTestCase() {
        Server = new test::TDovecotServer;
        QVERIFY2(Server->AddUser("soak", "secret") && Server->GenerateMail("soak", 60, 7) &&
                     Server->Start(),
                 Server->Error().c_str());
        Mail = Server->Manifest("soak");
        QCOMPARE(Mail.size(), size_t(60));
    }
    void cleanupTestCase() { delete Server; }

    void repeatedChecksKeepNothing() {
        THome home;
        TBoxAnswerer boxes;
        // Some rows blocked and ticked, some safe: every colour is drawn.
        home.Write("Mittenti.txt", Mail[3].FromAddress + "\r\n" + Mail[11].FromAddress + "\r\n");
        home.Write("MittentiOk.txt", Mail[5].FromAddress + "\r\n");
        TMailAccount account;
        account.AccountName = "Soak";
        account.PopServer = "127.0.0.1";
        account.Port = std::to_string(Server->Port());
        account.UserId = "soak";
        account.UserPwd = "secret";
        SaveAccounts({account});
        TFormMainWindow w(home.Dir());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY_WITH_TIMEOUT(w.BitBtnCheck()->isEnabled(), 3000);

        // While the first check runs, the list is painted in the busy colour
        // where no row covers it yet.
        QColor busyPaint;
        const QMetaObject::Connection watch =
            connect(&w.Model(), &QAbstractItemModel::rowsInserted, [&] {
                if (busyPaint.isValid() || !w.Form().Checking) return;
                QWidget* viewport = w.ListViewMsg()->viewport();
                busyPaint = viewport->grab().toImage().pixelColor(viewport->width() / 2,
                                                                  viewport->height() - 3);
            });

        constexpr int kChecks = 30, kSettled = 10;
        std::vector<TSample> after;
        qint64 headerKey = 0;
        for (int check = 1; check <= kChecks; ++check) {
            QTest::mouseClick(w.BitBtnCheck(), Qt::LeftButton);
            BackToTheLoop();
            QCOMPARE(w.Model().rowCount(), 60);
            QVERIFY(!w.Form().Checking);
            after.push_back(Sample());
            // The list's busy colour comes and goes with each check; the
            // header and scroll bars drawn around it keep their palette, or
            // every picture the style caches for them is made anew.
            if (check == 1) headerKey = w.ListViewMsg()->header()->palette().cacheKey();
            QCOMPARE(w.ListViewMsg()->header()->palette().cacheKey(), headerKey);
        }
        disconnect(watch);
        QCOMPARE(busyPaint, QApplication::palette().color(QPalette::Button));
        QCOMPARE(w.ListViewMsg()->viewport()->palette().color(QPalette::Base),
                 w.ListViewMsg()->palette().color(QPalette::Base));
        // The list really was drawn with its scroll bar, the part of the
        // window a check repaints most.
        QVERIFY(w.ListViewMsg()->verticalScrollBar()->isVisible());
        QVERIFY(boxes.Seen.empty());

        const TSample& settled = after[kSettled - 1];
        const TSample& last = after.back();
        const int64_t newBytes = last.NewBytes - settled.NewBytes;
        const int64_t newBlocks = last.NewBlocks - settled.NewBlocks;
        const int64_t heap = last.Heap - settled.Heap;
        qInfo("from check %d to check %d: %+lld bytes in %+lld blocks of operator new, "
              "%+lld bytes of heap",
              kSettled, kChecks, static_cast<long long>(newBytes),
              static_cast<long long>(newBlocks), static_cast<long long>(heap));
        // The slack covers caches that fill slowly towards a bound (glyphs
        // of the status bar's time of day, at the places a digit falls); the
        // pictures one check used to keep came to over fifty blocks and five
        // kilobytes of operator new, and ninety of heap, at every check.
        QVERIFY2(newBlocks < 256 && newBytes < 32 * 1024,
                 qPrintable(QStringLiteral("%1 blocks, %2 bytes more")
                                .arg(newBlocks)
                                .arg(newBytes)));
        QVERIFY2(heap < 96 * 1024, qPrintable(QStringLiteral("%1 bytes more").arg(heap)));
    }
};

QTEST_MAIN(WindowSoakTest)
#include "window_soak_test.moc"
