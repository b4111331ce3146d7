#!/bin/sh
# Speed and peak memory of paperwright against the plain text extractors
# pdftotext (poppler) and `mutool draw -F txt` (MuPDF) on the same file:
# one hyperfine session for wall time, then RUNS alternating runs of each
# under /usr/bin/time -v, whose medians of CPU time (user + system), wall
# time and peak memory are given with their ratios to each peer. CPU time is
# the figure to compare on a loaded machine.
#   render:  every page drawn to EMF recordings (paperwright --dump-emf)
#   convert: the whole conversion to RTF
#
# usage: bench/vs_pdftotext.sh render|convert [PAPERWRIGHT] [FILE.pdf] [RUNS]
#        (PW_ARGS adds options to paperwright, e.g. PW_ARGS="--mode extended";
#        PW_HYPERFINE=0 skips the hyperfine session, for long files)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
mode=${1:-convert}
bin=${2:-"$here/../build/cli/paperwright"}
pdf=${3:-"$here/../../shared/corpus/latex-geotopo-117-pages.pdf"}
runs=${4:-5}
extra=${PW_ARGS:-}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

case "$mode" in
  render) ours="'$bin' $extra --dump-emf '$out/emf' '$pdf'"; name="paperwright --dump-emf" ;;
  convert) ours="'$bin' $extra --quiet '$pdf' '$out/out.rtf'"; name="paperwright (RTF)" ;;
  *) echo "usage: $0 render|convert [PAPERWRIGHT] [FILE.pdf] [RUNS]" >&2; exit 1 ;;
esac
poppler="pdftotext '$pdf' '$out/text.txt'"
mupdf="mutool draw -q -F txt -o /dev/null '$pdf'"

if [ "${PW_HYPERFINE:-1}" = 1 ] && command -v hyperfine >/dev/null; then
  hyperfine --warmup 1 --runs 10 -n "$name" "$ours >/dev/null" -n "pdftotext" "$poppler" \
    -n "mutool draw -F txt" "$mupdf"
fi

# One line per run: cpu seconds, wall seconds, peak KB.
measure() {
  sh -c "/usr/bin/time -f 'TIMES %U %S %e %M' $1" 2>&1 >/dev/null | sed -n 's/^TIMES //p' |
    awk '{ printf "%.3f %.3f %d\n", $1 + $2, $3, $4 }'
}
for i in $(seq "$runs"); do
  measure "$ours" >>"$out/ours"
  measure "$poppler" >>"$out/poppler"
  measure "$mupdf" >>"$out/mupdf"
done
median() { cut -d' ' -f"$2" "$1" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for who in ours poppler mupdf; do
  for col in 1 2 3; do eval "${who}_$col=$(median "$out/$who" $col)"; done
done
printf '%-22s %9s %9s %11s\n' "median of $runs runs" "CPU s" "wall s" "peak KB"
printf '%-22s %9s %9s %11s\n' "$name" "$ours_1" "$ours_2" "$ours_3"
printf '%-22s %9s %9s %11s\n' "pdftotext" "$poppler_1" "$poppler_2" "$poppler_3"
printf '%-22s %9s %9s %11s\n' "mutool draw -F txt" "$mupdf_1" "$mupdf_2" "$mupdf_3"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
for peer in poppler mupdf; do
  eval "c=\$${peer}_1 w=\$${peer}_2 m=\$${peer}_3"
  printf 'ratio to %-13s CPU %s  wall %s  peak memory %s\n' "$peer:" "$(ratio "$ours_1" "$c")" \
    "$(ratio "$ours_2" "$w")" "$(ratio "$ours_3" "$m")"
done
if [ "$mode" = render ]; then
  echo "recordings: $(ls "$out/emf" | wc -l) files, $(du -sk "$out/emf" | cut -f1) KB"
else
  echo "RTF size: $(du -k "$out/out.rtf" | cut -f1) KB"
fi
