#!/usr/bin/env python3
"""Make hostile mutants of PDFs: truncations, byte flips in streams, lying image
dictionaries (sizes, bit depths, Decode arrays, palettes, filters), hostile
content operators and, with FORMS=1, lying form-field entries.

  pdf_mutants.py SEED_DIR OUT_DIR COUNT [RANDOM_SEED]

Seeds work best uncompressed: qpdf --qdf --object-streams=disable IN OUT.
Run the mutants with sweep.py (one configuration per mutant: ONE=1)."""
import os, random, re, sys
seeds, outdir, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 1)
FORMS = os.environ.get('FORMS') == '1'
files = [os.path.join(seeds, f) for f in sorted(os.listdir(seeds)) if f.endswith(".pdf")]
STREAM = re.compile(rb"stream\r?\n")
def streams(d):
    out = []
    for m in STREAM.finditer(d):
        s = m.end(); e = d.find(b"endstream", s)
        if e > s: out.append((s, e))
    return out
def image_dicts(d):
    return [m.start() for m in re.finditer(rb"/Subtype\s*/Image", d)] + \
           [m.start() for m in re.finditer(rb"\nBI\b", d)]
def dict_around(d, pos):
    s = d.rfind(b"<<", 0, pos); e = d.find(b">>", pos)
    return (s, e) if s >= 0 and e > 0 else (pos, pos)
HUGE = [b"0", b"-1", b"1", b"3", b"65535", b"1000000", b"2147483647", b"4294967297", b"99999999999", b"1e9", b"-2147483648", b"7.5"]
def sub_key(d, key, vals, region=None):
    s, e = region or (0, len(d))
    ms = [m for m in re.finditer(rb"/" + key + rb"\s+(-?[0-9.]+)", d[s:e])]
    if not ms: return None
    m = rng.choice(ms)
    a, b = s + m.start(1), s + m.end(1)
    return d[:a] + rng.choice(vals) + d[b:]
