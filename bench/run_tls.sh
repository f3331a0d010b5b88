#!/usr/bin/env bash
# The headless check of one MESSAGES (10,000) message mailbox on a local
# Dovecot over plain POP3 and over POP3 over TLS (TLS from the first byte,
# the certificate verified against the test authority): `kalmuro --check`
# from two settings files that differ only in the port and "Sicurezza1=2",
# both on the pipelined road. Beside each, the bare loop of the same road
# (bench_pop3 --mode floor --pipeline 1, with --tls-ca for TLS): the same
# commands, nothing parsed, over the same kind of connection, so that the
# server's own TLS work and the cipher's cost count against the floor as
# much as against the check. Before the runs the program's client and the
# floor must agree on the TLS protocol and cipher.
# RUNS (5) runs of each, interleaved; the figures are the best run of each
# (the medians are printed too). PYTHON_FLOOR=1 (the default) also times
# Python's poplib doing the same commands one at a time over each road.
# Starts and stops its own server.
# Last line: messages=N plain_s=A tls_s=B tls_ratio=B/A plain_floor_s=C
#   tls_floor_s=D plain_floor_ratio=A/C tls_floor_ratio=B/D
set -euo pipefail
. "$(dirname "$0")/common.sh"
kalmuro="$build/src/cli/kalmuro"
floor="$build/bench/bench_pop3"
scripts="$src/scripts/dovecot"
runs=${RUNS:-5}
n=${MESSAGES:-10000}
python_floor=${PYTHON_FLOOR:-1}
need "$kalmuro" "$floor"

dir=$(mktemp -d /tmp/kqt.XXXXXX)
plain=$(mktemp -d /tmp/kqtp.XXXXXX)
tls=$(mktemp -d /tmp/kqts.XXXXXX)
port=$(free_port)
tls_port=$(free_port)
started=0
cleanup() {
  if [ "$started" = 1 ]; then NO_WAIT=1 CLEANUP=1 "$scripts/stop_server.sh" "$dir"; else rm -rf "$dir"; fi
  rm -rf "$plain" "$tls"
}
trap cleanup EXIT

"$scripts/add_user.sh" "$dir" bench secret >/dev/null
python3 "$scripts/gen_maildir.py" "$dir/mail/bench/Maildir" "$n" --seed 1 >/dev/null
# The floor takes the pipelined road: the check must take it too, whatever
# the default.
python3 "$here/make_check_home.py" "$plain" "$port" bench secret --count 1000 --setup Pipelining=1
cp "$plain"/* "$tls"/
sed -i "s/^Porta1=$port\r\$/Porta1=$tls_port\r\nSicurezza1=2\r/" "$tls/kalmuro.ini"
grep -q '^Sicurezza1=2' "$tls/kalmuro.ini" || { echo "cannot write the TLS settings" >&2; exit 1; }
TLS_PORT=$tls_port "$scripts/start_server.sh" "$dir" "$port" >/dev/null
started=1
# The program trusts the test authority as if it were the system's.
export SSL_CERT_FILE="$dir/tls/ca.pem"

. "$here/timing.sh"

# One check of the home given; prints its seconds (timing.sh).
check() {
  local home=$1
  timed_check "$kalmuro"
}
common=(--user bench --password secret --pipeline 1)
floor_run() { "$floor" "${common[@]}" --mode floor "$@" | sed -n 's/^run=1 seconds=//p'; }
session() { "$floor" "${common[@]}" "$@" | sed -n 's/^tls_session=//p'; }

# The first session on a new Maildir builds the server's index: keep it out.
check "$plain" >/dev/null
ours_session=$(session --mode ours --port "$tls_port" --tls-ca "$SSL_CERT_FILE")
floor_session=$(session --mode floor --port "$tls_port" --tls-ca "$SSL_CERT_FILE")
if [ -z "$ours_session" ] || [ "$ours_session" != "$floor_session" ]; then
  echo "the floor's TLS session (${floor_session:-none}) is not the program's (${ours_session:-none})" >&2
  exit 1
fi
echo "tls_session=$ours_session"
peer() { python3 "$here/pop3_peer.py" --user bench --password secret --mode floor "$@" |
  sed -n 's/^run=1 seconds=//p'; }
echo "load: $(uptime)"
plains=(); tlss=(); plain_floors=(); tls_floors=(); plain_pys=(); tls_pys=()
for r in $(seq 1 "$runs"); do
  plains+=("$(check "$plain")")
  plain_floors+=("$(floor_run --port "$port")")
  tlss+=("$(check "$tls")")
  tls_floors+=("$(floor_run --port "$tls_port" --tls-ca "$SSL_CERT_FILE")")
  if [ "$python_floor" = 1 ]; then
    plain_pys+=("$(peer --port "$port")")
    tls_pys+=("$(peer --port "$tls_port" --tls-ca "$SSL_CERT_FILE")")
  fi
done
echo "load: $(uptime)"
echo "rows=$n plain_runs=${plains[*]} tls_runs=${tlss[*]}"
echo "floor: plain_runs=${plain_floors[*]} tls_runs=${tls_floors[*]}"
if [ "$python_floor" = 1 ]; then
  awk -v a="$(best_of "${plain_pys[@]}")" -v b="$(best_of "${tls_pys[@]}")" 'BEGIN {
    printf "python floor (same commands one at a time, no parsing): plain_s=%.3f tls_s=%.3f floor_ratio=%.3f\n",
           a, b, b / a }'
fi
echo "median: plain_s=$(median_of "${plains[@]}") tls_s=$(median_of "${tlss[@]}")" \
     "plain_floor_s=$(median_of "${plain_floors[@]}") tls_floor_s=$(median_of "${tls_floors[@]}")"
a=$(best_of "${plains[@]}")
b=$(best_of "${tlss[@]}")
c=$(best_of "${plain_floors[@]}")
d=$(best_of "${tls_floors[@]}")
awk -v n="$n" -v a="$a" -v b="$b" -v c="$c" -v d="$d" 'BEGIN {
  printf "messages=%d plain_s=%.3f tls_s=%.3f tls_ratio=%.3f plain_floor_s=%.3f tls_floor_s=%.3f plain_floor_ratio=%.3f tls_floor_ratio=%.3f\n",
         n, a, b, b / a, c, d, a / c, b / d }'
