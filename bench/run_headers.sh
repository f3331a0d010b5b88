#!/usr/bin/env bash
# Header interpretation, side by side on one generated corpus:
#   ours    bench_headers      (TMailMessage::InterpretHeaders)
#   python  headers_peer.py    (email.policy.default)
# COUNT headers (default 10000), RUNS runs each (default 5 ours, 3 python),
# the median run counts.
# Last line: headers_per_s=N python_headers_per_s=M speedup=X
set -euo pipefail
. "$(dirname "$0")/common.sh"
bench="$build/bench/bench_headers"
count=${COUNT:-10000}
need "$bench"

dir=$(mktemp -d /tmp/kqh.XXXXXX)
trap 'rm -rf "$dir"' EXIT
corpus="$dir/headers.txt"
python3 "$here/gen_headers.py" "$corpus" --count "$count" --seed 1

echo "== ours"
"$bench" "$corpus" --runs "${RUNS:-5}" | tee "$dir/ours.txt"
echo "== python"
python3 "$here/headers_peer.py" "$corpus" --runs "${PYTHON_RUNS:-3}" | tee "$dir/python.txt"
n=$(tail -n 1 "$dir/ours.txt" | sed -n 's/.*headers_per_s=\([0-9]*\).*/\1/p')
m=$(tail -n 1 "$dir/python.txt" | sed -n 's/.*headers_per_s=\([0-9]*\).*/\1/p')
speedup=$(awk -v a="$n" -v b="$m" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }')
echo "headers_per_s=$n python_headers_per_s=$m speedup=$speedup"
