#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: does nothing (and asks no registry) when all are present.
set -euo pipefail
pkgs=(build-essential cmake pkg-config libcups2-dev cups-client cups-ppdc libgtest-dev libpng-dev
  cups cups-filters cups-ipp-utils ghostscript qrencode zbar-tools netpbm
  libpappl-dev curl chromium nodejs)
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
if [ ! -d "$node_dir/node_modules/playwright-core" ]; then
  command -v npm >/dev/null || DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq \
    --no-install-recommends npm >/dev/null
  $sudo mkdir -p "$node_dir"
  $sudo npm install --prefix "$node_dir" --no-audit --no-fund --loglevel=error playwright-core@1.65.2 >/dev/null
fi
