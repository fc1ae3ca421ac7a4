# SPDX-License-Identifier: MIT
# Format: every C++ file that git tracks is as clang-format leaves it, with
# the project's .clang-format. Prints the files that are not, and how to
# mend them. Prints "SKIPPED:" where there is no clang-format or no checkout.
#
#   cmake -DSOURCE_DIR=... -P format_test.cmake

cmake_minimum_required(VERSION 3.25)

find_program(CLANG_FORMAT NAMES clang-format clang-format-14)
find_program(GIT git)
if(NOT CLANG_FORMAT)
  message("SKIPPED: clang-format is not installed (tools/setup-debian.sh installs it)")
  return()
endif()
if(NOT GIT)
  message("SKIPPED: git is not installed")
  return()
endif()
execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" ls-files -- "*.cpp" "*.h"
                RESULT_VARIABLE status OUTPUT_VARIABLE listing ERROR_QUIET)
if(NOT status EQUAL 0)
  message("SKIPPED: ${SOURCE_DIR} is not a git checkout")
  return()
endif()
string(REPLACE "\n" ";" listing "${listing}")
set(unformatted)
foreach(file IN LISTS listing)
  if(file STREQUAL "")
    continue()
  endif()
  execute_process(COMMAND "${CLANG_FORMAT}" --dry-run -Werror "${file}"
                  WORKING_DIRECTORY "${SOURCE_DIR}" RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  if(NOT result EQUAL 0)
    list(APPEND unformatted "${file}")
  endif()
endforeach()
if(unformatted)
  list(JOIN unformatted "\n  " shown)
  message(FATAL_ERROR "not as clang-format leaves them (run: clang-format -i FILE):\n  ${shown}")
endif()
list(LENGTH listing count)
message("every tracked C++ file is formatted")
