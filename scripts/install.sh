#!/usr/bin/env bash
# Installs the filter and the printer descriptions into the machine's CUPS, from a fresh clone:
# the Debian packages the build needs, a build of the programs alone (no tests, no benchmarks)
# in build-install/, and cmake --install. Run as root (or with sudo).
#
#   scripts/install.sh              install
#   scripts/install.sh --uninstall  remove what the install put there, and our empty PPD folder
#
# DESTDIR=... stages the files instead of installing them.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-install
if [ "${1:-}" = --uninstall ]; then
  [ -f "$build/install_manifest.txt" ] || { echo "install.sh: nothing installed from here ($build/install_manifest.txt)" >&2; exit 1; }
  while IFS= read -r file || [ -n "$file" ]; do rm -f -- "${DESTDIR:-}$file"; done <"$build/install_manifest.txt"
  ppd_dir=$(sed -n 's/^LABEL_PPD_DIR:PATH=//p' "$build/CMakeCache.txt")
  rmdir --ignore-fail-on-non-empty "${DESTDIR:-}$ppd_dir" 2>/dev/null || true
  echo "install.sh: removed the filter and the PPDs"
  exit 0
fi
./scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DLABEL_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
cmake --install "$build"
