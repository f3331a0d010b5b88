// The window as a module of its own, loaded by the program only when it
// opens a window: a headless check then never loads the toolkit's libraries,
// whose loading would otherwise cost more than checking a small mailbox.
#include "app/desktop.h"

extern "C" __attribute__((visibility("default"))) int KalmuroRunDesktop(int argc, char** argv,
                                                                        const char* homeDir) {
    return kalmuro::RunDesktop(argc, argv, homeDir != nullptr ? homeDir : "");
}
