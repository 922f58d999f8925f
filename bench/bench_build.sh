# Sourced by bench/*/run.sh: sets root and build, and bench_build TARGET... builds what a
# comparison needs. A plain build (the test command's) leaves the benchmark programs out, so
# this turns them on first.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORVIK_BUILD_DIR:-$root/build}

bench_build() {
  if ! grep -qs '^ORVIK_BUILD_BENCH:BOOL=ON$' "$build/CMakeCache.txt"; then
    cmake -S "$root" -B "$build" -G Ninja -DORVIK_BUILD_BENCH=ON >/dev/null
  fi
  cmake --build "$build" -j "${ORVIK_JOBS:-2}" --target "$@" >/dev/null
}
