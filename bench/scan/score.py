#!/usr/bin/python3
"""Decodes every symbol of every printed label and writes the benchmark's results.

    score.py OUTDIR [--jobs N] [--seconds S]

Reads OUTDIR/pages/layout.json, the drawn labels OUTDIR/labels/SOURCE/MODE-N.png
and the captured rasters OUTDIR/raster/SOURCE.raster; writes OUTDIR/raw.tsv
(one line per symbol, source, mode and print model) and OUTDIR/table.md.

Each symbol is cut from the label by its box and quiet zone, enlarged (each
printer dot a square of 3 x 3, 2 x 2 or 1 pixel, as a scanner sees the print
from several distances) and decoded by zxing-cpp, and by zbar where zbar
reads the symbology (QR, Code 128, EAN-13). It counts when the decoded text
is the payload at any of these enlargements: the readers' detectors are
sensitive to the scale of a code, and a person scanning a label tries a few
distances. The second print model spreads every ink dot by a quarter dot
(scanlib.dot_gain).
"""
import argparse
import json
import multiprocessing
import os
import sys
import time
from collections import defaultdict
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

import numpy as np
from PIL import Image

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, str(Path(__file__).resolve().parent))
import scanlib  # noqa: E402

LOOKS = (3, 2, 1)  # enlargements tried, each printer dot this many pixels square
PAD = 12  # white dots around the crop, for crops clipped by the page edge
ZXING_FORMAT = {"QR": "QRCode", "DataMatrix": "DataMatrix", "PDF417": "PDF417",
                "Aztec": "Aztec", "Code128": "Code128", "EAN13": "EAN13"}
LINEAR = ("Code128", "EAN13")
ZBAR_READS = {"QR": "QRCODE", "Code128": "CODE128", "EAN13": "EAN13"}
SYMBOLOGIES = list(ZXING_FORMAT)
MODULE_GROUPS = [("1.5-1.8", 0, 2), ("2-2.7", 2, 3), ("3-3.3", 3, 4), ("4-5", 4, 99)]
MODELS = ("printed", "gain")
SOURCE_NAMES = {
    "queue": "queue (cupsfilter, PPD chain)",
    "poppler": "Poppler (pdftoraster)",
    "ideal": "exact coverage (makeraster)",
    "reference": "reference (edges on the nearest dot edge, no filter)",
}


def _zxing_reads(img, sym, expect, **kw):
    import zxingcpp
    fmt = zxingcpp.barcode_format_from_str(ZXING_FORMAT[sym])
    if sym in LINEAR:
        # One read: read_barcodes() merges the reads of several scan lines and
        # zxing-cpp 1.4 may abort there (Result::operator== asserts).
        found = zxingcpp.read_barcode(img, formats=fmt, **kw)
        return found is not None and found.text == expect
    return any(r.text == expect for r in zxingcpp.read_barcodes(img, formats=fmt, **kw))


def _in_child(fn):
    """fn() in a forked child: its truth value, or None when the child died."""
    rd, wr = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(rd)
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 2)  # the reader's own abort message
        try:
            os.write(wr, b"1" if fn() else b"0")
        finally:
            os._exit(0)
    os.close(wr)
    with os.fdopen(rd, "rb") as f:
        answer = f.read(1)
    os.waitpid(pid, 0)
    return {b"1": True, b"0": False}.get(answer)


def decode_zxing(img, s):
    """(decoded, aborts). A linear code is read turned upright, as a scanner
    aimed along it reads it, and in a forked child: zxing-cpp 1.4 can abort on
    an assertion while reading one, which would take the whole run down."""
    sym, expect = s["sym"], s["expect"]
    if sym not in LINEAR:
        return _zxing_reads(img, sym, expect, try_downscale=False), 0
    upright = np.ascontiguousarray(np.rot90(img)) if s["turn"] else img
    hit = _in_child(lambda: _zxing_reads(upright, sym, expect, try_rotate=False,
                                         try_downscale=False))
    return bool(hit), int(hit is None)


def decode_zbar(img, sym, expect):
    import zbar
    scanner = zbar.ImageScanner()
    scanner.parse_config("disable")
    scanner.parse_config(ZBAR_READS[sym].lower() + ".enable")
    h, w = img.shape
    image = zbar.Image(w, h, "Y800", img.tobytes())
    scanner.scan(image)
    return any(str(s.type) == ZBAR_READS[sym] and s.data == expect for s in image.symbols)


