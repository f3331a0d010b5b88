// kalmuro [--home DIR]: the desktop program with its window.
// kalmuro --check [--delete-blocked] [--home DIR] [--verbose]: one check over
// every account, as the window would run it, printed for a terminal or a
// script; with --delete-blocked the ticked messages are then deleted and a
// second check shows what is left. Neither this nor the other commands ever
// need a display.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <string>
#include <vector>

#include "console_screen.h"
#include "engine/check_report.h"
#include "engine/form_main.h"
#include "mail/accounts.h"
#include "mail/settings.h"
#include "mail/text.h"
#include "mail/user_folders.h"
#if KALMURO_WITH_DESKTOP
#include "desktop_loader.h"
#endif

namespace {

using namespace kalmuro;

constexpr const char* kUsage =
#if KALMURO_WITH_DESKTOP
    "uso: kalmuro [--home CARTELLA]\n"
#endif
    "uso: kalmuro --check [--home CARTELLA] [--verbose]\n"
    "     kalmuro --check --delete-blocked [--home CARTELLA] [--verbose]\n"
    "     kalmuro --scramble-password < FILE\n"
    "     kalmuro --version\n"
    "     kalmuro --help\n"
    "\n"
#if KALMURO_WITH_DESKTOP
    "  (nessun comando)  apre la finestra del programma\n"
#endif
    "  --check           controlla tutti gli account attivi e stampa i messaggi trovati\n"
    "  --delete-blocked  dopo il controllo elimina dal server i messaggi bloccati\n"
    "                    (con una copia nel Cestino se CopyToRecycle lo prevede),\n"
    "                    poi controlla di nuovo e stampa quel che resta\n"
    "  --home            la cartella di kalmuro.ini, delle liste e del Cestino\n"
    "                    (predefinita: la cartella del programma; per una copia\n"
    "                    installata ~/.config/kalmuro e ~/.local/share/kalmuro/Cestino)\n"
    "  --verbose         stampa anche i messaggi della barra di stato\n"
    "  --scramble-password  legge una password (una riga) dallo standard input e\n"
    "                    stampa il valore da scrivere come UserPwd in kalmuro.ini\n"
    "  --version         stampa la versione del programma\n"
    "  --help            stampa questo riepilogo (man kalmuro per i dettagli)\n";

struct TOptions {
    bool Check = false;
    bool DeleteBlocked = false;
    bool Verbose = false;
    bool HasHome = false;
    std::string Home;
};

int Usage(const char* problem) {
    if (problem != nullptr) std::fprintf(stderr, "kalmuro: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

// An installed copy keeps its files in the user's folders (user_folders.h).
// Its configuration folder is made before anything reads it, and the files
// an earlier version kept in the data folder move into it once. Returns 0,
// or 1 after saying why the folder could not be made.
int PrepareUserFolders() {
    const TFolderChoice& folders = DefaultFolders();
    if (!folders.Installed) return 0;
    if (const int error = MakePrivateFolders(folders.Config); error != 0) {
        std::fprintf(stderr, "kalmuro: impossibile creare la cartella %s: %s\n",
                     TerminalText(folders.Config).c_str(), std::strerror(error));
        return 1;
    }
    const std::vector<std::string> names(std::begin(kConfigFileNames), std::end(kConfigFileNames));
    for (const std::string& name : MoveEarlierFiles(folders.Data, folders.Config, names))
        std::fprintf(stderr, "kalmuro: %s resta in %s: %s ne ha gi\xC3\xA0 uno\n",  // già
                     name.c_str(), TerminalText(folders.Data).c_str(),
                     TerminalText(folders.Config).c_str());
    return 0;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether the build checks for leaks at exit, which needs the usual way out.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kLeakChecked = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kLeakChecked = true;
#else
constexpr bool kLeakChecked = false;
#endif
#else
constexpr bool kLeakChecked = false;
#endif

// Ends the process once everything printed is out, without freeing what
// the check kept: the records of a long mailbox would otherwise be freed one
// by one just before the system takes the memory back anyway.
int EndRun(int status) {
    if (kLeakChecked) return status;
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

int RunCheck(const TOptions& options) {
    if (options.HasHome) SetHomeDir(options.Home);
    TConsoleScreen screen(stderr, options.Verbose);
    TFormMain form(screen);
    form.AskToAcceptCertificates = false;
    screen.Attach(&form);
    InstallInterruptHandler();

    // With a deletion run there are two checks; an error in the first one
    // must not pass for success because the second one went well.
    bool checkErrors = false;
    form.OnCheckEnded = [&form, &checkErrors] {
        checkErrors = checkErrors || form.CheckErrorFlag();
        for (const TMessageRow& row : form.List().Rows) {
            const TMessageEntry& entry = form.Messages[static_cast<size_t>(row.RecordIndex)];
            std::fputs(CheckRowLine(entry, row).c_str(), stdout);
            std::fputc('\n', stdout);
        }
        std::fputs(TerminalText(form.StatusText()).c_str(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    };

    try {
        form.LoadSettings();
    } catch (const std::exception& e) {
        form.ReportError(e);
        return 1;
    }
    form.FormShow();
    if (form.Accounts.empty()) {
        std::fprintf(stderr, "kalmuro: nessun account in %s\n",
                     TerminalText(IniFileName()).c_str());
        return 0;
    }
    form.CheckMail(options.DeleteBlocked ? TAutoDeletion::Always : TAutoDeletion::FromSettings);
    return EndRun(screen.BoxesShown() > 0 || checkErrors ? 1 : 0);
}

// Prints the stored form of a password read from stdin, so that a settings
// file can be written by hand. The password never appears on a command line.
int ScramblePassword() {
    std::string line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::printf("%s\n", HexEncode(ScrambleText(PasswordKey, Utf8ToCp1252(line))).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kalmuro %d.%d.%d.%d\n", KALMURO_VERSION_MAJOR, KALMURO_VERSION_MINOR,
                    KALMURO_VERSION_PATCH, KALMURO_VERSION_TWEAK);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--scramble-password") == 0) return ScramblePassword();
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--check" && !options.Check) {
            options.Check = true;
        } else if (arg == "--delete-blocked" && !options.DeleteBlocked) {
            options.DeleteBlocked = true;
        } else if (arg == "--verbose" && !options.Verbose) {
            options.Verbose = true;
        } else if (arg == "--home" && !options.HasHome) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') return Usage("--home vuole una cartella");
            options.HasHome = true;
            options.Home = argv[++i];
        } else {
            return Usage(("argomento non valido: " + arg).c_str());
        }
    }
    const bool window = !options.Check && !options.DeleteBlocked && !options.Verbose;
#if KALMURO_WITH_DESKTOP
    if (!window && !options.Check) return Usage(nullptr);
#else
    if (!options.Check) return Usage(nullptr);
#endif
    if (options.HasHome && !IsDirectory(options.Home))
        return Usage(("la cartella non esiste: " + options.Home).c_str());
    if (!options.HasHome && PrepareUserFolders() != 0) return 1;
#if KALMURO_WITH_DESKTOP
    if (window) return RunDesktopModule(argc, argv, options.HasHome ? options.Home : std::string());
#else
    (void)window;
#endif
    return RunCheck(options);
}
