#!/usr/bin/env bash
# The filter against its floors, page by page.
#
#   bench/run.sh [--build DIR] [--corpus DIR] [--rounds N] [--only REGEX] [--out DIR]
#
# --build   the build folder with rastertolabel, tools/ and bench/ (default: build)
# --corpus  the pages (default: BUILD/corpus, made by bench/corpus/make-corpus.sh if missing)
# --rounds  timed rounds per page and mode (default 15), after one untimed round
# --only    run only the cases whose name ("page bits mode") matches the extended regex
# --out     where the raw figures (raw.tsv) and the table (table.md) go (default: BUILD/bench)
#
# Every case (a corpus page at one bit depth, and for 8-bit pages one "Dithering" choice) is
# run once in every round: the filter and both floors (bench_floor: read, threshold, pack, one
# BITMAP command; bench_floor_dump: that and the dump of the 24-bit working image of 8-bit
# pages) one right after the other, their order turned by one each round.  Each run goes
# through bench_runner: raster on standard input through a pipe, standard output and error
# drained from pipes as the scheduler does, the page dump into a file in a temporary folder.
# Per case the table gives the medians of the rounds: wall milliseconds, megapixels per second
# and milliseconds per megapixel of the filter, its peak resident memory against the memory
# the page's buffers need plus 12 MiB, the floors' milliseconds, and the filter's ratio to
# each floor (the median of the ratios of each round, so both sides of a ratio ran within
# the same fraction of a second).  The targets follow the table.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
corpus=""
rounds=15
only=""
out=""
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$2; shift 2 ;;
    --corpus) corpus=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "usage: bench/run.sh [--build DIR] [--corpus DIR] [--rounds N] [--only REGEX] [--out DIR]" >&2
       exit 2 ;;
  esac
done
build=$(cd "$build" && pwd)
corpus=${corpus:-$build/corpus}
out=${out:-$build/bench}
filter=$build/rastertolabel
runner=$build/bench/bench_runner
floor=$build/bench/bench_floor
floor_dump=$build/bench/bench_floor_dump
for exe in "$filter" "$runner" "$floor" "$floor_dump"; do
  [ -x "$exe" ] || { echo "run.sh: $exe not built (cmake --build $build)" >&2; exit 1; }
done
[ -s "$corpus/pages.txt" ] || "$root/bench/corpus/make-corpus.sh" "$build" "$corpus"
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export RASTERTOLABEL_DUMP=$tmp/Buf.bmp

# The cases: name, raster, PPD, options.
cases=()
while read -r page bits dpi width height file; do
  if [ "$bits" = 8 ]; then
    modes="None Threshold OrderDithering ErrorDiffusion"
    [[ $page == finders* ]] && modes=None
  else
    modes=-  # 1-bit pages are not converted, 24-bit pages always adaptively
  fi
  for mode in $modes; do
    name="$page $bits $mode"
    [ -z "$only" ] || [[ $name =~ $only ]] || continue
    cases+=("$page|$bits|$dpi|$width|$height|$file|$mode")
  done
done <"$corpus/pages.txt"
[ ${#cases[@]} -gt 0 ] || { echo "run.sh: no case matches" >&2; exit 1; }

progs=(filter floor floor_dump)
exe_of() {
  case $1 in filter) echo "$filter" ;; floor) echo "$floor" ;; floor_dump) echo "$floor_dump" ;; esac
}

raw=$out/raw.tsv
printf 'page\tbits\tmode\twidth\theight\tround\tprogram\twall_ms\tuser_ms\tsys_ms\tmaxrss_kib\tstatus\n' >"$raw"
echo "run.sh: ${#cases[@]} cases x $rounds rounds x 3 programs" >&2
# Rounds outside, cases inside: a burst of load elsewhere on the machine spreads over all cases
# instead of falling on the rounds of one.
load0=$(cut -d' ' -f1 /proc/loadavg)
for ((r = 0; r <= rounds; r++)); do
  for c in "${cases[@]}"; do
    IFS='|' read -r page bits dpi width height file mode <<<"$c"
    options=""
    [ "$mode" = - ] || options="Dithering=$mode"
    export PPD=$root/ppd/label$dpi.ppd
    for ((k = 0; k < 3; k++)); do
      prog=${progs[$(((r + k) % 3))]}
      read -r wall user sys rss status _ <<<"$("$runner" --in "$file" -- "$(exe_of "$prog")" \
        1 bench bench 1 "$options")"
      if [ "$status" != 0 ]; then
        echo "run.sh: $prog failed (status $status) on $page $bits $mode" >&2
        exit 1
      fi
      # Round 0 warms the caches and is not kept.
      [ "$r" = 0 ] || printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$page" "$bits" \
        "$mode" "$width" "$height" "$r" "$prog" "$wall" "$user" "$sys" "$rss" "$status" >>"$raw"
    done
  done
  echo "run.sh: round $r of $rounds done" >&2
done

# The table and the targets.
echo "Run of $(date -u '+%Y-%m-%d %H:%M UTC'): $rounds rounds, $(nproc) cores, load average $load0 at the start, $(cut -d' ' -f1 /proc/loadavg) at the end" |
  tee "$out/table.md"
