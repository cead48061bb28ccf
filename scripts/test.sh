#!/usr/bin/env bash
# Builds everything and runs the whole test suite: unit and process tests,
# then real print jobs through a private CUPS scheduler (as root, which the
# scheduler needs; skipped with a note otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh --tests
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
if [ "$(id -u)" -eq 0 ]; then
  ./scripts/e2e.sh build
  # The printer application through a driverless CUPS queue and in Chromium
  # (its IPP tests ran with ctest).
  if [ -x build/tools/printer_app/thermallabel-app ]; then tests/app/run.sh build cups web; fi
else
  echo "test: end-to-end jobs skipped (they need root: sudo scripts/e2e.sh)"
fi
