#!/usr/bin/env bash
# Stops a server started by start_server.sh: stop_server.sh DIR [PORT]
# Waits until the master has gone (2-3 s after it served a connection).
# NO_WAIT=1 returns at once; CLEANUP=1 removes DIR once the server has gone.
set -uo pipefail
if [ $# -lt 1 ]; then echo "usage: $0 DIR [PORT]" >&2; exit 2; fi
DIR=$1
pidfile="$DIR/run/master.pid"
pid=$(cat "$pidfile" 2>/dev/null || true)
cleanup() { [ "${CLEANUP:-0}" = 1 ] && rm -rf "$DIR"; return 0; }
if [ -z "$pid" ] || ! kill -0 "$pid" 2>/dev/null; then cleanup; exit 0; fi
kill -TERM "$pid" 2>/dev/null || true
wait_gone() {
  for _ in $(seq 1 300); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.05; done
  kill -KILL "$pid" 2>/dev/null || true
}
if [ "${NO_WAIT:-0}" = 1 ]; then
  if [ "${CLEANUP:-0}" = 1 ]; then
    ( wait_gone; sleep 1.5; cleanup ) </dev/null >/dev/null 2>&1 &
  fi
  exit 0
fi
wait_gone
cleanup
exit 0
