#!/bin/sh
# Page rendering speed: every page of a PDF drawn to EMF recordings
# (paperwright --dump-emf) against pdftotext on the same file, in one
# hyperfine session, then the peak memory of each from /usr/bin/time -v.
#
# usage: bench/render_vs_pdftotext.sh [PAPERWRIGHT] [FILE.pdf]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-"$here/../build/cli/paperwright"}
pdf=${2:-"$here/../../shared/corpus/latex-geotopo-117-pages.pdf"}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

hyperfine --warmup 2 --runs 15 \
  -n "paperwright --dump-emf" "'$bin' --dump-emf '$out/emf' '$pdf' >/dev/null" \
  -n "pdftotext" "pdftotext '$pdf' '$out/text.txt'"

for cmd in "'$bin' --dump-emf '$out/emf' '$pdf'" "pdftotext '$pdf' '$out/text.txt'"; do
  peak=$(sh -c "/usr/bin/time -v $cmd" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p')
  echo "peak memory: ${peak} KB  ($cmd)"
done
echo "recordings: $(ls "$out/emf" | wc -l) files, $(du -sk "$out/emf" | cut -f1) KB"
