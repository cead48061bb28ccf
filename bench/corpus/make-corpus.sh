#!/usr/bin/env bash
# Makes the benchmark's corpus of label pages: PostScript drawn by
# bench/corpus/*.ps, rendered by Ghostscript anti-aliased as PDF renderers
# deliver it, and written as CUPS raster by the project's makeraster, each
# page at 8 bits grey, 1 bit and 24 bits colour.
#
#   bench/corpus/make-corpus.sh [BUILD_DIR [OUT_DIR]]
#
# BUILD_DIR holds tools/makeraster and bench/bench_compress_raster (default:
# build); OUT_DIR receives the pages (default: BUILD_DIR/corpus) and
# pages.txt, one line per raster:
#   name bits dpi width height file
# Pages:
#   ship4x6-203, ship4x6-300    4 x 6 in shipping label, 812 x 1218 / 1200 x 1800
#   ship4x6-300-ras2            the same 300 dpi label as a compressed (RaS2)
#                               stream, as Ghostscript's and Poppler's raster
#                               filters deliver it
#   small2x1-203, small2x1-300  2 x 1 in label, 406 x 203 / 600 x 300
#   cont4x40-300                4 x 40 in continuous label, 1200 x 12000
#   finders-300                 grey noise strewn with finder-like targets, 1200 x 1800
#                               (8 bits only: it is the adaptive mode's worst case)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=${2:-$build/corpus}
makeraster=$build/tools/makeraster
compress=$build/bench/bench_compress_raster
for exe in "$makeraster" "$compress"; do
  [ -x "$exe" ] || { echo "make-corpus: $exe not built" >&2; exit 1; }
done

need=()
command -v gs >/dev/null || need+=(ghostscript)
command -v qrencode >/dev/null || need+=(qrencode)
command -v zbarimg >/dev/null || need+=(zbar-tools)
fc-list 2>/dev/null | grep -q NimbusSans || need+=(fonts-urw-base35)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A QR code as a PostScript array of rows, '1' a dark module, top row first.
qr_rows() {  # level payload
  echo "["
  qrencode -l "$1" -m 0 -t ASCII "$2" | sed -e 's/##/1/g' -e 's/  /0/g' -e 's/^/(/' -e 's/$/)/'
  echo "]"
}

# The codes of the seven labels down the continuous strip (the first is the 4 x 6 label's).
{
  for name in QrBig QrMid QrSmall; do
    echo "/$name ["
    for t in 0 1 2 3 4 5 6; do
      num=$((1234567 + 7 * t))
      case $name in
        QrBig) qr_rows M "https://track.example.com/1Z999AA1$num?lang=en&svc=priority&t=$t" ;;
        QrMid) qr_rows Q "R4-$num" ;;
        QrSmall) qr_rows L "ORDER 99815-$t BATCH 12" ;;
      esac
    done
    echo "] def"
  done
} >"$work/codes.ps"

gs_render() {  # device dpi WxH page-procedure ps-file output
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE="$1" -r"$2" -g"$3" -dFIXEDMEDIA \
    -dTextAlphaBits=4 -dGraphicsAlphaBits=4 -sOutputFile="$6" -c "/Page { $4 } def" -f "$5" 2>&1 |
    { grep -v '^$' || true; }
  [ -s "$6" ] || { echo "make-corpus: Ghostscript drew nothing for $4" >&2; exit 1; }
}

: >"$out/pages.txt"
raster() {  # name bits dpi WxH picture
  local file="$out/$1-$2.ras"
  "$makeraster" -b "$2" -r "$3" -o "$file" "$5"
  echo "$1 $2 $3 ${4%x*} ${4#*x} $file" >>"$out/pages.txt"
}

cat "$work/codes.ps" "$here/label.ps" >"$work/label.ps"
while read -r name page dpi size; do
  page=${page/_/ }
  gs_render pgmraw "$dpi" "$size" "$page" "$work/label.ps" "$work/$name.pgm"
  gs_render ppmraw "$dpi" "$size" "$page" "$work/label.ps" "$work/$name.ppm"
  raster "$name" 8 "$dpi" "$size" "$work/$name.pgm"
  raster "$name" 1 "$dpi" "$size" "$work/$name.pgm"
  raster "$name" 24 "$dpi" "$size" "$work/$name.ppm"
done <<'PAGES'
ship4x6-203 0_Ship4x6 203 812x1218
ship4x6-300 0_Ship4x6 300 1200x1800
small2x1-203 Small2x1 203 406x203
small2x1-300 Small2x1 300 600x300
cont4x40-300 Cont4x40 300 1200x12000
PAGES
for bits in 8 1 24; do
  "$compress" <"$out/ship4x6-300-$bits.ras" >"$out/ship4x6-300-ras2-$bits.ras"
  echo "ship4x6-300-ras2 $bits 300 1200 1800 $out/ship4x6-300-ras2-$bits.ras" >>"$out/pages.txt"
done
gs_render pgmraw 300 1200x1800 "" "$here/finder_noise.ps" "$work/finders-300.pgm"
raster finders-300 8 300 1200x1800 "$work/finders-300.pgm"

# The codes must read back from the grey pages, or the corpus is not what it claims.
for check in "ship4x6-203 3" "ship4x6-300 3" "small2x1-300 1"; do
  read -r name qrs <<<"$check"
  read=$(zbarimg --quiet "$work/$name.pgm" 2>/dev/null || true)
  got="$(grep -c '^QR-Code:' <<<"$read") QR codes, $(grep -c '^CODE-128:' <<<"$read") Code 128"
  echo "make-corpus: $name reads $got"
  [ "$got" = "$qrs QR codes, 1 Code 128" ] ||
    { echo "make-corpus: $name should read $qrs QR codes, 1 Code 128" >&2; exit 1; }
done
echo "make-corpus: $(wc -l <"$out/pages.txt") raster pages in $out"
