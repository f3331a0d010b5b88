#!/usr/bin/env bash
# The check through the real window against the check on the command line:
# the same local Dovecot mailbox of MESSAGES (10,000) messages and the same
# home folder as run_check.sh (four rule lists of 1,000 entries), checked
#   window    bench_window: the main window built and shown offscreen, one
#             check with the rows drawn as they arrive, then the program ends
#   headless  kalmuro --check
# and both again on an empty mailbox of the same server, which leaves what
# each road costs before and after its rows: the start of the process, of the
# toolkit and of the window, the login. RUNS (5) runs of each of the four,
# interleaved; the figures are the best run of each (other work on a shared
# machine only ever adds time; medians are printed too), all timed from
# process start to end. The peak RSS is the largest of the window runs. Then
# one more window run scrolls the full list from top to bottom and reports
# whether the model was rebuilt meanwhile.
# Last line: messages=N window_s=A headless_s=B window_ratio=A/B peak_rss_mb=M
#   startup_s=C row_ratio=(A-C)/(B-D), C and D the window's and the headless
#   check's runs on the empty mailbox: what each row costs the window against
#   what it costs the command line.
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

# The same settings and rule lists for a user with no mail.
empty=$home/empty
mkdir "$empty"
cp "$home"/*.txt "$home/kalmuro.ini" "$empty"/
"$src/scripts/dovecot/add_user.sh" "$dir" nomail secret >/dev/null
sed -i 's/^UserId1=bench\r$/UserId1=nomail\r/' "$empty/kalmuro.ini"
grep -q '^UserId1=nomail' "$empty/kalmuro.ini" || { echo "cannot write the empty account" >&2; exit 1; }

# One check through the window of the home given, which must list that many
# rows; prints its seconds and keeps its report in HOME/wout.
timed_window() {  # HOME ROWS [ARGS...]
  local h=$1 want=$2 t0 t1 rows
  shift 2
  t0=$(now)
  /usr/bin/time -f %M -o "$h/rss" "$window" --home "$h" "$@" >"$h/wout" 2>"$h/werr" || {
    echo "bench_window failed:" >&2; cat "$h/werr" >&2; return 1; }
  t1=$(now)
  rows=$(sed -n 's/.*rows=\([0-9]*\).*/\1/p' "$h/wout")
  if [ "$rows" != "$want" ]; then echo "the window listed ${rows:-no} rows, not $want" >&2; return 1; fi
  elapsed "$t0" "$t1"
}

# The first session on a new Maildir builds the server's index: keep it out.
timed_check "$kalmuro" >/dev/null
home=$empty n=0 timed_check "$kalmuro" >/dev/null

echo "load: $(uptime)"
windows=(); headless=(); empty_windows=(); empty_headless=(); peak_kb=0
for r in $(seq 1 "$runs"); do
  windows+=("$(timed_window "$home" "$n")")
  kb=$(tail -n 1 "$home/rss")
  [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
  headless+=("$(timed_check "$kalmuro")")
  empty_windows+=("$(timed_window "$empty" 0)")
  empty_headless+=("$(home=$empty n=0 timed_check "$kalmuro")")
done
echo "load: $(uptime)"
echo "window: $(cat "$home/wout")"
echo "empty window: $(cat "$empty/wout")"
echo "window_runs=${windows[*]} headless_runs=${headless[*]}"
echo "empty: window_runs=${empty_windows[*]} headless_runs=${empty_headless[*]}"
mw=$(median_of "${windows[@]}")
mh=$(median_of "${headless[@]}")
mw0=$(median_of "${empty_windows[@]}")
mh0=$(median_of "${empty_headless[@]}")
awk -v w="$mw" -v h="$mh" -v w0="$mw0" -v h0="$mh0" 'BEGIN {
  printf "median: window_s=%s headless_s=%s empty_window_s=%s empty_headless_s=%s row_ratio=%.3f\n",
         w, h, w0, h0, (w - w0) / (h - h0) }'
timed_window "$home" "$n" --scroll >/dev/null
echo "scroll: $(cat "$home/wout")"
w=$(best_of "${windows[@]}")
h=$(best_of "${headless[@]}")
w0=$(best_of "${empty_windows[@]}")
h0=$(best_of "${empty_headless[@]}")
echo "empty: window_s=$w0 headless_s=$h0"
awk -v n="$n" -v w="$w" -v h="$h" -v w0="$w0" -v h0="$h0" -v kb="$peak_kb" 'BEGIN {
  printf "messages=%d window_s=%.3f headless_s=%.3f window_ratio=%.3f peak_rss_mb=%.1f startup_s=%.3f row_ratio=%.3f\n",
         n, w, h, w / h, kb / 1024, w0, (w - w0) / (h - h0) }'
