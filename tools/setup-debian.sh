#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what Snapsift needs on Debian 12; installs only what is missing.
#   setup-debian.sh          everything: building, running, every test, the
#                            field set-ups and the sample tools
#   setup-debian.sh --run    only what building and running the program need
# Runs apt-get as root (through sudo when not root). A package manager that
# holds the lock (unattended-upgrades, another apt) is waited for, up to ten
# minutes, instead of failing at once.
set -euo pipefail

run_only=0
case "${1:-}" in
  "") ;;
  --run) run_only=1 ;;
  *) echo "usage: $0 [--run]" >&2; exit 2 ;;
esac

# Building and running.
build_run=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libglib2.0-dev libgl-dev
  qt6-translations-l10n qt6-wayland qt6-image-formats-plugins
  libheif-dev libraw-dev libwebp-dev libtiff-dev libjxl-dev libexiv2-dev
  liburing-dev
  fonts-noto-cjk fonts-ipafont-gothic fonts-symbola
)
# The tests, the fuzzers, the package check and the benchmark.
tests=(
  libgtest-dev googletest
  xvfb xauth xdotool openbox x11-utils imagemagick
  fd-find bfs
  libfuse3-dev
  clang libclang-rt-14-dev clang-format clang-tidy
  desktop-file-utils appstream-util
  dpkg-dev appstream lintian man-db
)
# The field set-ups: cards, btrfs, xfs, ext4, a disk that stops answering,
# and the other clients of the trash.
field=(
  mount e2fsprogs btrfs-progs xfsprogs fusefat exfat-fuse exfatprogs dosfstools mtools fuse3
  trash-cli libglib2.0-bin gvfs dbus strace
)
# Sample pictures of every format the previews decode.
samples=(
  libheif-examples webp libtiff-tools libjxl-tools libqt6svg6
)

packages=("${build_run[@]}")
if [ "$run_only" -eq 0 ]; then
  packages+=("${tests[@]}" "${field[@]}" "${samples[@]}")
fi

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

# apt-get, waiting for a lock another package manager holds. apt's own
# timeout covers dpkg's lock; the lists' lock of `apt-get update` is waited
# for here, by trying again while apt says a lock is held.
apt_get() {
  local errors tries=0 status
  errors=$(mktemp)
  while :; do
    status=0
    "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@" 2>"$errors" || status=$?
    if [ "$status" -eq 0 ] || ! grep -qiE "could not get lock|unable to lock|is held by process" "$errors" ||
       [ "$tries" -ge 60 ]; then
      cat "$errors" >&2
      rm -f "$errors"
      return "$status"
    fi
    tries=$((tries + 1))
    [ "$tries" -eq 1 ] && echo "setup-debian.sh: another package manager holds apt's lock; waiting for it" >&2
    sleep 10
  done
}

echo "Installing: ${missing[*]}"
apt_get update -qq
apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
