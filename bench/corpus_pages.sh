#!/bin/bash
# Converts every corpus PDF, opens each RTF in LibreOffice and compares the
# page count and every page's paper and orientation with the PDF (pdfinfo).
# Passwords come from the file names (user-view -> view, user-baz -> baz,
# writer-password.pdf -> openpassword, empty-user -> none).
#
# usage: bench/corpus_pages.sh [PAPERWRIGHT] [CORPUS_DIR] [extra paperwright options...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-"$here/../build/cli/paperwright"}
corpus=${2:-"$here/../../shared/corpus"}
shift $(($# < 2 ? $# : 2))
extra=("$@")
paper_w=595.3 paper_h=841.9   # A4, the default paper
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

password_for() {
  case "$1" in
    *user-view*) echo view ;;
    *user-baz*) echo baz ;;
    writer-password.pdf) echo openpassword ;;
    *) echo "" ;;
  esac
}

# "W H ROT" per page.
pages_of() {
  local pdf=$1 pw=$2 args=(-f 1 -l 100000)
  [ -n "$pw" ] && args+=(-upw "$pw")
  pdfinfo "${args[@]}" "$pdf" 2>/dev/null | awk '
    /^Page +[0-9]+ size:/ { n=$2; w[n]=$4; h[n]=$6; if (n>m) m=n }
    /^Page +[0-9]+ rot:/  { r[$2]=$4 }
    END { for (i=1;i<=m;i++) print w[i], h[i], (r[i]==""?0:r[i]) }'
}

mkdir -p "$work/rtf" "$work/pdf"
declare -A code
for pdf in "$corpus"/*.pdf; do
  name=$(basename "$pdf" .pdf)
  pw=$(password_for "$(basename "$pdf")")
  opts=(--quiet "${extra[@]}")
  [ -n "$pw" ] && opts+=(--password "$pw")
  "$bin" "${opts[@]}" "$pdf" "$work/rtf/$name.rtf" 2>"$work/$name.err" </dev/null
  code[$name]=$?
done
# One LibreOffice start for all documents, with a private profile; frame-
# heavy documents can keep it busy for a long time, hence the limit.
timeout 600 soffice -env:UserInstallation="file://$work/profile" --headless --convert-to pdf \
  --outdir "$work/pdf" "$work"/rtf/*.rtf >/dev/null 2>&1

ok=0 total=0
printf '%-44s %4s %6s %6s %s\n' FILE EXIT PDF RTF RESULT
for pdf in "$corpus"/*.pdf; do
  name=$(basename "$pdf" .pdf)
  pw=$(password_for "$(basename "$pdf")")
  total=$((total + 1))
  src=$(pages_of "$pdf" "$pw")
  nsrc=$(printf '%s' "$src" | grep -c .)
  if [ "${code[$name]}" != 0 ]; then
    printf '%-44s %4s %6s %6s %s\n' "$name" "${code[$name]}" "$nsrc" - "FAIL: $(head -1 "$work/$name.err")"
    continue
  fi
  out=$(pages_of "$work/pdf/$name.pdf" "")
  nout=$(printf '%s' "$out" | grep -c .)
  result=ok
  if [ "$nsrc" != "$nout" ]; then
    result="FAIL: page count"
  else
    bad=$(paste -d' ' <(printf '%s\n' "$src") <(printf '%s\n' "$out") | awk -v pw="$paper_w" -v ph="$paper_h" '
      function abs(x) { return x < 0 ? -x : x }
      { land = ($3 == 90 || $3 == 270 || $3 == -90); w = land ? ph : pw; h = land ? pw : ph
        if (abs($4 - w) > 2 || abs($5 - h) > 2) { printf "page %d is %sx%s; ", NR, $4, $5 } }')
    [ -n "$bad" ] && result="FAIL: $bad"
  fi
  [ "$result" = ok ] && ok=$((ok + 1))
  printf '%-44s %4s %6s %6s %s\n' "$name" 0 "$nsrc" "$nout" "$result"
done
echo "summary: $ok of $total files converted with the PDF's page count on A4 pages of the right orientation"
