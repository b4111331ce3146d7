#!/usr/bin/python3
"""Writes the small TrueType programs the font tests embed in handwritten PDFs.

symbol-names.ttf     a typographic-symbol font as word processors embed it:
                     a (3,0) symbol cmap only (codes at U+F000 + byte), the
                     bullet at the code of "!", a check mark at "3", an "fi"
                     ligature at code 1, letters at their ASCII codes, and
                     glyph names in its post table.
symbol-nonames.ttf   the same glyphs with a (3,0) cmap but no glyph names
                     (post format 3).
plain-nocmap.ttf     letters with glyph names and no cmap table at all, as
                     subset CID fonts are often embedded.

Needs fontTools (Debian: python3-fonttools); the fonts are checked in, so
the tests do not.
"""
from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen


def box(width, height):
    pen = TTGlyphPen(None)
    pen.moveTo((50, 0))
    pen.lineTo((50, height))
    pen.lineTo((width - 50, height))
    pen.lineTo((width - 50, 0))
    pen.closePath()
    return pen.glyph()


def build(path, names, cmap, keep_names):
    order = [".notdef"] + [n for n, _ in names]
    fb = FontBuilder(1000, isTTF=True)
    fb.setupGlyphOrder(order)
    # OS/2 is built from the cmap; a font without one gets it removed at the end.
    fb.setupCharacterMap(cmap if cmap is not None else {0x48: "H"})
    glyphs = {".notdef": box(500, 700)}
    metrics = {".notdef": (500, 50)}
    for n, w in names:
        glyphs[n] = box(w, 500 + w // 4)
        metrics[n] = (w, 50)
    fb.setupGlyf(glyphs)
    fb.setupHorizontalMetrics(metrics)
    fb.setupHorizontalHeader(ascent=800, descent=-200)
    fb.setupNameTable({"familyName": "PwTestGlyphs", "styleName": "Regular"})
    fb.setupOS2(sTypoAscender=800, usWinAscent=800, usWinDescent=200)
    fb.setupPost(keepGlyphNames=keep_names)
    if cmap is not None and all(c >= 0xF000 for c in cmap):
        # A symbol cmap: platform 3, encoding 0.
        for t in fb.font["cmap"].tables:
            t.platEncID = 0
        fb.font["cmap"].tables = [t for t in fb.font["cmap"].tables if t.platformID == 3]
    if cmap is None:
        del fb.font["cmap"]
    fb.save(path)


letters = [("H", 722), ("e", 556), ("l", 222), ("o", 556), ("space", 278)]
symbols = [("bullet", 350), ("uni2713", 800), ("f_i", 500)]
sym_cmap = {0xF048: "H", 0xF065: "e", 0xF06C: "l", 0xF06F: "o", 0xF020: "space",
            0xF021: "bullet", 0xF033: "uni2713", 0xF001: "f_i"}
build("symbol-names.ttf", letters + symbols, sym_cmap, True)
build("symbol-nonames.ttf", letters + symbols, sym_cmap, False)
build("plain-nocmap.ttf", letters + symbols, None, True)
