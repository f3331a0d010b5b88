#!/usr/bin/env bash
# The headless check of one MESSAGES (10,000) message mailbox on a local
# Dovecot over plain POP3 and over POP3 over TLS (TLS from the first byte,
# the certificate verified against the test authority): `kalmuro --check`
# from two settings files that differ only in the port and "Sicurezza1=2".
# RUNS (5) runs of each, interleaved; the figures are the best run of each
# (the medians are printed too). Beside them, Python's poplib doing the same
# commands without parsing over each road (the floor set by the server): the
# share of the difference that is the server's own. Starts and stops its
# own server.
# Last line: messages=N plain_s=A tls_s=B tls_ratio=B/A
set -euo pipefail
. "$(dirname "$0")/common.sh"
kalmuro="$build/src/cli/kalmuro"
scripts="$src/scripts/dovecot"
runs=${RUNS:-5}
n=${MESSAGES:-10000}
need "$kalmuro"

dir=$(mktemp -d /tmp/kqt.XXXXXX)
plain=$(mktemp -d /tmp/kqtp.XXXXXX)
tls=$(mktemp -d /tmp/kqts.XXXXXX)
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
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
python3 "$here/make_check_home.py" "$plain" "$port" bench secret --count 1000
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

# The first session on a new Maildir builds the server's index: keep it out.
check "$plain" >/dev/null
peer() { python3 "$here/pop3_peer.py" --user bench --password secret --mode floor "$@" |
  sed -n 's/^run=1 seconds=//p'; }
plains=(); tlss=(); plain_floors=(); tls_floors=()
for r in $(seq 1 "$runs"); do
  plains+=("$(check "$plain")")
  tlss+=("$(check "$tls")")
  plain_floors+=("$(peer --port "$port")")
  tls_floors+=("$(peer --port "$tls_port" --tls-ca "$SSL_CERT_FILE")")
done
echo "rows=$n plain_runs=${plains[*]} tls_runs=${tlss[*]}"
fa=$(best_of "${plain_floors[@]}")
fb=$(best_of "${tls_floors[@]}")
awk -v a="$fa" -v b="$fb" 'BEGIN {
  printf "python floor (same commands, no parsing): plain_s=%.3f tls_s=%.3f floor_ratio=%.3f\n",
         a, b, b / a }'
echo "median: plain_s=$(median_of "${plains[@]}") tls_s=$(median_of "${tlss[@]}")"
a=$(best_of "${plains[@]}")
b=$(best_of "${tlss[@]}")
awk -v n="$n" -v a="$a" -v b="$b" 'BEGIN {
  printf "messages=%d plain_s=%.3f tls_s=%.3f tls_ratio=%.3f\n", n, a, b, b / a }'
