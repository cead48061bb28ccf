#!/usr/bin/env bash
# End-to-end tests of the printer-queue path: the shipped PPDs, the
# installation, a private CUPS scheduler that prints PDF and PNG labels
# through CUPS's own conversion chain into our installed filter, and the
# scheduler-free cupsfilter path. Every printer job is read back strictly
# with readlabel, drawn, and its QR code and barcode scanned.
#
#   tests/e2e/run.sh [BUILD_DIR]   (scripts/e2e.sh builds first, then runs this)
#
# The work folder (/tmp/e2e.*) is removed unless a check failed or E2E_KEEP
# is set.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
readlabel=$build/tools/readlabel

source "$here/checks.sh"
source "$here/scheduler.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "e2e: run as root (the private scheduler runs its filters as user lp)" >&2
  exit 2
fi
for tool in cupsd lpadmin lp lpinfo lpoptions ipptool cupsfilter cupstestppd ppdc \
  ps2pdf gs qrencode zbarimg pngtopnm pnmflip pnminvert cmake; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool is missing; run scripts/install-deps.sh" >&2; exit 2; }
done
for f in "$build/rastertolabel" "$readlabel"; do
  [ -x "$f" ] || { echo "e2e: $f is not built; run scripts/e2e.sh" >&2; exit 2; }
done

# Short: the scheduler's socket path inside must fit in 108 bytes.
work=$(mktemp -d /tmp/e2e.XXXXXX)
# The scheduler's user (lp) reads the installed PPDs and filter in here.
chmod 0755 "$work"
jobs=$work/jobs
mkdir -p "$jobs" "$work/home"
# The client tools would read the user's own ~/.cups (default options).
export HOME=$work/home
cleanup() {
  sched_stop
  if [ "$failed" -eq 0 ] && [ -z "${E2E_KEEP:-}" ]; then
    rm -rf "$work"
  else
    echo "e2e: work folder kept: $work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
started=$SECONDS

QR_TEXT=E2E-0042-LABEL
BAR_TEXT=LBL-12345
SAMPLE_QR=PKG-0042 # in sample/label.png

# ---------------------------------------------------------------- helpers

# make_label_pdf OUT PAGES: the test label (label.ps) as an application would
# send it: a PDF of PAGES 4 x 3 inch labels.
make_label_pdf() {
  {
    echo '%!PS'
    echo '/qrrows ['
    # Two characters a module: "##" dark, "  " light.
    qrencode -t ASCII -m 0 -l M "$QR_TEXT" | sed 's/##/1/g; s/  /0/g; s/.*/(&)/'
    echo '] def'
    echo "/barcode ($BAR_TEXT) def /pages $2 def"
    cat "$here/label.ps"
  } | ps2pdf - "$1"
}

# scans IMAGE ORIENTATION TEXT...: zbarimg reads every TEXT from IMAGE, in
# the given orientation (UP, RIGHT, DOWN, LEFT: where the code's top points).
scans() {
  local img=$1 orient=$2 got want
  shift 2
  got=$(zbarimg -q --xml "$img" 2>/dev/null |
    sed -n "s/.*orientation='\([A-Z]*\)'.*CDATA\[\(.*\)\]\]>.*/\2 \1/p" || true)
  for want in "$@"; do
    grep -qxF -- "$want $orient" <<<"$got" ||
      { echo "wanted $want $orient, read: ${got:-nothing}"; return 1; }
  done
}

# scans_flipped IMAGE ORIENTATION TEXT...: the same after mirroring IMAGE.
scans_flipped() {
  local img=$1
  shift
  pngtopnm "$img" | pnmflip -lr >"$img.flipped.pnm"
  scans "$img.flipped.pnm" "$@"
}

# scans_inverted IMAGE ORIENTATION TEXT...: the same after inverting IMAGE.
scans_inverted() {
  local img=$1
  shift
  pngtopnm "$img" | pnminvert >"$img.inverted.pnm"
  scans "$img.inverted.pnm" "$@"
}

# Views of readlabel's summary of a job (CASE.txt): pages end with PRINT.
print_lines() { grep '^PRINT ' "$1" | paste -sd' ' -; }
setup_of() { awk -v n="$2" '/^PRINT /{p++; next} p+1==n && !/^BITMAP /' "$1"; }
all_setup() { grep -v -e '^PRINT ' -e '^BITMAP ' "$1" || true; }
ink_of() { awk -v n="$2" '/^PRINT /{p++; next} p+1==n && /^BITMAP /{s+=$(NF-2)} END{print s+0}' "$1"; }
# raster_field FIELD CASE: a page header field as the filter logged it.
raster_field() { sed -n "s/^E .*\] $1 = //p" "$jobs/$2.log" | sort -u | paste -sd' ' -; }
# picture_size PNG: "W H" in dots.
picture_size() { pngtopnm "$1" | pamfile | sed -n 's/.* \([0-9]*\) by \([0-9]*\) .*/\1 \2/p'; }

# default_setup SIZE-LINE: the setup lines the PPD defaults give (Direct
# thermal, gaps of 3 mm, no offset, tear-off, speed 4, darkness 8).
default_setup() {
  printf '%s\n' "$1" 'SET RIBBON OFF' 'GAP 3 mm,0 mm' 'OFFSET 0 mm' 'DIRECTION 0,0' \
    'REFERENCE 0,0' 'SET CUTTER OFF' 'SET TEAR ON' 'SET PEEL OFF' 'OFFSET 0 mm' 'SPEED 4' \
    'DENSITY 8' 'CLS'
}

declare -A dpi=([q203]=203 [q300]=300)
# Cases whose ink reaches beyond the label for a reported fault of the filter.
declare -A beyond_label_fault=(
  [pdf-negative]="kept as designed: a negative inks the row padding up to the next 32 dots (832 dots on an 812-dot page), and SIZE rounds 3 in down to 76 mm (607 rows for 609)"
)

job_state() {
  ipptool -c -d job_id="$2" -d user="$(id -un)" "$(sched_printer_uri "$1")" \
    "$here/job-state.test" 2>/dev/null | tail -n 1
}

# wait_job QUEUE ID: waits (60 s at most) until the job has ended; prints its
# final state.
wait_job() {
  local i s=""
  for i in $(seq 1 240); do
    s=$(job_state "$1" "$2" || true)
    case $s in completed | aborted | canceled) echo "$s"; return ;; esac
    sleep 0.25
  done
  echo "${s:-unknown} after 60 s"
}

