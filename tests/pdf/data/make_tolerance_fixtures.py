#!/usr/bin/env python3
"""Writes the small damaged or oddly protected files the reader must still open.

Each file has one page whose content stream shows a known text. Run from any
directory; the files are written next to this script.
"""
import hashlib
import os

HERE = os.path.dirname(os.path.abspath(__file__))
PAD = bytes([0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
             0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A])
FILE_ID = bytes(range(16))


def rc4(key, data):
    s = list(range(256))
    j = 0
    for i in range(256):
        j = (j + s[i] + key[i % len(key)]) & 255
        s[i], s[j] = s[j], s[i]
    out = bytearray()
    i = j = 0
    for b in data:
        i = (i + 1) & 255
        j = (j + s[i]) & 255
        s[i], s[j] = s[j], s[i]
        out.append(b ^ s[(s[i] + s[j]) & 255])
    return bytes(out)


def pad(pw):
    return (pw + PAD)[:32]


def owner_entry(owner, user, rev, n):
    d = hashlib.md5(pad(owner)).digest()
    if rev >= 3:
        for _ in range(50):
            d = hashlib.md5(d).digest()
    key = d[:n]
    o = rc4(key, pad(user))
    if rev >= 3:
        for i in range(1, 20):
            o = rc4(bytes(k ^ i for k in key), o)
    return o


def file_key(user, o, p, rev, n, metadata_flag=False):
    m = hashlib.md5(pad(user) + o + (p & 0xFFFFFFFF).to_bytes(4, "little") + FILE_ID
                    + (b"\xff\xff\xff\xff" if metadata_flag else b""))
    d = m.digest()
    if rev >= 3:
        for _ in range(50):
            d = hashlib.md5(d[:n]).digest()
    return d[:n]


def user_entry(key, rev):
    if rev == 2:
        return rc4(key, PAD)
    u = rc4(key, hashlib.md5(PAD + FILE_ID).digest())
    for i in range(1, 20):
        u = rc4(bytes(k ^ i for k in key), u)
    return u + bytes(16)


def hexs(b):
    return b"<" + b.hex().upper().encode() + b">"


class Writer:
    def __init__(self):
        self.out = bytearray(b"%PDF-1.6\n%\xe2\xe3\xcf\xd3\n")
        self.offsets = {}

    def obj(self, num, body):
        self.offsets[num] = len(self.out)
        self.out += b"%d 0 obj\n" % num + body + b"\nendobj\n"

    def stream(self, num, dict_entries, data, end=b"\nendstream"):
        self.obj(num, b"<< " + dict_entries + b" /Length %d >>\nstream\n" % len(data) + data + end)

    def table(self, trailer, entry=lambda off: b"%010d 00000 n \n" % off):
        at = len(self.out)
        top = max(self.offsets)
        self.out += b"xref\n0 %d\n0000000000 65535 f \n" % (top + 1)
        for n in range(1, top + 1):
            self.out += entry(self.offsets[n]) if n in self.offsets else b"0000000000 65535 f \n"
        self.out += b"trailer\n<< /Size %d " % (top + 1) + trailer + b" >>\nstartxref\n%d\n%%%%EOF\n" % at

    def save(self, name):
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(self.out)


def page_objects(w, content, page_extra=b"", encrypt=None):
    """Catalog 1, pages 2, page 3, content 4, font 5."""
    w.obj(1, b"<< /Type /Catalog /Pages 2 0 R >>")
    w.obj(2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
    w.obj(3, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] " + page_extra +
          b" /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>")
    data = content if encrypt is None else encrypt(4, content)
    w.stream(4, b"", data)
    w.obj(5, b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")


def text(s):
    return b"BT /F1 12 Tf 20 100 Td (" + s + b") Tj ET"


def rc4_file(name, rev, n, v, length_entry, extra=b"", metadata_flag=False):
    """Empty user password, owner password 'owner'; the strings and streams
    are encrypted with an n-byte key made by the rev algorithm."""
    p = -3904
    o = owner_entry(b"owner", b"", rev, n)
    key = file_key(b"", o, p, rev, n, metadata_flag)
    u = user_entry(key, rev)

    def enc(num, data):
        k = hashlib.md5(key + num.to_bytes(3, "little") + b"\0\0").digest()[:min(n + 5, 16)]
        return rc4(k, data)

    w = Writer()
    page_objects(w, text(b"Empty user password"), encrypt=enc)
    w.obj(6, b"<< /Filter /Standard /V %d /R %d " % (v, rev) + length_entry + b" /O " + hexs(o) + b" /U " +
          hexs(u) + b" /P %d " % p + extra + b" >>")
    w.table(b"/Root 1 0 R /Encrypt 6 0 R /ID [" + hexs(FILE_ID) + hexs(FILE_ID) + b"]")
    w.save(name)


def attachment_only_file(name):
    """Only embedded files are encrypted (/EFF); strings and page streams are
    stored in clear. The user password is not empty."""
    p = -3904
    o = owner_entry(b"owner", b"attach", 4, 16)
    key = file_key(b"attach", o, p, 4, 16)
    u = user_entry(key, 4)
    w = Writer()
    page_objects(w, text(b"Only the attachment is protected"))
    w.obj(6, b"<< /Filter /Standard /V 4 /R 4 /Length 128 /CF << /StdCF << /CFM /AESV2 /AuthEvent /EFOpen "
          b"/Length 16 >> >> /StmF /Identity /StrF /Identity /EFF /StdCF /O " + hexs(o) + b" /U " + hexs(u) +
          b" /P %d >>" % p)
    w.table(b"/Root 1 0 R /Encrypt 6 0 R /ID [" + hexs(FILE_ID) + hexs(FILE_ID) + b"]")
    w.save(name)


def broken_key_file(name):
    """The page dictionary has a key without its slash and a number in a key's place."""
    w = Writer()
    page_objects(w, text(b"Broken dictionary key"), page_extra=b"Rotate 0 12 /CropBox [0 0 300 200]")
    w.table(b"/Root 1 0 R")
    w.save(name)


def missing_endstream_file(name):
    """The page's content stream ends at its /Length with "endobj", without
    "endstream"; no stream follows it."""
    w = Writer()
    w.obj(1, b"<< /Type /Catalog /Pages 2 0 R >>")
    w.obj(2, b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>")
    w.stream(4, b"", text(b"Missing endstream"), end=b"\n")
    w.obj(3, b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Resources << /Font << /F1 5 0 R >> >> "
          b"/Contents 4 0 R >>")
    w.obj(5, b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>")
    w.table(b"/Root 1 0 R")
    w.save(name)


def xref_without_generation_file(name):
    """Every in-use entry of the cross-reference table lacks its generation."""
    w = Writer()
    page_objects(w, text(b"Entry without generation"))
    w.table(b"/Root 1 0 R", entry=lambda off: b"%010d n\r\n" % off)
    w.save(name)


if __name__ == "__main__":
    attachment_only_file("tolerate-attachment-only-encrypted.pdf")
    # A crypt filter without /Length: the key length comes from the dictionary's /Length 40.
    rc4_file("tolerate-empty-user-v4-cf-40bit.pdf", rev=4, n=5, v=4,
             length_entry=b"/Length 40 /CF << /StdCF << /CFM /V2 >> >> /StmF /StdCF /StrF /StdCF")
    broken_key_file("tolerate-broken-dict-key.pdf")
    missing_endstream_file("tolerate-missing-endstream.pdf")
    xref_without_generation_file("tolerate-xref-entry-without-generation.pdf")
