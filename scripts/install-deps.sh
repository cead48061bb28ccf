#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: does nothing (and asks no registry) when all are present.
set -euo pipefail
pkgs=(build-essential cmake pkg-config libcups2-dev cups-client cups-ppdc libgtest-dev libpng-dev
  cups cups-filters cups-ipp-utils ghostscript qrencode zbar-tools netpbm python3)
missing=()
for p in "${pkgs[@]}" "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