# run_job CASE QUEUE FILE [LP-ARG]...: prints FILE with lp and waits for the
# job. Keeps what the queue wrote as CASE.prn, the scheduler's lines about the
# job as CASE.log, readlabel's summary as CASE.txt and the labels drawn as
# CASE-N.png; checks the job completed and that the job reads back cleanly.
# Returns 1 when the case's further checks would be moot.
run_job() {
  local case=$1 queue=$2 file=$3 reply id state i out
  shift 3
  out=$SCHED_ROOT/out/$queue.prn
  rm -f "$out"
  if ! reply=$(lp -d "$queue" -t "$case" "$@" "$file" 2>&1); then
    fail "$case: lp takes the job" "$reply"
    return 1
  fi
  id=$(sed -n 's/^request id is .*-\([0-9]*\) .*/\1/p' <<<"$reply")
  state=$(wait_job "$queue" "$id")
  # The scheduler logs the end of the job just after changing its state.
  for i in $(seq 1 50); do
    grep -qF "[Job $id] Job completed." "$SCHED_LOG" && break
    [ "$state" = completed ] || break
    sleep 0.1
  done
  grep -F "[Job $id]" "$SCHED_LOG" >"$jobs/$case.log" || true
  cp "$out" "$jobs/$case.prn" 2>/dev/null || : >"$jobs/$case.prn"
  if [ "$state" != completed ]; then
    fail "$case: job $id completed" "state: $state" \
      "$(grep -v -e '^D ' "$jobs/$case.log" | tail -n 8)"
    return 1
  fi
  pass "$case: job $id completed"
  if ! "$readlabel" --dpi "${dpi[$queue]}" --png "$jobs/$case" "$jobs/$case.prn" \
    >"$jobs/$case.txt" 2>"$jobs/$case.err"; then
    fail "$case: the job reads back strictly" "$(cat "$jobs/$case.err")"
    return 1
  fi
  pass "$case: the job reads back strictly"
  # readlabel warns of ink beyond the label that the SIZE line announces.
  if [ -n "${beyond_label_fault[$case]:-}" ]; then
    known_fault "$case: every bitmap lies inside its label" "${beyond_label_fault[$case]}" \
      test ! -s "$jobs/$case.err"
  else
    check "$case: every bitmap lies inside its label" bash -c "! cat '$jobs/$case.err' | grep ."
  fi
  check_job_log "$case"
}

