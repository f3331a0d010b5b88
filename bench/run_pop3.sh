#!/usr/bin/env bash
# The header-only road against a local Dovecot, side by side, on each road
# (commands one at a time, and pipelined: sent ahead of their answers):
#   ours    bench_pop3 --mode ours   (the project's client, headers interpreted)
#   floor   bench_pop3 --mode floor  (a bare loop, same commands, no parsing)
#   python  pop3_peer.py --mode parse (poplib + email.policy.default; one at a time)
# for 1,000 and 10,000 messages, runs interleaved, median of RUNS (default 5).
# Each road's ours is compared with the floor of the same road.
# Starts and stops its own server in a fresh /tmp dir.
# Last line: messages=10000 ours_s=A floor_s=B python_s=C floor_ratio=A/B
#   python_speedup=C/A pipelined_ours_s=D pipelined_floor_s=E pipelined_floor_ratio=D/E
set -euo pipefail
. "$(dirname "$0")/common.sh"
bench="$build/bench/bench_pop3"
scripts="$src/scripts/dovecot"
runs=${RUNS:-5}
sizes=${SIZES:-"1000 10000"}
need "$bench"

dir=$(mktemp -d /tmp/kqb.XXXXXX)
port=$(free_port)
started=0
cleanup() {
  if [ "$started" = 1 ]; then NO_WAIT=1 CLEANUP=1 "$scripts/stop_server.sh" "$dir"; else rm -rf "$dir"; fi
}
trap cleanup EXIT

for n in $sizes; do
  "$scripts/add_user.sh" "$dir" "u$n" secret
  python3 "$scripts/gen_maildir.py" "$dir/mail/u$n/Maildir" "$n" --seed 1
done
"$scripts/start_server.sh" "$dir" "$port" >/dev/null
started=1

. "$here/timing.sh"
seconds() { sed -n 's/^run=1 seconds=//p'; }

echo "load: $(uptime)"
last=
for n in $sizes; do
  common=(--port "$port" --user "u$n" --password secret)
  # The first session on a new Maildir builds the server's index: keep it out.
  "$bench" "${common[@]}" --mode floor >/dev/null
  ours=(); floor=(); py=(); pours=(); pfloor=()
  for r in $(seq 1 "$runs"); do
    ours+=("$("$bench" "${common[@]}" --mode ours | seconds)")
    floor+=("$("$bench" "${common[@]}" --mode floor | seconds)")
    pours+=("$("$bench" "${common[@]}" --mode ours --pipeline 1 | seconds)")
    pfloor+=("$("$bench" "${common[@]}" --mode floor --pipeline 1 | seconds)")
    py+=("$(python3 "$here/pop3_peer.py" "${common[@]}" --mode parse | seconds)")
  done
  o=$(median_of "${ours[@]}")
  f=$(median_of "${floor[@]}")
  p=$(median_of "${py[@]}")
  po=$(median_of "${pours[@]}")
  pf=$(median_of "${pfloor[@]}")
  echo "load: $(uptime)"
  echo "n=$n ours_runs=${ours[*]} floor_runs=${floor[*]} python_runs=${py[*]}"
  echo "n=$n pipelined: ours_runs=${pours[*]} floor_runs=${pfloor[*]}"
  last=$(awk -v n="$n" -v o="$o" -v f="$f" -v p="$p" -v po="$po" -v pf="$pf" 'BEGIN {
    printf "messages=%d ours_s=%.3f floor_s=%.3f python_s=%.3f floor_ratio=%.3f python_speedup=%.2f pipelined_ours_s=%.3f pipelined_floor_s=%.3f pipelined_floor_ratio=%.3f\n",
           n, o, f, p, o / f, p / o, po, pf, po / pf }')
  echo "$last"
done
