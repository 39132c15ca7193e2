#!/usr/bin/env bash
# Installs everything Pimo needs from Debian packages. Idempotent: only missing
# packages are installed, so a second run takes a moment.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config clang-format clang-tidy
    libfreeimage-dev libcurl4-openssl-dev libpng-dev zlib1g-dev libjpeg62-turbo-dev libtiff-dev libzopfli-dev libimagequant-dev libjxl-dev
    qt6-base-dev libgl-dev libqt6svg6
    libgtest-dev libgmock-dev libbenchmark-dev libgif-dev
    libjpeg-turbo-progs optipng advancecomp zopfli imagemagick
    pngquant libjxl-devtools jpegoptim
    xauth xvfb openbox xdotool
    desktop-file-utils appstream parallel jq librsvg2-bin dpkg-dev file
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
