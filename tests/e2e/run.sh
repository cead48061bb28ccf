#!/usr/bin/env bash
# End to end: the shipped PPDs, the installation, a private CUPS scheduler printing documents
# through CUPS's chains into our installed programs, what the user sees of it (log, printer
# state, label count), and cupsfilter. Every job is read back strictly, drawn and scanned.
#   tests/e2e/run.sh [BUILD_DIR]   (scripts/e2e.sh builds first); E2E_KEEP keeps /tmp/e2e.*
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
readlabel=$build/tools/readlabel
source "$here/checks.sh"
source "$here/scheduler.sh"

[ "$(id -u)" -eq 0 ] || { echo "e2e: run as root (the scheduler runs filters as user lp)" >&2; exit 2; }
for tool in cupsd lpadmin lp lpinfo lpoptions lpstat ipptool cupsfilter cupstestppd ppdc ps2pdf gs \
  zint zbarimg pngtopnm pnmflip pnminvert; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool is missing; run scripts/install-deps.sh" >&2; exit 2; }
done

# Short: the scheduler's socket path inside must fit in 108 bytes.
work=$(mktemp -d /tmp/e2e.XXXXXX)
chmod 0755 "$work" # the scheduler's user (lp) reads the installed files in here
jobs=$work/jobs
mkdir -p "$jobs" "$work/home"
export HOME=$work/home # the client tools would read the user's own ~/.cups
cleanup() {
  sched_stop
  if [ "$failed" -eq 0 ] && [ -z "${E2E_KEEP:-}" ]; then rm -rf "$work"; else echo "e2e: work folder kept: $work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
started=$SECONDS
QR_TEXT=E2E-0042-LABEL
BAR_TEXT=LBL-12345
SAMPLE_QR=PKG-0042 # in sample/label.png

# code_proc NAME SYMBOLOGY TEXT [ZINT-ARG]...: a code drawn by zint, as a PostScript procedure.
code_proc() {
  echo "/$1 {"
  zint -b "$2" -d "$3" --notext --filetype=eps --direct "${@:4}" | grep -v '^%'
  echo '} def'
}
# make_label_pdf OUT PAGES [QR-TEXT BAR-TEXT]: the test label (label.ps), a PDF of PAGES 4 x 3 inch
# labels.
make_label_pdf() {
  { code_proc qrcode 58 "${3:-$QR_TEXT}"; code_proc barcode 20 "${4:-$BAR_TEXT}" --height=32
    echo "/pages $2 def"; cat "$here/label.ps"; } | ps2pdf - "$1"
}

# scans IMAGE ORIENTATION TEXT...: zbarimg reads every TEXT from IMAGE, its top pointing UP,
# RIGHT, DOWN or LEFT. IMAGE may be "flip:FILE" or "invert:FILE" to read it mirrored or inverted.
scans() {
  local img=$1 orient=$2 got want
  shift 2
  case $img in
    flip:*) pngtopnm "${img#flip:}" | pnmflip -lr >"$work/view.pnm" && img=$work/view.pnm ;;
    invert:*) pngtopnm "${img#invert:}" | pnminvert >"$work/view.pnm" && img=$work/view.pnm ;;
  esac
  got=$(zbarimg -q --xml "$img" 2>/dev/null |
    sed -n "s/.*orientation='\([A-Z]*\)'.*CDATA\[\(.*\)\]\]>.*/\2 \1/p" || true)
  for want in "$@"; do
    grep -qxF -- "$want $orient" <<<"$got" || { echo "wanted $want $orient, read: ${got:-nothing}"; return 1; }
  done
}

