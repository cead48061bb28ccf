#!/usr/bin/env bash
# Builds the filter and prints the bundled sample label through it, as the
# scheduler would: sample picture -> CUPS raster -> label job -> PNG of the
# label as the printer would print it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target rastertolabel makeraster readlabel >/dev/null
mkdir -p out
build/tools/makeraster --bits 8 -o out/sample.ras sample/label.png
PPD=ppd/label203.ppd RASTERTOLABEL_DUMP=out/sample-dump.bmp \
  build/rastertolabel 1 "$(id -un)" sample 1 "" out/sample.ras \
  >out/sample.job 2>out/sample.log
build/tools/readlabel --png out/sample out/sample.job
echo "label job: out/sample.job  log: out/sample.log  picture: out/sample-1.png"
