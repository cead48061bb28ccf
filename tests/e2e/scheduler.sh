# Sourced by the e2e suite: a private CUPS scheduler in a temporary folder, on a unix socket
# there, with its configuration, spool, logs and a ServerBin of its own (make_serverbin); nothing
# of the system's CUPS is read for printers or changed.
#   sched_prepare ROOT FILTER_EXE PPD_DIR   lay out ROOT; PPD_DIR is seen as model/thermallabel
#   sched_start, sched_stop                 start cupsd and wait for it; stop it by its pid
# Then CUPS_SERVER points the client tools at it, SCHED_LOG is its error log and
# SCHED_FILES_CONF its cups-files.conf (for cupsfilter -c too).
# shellcheck source=../../scripts/print-pdf.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/print-pdf.sh"

sched_pid=""

# DataDir: the system's data as links but for the driver folders drv/, model/ and ppdc/, whose
# sample drivers we leave alone; model/ is ours, so lpinfo -m sees our PPDs.
sched_make_datadir() {
  local data=$1 ppd_dir=$2 sys=/usr/share/cups f
  mkdir -p "$data"
  for f in "$sys"/*; do
    case $(basename "$f") in drv | model | ppdc) continue ;; esac
    ln -s "$f" "$data/"
  done
  mkdir -p "$data/model"
  ln -s "$ppd_dir" "$data/model/thermallabel"
}

sched_prepare() {
  local root=$1 filter_exe=$2 ppd_dir=$3
  SCHED_ROOT=$root
  # The scheduler's user (lp) reaches the PPDs, filters and output through it.
  mkdir -p "$root"
  chmod 0755 "$root"
  mkdir -p "$root"/{etc,spool/tmp,cache,run,log,ssl,out}
  make_serverbin "$root/serverbin" "$filter_exe"
  sched_make_datadir "$root/data" "$ppd_dir"
  SCHED_SOCKET=$root/run/cups.sock
  SCHED_LOG=$root/log/error_log
  SCHED_FILES_CONF=$root/etc/cups-files.conf
  cat >"$SCHED_FILES_CONF" <<CONF
ServerRoot $root/etc
ServerBin $root/serverbin
DataDir $root/data
RequestRoot $root/spool
TempDir $root/spool/tmp
CacheDir $root/cache
StateDir $root/run
ServerKeychain $root/ssl
CreateSelfSignedCerts no
ErrorLog $SCHED_LOG
AccessLog $root/log/access_log
PageLog $root/log/page_log
LogFilePerm 0644
# The printcap file would go to /etc.
Printcap $root/etc/printcap
FileDevice Yes
# cupsd refuses to run filters as root; lp exists on every Debian system.
User lp
Group lp
SystemGroup root
Sandboxing Relaxed
CONF
  cat >"$root/etc/cupsd.conf" <<CONF
LogLevel debug
MaxLogSize 0
Listen $SCHED_SOCKET
Browsing No
WebInterface No
DefaultShared No
# A failed job must not stop the queue for the cases after it.
ErrorPolicy abort-job
PreserveJobHistory Yes
JobKillDelay 5
DirtyCleanInterval 0
# Only the suite can reach the socket; nobody needs to log in.
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
  export CUPS_SERVER=$SCHED_SOCKET
  # Client tools would otherwise read the user's or the system's client.conf.
  export CUPS_SERVERROOT=$root/etc
}

sched_start() {
  cupsd -f -c "$SCHED_ROOT/etc/cupsd.conf" -s "$SCHED_FILES_CONF" \
    >"$SCHED_ROOT/log/cupsd.out" 2>&1 &
  sched_pid=$!
  local i
  for i in $(seq 1 100); do
    if lpstat -r 2>/dev/null | grep -q "is running"; then return 0; fi
    kill -0 "$sched_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "scheduler did not start; its log:" >&2
  tail -n 20 "$SCHED_LOG" "$SCHED_ROOT/log/cupsd.out" >&2 || true
  return 1
}

sched_stop() {
  [ -n "$sched_pid" ] || return 0
  kill -TERM "$sched_pid" 2>/dev/null || true
  local i
  for i in $(seq 1 50); do
    kill -0 "$sched_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$sched_pid" 2>/dev/null || true
  wait "$sched_pid" 2>/dev/null || true
  sched_pid=""
}

# sched_printer_uri QUEUE: the queue's IPP URI through the socket (for ipptool).
sched_printer_uri() {
  printf 'ipp://%s/printers/%s' "${SCHED_SOCKET//\//%2F}" "$1"
}
