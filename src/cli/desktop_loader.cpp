// Built only with the window.
#if KALMURO_WITH_DESKTOP
#include "desktop_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>

#include "engine/check_report.h"

namespace kalmuro {

namespace {

constexpr const char* kModuleName = "kalmuro-desktop.so";
using TRunDesktop = int (*)(int, char**, const char*);

}  // namespace

std::string DesktopModulePath() {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        std::string beside(exe, static_cast<size_t>(n));
        beside.erase(beside.rfind('/') + 1);
        beside += kModuleName;
        if (access(beside.c_str(), R_OK) == 0) return beside;
    }
    return std::string(KALMURO_DESKTOP_MODULE_DIR) + "/" + kModuleName;
}

int RunDesktopModule(int argc, char** argv, const std::string& homeDir) {
    const std::string path = DesktopModulePath();
    // Loaded for the rest of the run and never closed: the toolkit's own
    // clean-up at exit still needs its code.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    TRunDesktop run = nullptr;
    if (module != nullptr)
        run = reinterpret_cast<TRunDesktop>(dlsym(module, "KalmuroRunDesktop"));
    if (run == nullptr) {
        const char* reason = dlerror();
        std::fprintf(stderr, "kalmuro: impossibile aprire la finestra: %s\n",
                     reason != nullptr ? TerminalText(reason).c_str() : path.c_str());
        return 2;
    }
    return run(argc, argv, homeDir.c_str());
}

}  // namespace kalmuro

#endif  // KALMURO_WITH_DESKTOP
