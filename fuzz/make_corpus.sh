#!/usr/bin/env bash
# Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.
#
#   fuzz/make_corpus.sh [BUILD_DIR]     (default: build; needs tools/makeraster)
#
# The seeds are small valid inputs, so that the fuzzer starts from streams the
# filter prints, not from the sync word: pages of 1, 8 and 24 bits, black- and
# white-based grey, a turned page, two pages in one stream, a grey QR code with
# soft edges, and streams broken the ways makeraster can break them.  Needs
# python3 and qrencode.
set -euo pipefail
cd "$(dirname "$0")/.."
makeraster="${1:-build}/tools/makeraster"
[ -x "$makeraster" ] || { echo "no $makeraster: build first" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
out=fuzz/corpus
rm -rf "$out"
mkdir -p "$out"/{filter,conversion,orientation,bitmap_commands}

qrencode -t ASCII -m 1 -s 1 'LBL-1234' >"$tmp/qr.txt"
python3 - "$tmp" <<'EOF'
import random, sys
tmp = sys.argv[1]
rnd = random.Random(7)

def pgm(name, w, h, px):
    with open(f"{tmp}/{name}.pgm", "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (w, h) + bytes(px))

def ppm(name, w, h, px):
    with open(f"{tmp}/{name}.ppm", "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h) + bytes(px))

# A QR code at 3 pixels a module, its edges grey as renderers smooth them.
rows = [l.rstrip("\n")[::2] for l in open(f"{tmp}/qr.txt")]
n = len(rows)
qr = []
for y in range(3 * n):
    for x in range(3 * n):
        dark = rows[y // 3][x // 3] == "#"
        edge = x % 3 == 0 or y % 3 == 0
        qr.append((0 if dark else 255) if not edge else (96 if dark else 200))
pgm("qr", 3 * n, 3 * n, qr)
# Text-like strokes with grey edges, and a ramp.
strokes = [255] * (48 * 24)
for y in range(4, 20):
    for x in list(range(6, 9)) + list(range(20, 23)) + list(range(34, 44)):
        strokes[y * 48 + x] = 0
    strokes[y * 48 + 9] = 128
pgm("strokes", 48, 24, strokes)
pgm("ramp", 32, 6, [x * 8 for _ in range(6) for x in range(32)])
pgm("dots", 13, 5, [0 if rnd.random() < 0.3 else 255 for _ in range(13 * 5)])
ppm("colour", 12, 6, [rnd.choice((0, 255, 128, 30)) for _ in range(12 * 6 * 3)])

def seed(target, name, data):
    with open(f"fuzz/corpus/{target}/{name}", "wb") as f:
        f.write(bytes(data))

# Conversion: geometry bytes, then grey pixels (bit 4 of byte 3).
w = 3 * n
for mode in range(4):
    seed("conversion", f"qr-mode{mode}", [mode, w - 1, w - 1, 0x10 | 0x80] + qr)
    seed("conversion", f"strokes-mode{mode}", [mode, 47, 23, 0x13 | 0x80] + strokes)
for p in range(5, 12):
    seed("conversion", f"strokes-pass{p}", [p, 47, 23, 0x10 | 0x80] + strokes)
# Orientation: 70 x 9 dots at one spare byte of stride; bitmap bands.
seed("orientation", "dots", [69, 0, 9, 1] + [rnd.randrange(256) for _ in range(10 * 9)])
pic = [0xFF] * (6 * 120)
for r in list(range(90, 95)) + list(range(97, 99)):
    for c in (1, 2, 4):
        pic[r * 6 + c] = 0x0F
seed("bitmap_commands", "bands", [5, 120, 0] + pic)
EOF

# Filter seeds: two option bytes, then a raster stream.
filter_seed() {  # name option-byte-0 option-byte-1 makeraster-arguments...
  local name=$1 a=$2 b=$3
  shift 3
  "$makeraster" -o "$tmp/$name.ras" "$@"
  { printf "\\x$a\\x$b"; cat "$tmp/$name.ras"; } >"$out/filter/$name"
}
filter_seed bits1 00 00 -b 1 "$tmp/dots.pgm"
filter_seed bits8-qr 00 00 -b 8 "$tmp/qr.pgm"
filter_seed bits8-threshold 01 20 -b 8 "$tmp/strokes.pgm"
filter_seed bits8-ordered 02 00 -b 8 "$tmp/ramp.pgm"
filter_seed bits8-diffusion 23 02 -b 8 "$tmp/ramp.pgm"
filter_seed bits8-white 14 81 -b 8 -c w "$tmp/strokes.pgm"
filter_seed bits24 08 00 -b 24 "$tmp/colour.ppm"
filter_seed turned 0c 00 -b 1 --orientation 1 --copies 2 "$tmp/dots.pgm"
filter_seed two-pages 04 06 -b 8 "$tmp/dots.pgm" "$tmp/strokes.pgm"
filter_seed short-page 00 00 -b 8 --claim-height 40 "$tmp/strokes.pgm"
filter_seed cut-stream 00 00 -b 24 --truncate-bytes 1900 "$tmp/colour.ppm"
filter_seed wide-rows 00 00 -b 1 --bytes-per-line 5 "$tmp/dots.pgm"

# Compressed streams, as libcups writes them: the same pages rewritten.
cat >"$tmp/rewrite.cpp" <<'EOF2'
#include <cups/raster.h>
#include <string.h>
#include <vector>
int main(int, char** argv) {
  cups_mode_t mode = !strcmp(argv[1], "pwg")     ? CUPS_RASTER_WRITE_PWG
                     : !strcmp(argv[1], "apple") ? CUPS_RASTER_WRITE_APPLE
                                                 : CUPS_RASTER_WRITE_COMPRESSED;
  cups_raster_t* in = cupsRasterOpen(0, CUPS_RASTER_READ);
  cups_raster_t* out = cupsRasterOpen(1, mode);
  cups_page_header2_t h;
  while (cupsRasterReadHeader2(in, &h)) {
    std::vector<unsigned char> row(h.cupsBytesPerLine);
    if (!cupsRasterWriteHeader2(out, &h)) return 1;
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
      cupsRasterReadPixels(in, row.data(), h.cupsBytesPerLine);
      cupsRasterWritePixels(out, row.data(), h.cupsBytesPerLine);
    }
  }
  cupsRasterClose(out);
  cupsRasterClose(in);
}
EOF2
g++ -o "$tmp/rewrite" "$tmp/rewrite.cpp" -lcups
compressed_seed() {  # name option-byte-0 option-byte-1 mode makeraster-arguments...
  local name=$1 a=$2 b=$3 mode=$4
  shift 4
  "$makeraster" -o "$tmp/$name.ras" "$@"
  { printf "\\x$a\\x$b"; "$tmp/rewrite" "$mode" <"$tmp/$name.ras"; } >"$out/filter/$name"
}
compressed_seed bits8-ras2 00 00 v2 -b 8 "$tmp/strokes.pgm" "$tmp/dots.pgm"
compressed_seed bits1-pwg 10 00 pwg -b 1 "$tmp/dots.pgm"
compressed_seed bits8-apple 00 00 apple -b 8 -c sw "$tmp/strokes.pgm"
compressed_seed bits24-apple 00 00 apple -b 24 -c srgb "$tmp/colour.ppm"
du -sh "$out"