# check_job_log CASE: what the scheduler's log says about the job. Our filter
# logs everything as "ERROR:" lines, which the scheduler records at its error
# level ("E"), among them each setup line it wrote ("Print Code=...").
check_job_log() {
  local case=$1 log=$jobs/$1.log
  check "$case: log: the chain ended in our filter, which exited cleanly" \
    grep -qE "PID [0-9]+ \(.*/filter/$FILTER_NAME\) exited with no errors" "$log"
  check "$case: log: the job is recorded as completed" grep -qF '] Job completed.' "$log"
  check_eq "$case: log: the filter's error-level lines repeat the setup it wrote" \
    "$(all_setup "$jobs/$case.txt")" \
    "$(sed -n 's/^E .*\] Print Code=//p' "$log")"
}

# ---------------------------------------------------------------- the labels

group "Test labels"
pdf=$work/label.pdf
pdf1=$work/label1.pdf
make_label_pdf "$pdf" 2
make_label_pdf "$pdf1" 1
# The same label as a picture, with grey (anti-aliased) edges as a screenshot
# or an image editor would give it: 812 x 609 dots, 4 x 3 in at 203 dpi.
png=$work/label.png
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r203 -dTextAlphaBits=4 \
  -dGraphicsAlphaBits=4 -sOutputFile="$png" "$pdf1"
check "the test PNG (ghostscript's drawing of the PDF) scans" scans "$png" UP "$QR_TEXT" "$BAR_TEXT"
check "sample/label.png scans" scans "$root/sample/label.png" UP "$SAMPLE_QR"

# ---------------------------------------------------------------- PPDs

group "Printer descriptions"
gen=$work/generated
"$root/ppd/generate.sh" "$gen" >/dev/null
for model in label203 label300; do
  # Comment lines carry the compiler's version; everything else must match.
  check "ppd/$model.ppd is what ppd/labelprinters.drv compiles to" \
    diff <(grep -v '^\*%' "$root/ppd/$model.ppd") <(grep -v '^\*%' "$gen/$model.ppd")
done

# ---------------------------------------------------------------- installation

group "Installation (cmake --install with DESTDIR)"
stage=$work/stage
DESTDIR=$stage cmake --install "$build" >"$work/install.log" 2>&1 ||
  { fail "cmake --install works" "$(cat "$work/install.log")"; exit 1; }
filter_dir=$(sed -n 's/^LABEL_CUPS_FILTER_DIR:PATH=//p' "$build/CMakeCache.txt")
ppd_dir=$(sed -n 's/^LABEL_PPD_DIR:PATH=//p' "$build/CMakeCache.txt")
inst_filter=$stage$filter_dir/$FILTER_NAME
check_eq "the filter goes to CUPS's filter folder" "$(cups-config --serverbin)/filter" "$filter_dir"
check "the filter is installed as $FILTER_NAME, executable, the built program" \
  bash -c "[ -x '$inst_filter' ] && cmp '$inst_filter' '$build/rastertolabel'"
