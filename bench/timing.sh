# Sourced by the benchmark scripts: the figures of a list of runs (one a
# line), the clock, and one timed headless check.
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
best() { sort -n | head -n 1; }
# The same of the figures given as arguments.
median_of() { printf '%s\n' "$@" | median; }
best_of() { printf '%s\n' "$@" | best; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.4f", b - a}'; }

# timed_check COMMAND...: one `COMMAND --check --home $home`; prints its
# seconds and leaves the rows in $home/out. The check must list $n rows.
# Exit 1 without a box only says that some header was unreadable; anything
# more fails.
timed_check() {
  local status=0 t0 t1 rows
  t0=$(now)
  "$@" --check --home "$home" >"$home/out" 2>"$home/err" || status=$?
  t1=$(now)
  if [ "$status" -gt 1 ] || [ -s "$home/err" ]; then
    echo "kalmuro --check failed (exit $status):" >&2; cat "$home/err" >&2; return 1
  fi
  rows=$(($(wc -l <"$home/out") - 1))
  if [ "$rows" -ne "$n" ]; then echo "kalmuro --check listed $rows rows, not $n" >&2; return 1; fi
  elapsed "$t0" "$t1"
}
