// The window left running: the real main window, shown (offscreen unless a
// platform is chosen), checks the same mailbox again and again, each check
// started from the event loop as the auto-check timer starts it, and the
// resident size is read after every check. A tray program runs for days, so
// what one check leaves behind adds up.
//   bench_soak --home DIR [--checks N]
// Prints one line per check (check=K rows=R rss_kb=S), then
//   checks=N rss_first_mb=A rss_last_mb=B growth_kb_per_check=G
// Before each reading the allocator hands its free pages back, so that the
// figure is what the program holds rather than what the allocator keeps in
// hand (run_soak.sh also turns its per-thread caches off). G compares the
// median of checks 10-19 with the median of the last ten, per check between
// them: a passing allocation caught by one reading does not move it.
#include <malloc.h>

#include <QApplication>
#include <algorithm>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/form_main_window.h"
#include "app/message_model.h"

namespace {

int64_t ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) != 0) continue;
        std::istringstream value(line.substr(6));
        int64_t kb = -1;
        value >> kb;
        return kb;
    }
    return -1;
}

double Median(std::vector<int64_t> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n % 2 == 1) return static_cast<double>(values[n / 2]);
    return (static_cast<double>(values[n / 2 - 1]) + static_cast<double>(values[n / 2])) / 2;
}

int Usage() {
    std::fprintf(stderr, "usage: bench_soak --home DIR [--checks N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string home;
    int checks = 100;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--home") == 0 && i + 1 < argc) {
            home = argv[++i];
        } else if (std::strcmp(argv[i], "--checks") == 0 && i + 1 < argc) {
            checks = std::atoi(argv[++i]);
        } else {
            return Usage();
        }
    }
    if (home.empty() || checks < 1) return Usage();
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    kalmuro::TFormMainWindow window(home);
    window.show();
    QCoreApplication::processEvents();

    // Each check runs from the top of the event loop and returns to it, so
    // whatever the window leaves to the loop (deferred deletions, posted
    // events) is done before the next one, as between two timed checks.
    std::vector<int64_t> rss;
    int rows = -1;
    QTimer next;
    next.setSingleShot(true);
    next.setInterval(0);
    QObject::connect(&next, &QTimer::timeout, [&] {
        window.Form().CheckMail();
        QTimer::singleShot(0, [&] {
            rows = window.Model().rowCount();
            malloc_trim(0);
            rss.push_back(ResidentKb());
            std::printf("check=%zu rows=%d rss_kb=%lld\n", rss.size(), rows,
                        static_cast<long long>(rss.back()));
            std::fflush(stdout);
            if (static_cast<int>(rss.size()) < checks)
                next.start();
            else
                QCoreApplication::quit();
        });
    });
    next.start();
    QApplication::exec();

    double growth = 0.0;
    if (rss.size() >= 20) {
        const double settled = Median({rss.begin() + 9, rss.begin() + 19});
        const double last = Median({rss.end() - 10, rss.end()});
        // Per check between the middles of the two windows.
        growth = (last - settled) / static_cast<double>(rss.size() - 19);
    } else if (rss.size() > 1) {
        growth = static_cast<double>(rss.back() - rss.front()) /
                 static_cast<double>(rss.size() - 1);
    }
    std::printf("checks=%zu rss_first_mb=%.1f rss_last_mb=%.1f growth_kb_per_check=%.2f\n",
                rss.size(), static_cast<double>(rss.front()) / 1024,
                static_cast<double>(rss.back()) / 1024, growth);
    return 0;
}
