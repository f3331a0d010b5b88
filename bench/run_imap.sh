#!/usr/bin/env bash
# The headless check over IMAP beside the same check over POP3: a local
# Dovecot serving one Maildir of MESSAGES (10,000) generated messages on both
# protocols, `kalmuro --check` with four rule lists of 1,000 entries each,
# once with an IMAP account and once with the POP3 one ("Pipelining" on),
# RUNS (3) runs of each, interleaved; then LATENCY_MESSAGES (200) messages
# over IMAP through delay_proxy (RTT_MS, 50), where the check costs a few
# round trips whatever the count, and one deletion of its ticked messages
# there (bench_session --delete 1). The figures are the best run of each
# (other work on a shared machine only ever adds time); the medians are
# printed too. The rows of both protocols must be the same. Starts and stops
# its own server and proxy.
# Last line: messages=N imap_s=A pop3_s=B imap_ratio=A/B latency_imap_s=C
set -euo pipefail
. "$(dirname "$0")/common.sh"
kalmuro="$build/src/cli/kalmuro"
proxy="$build/bench/delay_proxy"
session="$build/bench/bench_session"
runs=${RUNS:-3}
rtt=${RTT_MS:-50}
latency_n=${LATENCY_MESSAGES:-200}
need "$kalmuro" "$proxy" "$session"
IMAP_PORT=$(free_port)
export IMAP_PORT
. "$here/check_server.sh"

proxy_pid=
stop_all() {
  if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; wait "$proxy_pid" 2>/dev/null || true; fi
  stop_check_server
}
trap stop_all EXIT

# The POP3 home of check_server.sh, and the same settings and lists for IMAP.
pop3_home=$home
imap_home=$home/imap
python3 "$here/make_check_home.py" "$imap_home" "$IMAP_PORT" bench secret --count 1000 --imap
for h in "$pop3_home" "$imap_home"; do
  sed -i 's/^\[Setup\]\r$/[Setup]\r\nPipelining=1\r/' "$h/kalmuro.ini"
done
grep -q '^Protocollo1=1' "$imap_home/kalmuro.ini" || { echo "cannot write the IMAP account" >&2; exit 1; }

run_check() {  # HOME: prints the seconds
  home=$1
  timed_check "$kalmuro"
}

echo "load: $(uptime)"
# The first session on a new Maildir builds the server's index: keep it out.
run_check "$pop3_home" >/dev/null
run_check "$imap_home" >/dev/null
imaps=(); pop3s=()
for r in $(seq 1 "$runs"); do
  imaps+=("$(run_check "$imap_home")")
  pop3s+=("$(run_check "$pop3_home")")
done
# The rows must not depend on the protocol (the summary holds the time of day).
[ "$(sed '$d' "$imap_home/out")" = "$(sed '$d' "$pop3_home/out")" ] ||
  { echo "IMAP and POP3 listed different rows" >&2; exit 1; }

# A small mailbox of its own behind the slow link.
"$src/scripts/dovecot/add_user.sh" "$dir" slow secret >/dev/null
python3 "$src/scripts/dovecot/gen_maildir.py" "$dir/mail/slow/Maildir" "$latency_n" --seed 2 >/dev/null
slow_home=$home/slow
"$proxy" --listen 0 --target "$IMAP_PORT" --delay-ms "$(awk -v r="$rtt" 'BEGIN {print r / 2}')" \
  --port-file "$home/proxy_port" &
proxy_pid=$!
for _ in $(seq 1 100); do [ -s "$home/proxy_port" ] && break; sleep 0.05; done
[ -s "$home/proxy_port" ] || { echo "delay_proxy did not start" >&2; exit 1; }
python3 "$here/make_check_home.py" "$slow_home" "$(cat "$home/proxy_port")" slow secret --imap
n=$latency_n
run_check "$slow_home" >/dev/null
slows=()
for r in $(seq 1 "$runs"); do slows+=("$(run_check "$slow_home")"); done
# Then one deletion of the ticked messages on that link, copies on, moved
# into Junk: a few round trips for the whole batch.
sed -i 's/^\[Setup\]\r$/[Setup]\r\nCopyToRecycle=1\r/' "$slow_home/kalmuro.ini"
deletion=$("$session" --home "$slow_home" --delete 1 2>"$slow_home/err") ||
  { echo "bench_session failed:" >&2; cat "$slow_home/err" >&2; exit 1; }
echo "latency deletion: $(echo "$deletion" | tr '\n' ' ')"
echo "load: $(uptime)"
echo "runs: imap=${imaps[*]} pop3=${pop3s[*]} latency_imap=${slows[*]}"
echo "median: imap_s=$(median_of "${imaps[@]}") pop3_s=$(median_of "${pop3s[@]}")" \
     "latency_imap_s=$(median_of "${slows[@]}")"
a=$(best_of "${imaps[@]}")
b=$(best_of "${pop3s[@]}")
c=$(best_of "${slows[@]}")
awk -v n="${MESSAGES:-10000}" -v a="$a" -v b="$b" -v c="$c" 'BEGIN {
  printf "messages=%d imap_s=%.3f pop3_s=%.3f imap_ratio=%.3f latency_imap_s=%.3f\n", n, a, b, a / b, c }'
