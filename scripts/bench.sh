#!/usr/bin/env bash
# Runs every area's benchmark comparison (bench/*/run.sh) in turn; benchmarks are never part of
# the test run. Extra arguments are passed to each run.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for script in "$root"/bench/*/run.sh; do
  [ -f "$script" ] || continue
  echo "### $(basename "$(dirname "$script")")"
  bash "$script" "$@" || { echo "bench: $script failed"; status=1; }
  echo
done
exit $status
