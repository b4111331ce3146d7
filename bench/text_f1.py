#!/usr/bin/env python3
"""Text fidelity of the page renderer against pdftotext.

For every PDF of the corpus, the words printed by `paperwright --dump-text`
are compared with those of `pdftotext` on the same file: both texts are
NFKC-normalised, words broken by a hyphen at a line end are joined, and the
two multisets of words (runs of letters and digits; every other visible
character counts as a word of its own, so that "blog." and "blog" "." agree)
give precision, recall and F1.
Prints one row per file and the median F1 over files for which pdftotext
finds text.

usage: bench/text_f1.py [--paperwright BIN] [--corpus DIR] [--min F1]
"""
import argparse
import collections
import csv
import os
import re
import statistics
import subprocess
import sys
import unicodedata


def words(text):
    text = unicodedata.normalize("NFKC", text)
    # Invisible format characters (bidirectional marks) are not words.
    text = "".join(c for c in text if unicodedata.category(c) != "Cf")
    text = re.sub(r"(\w)-\s*\n\s*(\w)", r"\1\2", text)
    return collections.Counter(re.findall(r"\w+|[^\w\s]", text))


def run(cmd):
    r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")


def passwords(corpus):
    out = {}
    path = os.path.join(corpus, "MANIFEST.tsv")
    if os.path.exists(path):
        with open(path, newline="") as f:
            for row in csv.DictReader(f, delimiter="\t"):
                out[row["file"]] = row.get("password") or ""
    return out


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument("--paperwright", default=os.path.join(here, "..", "build", "cli", "paperwright"))
    ap.add_argument("--corpus", default=os.path.join(here, "..", "..", "shared", "corpus"))
    ap.add_argument("--min", type=float, default=0.85, help="flag files below this F1")
    args = ap.parse_args()

    pws = passwords(args.corpus)
    rows = []
    for name in sorted(os.listdir(args.corpus)):
        if not name.lower().endswith(".pdf"):
            continue
        path = os.path.join(args.corpus, name)
        pw = pws.get(name, "")
        ref_cmd = ["pdftotext", "-enc", "UTF-8"] + (["-upw", pw] if pw else []) + [path, "-"]
        our_cmd = [args.paperwright, "--dump-text", path] + (["--password", pw] if pw else [])
        _, ref_text, _ = run(ref_cmd)
        rc, our_text, err = run(our_cmd)
        ref, ours = words(ref_text), words(our_text)
        common = sum((ref & ours).values())
        nr, no = sum(ref.values()), sum(ours.values())
        p = common / no if no else (1.0 if not nr else 0.0)
        r = common / nr if nr else (1.0 if not no else 0.0)
        f1 = 2 * p * r / (p + r) if p + r else 0.0
        rows.append((name, nr, no, p, r, f1, rc))

    print(f"{'file':44} {'ref':>7} {'ours':>7} {'P':>6} {'R':>6} {'F1':>6}")
    for name, nr, no, p, r, f1, rc in rows:
        flag = ""
        if nr == 0:
            flag = "  (no text in pdftotext)"
        elif f1 < args.min:
            flag = "  < %.2f" % args.min
        if rc:
            flag += "  exit %d" % rc
        print(f"{name:44} {nr:7d} {no:7d} {p:6.3f} {r:6.3f} {f1:6.3f}{flag}")
    scored = [f1 for name, nr, no, p, r, f1, rc in rows if nr > 0]
    if scored:
        print(f"\nmedian F1 over {len(scored)} files with text: {statistics.median(scored):.4f}")
        print(f"mean F1: {statistics.mean(scored):.4f}; lowest: {min(scored):.4f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
