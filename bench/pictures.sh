#!/bin/sh
# Pictures: the cost of extended conversion and its memory on a scan.
#   1. extended against standard conversion of one file, in one hyperfine
#      session (the ratio of the two means);
#   2. peak memory (/usr/bin/time -v) of extended conversion of a 20-page
#      scanned document made here with ImageMagick and img2pdf from a JPEG
#      picture of the corpus (A4 pages at 300 dpi), in each picture format.
#
# usage: bench/pictures.sh [PAPERWRIGHT] [FILE.pdf]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-"$here/../build/cli/paperwright"}
pdf=${2:-"$here/../../shared/corpus/latex-geotopo-117-pages.pdf"}
photo_pdf="$here/../../shared/corpus/latex-jpeg-image.pdf"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

hyperfine --warmup 1 --runs 5 --export-json "$out/times.json" \
  -n standard "'$bin' --quiet --mode standard '$pdf' '$out/standard.rtf'" \
  -n extended "'$bin' --quiet --mode extended '$pdf' '$out/extended.rtf'"
python3 -c "
import json, sys
r = {x['command']: x['mean'] for x in json.load(open('$out/times.json'))['results']}
print('extended / standard: %.2f' % (r['extended'] / r['standard']))"

# The scan: one photograph blown up to a full page, twenty times.
pdfimages -j "$photo_pdf" "$out/photo"
for i in $(seq -w 1 20); do
  convert "$out/photo-000.jpg" -resize '2480x3508!' -quality 85 "$out/page$i.jpg"
done
img2pdf --pagesize A4 "$out"/page*.jpg -o "$out/scan.pdf"
for format in jpeg png bmp metafile; do
  peak=$(/usr/bin/time -v "$bin" --quiet --mode extended --image-format "$format" "$out/scan.pdf" "$out/scan.rtf" \
           2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p')
  echo "scan, 20 pages, $format: peak memory ${peak} KB (budget 262144 KB), RTF $(du -k "$out/scan.rtf" | cut -f1) KB"
done
