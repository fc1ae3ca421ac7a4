# SPDX-License-Identifier: MIT
# Licence lines: every source file that git tracks starts with
# "SPDX-License-Identifier: MIT" in its language's comment, after a #! line
# where there is one.
#
#   -DMODE=tree -DSOURCE_DIR=...   check the project's own tracked files
#   -DMODE=script -DSCRIPT=... -DWORK_DIR=...
#                                  run tools/spdx.sh on a scratch repository:
#                                  it adds the lines this check asks for, only
#                                  where they are missing, and nothing else
# Prints "SKIPPED:" where there is no git or no checkout to look at.

cmake_minimum_required(VERSION 3.25)

find_program(GIT git)
if(NOT GIT)
  message("SKIPPED: git is not installed")
  return()
endif()

# The tracked source files of the repository at `dir` that lack the line.
function(files_without_licence dir out)
  execute_process(COMMAND "${GIT}" -C "${dir}" ls-files
                  RESULT_VARIABLE status OUTPUT_VARIABLE listing ERROR_QUIET)
  if(NOT status EQUAL 0)
    set(${out} "NOT-A-CHECKOUT" PARENT_SCOPE)
    return()
  endif()
  string(REPLACE "\n" ";" listing "${listing}")
  set(missing)
  foreach(file IN LISTS listing)
    if(file MATCHES "\\.(cpp|cc|h|hpp|h\\.in)$")
      set(wanted "// SPDX-License-Identifier: MIT")
    elseif(file MATCHES "(^|/)CMakeLists\\.txt$|\\.(cmake|sh)$")
      set(wanted "# SPDX-License-Identifier: MIT")
    else()
      continue()
    endif()
    if(IS_SYMLINK "${dir}/${file}" OR NOT EXISTS "${dir}/${file}")
      continue()
    endif()
    file(STRINGS "${dir}/${file}" lines LIMIT_COUNT 2)
    list(LENGTH lines count)
    set(first "")
    set(second "")
    if(count GREATER 0)
      list(GET lines 0 first)
    endif()
    if(count GREATER 1)
      list(GET lines 1 second)
    endif()
    if(first MATCHES "^#!")
      set(first "${second}")
    endif()
    if(NOT first STREQUAL wanted)
      list(APPEND missing "${file}")
    endif()
  endforeach()
  set(${out} "${missing}" PARENT_SCOPE)
endfunction()

if(MODE STREQUAL "tree")
  files_without_licence("${SOURCE_DIR}" missing)
  if(missing STREQUAL "NOT-A-CHECKOUT")
    message("SKIPPED: ${SOURCE_DIR} is not a git checkout")
    return()
  endif()
  if(missing)
    string(REPLACE ";" "\n  " missing "${missing}")
    message(FATAL_ERROR "without the licence line (run tools/spdx.sh):\n  ${missing}")
  endif()
  return()
endif()

if(NOT MODE STREQUAL "script")
  message(FATAL_ERROR "licence_test.cmake needs -DMODE=tree or -DMODE=script")
endif()

# A scratch repository with each kind of file, and what each must hold after
# the script has run.
set(repo "${WORK_DIR}/licence-scratch")
file(REMOVE_RECURSE "${repo}")
file(MAKE_DIRECTORY "${repo}/tools")
get_filename_component(script_name "${SCRIPT}" NAME)
set(script "${repo}/tools/${script_name}")
set(cpp "// SPDX-License-Identifier: MIT\n")
set(hash "# SPDX-License-Identifier: MIT\n")
# The script goes in without its own licence line, whether or not the tree
# has had the lines put in: it is one of the files to fix.
file(READ "${SCRIPT}" script_text)
string(REPLACE "\n${hash}" "\n" script_text "${script_text}")
file(WRITE "${script}" "${script_text}")
string(REGEX REPLACE "^(#![^\n]*\n)" "\\1${hash}" script_after "${script_text}")
set(cases
  "src/a.cpp|#include <vector>\n|${cpp}#include <vector>\n"
  "src/b.h|${cpp}#pragma once\n|${cpp}#pragma once\n"
  "src/version.h.in|#define V \"@V@\"\n|${cpp}#define V \"@V@\"\n"
  "src/empty.h||${cpp}"
  "src/no_end.cpp|#define X 1|${cpp}#define X 1"
  "tools/run.sh|#!/usr/bin/env bash\necho hi\n|#!/usr/bin/env bash\n${hash}echo hi\n"
  "tools/plain.sh|set -e\n|${hash}set -e\n"
  "CMakeLists.txt|project(x)\n|${hash}project(x)\n"
  "src/CMakeLists.txt|add_library(a)\n|${hash}add_library(a)\n"
  "tests/t.cmake|message(x)\n|${hash}message(x)\n"
  "data/notes.txt|# notes\n|# notes\n"
  "data/x.desktop.in|Name=x\n|Name=x\n")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" case "${case}")
  list(GET case 0 path)
  list(GET case 1 before)
  file(WRITE "${repo}/${path}" "${before}")