# Views of readlabel's summary of a job (CASE.txt): pages end with PRINT.
print_lines() { grep '^PRINT ' "$1" | paste -sd' ' -; }
setup_of() { awk -v n="$2" '/^PRINT /{p++; next} p+1==n && !/^BITMAP /' "$1"; }
ink_of() { awk -v n="$2" '/^PRINT /{p++; next} p+1==n && /^BITMAP /{s+=$(NF-2)} END{print s+0}' "$1"; }
size_line() { grep -e '^SIZE' "$jobs/$1.txt" | sort -u; }
# raster_field FIELD CASE: a page header field as the filter traced it.
raster_field() { sed -n "s/^D .*\] $1 = //p" "$jobs/$2.log" | sort -u | paste -sd' ' -; }
picture_size() { pngtopnm "$1" | pamfile | sed -n 's/.* \([0-9]*\) by \([0-9]*\) .*/\1 \2/p'; }
# default_setup SIZE-LINE: the setup lines of the PPD defaults.
default_setup() {
  printf '%s\n' "$1" 'SET RIBBON OFF' 'GAP 3 mm,0 mm' 'OFFSET 0 mm' 'DIRECTION 0,0' \
    'REFERENCE 0,0' 'SET CUTTER OFF' 'SET TEAR ON' 'SET PEEL OFF' 'OFFSET 0 mm' 'SPEED 4' \
    'DENSITY 8' 'CLS'
}
declare -A dpi=([q203]=203 [q300]=300)
# inside_label ERRORS TOLERANCE: readlabel found no fault, and no bitmap beyond its label by more
# than TOLERANCE dots.
inside_label() {
  sed -n 's/.*BITMAP \([0-9]*\),\([0-9]*\),\([0-9]*\),\([0-9]*\) reaches beyond the \([0-9]*\)x\([0-9]*\)-dot.*/\1 \2 \3 \4 \5 \6/p; t; s/.*/fault/p' "$1" |
    awk -v tol="$2" '$1 == "fault" || $1 + 8 * $3 > $5 + tol || $2 + $4 > $6 + tol {print; bad = 1} END {exit bad}'
}
declare -A job_id

# ipp QUEUE ATTRIBUTE [JOB-ID]: an attribute of the queue or of one of its jobs, as ipptool -c
# prints it.
ipp() {
  local op=Get-Printer-Attributes job=""
  [ -n "${3:-}" ] && op=Get-Job-Attributes job="ATTR integer job-id $3"
  ipptool -c "$(sched_printer_uri "$1")" /dev/stdin 2>/dev/null <<TEST | tail -n 1
{
  OPERATION $op
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  $job
  ATTR name requesting-user-name $(id -un)
  ATTR keyword requested-attributes $2
  DISPLAY $2
}
TEST
}

# wait_job QUEUE ID: waits (60 s at most) until the job has ended; prints its final state. Keeps
# what lpstat -l -p shows meanwhile in states.txt.
wait_job() {
  local i s=""
  for i in $(seq 1 240); do
    lpstat -l -p "$1" >>"$work/states.txt" 2>&1 || true
    s=$(ipp "$1" job-state "$2" || true)
    case $s in completed | aborted | canceled) echo "$s"; return ;; esac
    sleep 0.25
  done
  echo "${s:-unknown} after 60 s"
}

