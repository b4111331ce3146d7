#!/usr/bin/env python3
"""Convert PDFs with paperwright (best an ASan+UBSan build) in several modes and
log exit status, time, maximum RSS and sanitizer reports; a run that crashes,
times out, reports a sanitizer error or grows beyond 256 MiB is marked BAD and
its command and stderr kept in OUT_DIR.

  sweep.py PAPERWRIGHT OUT_DIR LIST_OF_PDFS LOG

CONFIGS="--layout exact;--page-as-picture" chooses the option sets, ONE=1 runs
one set per file (in turn), TMO the timeout in seconds (120), MANIFEST a
tab-separated file of names and passwords. ASan's quarantine is kept small so
that RSS measures the program, not the sanitizer."""
import os, re, subprocess, sys, time
exe, outdir, listfile, logfile = sys.argv[1:5]
configs = [a.split() for a in os.environ.get("CONFIGS", "").split(";") if a.strip()] or [
    ["--layout", "editing"], ["--layout", "exact"], ["--page-as-picture"],
    ["--image-format", "png"], ["--image-format", "bmp"], ["--image-format", "metafile"]]
pw = {}
man = os.environ.get("MANIFEST", "../shared/corpus/pdfbox/MANIFEST.tsv")
if os.path.exists(man):
    for line in open(man):
        f = line.rstrip("\n").split("\t")
        if len(f) > 3 and f[3]: pw[f[0]] = f[3]
def password(path):
    b = os.path.basename(path)
    if "user-view" in b: return "view"
    if "user-baz" in b: return "baz"
    if b == "writer-password.pdf": return "openpassword"
    return pw.get(b)
env = dict(os.environ, ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:allocator_may_return_null=0:quarantine_size_mb=16",
           UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=0")
log = open(logfile, "a")
files = [l.strip() for l in open(listfile) if l.strip()]
for i, path in enumerate(files):
    for cfg in ([configs[i % len(configs)]] if os.environ.get("ONE") == "1" else configs):
        out = os.path.join(outdir, "out.rtf")
        cmd = ["/usr/bin/time", "-v", "timeout", os.environ.get("TMO", "120"), exe, "--mode", "extended"] + cfg
        p = password(path)
        if p: cmd += ["--password", p]
        cmd += [path, out]
        t0 = time.time()
        r = subprocess.run(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, errors="replace")
        dt = time.time() - t0
        err = r.stderr
        m = re.search(r"Maximum resident set size \(kbytes\): (\d+)", err)
        rss = int(m.group(1)) // 1024 if m else -1
        san = ("ERROR: AddressSanitizer" in err or "runtime error:" in err or "LeakSanitizer" in err)
        bad = san or r.returncode not in (0, 2, 3) or rss > 256
        tag = "BAD" if bad else "ok"
        log.write(f"{tag}\t{r.returncode}\t{dt:.1f}s\t{rss}MiB\t{' '.join(cfg)}\t{path}\n"); log.flush()
        if bad:
            with open(os.path.join(outdir, "bad_%s_%d.txt" % (os.path.basename(path), configs.index(cfg))), "w") as f:
                f.write(" ".join(cmd) + "\n" + err[-20000:])
