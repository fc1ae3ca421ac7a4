#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the fuzz targets with clang and runs each for a bounded time.
# Usage: bash tools/fuzz.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash tools/setup-debian.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSNAPSIFT_FUZZ=ON -DSNAPSIFT_SANITIZE=ON -DSNAPSIFT_BUILD_GUI=OFF -DSNAPSIFT_BUILD_TESTS=OFF \
  -DSNAPSIFT_BUILD_BENCH=OFF >/dev/null
targets=(mountinfo name_pattern deletion_log trash_info header_checks preview_reply)
cmake --build build-fuzz --target "${targets[@]/#/fuzz_}"
for target in "${targets[@]}"; do
  work=$(mktemp -d)
  cp fuzz/corpus/$target/* "$work"/
  echo "== fuzz_$target for ${seconds}s"
  ./build-fuzz/bin/fuzz_$target -max_total_time="$seconds" -max_len=4096 -timeout=5 "$work"
  rm -rf "$work"
done
