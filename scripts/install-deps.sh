#!/usr/bin/env bash
# Installs the Debian packages the build and the demo need; with --tests also
# what the test command needs (the printer application's browser test among
# them), and any packages named after that.
# Idempotent: does nothing (and asks no registry) when all are present.
#   scripts/install-deps.sh [--tests] [PACKAGE...]
set -euo pipefail
pkgs=(build-essential cmake pkg-config libcups2-dev cups-client cups-ppdc libpng-dev libpappl-dev
  cups cups-filters)
tests=0
if [ "${1:-}" = --tests ]; then
  tests=1
  shift
  pkgs+=(libgtest-dev libssl-dev cups-ipp-utils ghostscript zint zbar-tools netpbm curl
    chromium nodejs)
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
missing=()
for p in "${pkgs[@]}" "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The printer application's web test drives Chromium with playwright-core
# (npm), kept out of the work tree.
node_dir=/opt/thermallabel-test
if [ "$tests" = 1 ] && [ ! -d "$node_dir/node_modules/playwright-core" ]; then
  command -v npm >/dev/null || DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
    --no-install-recommends npm >/dev/null
  $sudo mkdir -p "$node_dir"
  $sudo npm install --prefix "$node_dir" --no-audit --no-fund --loglevel=error playwright-core@1.65.2 >/dev/null
fi
