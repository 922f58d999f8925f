#!/usr/bin/env bash
# Builds every libFuzzer target (clang, address + undefined sanitizers) in build-fuzz/ and runs
# each for N seconds (default 20). Targets are the build's targets named fuzz_*, so every area's
# fuzz/<area>/ targets are picked up. Corpora grow in build-fuzz/corpus/<target>/, crash inputs
# land in build-fuzz/crashes/. A fuzz/<area>/<target>.dict beside a target is used as its dictionary. Exit status 1 when any target crashed, leaked or hung.
set -euo pipefail
seconds=${1:-20}
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
summary=()
status=0
for t in "${targets[@]}"; do
  exe=$(find "$build" -type f -perm -u+x -name "$t" | head -n 1)
  [ -n "$exe" ] || { summary+=("$t: not built"); status=1; continue; }
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  log="$build/$t.log"
  echo "fuzz: $t for ${seconds}s"
  # A dictionary of the format's tokens, when the area keeps one beside the target's source.
  dict=$(find "$root/fuzz" -name "$t.dict" | head -n 1)
  extra=()
  [ -z "$dict" ] || extra+=(-dict="$dict")
  rc=0
  "$exe" "${extra[@]}" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$t-" >"$log" 2>&1 || rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$rc" -eq 0 ]; then
    summary+=("$t: ${execs:-?} executions, no crash")
  else
    summary+=("$t: FAILED (exit $rc) after ${execs:-?} executions, see $log")
    status=1
  fi
done
echo
printf '%s\n' "${summary[@]}"
exit $status
