# Sourced by bench/*/run.sh. Sets root and build, makes a scratch folder $work (removed at exit;
# $1 names it), builds the targets a comparison needs (bench_build TARGET...), and prints ratios.
source "$(dirname "${BASH_SOURCE[0]}")/bench_build.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/orvik-bench-${1:-run}-XXXXXX")
trap 'rm -rf "$work"' EXIT

# a / b with two decimals ("inf" when b is 0).
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }'; }
