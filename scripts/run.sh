#!/usr/bin/env bash
# Builds the program and runs it; arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DKALMURO_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" --target kalmuro
if [ $# -eq 0 ]; then set -- --version; fi
exec ./build/src/cli/kalmuro "$@"
