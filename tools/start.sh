#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what building and running need (not the test tools: tools/test.sh
# installs those), builds Snapsift into build-start/ and starts its window.
# build-start/ is this script's own: a build/ made by tools/test.sh or by hand,
# with whatever CMake generator, is left alone.
# Without a display it says so at once, builds all the same, and then names the
# commands that run the program from this folder; it exits with status 1, as
# no window was opened.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-start

has_display=1
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  has_display=0
  echo "start.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set): building, but the window cannot open here." >&2
fi

bash tools/setup-debian.sh --run
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSNAPSIFT_BUILD_TESTS=OFF \
      -DSNAPSIFT_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target snapsift

if [ "$has_display" -eq 0 ]; then
  cat >&2 <<EOF
start.sh: built $build/bin/snapsift, but there is no display to open its window on.
From $(pwd), run it
  under a virtual display:       xvfb-run -a -s "-screen 0 1280x1024x24" $build/bin/snapsift
  or search without a window:    $build/bin/snapsift --report FOLDER
                                 ($build/bin/snapsift --help lists the options)
EOF
  exit 1
fi
exec "./$build/bin/snapsift" "$@"