# run_job CASE QUEUE FILE [LP-ARG]...: prints FILE with lp and waits for the job. Keeps what the
# queue wrote (CASE.prn), the scheduler's lines about the job (CASE.log), readlabel's summary
# (CASE.txt) and drawings (CASE-N.png); checks that the job completed, reads back cleanly and
# stays inside its label, and what the log says. Returns 1 when further checks would be moot.
run_job() {
  local case=$1 queue=$2 file=$3 reply id state out=$SCHED_ROOT/out/$2.prn
  shift 3
  rm -f "$out"
  reply=$(lp -d "$queue" -t "$case" "$@" "$file" 2>&1) || { fail "$case: lp takes the job" "$reply"; return 1; }
  id=$(sed -n 's/^request id is .*-\([0-9]*\) .*/\1/p' <<<"$reply")
  job_id[$case]=$id
  state=$(wait_job "$queue" "$id")
  for _ in $(seq 1 50); do # the log's last line about the job comes just after its state
    grep -qF "[Job $id] Job completed." "$SCHED_LOG" || [ "$state" != completed ] && break
    sleep 0.1
  done
  grep -F "[Job $id]" "$SCHED_LOG" >"$jobs/$case.log" || true
  cp "$out" "$jobs/$case.prn" 2>/dev/null || : >"$jobs/$case.prn"
  [ "$state" = completed ] || { fail "$case: job $id completed" "state: $state" "$(grep -v '^D ' "$jobs/$case.log" | tail -n 8)"; return 1; }
  pass "$case: job $id completed"
  if ! "$readlabel" --dpi "${dpi[$queue]}" --png "$jobs/$case" "$jobs/$case.prn" >"$jobs/$case.txt" 2>"$jobs/$case.err"; then
    fail "$case: the job reads back strictly" "$(cat "$jobs/$case.err")"
    return 1
  fi
  if [ "$case" = pdf-negative ]; then # a negative inks each row's padding, to the next 32 dots
    check "$case: reads back strictly, ink beyond the label only in the row padding" \
      awk -F'[ ,]' '/^BITMAP/ && $2 + 8 * $4 > 832 {bad=1} END {exit bad}' "$jobs/$case.txt"
  else # SIZE is in whole millimetres: a raster may pass it by the half millimetre rounded away
    check "$case: reads back strictly, every bitmap inside its label" inside_label "$jobs/$case.err" $((${dpi[$queue]} / 50))
  fi
  local last
  last=$(sed -n 's|.*Started filter .*/filter/\([a-z]*\) .*|\1|p' "$jobs/$case.log" | tail -n 1)
  check "$case: log: our filter ended the chain ($last) cleanly" \
    grep -qE "PID [0-9]+ \(.*/filter/(rastertothermallabel|pdftothermallabel)\) exited with no errors" "$jobs/$case.log"
  check_eq "$case: log: the traces repeat the setup written" "$(grep -v -e '^PRINT ' -e '^BITMAP ' "$jobs/$case.txt")" \
    "$(sed -n 's/^D .*\] Print Code=//p' "$jobs/$case.log")"
  check_eq "$case: the scheduler counts the labels printed" \
    "$(awk '/^PRINT /{split($2, a, ","); s += a[2]} END {print s}' "$jobs/$case.txt")" \
    "$(ipp "$queue" job-impressions-completed "$id")"
}

# ---------------------------------------------------------------- labels, PPDs, installation

group "Test labels"
pdf=$work/label.pdf pdf1=$work/label1.pdf png=$work/label.png
make_label_pdf "$pdf" 2
make_label_pdf "$pdf1" 1
# The label as a picture with grey edges, as a screenshot gives it: 812 x 609 dots.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r203 -dTextAlphaBits=4 -dGraphicsAlphaBits=4 \
  -sOutputFile="$png" "$pdf1"
check "the test PNG scans" scans "$png" UP "$QR_TEXT" "$BAR_TEXT"

group "Printer descriptions and installation"
"$root/ppd/generate.sh" "$work/generated" >/dev/null
for model in label203 label300; do # comment lines carry the compiler's version
  check "ppd/$model.ppd is what ppd/labelprinters.drv compiles to" \
    diff <(grep -v '^\*%' "$root/ppd/$model.ppd") <(grep -v '^\*%' "$work/generated/$model.ppd")
done
stage=$work/stage
DESTDIR=$stage cmake --install "$build" >"$work/install.log" 2>&1 || { fail "cmake --install works" "$(cat "$work/install.log")"; exit 1; }
filter_dir=$(sed -n 's/^LABEL_CUPS_FILTER_DIR:PATH=//p' "$build/CMakeCache.txt")
ppd_dir=$(sed -n 's/^LABEL_PPD_DIR:PATH=//p' "$build/CMakeCache.txt")
inst_filter=$stage$filter_dir/$FILTER_NAME
check_eq "the filter goes to CUPS's filter folder" "$(cups-config --serverbin)/filter" "$filter_dir"
check "the filter is installed as $FILTER_NAME, the built program" cmp "$inst_filter" "$build/rastertolabel"
check "nothing is installed under the name of CUPS's own rastertolabel, no Debian file replaced" \
  bash -c "! find '$stage' -name rastertolabel | grep -q . && ! dpkg -S '$filter_dir/$FILTER_NAME' && ! dpkg -S '$ppd_dir'"
