#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what Snapsift needs to build, run and test on Debian 12.
# Runs apt-get as root (through sudo when not root); installs only what is missing.
set -euo pipefail

packages=(
  # building and running
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libglib2.0-dev libgl-dev
  qt6-translations-l10n qt6-wayland qt6-image-formats-plugins
  libheif-dev libraw-dev libwebp-dev libtiff-dev libjxl-dev libexiv2-dev
  liburing-dev
  fonts-noto-cjk fonts-ipafont-gothic fonts-symbola
  # the tests, the fuzzers, the package check and the benchmark
  libgtest-dev googletest
  xvfb xauth xdotool openbox x11-utils imagemagick
  fd-find bfs
  libfuse3-dev
  clang libclang-rt-14-dev
  desktop-file-utils appstream-util
  dpkg-dev appstream lintian man-db
  # the field set-ups: cards, btrfs, xfs, ext4, a disk that stops answering,
  # and the other clients of the trash
  mount e2fsprogs btrfs-progs xfsprogs fusefat exfat-fuse exfatprogs dosfstools mtools fuse3
  trash-cli libglib2.0-bin gvfs dbus strace
  # sample pictures of every format the previews decode
  libheif-examples webp libtiff-tools libjxl-tools libqt6svg6
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
