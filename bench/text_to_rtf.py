#!/usr/bin/env python3
"""Wraps plain text (pdftotext's output) in the plainest RTF, so that the
fidelity tool can score a text extractor beside the converters: one
paragraph per line, a page break at every form feed.
    python3 bench/text_to_rtf.py IN.txt OUT.rtf"""
import sys


def escape(line):
    out = []
    for ch in line:
        code = ord(ch)
        if ch in "\\{}":
            out.append("\\" + ch)
        elif code < 0x20:
            continue
        elif code < 0x80:
            out.append(ch)
        else:
            units = [code] if code <= 0xFFFF else [0xD800 + ((code - 0x10000) >> 10), 0xDC00 + ((code - 0x10000) & 0x3FF)]
            for u in units:
                out.append("\\u%d?" % (u - 0x10000 if u > 0x7FFF else u))
    return "".join(out)


def main():
    text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
    pages = text.split("\f")
    if pages and not pages[-1].strip():
        pages.pop()
    body = []
    for i, page in enumerate(pages):
        if i:
            body.append("\\page\n")
        for line in page.split("\n"):
            body.append("\\pard " + escape(line) + "\\par\n")
    with open(sys.argv[2], "w", encoding="ascii") as f:
        f.write("{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Times New Roman;}}\\f0\\fs20\n")
        f.write("".join(body))
        f.write("}\n")


if __name__ == "__main__":
    main()