echo | tee -a "$out/table.md"
awk -F'\t' '
function median(list,   n, a, i, j, t) {
  n = split(list, a, " ")
  for (i = 2; i <= n; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
  return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
function stride24(w) { return int((w * 24 + 31) / 32) * 4 }
# Bytes of the buffers a page needs: raster, working image, the conversion copy (the adaptive
# snapshot, twice the image; the border pass copy of the dithering modes), page bitmap, job text.
function need(bits, mode, w, h,   bpl, bitmap, work, copy) {
  bpl = int((w * bits + 7) / 8)
  bitmap = bits == 1 ? bpl * h : int((w + 31) / 32) * 4 * h
  work = 0; copy = 0
  if (bits == 8) {
    work = stride24(w) * h + 256
    if (mode == "None") copy = 2 * stride24(w) * h
    else if (mode == "OrderDithering" || mode == "ErrorDiffusion") copy = stride24(w) * h
  } else if (bits == 24) copy = 2 * bpl * h
  return bpl * h + work + copy + 2 * bitmap
}
NR == 1 { next }
{
  key = $1 SUBSEP $2 SUBSEP $3
  if (!(key in seen)) { seen[key] = 1; order[++n] = key; W[key] = $4; H[key] = $5 }
  wall[key, $7] = wall[key, $7] " " $8
  rss[key, $7] = rss[key, $7] " " $11
  ms[key, $6, $7] = $8
  cpu[key, $6, $7] = $9 + $10
  rounds[key, $6] = 1
}
END {
  printf "| page | dots | bits | mode | filter ms | MP/s | ms/MP | peak MiB | budget MiB | floor ms | floor+dump ms | x floor | x floor+dump |\n"
  printf "|---|---|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n"
  for (i = 1; i <= n; i++) {
    key = order[i]; split(key, f, SUBSEP)
    mp = W[key] * H[key] / 1e6
    fm = median(wall[key, "filter"])
    r1 = ""; r2 = ""; c1 = ""; c2 = ""
    for (rk in rounds) {
      split(rk, g, SUBSEP)
      if (g[1] SUBSEP g[2] SUBSEP g[3] != key) continue
      r1 = r1 " " ms[key, g[4], "filter"] / ms[key, g[4], "floor"]
      r2 = r2 " " ms[key, g[4], "filter"] / ms[key, g[4], "floor_dump"]
      c1 = c1 " " cpu[key, g[4], "filter"] / (cpu[key, g[4], "floor"] + 0.001)
      c2 = c2 " " cpu[key, g[4], "filter"] / (cpu[key, g[4], "floor_dump"] + 0.001)
    }
    x1[key] = median(r1); x2[key] = median(r2); mpms[key] = fm / mp
    cx1[key] = median(c1); cx2[key] = median(c2)
    peak[key] = median(rss[key, "filter"]) / 1024
    budget[key] = need(f[2], f[3], W[key], H[key]) / 1048576 + 12
    printf "| %s | %dx%d | %s | %s | %.1f | %.0f | %.2f | %.1f | %.1f | %.1f | %.1f | %.2f | %.2f |\n",
      f[1], W[key], H[key], f[2], f[3], fm, mp / fm * 1000, fm / mp, peak[key], budget[key],
      median(wall[key, "floor"]), median(wall[key, "floor_dump"]), x1[key], x2[key]
  }
  print ""
  print "Targets: wall-time ratio of the same rounds (and the CPU-time ratio, user + system, beside it)"
  split("Threshold 1.3 OrderDithering 1.4 ErrorDiffusion 1.6 None 1.8", lim, " ")
  for (k = 1; k < 8; k += 2) {
    key = "ship4x6-300" SUBSEP 8 SUBSEP lim[k]
    if (key in seen) check(sprintf("1200x1800 8-bit %s / floor+dump", lim[k]), x2[key], cx2[key], lim[k + 1])
  }
  key = "finders-300" SUBSEP 8 SUBSEP "None"
  if (key in seen) check("adversarial None / floor+dump", x2[key], cx2[key], 4)
  for (i = 1; i <= n; i++) {
    key = order[i]; split(key, f, SUBSEP)
    if (f[2] == 1) check(sprintf("1-bit %s / floor", f[1]), x1[key], cx1[key], 1.15)
  }
  for (i = 1; i <= n; i++) {
    key = order[i]; split(key, f, SUBSEP)
    if (f[2] == 24) check(sprintf("24-bit %s / floor", f[1]), x1[key], cx1[key], 3)
  }
  for (i = 1; i <= n; i++) {
    key = order[i]; split(key, f, SUBSEP)
    if (f[1] != "cont4x40-300") continue
    base = "ship4x6-300" SUBSEP f[2] SUBSEP f[3]
    if (base in seen) check(sprintf("ms/MP 4x40 / 4x6, %s-bit %s", f[2], f[3]), mpms[key] / mpms[base], -1, 1.25)
  }
  for (i = 1; i <= n; i++) {
    key = order[i]; split(key, f, SUBSEP)
    if (peak[key] > budget[key]) { over = over sprintf(" %s/%s/%s", f[1], f[2], f[3]) }
  }
  printf "  %-44s %s\n", "peak memory within page buffers + 12 MiB", over == "" ? "met, every case" : "MISSED:" over
}
function check(what, value, cpuvalue, lim) {
  printf "  %-44s %5.2f %-12s target %.2f  %s\n", what, value,
    cpuvalue < 0 ? "" : sprintf("(cpu %.2f)", cpuvalue), lim, value <= lim ? "met" : "MISSED"
}
' "$raw" | tee -a "$out/table.md"
