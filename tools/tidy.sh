#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# clang-tidy over the program's own sources, with the checks in .clang-tidy,
# using the compile commands of a configured build (default: build). Any
# finding is an error and fails the run.
#
#   tools/tidy.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/compile_commands.json" ] || { echo "tidy: no $build/compile_commands.json; configure the build first" >&2; exit 2; }
runner=$(command -v run-clang-tidy || command -v run-clang-tidy-14) ||
  { echo "tidy: run-clang-tidy is not installed (tools/setup-debian.sh installs clang-tidy)" >&2; exit 2; }
src=$(pwd)/src
# Only the program's sources: generated files in the build and the tests'
# GoogleTest macros are not ours to tidy.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
"$runner" -p "$build" -j "$(nproc)" -quiet -header-filter="^$src/" "^$src/.*\\.cpp\$" >"$log" 2>&1 || status=$?
sed 's/\x1b\[[0-9;]*m//g' "$log" |
  grep -v -E '^[0-9]+ warnings?( and [0-9]+ errors?)? generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^clang-tidy' || true
[ "$status" -eq 0 ] && echo "tidy: no findings in src/"
exit "$status"
