#!/usr/bin/python3
"""Label pages of barcodes for the scannability benchmark.

    make_pages.py OUTDIR [--quick] [--seed N]

Writes to OUTDIR:
  pages.ps, pages.pdf  4 x 6 inch pages: address text at the top, several
                       symbols below it, drawn as filled rectangles
  layout.json          every symbol: symbology, module size, turn, payload,
                       page, box in printer dots and its rectangles
  ideal.raster         the same pages as 8-bit CUPS raster at 203 dpi with the
                       exact area each dot of a symbol covers (source "ideal")

Symbols come from zint's SVG output (one unit per module), so they can be
scaled to any module size without rounding. Positions and payloads are drawn
from a seeded generator: the same seed gives the same pages.
"""
import argparse
import json
import random
import re
import subprocess
import sys
from pathlib import Path

import numpy as np
from PIL import Image

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, str(Path(__file__).resolve().parent))
import scanlib  # noqa: E402

DPI = scanlib.DPI
PAGE_W, PAGE_H = scanlib.PAGE_W, scanlib.PAGE_H  # dots of a 4 x 6 inch page
TEXT_BAND = 200  # dots at the top kept for the address block
EDGE = 8  # dots kept free at the page's sides and bottom
GAP = 6  # dots between two symbols' quiet zones

MODULES = [1.5, 1.8, 2.0, 2.2, 2.5, 2.7, 3.0, 3.3, 4.0, 5.0]
QUICK_MODULES = [1.5, 2.0, 2.7, 4.0]

# zint's name, its quiet zone in modules on each side, and the payload.
# Payload lengths keep the widest symbol (Code 128 at 5 dots) on the page.
ALNUM = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
MIXED = ALNUM + "abcdefghijklmnopqrstuvwxyz-./ "
SYMBOLOGIES = {
    "QR": ("QRCODE", 4),
    "DataMatrix": ("DATAMATRIX", 2),
    "PDF417": ("PDF417", 2),
    "Aztec": ("AZTEC", 2),
    "Code128": ("CODE128", 10),
    "EAN13": ("EANX", 11),
}
BAR_HEIGHT = 110  # dots: linear codes keep one bar height at every module size

NAMES = ["Maria Keller", "Jonas Weber", "Aiko Tanaka", "Liam O'Brien", "Sofia Rossi",
         "Noah Fischer", "Emma Laurent", "Lukas Novak", "Olivia Brown", "Mateo Garcia"]
STREETS = ["Lindenstrasse", "Harbour Road", "Rue des Ecoles", "Main Street", "Via Roma",
           "Parkweg", "Mill Lane", "Bahnhofplatz", "Elm Avenue", "Quai Nord"]
CITIES = ["Hamburg", "Leeds", "Lyon", "Springfield", "Torino", "Utrecht", "Graz",
          "Basel", "Aarhus", "Gdansk"]


def payload(rng, sym):
    if sym == "EAN13":
        return "".join(rng.choice("0123456789") for _ in range(12))
    if sym == "Code128":
        return "".join(rng.choice(ALNUM) for _ in range(rng.randint(6, 8)))
    n = {"QR": (12, 40), "DataMatrix": (8, 30), "PDF417": (10, 30), "Aztec": (10, 30)}[sym]
    text = "".join(rng.choice(MIXED) for _ in range(rng.randint(*n)))
    return text.strip() or "X"  # zint and readers disagree on edge spaces


def ean13_text(digits):
    s = sum(int(d) * (3 if i % 2 else 1) for i, d in enumerate(digits))
    return digits + str((10 - s % 10) % 10)


RECT = re.compile(r'<rect x="([\d.]+)" y="([\d.]+)" width="([\d.]+)" height="([\d.]+)" />')