def prepare(ink_share, enlarge):
    """Ink share (0..1) of each dot to a white-based grey picture a reader takes."""
    grey = np.rint(255 * (1.0 - ink_share)).astype(np.uint8)
    grey = np.pad(grey, PAD, constant_values=255)
    return np.ascontiguousarray(np.kron(grey, np.ones((enlarge, enlarge), np.uint8)))


def score_page(task):
    source, mode, page, path, symbols = task
    if path is None:  # the reference: every edge on the nearest dot edge
        ink = None
    else:
        drawn = np.asarray(Image.open(path).convert("L"))
        ink = np.zeros((scanlib.PAGE_H, scanlib.PAGE_W), bool)
        h = min(drawn.shape[0], scanlib.PAGE_H)
        w = min(drawn.shape[1], scanlib.PAGE_W)
        ink[:h, :w] = drawn[:h, :w] < 128
    rows = []
    for s in symbols:
        x0, y0, x1, y1 = scanlib.crop_box(s)
        if ink is None:
            crop = scanlib.centre_cut(s["rects"], x0, y0, x1, y1)
        else:
            crop = ink[y0:y1, x0:x1]
        area = scanlib.ink_area(s["rects"])
        for model in MODELS:
            share = scanlib.dot_gain(crop) if model == "gain" else crop.astype(np.float64)
            zx, zb, aborts = False, False, 0
            for enlarge in LOOKS:
                img = prepare(share, enlarge)
                if not zx:
                    zx, n = decode_zxing(img, s)
                    aborts += n
                if not zb and s["sym"] in ZBAR_READS:
                    zb = decode_zbar(img, s["sym"], s["expect"])
            if s["sym"] not in ZBAR_READS:
                zb = None
            rows.append(dict(id=s["id"], page=page, sym=s["sym"], module=s["module"],
                             turn=s["turn"], source=source, mode=mode, model=model,
                             zxing=int(zx), zbar="-" if zb is None else int(zb), aborts=aborts,
                             ink=share.sum() / area, area=area))
    return rows


def raster_check(path, symbols):
    """Grey and ink of the symbols in a raster as it reached the filter."""
    by_page = defaultdict(list)
    for s in symbols:
        by_page[s["page"]].append(s)
    n_px = n_grey = n_inked = 0
    ink_sum = ideal = 0.0
    bits = set()
    pages = 0
    for page, (hdr, ink) in enumerate(scanlib.read_raster(path), start=1):
        pages += 1
        bits.add(hdr["cupsBitsPerPixel"])
        for s in by_page.get(page, []):
            x0, y0, x1, y1 = scanlib.crop_box(s)
            box = ink[y0:y1, x0:x1]
            n_px += box.size
            n_grey += int(np.count_nonzero((box > 0) & (box < 255)))
            n_inked += int(np.count_nonzero(box))
            ink_sum += float(box.sum()) / 255.0
            ideal += scanlib.ink_area(s["rects"])
    return dict(pages=pages, bits="/".join(map(str, sorted(bits))),
                grey=n_grey / max(n_px, 1), grey_inked=n_grey / max(n_inked, 1),
                ink=ink_sum / ideal if ideal else float("nan"))


def pct(hits, n):
    return f"{100.0 * hits / n:.1f}" if n else "-"


class Rates:
    """Decode counts keyed by any tuple; rate(key) as a percentage string."""

    def __init__(self):
        self.hits = defaultdict(int)
        self.n = defaultdict(int)

    def add(self, key, hit):
        self.hits[key] += hit
        self.n[key] += 1

    def rate(self, key):
        return pct(self.hits[key], self.n[key])

    def value(self, key):
        return 100.0 * self.hits[key] / self.n[key] if self.n[key] else float("nan")


def group_of(module):
    return next(name for name, lo, hi in MODULE_GROUPS if lo <= module < hi)


