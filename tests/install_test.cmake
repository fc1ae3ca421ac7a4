# SPDX-License-Identifier: MIT
# Installs the build into a fresh prefix, checks what lands where, and starts
# the installed program once. Run with -DBUILD_DIR=... -DPREFIX=... -P.
foreach(var BUILD_DIR PREFIX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "install_test.cmake needs -D${var}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${output}")
endif()

foreach(file
    bin/snapsift
    share/applications/snapsift.desktop
    share/metainfo/io.github.snapsift.Snapsift.metainfo.xml
    share/icons/hicolor/16x16/apps/snapsift.png
    share/icons/hicolor/32x32/apps/snapsift.png
    share/icons/hicolor/scalable/apps/snapsift.svg
    share/snapsift/help/index.html
    share/man/man1/snapsift.1.gz
    share/doc/snapsift/copyright
    share/doc/snapsift/changelog.gz)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

execute_process(COMMAND "${PREFIX}/bin/snapsift" --version
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR NOT output STREQUAL "snapsift 1.0.0.1\n")
  message(FATAL_ERROR "snapsift --version gave status ${status}: ${output}${errors}")
endif()

# The desktop entry without a warning, and the metainfo as software centres
# read it (appstreamcli from the appstream package), even pedantically: the
# one note left is the capital letter in the component id, which stays because
# the id is the name under which the application is known.
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
  execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}" "${PREFIX}/share/applications/snapsift.desktop"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0 OR output MATCHES "(error|warning):")
    message(FATAL_ERROR "desktop-file-validate refused the desktop entry:\n${output}")
  endif()
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
  execute_process(COMMAND "${APPSTREAMCLI}" validate --no-net --pedantic
                          "${PREFIX}/share/metainfo/io.github.snapsift.Snapsift.metainfo.xml"
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REGEX MATCHALL "(^|\n)[EWIP]: [^\n]*" notes "${output}")
  list(FILTER notes EXCLUDE REGEX "^\n?P: [^ ]+ cid-contains-uppercase-letter ")
  if(NOT status EQUAL 0 OR notes)
    message(FATAL_ERROR "appstreamcli has notes on the metainfo:\n${output}")
  endif()
  # The launchable names the installed desktop entry; a Japanese summary and
  # description stand beside the English ones.
  file(READ "${PREFIX}/share/metainfo/io.github.snapsift.Snapsift.metainfo.xml" metainfo)
  if(NOT metainfo MATCHES "<summary xml:lang=\"ja\">[^<]+</summary>" OR NOT metainfo MATCHES "<p xml:lang=\"ja\">")
    message(FATAL_ERROR "the metainfo has no Japanese summary or description")
  endif()
  string(REGEX MATCH "<launchable type=\"desktop-id\">([^<]*)</launchable>" launchable "${metainfo}")
  if(NOT EXISTS "${PREFIX}/share/applications/${CMAKE_MATCH_1}")
    message(FATAL_ERROR "the metainfo launches '${CMAKE_MATCH_1}', which is not installed")
  endif()
endif()

# The window stays open until it is closed, so the timeout ending it (status
# 124) is success; anything else means it did not come up or crashed.
if(NOT "$ENV{QT_QPA_PLATFORM}" STREQUAL "offscreen")
  message(FATAL_ERROR "the installed program is started only with QT_QPA_PLATFORM=offscreen")
endif()
execute_process(COMMAND timeout 3 "${PREFIX}/bin/snapsift"
                WORKING_DIRECTORY "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 124)
  message(FATAL_ERROR "the installed snapsift did not keep its window open (status ${status}):\n${output}")
endif()
