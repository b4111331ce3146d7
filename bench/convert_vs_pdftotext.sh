#!/bin/sh
# Whole conversion speed: a PDF converted to RTF (paperwright) against
# pdftotext on the same file, in one hyperfine session, then the peak memory
# of each from /usr/bin/time -v.
#
# usage: bench/convert_vs_pdftotext.sh [PAPERWRIGHT] [FILE.pdf]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-"$here/../build/cli/paperwright"}
pdf=${2:-"$here/../../shared/corpus/latex-geotopo-117-pages.pdf"}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

hyperfine --warmup 1 --runs 10 \
  -n "paperwright (RTF)" "'$bin' --quiet '$pdf' '$out/out.rtf'" \
  -n "pdftotext" "pdftotext '$pdf' '$out/text.txt'"

for cmd in "'$bin' --quiet '$pdf' '$out/out.rtf'" "pdftotext '$pdf' '$out/text.txt'"; do
  peak=$(sh -c "/usr/bin/time -v $cmd" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p')
  echo "peak memory: ${peak} KB  ($cmd)"
done
echo "RTF size: $(du -k "$out/out.rtf" | cut -f1) KB"
