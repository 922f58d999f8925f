#!/usr/bin/env bash
# Builds every libFuzzer target (clang, address + undefined sanitizers) in build-fuzz/ and runs
# each for at most SECONDS (default 20) or RUNS executions (default unlimited), whichever comes
# first, JOBS targets at a time (ORVIK_JOBS, default 2). Targets are the build's targets named
# fuzz_*; each starts from its seed corpus fuzz/corpus/<target>/, new inputs go to
# build-fuzz/corpus/<target>/, crash inputs to build-fuzz/crashes/. A fuzz/<area>/<target>.dict
# beside a target is used as its dictionary. Prints executions and coverage per target; exit
# status 1 when any target crashed, leaked or hung.
# Usage: scripts/fuzz.sh [SECONDS] [RUNS]
set -euo pipefail
seconds=${1:-20}
runs=${2:--1}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORVIK_FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${ORVIK_JOBS:-2}

configure() {
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DORVIK_FUZZ=ON -DORVIK_WERROR=OFF -DORVIK_BUILD_GUI="$1" >"$build/configure.log" 2>&1
}
# Only the fuzz targets are built, so the GUI is left out; should a folder not configure without
# it, configure with it (nothing of the GUI gets built either way).
mkdir -p "$build"
configure OFF || configure ON || { cat "$build/configure.log"; exit 1; }
mapfile -t targets < <(cmake --build "$build" --target help | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\):.*/\1/p' | sort -u)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz_* targets found"
  exit 1
fi
echo "fuzz: building ${targets[*]}"
cmake --build "$build" -j "$jobs" --target "${targets[@]}" >/dev/null

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
mkdir -p "$build/crashes"
export root build seconds runs
run_one() {
  t=$1
  exe=$(find "$build" -type f -perm -u+x -name "$t" | head -n 1)
  [ -n "$exe" ] || { echo "$t: not built" >"$build/$t.summary"; return 1; }
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  log="$build/$t.log"
  # A dictionary of the format's tokens, when the area keeps one beside the target's source.
  dict=$(find "$root/fuzz" -name "$t.dict" | head -n 1)
  extra=()
  [ -z "$dict" ] || extra+=(-dict="$dict")
  seeds=()
  [ -d "$root/fuzz/corpus/$t" ] && seeds+=("$root/fuzz/corpus/$t")
  rc=0
  "$exe" "${extra[@]}" "$corpus" "${seeds[@]}" -max_total_time="$seconds" -runs="$runs" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/crashes/$t-" >"$log" 2>&1 || rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  secs=$(sed -n 's/^stat::.*_time: *//p' "$log" | tail -n 1)
  if [ "$rc" -eq 0 ]; then
    echo "$t: ${execs:-?} executions, coverage ${cov:-?} edges (${ft:-?} features), no crash" >"$build/$t.summary"
  else
    echo "$t: FAILED (exit $rc) after ${execs:-?} executions, see $log" >"$build/$t.summary"
    return 1
  fi
}
export -f run_one
status=0
echo "fuzz: ${#targets[@]} targets, ${seconds}s or ${runs} runs each, $jobs at a time"
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}' || status=1
echo
for t in "${targets[@]}"; do cat "$build/$t.summary"; done
exit $status