for model in label203 label300; do
  check "$model.ppd is installed in $ppd_dir" cmp "$root/ppd/$model.ppd" "$stage$ppd_dir/$model.ppd"
done

# ---------------------------------------------------------------- scheduler

group "Private scheduler"
sched_prepare "$work/cups" "$inst_filter" "$stage$ppd_dir"
for model in label203 label300; do
  # The only warnings allowed are about size names (w288h432, not the Adobe paper names).
  out=$(CUPS_SERVERBIN=$SCHED_ROOT/serverbin cupstestppd "$root/ppd/$model.ppd" 2>&1) || fail "cupstestppd passes $model.ppd" "$out"
  check_eq "cupstestppd: $model.ppd warns only of size names" "" \
    "$(grep -v -e 'should be the Adobe standard name' -e ': PASS$' <<<"$out" || true)"
done
sched_start || { fail "the scheduler starts"; summary; exit 1; }
pass "the scheduler starts (pid $sched_pid)"
check_eq "lpinfo -m lists both models" \
  "thermallabel/label203.ppd Generic Thermal Label 203dpi, 1.0
thermallabel/label300.ppd Generic Thermal Label 300dpi, 1.0" "$(lpinfo -m 2>/dev/null | grep thermallabel | sort)"
for q in 203 300; do
  check "lpadmin -m adds queue q$q with a file: device" \
    lpadmin -p "q$q" -E -v "file:$SCHED_ROOT/out/q$q.prn" -m "thermallabel/label$q.ppd"
done
# The filter compares choice names and copies the numeric ones into the commands.
check_eq "the options and their choices, as lpoptions reads them" \
  "ColorModel: *Gray BlackWhite RGB
