#!/usr/bin/env bash
# The whole headless check against a local Dovecot with MESSAGES (10,000)
# messages: `kalmuro --check` from a settings file, classification against
# four rule lists of 1,000 entries each, the rows printed; in the same run
# the bare protocol loop (bench_pop3 --mode floor) as the floor. RUNS (5)
# runs of each, interleaved; the figures are the best run of each, since on a
# shared machine other work only ever adds time (the medians are printed
# too). The peak RSS is the largest of the check runs. Starts and stops its
# own server in a fresh /tmp dir.
# Last line: messages=N check_s=A floor_s=B floor_ratio=A/B peak_rss_mb=M
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src=${KALMURO_SOURCE_DIR:-$(cd "$here/.." && pwd)}
build=${KALMURO_BUILD_DIR:-$src/build-release}
kalmuro="$build/src/cli/kalmuro"
floor="$build/bench/bench_pop3"
runs=${RUNS:-5}
for exe in "$kalmuro" "$floor"; do
  [ -x "$exe" ] || { echo "missing $exe: build the kalmuro and bench_pop3 targets first" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (package time)" >&2; exit 1; }
. "$here/check_server.sh"

common=(--port "$port" --user bench --password secret)
# The first session on a new Maildir builds the server's index: keep it out.
"$floor" "${common[@]}" --mode floor >/dev/null

checks=(); floors=(); peak_kb=0
for r in $(seq 1 "$runs"); do
  floors+=("$("$floor" "${common[@]}" --mode floor | sed -n 's/^run=1 seconds=//p')")
  checks+=("$(timed_check /usr/bin/time -f %M -o "$home/rss" "$kalmuro")")
  kb=$(tail -n 1 "$home/rss")
  [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
done
blocked=$(awk -F'\t' '$4 == "B"' "$home/out" | wc -l)
echo "summary: $(tail -n 1 "$home/out")"
echo "rows=$n blocked=$blocked check_runs=${checks[*]} floor_runs=${floors[*]}"
echo "median: check_s=$(printf '%s\n' "${checks[@]}" | median) floor_s=$(printf '%s\n' "${floors[@]}" | median)"
c=$(printf '%s\n' "${checks[@]}" | best)
f=$(printf '%s\n' "${floors[@]}" | best)
awk -v n="$n" -v c="$c" -v f="$f" -v kb="$peak_kb" 'BEGIN {
  printf "messages=%d check_s=%.3f floor_s=%.3f floor_ratio=%.3f peak_rss_mb=%.1f\n",
         n, c, f, c / f, kb / 1024 }'
