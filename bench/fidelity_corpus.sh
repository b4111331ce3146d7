#!/usr/bin/env bash
# Converts every corpus PDF (the corpus folder and its pdfbox folder) in both
# layouts and scores each RTF against its PDF with the shared fidelity tool
# (LibreOffice renders the RTF, one file at a time).
#   bash bench/fidelity_corpus.sh [BUILD_DIR] [OUT_DIR]
# PW_CORPUS overrides the corpus folder (default ../shared/corpus).
# Prints one row per file and layout, then the medians, the share of files
# whose page count matches and, given PW_BASELINE=rows.tsv of an earlier run,
# the files that score worse than there.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
out=${2:-/tmp/pw-fidelity}
corpus=${PW_CORPUS:-$here/../shared/corpus}
tool=${PW_FIDELITY:-$(dirname "$corpus")/tools/fidelity.py}
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
for pdf in "$corpus"/*.pdf "$corpus"/pdfbox/*.pdf; do
  [ -f "$pdf" ] || continue
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

python3 - "$rows" "${PW_BASELINE:-}" <<'PY'
import json, statistics, sys
def load(path):
    out = {}
    for l in open(path):
        if not l.strip(): continue
        name, lay, raw = (l.rstrip("\n").split("\t", 2) + ["", ""])[:3]
        try: out[(name, lay)] = json.loads(raw)
        except Exception: out[(name, lay)] = None
    return out
rows = load(sys.argv[1])
base = load(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2] else {}
for layout in ("editing", "exact"):
    vals, same, total = {}, 0, 0
    for (name, lay), d in rows.items():
        if lay != layout: continue
        total += 1
        if not d: continue
        if d.get("pages_out") == d.get("pages_ref"): same += 1
        for k in ("words_f1", "order", "layout", "visual", "thumb"):
            if d.get(k) is not None: vals.setdefault(k, []).append(d[k])
    print(layout + ": " + "  ".join(f"median {k}={statistics.median(v):.3f} (n={len(v)})" for k, v in vals.items())
          + f"  pages equal {same}/{total}")
    if base:
        worse = []
        for (name, lay), d in rows.items():
            b = base.get((name, lay))
            if lay != layout or not b: continue
            for k in ("words_f1", "order", "layout"):
                if b.get(k) is not None and (not d or d.get(k) is None or d[k] < b[k] - 0.005):
                    worse.append(f"{name} {k} {b[k]:.3f}->{(d or {}).get(k)}")
            if b.get("pages_out") == b.get("pages_ref") and (not d or d.get("pages_out") != d.get("pages_ref")):
                worse.append(f"{name} pages {b.get('pages_out')}->{(d or {}).get('pages_out')}/{b.get('pages_ref')}")
        print(f"  worse than baseline: {len(worse)}")
        for w in worse: print("   ", w)
PY