check "nothing is installed under the name of CUPS's own rastertolabel" \
  bash -c "! find '$stage' -name rastertolabel | grep -q ."
check "no Debian package ships $filter_dir/$FILTER_NAME or $ppd_dir" \
  bash -c "! dpkg -S '$filter_dir/$FILTER_NAME' && ! dpkg -S '$ppd_dir'"
for model in label203 label300; do
  check "$model.ppd is installed in $ppd_dir" cmp "$root/ppd/$model.ppd" "$stage$ppd_dir/$model.ppd"
  check "$model.ppd hands raster to $FILTER_NAME" \
    grep -qx "\*cupsFilter2: \"application/vnd.cups-raster application/vnd.cups-label 0 $FILTER_NAME\"" \
    "$root/ppd/$model.ppd"
done

# ---------------------------------------------------------------- scheduler

group "Private scheduler"
sched_prepare "$work/cups" "$inst_filter" "$stage$ppd_dir"
for model in label203 label300; do
  # cupstestppd finds the filter in the private ServerBin. The only warnings
  # allowed are about size names: labels are named by their size in points
  # (w288h432), not by the Adobe paper names.
  name="cupstestppd passes $model.ppd (size-name warnings only)"
  if out=$(CUPS_SERVERBIN=$SCHED_ROOT/serverbin cupstestppd "$root/ppd/$model.ppd" 2>&1); then
    other=$(grep -v -e 'should be the Adobe standard name' -e ': PASS$' <<<"$out" || true)
    check_eq "$name" "" "$other"
  else
    fail "$name" "$out"
  fi
done

if ! sched_start; then
  fail "the scheduler starts"
  summary
  exit 1
fi
pass "the scheduler starts (pid $sched_pid, socket $SCHED_SOCKET)"

models=$(lpinfo -m 2>/dev/null || true)
check "lpinfo -m lists the 203 dpi model" \
  grep -qx 'thermallabel/label203.ppd Generic Thermal Label 203dpi, 1.0' <<<"$models"
check "lpinfo -m lists the 300 dpi model" \
  grep -qx 'thermallabel/label300.ppd Generic Thermal Label 300dpi, 1.0' <<<"$models"
for q in 203 300; do
  check "lpadmin -m adds queue q$q with a file: device" \
    lpadmin -p "q$q" -E -v "file:$SCHED_ROOT/out/q$q.prn" -m "thermallabel/label$q.ppd"
done

# The options as CUPS reads them from the queue's PPD: the filter compares
# choice names, and copies the numeric ones into the printer commands.
opts=$(lpoptions -p q203 -l)
choices() { sed -n "s|^$1/[^:]*: ||p" <<<"$opts"; }
check_eq "Dithering offers the filter's four modes, None by default" \
  "*None Threshold OrderDithering ErrorDiffusion" "$(choices Dithering)"
check_eq "Origin offers the four turns by their filter names" \
  "*Rotation0 Rotation90 Rotation180 Rotation270" "$(choices Origin)"
check_eq "MirrorImage is False/True, off by default" "*False True" "$(choices MirrorImage)"
check_eq "NegativeImage is False/True, off by default" "*False True" "$(choices NegativeImage)"
check_eq "MediaMethod is Direct/Transfer" "*Direct Transfer" "$(choices MediaMethod)"
check_eq "PaperType is LabelGaps/LabelMark/Continue" "*LabelGaps LabelMark Continue" "$(choices PaperType)"
check_eq "PostAction is TearOff/PeelOff/CutEvery/Batch" "*TearOff PeelOff CutEvery Batch" "$(choices PostAction)"
check_eq "ColorModel: 8-bit grey by default, 1-bit and RGB" "*Gray BlackWhite RGB" "$(choices ColorModel)"
for o in Threshold GapsHeight FeedPaper CutEveryLabels PrintSpeed Darkness; do
  c=$(choices "$o")
  check_eq "$o offers choices, all plain decimal numbers" "" \
    "$(if [ -z "$c" ]; then echo "no choices"; else tr ' ' '\n' <<<"$c" | grep -vxE '\*?-?[0-9]+'; fi)"
