#!/usr/bin/env bash
# The window left running, as a tray program is for days: the real main
# window (offscreen) checks one local Dovecot mailbox of MESSAGES (300)
# messages CHECKS (100) times in a row, with the home folder of run_check.sh
# (four rule lists of 1,000 entries), and its resident size is read after
# every check. What a check keeps shows as growth per check, measured from
# the tenth check on (the first ones still fill caches that stop growing).
# The allocator's per-thread caches are off and its free pages are handed
# back before each reading, so that what it keeps in hand (a few hundred
# kB, up and down from check to check) does not hide or fake a growth.
# Last line: checks=N rss_first_mb=A rss_last_mb=B growth_kb_per_check=G
set -euo pipefail
. "$(dirname "$0")/common.sh"
soak="$build/bench/bench_soak"
kalmuro="$build/src/cli/kalmuro"
checks=${CHECKS:-100}
export MESSAGES=${MESSAGES:-300}
need "$soak" "$kalmuro"
. "$here/check_server.sh"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=$home/xdg
mkdir -m 0700 "$XDG_RUNTIME_DIR"

# The first session on a new Maildir builds the server's index: keep it out.
timed_check "$kalmuro" >/dev/null

GLIBC_TUNABLES=glibc.malloc.tcache_count=0 \
  "$soak" --home "$home" --checks "$checks" >"$home/soak" 2>"$home/soakerr" || {
  echo "bench_soak failed:" >&2; cat "$home/soakerr" >&2; exit 1; }
rows=$(sed -n 's/^check=1 rows=\([0-9]*\).*/\1/p' "$home/soak")
if [ "$rows" != "$n" ]; then echo "the window listed ${rows:-no} rows, not $n" >&2; exit 1; fi
# A few points of the curve, then the summary.
awk -v c="$checks" '/^check=/ { split($1, k, "=")
  if (k[2] == 1 || k[2] == 10 || k[2] % 25 == 0 || k[2] == c) print }' "$home/soak"
tail -n 1 "$home/soak"
