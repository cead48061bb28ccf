#!/usr/bin/env bash
# Compiles labelprinters.drv into the PPDs we ship (label203.ppd,
# label300.ppd), by default beside it; the PPDs are committed so that the
# demo and the installation need no compiler.
#   ppd/generate.sh [OUTDIR]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here}
command -v ppdc >/dev/null || { echo "generate.sh: ppdc not found (Debian package cups-ppdc)" >&2; exit 1; }
mkdir -p "$out"
# -l en: one language, so the output does not depend on the catalogues
# installed on the machine.
ppdc -l en -d "$out" "$here/labelprinters.drv"
