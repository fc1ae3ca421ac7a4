#!/usr/bin/env bash
# Sets everything up, builds Snapsift and starts its window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-debian.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
exec ./build/bin/snapsift "$@"
