#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Morvel
# needs. Safe to run again; uses sudo only when not root.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  # build
  build-essential cmake ninja-build ccache pkg-config git
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # a German locale, to prove number handling ignores the process locale
  locales
  # reference tools for cross-checks and benchmarks
  python3 python3-numpy python3-scipy lua5.4 libfftw3-dev
)

export DEBIAN_FRONTEND=noninteractive
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Generate de_DE.UTF-8 once.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if [ -f /etc/locale.gen ]; then
    $SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
fi
