#!/usr/bin/env bash
# The program on a slow link: a local Dovecot behind delay_proxy (RTT_MS, 50,
# split evenly between the two directions), a mailbox of MESSAGES (200).
#   check   `kalmuro --check` with "Pipelining" on and off, RUNS (3) runs of
#           each, interleaved; beside them the bare protocol loop of each road
#           (bench_pop3 --mode floor) through the same link, its floor.
#   delete  bench_session --delete 1 on a fresh copy of the mailbox with
#           copies into the recycle folder on: the blocked-sender list holds
#           addresses that catch exactly half the messages, whose deletion is
#           timed apart from the checks around it. DELETE_RUNS (2) runs of
#           each road, interleaved.
# The figures are the best run of each (other work on a shared machine only
# ever adds time); the medians are printed too. Starts and stops its own
# server and proxy.
# Last line: messages=N rtt_ms=R pipelined_s=A sequential_s=B speedup=B/A
#            delete_pipelined_s=C delete_sequential_s=D
set -euo pipefail
. "$(dirname "$0")/common.sh"
kalmuro="$build/src/cli/kalmuro"
session="$build/bench/bench_session"
floor="$build/bench/bench_pop3"
proxy="$build/bench/delay_proxy"
scripts="$src/scripts/dovecot"
n=${MESSAGES:-200}
rtt=${RTT_MS:-50}
runs=${RUNS:-3}
delete_runs=${DELETE_RUNS:-2}
need "$kalmuro" "$session" "$floor" "$proxy"

dir=$(mktemp -d /tmp/kql.XXXXXX)
homes=$(mktemp -d /tmp/kqlh.XXXXXX)
port=$(free_port)
started=0
proxy_pid=
cleanup() {
  if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; wait "$proxy_pid" 2>/dev/null || true; fi
  if [ "$started" = 1 ]; then NO_WAIT=1 CLEANUP=1 "$scripts/stop_server.sh" "$dir"; else rm -rf "$dir"; fi
  rm -rf "$homes"
}
trap cleanup EXIT

# "check" is only ever read; "del" gets a fresh mailbox before every deletion.
"$scripts/add_user.sh" "$dir" check secret >/dev/null
"$scripts/add_user.sh" "$dir" del secret >/dev/null
python3 "$scripts/gen_maildir.py" "$dir/mail/check/Maildir" "$n" --seed 1 \
  --tsv "$homes/manifest.tsv" >/dev/null
"$scripts/start_server.sh" "$dir" "$port" >/dev/null
started=1
"$proxy" --listen 0 --target "$port" --delay-ms "$(awk -v r="$rtt" 'BEGIN {print r / 2}')" \
  --port-file "$homes/proxy_port" &
proxy_pid=$!
for _ in $(seq 1 100); do [ -s "$homes/proxy_port" ] && break; sleep 0.05; done
[ -s "$homes/proxy_port" ] || { echo "delay_proxy did not start" >&2; exit 1; }
link=$(cat "$homes/proxy_port")

# Sender addresses that catch exactly half the messages (a rule catches every
# address it occurs in): odd-numbered messages first, then even ones.
python3 - "$homes/manifest.tsv" "$homes/senders.txt" "$((n / 2))" <<'EOF'
import sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1], encoding="utf-8")]
col = rows[0].index("from_addr")
addresses = [r[col] for r in rows[1:]]
want = int(sys.argv[3])
order = list(range(0, len(addresses), 2)) + list(range(1, len(addresses), 2))
rules = []
for i in order:
    candidate = addresses[i].upper()
    if not candidate or any(r == candidate for r in rules):
        continue
    caught = sum(1 for a in addresses if any(r in a.upper() for r in rules + [candidate]))
    if caught <= want:
        rules.append(candidate)
    if caught == want:
        break
else:
    sys.exit("cannot pick senders that catch exactly %d messages" % want)
open(sys.argv[2], "w", encoding="utf-8").write("".join(r.lower() + "\n" for r in rules))
EOF

make_home() {  # NAME USER PIPELINING
  python3 "$here/make_check_home.py" "$homes/$1" "$link" "$2" secret \
    --blocked-senders "$homes/senders.txt" --setup "Pipelining=$3" --setup CopyToRecycle=1
}
make_home check-on check 1
make_home check-off check 0
make_home del-on del 1
make_home del-off del 0

