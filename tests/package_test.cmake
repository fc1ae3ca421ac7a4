# SPDX-License-Identifier: MIT
# Builds the Debian package from the build folder and checks what Debian's
# tools check: the licence in the machine-readable format, the changelog and
# the manual page compressed where Debian keeps them, a Maintainer with an
# address, the manual page without a warning from man, and lintian (where it
# is installed) with nothing to say. Run with -DBUILD_DIR=... -DWORK_DIR=...
# -DCPACK=... -DVERSION=... -P.
foreach(var BUILD_DIR WORK_DIR CPACK VERSION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "package_test.cmake needs -D${var}=...")
  endif()
endforeach()
find_program(DPKG_DEB dpkg-deb)
if(NOT DPKG_DEB)
  message("SKIPPED: dpkg-deb is not installed")
  return()
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(COMMAND "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${WORK_DIR}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(GLOB debs "${WORK_DIR}/snapsift_${VERSION}_*.deb")
list(LENGTH debs count)
if(NOT status EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack made ${count} packages named snapsift_${VERSION}_*.deb (status ${status}):\n${output}")
endif()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${status}):\n${output}${errors}")
  endif()
  set(output "${output}" PARENT_SCOPE)
  set(errors "${errors}" PARENT_SCOPE)
endfunction()

run("${DPKG_DEB}" --field "${debs}" Maintainer)
if(NOT output MATCHES "^[^<>\n]+ <[^@<> ]+@[^@<> ]+\\.[a-z]+>\n$")
  message(FATAL_ERROR "the Maintainer has no contact address: ${output}")
endif()

# The walk asks the disk through io_uring: the package needs its library.
run("${DPKG_DEB}" --field "${debs}" Depends)
if(NOT output MATCHES "(^|[ ,])liburing2([ ,(]|\n|$)")
  message(FATAL_ERROR "the package does not depend on liburing2: ${output}")
endif()

set(root "${WORK_DIR}/root")
run("${DPKG_DEB}" --extract "${debs}" "${root}")
set(doc "${root}/usr/share/doc/snapsift")
set(man "${root}/usr/share/man/man1/snapsift.1.gz")
foreach(file "${doc}/copyright" "${doc}/changelog.gz" "${man}" "${root}/usr/bin/snapsift")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "not in the package: ${file}")
  endif()
endforeach()
file(STRINGS "${doc}/copyright" format LIMIT_COUNT 1)
if(NOT format STREQUAL "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/")
  message(FATAL_ERROR "the copyright file is not in the machine-readable format: ${format}")
endif()

# The newest changelog entry and the manual page's heading name this version.
run(gzip -dc "${doc}/changelog.gz")
if(NOT output MATCHES "^snapsift \\(${VERSION}\\) ")
  string(REGEX MATCH "^[^\n]*" first "${output}")
  message(FATAL_ERROR "the changelog's newest entry is not for ${VERSION}: ${first}")
endif()
run(gzip -dc "${man}")
if(NOT output MATCHES "\n\\.TH SNAPSIFT 1 [^\n]* \"snapsift ${VERSION}\"" AND NOT output MATCHES "^\\.TH SNAPSIFT 1 [^\n]* \"snapsift ${VERSION}\"")
  message(FATAL_ERROR "the manual page's heading does not name snapsift ${VERSION}")
endif()

# As lintian reads the manual page: any message from groff is a fault.
find_program(MAN man)
if(MAN)
  execute_process(COMMAND "${MAN}" --warnings -E UTF-8 -l -Tutf8 -Z "${man}"
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE errors)
  if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
    message(FATAL_ERROR "man warns about the manual page (${status}):\n${errors}")
  endif()
endif()

find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message("lintian is not installed; the package was not checked by it")
  return()
endif()
execute_process(COMMAND "${LINTIAN}" "${debs}" RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
# As root lintian adds a note of its own; it says nothing of the package.
string(REGEX REPLACE "[^\n]*running with root privileges is not recommended![^\n]*\n?" "" errors "${errors}")
if(NOT status EQUAL 0 OR NOT output STREQUAL "" OR NOT errors STREQUAL "")
  message(FATAL_ERROR "lintian on ${debs} (status ${status}):\n${output}${errors}")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
