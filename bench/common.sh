# Sourced by bench/*/run.sh. Sets root and build, makes a scratch folder $work (removed at exit;
# $1 names it), builds the targets a comparison needs (bench_build TARGET...), and prints ratios.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORVIK_BUILD_DIR:-$root/build}
work=$(mktemp -d "${TMPDIR:-/tmp}/orvik-bench-${1:-run}-XXXXXX")
trap 'rm -rf "$work"' EXIT

bench_build() {
  [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja >/dev/null
  cmake --build "$build" -j "${ORVIK_JOBS:-2}" --target "$@" >/dev/null
}

# a / b with two decimals ("inf" when b is 0).
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }'; }
