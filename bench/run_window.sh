#!/usr/bin/env bash
# The check through the real window against the check on the command line:
# the same local Dovecot mailbox of MESSAGES (10,000) messages and the same
# home folder as run_check.sh (four rule lists of 1,000 entries), checked
#   window    bench_window: the main window built and shown offscreen, one
#             check with the rows drawn as they arrive, then the program ends
#   headless  kalmuro --check
# RUNS (5) runs of each, interleaved; the figures are the best run of each
# (other work on a shared machine only ever adds time; medians are printed
# too), both timed from process start to end. The peak RSS is the largest of
# the window runs. Then one more window run scrolls the full list from top to
# bottom and reports whether the model was rebuilt meanwhile.
# Last line: messages=N window_s=A headless_s=B window_ratio=A/B peak_rss_mb=M
set -euo pipefail
. "$(dirname "$0")/common.sh"
kalmuro="$build/src/cli/kalmuro"
window="$build/bench/bench_window"
runs=${RUNS:-5}
need "$kalmuro" "$window"
need /usr/bin/time
. "$here/check_server.sh"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=$home/xdg
mkdir -m 0700 "$XDG_RUNTIME_DIR"

# One check through the window; prints its seconds and keeps its report.
timed_window() {
  local t0 t1 rows
  t0=$(now)
  /usr/bin/time -f %M -o "$home/rss" "$window" --home "$home" "$@" >"$home/wout" 2>"$home/werr" || {
    echo "bench_window failed:" >&2; cat "$home/werr" >&2; return 1; }
  t1=$(now)
  rows=$(sed -n 's/.*rows=\([0-9]*\).*/\1/p' "$home/wout")
  if [ "$rows" != "$n" ]; then echo "the window listed ${rows:-no} rows, not $n" >&2; return 1; fi
  elapsed "$t0" "$t1"
}

# The first session on a new Maildir builds the server's index: keep it out.
timed_check "$kalmuro" >/dev/null

windows=(); headless=(); peak_kb=0
for r in $(seq 1 "$runs"); do
  windows+=("$(timed_window)")
  kb=$(tail -n 1 "$home/rss")
  [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
  headless+=("$(timed_check "$kalmuro")")
done
echo "window: $(cat "$home/wout")"
echo "window_runs=${windows[*]} headless_runs=${headless[*]}"
echo "median: window_s=$(printf '%s\n' "${windows[@]}" | median) headless_s=$(printf '%s\n' "${headless[@]}" | median)"
timed_window --scroll >/dev/null
echo "scroll: $(cat "$home/wout")"
w=$(printf '%s\n' "${windows[@]}" | best)
h=$(printf '%s\n' "${headless[@]}" | best)
awk -v n="$n" -v w="$w" -v h="$h" -v kb="$peak_kb" 'BEGIN {
  printf "messages=%d window_s=%.3f headless_s=%.3f window_ratio=%.3f peak_rss_mb=%.1f\n",
         n, w, h, w / h, kb / 1024 }'
