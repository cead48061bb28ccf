#!/usr/bin/env bash
# Turns a PDF (or any file CUPS can convert: PNG, JPEG, PostScript, text)
# into a label printer job the way a print queue would, without a scheduler:
# cupsfilter runs the chain our PPD asks for (for a PDF pdftopdf and our PDF
# entry, which renders with pdftoraster and feeds our filter; for pictures
# imagetoraster and our filter), with the PPD's defaults and the given options.
#
#   scripts/print-pdf.sh IN.pdf OUT.job [OPTION=VALUE]...
#   e.g. scripts/print-pdf.sh label.pdf label.job PageSize=w288h216 Darkness=12 copies=2
#
# Environment:
#   PPD           the printer description (default ppd/label203.ppd)
#   LABEL_FILTER  the filter program (default build/rastertolabel, else the
#                 installed one); the PDF entry is taken from beside it
# "copies=N" sets the number of copies; everything else goes to the job as
# an option (-o). The filter's log lines go to OUT.job.log.
#
# When sourced, only defines make_serverbin (used by the e2e suite).
set -euo pipefail

# The name the filter is installed under (cmake/Install.cmake, the PPDs'
# *cupsFilter2 lines).
FILTER_NAME=rastertothermallabel

# make_serverbin DIR FILTER [WITHOUT]: a private CUPS ServerBin. The system's
# filters, backends and helper programs as symbolic links, minus every filter
# with "label" in its name (and the filter named WITHOUT), plus copies of our
# filter and of the PDF entry beside it (pdftolabel in a build,
# pdftothermallabel installed) under their installed names.
# Copies rather than links: CUPS refuses a program whose file or folder is
# writable by anyone but root, and a build tree may belong to anyone.
make_serverbin() {
  local bin=$1 filter=$2 without=${3:-} sys f kind entry
  sys=$(cups-config --serverbin)
  mkdir -p "$bin"
  for kind in filter backend daemon; do
    mkdir -p "$bin/$kind"
    for f in "$sys/$kind"/*; do
      [ -e "$f" ] || continue
      if [ "$kind" = filter ]; then
        case ${f##*/} in *label* | "$without") continue ;; esac
      fi
      ln -s "$f" "$bin/$kind/"
    done
  done
  install -m 0755 "$filter" "$bin/filter/$FILTER_NAME"
  for entry in "$(dirname "$filter")"/{pdftolabel,pdftothermallabel}; do
    if [ -x "$entry" ]; then install -m 0755 "$entry" "$bin/filter/pdftothermallabel"; fi
  done
}

print_pdf_main() {
  local usage
  usage=$(sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//')
  case ${1:-} in -h | --help) echo "$usage"; return 0 ;; esac
  [ $# -ge 2 ] || { echo "$usage" >&2; return 2; }
  local in=$1 out=$2 root
  shift 2
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  local ppd=${PPD:-$root/ppd/label203.ppd}
  local filter=${LABEL_FILTER:-}
  if [ -z "$filter" ]; then
    filter=$root/build/rastertolabel
    [ -x "$filter" ] || filter=$(cups-config --serverbin)/filter/$FILTER_NAME
  fi
  local f
  for f in "$in" "$ppd" "$filter"; do
    [ -r "$f" ] || { echo "print-pdf: cannot read $f" >&2; return 1; }
  done
  command -v cupsfilter >/dev/null ||
    { echo "print-pdf: cupsfilter not found (Debian package cups)" >&2; return 1; }

  local args=() opt
  for opt in "$@"; do
    case $opt in
      copies=*) args+=(-n "${opt#copies=}") ;;
      *) args+=(-o "$opt") ;;
    esac
  done

  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  make_serverbin "$tmp/serverbin" "$filter"
  printf 'ServerBin %s\n' "$tmp/serverbin" >"$tmp/cups-files.conf"
  # -e takes the PPD's own filters, and "printer/..." asks for the format
  # they end in, so the chain ends with our filter.
  if ! cupsfilter -c "$tmp/cups-files.conf" -p "$ppd" -e -m printer/thermallabel \
      "${args[@]}" "$in" >"$out" 2>"$out.log"; then
    echo "print-pdf: cupsfilter failed; last lines of $out.log:" >&2
    tail -n 5 "$out.log" >&2
    return 1
  fi
  if [ ! -s "$out" ]; then
    echo "print-pdf: no printer job came out; see $out.log" >&2
    return 1
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  print_pdf_main "$@"
fi
