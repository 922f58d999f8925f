#!/usr/bin/env bash
# Our formatter against mkfs.fat on identical 32 GiB sparse images, in one run: median wall time
# of the whole command (both label the volume "ORVIK") and the bytes each leaves allocated; then
# the system-area throughput line of our formatter for a 128 GiB image, and the Google Benchmark
# figures of the formatter in-process.
#   bench/card_format/run.sh [repetitions]
set -euo pipefail
source "$(dirname "$0")/../bench_build.sh"
bench_build bench_card_format orvik-cli
cli=$build/src/cli/orvik-cli
reps=${1:-15}
mkfs=$(command -v mkfs.fat || echo /usr/sbin/mkfs.fat)
[ -x "$cli" ] || { echo "build first: $cli is missing" >&2; exit 1; }
[ -x "$mkfs" ] || { echo "mkfs.fat is missing (dosfstools)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/orvik-fmt-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
size=$((32 * 1024 * 1024 * 1024))

# time_one CMD : runs CMD on a fresh sparse image, prints "milliseconds allocated_bytes".
time_one() {
  rm -f "$work/card.img"; truncate -s "$size" "$work/card.img"; sync
  local t0 t1
  t0=$(date +%s%N)
  "$@" "$work/card.img" >/dev/null 2>&1 </dev/null
  t1=$(date +%s%N)
  echo "$(( (t1 - t0) / 1000 )) $(( $(stat -c %b "$work/card.img") * $(stat -c %B "$work/card.img") ))"
}
ours_sparse() { "$cli" format --yes --no-remount --volume-id 12345678 "$1"; }
ours_zeros() { "$cli" format --yes --no-remount --no-sparse --volume-id 12345678 "$1"; }
peer() { "$mkfs" -F 32 -s 128 -n ORVIK -i 12345678 "$1"; }

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

declare -A us alloc
for name in ours_sparse ours_zeros peer; do : >"$work/$name.t"; done
# Interleaved so that both tools see the same machine load.
for ((i = 0; i < reps; i++)); do
  for name in ours_sparse ours_zeros peer; do
    read -r t a < <(time_one "$name")
    echo "$t" >>"$work/$name.t"
    alloc[$name]=$a
  done
done
for name in ours_sparse ours_zeros peer; do us[$name]=$(median <"$work/$name.t"); done

printf '32 GiB sparse image, %d runs each, median wall time of the whole command:\n' "$reps"
div() { awk -v a="$1" -v b="$2" -v f="${3:-%.4f}" 'BEGIN { printf f, (b > 0) ? a / b : 0 }'; }
printf '  orvik-cli format (image kept sparse) : %8s ms, %9d bytes allocated\n' "$(div "${us[ours_sparse]}" 1000 %.1f)" "${alloc[ours_sparse]}"
printf '  orvik-cli format --no-sparse (zeros) : %8s ms, %9d bytes allocated\n' "$(div "${us[ours_zeros]}" 1000 %.1f)" "${alloc[ours_zeros]}"
printf '  mkfs.fat -F 32 -s 128 -n ORVIK       : %8s ms, %9d bytes allocated\n' "$(div "${us[peer]}" 1000 %.1f)" "${alloc[peer]}"
printf 'time ratio ours/mkfs.fat: %s (zeros written: %s; target <= 1.0)\n' \
  "$(div "${us[ours_sparse]}" "${us[peer]}")" "$(div "${us[ours_zeros]}" "${us[peer]}")"
printf 'allocated bytes ratio ours/mkfs.fat: %s (zeros written: %s; target <= 1.0)\n' \
  "$(div "${alloc[ours_sparse]}" "${alloc[peer]}")" "$(div "${alloc[ours_zeros]}" "${alloc[peer]}")"

echo "128 GiB image, system area written as zeros (as on a card):"
rm -f "$work/card.img"; truncate -s $((128 * 1024 * 1024 * 1024)) "$work/card.img"
"$cli" format --yes --no-remount --no-sparse "$work/card.img" | grep -E '^(Clearing out|Wrote) ' | sed 's/^/  /'
rm -f "$work/card.img"

if [ -x "$build/bench/card_format/bench_card_format" ]; then
  echo "In-process (Google Benchmark):"
  "$build/bench/card_format/bench_card_format" --benchmark_min_time=0.2 2>/dev/null | sed -n '/^BM_/p' | sed 's/^/  /'
fi
