#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build and test the system.
# Does nothing when everything is there already.
set -euo pipefail

packages=(
  g++ cmake ninja-build ccache pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev fonts-dejavu-core
  firebird3.0-server firebird3.0-utils libfbclient2 firebird-dev
  zip unzip python3 gzip tar zlib1g-dev libjpeg-dev libpng-dev
  libmspack-dev gcab cabextract
  clang libclang-rt-dev
  pandoc libreoffice-writer-nogui unrtf chromium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
