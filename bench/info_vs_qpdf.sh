#!/usr/bin/env bash
# Wall time of `paperwright --info` (which reads the whole document: every
# page object with its resources and content streams) against `qpdf --check`
# on the same file; median of 5 runs each, measured with hyperfine.
#   bench/info_vs_qpdf.sh [BUILD_DIR] [PDF]
set -euo pipefail
build=${1:-build}
pdf=${2:-../shared/corpus/latex-geotopo-117-pages.pdf}
prog="$build/cli/paperwright"
for tool in hyperfine qpdf; do
  command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 1; }
done
[ -x "$prog" ] || { echo "build $prog first (make build)" >&2; exit 1; }
[ -f "$pdf" ] || { echo "no such file: $pdf" >&2; exit 1; }

csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
# qpdf --check exits with 3 when it only has warnings: -i keeps the runs.
hyperfine --runs 5 --warmup 1 -N -i --export-csv "$csv" \
  -n "paperwright --info" "$prog --info $pdf" \
  -n "qpdf --check" "qpdf --check $pdf" >&2
echo "median of 5 runs on $(basename "$pdf"):"
# Columns: command,mean,stddev,median,user,system,min,max (seconds).
awk -F, 'NR > 1 { printf "  %-20s %8.2f ms\n", $1, $4 * 1000 }' "$csv"
