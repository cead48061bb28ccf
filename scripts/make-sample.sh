#!/usr/bin/env bash
# Regenerates sample/label.png: a 2 x 1 inch shipping label at 203 dpi
# (406 x 203, 8-bit grey) as a PDF renderer would hand it over: anti-aliased
# text, a frame, and a QR code scaled by a non-integer factor (about 3.3
# pixels a module) with smoothing, so that its module edges are grey.
# The frame is drawn as filled rectangles, so its edges stay crisp, like the
# rules a PDF renderer puts on whole pixels. Then checks that the QR code still
# decodes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/sample/label.png}
payload="PKG-0042"
font_dir=/usr/share/fonts/truetype/dejavu

need=()
command -v convert >/dev/null && convert -version 2>/dev/null | grep -q ImageMagick || need+=(imagemagick)
command -v qrencode >/dev/null || need+=(qrencode)
command -v zbarimg >/dev/null || need+=(zbar-tools)
[ -f "$font_dir/DejaVuSans.ttf" ] || need+=(fonts-dejavu-core)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One pixel a module, no quiet zone: the label's white around it is the quiet zone.
qrencode -l M -s 1 -m 0 -o "$work/qr.png" "$payload"
# 21 modules to 70 pixels: 3.33 pixels a module, each pixel the share of
# black it covers, as a renderer anti-aliases: module edges fall inside
# pixels and come out grey, one pixel wide.
convert "$work/qr.png" -colorspace Gray -sample 2100x2100 -filter Box -resize 70x70 "$work/qr-70.png"

sans="$font_dir/DejaVuSans.ttf"
bold="$font_dir/DejaVuSans-Bold.ttf"
convert -size 406x203 xc:white -colorspace Gray \
  -fill black -draw "rectangle 6,6 399,196" -fill white -draw "rectangle 9,9 396,193" \
  -fill black -draw "rectangle 9,51 396,52" \
  -font "$bold" -pointsize 22 -annotate +20+38 "SHIP TO" \
  -font "$sans" -pointsize 11 -annotate +170+36 "FROM: DEPOT 7" \
  -font "$sans" -pointsize 15 -annotate +20+80 "Jane Example" \
  -annotate +20+101 "12 Harbour Lane" \
  -annotate +20+122 "Rivertown 40211" \
  -font "$bold" -pointsize 26 -annotate +20+178 "PKG 0042" \
  "$work/qr-70.png" -geometry +302+78 -composite \
  -font "$sans" -pointsize 10 -annotate +311+181 "$payload" \
  -strip -define png:exclude-chunks=date,time -define png:color-type=0 -define png:bit-depth=8 \
  "PNG:$out"

decoded=$(zbarimg --quiet --raw "$out")
if [ "$decoded" != "$payload" ]; then
  echo "make-sample: the QR code in $out reads '$decoded', not '$payload'" >&2
  exit 1
fi
echo "wrote $out ($(stat -c %s "$out") bytes); QR reads $payload"
