#!/usr/bin/env python3
"""Builds resources/kxResources.pak, the data compiled into pw_resources.

Usage: make_resources.py <data-dir> [<output>]

<data-dir> holds agl/ (the Adobe Glyph List and the ZapfDingbats list) and
cmap-resources/ (Adobe's CMap resources per character collection). The pack
holds every entry zlib-compressed on its own so that one CMap can be read
without inflating the rest:

  "PWRSRC01"                      8 bytes
  count                           uint32 LE
  count x { name_len uint16 LE, name bytes,
            offset uint32 LE (from the pack start),
            packed_size uint32 LE, size uint32 LE }
  the compressed entries

Entries: "kxPDFGLYPH" (glyphlist.txt), "kxPDFZAPF" (zapfdingbats.txt) and
"CMap/<name>" for the CMaps that map codes to CIDs (the UTF-8 and UTF-32
forms and the CID-to-CID supplement maps are left out: PDF files name the
UCS-2 and UTF-16 forms, and the Unicode-to-CID data of the UTF-16 forms is
what the CID-to-Unicode tables are built from). The licence texts are copied
to resources/licenses/.
"""
import os
import re
import shutil
import struct
import sys
import zlib


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    data = sys.argv[1]
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(here, "kxResources.pak")

    entries = []
    agl = os.path.join(data, "agl")
    entries.append(("kxPDFGLYPH", open(os.path.join(agl, "glyphlist.txt"), "rb").read()))
    entries.append(("kxPDFZAPF", open(os.path.join(agl, "zapfdingbats.txt"), "rb").read()))

    root = os.path.join(data, "cmap-resources")
    skip = re.compile(r"(UTF8|UTF32)|^Adobe-[A-Za-z]+\d?-\d+$")
    for coll in sorted(os.listdir(root)):
        cdir = os.path.join(root, coll, "CMap")
        if not os.path.isdir(cdir):
            continue
        for name in sorted(os.listdir(cdir)):
            if skip.search(name):
                continue
            entries.append(("CMap/" + name, open(os.path.join(cdir, name), "rb").read()))

    head = bytearray(b"PWRSRC01")
    head += struct.pack("<I", len(entries))
    dir_size = len(head) + sum(2 + len(n.encode()) + 12 for n, _ in entries)
    blobs = bytearray()
    for name, raw in entries:
        packed = zlib.compress(raw, 9)
        nb = name.encode()
        head += struct.pack("<H", len(nb)) + nb
        head += struct.pack("<III", dir_size + len(blobs), len(packed), len(raw))
        blobs += packed
    with open(out, "wb") as f:
        f.write(head + blobs)

    lic = os.path.join(here, "licenses")
    os.makedirs(lic, exist_ok=True)
    shutil.copyfile(os.path.join(agl, "LICENSE.md"), os.path.join(lic, "glyphlist-LICENSE.md"))
    shutil.copyfile(os.path.join(root, "LICENSE.md"), os.path.join(lic, "cmap-resources-LICENSE.md"))
    print("%s: %d entries, %d bytes" % (out, len(entries), len(head) + len(blobs)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
