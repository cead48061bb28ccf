#!/usr/bin/env bash
# Scannability benchmark: how well codes on ordinary PDF labels decode after
# our filter, for each way a page can reach it and each grey conversion.
#
#   bench/scan/run.sh [--build DIR] [--out DIR] [--quick] [--seed N] [--jobs N]
#
#   --build DIR  the build tree with rastertolabel and tools/ (default build)
#   --out DIR    where everything goes (default DIR/scan of the build tree)
#   --quick      24 symbols and three modes, a smoke check of a minute or so
#   --seed N     payloads and positions (default 2026)
#   --jobs N     decoding processes (default 2)
#
# Sources of the raster our filter gets:
#   queue    cupsfilter with our PPD and a private ServerBin holding our filter
#            under its installed name: whatever the PPD's *cupsFilter2 lines
#            and CUPS's conversions select for a PDF, as a queue would run it
#   poppler  cups-filters' pdftoraster with our PPD, then our filter
#   ideal    the exact area each dot of a symbol covers, written by makeraster
# Modes: the PPD's defaults ("default"), then Dithering=None, Threshold with
# Threshold=0, -10, -20, -30, +10, OrderDithering and ErrorDiffusion, given
# as job options. Each label job is drawn by readlabel and scored by score.py.
# Results: OUT/table.md (rates) and OUT/raw.tsv (every symbol).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
here=$root/bench/scan
build=$root/build out="" quick=0 seed=2026 jobs=2
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --quick) quick=1; shift ;;
    --seed) seed=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)
out=${out:-$build/scan}
filter=$build/rastertolabel
readlabel=$build/tools/readlabel
makeraster=$build/tools/makeraster
ppd=$root/ppd/label203.ppd
for f in "$filter" "$readlabel" "$makeraster"; do
  [ -x "$f" ] || { echo "run.sh: $f missing; build first" >&2; exit 1; }
done

"$root/scripts/install-deps.sh" --tests zint python3-zxing-cpp python3-zbar python3-numpy python3-pil
# shellcheck source=scripts/print-pdf.sh
source "$root/scripts/print-pdf.sh" # make_serverbin

start=$(date +%s)
# Only what this script writes, in case --out names a folder with more in it.
rm -rf "$out/pages" "$out/raster" "$out/jobs" "$out/labels" "$out/runs.json" "$out/raw.tsv" \
  "$out/table.md"
mkdir -p "$out/raster" "$out/jobs" "$out/labels"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

args=()
[ $quick = 1 ] && args+=(--quick)
/usr/bin/python3 "$here/make_pages.py" "$out/pages" --seed "$seed" --makeraster "$makeraster" \
  "${args[@]}"
pdf=$out/pages/pages.pdf

names=(default None Threshold0 Threshold-10 Threshold-20 Threshold-30 Threshold+10
  OrderDithering ErrorDiffusion)
opts=("" "Dithering=None" "Dithering=Threshold Threshold=0" "Dithering=Threshold Threshold=-10"
  "Dithering=Threshold Threshold=-20" "Dithering=Threshold Threshold=-30"
  "Dithering=Threshold Threshold=10" "Dithering=OrderDithering" "Dithering=ErrorDiffusion")
if [ $quick = 1 ]; then
  names=(default Threshold-20 ErrorDiffusion)
  opts=("" "Dithering=Threshold Threshold=-20" "Dithering=ErrorDiffusion")
fi

runs=()
# draw SOURCE MODE: the label job to PNGs, one per page.
draw() {
  local job=$out/jobs/$1/$2.job
  mkdir -p "$out/labels/$1"
  "$readlabel" --png "$out/labels/$1/$2" "$job" >/dev/null 2>"$job.readlabel" ||
    { echo "run.sh: readlabel refused $job; see $job.readlabel" >&2; exit 1; }
  runs+=("{\"source\": \"$1\", \"mode\": \"$2\"}")
}

