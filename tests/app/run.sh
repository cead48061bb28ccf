#!/usr/bin/env bash
# The printer application (thermallabel-app) against real clients.
#
#   tests/app/run.sh BUILD_DIR [PART...]      parts (default all):
#     ipp   CUPS's IPP Everywhere and IPP/2.0 suites; labels byte for byte as
#           the filter makes them from the same page and settings; what PAPPL
#           1.3.1 gets wrong; malformed requests; settings across a restart
#     cups  a driverless queue of a private CUPS scheduler prints a PDF label
#           whose QR code scans (root)
#     web   the settings page in headless Chromium: a darkness saved there
#           reaches the next label; screenshot in the work folder (root)
#
# Every server is stopped by its process id on every path. The work folder
# (/tmp/app-test.*) is removed unless a check failed or APP_TEST_KEEP is set.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
shift || true
parts=${*:-ipp cups web}
app=$build/tools/printer_app/thermallabel-app
PATH=$build/tools:$PATH

work=$(mktemp -d /tmp/app-test.XXXXXX)
chmod 0755 "$work"
passed=0 failed=0 app_pid=""
stop_app() {
  [ -n "$app_pid" ] || return 0
  local rc=0
  kill -TERM "$app_pid" 2>/dev/null || true
  wait "$app_pid" || rc=$?
  app_pid=""
  # A sanitizer report ends the process with 86.
  [ "$rc" -eq 0 ] || fail "the app exited with status $rc (log: $work/app.log)"
}
cleanup() {
  stop_app
  declare -F sched_stop >/dev/null && sched_stop
  echo "app tests: $passed passed, $failed failed"
  if [ "$failed" -eq 0 ] && [ -z "${APP_TEST_KEEP:-}" ]; then rm -rf "$work"; else echo "kept: $work"; fi
  [ "$failed" -eq 0 ]
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() { echo "FAIL: $*" >&2; failed=$((failed + 1)); }
check() { # DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@" >>"$work/checks.log" 2>&1; then passed=$((passed + 1)); else fail "$what"; fi
}

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# start_app: printers l203 and l300 (each job its own file in out203/, out300/)
# and dup (every job appended to dup.prn), settings in state/.
start_app() {
  port=${port:-$(free_port)}
  mkdir -p "$work/out203" "$work/out300"
  # Under the sanitizers: PAPPL's own leaks (lsan.supp) are known by its
  # frames, which only the slow unwinder finds.
  ASAN_OPTIONS=${ASAN_OPTIONS:-}:fast_unwind_on_malloc=0 \
    LSAN_OPTIONS=suppressions=$here/lsan.supp:${LSAN_OPTIONS:-} \
    "$app" --port "$port" --state "$work/state" --log-level debug \
    --printer "l203=203dpi,file://$work/out203" --printer "l300=300dpi,file://$work/out300" \
    --printer "dup=203dpi,file://$work/dup.prn" >>"$work/app.log" 2>&1 &
  app_pid=$!
  for _ in $(seq 1 100); do
    ipptool -q "ipp://localhost:$port/ipp/print/l203" get-printer-attributes.test 2>/dev/null && return 0
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  fail "the app did not start"
  exit 1
}
uri() { echo "ipp://localhost:$port/ipp/print/$1"; }

# print_job PRINTER FILE TYPE JOB [ROTATION MIRROR COPIES]: waits for the job's file.
print_job() {
  local out=$work/out${1#l}/$4.prn
  ipptool -q -T 20 -f "$2" -d filetype="$3" -d job="$4" -d rotation="${5:-none}" \
    -d mirror="${6:-false}" -d copies="${7:-1}" "$(uri "$1")" "$here/print.test" || return 1
  for _ in $(seq 1 100); do
    [ -s "$out" ] && ipptool -q "$(uri "$1")" "$here/idle.test" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
labels() { grep -ac '^PRINT 1,' "$1" || true; }
one_label() { readlabel "$1" >/dev/null && [ "$(labels "$1")" -eq 1 ]; }
# same_as_filter JOB PWG [OPTIONS]: the printer got what the filter writes.
same_as_filter() {
  PPD=$root/ppd/label203.ppd RASTERTOLABEL_DUMP="" "$build/rastertolabel" 1 u t 1 "${3:-}" "$2" \
    >"$work/$1.filter" 2>/dev/null
  cmp "$work/$1.filter" "$work/out203/$1.prn"
}

# ------------------------------------------------------------------ pages
# One 2 x 1 inch label, and a job of three pages of different sizes (2 x 1,
# 1 x 2, and a blank 4 x 1 inch); PWG
# raster from CUPS raster by CUPS's own rastertopwg.
topwg() { /usr/lib/cups/filter/rastertopwg 1 u t 1 "" "$1" 2>/dev/null; }
makeraster -o "$work/page.ras" "$root/sample/label.png"
topwg "$work/page.ras" >"$work/page.pwg"
pngtopnm "$root/sample/label.png" | pnmflip -r90 >"$work/turned.pgm"
makeraster -o "$work/multi.ras" "$root/sample/label.png" "$work/turned.pgm" --blank 812x203
topwg "$work/multi.ras" >"$work/multi.pwg"

part_ipp() {
  start_app
  # The suites' sample documents are looked for beside them: ours stand in.
  local suite=$work/suite f
  mkdir -p "$suite"
  cp /usr/share/cups/ipptool/*.test "$suite/"
  for f in $(sed -n 's/^\s*FILE \([^$].*\)/\1/p' "$suite"/ipp-*.test | sort -u); do
    mkdir -p "$suite/$(dirname "$f")"
    cp "$work/page.pwg" "$suite/$f"
  done
  # ipptool's status misses failures inside included files: the lines count.
  suite() { local out=$work/suite.${1##*/}.${2##*/}.out; ipptool -V 2.0 -t -T 30 -f "$work/page.pwg" "$@" >"$out" && ! grep -q FAIL "$out"; }
  for p in l203 l300; do
    for t in ipp-everywhere ipp-2.0; do check "$t.test on $p" suite "$(uri $p)" "$suite/$t.test"; done
  done

  check "a PWG page prints as the filter prints it" print_job l203 "$work/page.pwg" image/pwg-raster plain
  check "... so does it in print-job output" same_as_filter plain "$work/page.pwg"
  check "settings through IPP, the defaults PAPPL misreports included" \
    ipptool -t "$(uri l203)" "$here/settings.test"
  # Vendor defaults, the tear-off offset and the label mode reach the job;
  # rotation and mirror as job attributes.
  check "printer settings and job attributes reach the label" \
    print_job l203 "$work/page.pwg" image/pwg-raster turned rotate-90 true
  check "... as the filter's choices" same_as_filter turned "$work/page.pwg" \
    "Darkness=12 PrintSpeed=5 FeedPaper=2 GapsHeight=5 Dithering=Threshold Threshold=20 MediaMethod=Transfer Origin=Rotation90 MirrorImage=True"
  check "a three-page job prints" print_job l203 "$work/multi.pwg" image/pwg-raster multi
  check "... one label a page, each as the filter's" same_as_filter multi "$work/multi.pwg" \
    "Darkness=12 PrintSpeed=5 FeedPaper=2 GapsHeight=5 Dithering=Threshold Threshold=20 MediaMethod=Transfer"
  check "three copies of a PWG page" print_job l203 "$work/page.pwg" image/pwg-raster copies none false 3
  check "... are the printer's: one label job, PRINT 1,3" test "$(grep -ac '^PRINT 1,3' "$work/out203/copies.prn")" = 1
  check "a PNG prints" print_job l300 "$root/sample/label.png" image/png png
  check "... as one label that reads back" one_label "$work/out300/png.prn"

  # What PAPPL 1.3.1 does wrong.
  local second=0
  "$app" --port "$port" --state "$work/state2" --printer x=203dpi,file:///dev/null \
    >"$work/second.log" 2>&1 || second=$?
  check "a second app on the same port stops, saying why" \
    grep -q "port $port is in use" "$work/second.log"
  check "... with status 1" test "$second" -eq 1
  curl -sf "http://localhost:$port/addprinter" >"$work/addprinter.html" || true
  check "/addprinter without avahi-daemon: the page, and the app runs on" \
    grep -q 'Generic Thermal Label 203dpi' "$work/addprinter.html"
  printf '%%PDF-1.4\n%%%%EOF\n' >"$work/x.pdf"
  ipptool -q -f "$work/x.pdf" -d filetype=application/octet-stream -d job=pdf -d rotation=none \
    -d mirror=false -d copies=1 "$(uri l203)" "$here/print.test" || true
  sleep 0.5
  check "a job no filter takes: aborted, the app runs on" grep -q "Unable to process job" "$work/app.log"
  # About one job in 200 was started twice: each must print once.
  for i in $(seq 1 200); do
    ipptool -q -T 20 -f "$work/page.pwg" -d filetype=image/pwg-raster -d job="d$i" -d rotation=none \
      -d mirror=false -d copies=1 "$(uri dup)" "$here/print.test" || fail "job d$i was refused"
  done
  for _ in $(seq 1 100); do
    [ "$(labels "$work/dup.prn")" -ge 200 ] && break
    sleep 0.1
  done
  sleep 0.5
  check "200 jobs give 200 labels" test "$(labels "$work/dup.prn")" -eq 200

  # Malformed requests, one a line: operation, group, attributes.
  local op group attrs
  while read -r op group attrs; do
    printf '{\nOPERATION %s\nGROUP operation-attributes-tag\n%s\n%s\n%s\nGROUP %s\n%s\n%s\n}\n' \
      "$op" 'ATTR charset attributes-charset utf-8' \
      'ATTR naturalLanguage attributes-natural-language en' 'ATTR uri printer-uri $uri' "$group" \
      "$attrs" 'STATUS client-error-bad-request STATUS client-error-attributes-or-values-not-supported'
  done >"$work/hostile.test" <<'CASES'
Validate-Job job-attributes-tag ATTR keyword copies many
Validate-Job job-attributes-tag ATTR integer print-darkness 2147483647
Validate-Job job-attributes-tag ATTR integer threshold-adjust -2147483648
Validate-Job job-attributes-tag ATTR collection media-col { MEMBER collection media-size { MEMBER integer x-dimension 2147483647 MEMBER integer y-dimension -1 } }
Set-Printer-Attributes printer-attributes-tag ATTR integer label-tear-offset-configured 2147483647
Set-Printer-Attributes printer-attributes-tag ATTR integer label-conversion-default 3
Set-Printer-Attributes printer-attributes-tag ATTR integer gap-height-default 2147483647
Set-Printer-Attributes printer-attributes-tag ATTR integer print-speed-default -2147483648
Set-Printer-Attributes printer-attributes-tag ATTR integer printer-darkness-configured 101
Set-Printer-Attributes printer-attributes-tag ATTR keyword label-mode-configured rewind
Set-Printer-Attributes printer-attributes-tag ATTR keyword x-unknown-default x
CASES
  check "malformed requests get IPP errors" ipptool -t -I "$(uri l203)" "$work/hostile.test"
  check "... a request for a thousand unknown attributes is answered" ipptool -t \
    -d many="$(seq -s, -f 'x-attr-%g' 1 1000)" "$(uri l203)" "$here/idle.test"
  check "... and change no setting" ipptool -t -d restarted=1 "$(uri l203)" "$here/settings.test"
  stop_app
  start_app
  check "the settings are kept across a restart" ipptool -t -d restarted=1 "$(uri l203)" "$here/settings.test"
  # A printer added while the app runs has its Label page and supplies as well.
  printf '{\nOPERATION Create-Printer\nGROUP operation-attributes-tag\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n}\n' \
    'ATTR charset attributes-charset utf-8' 'ATTR naturalLanguage attributes-natural-language en' \
    'ATTR uri system-uri $uri' 'ATTR keyword printer-service-type print' \
    'ATTR keyword smi55357-driver 300dpi' 'ATTR uri smi55357-device-uri socket://127.0.0.1:9' \
    'GROUP printer-attributes-tag ATTR name printer-name added STATUS successful-ok' >"$work/add.test"
  check "a printer added while running" ipptool -t "ipp://localhost:$port/ipp/system" "$work/add.test"
  check "... has its Label page" curl -sf -o /dev/null "http://localhost:$port/added/label"
  check "... and its supplies" sh -c "ipptool -tv '$(uri added)' get-printer-attributes.test | grep -q 'supply-description.*Labels'"
  # Once an access password is set, the settings pages ask for it.
  local web=http://localhost:$port token
  token=$(curl -s -c "$work/cookies" "$web/security" | sed -n 's/.*name="session" value="\([^"]*\)".*/\1/p')
  curl -s -b "$work/cookies" -d "session=$token&new_password=Label4Sec&new_password2=Label4Sec" \
    "$web/security" >/dev/null
  curl -s -d "label-mode=peel-off&tear-offset=1" "$web/l203/label" >"$work/label.html"
  check "with a password set, the Label page asks to log in" grep -q '>Login<' "$work/label.html"
  check "... and the settings stay" ipptool -t -d restarted=1 "$(uri l203)" "$here/settings.test"
  stop_app
  rm -rf "$work/state"
}

part_cups() {
  [ "$(id -u)" -eq 0 ] || { echo "app tests: cups part skipped (needs root)"; return 0; }
  source "$root/tests/e2e/scheduler.sh"
  start_app
  export HOME=$work
  sched_prepare "$work/sched" "$build/rastertolabel" "$root/ppd"
  sched_start
  check "a driverless queue is added" \
    lpadmin -p labels -E -v "$(uri l203)" -m everywhere
  # The scheduler writes the queue's PPD from the app's attributes after lpadmin returns.
  local ppd=$work/sched/etc/ppd/labels.ppd
  for _ in $(seq 1 100); do
    grep -q '^\*CloseUI: \*PageSize' "$ppd" 2>/dev/null && break
    sleep 0.1
  done
  check "... with the label as its default size" grep -qx '\*DefaultPageSize: 4x6' "$ppd"
  check "... a size of the queue" grep -q '^\*PageSize 4x6:' "$ppd"
  { echo '/qrcode {'; zint -b 58 -d APP-0042 --filetype=eps --direct | grep -v '^%'
    echo '} def /barcode { } def /pages 1 def'; cat "$root/tests/e2e/label.ps"; } | ps2pdf - "$work/label.pdf"
  check "a PDF label is printed" lp -d labels -t qrlabel "$work/label.pdf"
  for _ in $(seq 1 300); do
    [ -s "$work/out203/qrlabel.prn" ] && [ -z "$(lpstat -o labels 2>/dev/null)" ] && break
    sleep 0.1
  done
  readlabel --png "$work/qr" "$work/out203/qrlabel.prn" >/dev/null 2>&1 || true
  check "... on a 4 x 6 inch label" grep -aq '^SIZE 102 mm, 152 mm' "$work/out203/qrlabel.prn"
  check "... and its QR code scans" sh -c "zbarimg -q --raw '$work/qr-1.png' | grep -qx APP-0042"
  sched_stop
  stop_app
}

part_web() {
  [ "$(id -u)" -eq 0 ] || { echo "app tests: web part skipped (needs root)"; return 0; }
  start_app
  check "the settings page in Chromium: darkness 86 % saved" \
    env NODE_PATH="${APP_TEST_NODE_PATH:-/opt/thermallabel-test/node_modules}" \
    node "$here/webui.cjs" "http://localhost:$port/l203/printing" "$work/printer-app.png"
  check "... reaches the next label as DENSITY 13" print_job l203 "$work/page.pwg" image/pwg-raster web
  check "... in its commands" grep -aq '^DENSITY 13' "$work/out203/web.prn"
  stop_app
}

for part in $parts; do "part_$part"; done
