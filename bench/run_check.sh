#!/usr/bin/env bash
# The whole headless check against a local Dovecot with MESSAGES (10,000)
# messages: `kalmuro --check` from a settings file, classification against
# four rule lists of 1,000 entries each, the rows printed; on each road
# ("Pipelining" on and off) beside the bare protocol loop of the same road
# (bench_pop3 --mode floor, --pipeline 1 or 0) as its floor. RUNS (5) runs of
# each of the four, interleaved; the figures are the best run of each, since
# on a shared machine other work only ever adds time (the medians are printed
# too). The peak RSS is the largest of the check runs. Starts and stops its
# own server in a fresh /tmp dir.
# Last line: messages=N pipelined_check_s=A pipelined_floor_s=B
#   pipelined_floor_ratio=A/B sequential_check_s=C sequential_floor_s=D
#   sequential_floor_ratio=C/D peak_rss_mb=M
set -euo pipefail
. "$(dirname "$0")/common.sh"
kalmuro="$build/src/cli/kalmuro"
floor="$build/bench/bench_pop3"
runs=${RUNS:-5}
need "$kalmuro" "$floor"
need /usr/bin/time
. "$here/check_server.sh"

# The same home twice, one for each road.
pipelined=$home
sequential=$home/sequential
mkdir "$sequential"
cp "$home"/*.txt "$home/kalmuro.ini" "$sequential"/
sed -i 's/^\[Setup\]\r$/[Setup]\r\nPipelining=1\r/' "$pipelined/kalmuro.ini"
sed -i 's/^\[Setup\]\r$/[Setup]\r\nPipelining=0\r/' "$sequential/kalmuro.ini"
grep -q '^Pipelining=1' "$pipelined/kalmuro.ini" && grep -q '^Pipelining=0' "$sequential/kalmuro.ini" ||
  { echo "cannot write the Pipelining settings" >&2; exit 1; }

common=(--port "$port" --user bench --password secret)
# The first session on a new Maildir builds the server's index: keep it out.
"$floor" "${common[@]}" --mode floor >/dev/null

floor_run() { "$floor" "${common[@]}" --mode floor --pipeline "$1" | sed -n 's/^run=1 seconds=//p'; }
check_run() {  # HOME: prints the seconds; the peak RSS goes to $rss
  home=$1
  timed_check /usr/bin/time -f %M -o "$home/rss" "$kalmuro"
  tail -n 1 "$home/rss" >>"$rss"
}
rss=$home/rss_all

echo "load: $(uptime)"
pchecks=(); pfloors=(); schecks=(); sfloors=()
for r in $(seq 1 "$runs"); do
  pfloors+=("$(floor_run 1)")
  pchecks+=("$(check_run "$pipelined")")
  sfloors+=("$(floor_run 0)")
  schecks+=("$(check_run "$sequential")")
done
peak_kb=$(sort -n "$rss" | tail -n 1)
echo "load: $(uptime)"
blocked=$(awk -F'\t' '$4 == "B"' "$pipelined/out" | wc -l)
echo "summary: $(tail -n 1 "$pipelined/out")"
# The rows must not depend on the road (the summary holds the time of day).
[ "$(sed '$d' "$pipelined/out")" = "$(sed '$d' "$sequential/out")" ] ||
  { echo "the two roads listed different rows" >&2; exit 1; }
echo "rows=$n blocked=$blocked"
echo "pipelined: check_runs=${pchecks[*]} floor_runs=${pfloors[*]}"
echo "sequential: check_runs=${schecks[*]} floor_runs=${sfloors[*]}"
echo "median: pipelined_check_s=$(median_of "${pchecks[@]}")" \
     "pipelined_floor_s=$(median_of "${pfloors[@]}")" \
     "sequential_check_s=$(median_of "${schecks[@]}")" \
     "sequential_floor_s=$(median_of "${sfloors[@]}")"
pc=$(best_of "${pchecks[@]}")
pf=$(best_of "${pfloors[@]}")
sc=$(best_of "${schecks[@]}")
sf=$(best_of "${sfloors[@]}")
awk -v n="$n" -v pc="$pc" -v pf="$pf" -v sc="$sc" -v sf="$sf" -v kb="$peak_kb" 'BEGIN {
  printf "messages=%d pipelined_check_s=%.3f pipelined_floor_s=%.3f pipelined_floor_ratio=%.3f sequential_check_s=%.3f sequential_floor_s=%.3f sequential_floor_ratio=%.3f peak_rss_mb=%.1f\n",
         n, pc, pf, pc / pf, sc, sf, sc / sf, kb / 1024 }'
