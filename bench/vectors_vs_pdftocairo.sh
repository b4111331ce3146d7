#!/bin/bash
# Vector-heavy conversion against a peer that draws the same pages: the
# matplotlib chart of the corpus repeated to N pages (qpdf), converted in
# extended mode (both layouts) and drawn by `pdftocairo -svg`. Prints the
# CPU time (user + system) and peak memory of each, and the ratios.
#
# usage: bench/vectors_vs_pdftocairo.sh [PAPERWRIGHT] [PAGES] [RUNS]
set -u
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-"$here/../build/cli/paperwright"}
pages=${2:-50}
runs=${3:-3}
src="$here/../../shared/corpus/pm-matplotlib-type3.pdf"
[ -f "$src" ] || { echo "no corpus file $src"; exit 0; }
for tool in qpdf pdftocairo /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "needs $tool"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

list=()
for ((i = 0; i < pages; i++)); do list+=("$src"); done
qpdf --empty --pages "${list[@]}" -- "$work/in.pdf"

# "cpu_seconds peak_kb" of the best of RUNS runs of a command.
measure() {
  local best_cpu="" best_mem=""
  for ((r = 0; r < runs; r++)); do
    /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    read -r u s m <"$work/time"
    local cpu
    cpu=$(echo "$u + $s" | bc -l)
    if [ -z "$best_cpu" ] || (($(echo "$cpu < $best_cpu" | bc -l))); then best_cpu=$cpu; best_mem=$m; fi
  done
  echo "$best_cpu $best_mem"
}

read -r peer_cpu peer_mem < <(measure pdftocairo -svg "$work/in.pdf" "$work/out.svg")
printf "%-34s cpu %7.2fs  peak %8d KiB\n" "pdftocairo -svg ($pages pages)" "$peer_cpu" "$peer_mem"
for layout in exact editing; do
  read -r cpu mem < <(measure "$bin" -q --mode extended --layout "$layout" "$work/in.pdf" "$work/out.rtf")
  printf "%-34s cpu %7.2fs  peak %8d KiB  (cpu x%.2f, memory x%.2f)\n" "paperwright extended $layout" "$cpu" \
    "$mem" "$(echo "$cpu / $peer_cpu" | bc -l)" "$(echo "$mem / $peer_mem" | bc -l)"
done
