#!/bin/sh
# Speed and peak memory of paperwright against pdftotext on the same file, in
# one hyperfine session, then the peak memory of each from /usr/bin/time -v.
#   render:  every page drawn to EMF recordings (paperwright --dump-emf)
#   convert: the whole conversion to RTF
#
# usage: bench/vs_pdftotext.sh render|convert [PAPERWRIGHT] [FILE.pdf]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
mode=${1:-convert}
bin=${2:-"$here/../build/cli/paperwright"}
pdf=${3:-"$here/../../shared/corpus/latex-geotopo-117-pages.pdf"}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

case "$mode" in
  render) ours="'$bin' --dump-emf '$out/emf' '$pdf'"; name="paperwright --dump-emf" ;;
  convert) ours="'$bin' --quiet '$pdf' '$out/out.rtf'"; name="paperwright (RTF)" ;;
  *) echo "usage: $0 render|convert [PAPERWRIGHT] [FILE.pdf]" >&2; exit 1 ;;
esac
theirs="pdftotext '$pdf' '$out/text.txt'"

hyperfine --warmup 2 --runs 10 -n "$name" "$ours >/dev/null" -n "pdftotext" "$theirs"

for cmd in "$ours" "$theirs"; do
  peak=$(sh -c "/usr/bin/time -v $cmd" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p')
  echo "peak memory: ${peak} KB  ($cmd)"
done
if [ "$mode" = render ]; then
  echo "recordings: $(ls "$out/emf" | wc -l) files, $(du -sk "$out/emf" | cut -f1) KB"
else
  echo "RTF size: $(du -k "$out/out.rtf" | cut -f1) KB"
fi