def zint_rects(sym, data, module):
    """Rectangles (x, y, w, h) in modules from zint's SVG, at the ink's origin."""
    name = SYMBOLOGIES[sym][0]
    cmd = ["zint", "-b", name, "-d", data, "--filetype=SVG", "--notext", "--direct", "--scale=0.5"]
    if sym == "DataMatrix":
        cmd.append("--square")
    if sym == "PDF417":
        cmd.append("--cols=3")
    if sym in ("Code128", "EAN13"):
        cmd.append(f"--height={BAR_HEIGHT / module:.3f}")
    svg = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    rects = [tuple(float(v) for v in m.groups()) for m in RECT.finditer(svg)]
    if not rects:
        raise RuntimeError(f"zint drew nothing for {sym} {data!r}")
    x0 = min(r[0] for r in rects)
    y0 = min(r[1] for r in rects)
    return [(x - x0, y - y0, w, h) for x, y, w, h in rects]


def make_symbols(rng, modules, repeats):
    symbols = []
    for sym in SYMBOLOGIES:
        for module in modules:
            for turn in (0, 90):
                for _ in range(repeats):
                    data = payload(rng, sym)
                    rects = zint_rects(sym, data, module)
                    w = max(x + rw for x, _, rw, _ in rects)
                    h = max(y + rh for _, y, _, rh in rects)
                    expect = ean13_text(data) if sym == "EAN13" else data
                    symbols.append(dict(sym=sym, module=module, turn=turn, data=data,
                                        expect=expect, rects_mod=rects, w_mod=w, h_mod=h))
    return symbols


def place(symbols, rng):
    """Shelf packing below the text band; sets page, box and rectangles in dots."""
    pending = list(symbols)
    rng.shuffle(pending)
    page = 0
    while pending:
        page += 1
        x, y, shelf_h = EDGE, TEXT_BAND, 0
        left = []
        for s in pending:
            m = s["module"]
            quiet = SYMBOLOGIES[s["sym"]][1] * m
            w, h = s["w_mod"] * m, s["h_mod"] * m
            if s["turn"]:
                w, h = h, w
            # Linear codes need their quiet zone only across the bars.
            qx, qy = quiet, quiet
            if s["sym"] in ("Code128", "EAN13"):
                if s["turn"]:
                    qx = 4 * m
                else:
                    qy = 4 * m
            cell_w = w + 2 * qx + 1 + GAP
            cell_h = h + 2 * qy + 1 + GAP
            if x + cell_w > PAGE_W - EDGE:
                x, y, shelf_h = EDGE, y + shelf_h, 0
            if x + cell_w > PAGE_W - EDGE or y + cell_h > PAGE_H - EDGE:
                left.append(s)
                continue
            # A random sub-dot offset: the symbol's edges fall anywhere in a dot.
            ox = x + qx + rng.random()
            oy = y + qy + rng.random()
            s.update(page=page, x=ox, y=oy, w=w, h=h, qx=qx, qy=qy)
            s["rects"] = [to_dots(r, s) for r in s.pop("rects_mod")]
            x += cell_w
            shelf_h = max(shelf_h, cell_h)
        if len(left) == len(pending):
            raise RuntimeError("a symbol does not fit on an empty page")
        pending = left
    return page


def to_dots(rect, s):
    """A rectangle in modules to (x, y, w, h) in page dots, turned 90 degrees clockwise."""
    m = s["module"]
    x, y, w, h = (v * m for v in rect)
    if s["turn"]:
        x, y, w, h = s["h_mod"] * m - (y + h), x, h, w
    return (s["x"] + x, s["y"] + y, w, h)


def address_ps(rng, page):
    pt = 72.0 / DPI
    name, street, city = rng.choice(NAMES), rng.choice(STREETS), rng.choice(CITIES)
    lines = [
        ("Helvetica", 7, 12, 26, "FROM: Example Goods Ltd, 4 Dock Road, Bristol BS1 6XX"),
        ("Helvetica-Bold", 9, 12, 52, "SHIP TO:"),
        ("Helvetica-Bold", 14, 12, 88, name.upper()),
        ("Helvetica", 11, 12, 120, f"{rng.randint(1, 220)} {street}"),
        ("Helvetica", 11, 12, 150, f"{rng.randint(10000, 99999)} {city}"),
        ("Helvetica", 8, 480, 52, f"Parcel {page}  {rng.randint(1, 30)}.{rng.randint(1, 12)}.2026"),
        ("Helvetica-Bold", 18, 560, 120, f"ZONE {rng.choice('ABCDEFGH')}{rng.randint(1, 9)}"),
    ]
    out = []
    for font, size, x, y, text in lines:
        text = text.replace("\\", "").replace("(", "").replace(")", "")
        out.append(f"/{font} findfont {size} scalefont setfont "
                   f"{x * pt:.3f} {(PAGE_H - y) * pt:.3f} moveto ({text}) show")
    # A rule under the address block.
    out.append(f"0 {(PAGE_H - TEXT_BAND + 16) * pt:.3f} moveto "
               f"288 {(PAGE_H - TEXT_BAND + 16) * pt:.3f} lineto 1.5 setlinewidth stroke")
    return "\n".join(out)


