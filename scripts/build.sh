#!/usr/bin/env bash
# Configures and builds one purpose in its own folder, every option given
# explicitly, so that no folder ever reuses another purpose's cache:
#   scripts/build.sh debug|asan|fuzz|release [TARGET...]
#     debug    build-debug    Debug, tests, benchmarks, the window
#     asan     build-asan     Debug with AddressSanitizer+UBSan, tests, the window
#     fuzz     build-fuzz     clang, the libFuzzer targets only
#     release  build-release  Release, the program and the benchmarks (run, demo, bench)
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

common=(-DKALMURO_SANITIZE=OFF -DKALMURO_FUZZ=OFF)
case $purpose in
  debug)   opts=(-DCMAKE_BUILD_TYPE=Debug -DKALMURO_TESTS=ON -DKALMURO_BENCH=ON
                 -DKALMURO_APP=$app "${common[@]}") ;;
  asan)    opts=(-DCMAKE_BUILD_TYPE=Debug -DKALMURO_TESTS=ON -DKALMURO_BENCH=OFF
                 -DKALMURO_APP=$app -DKALMURO_SANITIZE=ON -DKALMURO_FUZZ=OFF) ;;
  fuzz)    opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALMURO_TESTS=OFF -DKALMURO_BENCH=OFF
                 -DKALMURO_APP=OFF -DKALMURO_SANITIZE=OFF -DKALMURO_FUZZ=ON
                 -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  release) opts=(-DCMAKE_BUILD_TYPE=Release -DKALMURO_TESTS=OFF -DKALMURO_BENCH=ON
                 -DKALMURO_APP=$app "${common[@]}") ;;
  *) echo "usage: $0 debug|asan|fuzz|release [TARGET...]" >&2; exit 2 ;;
esac
dir=build-$purpose
cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build "$dir" -j "${KALMURO_JOBS:-$(nproc)}" "${targets[@]}" >&2
echo "$dir"
