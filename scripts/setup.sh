#!/usr/bin/env bash
# Installs what Veltrix needs to build and test, from Debian packages, when it is missing.
# Idempotent and non-interactive; run as root (or with sudo available) on a fresh machine.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config binutils clang-format git
    libtinyxml2-dev libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
    qt6-base-dev fonts-nanum xvfb xauth imagemagick
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