done
check "CutEveryLabels offers 0 (never cut)" grep -qwE '\*?0' <<<"$(choices CutEveryLabels)"

# ---------------------------------------------------------------- jobs

group "PDF label, defaults (203 dpi, Dithering None), 2 pages"
if run_job pdf-default q203 "$pdf" -o PageSize=w288h216; then
  t=$jobs/pdf-default.txt
  check_eq "pdf-default: one label per page, one copy each" "PRINT 1,1 PRINT 1,1" "$(print_lines "$t")"
  check_eq "pdf-default: label 1 setup: 4 x 3 in and the PPD defaults" \
    "$(default_setup 'SIZE 102 mm, 76 mm')" "$(setup_of "$t" 1)"
  check_eq "pdf-default: label 2 carries the same setup" "$(setup_of "$t" 1)" "$(setup_of "$t" 2)"
  check_eq "pdf-default: the label is drawn 4 x 3 in" "815 607" "$(picture_size "$jobs/pdf-default-1.png")"
  check "pdf-default: label 1 scans (QR, Code 128)" scans "$jobs/pdf-default-1.png" UP "$QR_TEXT" "$BAR_TEXT"
  check "pdf-default: label 2 scans (QR, Code 128)" scans "$jobs/pdf-default-2.png" UP "$QR_TEXT" "$BAR_TEXT"
  check_eq "pdf-default: the filter read 8-bit black-based grey (colour space 3)" "8 3" \
    "$(raster_field cupsBitsPerPixel pdf-default) $(raster_field cupsColorSpace pdf-default)"
fi

group "Grey conversion modes"
if run_job pdf-threshold q203 "$pdf1" -o PageSize=w288h216 -o Dithering=Threshold -o Threshold=10; then
  check "pdf-threshold (+10): the label scans" scans "$jobs/pdf-threshold-1.png" UP "$QR_TEXT" "$BAR_TEXT"
fi
for mode in OrderDithering ErrorDiffusion; do
  if run_job "pdf-$mode" q203 "$pdf1" -o PageSize=w288h216 -o Dithering=$mode; then
    check "pdf-$mode: the label scans" scans "$jobs/pdf-$mode-1.png" UP "$QR_TEXT" "$BAR_TEXT"
  fi
done
for mode in None Threshold; do
  if run_job "png-$mode" q203 "$png" -o PageSize=w288h216 -o Dithering=$mode; then
    check_eq "png-$mode: one label, 4 x 3 in" "SIZE 102 mm, 76 mm PRINT 1,1" \
      "$(grep -e '^SIZE' -e '^PRINT' "$jobs/png-$mode.txt" | paste -sd' ' -)"
    check "png-$mode: the grey-edged picture's label scans" \
      scans "$jobs/png-$mode-1.png" UP "$QR_TEXT" "$BAR_TEXT"
  fi
done
# A page of pure black and white (what ghostscript makes of vector art) with
# the PPD's default Threshold of 0: the automatic cut lands on black itself,
# which must still print.
if run_job pdf-threshold0 q203 "$pdf1" -o PageSize=w288h216 -o Dithering=Threshold; then
  check "pdf-threshold0: Dithering=Threshold, Threshold 0 prints the label's ink" \
    grep -q '^BITMAP' "$jobs/pdf-threshold0.txt"
  check "pdf-threshold0: its codes scan" \
    scans "$jobs/pdf-threshold0-1.png" UP "$QR_TEXT" "$BAR_TEXT"
fi
# The project's sample: a QR code of 3.3 dots a module with grey edges.
if run_job sample-threshold q203 "$root/sample/label.png" -o PageSize=w144h72 -o Dithering=Threshold; then
  check_eq "sample-threshold: 2 x 1 in label" "SIZE 51 mm, 25 mm" "$(grep '^SIZE' "$jobs/sample-threshold.txt")"
  check "sample-threshold: the sample's QR code scans" scans "$jobs/sample-threshold-1.png" UP "$SAMPLE_QR"
