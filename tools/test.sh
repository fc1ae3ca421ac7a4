#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Sets everything up, then builds and runs every test twice: once under
# AddressSanitizer and UndefinedBehaviorSanitizer and once in the normal
# build, which comes last so that ctest's count closes the output. Between
# them a build without the window runs the tests of the threaded folder walk
# under ThreadSanitizer (a few minutes), and every fuzz target runs for 20 s;
# before the normal build's tests, clang-tidy checks the program's sources.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup-debian.sh
jobs=$(nproc)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSNAPSIFT_SANITIZE=ON -DSNAPSIFT_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSNAPSIFT_SANITIZE_THREAD=ON \
  -DSNAPSIFT_BUILD_GUI=OFF -DSNAPSIFT_BUILD_BENCH=OFF -DSNAPSIFT_WERROR=ON >/dev/null
cmake --build build-tsan -j "$jobs" --target test_hostile test_scan snapsift
echo "== folder walk under ThreadSanitizer"
TZ=Asia/Tokyo LC_ALL=C.UTF-8 TSAN_OPTIONS=halt_on_error=1 \
  build-tsan/bin/test_hostile --gtest_filter='HostileChanges.*:Trees/HostileTreeTest.*:Changes/*'
TZ=Asia/Tokyo LC_ALL=C.UTF-8 TSAN_OPTIONS=halt_on_error=1 build-tsan/bin/test_scan --gtest_filter='OrderedWorkTest.*:UringQueueTest.*:Io/ScanTest.*'

# Every libFuzzer target for a short fixed time under the sanitizers; a
# finding ends the run.
bash tools/fuzz.sh 20

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSNAPSIFT_WERROR=ON \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
cmake --build build -j "$jobs"
# clang-tidy over src/ with the checks in .clang-tidy; a finding ends the run.
echo "== clang-tidy"
bash tools/tidy.sh build
echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs"