endforeach()
file(CHMOD "${repo}/tools/run.sh" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ WORLD_READ)
file(WRITE "${repo}/untracked.cpp" "int y;\n")
execute_process(COMMAND "${GIT}" init -q "${repo}" RESULT_VARIABLE status)
execute_process(COMMAND "${GIT}" -C "${repo}" add -- . ":!untracked.cpp" RESULT_VARIABLE added)
if(NOT status EQUAL 0 OR NOT added EQUAL 0)
  message(FATAL_ERROR "cannot make a scratch repository in ${repo}")
endif()

files_without_licence("${repo}" missing)
list(SORT missing)
set(expected_missing CMakeLists.txt src/CMakeLists.txt src/a.cpp src/empty.h src/no_end.cpp
    src/version.h.in tests/t.cmake "tools/${script_name}" tools/plain.sh tools/run.sh)
list(SORT expected_missing)
if(NOT missing STREQUAL expected_missing)
  message(FATAL_ERROR "before the script the check finds ${missing}, not ${expected_missing}")
endif()

execute_process(COMMAND bash "${script}" --check RESULT_VARIABLE status OUTPUT_VARIABLE listed)
if(NOT status EQUAL 1 OR NOT listed MATCHES "src/a.cpp" OR listed MATCHES "src/b.h|notes")
  message(FATAL_ERROR "--check gave status ${status} and listed:\n${listed}")
endif()

# Twice: the second run finds nothing to do and changes nothing.
foreach(round first second)
  execute_process(COMMAND bash "${script}" RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the ${round} run gave status ${status}:\n${output}")
  endif()
  foreach(case IN LISTS cases)
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 path)
    list(LENGTH case parts)
    set(after "")
    if(parts GREATER 2)
      list(GET case 2 after)
    endif()
    file(READ "${repo}/${path}" text)
    if(NOT text STREQUAL after)
      message(FATAL_ERROR "after the ${round} run ${path} holds\n[${text}]\nnot\n[${after}]")
    endif()
  endforeach()
  file(READ "${script}" text)
  file(READ "${repo}/untracked.cpp" untracked)
  if(NOT text STREQUAL script_after OR NOT untracked STREQUAL "int y;\n")
    message(FATAL_ERROR "after the ${round} run the script or an untracked file is wrong")
  endif()
endforeach()
execute_process(COMMAND test -x "${repo}/tools/run.sh" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "tools/run.sh lost its executable bit")
endif()

# Now the check agrees, also the script's own.
files_without_licence("${repo}" missing)
execute_process(COMMAND bash "${script}" --check RESULT_VARIABLE status OUTPUT_VARIABLE listed)
if(missing OR NOT status EQUAL 0)
  message(FATAL_ERROR "after the script: missing ${missing}; --check status ${status}: ${listed}")
endif()

# Another licence is named: not touched, and said so.
file(WRITE "${repo}/src/other.cpp" "// SPDX-License-Identifier: GPL-2.0-only\nint z;\n")
execute_process(COMMAND "${GIT}" -C "${repo}" add src/other.cpp)
execute_process(COMMAND bash "${script}" RESULT_VARIABLE status ERROR_VARIABLE said)
file(READ "${repo}/src/other.cpp" text)
if(NOT status EQUAL 1 OR NOT said MATCHES "src/other.cpp" OR NOT text MATCHES "^// SPDX-License-Identifier: GPL-2.0-only\nint z;\n$")
  message(FATAL_ERROR "a file naming another licence: status ${status}, said '${said}', holds '${text}'")
endif()
file(REMOVE_RECURSE "${repo}")
