#!/bin/sh
# Wall time and peak memory of paperwright's conversion against LibreOffice's
# own PDF-to-RTF path (its Draw PDF import into Writer) on the same file, run
# one after the other. LibreOffice gets a time limit (seconds, default 3000);
# a run that hits it is reported as such.
#   bench/vs_libreoffice_import.sh [PAPERWRIGHT] [FILE.pdf] [LIMIT]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-"$here/../build/cli/paperwright"}
pdf=${2:-"$here/../../shared/corpus/latex-geotopo-117-pages.pdf"}
limit=${3:-3000}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

measure() {  # label, command...
  label=$1; shift
  /usr/bin/time -f '%e %M' -o "$out/time" "$@" >/dev/null 2>&1 && status=0 || status=$?
  read -r wall peak < "$out/time" || true
  note=""
  [ "$status" = 124 ] && note="  (stopped at the limit, no output)"
  echo "$label: ${wall} s wall, peak ${peak} KB, exit ${status}${note}"
}

measure "paperwright" "$bin" --quiet "$pdf" "$out/paperwright.rtf"
measure "LibreOffice import" timeout "$limit" soffice "-env:UserInstallation=file://$out/profile" --headless \
  --infilter=writer_pdf_import --convert-to rtf --outdir "$out/lo" "$pdf"
ls "$out/lo" 2>/dev/null | sed 's/^/LibreOffice wrote: /'
