#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("kalmuro %d.%d.%d.%d\n", KALMURO_VERSION_MAJOR, KALMURO_VERSION_MINOR,
                    KALMURO_VERSION_PATCH, KALMURO_VERSION_TWEAK);
        return 0;
    }
    std::fprintf(stderr, "uso: kalmuro --version\n");
    return 2;
}
