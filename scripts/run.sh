#!/usr/bin/env bash
# Builds the program (Release, in build-release) and runs it; arguments go to
# the program. Without arguments it opens the window (or, without a display,
# says so); ./scripts/demo.sh opens it on a demo mailbox instead.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
dir=$(./scripts/build.sh release kalmuro)
exec "./$dir/src/cli/kalmuro" "$@"
