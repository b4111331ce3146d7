#!/usr/bin/env python3
"""Generates the built-in encoding and standard-font tables of the renderer.

Usage: gen_font_tables.py [<afm-dir>]   (default /usr/share/fonts/type1/urw-base35)

Writes render/kxEncodingData.inc and render/kxStandardFontData.inc.

- Encodings (glyph name per code): StandardEncoding, Symbol and ZapfDingbats
  from the character codes of the metric files; WinAnsiEncoding (Windows-1252)
  and MacRomanEncoding through Unicode and the glyph list (the name the
  metric files use wins when Unicode has several); PDFDocEncoding and
  MacExpertEncoding from the code lists below.
- Widths: the advance widths of the URW base 35 fonts, which are
  metric-compatible with the 14 standard fonts (Helvetica = Nimbus Sans,
  Times = Nimbus Roman, Courier = Nimbus Mono PS, Symbol = Standard Symbols
  PS, ZapfDingbats = D050000L), by glyph name.
The glyph list is read from resources/kxResources.pak.
"""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def pack_entry(name):
    data = open(os.path.join(ROOT, "resources", "kxResources.pak"), "rb").read()
    count = struct.unpack_from("<I", data, 8)[0]
    pos = 12
    for _ in range(count):
        n = struct.unpack_from("<H", data, pos)[0]
        pos += 2
        nm = data[pos:pos + n].decode()
        pos += n
        off, packed, size = struct.unpack_from("<III", data, pos)
        pos += 12
        if nm == name:
            return zlib.decompress(data[off:off + packed]).decode("latin-1")
    raise SystemExit("no %s in the pack" % name)


def read_afm(path):
    by_code, widths = {}, {}
    for line in open(path, encoding="latin-1"):
        if not line.startswith("C "):
            continue
        fields = [f.strip() for f in line.split(";")]
        code = int(fields[0].split()[1])
        width = name = None
        for f in fields[1:]:
            parts = f.split()
            if len(parts) == 2 and parts[0] == "WX":
                width = int(round(float(parts[1])))
            elif len(parts) == 2 and parts[0] == "N":
                name = parts[1]
        if name is None or width is None:
            continue
        widths[name] = width
        if 0 <= code <= 255:
            by_code[code] = name
    return by_code, widths


PDFDOC = {
    0x09: "tab", 0x0A: "newline", 0x0D: "return",
    0x18: "breve", 0x19: "caron", 0x1A: "circumflex", 0x1B: "dotaccent", 0x1C: "hungarumlaut",
    0x1D: "ogonek", 0x1E: "ring", 0x1F: "tilde",
    0x80: "bullet", 0x81: "dagger", 0x82: "daggerdbl", 0x83: "ellipsis", 0x84: "emdash", 0x85: "endash",
    0x86: "florin", 0x87: "fraction", 0x88: "guilsinglleft", 0x89: "guilsinglright", 0x8A: "minus",
    0x8B: "perthousand", 0x8C: "quotedblbase", 0x8D: "quotedblleft", 0x8E: "quotedblright",
    0x8F: "quoteleft", 0x90: "quoteright", 0x91: "quotesinglbase", 0x92: "trademark", 0x93: "fi",
    0x94: "fl", 0x95: "Lslash", 0x96: "OE", 0x97: "Scaron", 0x98: "Ydieresis", 0x99: "Zcaron",
    0x9A: "dotlessi", 0x9B: "lslash", 0x9C: "oe", 0x9D: "scaron", 0x9E: "zcaron", 0xA0: "Euro",
}

