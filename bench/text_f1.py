#!/usr/bin/env python3
"""Text fidelity of the page renderer against pdftotext and mutool.

For every PDF of the corpus folders, the words printed by
`paperwright --dump-text` are compared with those of `pdftotext` and of
`mutool draw -F txt` on the same file: the texts are NFKC-normalised, words
broken by a hyphen at a line end are joined, and the multisets of words
(runs of letters and digits; every other visible character counts as a word
of its own, so that "blog." and "blog" "." agree) give precision, recall and
F1. A file's score is its F1 against the closer of the two peers (they
disagree on some files, and either reading is a fair one).
Prints one row per file, the files below --min, and the median F1 over
files for which a peer finds text.

usage: bench/text_f1.py [--paperwright BIN] [--corpus DIR ...] [--min F1]
                        [--only SUBSTRING]
"""
import argparse
import collections
import csv
import os
import re
import shutil
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
    try:
        r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    except subprocess.TimeoutExpired:
        return 124, "", "timeout"
    return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")


def passwords(corpus):
    out = {}
    path = os.path.join(corpus, "MANIFEST.tsv")
    if os.path.exists(path):
        with open(path, newline="") as f:
            for row in csv.DictReader(f, delimiter="\t"):
                out[row["file"]] = row.get("password") or ""
    # Names that carry the password (user-view -> view, user-baz -> baz).
    return out


def password_from_name(name):
    m = re.search(r"user-(\w+?)-owner", name)
    if m and m.group(1) != "empty":
        return m.group(1)
    if name == "writer-password.pdf":
        return "openpassword"
    return ""


def score(ref, ours):
    common = sum((ref & ours).values())
    nr, no = sum(ref.values()), sum(ours.values())
    p = common / no if no else (1.0 if not nr else 0.0)
    r = common / nr if nr else (1.0 if not no else 0.0)
    f1 = 2 * p * r / (p + r) if p + r else 0.0
    return nr, no, p, r, f1


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    shared = os.path.join(here, "..", "..", "shared", "corpus")
    if not os.path.isdir(shared):
        shared = "/work/shared/corpus"
    ap = argparse.ArgumentParser()
    ap.add_argument("--paperwright", default=os.path.join(here, "..", "build", "cli", "paperwright"))
    ap.add_argument("--corpus", action="append", help="folder of PDF files (repeatable)")
    ap.add_argument("--min", type=float, default=0.85, help="flag files below this F1")
    ap.add_argument("--only", default="", help="only files whose name contains this")
    args = ap.parse_args()
    corpora = args.corpus or [shared, os.path.join(shared, "pdfbox")]
    have_mutool = shutil.which("mutool") is not None

    rows = []
    for corpus in corpora:
        if not os.path.isdir(corpus):
            continue
        pws = passwords(corpus)
        for name in sorted(os.listdir(corpus)):
            if not name.lower().endswith(".pdf") or args.only not in name:
                continue
            path = os.path.join(corpus, name)
            pw = pws.get(name) or password_from_name(name)
            refs = []
            _, t, _ = run(["pdftotext", "-enc", "UTF-8"] + (["-upw", pw] if pw else []) + [path, "-"])
            refs.append(("pdftotext", words(t)))
            if have_mutool:
                _, t, _ = run(["mutool", "draw", "-q", "-F", "txt", "-o", "-"] + (["-p", pw] if pw else []) + [path])
                refs.append(("mutool", words(t)))
            rc, our_text, _ = run([args.paperwright, "--dump-text", path] + (["--password", pw] if pw else []))
            ours = words(our_text)
            best = max(((score(ref, ours), peer) for peer, ref in refs), key=lambda s: (s[0][4], -s[0][0]))
            (nr, no, p, r, f1), peer = best
            rows.append((name, nr, no, p, r, f1, rc, peer))

    print(f"{'file':48} {'ref':>7} {'ours':>7} {'P':>6} {'R':>6} {'F1':>6}  peer")
    low = []
    for name, nr, no, p, r, f1, rc, peer in rows:
        flag = ""
        if nr == 0:
            flag = "  (no text in the peers)"
        elif f1 < args.min:
            flag = "  < %.2f" % args.min
            low.append(name)
        if rc:
            flag += "  exit %d" % rc
        print(f"{name:48} {nr:7d} {no:7d} {p:6.3f} {r:6.3f} {f1:6.3f}  {peer}{flag}")
    scored = [f1 for name, nr, no, p, r, f1, rc, peer in rows if nr > 0]
    if scored:
        print(f"\nmedian F1 over {len(scored)} files with text: {statistics.median(scored):.4f}")
        print(f"mean F1: {statistics.mean(scored):.4f}; lowest: {min(scored):.4f}")
        print(f"below {args.min}: {len(low)} of {len(scored)} ({100.0 * len(low) / len(scored):.1f} %)")
        for name in low:
            print(f"  {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
