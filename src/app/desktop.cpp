#include "app/desktop.h"

#include <unistd.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

#include "app/form_info.h"
#include "app/form_main_window.h"
#include "app/pictures.h"
#include "app/qt_text.h"
#include "app/shell.h"
#include "engine/form_main.h"
#include "mail/user_folders.h"

namespace kalmuro {

namespace {

constexpr const char* kNoDisplay =
    "kalmuro: nessun display grafico disponibile (DISPLAY e WAYLAND_DISPLAY non sono "
    "impostati o non rispondono); per controllare la posta senza finestra usare "
    "\"kalmuro --check\"\n";

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// Until the application stands, a platform that cannot start is the one
// fatal error Qt reports; it becomes the program's own one-line refusal
// instead of an abort with a core dump. The warnings that led to it are
// held back meanwhile, and shown only when the start succeeds.
QString gHeldBack;
void StartupMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        std::fputs(kNoDisplay, stderr);
        std::fflush(stderr);
        _exit(2);
    }
    if (type != QtDebugMsg && type != QtInfoMsg) gHeldBack += text + QLatin1Char('\n');
}

}  // namespace

bool DisplayAvailable() {
    return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

int RunDesktop(int argc, char** argv, const std::string& homeDir) {
    if (!DisplayAvailable()) {
        std::fputs(kNoDisplay, stderr);
        return 2;
    }
    qInstallMessageHandler(StartupMessageHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(nullptr);
    if (!gHeldBack.isEmpty()) std::fputs(gHeldBack.toLocal8Bit().constData(), stderr);
    QApplication::setApplicationName(QStringLiteral("kalmuro"));
    QApplication::setDesktopFileName(QLatin1String(kDesktopId));
    QApplication::setWindowIcon(ProgramIcon());
    // The window lives on in the tray when it is hidden; only its own close
    // ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // The platform's own dialogs (the save dialog) in Italian too.
    QTranslator translator;
    if (translator.load(QLocale(QLocale::Italian), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&translator);

    {
        TFormInfo splash(TFormInfo::Splash);
        splash.OnImageClick = [] { ShellOpenOrReport(MakerPageAddress(kMakerPageInfo)); };
        splash.Timer1()->start();
        splash.show();
        while (splash.isVisible()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    TFormMainWindow window(homeDir);
    QObject::connect(&window, &TFormMainWindow::Closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    QCoreApplication::processEvents();
    window.show();
    return QApplication::exec();
}

}  // namespace kalmuro
