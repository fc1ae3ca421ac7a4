#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes the screenshot of the main window with found files that software
# centres show: data/screenshots/main-window.png. Starts the built program on
# a virtual display (Xvfb) with a home of its own, which holds a small picture
# folder on its desktop, and drives the window with the keyboard as a user
# would: choose that folder in the tree, tick BITMAP and GIF, search.
#
#   tools/screenshot.sh [PROGRAM]     PROGRAM defaults to build/bin/snapsift
#
# Needs xvfb-run (xvfb), xdotool and import (imagemagick); tools/setup-debian.sh
# installs them. Nothing outside the temporary home is read or written, apart
# from the picture.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/data/screenshots/main-window.png"

if [ "${1-}" != --inside ]; then
  program=$(realpath "${1:-$root/build/bin/snapsift}")
  if [ ! -x "$program" ]; then
    echo "screenshot.sh: no program at $program; build first (see README)" >&2
    exit 2
  fi
  for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing; run tools/setup-debian.sh" >&2; exit 2; }
  done
  exec xvfb-run -a -s '-screen 0 1280x900x24' bash "$0" --inside "$program"
fi
program=$2

work=$(mktemp -d /tmp/snapsift-screenshot.XXXXXX)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf -- "$work"
}
trap cleanup EXIT

# A home of its own: the desktop folder holds the pictures, and the settings
# and the trash are empty, so the window looks as on its first start.
export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
export XDG_STATE_HOME="$HOME/.local/state" XDG_CACHE_HOME="$HOME/.cache"
export XDG_RUNTIME_DIR="$work/run" TZ=Asia/Tokyo LC_ALL=C.UTF-8
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
pictures="$HOME/Desktop/写真"
mkdir -p "$pictures"/{2024旅行,2025春,バックアップ,スキャン}
cd "$pictures"
# Random bytes stand in for the pictures: only names, sizes and dates show.
make() { head -c "$2" /dev/urandom >"$1"; }
make 2024旅行/IMG_0412.jpg 48213
make 2024旅行/IMG_0413.jpg 35120
make 2024旅行/海.jpg 51022
make 2025春/IMG_0901.jpg 61877
make 2025春/さくら.jpg 44310
make スキャン/scan01.bmp 230538
make 花.gif 2310
# The copies are made a second later, so they are the newer ones.
sleep 1
cp 2024旅行/IMG_0412.jpg 2024旅行/海.jpg 2025春/さくら.jpg バックアップ/
make バックアップ/scan01.bmp 230538
cp 2025春/IMG_0901.jpg "$HOME/Desktop/IMG_0901.jpg"
cd "$work"

"$program" &
pid=$!
window=$(xdotool search --sync --onlyvisible --name '^Snapsift' | head -n 1)
xdotool windowfocus --sync "$window"
# The tree has the focus: from "カレント" down to "デスクトップ", open it and
# go to its folder; then JPEG (ticked), BMP, GIF, その他, the search button.
xdotool key --delay 150 Down Right Down Tab Tab space Tab space Tab Tab space
# A search of a handful of files is over long before the picture is taken.
sleep 2
mkdir -p "$(dirname "$out")"
import -window "$window" "$out"
echo "$out"
