#!/usr/bin/env bash
# Builds and runs every test: a debug build, a build with AddressSanitizer and
# UndefinedBehaviorSanitizer (the window's tests run offscreen in both), the
# Debian package installed and purged again (scripts/test_package.sh, as
# root), and a short run of every fuzz target. Each stage has its own build folder
# (scripts/build.sh), prints how many tests it ran, and stops the script when
# anything fails or a stage finds no tests.
# Environment: KALMURO_FUZZ_SECONDS (default 20; 0 skips fuzzing), KALMURO_JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

jobs=${KALMURO_JOBS:-$(nproc)}
summary=()
run_suite() {
  local purpose=$1 dir log count
  echo "== $purpose build"
  dir=$(./scripts/build.sh "$purpose")
  echo "== $purpose tests"
  log=$dir/ctest.log
  (cd "$dir" && ctest --no-tests=error --output-on-failure -j "$jobs") | tee "$log"
  count=$(sed -n 's/.* tests failed out of \([0-9][0-9]*\)$/\1/p' "$log" | tail -n 1)
  [ -n "$count" ] && [ "$count" -gt 0 ] || { echo "$purpose: ctest ran no tests" >&2; exit 1; }
  echo "== $purpose: $count tests passed"
  summary+=("$purpose: $count tests passed")
}

run_suite debug
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite asan

# The Debian package, installed, used by an ordinary user and purged again;
# only root may install it.
echo "== package"
if [ "$(id -u)" -eq 0 ]; then
  log=$(mktemp)
  ./scripts/test_package.sh | tee "$log"
  count=$(sed -n 's/^== package: \([0-9][0-9]*\) checks passed$/\1/p' "$log")
  rm -f "$log"
  [ -n "$count" ] && [ "$count" -gt 0 ] || { echo "package: no checks ran" >&2; exit 1; }
  summary+=("package: $count checks passed")
else
  echo "== package: SKIPPED, it installs the package and needs root" >&2
  summary+=("package: SKIPPED (not root)")
fi

seconds=${KALMURO_FUZZ_SECONDS:-20}
if [ "$seconds" -gt 0 ] && ls fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  echo "== fuzz build"
  dir=$(./scripts/build.sh fuzz)
  echo "== fuzz targets, ${seconds} s each"
  ran=0
  for src in fuzz/fuzz_*.cpp; do
    name=$(basename "$src" .cpp)
    corpus=$(mktemp -d)
    [ -d "fuzz/corpus/${name#fuzz_}" ] && cp -r "fuzz/corpus/${name#fuzz_}/." "$corpus/"
    echo "-- $name"
    # A crash makes the fuzzer exit non-zero, and pipefail carries that out.
    "$dir/fuzz/$name" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
        -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
    rm -rf "$corpus"
    ran=$((ran + 1))
  done
  summary+=("fuzz: $ran targets ran ${seconds} s each without a finding")
fi
echo "== summary"
printf '   %s\n' "${summary[@]}"
echo "== all tests passed"