. "$here/timing.sh"
# One `kalmuro --check` of a home; prints its seconds.
check() {
  home=$homes/$1
  timed_check "$kalmuro"
}

floor_road() {  # PIPELINE
  "$floor" --port "$link" --user check --password secret --mode floor --pipeline "$1" |
    sed -n 's/^run=1 seconds=//p'
}

# One deletion on a fresh mailbox; prints its seconds.
delete() {
  local home=$homes/$1 out
  rm -rf "$dir/mail/del/Maildir" "$home/Cestino"
  python3 "$scripts/gen_maildir.py" "$dir/mail/del/Maildir" "$n" --seed 1 >/dev/null
  out=$("$session" --home "$home" --delete 1 2>"$home/err") || {
    echo "bench_session failed:" >&2; cat "$home/err" >&2; return 1; }
  echo "$1: $(echo "$out" | tr '\n' ' ')" >&2
  local ticked deleted left copies
  ticked=$(echo "$out" | sed -n 's/.* ticked=\([0-9]*\).*/\1/p')
  deleted=$(echo "$out" | sed -n 's/.* deleted=\([0-9]*\).*/\1/p')
  left=$(echo "$out" | sed -n 's/.* left=\([0-9]*\).*/\1/p')
  copies=$(find "$home/Cestino" -type f | wc -l)
  if [ "$ticked" -ne $((n / 2)) ] || [ "$deleted" -ne $((n / 2)) ] ||
     [ "$left" -ne $((n - n / 2)) ] || [ "$copies" -ne $((n / 2)) ]; then
    echo "the deletion did not go as planned: ticked=$ticked deleted=$deleted left=$left copies=$copies" >&2
    return 1
  fi
  echo "$out" | sed -n 's/^delete_s=\([0-9.]*\) .*/\1/p'
}

echo "load: $(uptime)"
# The first session on a new Maildir builds the server's index: keep it out.
check check-on >/dev/null
ons=(); offs=(); floor_ons=(); floor_offs=()
for r in $(seq 1 "$runs"); do
  ons+=("$(check check-on)")
  offs+=("$(check check-off)")
  floor_ons+=("$(floor_road 1)")
  floor_offs+=("$(floor_road 0)")
done
del_ons=(); del_offs=()
for r in $(seq 1 "$delete_runs"); do
  del_ons+=("$(delete del-on)")
  del_offs+=("$(delete del-off)")
done
echo "load: $(uptime)"
echo "check runs: pipelined=${ons[*]} sequential=${offs[*]}"
echo "bare loop runs: pipelined=${floor_ons[*]} sequential=${floor_offs[*]}"
echo "delete runs: pipelined=${del_ons[*]} sequential=${del_offs[*]}"
echo "median: pipelined_s=$(median_of "${ons[@]}")" \
     "sequential_s=$(median_of "${offs[@]}")" \
     "delete_pipelined_s=$(median_of "${del_ons[@]}")" \
     "delete_sequential_s=$(median_of "${del_offs[@]}")"
fa=$(best_of "${floor_ons[@]}")
fb=$(best_of "${floor_offs[@]}")
a=$(best_of "${ons[@]}")
b=$(best_of "${offs[@]}")
c=$(best_of "${del_ons[@]}")
d=$(best_of "${del_offs[@]}")
awk -v a="$a" -v b="$b" -v fa="$fa" -v fb="$fb" 'BEGIN {
  printf "bare loop (login, STAT, the same commands, nothing parsed; CAPA on the pipelined road): pipelined_s=%.3f sequential_s=%.3f check/bare: pipelined=%.2f sequential=%.2f\n",
         fa, fb, a / fa, b / fb }'
awk -v n="$n" -v r="$rtt" -v a="$a" -v b="$b" -v c="$c" -v d="$d" 'BEGIN {
  printf "messages=%d rtt_ms=%d pipelined_s=%.3f sequential_s=%.3f speedup=%.1f delete_pipelined_s=%.3f delete_sequential_s=%.3f\n",
         n, r, a, b, b / a, c, d }'