def write_ps(path, symbols, pages, rng):
    pt = 72.0 / DPI
    with open(path, "w") as f:
        f.write("%!PS-Adobe-3.0\n%%Pages: {}\n%%EndComments\n".format(pages))
        for page in range(1, pages + 1):
            f.write(f"%%Page: {page} {page}\n<< /PageSize [288 432] >> setpagedevice\n")
            f.write(address_ps(rng, page) + "\n")
            for s in (s for s in symbols if s["page"] == page):
                for x, y, w, h in s["rects"]:
                    f.write(f"{x * pt:.4f} {(PAGE_H - y - h) * pt:.4f} "
                            f"{w * pt:.4f} {h * pt:.4f} rectfill\n")
            f.write("showpage\n")
        f.write("%%EOF\n")


def write_ideal(out, symbols, pages, makeraster):
    """Ghostscript draws the text anti-aliased; every symbol box is then replaced
    by the symbol's exact coverage, so the codes are free of any renderer's rules."""
    subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pgmraw",
                    f"-r{DPI}", "-dTextAlphaBits=4", "-dGraphicsAlphaBits=4",
                    f"-sOutputFile={out}/ideal-%03d.pgm", str(out / "pages.pdf")], check=True)
    pgms = []
    for page in range(1, pages + 1):
        path = out / f"ideal-{page:03d}.pgm"
        grey = np.asarray(Image.open(path), dtype=np.float64) / 255.0
        if grey.shape != (PAGE_H, PAGE_W):
            raise RuntimeError(f"{path}: {grey.shape[1]}x{grey.shape[0]}, not {PAGE_W}x{PAGE_H}")
        for s in (s for s in symbols if s["page"] == page):
            x0, y0, x1, y1 = scanlib.crop_box(s)
            grey[y0:y1, x0:x1] = 1.0 - scanlib.coverage(s["rects"], x0, y0, x1, y1)
        Image.fromarray(np.rint(grey * 255).astype(np.uint8)).save(path)
        pgms.append(str(path))
    subprocess.run([makeraster, "-b", "8", "-r", str(DPI), "--page-size", "288x432",
                    "-o", str(out / "ideal.raster")] + pgms, check=True)
    for p in pgms:
        Path(p).unlink()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out", type=Path)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--seed", type=int, default=2026)
    ap.add_argument("--makeraster", required=True)
    args = ap.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)
    rng = random.Random(args.seed)
    modules = QUICK_MODULES if args.quick else MODULES
    symbols = make_symbols(rng, modules, 1 if args.quick else 2)
    pages = place(symbols, rng)
    for i, s in enumerate(symbols):
        s["id"] = i
        del s["w_mod"], s["h_mod"]
    symbols.sort(key=lambda s: (s["page"], s["y"], s["x"]))
    write_ps(args.out / "pages.ps", symbols, pages, rng)
    subprocess.run(["ps2pdf", "-dPDFSETTINGS=/prepress", "-dAutoRotatePages=/None",
                    str(args.out / "pages.ps"), str(args.out / "pages.pdf")], check=True)
    write_ideal(args.out, symbols, pages, args.makeraster)
    with open(args.out / "layout.json", "w") as f:
        json.dump(dict(dpi=DPI, pages=pages, symbols=symbols), f)
    print(f"{len(symbols)} symbols on {pages} pages")


if __name__ == "__main__":
    main()
