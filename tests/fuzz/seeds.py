#!/usr/bin/env python3
"""Seed corpora for the fuzz targets, taken from the PDFs of a corpus folder.

  seeds.py OUT_DIR [CORPUS_DIR (../shared/corpus)] [PAPERWRIGHT]

Writes OUT_DIR/<target>/ for fuzz_load and fuzz_reader (small whole files),
fuzz_content (page content streams), fuzz_cmap (ToUnicode and embedded CMap
streams), fuzz_fonts (embedded font programs behind the byte that tells the
target what kind of font they are), fuzz_images (CCITT, JPEG 2000 and JBIG2
data, and image dictionaries with their data) and, when a paperwright
executable is given, fuzz_emf (each page's recording without its header and
end record). Streams come decoded from qpdf's JSON output. Exits 0 without
writing anything when the corpus folder is absent."""
import hashlib, json, os, re, subprocess, sys, tempfile

out = sys.argv[1]
corpus = sys.argv[2] if len(sys.argv) > 2 else "../shared/corpus"
exe = sys.argv[3] if len(sys.argv) > 3 else None
if not os.path.isdir(corpus):
    print(f"seeds.py: no corpus at {corpus}, nothing written")
    sys.exit(0)

LIMIT = {"fuzz_load": 300_000, "fuzz_reader": 64_000, "fuzz_content": 64_000, "fuzz_cmap": 64_000,
         "fuzz_fonts": 200_000, "fuzz_images": 200_000, "fuzz_emf": 64_000}

def put(target, data):
    if not data or len(data) > LIMIT[target]:
        return
    d = os.path.join(out, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, hashlib.sha1(data).hexdigest()[:16]), "wb") as f:
        f.write(data)

passwords = {}
for man in (os.path.join(corpus, "MANIFEST.tsv"), os.path.join(corpus, "pdfbox", "MANIFEST.tsv")):
    if os.path.exists(man):
        for line in open(man, errors="replace"):
            f = line.rstrip("\n").split("\t")
            if len(f) > 3 and f[3]:
                passwords[f[0]] = f[3]

def password(path):
    b = os.path.basename(path)
    if "user-view" in b: return "view"
    if "user-baz" in b: return "baz"
    if b == "writer-password.pdf": return "openpassword"
    return passwords.get(b, "")

def ref(v):
    return v if isinstance(v, str) and re.fullmatch(r"\d+ \d+ R", v) else None

# The first byte of a fuzz_fonts input: the kind of font around the program.
def font_kind(key, stream_subtype, composite):
    if key == "/FontFile2": return 4 if composite else 0
    if key == "/FontFile": return 1
    if stream_subtype == "/OpenType": return 6 if composite else 3
    return 5 if composite else 2

def pdf_dict_text(d):
    def val(v):
        if isinstance(v, dict): return "<< " + " ".join(k + " " + val(x) for k, x in v.items()) + " >>"
        if isinstance(v, list): return "[" + " ".join(val(x) for x in v) + "]"
        if isinstance(v, bool): return "true" if v else "false"
        if v is None: return "null"
        if isinstance(v, str):
            if v.startswith("u:"): return "(" + v[2:].replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)") + ")"
            if v.startswith("b:"): return "<" + v[2:] + ">"
            return v
        return str(v)
    return " ".join(k + " " + val(x) for k, x in d.items())

pdfs = []
for root, _, files in os.walk(corpus):
    pdfs += [os.path.join(root, f) for f in sorted(files) if f.lower().endswith(".pdf")]

with tempfile.TemporaryDirectory() as tmp:
    for n, path in enumerate(pdfs):
        raw = open(path, "rb").read()
        put("fuzz_load", raw)
        put("fuzz_reader", raw[:LIMIT["fuzz_reader"]])
        prefix = os.path.join(tmp, f"{n}-s")
        cmd = ["qpdf", "--json", "--json-stream-data=file", "--json-stream-prefix=" + prefix, path]
        if password(path): cmd.insert(1, "--password=" + password(path))
        r = subprocess.run(cmd, capture_output=True)
        try:
            objs = json.loads(r.stdout)["qpdf"][1]
        except (ValueError, KeyError, IndexError):
            continue
        def stream(r):
            o = objs.get("obj:" + r) if r else None
            return o["stream"] if o and "stream" in o else None
        def data(s):
            p = s.get("datafile")
            return open(p, "rb").read() if p and os.path.exists(p) else b""
        def value(v):
            r = ref(v)
            if r:
                o = objs.get("obj:" + r, {})
                return o.get("value", o.get("stream", {}).get("dict"))
            return v
        for key, o in objs.items():
            d = o.get("value") if "value" in o else o.get("stream", {}).get("dict")
            if not isinstance(d, dict):
                continue
            if d.get("/Type") == "/Page":
                cs = d.get("/Contents")
                for c in (cs if isinstance(cs, list) else [cs]):
                    if stream(ref(c)): put("fuzz_content", data(stream(ref(c))))
            if d.get("/Type") == "/Font" or "/BaseFont" in d:
                if stream(ref(d.get("/ToUnicode"))): put("fuzz_cmap", data(stream(ref(d.get("/ToUnicode")))))
                if stream(ref(d.get("/Encoding"))): put("fuzz_cmap", data(stream(ref(d.get("/Encoding")))))
                composite = d.get("/Subtype") == "/Type0"
                fonts = [d]
                if composite:
                    kids = value(d.get("/DescendantFonts"))
                    fonts = [value(k) for k in kids] if isinstance(kids, list) else []
                for f in fonts:
                    desc = value(f.get("/FontDescriptor")) if isinstance(f, dict) else None
                    if not isinstance(desc, dict):
                        continue
                    for fk in ("/FontFile", "/FontFile2", "/FontFile3"):
                        s = stream(ref(desc.get(fk)))
                        if s:
                            kind = font_kind(fk, s.get("dict", {}).get("/Subtype"), composite)
                            put("fuzz_fonts", bytes([kind]) + data(s))
            if d.get("/Subtype") == "/Image" and "stream" in o:
                s = o["stream"]
                filt = d.get("/Filter")
                filt = filt[-1] if isinstance(filt, list) and filt else filt
                body = data(s)
                if filt == "/CCITTFaxDecode":
                    put("fuzz_images", b"\x00\x10" + body)
                elif filt == "/JPXDecode":
                    put("fuzz_images", b"\x01\x00" + body)
                elif filt == "/JBIG2Decode":
                    put("fuzz_images", b"\x02\x00" + body)
                entries = {k: v for k, v in d.items() if k not in ("/Type", "/Subtype", "/Length", "/SMask", "/Mask")}
                text = pdf_dict_text(entries).encode("latin-1", "replace")
                if b"\n" not in text and len(text) <= 256 and all(ref(v) is None for v in entries.values()):
                    put("fuzz_images", b"\x03\x00" + text + b"\n" + body)
        if exe:
            emfdir = os.path.join(tmp, f"{n}-emf")
            cmd = [exe, "--dump-emf", emfdir, path]
            if password(path): cmd += ["--password", password(path)]
            subprocess.run(cmd, capture_output=True, timeout=300)
            for f in sorted(os.listdir(emfdir)) if os.path.isdir(emfdir) else []:
                emf = open(os.path.join(emfdir, f), "rb").read()
                if len(emf) < 8:
                    continue
                head = int.from_bytes(emf[4:8], "little")
                put("fuzz_emf", emf[head:-20])

for t in sorted(LIMIT):
    d = os.path.join(out, t)
    print(t, len(os.listdir(d)) if os.path.isdir(d) else 0)