# The queue: our filter in a private ServerBin behind a wrapper that keeps a
# copy of the raster it is given, so the raster check sees exactly what the
# chain delivered. No raster copy means the chain did not go through our
# filter as a raster step.
queue_job() {
  local name=$1 opt=$2 bin=$tmp/serverbin-$1 o
  make_serverbin "$bin" "$filter"
  if [ "$name" = default ]; then
    mv "$bin/filter/$FILTER_NAME" "$bin/$FILTER_NAME.real"
    cat >"$bin/filter/$FILTER_NAME" <<EOF
#!/bin/sh
if [ \$# -ge 6 ]; then cat "\$6"; else cat; fi >"$out/raster/queue.raster"
exec "$bin/$FILTER_NAME.real" "\$1" "\$2" "\$3" "\$4" "\$5" "$out/raster/queue.raster"
EOF
    chmod 0755 "$bin/filter/$FILTER_NAME"
  fi
  printf 'ServerBin %s\n' "$bin" >"$tmp/cups-files-$name.conf"
  local cf=(-c "$tmp/cups-files-$name.conf" -p "$ppd" -e -m printer/thermallabel)
  for o in $opt; do cf+=(-o "$o"); done
  local job=$out/jobs/queue/$name.job
  mkdir -p "$out/jobs/queue"
  cupsfilter "${cf[@]}" "$pdf" >"$job" 2>"$job.log" ||
    { echo "run.sh: cupsfilter failed for $name; see $job.log" >&2; exit 1; }
  rm -rf "$bin"
}

# Our filter on a raster file with the given job options.
filter_job() {
  local src=$1 name=$2 opt=$3 raster=$4
  mkdir -p "$out/jobs/$src"
  PPD=$ppd RASTERTOLABEL_DUMP="" "$filter" 1 bench scan 1 "$opt" "$raster" \
    >"$out/jobs/$src/$name.job" 2>"$out/jobs/$src/$name.job.log" ||
    { echo "run.sh: filter failed on $src $name; see $out/jobs/$src/$name.job.log" >&2; exit 1; }
}

echo "queue: cupsfilter with $(basename "$ppd")" >&2
for i in "${!names[@]}"; do
  queue_job "${names[$i]}" "${opts[$i]}"
  draw queue "${names[$i]}"
done
[ -s "$out/raster/queue.raster" ] || rm -f "$out/raster/queue.raster"
sed -n 's/^INFO: \([^ ]*\) (PID [0-9]*) started\.$/\1/p' "$out/jobs/queue/default.job.log" |
  paste -sd' ' | sed 's/^/queue chain: /' >&2

echo "poppler: pdftoraster" >&2
PPD=$ppd "$(cups-config --serverbin)/filter/pdftoraster" 1 bench scan 1 "" "$pdf" \
  >"$out/raster/poppler.raster" 2>"$tmp/pdftoraster.log" ||
  { echo "run.sh: pdftoraster failed:" >&2; tail -n 5 "$tmp/pdftoraster.log" >&2; exit 1; }
for i in "${!names[@]}"; do
  filter_job poppler "${names[$i]}" "${opts[$i]}" "$out/raster/poppler.raster"
  draw poppler "${names[$i]}"
done

echo "ideal: exact coverage" >&2
cp "$out/pages/ideal.raster" "$out/raster/ideal.raster"
for i in "${!names[@]}"; do
  filter_job ideal "${names[$i]}" "${opts[$i]}" "$out/raster/ideal.raster"
  draw ideal "${names[$i]}"
done

(
  IFS=,
  echo "[${runs[*]}]"
) >"$out/runs.json"
echo "decoding" >&2
/usr/bin/python3 "$here/score.py" "$out" --jobs "$jobs" --seed "$seed" \
  --seconds $(($(date +%s) - start))
echo "table: $out/table.md"
echo "raw:   $out/raw.tsv"
echo "time:  $(($(date +%s) - start)) s"