Dithering: None *Threshold OrderDithering ErrorDiffusion
MediaMethod: *Direct Transfer
MirrorImage: *False True
NegativeImage: *False True
Origin: *Rotation0 Rotation90 Rotation180 Rotation270
PaperType: *LabelGaps LabelMark Continue
PostAction: *TearOff PeelOff CutEvery Batch
numbers: Threshold GapsHeight FeedPaper CutEveryLabels PrintSpeed Darkness" \
  "$(lpoptions -p q203 -l | sed 's|/[^:]*:|:|' | awk -F': ' '
    $2 ~ /^(\*?-?[0-9]+ ?)+$/ {n = n " " $1; next} $1 != "PageSize" && $1 != "PageRegion" && $1 != "Resolution" {print}
    END {print "numbers:" n}' | sort)"

# ---------------------------------------------------------------- jobs

group "PDF label, the PPD defaults (203 dpi, Threshold -10), 2 pages"
if run_job pdf-default q203 "$pdf" -o PageSize=w288h216; then
  t=$jobs/pdf-default.txt
  check_eq "pdf-default: one label per page, one copy each" "PRINT 1,1 PRINT 1,1" "$(print_lines "$t")"
  check_eq "pdf-default: label 1: 4 x 3 in and the PPD defaults" "$(default_setup 'SIZE 102 mm, 76 mm')" "$(setup_of "$t" 1)"
  for n in 1 2; do check "pdf-default: label $n scans" scans "$jobs/pdf-default-$n.png" UP "$QR_TEXT" "$BAR_TEXT"; done
  check_eq "pdf-default: the filter read 8-bit black-based grey" "8 3" \
    "$(raster_field cupsBitsPerPixel pdf-default) $(raster_field cupsColorSpace pdf-default)"
  check_eq "pdf-default: PDF pages take pdftopdf and our PDF entry, which renders with pdftoraster" \
    "pdftopdf pdftothermallabel pdftoraster" \
    "$(sed -n 's|.*Started filter .*/filter/\([a-z]*\) .*|\1|p; s|.*Rendering the PDF pages with .*/\([a-z]*\)$|\1|p' "$jobs/pdf-default.log" | paste -sd' ' -)"
fi
check_eq "cupsfilter --list-filters: a PDF takes pdftopdf and our PDF entry" "pdftopdf pdftothermallabel" \
  "$(cupsfilter -c "$SCHED_FILES_CONF" -p "$root/ppd/label203.ppd" -e -m printer/thermallabel --list-filters "$pdf" 2>/dev/null | paste -sd' ' -)"
# Other documents take CUPS's own chains into the filter.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeggray -r203 -sOutputFile="$work/label.jpg" "$pdf1"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ps2write -sOutputFile="$work/label.ps" "$pdf1"
printf 'LABEL %s\nline two\n' "$QR_TEXT" >"$work/label.txt"
for kind in jpg txt ps; do
  run_job "doc-$kind" q203 "$work/label.$kind" -o PageSize=w288h216 </dev/null && check "doc-$kind: prints ink" grep -q '^BITMAP' "$jobs/doc-$kind.txt"
done

group "Conversion modes, colour models"
# CASE FILE OPTIONS...: each label must scan upright.
while read -r case file opts; do
  # shellcheck disable=SC2086
  run_job "$case" q203 "${!file}" -o PageSize=w288h216 $opts </dev/null &&
    check "$case: the label scans" scans "$jobs/$case-1.png" UP "$QR_TEXT" "$BAR_TEXT"
done <<'CASES'
pdf-threshold pdf1 -o Dithering=Threshold -o Threshold=10
pdf-threshold0 pdf1 -o Dithering=Threshold
pdf-ordered pdf1 -o Dithering=OrderDithering
pdf-diffusion pdf1 -o Dithering=ErrorDiffusion
png-None png -o Dithering=None
png-Threshold png -o Dithering=Threshold
pdf-BlackWhite pdf1 -o ColorModel=BlackWhite
pdf-RGB pdf1 -o ColorModel=RGB
CASES
check_eq "the colour models reach the filter as 1- and 24-bit rasters" "1 24" \
  "$(raster_field cupsBitsPerPixel pdf-BlackWhite) $(raster_field cupsBitsPerPixel pdf-RGB)"
run_job sample q203 "$root/sample/label.png" -o PageSize=w144h72 && # 3.3 dots a module, grey edges
  check "sample: the sample's QR code scans" scans "$jobs/sample-1.png" UP "$SAMPLE_QR"

group "Orientation, mirror, negative"
run_job pdf-plain q203 "$pdf1" -o PageSize=w288h216 || true
while read -r case opt size drawn view orient; do
  run_job "$case" q203 "$pdf1" -o PageSize=w288h216 -o "$opt" </dev/null || continue
  [ "$view" = - ] && view=""
  check_eq "$case: the label's size, and its drawing's" "${size//_/ } ${drawn//_/ }" \
    "$(size_line "$case") $(picture_size "$jobs/$case-1.png")"
  check "$case: the label scans $orient" scans "$view$jobs/$case-1.png" "$orient" "$QR_TEXT" "$BAR_TEXT"
done <<'CASES'
pdf-rot90 Origin=Rotation90 SIZE_76_mm,_102_mm 607_815 - RIGHT
pdf-rot270 Origin=Rotation270 SIZE_76_mm,_102_mm 607_815 - LEFT
pdf-mirror MirrorImage=True SIZE_102_mm,_76_mm 815_607 flip: UP
pdf-negative NegativeImage=True SIZE_102_mm,_76_mm 815_607 invert: UP
CASES
check "pdf-mirror: exactly the plain label, flipped left to right (over the raster's 812 dots)" cmp \
  <(pngtopnm "$jobs/pdf-plain-1.png" | pnmcut -left 0 -width 812 | pnmflip -lr) \
  <(pngtopnm "$jobs/pdf-mirror-1.png" | pnmcut -left 0 -width 812)
check_eq "turns and the mirror keep every dot of the plain label" \
  "$(for c in plain plain plain; do ink_of "$jobs/pdf-$c.txt" 1; done)" \
  "$(for c in rot90 rot270 mirror; do ink_of "$jobs/pdf-$c.txt" 1; done)"

group "Copies, media and finishing, sizes"
run_job pdf-copies q203 "$pdf" -o PageSize=w288h216 -n 3 &&
  check_eq "pdf-copies: lp -n 3 gives one PRINT 1,3 per page" "PRINT 1,3 PRINT 1,3" "$(print_lines "$jobs/pdf-copies.txt")"
if run_job pdf-collate q203 "$pdf" -o PageSize=w288h216 -n 2 -o collate=true; then
  t=$jobs/pdf-collate.txt # the printer cannot collate: CUPS repeats the document
  check_eq "pdf-collate: -n 2 collated gives labels 1, 2, 1, 2 of one copy each" \
    "PRINT 1,1 PRINT 1,1 PRINT 1,1 PRINT 1,1 $(ink_of "$t" 1) $(ink_of "$t" 2)" \
    "$(print_lines "$t") $(ink_of "$t" 3) $(ink_of "$t" 4)"
fi
while read -r case opts; do
  want=$(sed -n "/^$case /{s/^$case //; s/|/\n/g; p}" <<'WANT'
cut-every SIZE 51 mm, 25 mm|SET RIBBON ON|BLINE 4 mm,0 mm|OFFSET -2 mm|DIRECTION 0,0|REFERENCE 0,0|SET PEEL OFF|SET TEAR OFF|SET CUTTER 5|OFFSET -2 mm|SPEED 2|DENSITY 12|CLS
cut-never SIZE 51 mm, 25 mm|SET RIBBON OFF|GAP 0 mm, 0 mm|OFFSET 0 mm|DIRECTION 0,0|REFERENCE 0,0|OFFSET 0 mm|SPEED 4|DENSITY 8|CLS
WANT
)
  # shellcheck disable=SC2086
  run_job "$case" q203 "$root/sample/label.png" -o PageSize=w144h72 $opts </dev/null &&
    check_eq "$case: the setup the options ask for" "$want" "$(setup_of "$jobs/$case.txt" 1)"
done <<'CASES'
cut-every -o MediaMethod=Transfer -o PaperType=LabelMark -o GapsHeight=4 -o FeedPaper=-2 -o PostAction=CutEvery -o CutEveryLabels=5 -o PrintSpeed=2 -o Darkness=12
cut-never -o PostAction=CutEvery -o CutEveryLabels=0 -o PaperType=Continue
CASES
# Each size: the SIZE line, and the raster CUPS hands the filter (dots).
for sz in 'w71h43:SIZE 25 mm, 15 mm:197x118' 'w283h425:SIZE 100 mm, 150 mm:799x1199' \
  'w288h864:SIZE 102 mm, 305 mm:812x2436' 'Custom.2x1.5in:SIZE 51 mm, 38 mm:406x305'; do
  IFS=: read -r size want_size want_dots <<<"$sz"
  run_job "size-$size" q203 "$pdf1" -o PageSize="$size" &&
    check_eq "size-$size: a label of its size from a raster of $want_dots dots" "$want_size $want_dots" \
      "$(size_line "size-$size") $(raster_field cupsWidth "size-$size")x$(raster_field cupsHeight "size-$size")"
done
if run_job pdf-300 q300 "$pdf1" -o PageSize=w288h216; then
  t=$jobs/pdf-300.txt
  check_eq "pdf-300: the default setup at 4 x 3 in" "$(default_setup 'SIZE 102 mm, 76 mm')" "$(setup_of "$t" 1)"
  check_eq "pdf-300: the label is drawn at 300 dpi" "1205 898" "$(picture_size "$jobs/pdf-300-1.png")"
  check "pdf-300: the label scans" scans "$jobs/pdf-300-1.png" UP "$QR_TEXT" "$BAR_TEXT"
fi

# ---------------------------------------------------------------- what the user sees

group "Printer state, labels wider than the head, the page dump"
if run_job wide q203 "$pdf1" -o PageSize=Custom.5x3in; then
  check_eq "wide: a 5 in label on the 4 in head is cut to the head" "SIZE 104 mm, 76 mm" "$(size_line wide)"
  check "wide: no bitmap reaches past the head's 832 dots" awk -F'[ ,]' '/^BITMAP/ && $2 + 8 * $4 > 832 {bad=1} END {exit bad}' "$jobs/wide.txt"
  check "wide: the log warns the user" grep -q "^W .*Label 1 is 127 mm wide, wider than the 104 mm print head: printed cut to 104 mm" "$jobs/wide.log"
fi
check "no trace line ever showed as the printer's state (lpstat -l -p)" \
  bash -c "! grep -E 'ProcessData|Color2BW|Tarvo|Starting page|StartPage|free |Print Code|EndPage' '$work/states.txt'"
check "the page dump is in the scheduler's temporary folder, the job user's alone" \
  bash -c "[ \"\$(stat -c '%U %a' '$SCHED_ROOT/spool/tmp/Buf.bmp')\" = 'lp 600' ]"
printf 'XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX' >"$work/garbage.ras"
lp -d q203 -o document-format=application/vnd.cups-raster "$work/garbage.ras" >/dev/null 2>&1
for _ in $(seq 1 40); do [ -n "$(ipp q203 printer-state-message)" ] && break; sleep 0.25; done
check_eq "a raster that cannot be read leaves its error as the printer's state" \
  "The input is not a raster stream: Unknown raster format 58585858!" "$(ipp q203 printer-state-message)"

group "At the scheduler's default LogLevel warn, with the dump off"
sched_stop
sed -i 's/^LogLevel .*/LogLevel warn/' "$SCHED_ROOT/etc/cupsd.conf"
echo 'SetEnv RASTERTOLABEL_DUMP ""' >>"$SCHED_FILES_CONF"
rm -f "$SCHED_ROOT/spool/tmp/Buf.bmp"
sched_start || { fail "the scheduler starts again"; summary; exit 1; }
make_label_pdf "$work/label100.pdf" 100
lines=$(wc -l <"$SCHED_LOG")
reply=$(lp -d q203 -o PageSize=w288h216 "$work/label100.pdf")
id=$(sed -n 's/^request id is .*-\([0-9]*\) .*/\1/p' <<<"$reply")
check_eq "a 100-label job completes and counts 100 labels" "completed 100" \
  "$(wait_job q203 "$id") $(ipp q203 job-impressions-completed "$id")"
check "the 100-label job added fewer than 5 lines to the error log" \
  bash -c "[ \$(( \$(wc -l <'$SCHED_LOG') - $lines )) -lt 5 ] || tail -n +$((lines + 1)) '$SCHED_LOG'"
check "SetEnv RASTERTOLABEL_DUMP \"\" turns the dump off" test ! -e "$SCHED_ROOT/spool/tmp/Buf.bmp"

# ---------------------------------------------------------------- cupsfilter

group "Without a scheduler: scripts/print-pdf.sh (cupsfilter)"
quick=$work/quick.job
if LABEL_FILTER=$build/rastertolabel "$root/scripts/print-pdf.sh" "$pdf" "$quick" PageSize=w288h216 >"$work/quick.out" 2>&1; then
  check "print-pdf.sh: the job is byte for byte what the queue printed" cmp "$quick" "$jobs/pdf-default.prn"
else
  fail "print-pdf.sh turns the PDF into a printer job" "$(cat "$work/quick.out")"
fi
# Where pdftoraster is missing the PDF entry renders with Ghostscript, and says so.
make_serverbin "$work/nopoppler" "$build/rastertolabel" pdftoraster
printf 'ServerBin %s\n' "$work/nopoppler" >"$work/nopoppler.conf"
cupsfilter -c "$work/nopoppler.conf" -p "$root/ppd/label203.ppd" -e -m printer/thermallabel \
  -o PageSize=w288h216 "$pdf1" >"$work/gs.job" 2>"$work/gs.log" || true
check "without pdftoraster: the label still prints, through gstoraster" grep -q '^BITMAP' <("$readlabel" "$work/gs.job" 2>&1)
check "without pdftoraster: the log says so" grep -q 'WARNING: pdftoraster (cups-filters) is not installed' "$work/gs.log"

group "Scheduler log"
check "no queue was stopped, no filter refused" \
  bash -c "! grep -E 'insecure permissions|Unable to execute|Stopping printer|Printer stopped' '$SCHED_LOG'"

echo
echo "e2e: $((SECONDS - started)) s"
summary
