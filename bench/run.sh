#!/usr/bin/env bash
# Runs one benchmark after a build: bench/run.sh NAME [ARGS...]
# The built programs are found in $KALMURO_BUILD_DIR; without it, the Release
# build in build-release is brought up to date first (scripts/build.sh).
# Each benchmark prints its figures; its last line is a summary of key=value pairs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export KALMURO_SOURCE_DIR=$(cd "$here/.." && pwd)
name=${1:-}
if [ -z "$name" ] || [ ! -x "$here/run_$name.sh" ]; then
  echo "usage: bench/run.sh {$(ls "$here"/run_*.sh 2>/dev/null | xargs -n1 basename | sed 's/^run_//; s/\.sh$//' | paste -sd'|')}" >&2
  exit 2
fi
shift
if [ -z "${KALMURO_BUILD_DIR:-}" ]; then
  KALMURO_BUILD_DIR=$KALMURO_SOURCE_DIR/$("$KALMURO_SOURCE_DIR/scripts/build.sh" release)
fi
export KALMURO_BUILD_DIR=$(cd "$KALMURO_BUILD_DIR" && pwd)
exec "$here/run_$name.sh" "$@"
