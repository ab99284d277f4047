#!/usr/bin/env bash
# Installs every Debian package that building, running and testing the project needs.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config git go-md2man file
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
  libjpeg62-turbo-dev libpng-dev libwebp-dev libheif-dev libdeflate-dev libminizip-dev
  libjxl-dev liblcms2-dev libopenjp2-7-dev librsvg2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  imagemagick graphicsmagick libjpeg-turbo-progs netpbm python3-pil libtiff-tools giflib-tools libgif-dev libtiff-dev libnetpbm-dev
  libstb-dev libfreeimage-dev
  libraw-dev libraw-bin libopenexr-dev openexr
  webp libheif-examples libavif-bin libjxl-tools libopenjp2-tools librsvg2-bin icnsutils
  libwayland-dev
  xvfb xauth xclip xdotool adwaita-icon-theme hyperfine
  sway wl-clipboard
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