def write_tables(out, rows, sources, modes, checks, meta):
    zx, zb, zx_sub, ink = Rates(), Rates(), Rates(), defaultdict(list)
    for r in rows:
        big = "ge2" if r["module"] >= 2 else "lt2"
        base = (r["source"], r["mode"], r["model"])
        sym, grp = "sym:" + r["sym"], "grp:" + group_of(r["module"])
        for part in ("all", big, sym, grp, f"{sym}/{grp}"):
            zx.add(base + (part,), r["zxing"])
        if r["zbar"] != "-":
            zb.add(base, r["zbar"])
            zx_sub.add(base, r["zxing"])
        ink[base].append((r["ink"] * r["area"], r["area"]))

    def mode_cols(source):
        return modes if source != "reference" else ["-"]

    L = ["# Scannability of codes on labels\n",
         f"{meta['symbols']} symbols ({', '.join(SYMBOLOGIES)}) on {meta['pages']} pages of "
         f"4 x 6 in at 203 dpi, modules {meta['modules']} dots, upright and turned 90 degrees, "
         f"seed {meta['seed']}; {meta['when']}, {meta['seconds']:.0f} s on {meta['cores']} cores. "
         f"Decoded by zxing-cpp (headline) and zbar; a symbol counts only when the payload "
         f"matches. \"printed\": the label as drawn by readlabel; \"gain\": the same with every "
         f"ink dot spread by a quarter dot.\n",
         "Sources: " + "; ".join(f"**{s}** = {SOURCE_NAMES[s]}" for s in sources) + ".\n"]

    real = [s for s in sources if s != "reference"]

    def headline(title, part):
        L.append(f"## {title}\n")
        L.append("| source | print | " + " | ".join(modes) + " |")
        L.append("|---|---|" + "---:|" * len(modes))
        for src in real:
            for model in MODELS:
                cells = [zx.rate((src, m, model, part)) for m in modes]
                L.append(f"| {src} | {model} | " + " | ".join(cells) + " |")
        L.append(f"\nReference, {SOURCE_NAMES['reference']}: "
                 f"{zx.rate(('reference', '-', 'printed', part))} printed, "
                 f"{zx.rate(('reference', '-', 'gain', part))} with gain.\n")

    headline("Decode rate, all symbols (%)", "all")
    headline("Decode rate, modules of 2 dots or more (%)", "ge2")

    L.append("## Targets on a default queue\n")
    L.append("Targets: all symbols >= 90 %, modules >= 2 dots >= 95 % as printed and >= 75 % "
             "with dot gain. Column \"default\" is the PPD's defaults.\n")
    L.append("| source | all, printed | >= 2, printed | >= 2, gain | met |")
    L.append("|---|---:|---:|---:|---|")
    for src in sources:
        if src == "reference" or "default" not in modes:
            continue
        a = zx.value((src, "default", "printed", "all"))
        b = zx.value((src, "default", "printed", "ge2"))
        c = zx.value((src, "default", "gain", "ge2"))
        met = "yes" if a >= 90 and b >= 95 and c >= 75 else "no"
        L.append(f"| {src} | {a:.1f} | {b:.1f} | {c:.1f} | {met} |")
    L.append("")

    L.append("## Modes across the sources\n")
    L.append("Mean and worst over the sources " + ", ".join(real) + ".\n")
    L.append("| mode | all, printed: mean / worst | all, gain: mean / worst "
             "| >= 2, printed: mean / worst | >= 2, gain: mean / worst |")
    L.append("|---|---:|---:|---:|---:|")
    for m in modes:
        cells = []
        for model, part in (("printed", "all"), ("gain", "all"), ("printed", "ge2"),
                            ("gain", "ge2")):
            v = [zx.value((s, m, model, part)) for s in real]
            cells.append(f"{np.mean(v):.1f} / {min(v):.1f}")
        L.append(f"| {m} | " + " | ".join(cells) + " |")
    L.append("")

    for src in sources:
        cols = mode_cols(src)
        L.append(f"## {SOURCE_NAMES[src]}: by symbology and module size (printed / gain, %)\n")
        L.append("| symbols | " + " | ".join(cols) + " |")
        L.append("|---|" + "---:|" * len(cols))
        parts = [("sym:" + s, s) for s in SYMBOLOGIES]
        parts += [("grp:" + g, f"modules {g}") for g, _, _ in MODULE_GROUPS]
        for part, label in parts:
            cells = [f"{zx.rate((src, m, 'printed', part))} / {zx.rate((src, m, 'gain', part))}"
                     for m in cols]
            L.append(f"| {label} | " + " | ".join(cells) + " |")
        L.append("")

    crossed = "default" if "default" in modes else modes[0]
    L.append(f"## By symbology and module size, mode {crossed} (printed / gain, %)\n")
    L.append("| symbols | modules | " + " | ".join(sources) + " |")
    L.append("|---|---|" + "---:|" * len(sources))
    for sym in SYMBOLOGIES:
        for g, lo, hi in MODULE_GROUPS:
            key = f"sym:{sym}/grp:{g}"
            cells = []
            for src in sources:
                m = "-" if src == "reference" else crossed
                cells.append(f"{zx.rate((src, m, 'printed', key))} / "
                             f"{zx.rate((src, m, 'gain', key))}")
            L.append(f"| {sym} | {g} | " + " | ".join(cells) + " |")
    L.append("")

    L.append("## Second opinion: zbar on QR, Code 128 and EAN-13 (zbar / zxing-cpp, %)\n")
    def by_source_and_model(cell):
        L.append("| source | print | " + " | ".join(modes) + " |")
        L.append("|---|---|" + "---:|" * len(modes))
        for src in real:
            for model in MODELS:
                L.append(f"| {src} | {model} | " +
                         " | ".join(cell((src, m, model)) for m in modes) + " |")

    by_source_and_model(lambda key: f"{zb.rate(key)} / {zx_sub.rate(key)}")
    L.append("\nReference: " + ", ".join(
        f"{zb.rate(('reference', '-', model))} / {zx_sub.rate(('reference', '-', model))} {model}"
        for model in MODELS) + ".\n")

    L.append("## Ink of the printed symbols against the ideal drawing\n")
    L.append("Dark area printed / ideal dark area, over all symbols.\n")

    def ratio(key):
        return sum(a for a, _ in ink[key]) / sum(b for _, b in ink[key])

    by_source_and_model(lambda key: f"{ratio(key):.2f}")
    L.append("\nReference: " + ", ".join(
        f"{ratio(('reference', '-', model)):.2f} {model}" for model in MODELS) + ".\n")

    L.append("## Raster delivered to the filter\n")
    L.append("Over the symbols' boxes with their quiet zones. grey: pixels of 1..254 among all "
             "pixels and among inked ones; ink: dark area delivered / ideal dark area.\n")
    L.append("| source | pages | bits | grey of all | grey of inked | ink |")
    L.append("|---|---:|---|---:|---:|---:|")
    for src, c in checks.items():
        if c is None:
            L.append(f"| {src} | - | - | - | - | - (no raster reached the filter) |")
        else:
            L.append(f"| {src} | {c['pages']} | {c['bits']} | {100 * c['grey']:.1f} % | "
                     f"{100 * c['grey_inked']:.1f} % | {c['ink']:.3f} |")
    L.append("")
    (out / "table.md").write_text("\n".join(L))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out", type=Path)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--seconds", type=float, default=0.0, help="time the run took so far")
    ap.add_argument("--seed", default="?")
    args = ap.parse_args()
    start = time.time()
    layout = json.loads((args.out / "pages" / "layout.json").read_text())
    symbols = layout["symbols"]
    by_page = defaultdict(list)
    for s in symbols:
        by_page[s["page"]].append(s)

    runs = json.loads((args.out / "runs.json").read_text())
    sources = list(dict.fromkeys(r["source"] for r in runs)) + ["reference"]
    modes = list(dict.fromkeys(r["mode"] for r in runs))
    tasks = []
    for r in runs:
        for page in by_page:
            png = args.out / "labels" / r["source"] / f"{r['mode']}-{page}.png"
            if not png.exists():
                raise SystemExit(f"score: {png} missing (the job printed fewer pages)")
            tasks.append((r["source"], r["mode"], page, str(png), by_page[page]))
    tasks += [("reference", "-", page, None, syms) for page, syms in by_page.items()]

    # A worker that dies (a reader's abort) stops the run instead of hanging it.
    with ProcessPoolExecutor(args.jobs) as pool:
        rows = [row for page_rows in pool.map(score_page, tasks, chunksize=2)
                for row in page_rows]

    checks = {}
    for src in sources[:-1]:
        path = args.out / "raster" / f"{src}.raster"
        checks[src] = raster_check(path, symbols) if path.exists() else None

    cols = ["id", "page", "sym", "module", "turn", "source", "mode", "model", "zxing", "zbar",
            "ink", "aborts"]
    with open(args.out / "raw.tsv", "w") as f:
        f.write("\t".join(cols + ["payload"]) + "\n")
        data = {s["id"]: s["expect"] for s in symbols}
        for r in rows:
            vals = [f"{r[c]:.3f}" if c == "ink" else str(r[c]) for c in cols]
            f.write("\t".join(vals + [data[r["id"]]]) + "\n")

    modules = sorted({s["module"] for s in symbols})
    meta = dict(symbols=len(symbols), pages=layout["pages"], seed=args.seed,
                modules=", ".join(f"{m:g}" for m in modules),
                when=time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
                seconds=args.seconds + time.time() - start, cores=multiprocessing.cpu_count())
    write_tables(args.out, rows, sources, modes, checks, meta)


if __name__ == "__main__":
    main()