MACEXPERT = """
32 space 33 exclamsmall 34 Hungarumlautsmall 35 centoldstyle 36 dollaroldstyle 37 dollarsuperior
38 ampersandsmall 39 Acutesmall 40 parenleftsuperior 41 parenrightsuperior 42 twodotenleader
43 onedotenleader 44 comma 45 hyphen 46 period 47 fraction 48 zerooldstyle 49 oneoldstyle
50 twooldstyle 51 threeoldstyle 52 fouroldstyle 53 fiveoldstyle 54 sixoldstyle 55 sevenoldstyle
56 eightoldstyle 57 nineoldstyle 58 colon 59 semicolon 61 threequartersemdash 63 questionsmall
68 Ethsmall 71 onequarter 72 onehalf 73 threequarters 74 oneeighth 75 threeeighths 76 fiveeighths
77 seveneighths 78 onethird 79 twothirds 86 ff 87 fi 88 fl 89 ffi 90 ffl 91 parenleftinferior
93 parenrightinferior 94 Circumflexsmall 95 hypheninferior 96 Gravesmall 97 Asmall 98 Bsmall
99 Csmall 100 Dsmall 101 Esmall 102 Fsmall 103 Gsmall 104 Hsmall 105 Ismall 106 Jsmall 107 Ksmall
108 Lsmall 109 Msmall 110 Nsmall 111 Osmall 112 Psmall 113 Qsmall 114 Rsmall 115 Ssmall 116 Tsmall
117 Usmall 118 Vsmall 119 Wsmall 120 Xsmall 121 Ysmall 122 Zsmall 123 colonmonetary 124 onefitted
125 rupiah 126 Tildesmall 129 asuperior 130 centsuperior 135 Aacutesmall 136 Agravesmall
137 Acircumflexsmall 138 Adieresissmall 139 Atildesmall 140 Aringsmall 141 Ccedillasmall
142 Eacutesmall 143 Egravesmall 144 Ecircumflexsmall 145 Edieresissmall 146 Iacutesmall
147 Igravesmall 148 Icircumflexsmall 149 Idieresissmall 150 Ntildesmall 151 Oacutesmall
152 Ogravesmall 153 Ocircumflexsmall 154 Odieresissmall 155 Otildesmall 156 Uacutesmall
157 Ugravesmall 158 Ucircumflexsmall 159 Udieresissmall 161 eightsuperior 162 fourinferior
163 threeinferior 164 sixinferior 165 eightinferior 166 seveninferior 167 Scaronsmall
169 centinferior 170 twoinferior 172 Dieresissmall 174 Caronsmall 175 osuperior 176 fiveinferior
178 commainferior 179 periodinferior 180 Yacutesmall 182 dollarinferior 185 Thornsmall
187 nineinferior 188 zeroinferior 189 Zcaronsmall 190 AEsmall 191 Oslashsmall 192 questiondownsmall
193 oneinferior 194 Lslashsmall 201 Cedillasmall 207 OEsmall 208 figuredash 209 hyphensuperior
214 exclamdownsmall 216 Ydieresissmall 218 onesuperior 219 twosuperior 220 threesuperior
221 foursuperior 222 fivesuperior 223 sixsuperior 224 sevensuperior 225 ninesuperior
226 zerosuperior 228 esuperior 229 rsuperior 230 tsuperior 233 isuperior 234 ssuperior
235 dsuperior 241 lsuperior 242 Ogoneksmall 243 Brevesmall 244 Macronsmall 245 bsuperior
246 nsuperior 247 msuperior 248 commasuperior 249 periodsuperior 250 Dotaccentsmall 251 Ringsmall
"""


def through_unicode(codec, afm_names, reverse, overrides):
    table = {}
    for c in range(32, 256):
        if c in overrides:
            if overrides[c]:
                table[c] = overrides[c]
            continue
        try:
            u = ord(bytes([c]).decode(codec))
        except (UnicodeDecodeError, TypeError):
            continue
        names = reverse.get(u, [])
        pick = [n for n in names if n in afm_names] or names
        if pick:
            table[c] = pick[0]
    return table


def c_array(name, table):
    out = ["static const char* const %s[256] = {" % name]
    row = []
    for c in range(256):
        n = table.get(c)
        row.append('"%s"' % n if n else "nullptr")
        if len(row) == 8:
            out.append("    " + ", ".join(row) + ",")
            row = []
    out.append("};")
    return "\n".join(out)


