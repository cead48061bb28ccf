"""Shared pieces of the scannability benchmark.

  crop_box      a symbol's box with its quiet zone, in whole page dots
  coverage      exact share of each dot that a set of rectangles covers
  centre_cut    the dots whose centres lie inside the rectangles
  read_raster   the pages of a CUPS raster stream as ink arrays (0..255)
  dot_gain      a 1-bit label as printed with a quarter dot of dot gain
"""
import struct

import numpy as np

DPI = 203
PAGE_W, PAGE_H = 812, 1218  # 4 x 6 inch at 203 dpi


def crop_box(s):
    """(x0, y0, x1, y1): the symbol's ink box grown by its quiet zone, clipped to the page."""
    x0 = max(0, int(np.floor(s["x"] - s["qx"])))
    y0 = max(0, int(np.floor(s["y"] - s["qy"])))
    x1 = min(PAGE_W, int(np.ceil(s["x"] + s["w"] + s["qx"])))
    y1 = min(PAGE_H, int(np.ceil(s["y"] + s["h"] + s["qy"])))
    return x0, y0, x1, y1


def coverage(rects, x0, y0, x1, y1):
    """Share of each dot of the box [x0, x1) x [y0, y1) inside the rectangles.

    The rectangles (x, y, w, h in dots) are cut along all their edges into a
    grid of cells, each wholly inside or outside; the coverage is then
    rows-overlap x cells x columns-overlap, exact up to float rounding.
    Overlapping rectangles count once.
    """
    xs = np.unique([v for x, _, w, _ in rects for v in (x, x + w)])
    ys = np.unique([v for _, y, _, h in rects for v in (y, y + h)])
    cells = np.zeros((len(ys) - 1, len(xs) - 1))
    for x, y, w, h in rects:
        i0, i1 = np.searchsorted(xs, [x, x + w])
        j0, j1 = np.searchsorted(ys, [y, y + h])
        cells[j0:j1, i0:i1] = 1.0

    def overlap(edges, lo, hi):
        px = np.arange(lo, hi, dtype=np.float64)[:, None]
        a = np.maximum(px, edges[None, :-1])
        b = np.minimum(px + 1, edges[None, 1:])
        return np.clip(b - a, 0.0, None)

    return overlap(ys, y0, y1) @ cells @ overlap(xs, x0, x1).T


def centre_cut(rects, x0, y0, x1, y1):
    """Dots of the box whose centres lie inside a rectangle: the shapes with
    every edge moved to the nearest dot edge, the best a 1-bit page can do."""
    out = np.zeros((y1 - y0, x1 - x0), bool)
    for x, y, w, h in rects:
        c0, c1 = int(np.ceil(x - 0.5)) - x0, int(np.ceil(x + w - 0.5)) - x0
        r0, r1 = int(np.ceil(y - 0.5)) - y0, int(np.ceil(y + h - 0.5)) - y0
        out[max(r0, 0):max(r1, 0), max(c0, 0):max(c1, 0)] = True
    return out


def ink_area(rects):
    """Dark area of a symbol in square dots (its rectangles do not overlap)."""
    return float(sum(w * h for _, _, w, h in rects))


# Byte offsets of the header fields used here (cups_page_header2_t, after the
# four-byte sync word).
_FIELDS = {"HWResolution": 276, "cupsWidth": 372, "cupsHeight": 376, "cupsBitsPerColor": 384,
           "cupsBitsPerPixel": 388, "cupsBytesPerLine": 392, "cupsColorSpace": 400}
_HEADER = 1796
_WHITE_ZERO = {0, 1, 2, 17, 18, 19, 20}  # W, RGB, RGBA, RGBW, SW, sRGB, AdobeRGB: 0 is black


def read_raster(path):
    """Yields (header, ink) per page of a CUPS raster stream (v1, v2 or v3).

    ink is an H x W uint8 array, 0 = no ink, 255 = full ink, whatever the
    colour space; 1-bit pages come out as 0 or 255, 24-bit ones are greyed.
    """
    data = open(path, "rb").read()
    sync = data[:4]
    if sync in (b"RaSt", b"RaS2", b"RaS3"):
        order = ">"
    elif sync in (b"tSaR", b"2SaR", b"3SaR"):
        order = "<"
    else:
        raise ValueError(f"{path}: not a CUPS raster stream ({sync!r})")
    compressed = sync in (b"RaS2", b"2SaR")
    pos = 4
    while pos + _HEADER <= len(data):
        hdr = {k: struct.unpack_from(order + "I", data, pos + off)[0] for k, off in _FIELDS.items()}
        pos += _HEADER
        h, bpl = hdr["cupsHeight"], hdr["cupsBytesPerLine"]
        bpp = max(1, hdr["cupsBitsPerPixel"] // 8)
        white_zero = hdr["cupsColorSpace"] in _WHITE_ZERO
        if compressed:
            rows, pos = _decode_v2(data, pos, bpl, h, bpp, 0xFF if white_zero else 0x00)
        else:
            rows = np.frombuffer(data, np.uint8, bpl * h, pos).reshape(h, bpl)
            pos += bpl * h
        yield hdr, _to_ink(rows, hdr, white_zero)


def _decode_v2(data, pos, bpl, height, bpp, clear):
    out = np.empty((height, bpl), np.uint8)
    y = 0
    while y < height:
        repeat = data[pos] + 1
        pos += 1
        line = bytearray()
        while len(line) < bpl:
            c = data[pos]
            pos += 1
            if c == 128:  # rest of the line is blank
                line += bytes([clear]) * (bpl - len(line))
            elif c > 128:
                n = (257 - c) * bpp
                line += data[pos:pos + n]
                pos += n
            else:
                line += data[pos:pos + bpp] * (c + 1)
                pos += bpp
        out[y:y + repeat] = np.frombuffer(bytes(line[:bpl]), np.uint8)
        y += repeat
    return out, pos


def _to_ink(rows, hdr, white_zero):
    w, bits = hdr["cupsWidth"], hdr["cupsBitsPerPixel"]
    if bits == 1:
        px = np.unpackbits(rows, axis=1)[:, :w].astype(np.uint8) * 255
        return 255 - px if white_zero else px
    if bits == 8:
        px = rows[:, :w]
    elif bits == 24:
        rgb = rows[:, :w * 3].reshape(rows.shape[0], w, 3).astype(np.float64)
        px = np.rint(rgb @ [0.299, 0.587, 0.114]).astype(np.uint8)
    else:
        raise ValueError(f"{bits} bits per pixel not handled")
    return 255 - px if white_zero else px.copy()


def dot_gain(ink, gain=0.25, scale=4):
    """The share of each dot a thermal head inks when every ink dot spreads by
    `gain` dots on each side: upsampled `scale` times, grown by gain * scale
    sub-dots (a square, as a heater element is), averaged back."""
    grow = int(round(gain * scale))
    fine = np.kron(ink.astype(bool), np.ones((scale, scale), bool))
    pad = np.pad(fine, grow)
    h, w = fine.shape
    grown = np.zeros_like(fine)
    for dy in range(2 * grow + 1):
        for dx in range(2 * grow + 1):
            grown |= pad[dy:dy + h, dx:dx + w]
    return grown.reshape(h // scale, scale, w // scale, scale).mean(axis=(1, 3))
