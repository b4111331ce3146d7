#!/bin/sh
# Batch conversion with -j 1 against -j N on the same files: RUNS alternating
# runs of each, medians of wall time and of CPU time (user + system, the
# workers included, as the shell's time reports them: no profiler's start-up
# in the figures), the throughput gain (wall -j 1 / wall -j N) and the CPU
# cost of running them side by side (CPU -j N / CPU -j 1).
#
# usage: bench/batch_jobs.sh [PAPERWRIGHT] [N] [RUNS] FILE.pdf...
#        (without files: the corpus' 117-page document cut into four
#        30-page ones)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-"$here/../build/cli/paperwright"}
jobs=${2:-2}
runs=${3:-5}
[ $# -ge 3 ] && shift 3 || shift $#
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
if [ $# -eq 0 ]; then
  src="$here/../../shared/corpus/latex-geotopo-117-pages.pdf"
  for r in 1-30 31-60 61-90 88-117; do qpdf --empty --pages "$src" "$r" -- "$out/part-$r.pdf"; done
  set -- "$out"/part-*.pdf
fi
for i in $(seq "$runs"); do
  for j in 1 "$jobs"; do
    rm -rf "$out/rtf"
    t=$(bash -c 'TIMEFORMAT="TIMES %3R %3U %3S"; time "$@" >/dev/null 2>&1' _ "$bin" -q -j "$j" -o "$out/rtf" "$@" 2>&1)
    echo "$t" | awk -v j="$j" '/^TIMES / { printf "%s %s %.1f\n", j, $2, ($3 + $4) * 1000 }' >>"$out/times"
  done
done
median() { awk -v j="$1" -v c="$2" '$1 == j { print $c }' "$out/times" | sort -g |
  awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
w1=$(median 1 2); c1=$(median 1 3); wn=$(median "$jobs" 2); cn=$(median "$jobs" 3)
echo "$# files, median of $runs runs"
printf '%-6s wall %8.3f s  CPU %9.1f ms\n' "-j 1" "$w1" "$c1" "-j $jobs" "$wn" "$cn"
awk -v w1="$w1" -v wn="$wn" -v c1="$c1" -v cn="$cn" -v j="$jobs" \
  'BEGIN { printf "throughput -j %s / -j 1: %.2fx   CPU -j %s / -j 1: %.2fx\n", j, w1 / wn, j, cn / c1 }'
