#!/usr/bin/env bash
# Runs one benchmark after a build: bench/run.sh NAME [ARGS...]
# The built programs are found in $KALMURO_BUILD_DIR (default build/).
# Each benchmark prints its figures; its last line is a summary of key=value pairs.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export KALMURO_SOURCE_DIR=$(cd "$here/.." && pwd)
export KALMURO_BUILD_DIR=$(cd "${KALMURO_BUILD_DIR:-$KALMURO_SOURCE_DIR/build}" && pwd)
name=${1:-}
if [ -z "$name" ] || [ ! -x "$here/run_$name.sh" ]; then
  echo "usage: bench/run.sh {$(ls "$here"/run_*.sh 2>/dev/null | xargs -n1 basename | sed 's/^run_//; s/\.sh$//' | paste -sd'|')}" >&2
  exit 2
fi
shift
exec "$here/run_$name.sh" "$@"