def mutate(d):
    kind = rng.randrange(14)
    if FORMS and rng.random() < 0.5:
        keys = [(rb"/Rect\s*\[[^\]]*\]", [b"/Rect [0 0 1e30 1e30]", b"/Rect [1 2]", b"/Rect [5 5 5 5]", b"/Rect [-1e9 -1e9 1e9 1e9]"]),
                (rb"/DA\s*\([^)]*\)", [b"/DA (/Helv 1e30 Tf 0 g)", b"/DA (/Helv -5 Tf)", b"/DA (/Nope 0 Tf)", b"/DA (Tf Tf Tf)", b"/DA (/Helv 0 Tf 1 1 1 1 1 1 1 rg)"]),
                (rb"/BBox\s*\[[^\]]*\]", [b"/BBox [0 0 0 0]", b"/BBox [0 0 1e30 1e-30]", b"/BBox [1]"]),
                (rb"/Matrix\s*\[[^\]]*\]", [b"/Matrix [0 0 0 0 0 0]", b"/Matrix [1e30 0 0 1e30 0 0]"]),
                (rb"/MaxLen\s*\d+", [b"/MaxLen 0", b"/MaxLen -3", b"/MaxLen 2147483647"]),
                (rb"/Q\s*\d+", [b"/Q 7", b"/Q -1"]),
                (rb"/R\s*\d+", [b"/R 45", b"/R -90", b"/R 2147483647"]),
                (rb"/Ff\s*\d+", [b"/Ff 4294967295", b"/Ff -1", b"/Ff 33554432"]),
                (rb"/V\s*\([^)]*\)", [b"/V (" + b"W" * 5000 + b")", b"/V ()", b"/V (\\r\\n\\r\\n\\r)"]),
                (rb"/Kids\s*\[", [b"/Kids [1 0 R 2 0 R 3 0 R 4 0 R 5 0 R 6 0 R 7 0 R 8 0 R "]),
                (rb"/AP\s*<<", [b"/AP << /N 1 0 R /D 2 0 R /Foo <<", b"/XX <<"]),
                (rb"/Opt\s*\[", [b"/Opt [[1 2 3] [(a)] 5 (b) [ ", b"/Opt 3 0 R /Foo ["])]
        k, vals = rng.choice(keys)
        ms = list(re.finditer(k, d))
        if ms:
            m = rng.choice(ms)
            return d[:m.start()] + rng.choice(vals) + d[m.end():], "form"
    imgs = image_dicts(d)
    reg = dict_around(d, rng.choice(imgs)) if imgs and rng.random() < 0.8 else None
    if kind == 0:
        return d[:rng.randrange(len(d))], "trunc"
    if kind in (1, 2, 3):
        ss = streams(d)
        if not ss: return None, ""
        s, e = rng.choice(ss)
        if e - s < 2: return None, ""
        b = bytearray(d)
        for _ in range(rng.choice([1, 2, 4, 16, 64])):
            i = rng.randrange(s, e)
            b[i] = rng.randrange(256) if kind != 3 else b[i] ^ (1 << rng.randrange(8))
        return bytes(b), "flip"
    if kind == 4: return sub_key(d, b"Width", HUGE, reg), "width"
    if kind == 5: return sub_key(d, b"Height", HUGE, reg), "height"
    if kind == 6: return sub_key(d, b"BitsPerComponent", [b"0", b"3", b"5", b"7", b"16", b"32", b"-8", b"255"], reg), "bpc"
    if kind == 7: return sub_key(d, b"Length", HUGE + [b"10", b"100"]), "length"
    if kind == 8:
        if not reg: return None, ""
        arr = b"[" + b" ".join(rng.choice([b"0", b"1", b"1e30", b"-1e30", b"2"]) for _ in range(rng.choice([0, 1, 3, 100, 5000]))) + b"]"
        s, e = reg
        if re.search(rb"/Decode\s*\[", d[s:e]):
            return d[:s] + re.sub(rb"/Decode\s*\[[^\]]*\]", b"/Decode " + arr, d[s:e], count=1) + d[e:], "decode"
        return d[:s + 2] + b" /Decode " + arr + b" " + d[s + 2:], "decode"
    if kind == 9:
        if not reg: return None, ""
        s, e = reg
        cs = rng.choice([b"[/Indexed /DeviceRGB 255 <00ff00>]", b"[/Indexed /DeviceRGB 4000 <>]", b"[/Indexed /DeviceCMYK 255 (ab)]",
                         b"[/Indexed /DeviceGray -5 <00>]", b"[/Indexed [/Indexed /DeviceRGB 1 <00>] 3 <00>]", b"[/ICCBased 999 0 R]",
                         b"[/DeviceN [/A /B /C /D /E /F /G /H /I /J /K /L /M /N /O /P /Q /R /S /T /U /V /W /X /Y /Z /AA /BB /CC /DD /EE /FF /GG] /DeviceRGB 1 0 R]",
                         b"[/Lab << /WhitePoint [0 0 0] /Range [0 0 0 0] >>]", b"[/CalRGB << /Gamma [0 0 0] /Matrix [1e30 0 0 0 0 0 0 0 0] >>]",
                         b"/Pattern", b"[/Separation /X /DeviceRGB << /FunctionType 4 /Domain [0 1] /Range [0 1 0 1 0 1] /Length 3 >>]"])
        seg = d[s:e]
        if re.search(rb"/ColorSpace\s*(\[[^\]]*\]|/\w+|\d+ \d+ R)", seg):
            seg = re.sub(rb"/ColorSpace\s*(\[[^\]]*\]|/\w+|\d+ \d+ R)", b"/ColorSpace " + cs, seg, count=1)
        else:
            seg = seg[:2] + b" /ColorSpace " + cs + seg[2:]
        return d[:s] + seg + d[e:], "indexed"
    if kind == 10:
        if not reg: return None, ""
        s, e = reg
        f = rng.choice([b"/JBIG2Decode", b"/CCITTFaxDecode /DecodeParms << /Columns %d /K %d /EncodedByteAlign true >>" % (rng.choice([0, -1, 1, 70000, 2**31 - 1, 2**40]), rng.choice([-1, 0, 1, 100])),
                        b"/JPXDecode", b"/DCTDecode", b"[/FlateDecode /DCTDecode]", b"/RunLengthDecode", b"/LZWDecode /DecodeParms << /Predictor 15 /Colors 200 /Columns 99999999 >>",
                        b"/FlateDecode /DecodeParms << /Predictor 2 /BitsPerComponent 16 /Colors 60 /Columns 1000000 >>", b"[/ASCIIHexDecode /ASCII85Decode /JBIG2Decode]",
                        b"/JBIG2Decode /DecodeParms << /JBIG2Globals 9999 0 R >>"])
        seg = re.sub(rb"/Filter\s*(\[[^\]]*\]|/\w+)", b"/Filter " + f, d[s:e], count=1)
        seg = re.sub(rb"/DecodeParms\s*<<[^>]*>>", b"", seg, count=1) if b"DecodeParms <<" in f else seg
        return d[:s] + seg + d[e:], "filter"
    if kind == 11:
        if not reg: return None, ""
        s, e = reg
        extra = rng.choice([b"/ImageMask true", b"/SMask 1 0 R", b"/Mask [0 255 0 255 0 255 0 255 0 255]", b"/Mask 3 0 R", b"/SMaskInData 1",
                            b"/Interpolate true /Intent /Foo", b"/Matte [1 2 3 4 5 6 7 8]", b"/Alternates [1 0 R]", b"/Mask [1e30 -1e30]"])
        return d[:s + 2] + b" " + extra + b" " + d[s + 2:], "extra"
    if kind == 12:
        # content stream operators with hostile operands
        ss = streams(d)
        if not ss: return None, ""
        s, e = rng.choice(ss)
        ins = rng.choice([b" 1e30 0 0 1e30 0 0 cm ", b" 0 0 0 0 0 0 cm /Im1 Do ", b" q q q q q q q q q q q q q q q q ", b" 99999 Tz 1e20 TL 3 Tr 7 Tr ",
                          b" 1 0 0 1 0 0 cm 1e38 1e38 m 1e38 -1e38 l -1e38 0 l f ", b" [1e-30 1e-30] 0 d 1e30 w 0 0 m 100 100 l S ",
                          b" /Fm1 Do /Fm1 Do ", b" BI /W 100000 /H 100000 /BPC 8 /CS /RGB ID \x00\x01 EI ", b" BI /W 2 /H 2 /IM true /F /CCF /DP << /Columns -3 >> ID ab EI ",
                          b" 0 0 1e-40 1e-40 re W n ", b" /Sh1 sh ", b" 1 J 2 j 0.0 M ", b" 7 Tr (abc) Tj 3 Tr [(a) -1e30 (b)] TJ "])
        i = rng.randrange(s, e + 1)
        return d[:i] + ins + d[i:], "content"
    # duplicate a random chunk (object-number confusion)
    a = rng.randrange(len(d)); l = rng.randrange(1, 2000)
    return d[:a] + d[a:a + l] * rng.choice([2, 3]) + d[a:], "dup"
n = 0
while n < count:
    src = rng.choice(files)
    d = open(src, "rb").read()
    for _ in range(rng.choice([1, 1, 1, 2, 3])):
        r, kind = mutate(d)
        if r is None: break
        d = r
    if r is None: continue
    name = "%05d-%s-%s.pdf" % (n, kind, os.path.basename(src)[:-4])
    open(os.path.join(outdir, name), "wb").write(d)
    n += 1
