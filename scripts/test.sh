#!/usr/bin/env bash
# Builds and runs every test: a debug build, a build with AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short run of every fuzz target.
# Environment: KALMURO_FUZZ_SECONDS (default 20; 0 skips fuzzing).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

echo "== debug build and tests"
run_suite build -DCMAKE_BUILD_TYPE=Debug
echo "== sanitizer build and tests"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DKALMURO_SANITIZE=ON -DKALMURO_BENCH=OFF

seconds=${KALMURO_FUZZ_SECONDS:-20}
if [ "$seconds" -gt 0 ] && ls fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  echo "== fuzz targets, ${seconds} s each"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DKALMURO_FUZZ=ON >/dev/null
  cmake --build build-fuzz -j "$jobs"
  for src in fuzz/fuzz_*.cpp; do
    name=$(basename "$src" .cpp)
    corpus=$(mktemp -d)
    [ -d "fuzz/corpus/${name#fuzz_}" ] && cp -r "fuzz/corpus/${name#fuzz_}/." "$corpus/"
    echo "-- $name"
    "build-fuzz/fuzz/$name" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
        -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
    rm -rf "$corpus"
  done
fi
echo "== all tests passed"
