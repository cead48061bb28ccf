#!/usr/bin/env bash
# Builds the filter and the label reader, then runs the end-to-end suite
# (tests/e2e/run.sh): our PPDs and installation, and real print jobs through
# a private CUPS scheduler and through cupsfilter. Needs root, as cupsd does
# to run its filters as user lp; the system's CUPS is neither used nor
# changed.
#   scripts/e2e.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
  echo "e2e: run as root (the private scheduler runs its filters as user lp)" >&2
  exit 2
fi
./scripts/install-deps.sh --tests
build=${1:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target rastertolabel readlabel >/dev/null
exec tests/e2e/run.sh "$build"
