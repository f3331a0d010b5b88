#!/usr/bin/env bash
# Configures and builds one purpose in its own folder, every option given
# explicitly, so that no folder ever reuses another purpose's cache:
#   scripts/build.sh debug|asan|fuzz|release|package [TARGET...]
#     debug    build-debug    Debug, tests, benchmarks, the window
#     asan     build-asan     Debug with AddressSanitizer+UBSan, tests, the window
#     fuzz     build-fuzz     clang, the libFuzzer targets only
#     release  build-release  Release, the program and the benchmarks (run, demo, bench)
#     package  build-package  Release for /usr with Debian's hardening flags, the program,
#                             its window and the icons' PNG sizes (scripts/package.sh)
# Without targets everything of that purpose is built. Prints the folder last.
# Environment: KALMURO_JOBS (default: the number of CPUs).
set -euo pipefail
cd "$(dirname "$0")/.."
purpose=${1:-}
[ $# -gt 0 ] && shift

# The window is part of every build but the fuzz one.
app=ON
if [ ! -f src/app/CMakeLists.txt ]; then
  app=OFF
  echo "note: src/app is missing: building without the window" >&2
fi

common=(-DKALMURO_SANITIZE=OFF -DKALMURO_FUZZ=OFF -DKALMURO_PNG_ICONS=OFF
        -DCMAKE_INSTALL_PREFIX=/usr/local)
case $purpose in
  debug)   opts=(-DCMAKE_BUILD_TYPE=Debug -DKALMURO_TESTS=ON -DKALMURO_BENCH=ON
                 -DKALMURO_APP=$app "${common[@]}") ;;
  asan)    opts=(-DCMAKE_BUILD_TYPE=Debug -DKALMURO_TESTS=ON -DKALMURO_BENCH=OFF
                 -DKALMURO_APP=$app -DKALMURO_SANITIZE=ON -DKALMURO_FUZZ=OFF
                 -DKALMURO_PNG_ICONS=OFF -DCMAKE_INSTALL_PREFIX=/usr/local) ;;
  fuzz)    opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALMURO_TESTS=OFF -DKALMURO_BENCH=OFF
                 -DKALMURO_APP=OFF -DKALMURO_SANITIZE=OFF -DKALMURO_FUZZ=ON
                 -DKALMURO_PNG_ICONS=OFF -DCMAKE_INSTALL_PREFIX=/usr/local
                 -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  release) opts=(-DCMAKE_BUILD_TYPE=Release -DKALMURO_TESTS=OFF -DKALMURO_BENCH=ON
                 -DKALMURO_APP=$app "${common[@]}") ;;
  # The flags Debian builds its packages with (hardened: PIE, full RELRO,
  # stack protector, fortified calls), and the folders of /usr, where the
  # program looks for its window module.
  package) export DEB_BUILD_MAINT_OPTIONS=hardening=+all
           cppflags=$(dpkg-buildflags --get CPPFLAGS)
           ldflags=$(dpkg-buildflags --get LDFLAGS)
           opts=(-DCMAKE_BUILD_TYPE=Release -DKALMURO_TESTS=OFF -DKALMURO_BENCH=OFF
                 -DKALMURO_APP=ON -DKALMURO_PNG_ICONS=ON -DKALMURO_SANITIZE=OFF -DKALMURO_FUZZ=OFF
                 -DCMAKE_INSTALL_PREFIX=/usr
                 "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $cppflags"
                 "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $cppflags"
                 "-DCMAKE_EXE_LINKER_FLAGS=$ldflags" "-DCMAKE_MODULE_LINKER_FLAGS=$ldflags"
                 "-DCMAKE_SHARED_LINKER_FLAGS=$ldflags") ;;
  *) echo "usage: $0 debug|asan|fuzz|release|package [TARGET...]" >&2; exit 2 ;;
esac
dir=build-$purpose
cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$dir" -j "${KALMURO_JOBS:-$(nproc)}" "${targets[@]}" >&2
echo "$dir"
