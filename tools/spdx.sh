#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Puts the licence line "SPDX-License-Identifier: MIT" at the top of every
# source file that git tracks: C++ sources and headers (// comment), CMake
# files and shell scripts (# comment). A script's #! line stays first and the
# licence line follows it. Files that already carry the line are left as they
# are, so running it again changes nothing.
#
#   tools/spdx.sh           add the line where it is missing
#   tools/spdx.sh --check   only list the files without it (exit status 1 if any)
#   tools/spdx.sh [--check] FILE...   the same for the named files only
#
# A file whose first lines name another licence is not touched; it is listed
# and the exit status is 1.
set -euo pipefail

readonly tag='SPDX-License-Identifier:'
readonly licence='MIT'

check=false
if [ "${1-}" = --check ]; then
  check=true
  shift
fi

# The comment that starts a line in FILE's language, or nothing when FILE
# is not a source file.
comment_for() {
  case "$1" in
    *.cpp | *.cc | *.h | *.hpp | *.h.in) echo '//' ;;
    *.cmake | CMakeLists.txt | */CMakeLists.txt | *.sh) echo '#' ;;
    *) ;;
  esac
}

files=()
if [ $# -gt 0 ]; then
  files=("$@")
else
  cd "$(git -C "$(dirname "$0")" rev-parse --show-toplevel)"
  while IFS= read -r -d '' f; do
    files+=("$f")
  done < <(git ls-files -z)
fi

status=0
for f in "${files[@]}"; do
  comment=$(comment_for "$f")
  [ -n "$comment" ] || continue
  [ -f "$f" ] && [ ! -L "$f" ] || continue
  wanted="$comment $tag $licence"
  first=$(head -n 1 -- "$f")
  line=1
  if [[ $first == '#!'* ]]; then
    line=2
  fi
  present=$(sed -n "${line}p" -- "$f")
  if [ "$present" = "$wanted" ]; then
    continue
  fi
  if grep -Eq "^(//|#) *$tag" < <(head -n 3 -- "$f"); then
    echo "$f: a licence line in another place or for another licence; left as it is" >&2
    status=1
    continue
  fi
  if $check; then
    echo "$f"
    status=1
    continue
  fi
  # Written beside the file and renamed over it, with the file's mode: a
  # script being run (this one too) keeps reading its old text meanwhile.
  tmp=$(mktemp -- "$f.XXXXXX")
  {
    if [ "$line" = 2 ]; then
      printf '%s\n' "$first"
      printf '%s\n' "$wanted"
      tail -n +2 -- "$f"
    else
      printf '%s\n' "$wanted"
      cat -- "$f"
    fi
  } >"$tmp"
  chmod --reference="$f" -- "$tmp"
  mv -f -- "$tmp" "$f"
done
exit $status