def main():
    afm_dir = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/fonts/type1/urw-base35"
    reverse = {}
    for line in pack_entry("kxPDFGLYPH").splitlines():
        if not line or line.startswith("#"):
            continue
        n, v = line.split(";")
        vals = v.split()
        if len(vals) == 1:
            reverse.setdefault(int(vals[0], 16), []).append(n)

    fonts = [
        ("Helvetica", "NimbusSans-Regular"), ("Helvetica-Bold", "NimbusSans-Bold"),
        ("Helvetica-Oblique", "NimbusSans-Italic"), ("Helvetica-BoldOblique", "NimbusSans-BoldItalic"),
        ("Times-Roman", "NimbusRoman-Regular"), ("Times-Bold", "NimbusRoman-Bold"),
        ("Times-Italic", "NimbusRoman-Italic"), ("Times-BoldItalic", "NimbusRoman-BoldItalic"),
        ("Courier", "NimbusMonoPS-Regular"), ("Courier-Bold", "NimbusMonoPS-Bold"),
        ("Courier-Oblique", "NimbusMonoPS-Italic"), ("Courier-BoldOblique", "NimbusMonoPS-BoldItalic"),
        ("Symbol", "StandardSymbolsPS"), ("ZapfDingbats", "D050000L"),
    ]
    afm = {std: read_afm(os.path.join(afm_dir, f + ".afm")) for std, f in fonts}
    latin_names = set(afm["Helvetica"][1])

    encodings = [
        ("kStandardNames", afm["Helvetica"][0]),
        ("kWinAnsiNames", through_unicode("cp1252", latin_names, reverse, {0x7F: None, 0xA0: "space", 0xAD: "hyphen"})),
        ("kMacRomanNames", through_unicode("mac_roman", latin_names, reverse,
                                           {0x7F: None, 0xBD: "Omega", 0xCA: "space", 0xDB: "currency", 0xF0: "apple"})),
        ("kMacExpertNames", dict((int(a), b) for a, b in zip(MACEXPERT.split()[0::2], MACEXPERT.split()[1::2]))),
        ("kPDFDocNames", dict(list({c: n for c, n in through_unicode("latin-1", latin_names, reverse, {0x7F: None, 0xA0: None, 0xAD: None}).items()}.items()) + list(PDFDOC.items()))),
        ("kSymbolNames", afm["Symbol"][0]),
        ("kZapfDingbatsNames", afm["ZapfDingbats"][0]),
    ]
    with open(os.path.join(ROOT, "render", "kxEncodingData.inc"), "w") as f:
        f.write("// Generated by tools/gen_font_tables.py; do not edit.\n")
        f.write("// Glyph names of the built-in encodings, per code (nullptr: no glyph).\n\n")
        for name, table in encodings:
            f.write(c_array(name, table) + "\n\n")

    def pool_and_widths(members, pool_name):
        names = sorted(set().union(*[set(afm[m][1]) for m in members]) - {".notdef"})
        lines = ["static const char* const %s[%d] = {" % (pool_name, len(names))]
        for i in range(0, len(names), 8):
            lines.append("    " + ", ".join('"%s"' % n for n in names[i:i + 8]) + ",")
        lines.append("};")
        arrays = []
        for m in members:
            w = afm[m][1]
            ident = "kW_" + m.replace("-", "_")
            vals = [str(w.get(n, 0xFFFF)) for n in names]
            arr = ["static const uint16_t %s[%d] = {" % (ident, len(names))]
            for i in range(0, len(vals), 16):
                arr.append("    " + ", ".join(vals[i:i + 16]) + ",")
            arr.append("};")
            arrays.append("\n".join(arr))
        return "\n".join(lines), arrays, len(names)

    latin = [f for f, _ in fonts[:12]]
    with open(os.path.join(ROOT, "render", "kxStandardFontData.inc"), "w") as f:
        f.write("// Generated by tools/gen_font_tables.py; do not edit.\n")
        f.write("// Advance widths (1/1000 em) of the standard fonts by glyph name, from the\n")
        f.write("// metric files of the metric-compatible URW base 35 fonts. Name pools are\n")
        f.write("// sorted in byte order; 65535 marks a glyph a member lacks.\n\n")
        pool, arrays, n_latin = pool_and_widths(latin, "kLatinGlyphs")
        f.write(pool + "\n\n" + "\n\n".join(arrays) + "\n\n")
        pool, arrays, n_sym = pool_and_widths(["Symbol"], "kSymbolGlyphs")
        f.write(pool + "\n\n" + "\n\n".join(arrays) + "\n\n")
        pool, arrays, n_zapf = pool_and_widths(["ZapfDingbats"], "kDingbatGlyphs")
        f.write(pool + "\n\n" + "\n\n".join(arrays) + "\n\n")
        f.write("static constexpr size_t kLatinGlyphCount = %d;\n" % n_latin)
        f.write("static constexpr size_t kSymbolGlyphCount = %d;\n" % n_sym)
        f.write("static constexpr size_t kDingbatGlyphCount = %d;\n" % n_zapf)
    print("done")


if __name__ == "__main__":
    main()