fi
if run_job sample-none q203 "$root/sample/label.png" -o PageSize=w144h72; then
  check "sample-none: with Dithering None the sample's QR code scans" \
    scans "$jobs/sample-none-1.png" UP "$SAMPLE_QR"
fi

group "Colour models: 1-bit and 24-bit raster"
for cm in BlackWhite:1 RGB:24; do
  name=${cm%%:*} bits=${cm##*:}
  if run_job "pdf-$name" q203 "$pdf1" -o PageSize=w288h216 -o ColorModel=$name; then
    check_eq "pdf-$name: the filter read a $bits-bit raster" "$bits" \
      "$(raster_field cupsBitsPerPixel "pdf-$name")"
    check "pdf-$name: the label scans" scans "$jobs/pdf-$name-1.png" UP "$QR_TEXT" "$BAR_TEXT"
  fi
done

group "Orientation, mirror, negative"
# The reference: the one-page label with the defaults.
run_job pdf-plain q203 "$pdf1" -o PageSize=w288h216 || true
if run_job pdf-rot90 q203 "$pdf1" -o PageSize=w288h216 -o Origin=Rotation90; then
  check_eq "pdf-rot90: the label size turns with the picture" "SIZE 76 mm, 102 mm" \
    "$(grep '^SIZE' "$jobs/pdf-rot90.txt")"
  check_eq "pdf-rot90: the label is drawn 3 x 4 in" "607 815" "$(picture_size "$jobs/pdf-rot90-1.png")"
  check "pdf-rot90: the label scans, turned clockwise" scans "$jobs/pdf-rot90-1.png" RIGHT "$QR_TEXT" "$BAR_TEXT"
fi
if run_job pdf-rot180 q203 "$pdf1" -o PageSize=w288h216 -o Origin=Rotation180; then
  check_eq "pdf-rot180: the label size stays" "SIZE 102 mm, 76 mm" "$(grep '^SIZE' "$jobs/pdf-rot180.txt")"
  check "pdf-rot180: the label scans, upside down" scans "$jobs/pdf-rot180-1.png" DOWN "$QR_TEXT" "$BAR_TEXT"
fi
if run_job pdf-rot270 q203 "$pdf1" -o PageSize=w288h216 -o Origin=Rotation270; then
  check_eq "pdf-rot270: the label size turns with the picture" "SIZE 76 mm, 102 mm" \
    "$(grep '^SIZE' "$jobs/pdf-rot270.txt")"
  check "pdf-rot270: the label scans, turned anticlockwise" \
    scans "$jobs/pdf-rot270-1.png" LEFT "$QR_TEXT" "$BAR_TEXT"
fi
if run_job pdf-mirror q203 "$pdf1" -o PageSize=w288h216 -o MirrorImage=True; then
  check "pdf-mirror: mirrored back, the label scans upright" \
    scans_flipped "$jobs/pdf-mirror-1.png" UP "$QR_TEXT" "$BAR_TEXT"
  # Compared over the raster's 812 dots: the drawing is 815 (102 mm) wide.
  check "pdf-mirror: exactly the plain label, flipped left to right" cmp \
    <(pngtopnm "$jobs/pdf-plain-1.png" | pnmcut -left 0 -width 812 | pnmflip -lr) \
    <(pngtopnm "$jobs/pdf-mirror-1.png" | pnmcut -left 0 -width 812)
fi
check_eq "turns and the mirror keep every dot of the plain label" \
  "$(for c in plain plain plain plain; do ink_of "$jobs/pdf-$c.txt" 1; done)" \
  "$(for c in rot90 rot180 rot270 mirror; do ink_of "$jobs/pdf-$c.txt" 1; done)"
if run_job pdf-negative q203 "$pdf1" -o PageSize=w288h216 -o NegativeImage=True; then
  check "pdf-negative: inverted back, the label scans upright" \
    scans_inverted "$jobs/pdf-negative-1.png" UP "$QR_TEXT" "$BAR_TEXT"
  check "pdf-negative: most of the label is ink" \
    bash -c "[ $(ink_of "$jobs/pdf-negative.txt" 1) -gt $((815 * 607 / 2)) ]"
fi

group "Copies: decided once, by the printer"
if run_job pdf-copies q203 "$pdf" -o PageSize=w288h216 -n 3; then
  check_eq "pdf-copies: lp -n 3 gives one PRINT 1,3 per page (6 labels, not 18 or 9)" \
    "PRINT 1,3 PRINT 1,3" "$(print_lines "$jobs/pdf-copies.txt")"
fi
# The printer cannot collate, so CUPS repeats the document itself: page 1,
# 2, 1, 2, each printed once.
if run_job pdf-collate q203 "$pdf" -o PageSize=w288h216 -n 2 -o collate=true; then
  t=$jobs/pdf-collate.txt
  check_eq "pdf-collate: -n 2 collated gives 4 labels of one copy" \
    "PRINT 1,1 PRINT 1,1 PRINT 1,1 PRINT 1,1" "$(print_lines "$t")"
  check "pdf-collate: in the order 1, 2, 1, 2" bash -c \
    "[ $(ink_of "$t" 1) = $(ink_of "$t" 3) ] && [ $(ink_of "$t" 2) = $(ink_of "$t" 4) ] && [ $(ink_of "$t" 1) != $(ink_of "$t" 2) ]"
fi

group "Media and finishing settings"
small=(-o PageSize=w144h72)
if run_job cut-every q203 "$root/sample/label.png" "${small[@]}" -o MediaMethod=Transfer \
  -o PaperType=LabelMark -o GapsHeight=4 -o FeedPaper=-2 -o PostAction=CutEvery \
  -o CutEveryLabels=5 -o PrintSpeed=2 -o Darkness=12; then
  check_eq "cut-every: ribbon, black mark, offset, cutter every 5, speed, darkness" \
    "$(printf '%s\n' 'SIZE 51 mm, 25 mm' 'SET RIBBON ON' 'BLINE 4 mm,0 mm' 'OFFSET -2 mm' \
      'DIRECTION 0,0' 'REFERENCE 0,0' 'SET PEEL OFF' 'SET TEAR OFF' 'SET CUTTER 5' \
      'OFFSET -2 mm' 'SPEED 2' 'DENSITY 12' 'CLS')" "$(setup_of "$jobs/cut-every.txt" 1)"
fi
if run_job cut-never q203 "$root/sample/label.png" "${small[@]}" -o PostAction=CutEvery \
  -o CutEveryLabels=0 -o PaperType=Continue; then
  check_eq "cut-never: continuous media, and CutEveryLabels 0 leaves the cutter alone" \
    "$(printf '%s\n' 'SIZE 51 mm, 25 mm' 'SET RIBBON OFF' 'GAP 0 mm, 0 mm' 'OFFSET 0 mm' \
      'DIRECTION 0,0' 'REFERENCE 0,0' 'OFFSET 0 mm' 'SPEED 4' 'DENSITY 8' 'CLS')" \
    "$(setup_of "$jobs/cut-never.txt" 1)"
fi
if run_job batch q203 "$root/sample/label.png" "${small[@]}" -o PostAction=Batch; then
  check_eq "batch: the cutter cuts at the end of the batch" \
    "$(printf '%s\n' 'SET PEEL OFF' 'SET TEAR OFF' 'SET CUTTER BATCH')" \
    "$(setup_of "$jobs/batch.txt" 1 | sed -n '/^SET [PTC]/p')"
fi
if run_job peel q203 "$root/sample/label.png" "${small[@]}" -o PostAction=PeelOff; then
  check_eq "peel: the peeler takes the label" \
    "$(printf '%s\n' 'SET PEEL ON' 'SET CUTTER OFF' 'SET TEAR OFF')" \
    "$(setup_of "$jobs/peel.txt" 1 | sed -n '/^SET [PTC]/p')"
fi

group "Label sizes"
# Each size: the SIZE line, and the raster CUPS hands the filter (dots).
for sz in 'w71h43:SIZE 25 mm, 15 mm:200x120' 'w283h425:SIZE 100 mm, 150 mm:799x1199' \
  'w288h864:SIZE 102 mm, 305 mm:812x2436' 'Custom.2x1.5in:SIZE 51 mm, 38 mm:406x304'; do
  IFS=: read -r size want_size want_dots <<<"$sz"
  if run_job "size-$size" q203 "$pdf1" -o PageSize="$size"; then
    check_eq "size-$size: one label of its size" "$want_size PRINT 1,1" \
      "$(grep -e '^SIZE' -e '^PRINT' "$jobs/size-$size.txt" | paste -sd' ' -)"
    check_eq "size-$size: a raster of $want_dots dots" "$want_dots" \
      "$(raster_field cupsWidth "size-$size")x$(raster_field cupsHeight "size-$size")"
  fi
done

group "300 dpi printer"
if run_job pdf-300 q300 "$pdf1" -o PageSize=w288h216; then
  t=$jobs/pdf-300.txt
  check_eq "pdf-300: the default setup at 4 x 3 in" "$(default_setup 'SIZE 102 mm, 76 mm')" "$(setup_of "$t" 1)"
  check_eq "pdf-300: the label is drawn at 300 dpi" "1205 898" "$(picture_size "$jobs/pdf-300-1.png")"
  check "pdf-300: every bitmap fits the 1248-dot head" \
    awk -F'[ ,]' '/^BITMAP/ && $2 + 8 * $4 > 1248 {bad=1} END {exit bad}' "$t"
  check "pdf-300: the label scans" scans "$jobs/pdf-300-1.png" UP "$QR_TEXT" "$BAR_TEXT"
fi

# ---------------------------------------------------------------- cupsfilter

group "Without a scheduler: scripts/print-pdf.sh (cupsfilter)"
quick=$work/quick.job
if LABEL_FILTER=$build/rastertolabel "$root/scripts/print-pdf.sh" "$pdf" "$quick" PageSize=w288h216 \
  >"$work/quick.out" 2>&1; then
  pass "print-pdf.sh turns the PDF into a printer job"
  check "print-pdf.sh: the job is byte for byte what the queue printed" cmp "$quick" "$jobs/pdf-default.prn"
else
  fail "print-pdf.sh turns the PDF into a printer job" "$(cat "$work/quick.out")"
fi
if LABEL_FILTER=$build/rastertolabel "$root/scripts/print-pdf.sh" "$pdf" "$quick" PageSize=w288h216 \
  copies=2 Darkness=3 >"$work/quick.out" 2>&1 &&
  "$readlabel" "$quick" >"$work/quick.txt" 2>&1; then
  check_eq "print-pdf.sh: copies and options reach the job" "DENSITY 3 PRINT 1,2 DENSITY 3 PRINT 1,2" \
    "$(grep -e '^DENSITY' -e '^PRINT' "$work/quick.txt" | paste -sd' ' -)"
else
  fail "print-pdf.sh with copies=2 Darkness=3" "$(cat "$work/quick.out" "$work/quick.txt" 2>/dev/null)"
fi
check "print-pdf.sh refuses a missing input" \
  bash -c "! '$root/scripts/print-pdf.sh' '$work/none.pdf' '$work/none.job' 2>/dev/null"

# ---------------------------------------------------------------- scheduler log

group "Scheduler log"
check "no queue was stopped, no filter refused" \
  bash -c "! grep -E 'insecure permissions|Unable to execute|Stopping printer|Printer stopped' '$SCHED_LOG'"

echo
echo "e2e: $((SECONDS - started)) s"
summary
