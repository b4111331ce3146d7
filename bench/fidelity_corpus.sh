#!/usr/bin/env bash
# Converts every corpus PDF in both layouts and scores each RTF against its
# PDF with the shared fidelity tool (LibreOffice renders the RTF).
#   bash bench/fidelity_corpus.sh [BUILD_DIR] [OUT_DIR]
# Prints one row per file and layout, then the median of each metric.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
out=${2:-/tmp/pw-fidelity}
corpus=$here/../shared/corpus
tool=$here/../shared/tools/fidelity.py
pw=$build/cli/paperwright
[ -d "$corpus" ] || { echo "no corpus at $corpus"; exit 0; }
[ -x "$pw" ] || { echo "build paperwright first ($pw)"; exit 1; }
mkdir -p "$out"

password_for() {
  case "$1" in
    *user-view*) echo view ;;
    *user-baz*) echo baz ;;
    writer-password.pdf) echo openpassword ;;
    *) echo "" ;;
  esac
}

rows=$out/rows.tsv
: > "$rows"
for pdf in "$corpus"/*.pdf; do
  name=$(basename "$pdf")
  pwd_=$(password_for "$name")
  for layout in editing exact; do
    rtf=$out/${name%.pdf}-$layout.rtf
    args=(--quiet --layout "$layout")
    [ -n "$pwd_" ] && args+=(--password "$pwd_")
    if ! "$pw" "${args[@]}" "$pdf" "$rtf" 2>/dev/null; then
      printf '%s\t%s\tconvert-failed\n' "$name" "$layout" | tee -a "$rows"
      continue
    fi
    fargs=()
    [ -n "$pwd_" ] && fargs=(--password "$pwd_")
    json=$(timeout 300 python3 "$tool" "$pdf" "$rtf" "${fargs[@]}" --json 2>/dev/null)
    printf '%s\t%s\t%s\n' "$name" "$layout" "$json" >> "$rows"
    python3 - "$name" "$layout" "$json" <<'PY'
import json, sys
name, layout, raw = sys.argv[1:4]
try:
    d = json.loads(raw)
except Exception:
    print(f"{name:45s} {layout:8s} score-failed"); sys.exit()
f = lambda k: "  n/a " if d.get(k) is None else f"{d[k]:.3f}"
print(f"{name:45s} {layout:8s} f1={f('words_f1')} order={f('order')} layout={f('layout')} visual={f('visual')} pages={d.get('pages_out','?')}/{d.get('pages_ref','?')}")
PY
  done
done

python3 - "$rows" <<'PY'
import json, statistics, sys
rows = [l.rstrip("\n").split("\t", 2) for l in open(sys.argv[1]) if l.strip()]
for layout in ("editing", "exact"):
    vals = {}
    for name, lay, raw in rows:
        if lay != layout: continue
        try: d = json.loads(raw)
        except Exception: continue
        for k in ("words_f1", "order", "layout", "visual", "thumb"):
            if d.get(k) is not None: vals.setdefault(k, []).append(d[k])
    print(layout + ": " + "  ".join(f"median {k}={statistics.median(v):.3f} (n={len(v)})" for k, v in vals.items()))
PY
