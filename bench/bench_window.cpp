// One check through the real main window: the window is built and shown
// (offscreen unless a platform is chosen), the engine's check runs with the
// rows drawn as they arrive, and the program ends. Prints the rows, the
// seconds from the window's creation to the end of the check, the seconds
// the window took to be built and shown (open_seconds), and how often the
// message list and the status bar were painted during the check (list_paints,
// status_paints): the share of the window's cost that grows with the rows.
//   bench_window --home DIR [--scroll]
// --scroll then pages through the whole list from top to bottom, drawing
// every page, and prints how often the model was reset or re-laid out
// meanwhile (it must not be: scrolling only reads the rows it draws).
#include <QAbstractItemModel>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QScrollBar>
#include <QTreeView>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/form_main_window.h"
#include "app/message_model.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Counts the paint events of one widget.
class TPaintCounter : public QObject {
public:
    int Paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++Paints;
        return QObject::eventFilter(watched, event);
    }
};

// Pages through the list, drawing each page; returns the pages drawn.
int ScrollThrough(QTreeView* view) {
    QScrollBar* bar = view->verticalScrollBar();
    int pages = 0;
    for (int value = bar->minimum();; value += bar->pageStep()) {
        bar->setValue(value);
        view->viewport()->repaint();
        ++pages;
        if (value >= bar->maximum()) break;
    }
    return pages;
}

}  // namespace

int main(int argc, char** argv) {
    std::string home;
    bool scroll = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--home") == 0 && i + 1 < argc) {
            home = argv[++i];
        } else if (std::strcmp(argv[i], "--scroll") == 0) {
            scroll = true;
        } else {
            std::fprintf(stderr, "usage: bench_window --home DIR [--scroll]\n");
            return 2;
        }
    }
    if (home.empty()) {
        std::fprintf(stderr, "usage: bench_window --home DIR [--scroll]\n");
        return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    const Clock::time_point start = Clock::now();
    kalmuro::TFormMainWindow window(home);
    window.show();
    QCoreApplication::processEvents();
    const double opened = Since(start);
    TPaintCounter paints, statusPaints;
    window.ListViewMsg()->viewport()->installEventFilter(&paints);
    window.StatusLabel()->installEventFilter(&statusPaints);
    // The check button's handler, as a click on it runs it; the button itself
    // stays disabled for the first second after the window shows.
    window.Form().CheckMail();
    const double seconds = Since(start);
    window.ListViewMsg()->viewport()->removeEventFilter(&paints);
    window.StatusLabel()->removeEventFilter(&statusPaints);
    const int rows = window.Model().rowCount();
    std::printf("rows=%d check_seconds=%.3f open_seconds=%.3f list_paints=%d status_paints=%d\n",
                rows, seconds, opened, paints.Paints, statusPaints.Paints);

    if (scroll) {
        QAbstractItemModel* model = window.ListViewMsg()->model();
        int relayouts = 0, inserts = 0;
        QObject::connect(model, &QAbstractItemModel::layoutChanged, [&] { ++relayouts; });
        QObject::connect(model, &QAbstractItemModel::rowsInserted, [&] { ++inserts; });
        const int64_t resets = window.Model().ResetCount();
        const Clock::time_point scrolled = Clock::now();
        const int pages = ScrollThrough(window.ListViewMsg());
        const double scrollSeconds = Since(scrolled);
        std::printf("scroll pages=%d seconds=%.3f ms_per_page=%.2f resets=%lld relayouts=%d "
                    "inserts=%d\n",
                    pages, scrollSeconds, pages > 0 ? 1000.0 * scrollSeconds / pages : 0.0,
                    static_cast<long long>(window.Model().ResetCount() - resets), relayouts,
                    inserts);
    }
    return 0;
}
